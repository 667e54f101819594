#include "audio/SimulatedBackend.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioSessionControl.h"
#include "audio/CaptureClient.h"
#include "audio/Clock.h"
#include "audio/EndpointVolume.h"
#include "audio/Event.h"
#include "audio/MixFormat.h"
#include "audio/RenderClient.h"
#include "audio/SimulatedSignal.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;
constexpr std::int64_t k100ms = 100 * kHundredNsPerMs;

struct Packet {
    std::vector<std::uint8_t> bytes;
    std::uint32_t frames = 0;
    std::uint32_t flags = 0;
};

// Reads every packet waiting, as the capture thread does at each wake.
std::vector<Packet> Drain(CaptureClient& capture, std::uint32_t blockAlign) {
    std::vector<Packet> packets;
    for (;;) {
        const std::uint8_t* data = nullptr;
        Packet packet;
        if (capture.GetBuffer(data, packet.frames, packet.flags) != AudioResult::Ok ||
            packet.frames == 0) {
            return packets;
        }
        packet.bytes.assign(data, data + packet.frames * blockAlign);
        capture.ReleaseBuffer(packet.frames);
        packets.push_back(std::move(packet));
    }
}

std::vector<std::uint8_t> Concat(const std::vector<Packet>& packets) {
    std::vector<std::uint8_t> all;
    for (const Packet& p : packets) {
        all.insert(all.end(), p.bytes.begin(), p.bytes.end());
    }
    return all;
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
        WaveFormat format;
    };

    Capture OpenCapture(AudioEndpoint& endpoint) {
        Capture c;
        EXPECT_EQ(endpoint.ActivateAudioClient(c.client), AudioResult::Ok);
        EXPECT_EQ(c.client->GetMixFormat(c.format), AudioResult::Ok);
        EXPECT_EQ(
            c.client->Initialize(kStreamFlagLoopback | kStreamFlagNoPersist, k100ms, c.format),
            AudioResult::Ok);
        EXPECT_EQ(c.client->GetCaptureClient(c.capture), AudioResult::Ok);
        EXPECT_EQ(c.client->Start(), AudioResult::Ok);
        return c;
    }

    ManualClock clock;
    SimulatedBackend backend{clock};
    WaveFormat stereoFloat = MakeMixFormat(MixSampleType::Float32, 48000, 2);
};

TEST_F(SimulatedBackendTest, LoopbackDeliversWhatPlaysOnePacketPerPeriodAndSilenceOtherwise) {
    auto endpoint = Default();
    ASSERT_EQ(endpoint->GetId(), "speakers");
    Capture c = OpenCapture(*endpoint);

    clock.AdvanceMs(30);
    auto silent = Drain(*c.capture, c.format.blockAlign);
    ASSERT_EQ(silent.size(), 3u);
    for (const Packet& p : silent) {
        EXPECT_EQ(p.frames, 480u);
        EXPECT_EQ(p.flags, kBufferFlagSilent);
        EXPECT_EQ(p.bytes, std::vector<std::uint8_t>(480 * 8, 0));
    }

    // 25 ms of tone: two full packets, then the rest padded with zeros, then silence.
    auto tone = MakeToneBytes(c.format, 1000.0, 0.5, 1200);
    ASSERT_TRUE(backend.PlayOnDefault(tone));
    clock.AdvanceMs(40);
    auto packets = Drain(*c.capture, c.format.blockAlign);
    ASSERT_EQ(packets.size(), 4u);
    EXPECT_EQ(packets[0].flags, 0u);
    EXPECT_EQ(packets[2].flags, 0u);
    EXPECT_EQ(packets[3].flags, kBufferFlagSilent);
    auto heard = Concat(packets);
    EXPECT_TRUE(std::equal(tone.begin(), tone.end(), heard.begin()));
    EXPECT_TRUE(std::all_of(heard.begin() + static_cast<std::ptrdiff_t>(tone.size()), heard.end(),
                            [](std::uint8_t b) { return b == 0; }));

    // Nothing plays into a device that is not the one captured.
    backend.Play("headset", MakeToneBytes(c.format, 500.0, 0.5, 480));
    clock.AdvanceMs(10);
    auto other = Drain(*c.capture, c.format.blockAlign);
    ASSERT_EQ(other.size(), 1u);
    EXPECT_EQ(other[0].flags, kBufferFlagSilent);
}

