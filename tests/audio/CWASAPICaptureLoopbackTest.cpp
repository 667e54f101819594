#include "audio/CWASAPICaptureLoopback.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "audio/Clock.h"
#include "audio/MixFormat.h"
#include "audio/SimulatedBackend.h"
#include "tests/audio/CaptureTestSupport.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;
using test::CaptureOwner;
using test::CounterBytes;
using test::SpyBackend;
using test::WaitFor;

constexpr std::uint64_t kStepMs = 1000;  // well inside what a simulated stream keeps

std::uint64_t FramesIn(std::uint64_t ms, const WaveFormat& format) {
    return ms * format.sampleRate / 1000;
}

// The simulated sound system with the capture owner running on it.
class CaptureTest : public ::testing::Test {
protected:
    void AddDevice(const std::string& id, const WaveFormat& format) {
        ASSERT_TRUE(sim_.AddDevice(id, format));
    }

    void StartCapture() {
        owner_ = std::make_unique<CaptureOwner>(spy_);
        ASSERT_TRUE(owner_->WaitStarted());
    }

    template <typename F>
    auto With(F f) {
        return owner_->With([&](CWASAPICaptureLoopback* capture) {
            EXPECT_NE(capture, nullptr);
            return f(*capture);
        });
    }

    std::uint64_t Captured() {
        return owner_->With([](CWASAPICaptureLoopback* c) { return c ? c->CapturedFrames() : 0; });
    }

