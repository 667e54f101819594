#include "audio/simulated/SimulatedBackend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioSessionControl.h"
#include "audio/CaptureClient.h"
#include "audio/EndpointVolume.h"
#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedPlaybackStreams.h"
#include "audio/simulated/SimulatedSignal.h"
#include "base/Clock.h"
#include "base/Event.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kDeadline = 10s;
constexpr std::int64_t k100ms = 100 * kHundredNsPerMs;

// Reads every packet waiting, as the capture thread does at each wake: the flags of each
// packet and all their bytes one after the other.
std::vector<std::uint32_t> Drain(CaptureClient& capture, std::uint32_t blockAlign,
                                 Bytes* all = nullptr) {
    std::vector<std::uint32_t> flags;
    const std::uint8_t* data = nullptr;
    std::uint32_t frames = 0, packetFlags = 0;
    while (capture.GetBuffer(data, frames, packetFlags) == AudioResult::Ok && frames != 0) {
        if (all != nullptr) {
            all->insert(all->end(), data, data + frames * blockAlign);
        }
        capture.ReleaseBuffer(frames);
        flags.push_back(packetFlags);
    }
    return flags;
}

class RecordingClient : public EndpointNotificationClient {
public:
    void OnDefaultDeviceChanged(DataFlow flow, Role role, const std::string& id) override {
        std::lock_guard lock(mutex);
        calls.emplace_back(flow, role, id);
        threads.push_back(std::this_thread::get_id());
    }
    std::mutex mutex;
    std::vector<std::tuple<DataFlow, Role, std::string>> calls;
    std::vector<std::thread::id> threads;
};

class RecordingSession : public AudioSessionEvents {
public:
    void OnSessionDisconnected(DisconnectReason reason) override {
        std::lock_guard lock(mutex);
        reasons.push_back(reason);
    }
    std::vector<DisconnectReason> Reasons() {
        std::lock_guard lock(mutex);
        return reasons;
    }
    std::mutex mutex;
    std::vector<DisconnectReason> reasons;
};

class SimulatedBackendTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(backend.AddDevice("speakers", stereoFloat));
        ASSERT_TRUE(backend.AddDevice("headset", MakeMixFormat(MixSampleType::Pcm16, 44100, 2)));
    }

    std::shared_ptr<AudioEndpoint> Default() {
        std::shared_ptr<AudioEndpoint> endpoint;
        EXPECT_EQ(backend.GetDefaultAudioEndpoint(endpoint), AudioResult::Ok);
        return endpoint;
    }

    struct Capture {
        std::unique_ptr<AudioClient> client;
        std::unique_ptr<CaptureClient> capture;
        std::unique_ptr<AudioSessionControl> session;
        WaveFormat format;
        std::vector<std::uint32_t> Drain(Bytes* all = nullptr) {
            return hushwell::Drain(*capture, format.blockAlign, all);
        }
    };

    Capture OpenCapture(AudioEndpoint& endpoint) {
        Capture c;
        EXPECT_EQ(endpoint.ActivateAudioClient(c.client), AudioResult::Ok);
        EXPECT_EQ(c.client->GetMixFormat(c.format), AudioResult::Ok);
        EXPECT_EQ(
            c.client->Initialize(kStreamFlagLoopback | kStreamFlagNoPersist, k100ms, c.format),
            AudioResult::Ok);
        EXPECT_EQ(c.client->GetCaptureClient(c.capture), AudioResult::Ok);
        EXPECT_EQ(c.client->GetSessionControl(c.session), AudioResult::Ok);
        EXPECT_EQ(c.client->Start(), AudioResult::Ok);
        return c;
    }

    ManualClock clock;
    SimulatedBackend backend{clock};
    WaveFormat stereoFloat = MakeMixFormat(MixSampleType::Float32, 48000, 2);
};

// ---- loopback capture