TEST_F(SimulatedBackendTest, EveryMixFormatRoundTripsThroughTheLoopback) {
    for (MixSampleType type : {MixSampleType::Pcm16, MixSampleType::Float32}) {
        for (std::uint16_t channels : {1, 2, 6}) {
            for (std::uint32_t rate : {16000u, 22050u, 44100u, 192000u}) {
                SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels, "
                                                << (type == MixSampleType::Pcm16 ? "16" : "32"));
                const WaveFormat format = MakeMixFormat(type, rate, channels);
                const std::string id = "dev" + std::to_string(rate) + "_" +
                                       std::to_string(channels) +
                                       (type == MixSampleType::Pcm16 ? "i" : "f");
                ASSERT_TRUE(backend.AddDevice(id, format));
                ASSERT_TRUE(backend.SetDefaultDevice(id));
                Capture c = OpenCapture(*Default());
                EXPECT_EQ(c.format, format);
                EXPECT_EQ(c.format.formatTag,
                          channels > 2
                              ? kWaveTagExtensible
                              : (type == MixSampleType::Pcm16 ? kWaveTagPcm : kWaveTagIeeeFloat));
                const std::uint32_t period = rate / 100;
                backend.Play(id, MakeToneBytes(format, 440.0, 0.25, period * 3));
                clock.AdvanceMs(30);
                auto packets = Drain(*c.capture, format.blockAlign);
                ASSERT_EQ(packets.size(), 3u);
                EXPECT_EQ(packets[0].frames, period);
                auto heard = Concat(packets);
                const float expected = 0.25f * std::sin(2.0f * 3.14159265f * 440.0f * 7 / rate);
                EXPECT_NEAR(SampleAt(format, heard.data(), heard.size(), 7, channels - 1), expected,
                            1e-3);
            }
        }
    }
}

TEST_F(SimulatedBackendTest, ALatePollerGetsAtMostTheBacklogAndSeesTheGap) {
    Capture c = OpenCapture(*Default());
    clock.AdvanceMs(60000);
    std::uint32_t padding = 0;
    ASSERT_EQ(c.client->GetCurrentPadding(padding), AudioResult::Ok);
    EXPECT_LE(padding, 2 * 48000u + 480u);
    EXPECT_GE(padding, 2 * 48000u - 480u);
    auto packets = Drain(*c.capture, c.format.blockAlign);
    ASSERT_FALSE(packets.empty());
    EXPECT_NE(packets.front().flags & kBufferFlagDataDiscontinuity, 0u);
}

TEST_F(SimulatedBackendTest, AStoppedCaptureProducesNothingAndResumesWithoutBackfill) {
    Capture c = OpenCapture(*Default());
    clock.AdvanceMs(20);
    ASSERT_EQ(c.client->Stop(), AudioResult::Ok);
    clock.AdvanceMs(500);
    EXPECT_EQ(Drain(*c.capture, c.format.blockAlign).size(), 2u);
    ASSERT_EQ(c.client->Start(), AudioResult::Ok);
    clock.AdvanceMs(10);
    EXPECT_EQ(Drain(*c.capture, c.format.blockAlign).size(), 1u);
}

