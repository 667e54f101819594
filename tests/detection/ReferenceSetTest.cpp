#include "detection/ReferenceSet.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

#include "triggers/CTrigger.h"
#include "triggers/CTriggerList.h"

namespace hushwell {
namespace {

namespace fs = std::filesystem;

constexpr std::uint16_t kTagPcm = 1;
constexpr std::uint16_t kTagFloat = 3;

// Sample values of a test sound: a few tones, so that every sound has energy in many bands.
double Signal(std::size_t i, int rate) {
    const double t = static_cast<double>(i) / rate;
    return 0.3 * std::sin(2 * std::numbers::pi * 440.0 * t) +
           0.2 * std::sin(2 * std::numbers::pi * 1250.0 * t) +
           0.1 * std::sin(2 * std::numbers::pi * 3100.0 * t);
}

template <typename T>
void Put(std::string& out, T value) {
    char bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    out.append(bytes, sizeof(T));
}

// A RIFF/WAVE file with a plain 16-byte fmt chunk; samples per channel = frames.
std::string WavBytes(int rate, int channels, int bits, std::uint16_t tag, std::size_t frames) {
    std::string data;
    for (std::size_t f = 0; f < frames; ++f) {
        const double v = Signal(f, rate);
        for (int c = 0; c < channels; ++c) {
            const std::int16_t s16 = static_cast<std::int16_t>(std::lround(v * 32767));
            if (bits == 16) {
                Put(data, s16);
            } else if (tag == kTagFloat) {
                Put(data, static_cast<float>(s16) / 32767.0f);
            } else if (bits == 32) {
                Put(data, static_cast<std::int32_t>(
                              static_cast<std::uint32_t>(static_cast<std::uint16_t>(s16)) << 16));
            } else {
                data.append(static_cast<std::size_t>(bits / 8), '\0');
            }
        }
    }
    std::string out = "RIFF";
    Put(out, static_cast<std::uint32_t>(36 + data.size()));
    out += "WAVEfmt ";
    Put(out, std::uint32_t{16});
    Put(out, tag);
    Put(out, static_cast<std::uint16_t>(channels));
    Put(out, static_cast<std::uint32_t>(rate));
    Put(out, static_cast<std::uint32_t>(rate * channels * bits / 8));
    Put(out, static_cast<std::uint16_t>(channels * bits / 8));
    Put(out, static_cast<std::uint16_t>(bits));
    out += "data";
    Put(out, static_cast<std::uint32_t>(data.size()));
    return out + data;
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
    // A 16-bit mono sound of the given length at rate.
    void WriteSound(const fs::path& path, double seconds, int rate = 16000, int channels = 1,
                    int bits = 16, std::uint16_t tag = kTagPcm) {
        const auto frames = static_cast<std::size_t>(std::lround(seconds * rate));
        WriteFile(path, WavBytes(rate, channels, bits, tag, frames));
    }

    // Adds an active sound trigger naming text.
    void AddSound(const std::string& text, bool active = true) {
        CTrigger t;
        t.triggerKind = "sound";
        t.name = text;
        t.triggerFile = text;
        t.SetActive(active);
        list_.Add(t);
    }
    std::vector<std::uint32_t> Indices(int n) {
        CTrigger* t = list_.GetSound(n);
        return t == nullptr ? std::vector<std::uint32_t>{} : t->referenceIndices;
    }
    using Idx = std::vector<std::uint32_t>;

    fs::path root_;
    fs::path triggers_;
    CTriggerList list_;
    ReferenceSet set_;
};

TEST_F(ReferenceSetTest, BaseFolderAndSplitting) {
    EXPECT_EQ(ReferenceSet::EffectiveBase("/data/sounds", "/app/triggers"), "/data/sounds");
    EXPECT_EQ(ReferenceSet::EffectiveBase("./triggers", "/app/triggers"), "/app/triggers");
    EXPECT_EQ(ReferenceSet::EffectiveBase("", "/app/triggers"), "/app/triggers");

    using Split = std::pair<std::string, std::string>;
    EXPECT_EQ(ReferenceSet::SplitTriggerText("bell.wav", "/base"), Split("/base/", "bell.wav"));
    EXPECT_EQ(ReferenceSet::SplitTriggerText("bell.wav", "/base/"), Split("/base/", "bell.wav"));
    EXPECT_EQ(ReferenceSet::SplitTriggerText("/a/b/c*.wav", "/base"), Split("/a/b/", "c*.wav"));
    EXPECT_EQ(ReferenceSet::SplitTriggerText("sub/x.wav", "/base"), Split("sub/", "x.wav"));
    EXPECT_EQ(ReferenceSet::SplitTriggerText("/a/dir/", "/base"), Split("/a/dir/", ""));
}

TEST_F(ReferenceSetTest, TriggersNamingOneFileShareOneReference) {
    WriteSound(triggers_ / "bell.wav", 1.0);
    WriteSound(triggers_ / "horn.wav", 0.5);
    AddSound("bell.wav");
    AddSound("horn.wav");
    AddSound("bell.wav");
    // The same file named through another spelling of its folder is a different path
    // string: a second analysis.
    AddSound((triggers_ / "." / "bell.wav").string());
    list_.SetBaseDir("./triggers");  // not absolute: the triggers folder is used

    EXPECT_EQ(set_.RebuildReferences(list_), 4);
    ASSERT_EQ(set_.Size(), 3u);
    EXPECT_EQ(set_.Paths()[0], (triggers_ / "bell.wav").string());
    EXPECT_EQ(set_.Paths()[1], (triggers_ / "horn.wav").string());
    EXPECT_EQ(Indices(0), Idx({0}));
    EXPECT_EQ(Indices(1), Idx({1}));
    EXPECT_EQ(Indices(2), Idx({0}));
    EXPECT_EQ(Indices(3), Idx({2}));
    EXPECT_EQ(set_.References()[0].Features(), set_.References()[2].Features());
    EXPECT_EQ(set_.EffectiveBaseFolder(), triggers_.string());
}

TEST_F(ReferenceSetTest, AbsoluteBaseFolderIsUsedAndTimeTriggersCount) {
    const fs::path other = root_ / "elsewhere";
    fs::create_directories(other);
    WriteSound(other / "bell.wav", 1.0);
    list_.SetBaseDir(other.string());
    AddSound("bell.wav");
    CTrigger time;
    time.triggerKind = "time";
    time.SetActive(true);
    list_.Add(time);

    EXPECT_EQ(set_.RebuildReferences(list_), 2);
    ASSERT_EQ(set_.Size(), 1u);
    EXPECT_EQ(set_.Paths()[0], (other / "bell.wav").string());
}

TEST_F(ReferenceSetTest, WildcardsAttachEveryMatchingFileInNameOrder) {
    WriteSound(triggers_ / "tone2.wav", 0.5);
    WriteSound(triggers_ / "tone1.wav", 0.5);
    WriteSound(triggers_ / "tone10.wav", 0.5);
    WriteSound(triggers_ / ".tone3.wav", 0.5);        // hidden: not matched by a wildcard
    WriteSound(triggers_ / "[x]tone.wav", 0.5);       // brackets stand for themselves
    fs::create_directories(triggers_ / "tone4.wav");  // a folder is no sound
    WriteFile(triggers_ / "tone5.txt", "not a sound");

    AddSound("tone?.wav");
    AddSound("tone*");
    AddSound("[x]*");
    AddSound("*3.wav");
    AddSound("*.mp3");
    EXPECT_EQ(set_.RebuildReferences(list_), 5);

    ASSERT_EQ(set_.Size(), 4u);
    EXPECT_EQ(fs::path(set_.Paths()[0]).filename(), "tone1.wav");
    EXPECT_EQ(fs::path(set_.Paths()[1]).filename(), "tone2.wav");
    EXPECT_EQ(fs::path(set_.Paths()[2]).filename(), "tone10.wav");
    EXPECT_EQ(fs::path(set_.Paths()[3]).filename(), "[x]tone.wav");
    EXPECT_EQ(Indices(0), Idx({0, 1}));
    EXPECT_EQ(Indices(1), Idx({0, 2, 1}));  // tone1, tone10, tone2; tone5.txt is unreadable
    EXPECT_EQ(Indices(2), Idx({3}));
    EXPECT_EQ(Indices(3), Idx({}));
    EXPECT_EQ(Indices(4), Idx({}));
}

TEST_F(ReferenceSetTest, FoldersInTheTriggerTextAndRelativePaths) {
    const fs::path sub = root_ / "sub";
    fs::create_directories(sub);
    WriteSound(sub / "a.wav", 0.5);
    WriteSound(sub / "[x].wav", 0.5);
    AddSound((sub / "*.wav").string());
    AddSound("sub/a.wav");  // relative to the current folder
    AddSound("missing/a.wav");
    AddSound((sub / "").string());  // folder only: no name, no match

    const fs::path before = fs::current_path();
    fs::current_path(root_);
    set_.RebuildReferences(list_);
    fs::current_path(before);

    ASSERT_EQ(set_.Size(), 3u);
    EXPECT_EQ(set_.Paths()[0], (sub / "[x].wav").string());
    EXPECT_EQ(set_.Paths()[1], (sub / "a.wav").string());
    EXPECT_EQ(set_.Paths()[2], "sub/a.wav");
    EXPECT_EQ(Indices(0), Idx({0, 1}));
    EXPECT_EQ(Indices(1), Idx({2}));
    EXPECT_EQ(Indices(2), Idx({}));
    EXPECT_EQ(Indices(3), Idx({}));
}

TEST_F(ReferenceSetTest, LongSoundsAreCutToSevenSeconds) {
    WriteSound(triggers_ / "long.wav", 10.0);
    WriteSound(triggers_ / "seven.wav", 7.0);
    AddSound("long.wav");
    AddSound("seven.wav");
    set_.RebuildReferences(list_);
    ASSERT_EQ(set_.Size(), 2u);
    // 7 s at 16 kHz = 112000 samples: 218 whole frames of 512 samples.
    EXPECT_EQ(set_.References()[0].FrameCount(), 218u);
    EXPECT_EQ(set_.References()[0].Features(), set_.References()[1].Features());
    EXPECT_EQ(set_.MaxReferenceLength(), 218u * 32u);
    EXPECT_NEAR(set_.References()[0].MatchThreshold(), 0.85f + 0.03f / 7.0f, 1e-6);
}

TEST_F(ReferenceSetTest, ThresholdsAndSubFrameSounds) {
    WriteSound(triggers_ / "short.wav", 0.2);
    WriteSound(triggers_ / "second.wav", 1.0, 48000, 2);
    WriteSound(triggers_ / "click.wav", 0.02);  // 320 samples: less than one frame
    AddSound("short.wav");
    AddSound("second.wav");
    AddSound("click.wav");
    set_.RebuildReferences(list_);
    ASSERT_EQ(set_.Size(), 3u);
    EXPECT_FLOAT_EQ(set_.References()[0].MatchThreshold(), 0.98f);
    EXPECT_NEAR(set_.References()[1].MatchThreshold(), 0.88f, 1e-6);
    EXPECT_EQ(set_.References()[2].FrameCount(), 0u);
    EXPECT_EQ(Indices(2), Idx({2}));
    EXPECT_EQ(set_.MaxReferenceLength(), 4096u);
}

TEST_F(ReferenceSetTest, RebuildStartsAfreshAndLeavesInactiveTriggersAlone) {
    WriteSound(triggers_ / "long.wav", 6.0);
    AddSound("long.wav");
    set_.RebuildReferences(list_);
    EXPECT_GT(set_.MaxReferenceLength(), 4096u);

    // Deactivate it: the next rebuild has no sound triggers at all.
    list_.SetActive(TriggerKind::Sound, 0, false);
    EXPECT_EQ(set_.RebuildReferences(list_), 0);
    EXPECT_EQ(set_.Size(), 0u);
    EXPECT_TRUE(set_.Paths().empty());
    EXPECT_EQ(set_.MaxReferenceLength(), 4096u);
    // The inactive record keeps its (stale) indices; it is never matched.
    list_.SetActive(TriggerKind::Sound, 0, true);
    EXPECT_EQ(Indices(0), Idx({0}));
}

TEST_F(ReferenceSetTest, UnusableFilesAreSkippedAndIndicesStayAligned) {
    WriteFile(triggers_ / "a-garbage.wav", "this is not a RIFF file at all");
    WriteSound(triggers_ / "b-8khz.wav", 1.0, 8000);
    WriteSound(triggers_ / "c-24bit.wav", 1.0, 16000, 1, 24);
    WriteSound(triggers_ / "d-seven-channels.wav", 1.0, 16000, 7);
    WriteSound(triggers_ / "e-empty.wav", 0.0);
    std::string truncated = WavBytes(16000, 1, 16, kTagPcm, 16000);
    truncated.resize(truncated.size() / 2);
    WriteFile(triggers_ / "f-truncated.wav", truncated);
    WriteSound(triggers_ / "g-good.wav", 1.0);
    AddSound("*.wav");
    AddSound("a-garbage.wav");
    AddSound("nothing-here.wav");
    set_.RebuildReferences(list_);

    ASSERT_EQ(set_.Size(), 1u);
    EXPECT_EQ(fs::path(set_.Paths()[0]).filename(), "g-good.wav");
    EXPECT_EQ(Indices(0), Idx({0}));
    EXPECT_EQ(Indices(1), Idx({}));
    EXPECT_EQ(Indices(2), Idx({}));
}

TEST_F(ReferenceSetTest, ThirtyTwoBitSoundsMatchTheirSixteenBitOriginal) {
    WriteSound(triggers_ / "a16.wav", 1.0, 16000, 2);
    WriteSound(triggers_ / "b32int.wav", 1.0, 16000, 2, 32, kTagPcm);
    WriteSound(triggers_ / "c32float.wav", 1.0, 16000, 2, 32, kTagFloat);
    AddSound("*.wav");
    set_.RebuildReferences(list_);
    ASSERT_EQ(set_.Size(), 3u);
    const auto& refs = set_.References();
    ASSERT_GT(refs[0].FrameCount(), 0u);
    // Integer samples keep their high 16 bits: the very same features. Float samples come
    // back within one step of the original (rounding toward zero), so nearly the same.
    EXPECT_EQ(refs[1].Features(), refs[0].Features());
    ASSERT_EQ(refs[2].Features().size(), refs[0].Features().size());
    for (std::size_t i = 0; i < refs[0].Features().size(); ++i) {
        const float expected = refs[0].Features()[i];
        EXPECT_NEAR(refs[2].Features()[i], expected, 1e-3f * expected + 300.0f) << i;
    }
}

TEST_F(ReferenceSetTest, AtMostTwoThousandFilesAreAnalysed) {
    // 2003 tiny sounds of one frame each.
    const std::string bytes = WavBytes(16000, 1, 16, kTagPcm, 600);
    for (int i = 0; i < 2003; ++i) {
        char name[32];
        std::snprintf(name, sizeof name, "s%04d.wav", i);
        WriteFile(triggers_ / name, bytes);
    }
    AddSound("s0000.wav");
    AddSound("*.wav");
    AddSound("s2002.wav");
    set_.RebuildReferences(list_);

    EXPECT_EQ(set_.Size(), ReferenceSet::kMaxReferences);
    EXPECT_EQ(Indices(0), Idx({0}));
    const Idx all = Indices(1);
    ASSERT_EQ(all.size(), 2000u);  // s0000 shared, s0001..s1999 new, the rest ignored
    for (std::uint32_t i = 0; i < all.size(); ++i) {
        EXPECT_EQ(all[i], i);
    }
    EXPECT_EQ(Indices(2), Idx({}));
    EXPECT_EQ(fs::path(set_.Paths().back()).filename(), "s1999.wav");
}

}  // namespace
}  // namespace hushwell
