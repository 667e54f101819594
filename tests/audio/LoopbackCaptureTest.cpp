#include "audio/LoopbackCapture.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "tests/audio/CaptureTestSupport.h"
#include "wav/SampleConversion.h"

namespace hushwell {
namespace {

using test::CaptureOwner;
using test::CounterBytes;
using test::SpyBackend;
using testing::Eventually;
using Capture = LoopbackCapture;
using Bytes = std::vector<std::uint8_t>;

constexpr std::uint64_t kStepMs = 1000;  // well inside what a simulated stream keeps

std::uint64_t FramesIn(std::uint64_t ms, const WaveFormat& format) {
    return ms * format.sampleRate / 1000;
}

// The simulated sound system with the capture owner running on it.
class CaptureTest : public ::testing::Test {
protected:
    void StartCapture(std::initializer_list<const char*> ids, const WaveFormat& format,
                      std::function<void(Capture&)> onFeed = {}) {
        for (const char* id : ids) {
            ASSERT_TRUE(sim_.AddDevice(id, format));
        }
        owner_ = std::make_unique<CaptureOwner>(spy_, std::move(onFeed));
        ASSERT_TRUE(owner_->WaitStarted());
    }

    template <typename F>
    auto With(F f) {
        return owner_->With([&](Capture* capture) {
            EXPECT_NE(capture, nullptr);
            return f(*capture);
        });
    }
    template <typename R>
    R Get(R (Capture::*getter)() const) {
        return With([&](Capture& c) { return (c.*getter)(); });
    }
    std::uint64_t Captured() {
        return owner_->With([](Capture* c) { return c ? c->CapturedFrames() : 0; });
    }

    // Moves the clock on by `ms`, a step at a time, and waits until the capture thread has
    // taken each step's packets; `afterStep` runs after every step.
    template <typename F>
    void Advance(std::uint64_t ms, F afterStep) {
        const WaveFormat format = Get(&Capture::MixFormat);
        for (std::uint64_t done = 0; done < ms;) {
            const std::uint64_t step = std::min(kStepMs, ms - done);
            const std::uint64_t before = Captured();
            clock_.AdvanceMs(step);
            ASSERT_TRUE(Eventually([&] { return Captured() >= before + FramesIn(step, format); }));
            done += step;
            afterStep();
        }
    }
    void Advance(std::uint64_t ms) {
        Advance(ms, [] {});
    }

    // Waits until a switch asked for by the notifications so far has been made.
    void WaitSwitched(const std::string& id) {
        ASSERT_TRUE(sim_.WaitForNotifications());
        ASSERT_TRUE(Eventually([&] {
            return With([&](Capture& c) { return !c.IsSwitching() && c.EndpointId() == id; });
        }));
    }

    // Pops the whole feed, checking each block's length field, and returns the payloads.
    Bytes DrainFeed(std::vector<std::uint32_t>* sizes = nullptr) {
        return With([&](Capture& c) {
            Bytes all;
            while (CaptureBlock block = c.PopFeedBlock()) {
                EXPECT_EQ(block.TotalSize(), CaptureBlock::kHeaderSize + block.PayloadSize());
                all.insert(all.end(), block.Payload(), block.Payload() + block.PayloadSize());
                if (sizes != nullptr) {
                    sizes->push_back(block.PayloadSize());
                }
            }
            return all;
        });
    }

    // After whatever came before, audio played into `id` now reaches the feed whole.
    void ExpectCapturesWhatPlays(const std::string& id) {
        const WaveFormat format = Get(&Capture::MixFormat);
        const Bytes played = CounterBytes(format, 0, FramesIn(100, format));
        DrainFeed();
        sim_.Play(id, played);
        Advance(100);
        EXPECT_EQ(DrainFeed(), played);
    }

    Bytes Snapshot() {
        return With([](Capture& c) {
            const auto buffer = c.SnapshotBuffer();
            return Bytes(buffer.begin(),
                         buffer.begin() + c.SnapshotFrameCount() * c.HistoryFrameSize());
        });
    }