TEST_F(SimulatedBackendTest, RenderIsPacedByTheClockAndReachesTheLoopback) {
    auto endpoint = Default();
    Capture loopback = OpenCapture(*endpoint);
    std::unique_ptr<AudioClient> client;
    ASSERT_EQ(endpoint->ActivateAudioClient(client), AudioResult::Ok);
    WaveFormat format;
    client->GetMixFormat(format);
    ASSERT_EQ(client->Initialize(kStreamFlagEventCallback | kStreamFlagNoPersist,
                                 50 * kHundredNsPerMs, format),
              AudioResult::Ok);
    std::uint32_t bufferFrames = 0;
    client->GetBufferSize(bufferFrames);
    EXPECT_EQ(bufferFrames, 2400u);
    std::int64_t period = 0;
    client->GetDevicePeriod(period);
    EXPECT_EQ(period, 10 * kHundredNsPerMs);
    std::unique_ptr<RenderClient> render;
    ASSERT_EQ(client->GetRenderClient(render), AudioResult::Ok);
    EXPECT_EQ(client->Start(), AudioResult::WrongState);  // event-paced needs its event
    auto ready = std::make_shared<Event>(Event::Mode::AutoReset);
    ASSERT_EQ(client->SetEventHandle(ready), AudioResult::Ok);

    // Pre-roll the whole buffer; nothing more fits until time passes.
    auto tone = MakeToneBytes(format, 1000.0, 0.5, bufferFrames);
    std::uint8_t* data = nullptr;
    ASSERT_EQ(render->GetBuffer(bufferFrames, data), AudioResult::Ok);
    std::copy(tone.begin(), tone.end(), data);
    ASSERT_EQ(render->ReleaseBuffer(bufferFrames, 0), AudioResult::Ok);
    EXPECT_EQ(render->GetBuffer(1, data), AudioResult::InvalidArgument);

    ASSERT_EQ(client->Start(), AudioResult::Ok);
    EXPECT_TRUE(ready->Wait(0ms));
    clock.AdvanceMs(10);
    backend.Pump();
    EXPECT_TRUE(ready->Wait(0ms));
    std::uint32_t padding = 0;
    client->GetCurrentPadding(padding);
    EXPECT_EQ(padding, bufferFrames - 480);
    backend.Pump();  // no time passed: no event
    EXPECT_FALSE(ready->Wait(0ms));

    // A silent release queues zeros whatever was written.
    ASSERT_EQ(render->GetBuffer(480, data), AudioResult::Ok);
    std::fill(data, data + 480 * format.blockAlign, 0x7f);
    ASSERT_EQ(render->ReleaseBuffer(480, kBufferFlagSilent), AudioResult::Ok);

    auto rendered = backend.TakeRenderedBytes("speakers");
    ASSERT_EQ(rendered.size(), (bufferFrames + 480) * format.blockAlign);
    EXPECT_TRUE(std::equal(tone.begin(), tone.end(), rendered.begin()));
    EXPECT_TRUE(std::all_of(rendered.begin() + static_cast<std::ptrdiff_t>(tone.size()),
                            rendered.end(), [](std::uint8_t b) { return b == 0; }));

    // Written before the loopback's first period ended, the tone is the first thing it hears.
    clock.AdvanceMs(60);
    auto heard = Concat(Drain(*loopback.capture, loopback.format.blockAlign));
    ASSERT_GE(heard.size(), tone.size());
    EXPECT_TRUE(std::equal(tone.begin(), tone.end(), heard.begin()));
}

TEST_F(SimulatedBackendTest, ClientsRefuseCallsOutOfOrderAndForeignFormats) {
    std::unique_ptr<AudioClient> client;
    ASSERT_EQ(Default()->ActivateAudioClient(client), AudioResult::Ok);
    std::uint32_t frames = 0;
    EXPECT_EQ(client->GetBufferSize(frames), AudioResult::WrongState);
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
    std::unique_ptr<AudioSessionControl> session;
    EXPECT_EQ(client->GetSessionControl(session), AudioResult::Ok);
    EXPECT_FALSE(backend.AddDevice("speakers", stereoFloat));
    EXPECT_FALSE(backend.AddDevice("odd", MakeMixFormat(MixSampleType::Float32, 88200, 2)));
    EXPECT_FALSE(backend.AddDevice("wide", MakeMixFormat(MixSampleType::Float32, 48000, 8)));
}

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
    EXPECT_EQ(Default()->GetId(), "headset");

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
    std::unique_ptr<AudioSessionControl> session;
    ASSERT_EQ(c.client->GetSessionControl(session), AudioResult::Ok);
    RecordingSession events;
    ASSERT_EQ(session->RegisterAudioSessionNotification(&events), AudioResult::Ok);

    ASSERT_TRUE(backend.RemoveDevice("speakers"));
    ASSERT_TRUE(backend.WaitForNotifications());
    EXPECT_EQ(events.Reasons(), std::vector{DisconnectReason::DeviceRemoval});
    ASSERT_EQ(watcher.calls.size(), 1u);
    EXPECT_EQ(std::get<2>(watcher.calls[0]), "headset");

    std::uint32_t frames = 0;
    EXPECT_EQ(c.capture->GetNextPacketSize(frames), AudioResult::DeviceInvalidated);
    std::unique_ptr<AudioClient> again;
    EXPECT_EQ(speakers->ActivateAudioClient(again), AudioResult::NotFound);
    // The same name added again is another device; the old endpoint stays dead.
    ASSERT_TRUE(backend.AddDevice("speakers", stereoFloat));
    EXPECT_EQ(speakers->ActivateAudioClient(again), AudioResult::NotFound);

    backend.RemoveDevice("headset");
    backend.RemoveDevice("speakers");
    ASSERT_TRUE(backend.WaitForNotifications());
    EXPECT_EQ(std::get<2>(watcher.calls.back()), "");
    std::shared_ptr<AudioEndpoint> none;
    EXPECT_EQ(backend.GetDefaultAudioEndpoint(none), AudioResult::NotFound);
    backend.UnregisterEndpointNotificationCallback(&watcher);
}

