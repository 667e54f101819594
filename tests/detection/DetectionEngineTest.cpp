#include "detection/DetectionEngine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <numbers>
#include <string>
#include <vector>

#include "audio/LoopbackCapture.h"
#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "base/Event.h"
#include "detection/ThreadEngineTimers.h"
#include "persistence/TriggerListFile.h"
#include "tests/detection/DetectionTestSupport.h"
#include "triggers/EventLog.h"
#include "triggers/Trigger.h"
#include "triggers/VolumeManager.h"
#include "wav/WaveFile.h"

namespace hushwell {
namespace {

namespace fs = std::filesystem;
using testing::Eventually;
using testing::FiringRecorder;
using testing::kGenerous;
using testing::MakeTrigger;
using testing::RecordingOpener;
using namespace std::chrono_literals;

constexpr std::uint32_t kRate = 48000;
constexpr const char* kDevice = "speakers";
// Audio is fed in steps the simulated capture keeps without loss (it holds two seconds).
constexpr std::uint64_t kFeedStepMs = 500;
constexpr std::uint64_t kPacketFrames = kRate / 100;  // one 10 ms device period

// The reference sound: four tone segments of a quarter second each, a pattern that changes
// over time, so that it matches only where it is played.
std::vector<float> ReferenceSignal() {
    const double tones[] = {600.0, 1500.0, 900.0, 2400.0};
    std::vector<float> samples;
    for (double tone : tones) {
        for (std::uint32_t i = 0; i < kRate / 4; ++i) {
            samples.push_back(
                static_cast<float>(0.5 * std::sin(2 * std::numbers::pi * tone * i / kRate)));
        }
    }
    return samples;
}

// Quiet broadband noise: audible to detection, unlike the reference.
std::vector<float> Noise(std::uint64_t ms, float amplitude = 0.05f) {
    std::vector<float> samples(ms * kRate / 1000);
    std::uint32_t state = 12345;
    for (float& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = amplitude * (static_cast<float>(state >> 8) / static_cast<float>(1u << 24) * 2 - 1);
    }
    return samples;
}

std::vector<float> Concat(std::vector<float> a, const std::vector<float>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Mono samples on every channel of a float mix format.
std::vector<std::uint8_t> ToMixBytes(const WaveFormat& format, const std::vector<float>& mono) {
    std::vector<std::uint8_t> bytes;
    for (float s : mono) {
        for (int c = 0; c < format.channels; ++c) {
            const auto* raw = reinterpret_cast<const std::uint8_t*>(&s);
            bytes.insert(bytes.end(), raw, raw + sizeof s);
        }
    }
    return bytes;
}

Trigger SoundTrigger(const std::string& name, const std::string& file, int seconds) {
    Trigger trigger = MakeTrigger("sound", name, "mute", seconds);
    trigger.triggerFile = file;
    return trigger;
}

class DetectionEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "engine-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        app_ = root_ / "Hushwell";
        fs::create_directories(app_ / "triggers");
        WriteReference("bell.wav");
    }

    void TearDown() override {
        releaseStall_.Set();
        engine_.ShutdownEngine();
        ProgramLog().SetPath("");
        fs::remove_all(root_);
    }

    void WriteReference(const std::string& name) {
        const WaveFormat format = MakeMixFormat(MixSampleType::Float32, kRate, 1);
        const std::vector<std::uint8_t> bytes = ToMixBytes(format, ReferenceSignal());
        ASSERT_TRUE(WriteWaveFile(app_ / "triggers" / name,
                                  std::as_bytes(std::span(bytes.data(), bytes.size())), format));
    }

    void SaveTriggers(const std::vector<Trigger>& triggers) {
        TriggerList list;
        for (const Trigger& trigger : triggers) {
            list.Add(trigger);
        }
        ASSERT_EQ(TriggerListFile::Save(list, TriggerListFile::PathIn(app_.string())),
                  TriggerListFile::kOk);
    }

    // Adds the output (unless the format is empty) and starts the engine on it.
    void Start(const WaveFormat& format, std::chrono::milliseconds retry = 2000ms) {
        format_ = format;
        if (format.channels > 0) {
            ASSERT_TRUE(backend_.AddDevice(kDevice, format));
        }
        volume_ = std::make_unique<VolumeManager>(backend_);
        DetectionEngine::Setup setup;
        setup.backend = &backend_;
        setup.clock = &clock_;
        setup.volume = volume_.get();
        setup.opener = &opener_;
        setup.timers = &timers_;
        setup.paths = ProgramPaths::ForDataFolder(app_.string());
        setup.firings = &firings_;
        setup.captureRetryInterval = retry;
        setup.blockHook = [this](const WaveData& block) { OnBlock(block); };
        engine_.InitEngine(std::move(setup));
    }