    ManualClock clock_;
    SimulatedBackend sim_{clock_};
    SpyBackend spy_{sim_};
    std::unique_ptr<CaptureOwner> owner_;  // last: stopped before the backends go
};

// ---- capture of every mix format

struct FormatCase {
    const char* name;
    WaveFormat format;
    int sampleType;
};

class CaptureFormatTest : public CaptureTest, public ::testing::WithParamInterface<FormatCase> {};

TEST_P(CaptureFormatTest, EveryPacketReachesFeedAndHistoryUnchangedAndSilenceAsZeros) {
    const WaveFormat format = GetParam().format;
    StartCapture({"out"}, format);
    Bytes played = CounterBytes(format, 0, FramesIn(500, format));
    sim_.Play("out", played);
    Advance(600);

    played.resize(FramesIn(600, format) * format.blockAlign, 0);  // then 100 ms of silence
    EXPECT_EQ(Get(&Capture::FrameSize), format.blockAlign);
    // The history keeps 16-bit samples of every mix.
    EXPECT_EQ(Get(&Capture::HistoryFrameSize), 2u * format.channels);
    EXPECT_EQ(Get(&Capture::HistoryBytes), played.size() * 16 / format.bitsPerSample);
    std::vector<std::uint32_t> sizes;
    EXPECT_EQ(DrainFeed(&sizes), played);
    // One block per 10 ms packet, silent ones included.
    EXPECT_EQ(sizes, std::vector<std::uint32_t>(60, FramesIn(10, format) * format.blockAlign));
    EXPECT_TRUE(With([](Capture& c) { return c.DetectSampleType(); }));
    EXPECT_EQ(Get(&Capture::SampleType), GetParam().sampleType);
}

INSTANTIATE_TEST_SUITE_P(
    MixFormats, CaptureFormatTest,
    ::testing::Values(FormatCase{"Pcm16Mono16k", MakeMixFormat(MixSampleType::Pcm16, 16000, 1),
                                 Capture::kSampleTypePcm16},
                      FormatCase{"Pcm16Stereo44k", MakeMixFormat(MixSampleType::Pcm16, 44100, 2),
                                 Capture::kSampleTypePcm16},
                      FormatCase{"Pcm16Six32k", MakeMixFormat(MixSampleType::Pcm16, 32000, 6),
                                 Capture::kSampleTypePcm16},
                      FormatCase{"FloatStereo48k", MakeMixFormat(MixSampleType::Float32, 48000, 2),
                                 Capture::kSampleTypeFloat32},
                      FormatCase{"FloatSix96k", MakeMixFormat(MixSampleType::Float32, 96000, 6),
                                 Capture::kSampleTypeFloat32}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

TEST_F(CaptureTest, UndrainedFeedAndHistoryKeepTheNewestFortySeconds) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, 16000, 1);
    StartCapture({"out"}, format);
    const std::uint64_t cap = Get(&Capture::HistoryCap);
    ASSERT_EQ(cap, 16000u * 2 * 40);
    sim_.Play("out", CounterBytes(format, 0, FramesIn(45000, format)));
    Advance(45000, [&] {
        EXPECT_LE(Get(&Capture::FeedBytes), cap);
        EXPECT_LE(Get(&Capture::HistoryBytes), cap);
    });

    EXPECT_EQ(Get(&Capture::FeedBytes), cap);
    EXPECT_EQ(DrainFeed(), CounterBytes(format, FramesIn(5000, format), FramesIn(40000, format)));
    EXPECT_EQ(Get(&Capture::FeedBytes), 0u);
    EXPECT_EQ(Get(&Capture::HistoryBytes), cap);  // popping the feed leaves the history
}

// ---- the event-driven capture thread

TEST_F(CaptureTest, EachDeliveryReachesTheFeedListenerOnceWithEveryPacketExactlyOnce) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, 48000, 2);
    std::mutex mutex;
    Bytes received;
    std::vector<int> blocksPerCall;
    StartCapture({"out"}, format, [&](Capture& capture) {
        std::lock_guard lock(mutex);
        int blocks = 0;
        while (CaptureBlock block = capture.PopFeedBlock()) {
            received.insert(received.end(), block.Payload(), block.Payload() + block.PayloadSize());
            ++blocks;
        }
        blocksPerCall.push_back(blocks);
    });
    const Bytes played = CounterBytes(format, 0, FramesIn(3000, format));
    sim_.Play("out", played);
    const auto receivedSize = [&] {
        std::lock_guard lock(mutex);
        return received.size();
    };
    const std::size_t packetBytes = FramesIn(10, format) * format.blockAlign;
    // Steps that end inside a packet, on its edge, and many packets on.
    std::uint64_t elapsed = 0;
    for (const std::uint64_t step : {5, 5, 500, 3, 7, 1000, 480, 1000}) {
        std::size_t callsBefore = 0;
        {
            std::lock_guard lock(mutex);
            callsBefore = blocksPerCall.size();
        }
        clock_.AdvanceMs(step);
        sim_.Pump();
        elapsed += step;
        ASSERT_TRUE(Eventually([&] { return receivedSize() == elapsed / 10 * packetBytes; }));
        if (step == 500) {
            // Fifty packets that arrived together: one wake-up, one call.
            std::lock_guard lock(mutex);
            EXPECT_EQ(std::vector<int>(blocksPerCall.begin() + callsBefore, blocksPerCall.end()),
                      std::vector<int>{50});
        }
    }
    std::lock_guard lock(mutex);
    EXPECT_EQ(received, played);
    // The listener hears of deliveries only: never a call without packets.
    for (int blocks : blocksPerCall) {
        EXPECT_GT(blocks, 0);
    }
}

