#include "detection/ReferenceSet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "analysis/LevelMeter.h"
#include "analysis/TelephoneBandDetector.h"
#include "base/Clock.h"
#include "detection/ControlLauncher.h"
#include "detection/DetectionStep.h"
#include "detection/FiringSink.h"
#include "triggers/Trigger.h"
#include "triggers/TriggerList.h"
#include "wav/WaveData.h"
#include "wav/WaveFile.h"

namespace hushwell {
namespace {

namespace fs = std::filesystem;
using Idx = std::vector<std::uint32_t>;

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;

// Writes a two-tone sound. 32-bit samples hold the same 16-bit values (integer: in the high
// half; float: divided by 32767); other widths are written as zeros.
void WriteSound(const fs::path& path, double seconds, int rate = 16000, int channels = 1,
                int bits = 16, std::uint16_t tag = kTagPcm) {
    std::vector<std::byte> data;
    auto put = [&data](auto value) {
        const auto* bytes = reinterpret_cast<const std::byte*>(&value);
        data.insert(data.end(), bytes, bytes + sizeof value);
    };
    const auto frames = static_cast<std::size_t>(std::lround(seconds * rate));
    for (std::size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        const auto s = static_cast<std::int16_t>(std::lround(
            9000 * std::sin(2 * std::numbers::pi * 440 * t) + 6000 * std::sin(6000 * t)));
        for (int c = 0; c < channels; ++c) {
            if (bits == 16) {
                put(s);
            } else if (bits == 32 && tag == kTagFloat) {
                put(static_cast<float>(s) / 32767.0f);
            } else if (bits == 32) {
                put(static_cast<std::int32_t>(static_cast<std::uint16_t>(s)) << 16);
            } else {
                data.resize(data.size() + static_cast<std::size_t>(bits / 8));
            }
        }
    }
    WaveFormat format;
    format.formatTag = tag;
    format.channels = static_cast<std::uint16_t>(channels);
    format.sampleRate = static_cast<std::uint32_t>(rate);
    format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    format.byteRate = format.sampleRate * format.blockAlign;
    format.bitsPerSample = static_cast<std::uint16_t>(bits);
    ASSERT_TRUE(WriteWaveFile(path, data, format));
}

class ReferenceSetTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "refset-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        triggers_ = root_ / "triggers";
        fs::create_directories(triggers_);
        set_.SetTriggersFolder(triggers_.string());
    }
    void TearDown() override { fs::remove_all(root_); }

    static void WriteFile(const fs::path& path, const std::string& bytes) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    void AddTrigger(const std::string& text, const char* kind = "sound") {
        Trigger t;
        t.triggerKind = kind;
        t.triggerFile = text;
        t.SetActive(true);
        list_.Add(t);
    }
    Idx Indices(int n) { return list_.GetSound(n)->referenceIndices; }
    std::string Name(std::size_t i) { return fs::path(set_.Paths().at(i)).filename(); }

    fs::path root_;
    fs::path triggers_;
    TriggerList list_;
    ReferenceSet set_;
};

TEST_F(ReferenceSetTest, OneReferencePerDistinctPathString) {
    WriteSound(triggers_ / "bell.wav", 1.0);
    WriteSound(triggers_ / "horn.wav", 0.5);
    AddTrigger("bell.wav");
    AddTrigger("horn.wav");
    AddTrigger("bell.wav");
    // Another spelling of the same folder is another path: a second analysis.
    AddTrigger((triggers_ / "." / "bell.wav").string());
    AddTrigger("07:00:00", "time");
    list_.SetBaseDir("./triggers");  // not absolute: the triggers folder stands in

    EXPECT_EQ(set_.RebuildReferences(list_), 5);
    ASSERT_EQ(set_.Size(), 3u);
    EXPECT_EQ(set_.Paths()[0], (triggers_ / "bell.wav").string());
    EXPECT_EQ(Indices(0), Idx({0}));
    EXPECT_EQ(Indices(1), Idx({1}));
    EXPECT_EQ(Indices(2), Idx({0}));
    EXPECT_EQ(Indices(3), Idx({2}));

    // An absolute base folder is used as it is.
    const fs::path other = root_ / "other";
    fs::create_directories(other);
    WriteSound(other / "bell.wav", 0.5);
    list_.SetBaseDir(other.string());
    set_.RebuildReferences(list_);
    EXPECT_EQ(set_.Paths()[0], (other / "bell.wav").string());
    EXPECT_EQ(Indices(1), Idx({}));  // no horn.wav there
}