    // Moves the clock on by `ms`, a step at a time, and waits until the capture thread has
    // taken each step's packets; `afterStep` runs after every step.
    template <typename F>
    void Advance(std::uint64_t ms, F afterStep) {
        const WaveFormat format = With([](CWASAPICaptureLoopback& c) { return c.MixFormat(); });
        for (std::uint64_t done = 0; done < ms;) {
            const std::uint64_t step = std::min(kStepMs, ms - done);
            const std::uint64_t before = Captured();
            clock_.AdvanceMs(step);
            ASSERT_TRUE(WaitFor([&] { return Captured() >= before + FramesIn(step, format); }));
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
        ASSERT_TRUE(WaitFor([&] {
            return With([&](CWASAPICaptureLoopback& c) {
                return !c.IsSwitching() && c.EndpointId() == id;
            });
        }));
    }

    // Pops the whole feed, checking each block's length field, and returns the payloads.
    std::vector<std::uint8_t> DrainFeed(std::vector<std::uint32_t>* sizes = nullptr) {
        return With([&](CWASAPICaptureLoopback& c) {
            std::vector<std::uint8_t> all;
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

    std::vector<std::uint8_t> Snapshot() {
        return With([](CWASAPICaptureLoopback& c) {
            const auto buffer = c.SnapshotBuffer();
            const std::size_t bytes =
                static_cast<std::size_t>(c.SnapshotFrameCount()) * c.FrameSize();
            return std::vector<std::uint8_t>(buffer.begin(), buffer.begin() + bytes);
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

TEST_P(CaptureFormatTest, EveryPacketReachesFeedAndHistoryUnchangedInTheMixFormat) {
    const WaveFormat format = GetParam().format;
    AddDevice("out", format);
    StartCapture();
    const std::vector<std::uint8_t> played = CounterBytes(format, 0, FramesIn(500, format));
    sim_.Play("out", played);
    Advance(500);

    EXPECT_EQ(With([](CWASAPICaptureLoopback& c) { return c.FrameSize(); }), format.blockAlign);
    EXPECT_EQ(With([](CWASAPICaptureLoopback& c) { return c.HistoryBytes(); }), played.size());
    std::vector<std::uint32_t> sizes;
    EXPECT_EQ(DrainFeed(&sizes), played);
    for (std::uint32_t size : sizes) {
        EXPECT_EQ(size, FramesIn(10, format) * format.blockAlign);  // one 10 ms packet each
    }
    EXPECT_TRUE(With([](CWASAPICaptureLoopback& c) { return c.DetectSampleType(); }));
    EXPECT_EQ(With([](CWASAPICaptureLoopback& c) { return c.SampleType(); }),
              GetParam().sampleType);
}

INSTANTIATE_TEST_SUITE_P(
    MixFormats, CaptureFormatTest,
    ::testing::Values(FormatCase{"Pcm16Mono16k", MakeMixFormat(MixSampleType::Pcm16, 16000, 1),
                                 CWASAPICaptureLoopback::kSampleTypePcm16},
                      FormatCase{"Pcm16Stereo44k", MakeMixFormat(MixSampleType::Pcm16, 44100, 2),
                                 CWASAPICaptureLoopback::kSampleTypePcm16},
                      FormatCase{"Pcm16Six32k", MakeMixFormat(MixSampleType::Pcm16, 32000, 6),
                                 CWASAPICaptureLoopback::kSampleTypePcm16},
                      FormatCase{"FloatStereo48k", MakeMixFormat(MixSampleType::Float32, 48000, 2),
                                 CWASAPICaptureLoopback::kSampleTypeFloat32},
                      FormatCase{"FloatSix96k", MakeMixFormat(MixSampleType::Float32, 96000, 6),
                                 CWASAPICaptureLoopback::kSampleTypeFloat32}),
    [](const ::testing::TestParamInfo<FormatCase>& info) { return info.param.name; });

TEST_F(CaptureTest, SilentPacketsBecomeZerosOfTheFullPacketSize) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Float32, 48000, 2);
    AddDevice("out", format);
    StartCapture();
    Advance(100);
    std::vector<std::uint32_t> sizes;
    const std::vector<std::uint8_t> feed = DrainFeed(&sizes);
    EXPECT_EQ(sizes, std::vector<std::uint32_t>(10, 480 * 8));
    EXPECT_EQ(feed, std::vector<std::uint8_t>(feed.size(), 0));
}

TEST_F(CaptureTest, UndrainedFeedAndHistoryKeepTheNewestFortySeconds) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, 16000, 1);
    AddDevice("out", format);
    StartCapture();
    const std::uint64_t cap = With([](CWASAPICaptureLoopback& c) { return c.HistoryCap(); });
    ASSERT_EQ(cap, 16000u * 2 * 40);
    sim_.Play("out", CounterBytes(format, 0, FramesIn(45000, format)));
    Advance(45000, [&] {
        EXPECT_LE(With([](CWASAPICaptureLoopback& c) { return c.FeedBytes(); }), cap);
        EXPECT_LE(With([](CWASAPICaptureLoopback& c) { return c.HistoryBytes(); }), cap);
    });

    EXPECT_EQ(With([](CWASAPICaptureLoopback& c) { return c.FeedBytes(); }), cap);
    EXPECT_EQ(DrainFeed(), CounterBytes(format, FramesIn(5000, format), FramesIn(40000, format)));
    // Popping an empty feed gives nothing and leaves everything as it is.
    With([&](CWASAPICaptureLoopback& c) {
        EXPECT_FALSE(c.PopFeedBlock());
        EXPECT_EQ(c.FeedBytes(), 0u);
        EXPECT_EQ(c.FeedBlockCount(), 0u);
        EXPECT_EQ(c.HistoryBytes(), cap);
        return 0;
    });
}

// ---- following the default output

TEST_F(CaptureTest, SwitchToSameFormatKeepsTheQueues) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, 16000, 2);
    AddDevice("a", format);
    AddDevice("b", format);
    StartCapture();
    sim_.Play("a", CounterBytes(format, 0, FramesIn(1000, format)));
    Advance(1000);
    sim_.SetDefaultDevice("b");
    WaitSwitched("b");
    sim_.Play("b", CounterBytes(format, FramesIn(1000, format), FramesIn(1000, format)));
    Advance(1000);

    EXPECT_EQ(DrainFeed(), CounterBytes(format, 0, FramesIn(2000, format)));
    EXPECT_EQ(With([](CWASAPICaptureLoopback& c) { return c.HistoryBytes(); }),
              FramesIn(2000, format) * format.blockAlign);
    EXPECT_EQ(spy_.activations, 2);
}

TEST_F(CaptureTest, SwitchToAnotherChannelCountContinuesInTheNewFormat) {
    const WaveFormat stereo = MakeMixFormat(MixSampleType::Float32, 48000, 2);
    const WaveFormat six = MakeMixFormat(MixSampleType::Pcm16, 16000, 6);
    AddDevice("a", stereo);
    AddDevice("b", six);
    StartCapture();
    Advance(1000);
    sim_.SetDefaultDevice("b");
    WaitSwitched("b");
    const std::vector<std::uint8_t> played = CounterBytes(six, 0, FramesIn(300, six));
    sim_.Play("b", played);
    Advance(300);

    With([&](CWASAPICaptureLoopback& c) {
        EXPECT_EQ(c.FrameSize(), 12u);
        EXPECT_EQ(c.MixFormat(), six);
        // Only audio in the current format is left to be read with it.
        EXPECT_EQ(c.HistoryBytes(), played.size());
        return 0;
    });
    WaveFormat blockFormat;
    With([&](CWASAPICaptureLoopback& c) { return c.PopFeedBlock(blockFormat); });
    EXPECT_EQ(blockFormat, six);
    EXPECT_EQ(DrainFeed().size(), played.size() - FramesIn(10, six) * six.blockAlign);
}

TEST_F(CaptureTest, RemovedDefaultIsReplacedByTheRemainingOutput) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Float32, 48000, 2);
    AddDevice("a", format);
    AddDevice("b", format);
    StartCapture();
    Advance(200);
    sim_.RemoveDevice("a");
    WaitSwitched("b");
    const std::vector<std::uint8_t> played = CounterBytes(format, 0, FramesIn(200, format));
    DrainFeed();
    sim_.Play("b", played);
    Advance(200);
    EXPECT_EQ(DrainFeed(), played);
}

