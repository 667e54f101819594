// The capture page's recording without a window: the poll answers through record, stop and a
// snapshot that never comes; the snapshot's conversion; the record-and-save bookkeeping; the
// elapsed clock; the names of recordings.
#include "ui/RecordingSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <vector>

#include "audio/LoopbackCapture.h"
#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "tests/audio/CaptureTestSupport.h"
#include "tests/support/Eventually.h"
#include "tests/support/TempFolder.h"

namespace hushwell {
namespace {

using testing::Eventually;
using Step = RecordingSession::Step;

constexpr const char* kDevice = "out";
constexpr std::uint32_t kRate = 48000;

// A session on a running loopback capture of the simulated sound system.
class RecordingSessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.AddDevice(kDevice, MakeMixFormat(mixType_, kRate, 2)));
        owner_ = std::make_unique<test::CaptureOwner>(sim_);
        ASSERT_TRUE(owner_->WaitStarted());
        session_.SetCaptureAccess([this](const std::function<void(LoopbackCapture*)>& use) {
            owner_->With([&](LoopbackCapture* capture) {
                use(captureGone_ ? nullptr : capture);
                return 0;
            });
        });
    }
    void TearDown() override { owner_.reset(); }

    template <typename F>
    auto WithCapture(F f) {
        return owner_->With([&](LoopbackCapture* capture) { return f(*capture); });
    }
    // Moves the clock on by half a second at a time until the capture has taken that audio.
    void AdvanceAudio(int halfSeconds) {
        for (int i = 0; i < halfSeconds; ++i) {
            const std::uint64_t before =
                WithCapture([](LoopbackCapture& c) { return c.CapturedFrames(); });
            clock_.AdvanceMs(500);
            ASSERT_TRUE(Eventually([&] {
                return WithCapture([](LoopbackCapture& c) { return c.CapturedFrames(); }) >=
                       before + kRate / 2;
            }));
        }
    }

    ManualClock clock_;
    SimulatedBackend sim_{clock_};
    std::unique_ptr<test::CaptureOwner> owner_;
    bool captureGone_ = false;
    RecordingSession session_{clock_};
    MixSampleType mixType_ = MixSampleType::Pcm16;
};

class FloatRecordingSessionTest : public RecordingSessionTest {
protected:
    void SetUp() override {
        mixType_ = MixSampleType::Float32;
        RecordingSessionTest::SetUp();
    }
};

// The capture keeps a float mix as 16-bit samples; the recording must be the sound the float
// samples themselves convert to, clipping and rounding included.
TEST_F(FloatRecordingSessionTest, ARecordingOfAFloatMixIsTheSoundItsFloatSamplesMake) {
    std::vector<float> samples(kRate * 2);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = 1.3f * std::sin(static_cast<float>(i) * 0.01f) + (i % 7 == 0 ? 1e-5f : 0.0f);
    }
    std::vector<std::uint8_t> played(samples.size() * sizeof(float));
    std::memcpy(played.data(), samples.data(), played.size());
    ASSERT_TRUE(sim_.Play(kDevice, played));
    AdvanceAudio(3);
    session_.Start();
    ASSERT_TRUE(session_.Stop());
    ASSERT_TRUE(Eventually(
        [&] { return WithCapture([](LoopbackCapture& c) { return c.IsSnapshotReady(); }); }));
    RecordingSession::Next next = session_.Poll();
    ASSERT_EQ(next.step, Step::SnapshotReady);
    ASSERT_TRUE(next.snapshot.usable);
    EXPECT_TRUE(next.snapshot.pcm16);
    ASSERT_GE(next.snapshot.frames, kRate);

    RecordingSession::Snapshot asFloat = next.snapshot;
    asFloat.pcm16 = false;
    asFloat.format = MakeMixFormat(MixSampleType::Float32, kRate, 2);
    asFloat.bytes = played;
    asFloat.bytes.resize(std::size_t{next.snapshot.frames} * 2 * sizeof(float), 0);
    const std::shared_ptr<WaveData> recorded = RecordingSession::Convert(next.snapshot);
    const std::shared_ptr<WaveData> expected = RecordingSession::Convert(asFloat);
    ASSERT_NE(recorded, nullptr);
    ASSERT_NE(expected, nullptr);
    EXPECT_EQ(recorded->Format(), expected->Format());
    EXPECT_TRUE(std::ranges::equal(recorded->Samples16(), expected->Samples16()));
    session_.Finish();
}