TEST_F(ReferenceSetTest, WildcardsFoldersAndRelativePaths) {
    for (const char* name : {"tone2.wav", "tone1.wav", "tone10.wav", ".tone3.wav", "[x].wav"}) {
        WriteSound(triggers_ / name, 0.5);
    }
    fs::create_directories(triggers_ / "tone4.wav");  // a folder is no sound
    WriteFile(triggers_ / "tone5.txt", "not a sound");
    AddTrigger("tone?.wav");
    AddTrigger("tone*");
    AddTrigger("*3.wav");  // a wildcard does not match a leading "."
    AddTrigger((triggers_ / "[x]*").string());
    AddTrigger("triggers/tone1.wav");  // relative to the current folder
    AddTrigger("missing/tone1.wav");
    AddTrigger((triggers_ / "").string());  // a folder without a name matches nothing

    const fs::path before = fs::current_path();
    fs::current_path(root_);
    set_.RebuildReferences(list_);
    fs::current_path(before);

    ASSERT_EQ(set_.Size(), 5u);
    EXPECT_EQ(Name(0), "tone1.wav");
    EXPECT_EQ(Name(1), "tone2.wav");
    EXPECT_EQ(Name(2), "tone10.wav");
    EXPECT_EQ(Name(3), "[x].wav");  // brackets stand for themselves
    EXPECT_EQ(set_.Paths()[4], "triggers/tone1.wav");
    EXPECT_EQ(Indices(0), Idx({0, 1}));
    EXPECT_EQ(Indices(1), Idx({0, 2, 1}));  // name order; tone5.txt is not a WAV
    EXPECT_EQ(Indices(2), Idx({}));
    EXPECT_EQ(Indices(3), Idx({3}));
    EXPECT_EQ(Indices(4), Idx({4}));
    EXPECT_EQ(Indices(5), Idx({}));
    EXPECT_EQ(Indices(6), Idx({}));
}

TEST_F(ReferenceSetTest, TextsFromTheOtherPlatformFindTheirFiles) {
    fs::create_directories(root_ / "jingles");
    WriteSound(triggers_ / "ding.wav", 0.5);
    WriteSound(root_ / "jingles" / "dong.wav", 0.5);
    AddTrigger("ding.wav");
    AddTrigger("jingles\\dong.wav");  // relative to the current folder
    AddTrigger(".\\triggers\\ding.wav");
    AddTrigger((root_ / "jingles").string() + "\\d*.wav");
    AddTrigger("C:\\triggers\\ding.wav");  // absolute elsewhere: nothing here
    // Kept as written; neither names an absolute folder here, so the triggers folder stands in.
    for (const char* baseDir : {".\\triggers", "\\\\server\\sounds", "\\"}) {
        list_.SetBaseDir(baseDir);
        const fs::path before = fs::current_path();
        fs::current_path(root_);
        set_.RebuildReferences(list_);
        fs::current_path(before);
        EXPECT_EQ(list_.BaseDir(), baseDir);
        EXPECT_EQ(set_.EffectiveBaseFolder(), triggers_.string()) << baseDir;
        ASSERT_EQ(set_.Size(), 4u) << baseDir;
        EXPECT_EQ(set_.Paths()[1], "jingles/dong.wav");
        EXPECT_EQ(set_.Paths()[2], "./triggers/ding.wav");
        EXPECT_EQ(Indices(3), Idx({3}));
        EXPECT_EQ(Indices(4), Idx({}));
    }
}

TEST_F(ReferenceSetTest, LengthsThresholdsAndMaximumLength) {
    WriteSound(triggers_ / "a-long.wav", 10.0);
    WriteSound(triggers_ / "b-seven.wav", 7.0);
    WriteSound(triggers_ / "c-short.wav", 0.2);
    WriteSound(triggers_ / "d-second.wav", 1.0, 48000, 2);
    WriteSound(triggers_ / "e-click.wav", 0.02);  // 320 samples: less than one frame
    AddTrigger("*");
    set_.RebuildReferences(list_);
    ASSERT_EQ(set_.Size(), 5u);
    const auto& refs = set_.References();
    // 10 s are cut to 7 s: 112000 samples at 16 kHz, 218 whole frames of 512.
    EXPECT_EQ(refs[0].FrameCount(), 218u);
    EXPECT_EQ(refs[0].Features(), refs[1].Features());
    EXPECT_EQ(set_.MaxReferenceLength(), 218u * 32u);
    EXPECT_FLOAT_EQ(refs[2].MatchThreshold(), 0.98f);
    EXPECT_NEAR(refs[3].MatchThreshold(), 0.88f, 1e-6);
    EXPECT_EQ(refs[4].FrameCount(), 0u);
    EXPECT_EQ(Indices(0), Idx({0, 1, 2, 3, 4}));

    // Without active sound triggers the set is empty and the maximum back at 4096; the
    // inactive record keeps its old indices (it is never matched).
    list_.SetActive(TriggerKind::Sound, 0, false);
    EXPECT_EQ(set_.RebuildReferences(list_), 0);
    EXPECT_EQ(set_.Size(), 0u);
    EXPECT_EQ(set_.MaxReferenceLength(), 4096u);
    list_.SetActive(TriggerKind::Sound, 0, true);
    EXPECT_EQ(Indices(0).size(), 5u);
}