    void OnBlock(const WaveData& block) {
        {
            std::lock_guard lock(blocksMutex_);
            if (recordBlocks_) {
                blocks_.push_back(block);
            }
        }
        if (stall_) {
            stall_ = false;
            releaseStall_.Wait();
        }
    }

    std::uint64_t CapturedFrames() {
        std::lock_guard lock(engine_.CaptureMutex());
        LoopbackCapture* capture = engine_.CaptureObject();
        return capture != nullptr ? capture->CapturedFrames() : 0;
    }

    void Play(const std::vector<float>& mono) {
        ASSERT_TRUE(backend_.Play(kDevice, ToMixBytes(format_, mono)));
    }

    // Moves the clock on by ms in steps, each time until the capture has taken the packets and,
    // unless told otherwise, detection has run on them (so that a slow build drops nothing).
    void AdvanceAudio(std::uint64_t ms) {
        const std::uint64_t base = CapturedFrames();
        for (std::uint64_t done = 0; done < ms;) {
            const std::uint64_t step = std::min(kFeedStepMs, ms - done);
            clock_.AdvanceMs(step);
            done += step;
            const std::uint64_t expected = base + done * kRate / 1000;
            ASSERT_TRUE(Eventually([&] { return CapturedFrames() >= expected; }))
                << "capture took " << CapturedFrames() << " of " << expected << " frames";
            if (followDetection_) {
                WaitProcessed();
            }
        }
    }

    // Waits until detection has run on everything captured so far, apart from what was
    // dropped or captured while paused.
    void WaitProcessed() {
        ASSERT_TRUE(Eventually([&] {
            const auto stats = engine_.GetStats();
            const std::uint64_t skipped = (stats.droppedBlocks + stats.staleBlocks) * kPacketFrames;
            return stats.processedSamples / format_.channels + skipped >= CapturedFrames();
        }));
    }

    bool Muted() { return backend_.IsMuted(kDevice); }
    bool WaitMuted(bool muted) {
        return backend_.WaitUntil([&] { return backend_.IsMuted(kDevice) == muted; }, kGenerous);
    }

    // Lead-in long enough for matching to begin, the reference, and a short tail.
    void PlayReferenceAfterLeadIn() {
        Play(Concat(Noise(4500), ReferenceSignal()));
        AdvanceAudio(6000);
    }