TEST_F(CaptureTest, WithNoPacketsComingASwitchAndAStopStillEndPromptly) {
    StartCapture({"a", "b"}, MakeMixFormat(MixSampleType::Float32, 48000, 2));
    // The clock stands still: the capture thread sleeps, and only the events wake it.
    sim_.SetDefaultDevice("b");
    WaitSwitched("b");
    With([](Capture& c) { c.RequestSnapshot(true); });
    ASSERT_TRUE(Eventually([&] { return !Get(&Capture::IsSnapshotRequested); }));
    EXPECT_EQ(Get(&Capture::CapturedFrames), 0u);
    EXPECT_EQ(owner_->Stop(), CaptureSessionEnd::Stopped);
}

// ---- following the default output

TEST_F(CaptureTest, SwitchToSameFormatKeepsTheQueues) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, 16000, 2);
    StartCapture({"a", "b"}, format);
    sim_.Play("a", CounterBytes(format, 0, FramesIn(1000, format)));
    Advance(1000);
    sim_.SetDefaultDevice("b");
    WaitSwitched("b");
    sim_.Play("b", CounterBytes(format, FramesIn(1000, format), FramesIn(1000, format)));
    Advance(1000);

    EXPECT_EQ(DrainFeed(), CounterBytes(format, 0, FramesIn(2000, format)));
    EXPECT_EQ(Get(&Capture::HistoryBytes), FramesIn(2000, format) * format.blockAlign);
    EXPECT_EQ(spy_.activations, 2);
}

TEST_F(CaptureTest, SwitchToAnotherChannelCountContinuesInTheNewFormat) {
    const WaveFormat six = MakeMixFormat(MixSampleType::Pcm16, 16000, 6);
    StartCapture({"a"}, MakeMixFormat(MixSampleType::Float32, 48000, 2));
    ASSERT_TRUE(sim_.AddDevice("b", six));
    Advance(1000);
    sim_.SetDefaultDevice("b");
    WaitSwitched("b");
    const Bytes played = CounterBytes(six, 0, FramesIn(300, six));
    sim_.Play("b", played);
    Advance(300);

    EXPECT_EQ(Get(&Capture::MixFormat), six);
    EXPECT_EQ(Get(&Capture::FrameSize), 12u);
    // Only audio in the current format is left to be read with it.
    EXPECT_EQ(Get(&Capture::HistoryBytes), played.size());
    WaveFormat blockFormat;
    With([&](Capture& c) { return c.PopFeedBlock(blockFormat); });
    EXPECT_EQ(blockFormat, six);
    EXPECT_EQ(DrainFeed().size(), played.size() - FramesIn(10, six) * six.blockAlign);
}