TEST_F(ReferenceSetTest, UnusableFilesAreSkippedAndIndicesStayAligned) {
    WriteFile(triggers_ / "a-garbage.wav", "this is not a RIFF file at all");
    WriteSound(triggers_ / "b-8khz.wav", 1.0, 8000);
    WriteSound(triggers_ / "c-24bit.wav", 1.0, 16000, 1, 24);
    WriteSound(triggers_ / "d-seven-channels.wav", 1.0, 16000, 7);
    WriteSound(triggers_ / "e-empty.wav", 0.0);
    WriteSound(triggers_ / "f-truncated.wav", 1.0);
    fs::resize_file(triggers_ / "f-truncated.wav", 16000);
    WriteSound(triggers_ / "g-good.wav", 1.0);
    AddTrigger("*.wav");
    AddTrigger("a-garbage.wav");
    set_.RebuildReferences(list_);
    ASSERT_EQ(set_.Size(), 1u);
    EXPECT_EQ(Name(0), "g-good.wav");
    EXPECT_EQ(Indices(0), Idx({0}));
    EXPECT_EQ(Indices(1), Idx({}));
}

TEST_F(ReferenceSetTest, ThirtyTwoBitSoundsMatchTheirSixteenBitOriginal) {
    WriteSound(triggers_ / "a16.wav", 1.0, 16000, 2);
    WriteSound(triggers_ / "b32int.wav", 1.0, 16000, 2, 32, kTagPcm);
    WriteSound(triggers_ / "c32float.wav", 1.0, 16000, 2, 32, kTagFloat);
    AddTrigger("*.wav");
    set_.RebuildReferences(list_);
    ASSERT_EQ(set_.Size(), 3u);
    const auto& a = set_.References()[0].Features();
    const auto& c = set_.References()[2].Features();
    ASSERT_FALSE(a.empty());
    EXPECT_EQ(set_.References()[1].Features(), a);  // high 16 bits: the same samples
    // Float samples come back within one step (rounding toward zero): nearly the same.
    ASSERT_EQ(c.size(), a.size());
    for (std::size_t i = 0; i < a.size(); ++i) {
        EXPECT_NEAR(c[i], a[i], 1e-3f * a[i] + 300.0f) << i;
    }
}

TEST_F(ReferenceSetTest, AtMostTwoThousandFilesAreAnalysed) {
    WriteSound(triggers_ / "s0000.wav", 600.0 / 16000);  // one frame each
    for (int i = 1; i < 2003; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%04d.wav", i);
        fs::copy_file(triggers_ / "s0000.wav", triggers_ / name);
    }
    AddTrigger("s0000.wav");
    AddTrigger("*.wav");
    AddTrigger("s2002.wav");
    set_.RebuildReferences(list_);

    EXPECT_EQ(set_.Size(), ReferenceSet::kMaxReferences);
    EXPECT_EQ(Name(1999), "s1999.wav");
    const Idx all = Indices(1);
    ASSERT_EQ(all.size(), 2000u);  // s0000 shared, s0001..s1999 new, the rest ignored
    for (std::uint32_t i = 0; i < all.size(); ++i) {
        ASSERT_EQ(all[i], i);
    }
    EXPECT_EQ(Indices(2), Idx({}));
}

// A step prepared from the set: the kernel's copy of the features becomes the only one.
class CountingSink final : public FiringSink, public ControlLauncher {
public:
    void OnFiring(const Firing&) override { ++firings; }
    bool StartSoundControl(const Trigger&, bool) override { return true; }
    bool StartTimeControl(const Trigger&, bool) override { return true; }
    LevelOutcome ExtendOrStartLevelControl(const Trigger&) override {
        return LevelOutcome::Started;
    }
    void PostTelephoneVerdict(int) override {}
    int firings = 0;
};