TEST_F(SimulatedBackendTest, LoopbackHearsOnlyItsDeviceOnePacketPerPeriodPaddedWithSilence) {
    Capture c = OpenCapture(*Default());
    clock.AdvanceMs(10);
    EXPECT_EQ(c.Drain(), std::vector<std::uint32_t>{kBufferFlagSilent});

    // 25 ms of tone: two full packets, then the rest padded with zeros, then silence; what
    // plays on another device is not heard.
    const Bytes tone = MakeToneBytes(c.format, 1000.0, 0.5, 1200);
    ASSERT_TRUE(backend.PlayOnDefault(tone));
    backend.Play("headset",
                 MakeToneBytes(MakeMixFormat(MixSampleType::Pcm16, 44100, 2), 500.0, 0.5, 4410));
    clock.AdvanceMs(40);
    Bytes heard;
    EXPECT_EQ(c.Drain(&heard), (std::vector<std::uint32_t>{0, 0, 0, kBufferFlagSilent}));
    Bytes expected = tone;
    expected.resize(4 * 480 * c.format.blockAlign, 0);
    EXPECT_EQ(heard, expected);
}

TEST_F(SimulatedBackendTest, LatePollerGetsAtMostTheBacklogAndAStoppedStreamNoBackfill) {
    Capture c = OpenCapture(*Default());
    clock.AdvanceMs(60000);
    std::uint32_t padding = 0;
    ASSERT_EQ(c.client->GetCurrentPadding(padding), AudioResult::Ok);
    EXPECT_LE(padding, 2 * 48000u + 480u);
    EXPECT_GE(padding, 2 * 48000u - 480u);
    const auto flags = c.Drain();
    ASSERT_FALSE(flags.empty());
    EXPECT_NE(flags.front() & kBufferFlagDataDiscontinuity, 0u);

    clock.AdvanceMs(20);
    ASSERT_EQ(c.client->Stop(), AudioResult::Ok);
    clock.AdvanceMs(500);
    EXPECT_EQ(c.Drain().size(), 2u);
    ASSERT_EQ(c.client->Start(), AudioResult::Ok);
    clock.AdvanceMs(10);
    EXPECT_EQ(c.Drain().size(), 1u);
}

// ---- client state

TEST_F(SimulatedBackendTest, ClientsRefuseCallsOutOfOrderAndForeignFormats) {
    std::unique_ptr<AudioClient> client;
    ASSERT_EQ(Default()->ActivateAudioClient(client), AudioResult::Ok);
    EXPECT_EQ(client->Start(), AudioResult::WrongState);
    std::unique_ptr<CaptureClient> capture;
    EXPECT_EQ(client->GetCaptureClient(capture), AudioResult::WrongState);
    EXPECT_EQ(client->Initialize(kStreamFlagLoopback, k100ms,
                                 MakeMixFormat(MixSampleType::Pcm16, 48000, 2)),
              AudioResult::InvalidArgument);
    ASSERT_EQ(client->Initialize(kStreamFlagNoPersist, k100ms, stereoFloat), AudioResult::Ok);
    EXPECT_EQ(client->Initialize(kStreamFlagNoPersist, k100ms, stereoFloat),
              AudioResult::WrongState);
    // A session-only client has a session and nothing else.
    EXPECT_EQ(client->GetCaptureClient(capture), AudioResult::Unsupported);
    EXPECT_EQ(client->Start(), AudioResult::WrongState);
    EXPECT_FALSE(backend.AddDevice("speakers", stereoFloat));
    EXPECT_FALSE(backend.AddDevice("odd", MakeMixFormat(MixSampleType::Float32, 88200, 2)));
    EXPECT_FALSE(backend.AddDevice("wide", MakeMixFormat(MixSampleType::Float32, 48000, 8)));
}

// ---- notifications