TEST_F(SimulatedBackendTest, AFormatChangeDisconnectsAndNewClientsSeeTheNewFormat) {
    Capture c = OpenCapture(*Default());
    std::unique_ptr<AudioSessionControl> session;
    c.client->GetSessionControl(session);
    RecordingSession events, gone;
    session->RegisterAudioSessionNotification(&events);
    session->RegisterAudioSessionNotification(&gone);
    ASSERT_EQ(session->UnregisterAudioSessionNotification(&gone), AudioResult::Ok);

    const WaveFormat surround = MakeMixFormat(MixSampleType::Float32, 48000, 6);
    ASSERT_TRUE(backend.ChangeDeviceFormat("speakers", surround));
    backend.DisconnectSessions("speakers", DisconnectReason::SessionLogoff);  // old stream: none
    ASSERT_TRUE(backend.WaitForNotifications());
    EXPECT_EQ(events.Reasons(), std::vector{DisconnectReason::FormatChanged});
    EXPECT_TRUE(gone.Reasons().empty());
    const std::uint8_t* data = nullptr;
    std::uint32_t frames = 0, flags = 0;
    EXPECT_EQ(c.capture->GetBuffer(data, frames, flags), AudioResult::DeviceInvalidated);

    Capture fresh = OpenCapture(*Default());
    EXPECT_EQ(fresh.format, surround);
    EXPECT_EQ(fresh.format.channelMask, 0x3Fu);
}

TEST_F(SimulatedBackendTest, DestroyingASessionControlStopsItsNotifications) {
    Capture c = OpenCapture(*Default());
    std::unique_ptr<AudioSessionControl> session;
    c.client->GetSessionControl(session);
    RecordingSession events;
    session->RegisterAudioSessionNotification(&events);
    session.reset();
    backend.RemoveDevice("speakers");
    ASSERT_TRUE(backend.WaitForNotifications());
    EXPECT_TRUE(events.Reasons().empty());
}

TEST_F(SimulatedBackendTest, EndpointVolumeActsOnItsOwnDeviceAndReportsFailures) {
    std::unique_ptr<EndpointVolume> volume;
    auto speakers = Default();
    ASSERT_EQ(speakers->ActivateEndpointVolume(volume), AudioResult::Ok);
    ASSERT_EQ(volume->SetMute(true), AudioResult::Ok);
    ASSERT_EQ(volume->SetMasterVolumeLevelScalar(0.37f), AudioResult::Ok);
    EXPECT_TRUE(backend.IsMuted("speakers"));
    EXPECT_FLOAT_EQ(backend.Volume("speakers"), 0.37f);
    EXPECT_EQ(backend.MuteCalls("speakers"), 1);
    EXPECT_EQ(backend.VolumeSetCalls("speakers"), 1);

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
}

TEST_F(SimulatedBackendTest, WaitUntilWakesOnAChangeMadeByAnotherThread) {
    std::unique_ptr<EndpointVolume> volume;
    Default()->ActivateEndpointVolume(volume);
    std::thread worker([&] { volume->SetMute(true); });
    EXPECT_TRUE(backend.WaitUntil([&] { return backend.IsMuted("speakers"); }, kDeadline));
    worker.join();
    EXPECT_FALSE(backend.WaitUntil([&] { return backend.IsMuted("headset"); }, 1ms));
}

TEST(SimulatedBackendLifetimeTest, ObjectsOutliveTheBackendSafely) {
    ManualClock clock;
    std::unique_ptr<EndpointVolume> volume;
    std::unique_ptr<AudioClient> client;
    std::unique_ptr<AudioSessionControl> session;
    RecordingSession events;
    {
        SimulatedBackend backend(clock);
        backend.AddDevice("out", MakeMixFormat(MixSampleType::Pcm16, 48000, 2));
        std::shared_ptr<AudioEndpoint> endpoint;
        backend.GetDefaultAudioEndpoint(endpoint);
        endpoint->ActivateEndpointVolume(volume);
        endpoint->ActivateAudioClient(client);
        WaveFormat format;
        client->GetMixFormat(format);
        client->Initialize(0, 0, format);
        client->GetSessionControl(session);
        session->RegisterAudioSessionNotification(&events);
    }
    EXPECT_EQ(volume->SetMute(true), AudioResult::Ok);
    session.reset();
    client.reset();
}

}  // namespace
}  // namespace hushwell