TEST_F(CaptureTest, NotificationsForOtherFlowsRolesAndReasonsChangeNothing) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, 48000, 2);
    AddDevice("a", format);
    AddDevice("b", format);
    StartCapture();
    sim_.NotifyDefaultDeviceChanged(DataFlow::Capture, Role::Console, "b");
    sim_.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Multimedia, "b");
    sim_.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Communications, "b");
    sim_.DisconnectSessions("a", DisconnectReason::ServerShutdown);
    sim_.DisconnectSessions("a", DisconnectReason::SessionLogoff);
    ASSERT_TRUE(sim_.WaitForNotifications());
    Advance(200);
    With([](CWASAPICaptureLoopback& c) {
        EXPECT_FALSE(c.IsSwitching());
        EXPECT_EQ(c.EndpointId(), "a");
        return 0;
    });
    EXPECT_EQ(spy_.activations, 1);
}

TEST_F(CaptureTest, LaterRemovalWithoutNewDefaultReopensOnTheDefaultThatRemains) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, 48000, 2);
    AddDevice("a", format);
    AddDevice("b", format);
    StartCapture();
    sim_.SetDefaultDevice("b");
    WaitSwitched("b");
    // The second switch waits for a new default that never comes, then takes "b" again.
    sim_.DisconnectSessions("b", DisconnectReason::DeviceRemoval);
    ASSERT_TRUE(sim_.WaitForNotifications());
    ASSERT_TRUE(WaitFor([&] { return spy_.activations == 3; }));
    WaitSwitched("b");
    DrainFeed();
    const std::vector<std::uint8_t> played = CounterBytes(format, 0, FramesIn(100, format));
    sim_.Play("b", played);
    Advance(100);
    EXPECT_EQ(DrainFeed(), played);
}

TEST_F(CaptureTest, SwitchTriesAgainWhenTheServerNamesTheDefaultOnceMore) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, 48000, 2);
    AddDevice("a", format);
    AddDevice("b", format);
    StartCapture();
    // The server first names a default that cannot be opened, then names "b" again.
    spy_.afterFailedDefault = [&] {
        sim_.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Console, "b");
    };
    spy_.failDefaults = 1;
    sim_.SetDefaultDevice("b");
    WaitSwitched("b");
    EXPECT_EQ(owner_->End(), CaptureSessionEnd::Refused);  // still capturing
    const std::vector<std::uint8_t> played = CounterBytes(format, 0, FramesIn(100, format));
    DrainFeed();
    sim_.Play("b", played);
    Advance(100);
    EXPECT_EQ(DrainFeed(), played);
}

TEST_F(CaptureTest, SwitchToUnacceptableFormatEndsCaptureAndEmptiesTheSlot) {
    const WaveFormat format = MakeMixFormat(MixSampleType::Float32, 48000, 2);
    AddDevice("a", format);
    AddDevice("b", format);
    spy_.OverrideMixFormat("b", MakeMixFormat(MixSampleType::Float32, 48000, 8));
    StartCapture();
    Advance(100);
    sim_.SetDefaultDevice("b");
    ASSERT_TRUE(owner_->WaitEnded());
    EXPECT_EQ(owner_->End(), CaptureSessionEnd::CaptureEnded);
    EXPECT_EQ(owner_->With([](CWASAPICaptureLoopback* c) { return c; }), nullptr);
}