TEST_F(SimulatedBackendTest, DefaultChangesReachEveryClientOnTheNotificationThread) {
    RecordingClient first, second;
    ASSERT_EQ(backend.RegisterEndpointNotificationCallback(&first), AudioResult::Ok);
    ASSERT_EQ(backend.RegisterEndpointNotificationCallback(&second), AudioResult::Ok);
    ASSERT_EQ(backend.RegisterEndpointNotificationCallback(&second), AudioResult::Ok);

    ASSERT_TRUE(backend.SetDefaultDevice("headset"));
    backend.NotifyDefaultDeviceChanged(DataFlow::Capture, Role::Communications, "mic");
    ASSERT_TRUE(backend.WaitForNotifications());
    ASSERT_EQ(first.calls.size(), 2u);
    EXPECT_EQ(first.calls[0], std::tuple(DataFlow::Render, Role::Console, std::string("headset")));
    EXPECT_EQ(first.calls[1],
              std::tuple(DataFlow::Capture, Role::Communications, std::string("mic")));
    EXPECT_EQ(second.calls.size(), 2u);  // registered twice, called once
    EXPECT_NE(first.threads[0], std::this_thread::get_id());

    ASSERT_EQ(backend.UnregisterEndpointNotificationCallback(&second), AudioResult::Ok);
    EXPECT_EQ(backend.UnregisterEndpointNotificationCallback(&second), AudioResult::NotFound);
    backend.SetDefaultDevice("speakers");
    ASSERT_TRUE(backend.WaitForNotifications());
    EXPECT_EQ(first.calls.size(), 3u);
    EXPECT_EQ(second.calls.size(), 2u);
    backend.UnregisterEndpointNotificationCallback(&first);
}

// A client that blocks inside its callback until released, and can unregister itself there.
class BlockingClient : public EndpointNotificationClient {
public:
    explicit BlockingClient(AudioBackend& backend) : backend_(backend) {}
    void OnDefaultDeviceChanged(DataFlow, Role, const std::string& id) override {
        if (id == "self") {
            selfResult = backend_.UnregisterEndpointNotificationCallback(this);
            return;
        }
        entered.Set();
        release.Wait(kDeadline);
        finished = true;
    }
    Event entered, release;
    std::atomic<bool> finished{false};
    AudioResult selfResult = AudioResult::Failed;

private:
    AudioBackend& backend_;
};

TEST_F(SimulatedBackendTest, UnregisterWaitsForARunningCallbackAndWorksFromInsideOne) {
    BlockingClient client(backend);
    backend.RegisterEndpointNotificationCallback(&client);
    backend.SetDefaultDevice("headset");
    ASSERT_TRUE(client.entered.Wait(kDeadline));
    std::atomic<bool> finishedWhenUnregistered{false};
    std::thread unregister([&] {
        backend.UnregisterEndpointNotificationCallback(&client);
        finishedWhenUnregistered = client.finished.load();
    });
    client.release.Set();
    unregister.join();
    EXPECT_TRUE(finishedWhenUnregistered);

    // From inside its own callback: no deadlock, and no further calls.
    backend.RegisterEndpointNotificationCallback(&client);
    backend.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Console, "self");
    backend.SetDefaultDevice("speakers");
    ASSERT_TRUE(backend.WaitForNotifications());
    EXPECT_EQ(client.selfResult, AudioResult::Ok);
    EXPECT_FALSE(client.entered.IsSet());
}

TEST_F(SimulatedBackendTest, RemovingTheDefaultDisconnectsItsSessionsAndMovesTheDefault) {
    RecordingClient watcher;
    backend.RegisterEndpointNotificationCallback(&watcher);
    auto speakers = Default();
    Capture c = OpenCapture(*speakers);
    RecordingSession events;
    ASSERT_EQ(c.session->RegisterAudioSessionNotification(&events), AudioResult::Ok);

    ASSERT_TRUE(backend.RemoveDevice("speakers"));
    ASSERT_TRUE(backend.WaitForNotifications());
    EXPECT_EQ(events.Reasons(), std::vector{DisconnectReason::DeviceRemoval});
    ASSERT_EQ(watcher.calls.size(), 1u);
    EXPECT_EQ(std::get<2>(watcher.calls[0]), "headset");

    std::uint32_t frames = 0;
    EXPECT_EQ(c.capture->GetNextPacketSize(frames), AudioResult::DeviceInvalidated);
    // The same name added again is another device; the old endpoint stays dead.
    ASSERT_TRUE(backend.AddDevice("speakers", stereoFloat));
    std::unique_ptr<AudioClient> again;
    EXPECT_EQ(speakers->ActivateAudioClient(again), AudioResult::NotFound);

    backend.RemoveDevice("headset");
    backend.RemoveDevice("speakers");
    ASSERT_TRUE(backend.WaitForNotifications());
    EXPECT_EQ(std::get<2>(watcher.calls.back()), "");
    std::shared_ptr<AudioEndpoint> none;
    EXPECT_EQ(backend.GetDefaultAudioEndpoint(none), AudioResult::NotFound);
    backend.UnregisterEndpointNotificationCallback(&watcher);
}