TEST_F(RecordingSessionTest, ARecordingHoldsTheHistoryAndItsStopBringsTheSnapshot) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, kRate, 2);
    ASSERT_TRUE(sim_.Play(kDevice, test::CounterBytes(format, 0, kRate)));
    AdvanceAudio(2);
    session_.Start();
    EXPECT_TRUE(session_.IsRecording());
    EXPECT_FALSE(session_.IsStopping());
    EXPECT_TRUE(WithCapture([](LoopbackCapture& c) { return c.IsHolding(); }));

    // While recording, nothing has come yet: the owner polls again later.
    const RecordingSession::Next recording = session_.Poll();
    EXPECT_EQ(recording.step, Step::PollLater);
    EXPECT_EQ(recording.delayMs, RecordingSession::kRecordingPollMs);

    ASSERT_TRUE(session_.Stop());
    EXPECT_TRUE(session_.IsStopping());
    ASSERT_TRUE(Eventually(
        [&] { return WithCapture([](LoopbackCapture& c) { return c.IsSnapshotReady(); }); }));
    RecordingSession::Next next = session_.Poll();
    ASSERT_EQ(next.step, Step::SnapshotReady);
    EXPECT_TRUE(next.snapshot.usable);
    EXPECT_TRUE(next.snapshot.pcm16);
    EXPECT_EQ(next.snapshot.format.channels, 2);
    EXPECT_EQ(next.snapshot.bytes.size(), std::size_t{next.snapshot.frames} * 4);

    // Converting keeps the session busy until the owner finishes it.
    session_.MarkConverting();
    EXPECT_TRUE(session_.IsStopping());
    const std::shared_ptr<WaveData> sound = RecordingSession::Convert(next.snapshot);
    ASSERT_NE(sound, nullptr);
    EXPECT_EQ(sound->SampleCount(), static_cast<int>(next.snapshot.frames) * 2);
    session_.Finish();
    EXPECT_FALSE(session_.IsRecording());
    EXPECT_FALSE(session_.IsStopping());
    EXPECT_EQ(session_.Poll().step, Step::Idle);
}

// A capture that goes away during the wait (the engine stopped): the tries run out one poll
// at a time, and the last answer ends the recording with the old sound.
TEST_F(RecordingSessionTest, AStopWhoseSnapshotNeverComesGivesUpAfterItsTries) {
    session_.Start();
    ASSERT_TRUE(session_.Stop());
    captureGone_ = true;
    for (int i = 1; i < RecordingSession::kStopWaitTries; ++i) {
        const RecordingSession::Next next = session_.Poll();
        ASSERT_EQ(next.step, Step::PollLater) << "poll " << i;
        ASSERT_EQ(next.delayMs, RecordingSession::kStopWaitMs);
    }
    EXPECT_EQ(session_.Poll().step, Step::GaveUp);
    EXPECT_FALSE(session_.IsStopping());
}

TEST(RecordingSessionNoCaptureTest, WithoutCaptureAStopEndsAtOnceAndPollingEnds) {
    ManualClock clock;
    RecordingSession session(clock);
    session.Start();
    EXPECT_TRUE(session.IsRecording());
    EXPECT_EQ(session.Poll().step, Step::Idle);
    EXPECT_FALSE(session.Stop());
    EXPECT_FALSE(session.IsStopping());
}