    fs::path root_;
    fs::path app_;
    WaveFormat format_{};
    ManualClock clock_;
    SimulatedBackend backend_{clock_};
    std::unique_ptr<VolumeManager> volume_;
    RecordingOpener opener_;
    FiringRecorder firings_;
    std::mutex blocksMutex_;
    bool recordBlocks_ = false;
    std::vector<WaveData> blocks_;
    bool followDetection_ = true;
    std::atomic<bool> stall_{false};
    Event releaseStall_{Event::Mode::ManualReset};
    ThreadEngineTimers timers_{[this](int id) { engine_.OnEngineTimer(id); }};
    DetectionEngine engine_;
};

const WaveFormat kStereoFloat = MakeMixFormat(MixSampleType::Float32, kRate, 2);

TEST_F(DetectionEngineTest, ReferencePlayedIntoTheOutputMutesItForTheTriggersDuration) {
    SaveTriggers({SoundTrigger("bell", "bell.wav", 2)});
    Start(kStereoFloat);
    ASSERT_TRUE(engine_.IsCapturing());
    ASSERT_EQ(engine_.References().Size(), 1u);

    PlayReferenceAfterLeadIn();
    ASSERT_TRUE(WaitMuted(true));
    ASSERT_EQ(firings_.Firings().size(), 1u);
    EXPECT_EQ(firings_.Firings()[0].triggerName, "bell");

    // Two seconds later on the clock the control is undone.
    AdvanceAudio(2500);
    EXPECT_TRUE(WaitMuted(false));
    EXPECT_EQ(firings_.Firings().size(), 1u);
}

TEST_F(DetectionEngineTest, PauseUndoesControlsAndResumeMakesEveryTriggerEligibleAtOnce) {
    SaveTriggers({SoundTrigger("bell", "bell.wav", 60)});
    Start(kStereoFloat);
    PlayReferenceAfterLeadIn();
    ASSERT_TRUE(WaitMuted(true));
    ASSERT_EQ(firings_.Firings().size(), 1u);

    engine_.Pause();
    EXPECT_EQ(engine_.State(), DetectionEngine::RunState::Paused);
    EXPECT_FALSE(engine_.IsDetectionRunning());
    EXPECT_TRUE(WaitMuted(false));

    // Nothing fires while paused, and what played then is not detected after resuming.
    const std::uint64_t processedBeforePause = engine_.GetStats().processedBlocks;
    Play(Concat(Noise(4500), ReferenceSignal()));
    followDetection_ = false;
    AdvanceAudio(6000);
    followDetection_ = true;
    engine_.Resume();
    EXPECT_EQ(engine_.State(), DetectionEngine::RunState::Running);
    EXPECT_EQ(engine_.GetStats().processedBlocks, processedBeforePause);
    EXPECT_GT(engine_.GetStats().staleBlocks, 0u);
    EXPECT_FALSE(Muted());
    EXPECT_EQ(firings_.Firings().size(), 1u);

    // The first firing's 60-second hold-off was cleared: the trigger fires again at once.
    Play(Concat(Noise(4500), ReferenceSignal()));
    AdvanceAudio(6000);
    EXPECT_TRUE(WaitMuted(true));
    EXPECT_EQ(firings_.Firings().size(), 2u);
}

TEST_F(DetectionEngineTest, FivePointOneOutputDeliversNothingToDetection) {
    Trigger anySound = MakeTrigger("level", "any sound", "mute", 5);
    anySound.level = 0;
    SaveTriggers({SoundTrigger("bell", "bell.wav", 2), anySound});
    Start(MakeMixFormat(MixSampleType::Float32, kRate, 6));
    ASSERT_TRUE(engine_.IsCapturing());
    followDetection_ = false;

    Play(Concat(Noise(4500, 0.5f), ReferenceSignal()));
    AdvanceAudio(6000);
    const std::uint64_t packets = CapturedFrames() / kPacketFrames;
    ASSERT_TRUE(Eventually([&] { return engine_.GetStats().discardedPackets >= packets; }));

    const DetectionEngine::Stats stats = engine_.GetStats();
    EXPECT_EQ(stats.processedBlocks, 0u);
    EXPECT_EQ(stats.queuedBlocks, 0u);
    EXPECT_EQ(firings_.Firings().size(), 0u);
    EXPECT_FALSE(Muted());
}

TEST_F(DetectionEngineTest, StalledDetectionThreadStopsQueueingAt257Blocks) {
    Start(kStereoFloat);
    stall_ = true;
    followDetection_ = false;
    Play(Noise(4000));
    // One packet first, which the thread takes alone and stalls on.
    AdvanceAudio(10);
    ASSERT_TRUE(Eventually([&] { return !stall_; }));
    AdvanceAudio(3990);
    const std::uint64_t packets = CapturedFrames() / kPacketFrames;
    ASSERT_GT(packets, DetectionEngine::kMaxQueuedBlocks + 1);

    // One block is held by the stalled thread, 257 wait, the rest are dropped.
    ASSERT_TRUE(Eventually([&] {
        const auto stats = engine_.GetStats();
        return stats.droppedBlocks + stats.queuedBlocks + 1 == packets;
    }));
    EXPECT_EQ(engine_.GetStats().queuedBlocks, DetectionEngine::kMaxQueuedBlocks);

    // Released, the thread works through the queue and takes new audio again.
    releaseStall_.Set();
    ASSERT_TRUE(Eventually([&] {
        return engine_.GetStats().processedBlocks == DetectionEngine::kMaxQueuedBlocks + 1;
    }));
    const std::uint64_t dropped = engine_.GetStats().droppedBlocks;
    Play(Noise(500));
    AdvanceAudio(500);
    EXPECT_TRUE(Eventually([&] {
        return engine_.GetStats().processedBlocks == DetectionEngine::kMaxQueuedBlocks + 51;
    }));
    EXPECT_EQ(engine_.GetStats().droppedBlocks, dropped);
}

TEST_F(DetectionEngineTest, AudioReachesDetectionWhileTheUserInterfaceHoldsTheCaptureLock) {
    Start(kStereoFloat);
    // The sound editor works with the capture object under the capture lock; detection goes on.
    std::lock_guard editor(engine_.CaptureMutex());
    const std::uint64_t before = engine_.GetStats().processedBlocks;
    Play(Noise(1000));
    AdvanceAudio(1000);
    EXPECT_EQ(engine_.GetStats().processedBlocks, before + 100);
}

// Packets handed to the queue directly, without an output (capture keeps retrying meanwhile).
class PacketConversionTest : public DetectionEngineTest {
protected:
    void SetUp() override {
        DetectionEngineTest::SetUp();
        recordBlocks_ = true;
        Start(WaveFormat{});
    }