TEST_F(SimulatedBackendTest, FormatChangeDisconnectsOnlyRegisteredLiveSessions) {
    Capture c = OpenCapture(*Default());
    Capture dropped = OpenCapture(*Default());
    RecordingSession events, gone, destroyed;
    c.session->RegisterAudioSessionNotification(&events);
    c.session->RegisterAudioSessionNotification(&gone);
    ASSERT_EQ(c.session->UnregisterAudioSessionNotification(&gone), AudioResult::Ok);
    dropped.session->RegisterAudioSessionNotification(&destroyed);
    dropped.session.reset();

    const WaveFormat surround = MakeMixFormat(MixSampleType::Float32, 48000, 6);
    ASSERT_TRUE(backend.ChangeDeviceFormat("speakers", surround));
    backend.DisconnectSessions("speakers", DisconnectReason::SessionLogoff);  // old stream: none
    ASSERT_TRUE(backend.WaitForNotifications());
    EXPECT_EQ(events.Reasons(), std::vector{DisconnectReason::FormatChanged});
    EXPECT_TRUE(gone.Reasons().empty());
    EXPECT_TRUE(destroyed.Reasons().empty());
    const std::uint8_t* data = nullptr;
    std::uint32_t frames = 0, flags = 0;
    EXPECT_EQ(c.capture->GetBuffer(data, frames, flags), AudioResult::DeviceInvalidated);
    EXPECT_EQ(OpenCapture(*Default()).format, surround);
}

// ---- endpoint volume

TEST_F(SimulatedBackendTest, EndpointVolumeActsOnItsOwnDeviceAndReportsFailures) {
    std::unique_ptr<EndpointVolume> volume;
    ASSERT_EQ(Default()->ActivateEndpointVolume(volume), AudioResult::Ok);
    ASSERT_EQ(volume->SetMute(true), AudioResult::Ok);
    ASSERT_EQ(volume->SetMasterVolumeLevelScalar(0.37f), AudioResult::Ok);
    EXPECT_TRUE(backend.IsMuted("speakers"));
    EXPECT_FLOAT_EQ(backend.Volume("speakers"), 0.37f);
    EXPECT_EQ(backend.MuteCalls("speakers"), 1);

    // Still bound to "speakers" after another device became the default.
    backend.SetDefaultDevice("headset");
    backend.SetDeviceVolume("speakers", 0.98f);  // the user's slider: not a call
    float level = 0;
    ASSERT_EQ(volume->GetMasterVolumeLevelScalar(level), AudioResult::Ok);
    EXPECT_FLOAT_EQ(level, 0.98f);
    EXPECT_EQ(backend.VolumeSetCalls("speakers"), 1);
    EXPECT_FALSE(backend.IsMuted("headset"));

    EXPECT_EQ(volume->SetMasterVolumeLevelScalar(1.01f), AudioResult::InvalidArgument);
    EXPECT_EQ(volume->SetMasterVolumeLevelScalar(std::nanf("")), AudioResult::InvalidArgument);
    backend.SetVolumeSetsFail(true);
    EXPECT_EQ(volume->SetMasterVolumeLevelScalar(0.5f), AudioResult::Failed);
    EXPECT_FLOAT_EQ(backend.Volume("speakers"), 0.98f);
    backend.SetVolumeSetsFail(false);
    backend.SetServerAvailable(false);
    EXPECT_EQ(volume->SetMute(false), AudioResult::NoServer);
    std::shared_ptr<AudioEndpoint> none;
    EXPECT_EQ(backend.GetDefaultAudioEndpoint(none), AudioResult::NoServer);
    backend.SetServerAvailable(true);
    backend.RemoveDevice("speakers");
    EXPECT_EQ(volume->SetMute(false), AudioResult::NotFound);

    // WaitUntil wakes on a change made by another thread.
    std::thread worker([&] { backend.SetDeviceMute("headset", true); });
    EXPECT_TRUE(backend.WaitUntil([&] { return backend.IsMuted("headset"); }, kDeadline));
    worker.join();
    EXPECT_FALSE(backend.WaitUntil([&] { return backend.IsMuted("speakers"); }, 1ms));
}