// Taken while the set is rebuilt: each reference reaches the step with its features while
// every reference before it has given them up already, and the step recognises the sound from
// its kernel, whose rarely read halves are in a file of the data folder.
TEST_F(ReferenceSetTest, ReferencesTakenDuringTheRebuildAreNeverAllHeldAndStillRecognised) {
    WriteSound(triggers_ / "a.wav", 1.0);
    WriteSound(triggers_ / "b.wav", 0.5);
    WriteSound(triggers_ / "c.wav", 2.0);
    AddTrigger("*.wav");
    ManualClock clock;
    SpectralAnalyzer live;
    LevelMeter level;
    TelephoneBandDetector telephone;
    CountingSink sink;
    DetectionStep step(list_, live, level, telephone, sink, clock, &sink);
    step.SetSpillFolder(root_.string());
    const ReferenceSet::ReferenceTaker take = step.TakeReferencesOf(set_);
    std::vector<std::size_t> taken;
    set_.RebuildReferences(list_, [&](std::size_t index, const SoundReference& reference) {
        EXPECT_FALSE(reference.Features().empty());
        for (std::size_t before = 0; before < index; ++before) {
            EXPECT_TRUE(set_.References()[before].Features().empty()) << before;
        }
        taken.push_back(index);
        take(index, reference);
    });
    EXPECT_EQ(taken, (std::vector<std::size_t>{0, 1, 2}));
    EXPECT_TRUE(set_.FeaturesReleased());
    step.PrepareReferences(set_);
    EXPECT_EQ(step.MaxReferenceLength(), set_.MaxReferenceLength());

    const fs::path played = root_ / "played.wav";
    WriteSound(played, 5.0);
    WaveData sound;
    ASSERT_EQ(ReadWaveFile(sound, played, 10.0f), kWaveOk);
    const auto samples = sound.Samples16();
    constexpr std::size_t kBlock = 160;
    step.Begin();
    for (std::size_t at = 0; at + kBlock <= samples.size(); at += kBlock) {
        WaveData block;
        block.AssignPcm16(16000, 1, static_cast<int>(kBlock), samples.subspan(at, kBlock));
        clock.AdvanceMs(10);
        step.ProcessBlock(block);
    }
    EXPECT_GT(sink.firings, 0);

    // Without a taker the set keeps its features as before.
    set_.RebuildReferences(list_);
    EXPECT_FALSE(set_.FeaturesReleased());
    EXPECT_FALSE(set_.References()[2].Features().empty());
}

TEST_F(ReferenceSetTest, APreparedStepHoldsTheOnlyCopyOfTheFeaturesUntilTheNextRebuild) {
    WriteSound(triggers_ / "a.wav", 1.0);
    WriteSound(triggers_ / "b.wav", 0.5);
    AddTrigger("*.wav");
    set_.RebuildReferences(list_);
    ASSERT_EQ(set_.Size(), 2u);
    const std::uint64_t firstRebuild = set_.Generation();
    const std::vector<float> features = set_.References()[0].Features();
    const std::size_t frames = set_.References()[0].FrameCount();
    const float threshold = set_.References()[0].MatchThreshold();

    ManualClock clock;
    SpectralAnalyzer live;
    LevelMeter level;
    TelephoneBandDetector telephone;
    CountingSink sink;
    DetectionStep step(list_, live, level, telephone, sink, clock, &sink);
    step.PrepareReferences(set_);
    step.PrepareReferences(set_);  // again from the same rebuild: the kernel keeps them
    EXPECT_TRUE(set_.FeaturesReleased());
    for (const SoundReference& reference : set_.References()) {
        EXPECT_TRUE(reference.Features().empty());
        EXPECT_TRUE(reference.FeaturesReleased());
    }
    EXPECT_EQ(set_.References()[0].FrameCount(), frames);
    EXPECT_EQ(set_.References()[0].FeatureCount(), features.size());
    EXPECT_EQ(set_.References()[0].MatchThreshold(), threshold);
    EXPECT_EQ(step.MaxReferenceLength(), set_.MaxReferenceLength());

    // The sound itself, played for 5 s, is recognised from the kernel's copy.
    const fs::path played = root_ / "played.wav";
    WriteSound(played, 5.0);
    WaveData sound;
    ASSERT_EQ(ReadWaveFile(sound, played, 10.0f), kWaveOk);
    const auto samples = sound.Samples16();
    constexpr std::size_t kBlock = 160;
    step.Begin();
    for (std::size_t at = 0; at + kBlock <= samples.size(); at += kBlock) {
        WaveData block;
        block.AssignPcm16(16000, 1, static_cast<int>(kBlock), samples.subspan(at, kBlock));
        clock.AdvanceMs(10);
        step.ProcessBlock(block);
    }
    EXPECT_GT(sink.firings, 0);

    // A rebuild brings the features back, under a new generation.
    set_.RebuildReferences(list_);
    EXPECT_NE(set_.Generation(), firstRebuild);
    EXPECT_FALSE(set_.FeaturesReleased());
    EXPECT_EQ(set_.References()[0].Features(), features);
}

}  // namespace
}  // namespace hushwell