TEST(RecordingSessionNoCaptureTest, ConversionScalesFloatAndRefusesUnusableSnapshots) {
    RecordingSession::Snapshot snapshot;
    snapshot.usable = true;
    snapshot.format.channels = 1;
    snapshot.format.sampleRate = kRate;
    snapshot.format.bitsPerSample = 32;
    const std::vector<float> samples{0.5f, -1.0f, 2.0f};
    snapshot.frames = static_cast<std::uint32_t>(samples.size());
    snapshot.bytes.resize(samples.size() * sizeof(float));
    std::memcpy(snapshot.bytes.data(), samples.data(), snapshot.bytes.size());
    const std::shared_ptr<WaveData> sound = RecordingSession::Convert(snapshot);
    ASSERT_NE(sound, nullptr);
    ASSERT_EQ(sound->SampleCount(), 3);
    EXPECT_EQ(sound->Samples16()[0], 16384);
    EXPECT_EQ(sound->Samples16()[1], -32766);  // plus 0.5, toward zero
    EXPECT_EQ(sound->Samples16()[2], 32767);   // saturated, not wrapped

    RecordingSession::Snapshot empty = snapshot;
    empty.frames = 0;
    EXPECT_EQ(RecordingSession::Convert(empty), nullptr);
    snapshot.usable = false;
    EXPECT_EQ(RecordingSession::Convert(snapshot), nullptr);
}

TEST(RecordingSessionNoCaptureTest, RecordAndSaveWaitsTMinusPAndRemembersItsSettings) {
    ManualClock clock;
    RecordingSession session(clock);
    EXPECT_EQ(session.BeginRecordAndSave({4, 5, 2}), 1010);
    EXPECT_EQ(session.BeginRecordAndSave({6, 5, 2}), 10);  // never a negative wait
    session.NoteNewSound();
    EXPECT_TRUE(session.RecordedNew());
    EXPECT_EQ(session.BeginRecordAndSave({2, 9, 1}), 7010);
    EXPECT_FALSE(session.RecordedNew());  // each record-and-save waits for its own sound
    EXPECT_EQ(session.RecordAndSaveSettings().preRecordingSec, 2);
    EXPECT_EQ(session.RecordAndSaveSettings().triggerSoundSec, 9);

    session.SaveAfterStop();
    EXPECT_TRUE(session.IsSaveAfterStop());
    EXPECT_TRUE(session.TakeSaveAfterStop());
    EXPECT_FALSE(session.TakeSaveAfterStop());

    // The window of a 10-second sound: the 9 seconds that start 2 seconds before its end,
    // cut to the sound.
    auto sound = std::make_shared<WaveData>();
    sound->AssignPcm16(static_cast<int>(kRate), 1, static_cast<int>(10 * kRate),
                       std::vector<std::int16_t>(10 * kRate));
    const std::optional<TimeWindow> window = session.WindowOf(*sound);
    ASSERT_TRUE(window.has_value());
    EXPECT_FLOAT_EQ(window->start, 8.0f);
    EXPECT_FLOAT_EQ(window->end, 10.0f);
}

TEST(RecordingSessionNoCaptureTest, TheElapsedClockCountsFromTheStartAndWrapsAtAHundredHours) {
    EXPECT_EQ(RecordingSession::ClockText(0), "00:00:00");
    EXPECT_EQ(RecordingSession::ClockText(3723999), "01:02:03");
    EXPECT_EQ(RecordingSession::ClockText((100 * 3600 + 1) * 1000ULL), "00:00:01");
    ManualClock clock;
    RecordingSession session(clock);
    clock.AdvanceMs(5000);
    session.Start();
    clock.AdvanceMs(61500);
    EXPECT_EQ(session.ElapsedText(), "00:01:01");
}

TEST(RecordingSessionNoCaptureTest, ASecondRecordingInTheSameSecondGetsTheNextFreeName) {
    testing::TempFolder temp;
    const std::filesystem::path folder(temp.Path());
    const ManualClock clock(1000000, LocalTime{2026, 12, 5, 14, 3, 9, 6});
    const std::filesystem::path first = RecordingSession::RecordingPath(folder, 2, clock);
    EXPECT_EQ(first.parent_path(), folder);
    EXPECT_EQ(first.extension(), ".wav");
    std::ofstream(first).put('x');
    const std::filesystem::path second = RecordingSession::RecordingPath(folder, 2, clock);
    EXPECT_EQ(second.filename().string(), first.stem().string() + "_2.wav");
    std::ofstream(second).put('x');
    EXPECT_EQ(RecordingSession::RecordingPath(folder, 2, clock).filename().string(),
              first.stem().string() + "_3.wav");
}

}  // namespace
}  // namespace hushwell