    // Queues one packet; returns the block detection received, or an empty one when the
    // packet was discarded.
    WaveData Convert(const WaveFormat& format, const std::vector<std::uint8_t>& payload) {
        const auto before = engine_.GetStats();
        {
            std::lock_guard lock(engine_.CaptureMutex());
            engine_.EnqueueCaptureBlock(
                CaptureBlock::CopyOf(payload.data(), static_cast<std::uint32_t>(payload.size())),
                format);
        }
        EXPECT_TRUE(Eventually([&] {
            const auto now = engine_.GetStats();
            return now.processedBlocks > before.processedBlocks ||
                   now.discardedPackets > before.discardedPackets;
        }));
        std::lock_guard lock(blocksMutex_);
        if (engine_.GetStats().processedBlocks == before.processedBlocks) {
            return WaveData();
        }
        return blocks_.back();
    }

    template <typename T>
    static std::vector<std::uint8_t> Bytes(const std::vector<T>& values) {
        std::vector<std::uint8_t> bytes(values.size() * sizeof(T));
        std::memcpy(bytes.data(), values.data(), bytes.size());
        return bytes;
    }
};

TEST_F(PacketConversionTest, SixteenBitAndFloatPacketsBecome16BitBlocks) {
    const std::vector<std::int16_t> pcm = {1, -2, 32767, -32768, 100, -100};
    WaveData plain = Convert(MakeMixFormat(MixSampleType::Pcm16, 44100, 2), Bytes(pcm));
    EXPECT_EQ(plain.Format().sampleRate, 44100u);
    EXPECT_EQ(std::vector<std::int16_t>(plain.Samples16().begin(), plain.Samples16().end()), pcm);

    // Float samples are scaled by 32767, rounded, and saturate instead of wrapping.
    const std::vector<float> floats = {0.5f, -0.5f, 1.0f, -1.0f, 1.5f, -2.0f};
    WaveData scaled = Convert(MakeMixFormat(MixSampleType::Float32, 48000, 1), Bytes(floats));
    EXPECT_EQ(std::vector<std::int16_t>(scaled.Samples16().begin(), scaled.Samples16().end()),
              (std::vector<std::int16_t>{16384, -16383, 32767, -32766, 32767, -32768}));

    // The extensible tag with a float sub-format is taken alike.
    WaveFormat extensibleFloat = MakeMixFormat(MixSampleType::Float32, 48000, 2);
    extensibleFloat.formatTag = kWaveTagExtensible;
    extensibleFloat.cbSize = kWaveFormatExtensionSize;
    extensibleFloat.subFormat = kSubFormatIeeeFloat;
    EXPECT_EQ(Convert(extensibleFloat, Bytes(floats)).SampleCount(), 6);

    // Digital silence gives zeros of the same length and format.
    WaveData silent =
        Convert(MakeMixFormat(MixSampleType::Float32, 44100, 2), Bytes(std::vector<float>(8)));
    EXPECT_EQ(silent.Format().sampleRate, 44100u);
    EXPECT_EQ(std::vector<std::int16_t>(silent.Samples16().begin(), silent.Samples16().end()),
              std::vector<std::int16_t>(8, 0));

    // A trailing partial frame is left out.
    std::vector<std::uint8_t> ragged = Bytes(pcm);
    ragged.push_back(7);
    EXPECT_EQ(Convert(MakeMixFormat(MixSampleType::Pcm16, 48000, 2), ragged).SampleCount(), 6);
}

TEST_F(PacketConversionTest, PacketsDetectionCannotTakeAreDiscarded) {
    const std::vector<float> floats(12, 0.25f);
    // An extensible record without its extension.
    WaveFormat shortExtension = MakeMixFormat(MixSampleType::Float32, 48000, 2);
    shortExtension.formatTag = kWaveTagExtensible;
    shortExtension.cbSize = 0;
    shortExtension.subFormat = kSubFormatIeeeFloat;
    EXPECT_EQ(Convert(shortExtension, Bytes(floats)).SampleCount(), 0);
    // Integer samples other than 16 bits, and a packet shorter than one frame.
    WaveFormat pcm32 = MakeMixFormat(MixSampleType::Pcm16, 48000, 2);
    pcm32.bitsPerSample = 32;
    pcm32.blockAlign = 8;
    EXPECT_EQ(Convert(pcm32, Bytes(floats)).SampleCount(), 0);
    EXPECT_EQ(Convert(MakeMixFormat(MixSampleType::Float32, 48000, 2), {1, 2, 3}).SampleCount(), 0);
    EXPECT_EQ(engine_.GetStats().processedBlocks, 0u);
}

TEST_F(DetectionEngineTest, CaptureStartsWhenAnOutputAppearsAndComesBackAfterLosingIt) {
    const fs::path log = app_ / std::string(EventLog::kFileName);
    ProgramLog().SetPath(log.string());
    // No output at start: start-up does not wait for capture, the runner keeps trying.
    Start(WaveFormat{}, 50ms);
    EXPECT_FALSE(engine_.IsCapturing());
    ASSERT_TRUE(Eventually([&] { return engine_.GetStats().captureFailures >= 3; }));

    format_ = kStereoFloat;
    ASSERT_TRUE(backend_.AddDevice(kDevice, format_));
    ASSERT_TRUE(Eventually([&] { return engine_.IsCapturing(); }));

    // The only output goes away: following it fails and capture ends; it comes back with it.
    ASSERT_TRUE(backend_.RemoveDevice(kDevice));
    ASSERT_TRUE(Eventually([&] { return !engine_.IsCapturing(); }));
    const std::uint64_t failures = engine_.GetStats().captureFailures;
    ASSERT_TRUE(Eventually([&] { return engine_.GetStats().captureFailures >= failures + 3; }));
    ASSERT_TRUE(backend_.AddDevice(kDevice, format_));
    ASSERT_TRUE(Eventually([&] { return engine_.IsCapturing(); }));
    EXPECT_EQ(engine_.GetStats().captureSessions, 2u);

    // Audio of the new session reaches detection.
    const std::uint64_t before = engine_.GetStats().processedBlocks;
    followDetection_ = false;
    Play(Noise(1000));
    AdvanceAudio(1000);
    EXPECT_TRUE(Eventually([&] { return engine_.GetStats().processedBlocks >= before + 100; }));

    // One log line each time capture stopped working, however often it was retried, and one
    // each time it ran again.
    std::ifstream in(log);
    std::string line;
    int stopped = 0;
    int resumed = 0;
    while (std::getline(in, line)) {
        stopped += line.find("Capture is not running") != std::string::npos;
        resumed += line.find("Capture is running again.") != std::string::npos;
    }
    EXPECT_EQ(stopped, 2);
    EXPECT_EQ(resumed, 2);
}

TEST_F(DetectionEngineTest, ATriggerListThatCannotBeReadIsLoggedWithItsReason) {
    const fs::path log = app_ / std::string(EventLog::kFileName);
    ProgramLog().SetPath(log.string());
    const fs::path list = TriggerListFile::PathIn(app_.string());
    fs::create_directory(list);
    Start(kStereoFloat);
    EXPECT_EQ(engine_.Triggers().CountSound(), 0);
    std::ifstream in(log);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_NE(text.find(",The trigger list " + list.string() +
                        " is a folder; no triggers were loaded from it.\n"),
              std::string::npos)
        << text;
}

TEST_F(DetectionEngineTest, RebuildWithAReplacementListRestartsDetectionUnlessPaused) {
    Start(kStereoFloat);
    EXPECT_EQ(engine_.References().Size(), 0u);

    TriggerList edited;
    edited.Add(SoundTrigger("bell", "bell.wav", 2));
    engine_.RebuildReferences(&edited);
    EXPECT_EQ(engine_.Triggers().CountSound(), 1);
    EXPECT_EQ(engine_.References().Size(), 1u);
    EXPECT_TRUE(engine_.IsDetectionRunning());

    engine_.Pause();
    edited.Add(SoundTrigger("bell again", "*.wav", 2));
    engine_.RebuildReferences(&edited);
    EXPECT_EQ(engine_.Triggers().CountSound(), 2);
    EXPECT_EQ(engine_.References().Size(), 1u);
    EXPECT_FALSE(engine_.IsDetectionRunning());
    EXPECT_EQ(engine_.State(), DetectionEngine::RunState::Paused);

    // Timers of other ids, and every timer once shut down, change nothing.
    engine_.OnEngineTimer(4);
    engine_.ShutdownEngine();
    engine_.OnEngineTimer(DetectionEngine::kRunnerTimerId);
    engine_.Resume();
    EXPECT_FALSE(engine_.IsDetectionRunning());
}

}  // namespace
}  // namespace hushwell
