#include "audio/DefaultOutputFollower.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/CaptureClient.h"
#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "tests/support/Eventually.h"

namespace hushwell {
namespace {

using testing::Eventually;

constexpr std::int64_t kBufferDuration100ns = 100 * kHundredNsPerMs;

// A loopback stream that records what the follower asks of it. The test thread plays the
// stream's thread: it calls SwitchToDefaultEndpoint once a switch is pending.
class RecordingStream final : public FollowedStream {
public:
    bool AcceptSwitchFormat(const WaveFormat& format) override {
        std::lock_guard lock(mutex_);
        offeredFormats.push_back(format);
        if (format.channels != acceptedChannels) {
            return false;
        }
        format_ = format;
        return true;
    }
    bool ConfigureStream(AudioClient& client) override {
        std::unique_ptr<CaptureClient> capture;
        if (!Succeeded(client.Initialize(kStreamFlagLoopback, kBufferDuration100ns, format_)) ||
            !Succeeded(client.GetCaptureClient(capture))) {
            return false;
        }
        std::lock_guard lock(mutex_);
        capture_ = std::move(capture);
        ++configured;
        return true;
    }
    void ReleaseStreamService() override {
        std::lock_guard lock(mutex_);
        if (capture_) {
            ++released;
        }
        capture_.reset();
    }
    bool HasService() {
        std::lock_guard lock(mutex_);
        return capture_ != nullptr;
    }
    void SetFormat(const WaveFormat& format) { format_ = format; }

    int acceptedChannels = 2;
    std::vector<WaveFormat> offeredFormats;
    int configured = 0;
    int released = 0;

private:
    std::mutex mutex_;
    WaveFormat format_{};
    std::unique_ptr<CaptureClient> capture_;
};

class DefaultOutputFollowerTest : public ::testing::Test {
protected:
    // Opens the stream on the default output of a world with the outputs `ids` and follows it.
    void Open(std::initializer_list<const char*> ids) {
        for (const char* id : ids) {
            ASSERT_TRUE(sim_.AddDevice(id, kStereo));
        }
        std::shared_ptr<AudioEndpoint> endpoint;
        ASSERT_TRUE(Succeeded(sim_.GetDefaultAudioEndpoint(endpoint)));
        follower_ = std::make_unique<DefaultOutputFollower>(sim_, endpoint, stream_);
        ASSERT_TRUE(follower_->OpenClient([&](const WaveFormat& format) {
            stream_.SetFormat(format);
            return true;
        }));
        ASSERT_TRUE(stream_.ConfigureStream(*follower_->Client()));
        ASSERT_TRUE(follower_->Follow());
        ASSERT_TRUE(Succeeded(follower_->Client()->Start()));
    }

    // Waits until the notifications so far asked for a switch, and makes it.
    bool Switch() {
        EXPECT_TRUE(sim_.WaitForNotifications());
        EXPECT_TRUE(follower_->IsSwitching());
        EXPECT_TRUE(follower_->SwitchEvent().Wait(std::chrono::milliseconds(0)));
        return follower_->SwitchToDefaultEndpoint();
    }

    const WaveFormat kStereo = MakeMixFormat(MixSampleType::Float32, 48000, 2);
    const WaveFormat kSurround = MakeMixFormat(MixSampleType::Float32, 48000, 6);
    ManualClock clock_;
    SimulatedBackend sim_{clock_};
    RecordingStream stream_;
    std::unique_ptr<DefaultOutputFollower> follower_;  // last: gone before the stream and world
};

TEST_F(DefaultOutputFollowerTest, NewDefaultReopensTheStreamThereAndEndsTheSwitch) {
    Open({"a", "b"});
    EXPECT_EQ(follower_->EndpointId(), "a");
    sim_.SetDefaultDevice("b");
    ASSERT_TRUE(Switch());
    EXPECT_FALSE(follower_->IsSwitching());
    EXPECT_EQ(follower_->EndpointId(), "b");
    EXPECT_EQ(stream_.released, 1);
    EXPECT_EQ(stream_.configured, 2);
    ASSERT_EQ(stream_.offeredFormats.size(), 1u);
    EXPECT_TRUE(stream_.HasService());
    // A second signal for the switch already made changes nothing.
    EXPECT_TRUE(follower_->SwitchToDefaultEndpoint());
    EXPECT_EQ(stream_.configured, 2);
}

TEST_F(DefaultOutputFollowerTest, RemovedAndReformattedOutputsAreFollowed) {
    Open({"a", "b"});
    // Removing the default names "b"; the stream moves there.
    sim_.RemoveDevice("a");
    ASSERT_TRUE(Switch());
    EXPECT_EQ(follower_->EndpointId(), "b");
    // A format change keeps the default: the stream reopens on the same output with the new
    // format. When the stream refuses a format, the switch fails and the stream is closed.
    stream_.acceptedChannels = 6;
    ASSERT_TRUE(sim_.ChangeDeviceFormat("b", kSurround));
    ASSERT_TRUE(Switch());
    EXPECT_EQ(follower_->EndpointId(), "b");
    EXPECT_EQ(stream_.offeredFormats.back().channels, 6);
    ASSERT_TRUE(sim_.ChangeDeviceFormat("b", kStereo));
    EXPECT_FALSE(Switch());
    EXPECT_FALSE(follower_->IsSwitching());
    EXPECT_FALSE(stream_.HasService());
    EXPECT_EQ(follower_->Client(), nullptr);
    EXPECT_EQ(follower_->EndpointId(), "");
}

TEST_F(DefaultOutputFollowerTest, NotificationsForOtherFlowsRolesAndReasonsAskForNoSwitch) {
    Open({"a", "b"});
    sim_.NotifyDefaultDeviceChanged(DataFlow::Capture, Role::Console, "b");
    sim_.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Multimedia, "b");
    sim_.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Communications, "b");
    sim_.DisconnectSessions("a", DisconnectReason::ServerShutdown);
    sim_.DisconnectSessions("a", DisconnectReason::SessionLogoff);
    ASSERT_TRUE(sim_.WaitForNotifications());
    EXPECT_FALSE(follower_->IsSwitching());
    EXPECT_FALSE(follower_->SwitchEvent().Wait(std::chrono::milliseconds(0)));
    EXPECT_EQ(follower_->EndpointId(), "a");
}

TEST_F(DefaultOutputFollowerTest, AfterCloseNothingIsFollowedAndTheStreamIsReleased) {
    Open({"a", "b"});
    follower_->Close();
    EXPECT_EQ(stream_.released, 1);
    EXPECT_EQ(follower_->Client(), nullptr);
    sim_.SetDefaultDevice("b");
    ASSERT_TRUE(sim_.WaitForNotifications());
    EXPECT_FALSE(follower_->IsSwitching());
    follower_->Close();  // twice is harmless
    EXPECT_EQ(stream_.released, 1);
}

TEST_F(DefaultOutputFollowerTest, AnOutputThatCannotBeOpenedEndsTheSwitchAfterItsAttempts) {
    Open({"a"});
    // The only output goes: there is no default, and nothing names one.
    sim_.RemoveDevice("a");
    EXPECT_FALSE(Switch());
    EXPECT_FALSE(follower_->IsSwitching());
    EXPECT_FALSE(stream_.HasService());
}

}  // namespace
}  // namespace hushwell