TEST(SimulatedBackendLifetimeTest, ObjectsOutliveTheBackendSafely) {
    ManualClock clock;
    std::unique_ptr<EndpointVolume> volume;
    std::unique_ptr<AudioClient> client;
    std::unique_ptr<AudioSessionControl> session;
    RecordingSession events;
    {
        SimulatedBackend backend(clock);
        const WaveFormat format = MakeMixFormat(MixSampleType::Pcm16, 48000, 2);
        backend.AddDevice("out", format);
        std::shared_ptr<AudioEndpoint> endpoint;
        backend.GetDefaultAudioEndpoint(endpoint);
        endpoint->ActivateEndpointVolume(volume);
        endpoint->ActivateAudioClient(client);
        client->Initialize(0, 0, format);
        client->GetSessionControl(session);
        session->RegisterAudioSessionNotification(&events);
    }
    EXPECT_EQ(volume->SetMute(true), AudioResult::Ok);
    session.reset();
    client.reset();
}

// The playback streams that the program's per-stream tests stand on: changes reach only the
// stream named, unknown streams and levels are refused, only the backend's calls are counted,
// and the last mute and volume of a program are remembered for its next stream.
TEST(SimulatedPlaybackStreamsTest, ChangesReachTheNamedStreamAndAreRemembered) {
    SimulatedPlaybackStreams streams;
    const ProgramIdentity player{"player", "Player"};
    const std::uint32_t one = streams.Add("speakers", player, 0.8f);
    const std::uint32_t other = streams.Add("speakers", {"other", "Other"});
    const std::uint32_t gone = other + 1;

    EXPECT_TRUE(streams.SetCorked(one, true));
    EXPECT_TRUE(streams.SetUserVolume(one, 0.5f));
    EXPECT_FALSE(streams.SetUserVolume(one, 1.5f));
    EXPECT_FALSE(streams.SetCorked(gone, true));
    EXPECT_FALSE(streams.SetUserMute(gone, true));
    EXPECT_FALSE(streams.SetUserVolume(gone, 0.5f));
    EXPECT_EQ(streams.SetMute(one, true), AudioResult::Ok);
    EXPECT_EQ(streams.SetVolume(one, 0.25f), AudioResult::Ok);
    EXPECT_EQ(streams.SetVolume(one, -0.1f), AudioResult::InvalidArgument);
    EXPECT_EQ(streams.SetMute(gone, true), AudioResult::NotFound);
    float level = -1.0f;
    EXPECT_EQ(streams.GetVolume(gone, level), AudioResult::NotFound);
    EXPECT_EQ(streams.GetVolume(one, level), AudioResult::Ok);
    EXPECT_EQ(level, 0.25f);

    const std::optional<PlaybackStream> found = streams.Find(one);
    ASSERT_TRUE(found.has_value());
    EXPECT_TRUE(found->corked && found->muted);
    EXPECT_EQ(streams.MuteCalls(one), 1);
    EXPECT_EQ(streams.VolumeSetCalls(one), 1);
    EXPECT_FALSE(streams.Find(other)->muted);
    EXPECT_EQ(streams.Find(other)->volume, 1.0f);
    EXPECT_EQ(streams.VolumeSetCalls(other), 0);

    const std::uint32_t next = streams.AddRemembered("speakers", player);
    EXPECT_TRUE(streams.Find(next)->muted);
    EXPECT_EQ(streams.Find(next)->volume, 0.25f);

    streams.SetServerAvailable(false);
    EXPECT_EQ(streams.SetMute(one, false), AudioResult::NoServer);
    EXPECT_EQ(streams.GetVolume(one, level), AudioResult::NoServer);
    EXPECT_TRUE(streams.SetUserMute(one, false));  // the user needs no server
    EXPECT_EQ(streams.MuteCalls(one), 1);
}

}  // namespace
}  // namespace hushwell