TEST_F(CaptureTest, NotificationsForOtherFlowsRolesAndReasonsChangeNothing) {
    StartCapture({"a", "b"}, MakeMixFormat(MixSampleType::Pcm16, 48000, 2));
    sim_.NotifyDefaultDeviceChanged(DataFlow::Capture, Role::Console, "b");
    sim_.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Multimedia, "b");
    sim_.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Communications, "b");
    sim_.DisconnectSessions("a", DisconnectReason::ServerShutdown);
    sim_.DisconnectSessions("a", DisconnectReason::SessionLogoff);
    ASSERT_TRUE(sim_.WaitForNotifications());
    Advance(200);
    EXPECT_FALSE(Get(&Capture::IsSwitching));
    EXPECT_EQ(Get(&Capture::EndpointId), "a");
    EXPECT_EQ(spy_.activations, 1);
}

TEST_F(CaptureTest, DefaultOutputIsFollowedThroughFailedOpensAndRemovals) {
    StartCapture({"a", "b"}, MakeMixFormat(MixSampleType::Pcm16, 48000, 2));
    // The server first names a default that cannot be opened, then names "b" again.
    spy_.afterFailedDefault = [&] {
        sim_.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Console, "b");
    };
    spy_.failDefaults = 1;
    sim_.SetDefaultDevice("b");
    WaitSwitched("b");
    EXPECT_EQ(owner_->End(), CaptureSessionEnd::Refused);  // still capturing
    ExpectCapturesWhatPlays("b");

    // A removal without a new default: the switch waits for one that never comes, then takes
    // the default that remains.
    sim_.DisconnectSessions("b", DisconnectReason::DeviceRemoval);
    ASSERT_TRUE(sim_.WaitForNotifications());
    ASSERT_TRUE(Eventually([&] { return spy_.activations == 3; }));
    WaitSwitched("b");
    ExpectCapturesWhatPlays("b");

    // The removed default is replaced by the remaining output.
    sim_.RemoveDevice("b");
    WaitSwitched("a");
    ExpectCapturesWhatPlays("a");
}

// ---- how a session ends

TEST_F(CaptureTest, SwitchToUnacceptableFormatEndsCaptureAndEmptiesTheSlot) {
    spy_.OverrideMixFormat("b", MakeMixFormat(MixSampleType::Float32, 48000, 8));
    StartCapture({"a", "b"}, MakeMixFormat(MixSampleType::Float32, 48000, 2));
    Advance(100);
    sim_.SetDefaultDevice("b");
    ASSERT_TRUE(owner_->WaitEnded());
    EXPECT_EQ(owner_->End(), CaptureSessionEnd::CaptureEnded);
    EXPECT_EQ(owner_->With([](Capture* c) { return c; }), nullptr);
}

TEST_F(CaptureTest, StopEndsCaptureAndClearsTheSlotAndNoOutputEndsAtOnce) {
    StartCapture({"a"}, MakeMixFormat(MixSampleType::Pcm16, 48000, 2));
    Advance(100);
    EXPECT_EQ(owner_->Stop(), CaptureSessionEnd::Stopped);
    EXPECT_EQ(owner_->With([](Capture* c) { return c; }), nullptr);

    sim_.RemoveDevice("a");
    owner_ = std::make_unique<CaptureOwner>(spy_);
    EXPECT_FALSE(owner_->WaitStarted());
    EXPECT_EQ(owner_->End(), CaptureSessionEnd::NoEndpoint);
}

// ---- the snapshot handshake

class SnapshotTest : public CaptureTest {
protected:
    void SetUp() override {
        StartCapture({"out"}, format_);
        sim_.Play("out", CounterBytes(format_, 0, FramesIn(70000, format_)));
    }
    void AwaitSnapshot() {
        ASSERT_TRUE(Eventually([&] { return Get(&Capture::IsSnapshotReady); }));
    }
    const WaveFormat format_ = MakeMixFormat(MixSampleType::Pcm16, 16000, 1);
};

TEST_F(SnapshotTest, StopRightAfterRecordCopiesTheWholeHistory) {
    Advance(45000);
    With([](Capture& c) {
        c.SetSnapshotReady(true);
        c.SetHold(true);
        EXPECT_FALSE(c.IsSnapshotReady());  // a new hold clears the published result
        EXPECT_EQ(c.SnapshotFrameCount(), 0u);
    });
    Advance(200);
    With([](Capture& c) { c.RequestSnapshot(true); });
    AwaitSnapshot();

    // The 40 s before the record command and the 0.2 s after it, oldest first.
    EXPECT_EQ(Snapshot(), CounterBytes(format_, FramesIn(5000, format_), FramesIn(40200, format_)));
    EXPECT_FALSE(Get(&Capture::IsHolding));
    EXPECT_FALSE(Get(&Capture::IsSnapshotRequested));
    EXPECT_EQ(Get(&Capture::SnapshotFormat), format_);
    // With hold gone the history is trimmed back to 40 s.
    Advance(10);
    EXPECT_EQ(Get(&Capture::HistoryBytes), Get(&Capture::HistoryCap));
}