TEST_F(CaptureTest, NoDefaultOutputEndsTheSessionAtOnce) {
    owner_ = std::make_unique<CaptureOwner>(spy_);
    EXPECT_FALSE(owner_->WaitStarted());
    EXPECT_EQ(owner_->End(), CaptureSessionEnd::NoEndpoint);
}

TEST_F(CaptureTest, StopEndsCaptureAndClearsTheSlot) {
    AddDevice("a", MakeMixFormat(MixSampleType::Pcm16, 48000, 2));
    StartCapture();
    Advance(100);
    EXPECT_EQ(owner_->Stop(), CaptureSessionEnd::Stopped);
    EXPECT_EQ(owner_->With([](CWASAPICaptureLoopback* c) { return c; }), nullptr);
}

// ---- the snapshot handshake

class SnapshotTest : public CaptureTest {
protected:
    void SetUp() override {
        AddDevice("out", format_);
        StartCapture();
        sim_.Play("out", CounterBytes(format_, 0, FramesIn(70000, format_)));
    }
    const WaveFormat format_ = MakeMixFormat(MixSampleType::Pcm16, 16000, 1);
};

TEST_F(SnapshotTest, StopRightAfterRecordCopiesTheWholeHistory) {
    Advance(45000);
    With([](CWASAPICaptureLoopback& c) {
        c.SetSnapshotReady(true);
        c.SetHold(true);
        EXPECT_FALSE(c.IsSnapshotReady());
        EXPECT_EQ(c.SnapshotFrameCount(), 0u);
        return 0;
    });
    Advance(200);
    With([](CWASAPICaptureLoopback& c) {
        c.RequestSnapshot(true);
        return 0;
    });
    ASSERT_TRUE(WaitFor([&] { return With([](auto& c) { return c.IsSnapshotReady(); }); }));

    // The 40 s before the record command and the 0.2 s after it, oldest first.
    EXPECT_EQ(Snapshot(), CounterBytes(format_, FramesIn(5000, format_), FramesIn(40200, format_)));
    With([&](CWASAPICaptureLoopback& c) {
        EXPECT_FALSE(c.IsHolding());
        EXPECT_FALSE(c.IsSnapshotRequested());
        EXPECT_EQ(c.SnapshotFormat(), format_);
        return 0;
    });
    // With hold gone the history is trimmed back to 40 s.
    Advance(10);
    EXPECT_EQ(With([](CWASAPICaptureLoopback& c) { return c.HistoryBytes(); }),
              With([](CWASAPICaptureLoopback& c) { return c.HistoryCap(); }));
}

TEST_F(SnapshotTest, LongHoldEndsInAForcedSnapshotOfTheOldestSixtySeconds) {
    Advance(41000);
    With([](CWASAPICaptureLoopback& c) {
        c.SetHold(true);
        return 0;
    });
    bool forced = false;
    Advance(25000, [&] {
        if (!forced && With([](CWASAPICaptureLoopback& c) { return c.IsSnapshotReady(); })) {
            forced = true;
            EXPECT_GE(clock_.TickMs(), 1000000u + 41000 + 20000);  // not before 60 s were held
        }
    });
    ASSERT_TRUE(forced);
    EXPECT_EQ(Snapshot(), CounterBytes(format_, FramesIn(1000, format_), FramesIn(60000, format_)));
    With([](CWASAPICaptureLoopback& c) {
        EXPECT_FALSE(c.IsHolding());
        EXPECT_LE(c.HistoryBytes(), c.HistoryCap());
        return 0;
    });
}

TEST_F(SnapshotTest, RequestWithoutHoldCopiesTheCurrentHistoryEvenWithNoNewPacket) {
    Advance(2000);
    With([](CWASAPICaptureLoopback& c) {
        c.RequestSnapshot(true);
        return 0;
    });
    ASSERT_TRUE(WaitFor([&] { return With([](auto& c) { return c.IsSnapshotReady(); }); }));
    EXPECT_EQ(Snapshot(), CounterBytes(format_, 0, FramesIn(2000, format_)));
    // A new request clears the published result until the next copy.
    With([](CWASAPICaptureLoopback& c) {
        c.SetHold(true);
        EXPECT_FALSE(c.IsSnapshotReady());
        EXPECT_EQ(c.SnapshotFrameCount(), 0u);
        return 0;
    });
}

}  // namespace
}  // namespace hushwell