TEST_F(CaptureTest, FloatMixIsKeptAsTheSixteenBitSamplesARecordingSavesAndFedUnchanged) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Float32, 48000, 2);
    StartCapture({"out"}, format);
    // Values around rounding boundaries, beyond full scale and not numbers at all.
    const std::vector<float> values{0.0f,         0.5f,          -0.5f,         1.0f,
                                    -1.0f,        1.5f,          -1.5f,         1e-5f,
                                    -1e-5f,       0.5f / 32767,  -0.5f / 32767, 1.5f / 32767,
                                    2.5f / 32767, std::nanf(""), -1.6f / 32767, 0.123456f};
    std::vector<float> samples;
    while (samples.size() < FramesIn(100, format) * 2) {
        samples.insert(samples.end(), values.begin(), values.end());
    }
    samples.resize(FramesIn(100, format) * 2);
    Bytes played(samples.size() * sizeof(float));
    std::memcpy(played.data(), samples.data(), played.size());
    sim_.Play("out", played);
    Advance(100);
    EXPECT_EQ(DrainFeed(), played);
    // Then signed zeros, which the server does not flag as silence.
    std::vector<float> zeros(FramesIn(100, format) * 2, -0.0f);
    for (std::size_t i = 0; i < zeros.size(); i += 3) {
        zeros[i] = 0.0f;
    }
    Bytes zeroBytes(zeros.size() * sizeof(float));
    std::memcpy(zeroBytes.data(), zeros.data(), zeroBytes.size());
    sim_.Play("out", zeroBytes);
    Advance(100);
    samples.insert(samples.end(), zeros.begin(), zeros.end());

    EXPECT_EQ(Get(&Capture::HistoryFormat), MakeMixFormat(MixSampleType::Pcm16, 48000, 2));
    EXPECT_EQ(Get(&Capture::HistoryCap), 48000u * 4 * 40);
    With([](Capture& c) { c.RequestSnapshot(true); });
    ASSERT_TRUE(Eventually([&] { return Get(&Capture::IsSnapshotReady); }));
    EXPECT_EQ(Get(&Capture::SnapshotFormat), MakeMixFormat(MixSampleType::Pcm16, 48000, 2));
    const Bytes snapshot = Snapshot();
    ASSERT_EQ(snapshot.size(), samples.size() * sizeof(std::int16_t));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        std::int16_t kept = 0;
        std::memcpy(&kept, snapshot.data() + i * sizeof kept, sizeof kept);
        ASSERT_EQ(kept, ScaledFloatToPcm16(samples[i] * 32767.0f)) << "sample " << i;
    }
}

TEST_F(SnapshotTest, LongHoldEndsInAForcedSnapshotOfTheOldestSixtySeconds) {
    Advance(41000);
    With([](Capture& c) { c.SetHold(true); });
    bool forced = false;
    Advance(25000, [&] {
        if (!forced && Get(&Capture::IsSnapshotReady)) {
            forced = true;
            EXPECT_GE(clock_.TickMs(), 1000000u + 41000 + 20000);  // not before 60 s were held
        }
    });
    ASSERT_TRUE(forced);
    EXPECT_EQ(Snapshot(), CounterBytes(format_, FramesIn(1000, format_), FramesIn(60000, format_)));
    EXPECT_FALSE(Get(&Capture::IsHolding));
    EXPECT_LE(Get(&Capture::HistoryBytes), Get(&Capture::HistoryCap));
}

TEST_F(SnapshotTest, RequestWithoutHoldCopiesTheCurrentHistoryEvenWithNoNewPacket) {
    Advance(2000);
    With([](Capture& c) { c.RequestSnapshot(true); });
    AwaitSnapshot();
    EXPECT_EQ(Snapshot(), CounterBytes(format_, 0, FramesIn(2000, format_)));
}

}  // namespace
}  // namespace hushwell
