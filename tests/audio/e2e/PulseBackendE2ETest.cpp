#include "audio/pulse/PulseBackend.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioSessionControl.h"
#include "audio/CaptureClient.h"
#include "audio/EndpointNotificationClient.h"
#include "audio/EndpointVolume.h"
#include "audio/RenderClient.h"
#include "audio/SoundServerKind.h"
#include "audio/simulated/SimulatedSignal.h"
#include "base/Event.h"
#include "tests/support/SandboxTools.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;
using e2e::PactlMuted;
using e2e::PactlSinkVolume;
using e2e::PollUntil;

constexpr auto kDeadline = 10s;
constexpr std::int64_t k100ms = 100 * kHundredNsPerMs;

class RecordingClient : public EndpointNotificationClient {
public:
    void OnDefaultDeviceChanged(DataFlow flow, Role role, const std::string& id) override {
        std::lock_guard lock(mutex_);
        if (flow == DataFlow::Render && role == Role::Console) {
            ids_.push_back(id);
        }
    }
    bool Saw(const std::string& id) {
        std::lock_guard lock(mutex_);
        return std::find(ids_.begin(), ids_.end(), id) != ids_.end();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> ids_;
};

// Captured audio, read through the capture client by polling it, as mono samples of channel 0.
struct Recording {
    std::vector<float> mono;
    std::uint32_t packets = 0;
    std::uint32_t largestPacket = 0;
};

class PulseBackendE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        sink = e2e::SandboxSink();
        if (sink.empty()) {
            GTEST_SKIP() << "needs the private sound server: run through scripts/pw-sandbox";
        }
        PulseBackendOptions options;
        options.warn = [this](const std::string& message) {
            std::lock_guard lock(warningsMutex);
            warnings.push_back(message);
        };
        backend = std::make_unique<PulseBackend>(options);
        e2e::Run("pactl set-sink-mute " + sink + " 0");
        e2e::Run("pactl set-sink-volume " + sink + " 100%");
    }

    std::shared_ptr<AudioEndpoint> Default() {
        std::shared_ptr<AudioEndpoint> endpoint;
        EXPECT_EQ(backend->GetDefaultAudioEndpoint(endpoint), AudioResult::Ok);
        return endpoint;
    }

    // Polls the capture every 20 ms until `done` says so or the deadline passes.
    Recording Poll(CaptureClient& capture, const WaveFormat& format,
                   const std::function<bool(const Recording&)>& done) {
        Recording recording;
        const auto deadline = std::chrono::steady_clock::now() + kDeadline;
        while (!done(recording) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(20ms);
            for (;;) {
                const std::uint8_t* data = nullptr;
                std::uint32_t frames = 0, flags = 0;
                if (capture.GetBuffer(data, frames, flags) != AudioResult::Ok || frames == 0) {
                    break;
                }
                ++recording.packets;
                recording.largestPacket = std::max(recording.largestPacket, frames);
                const std::size_t size = static_cast<std::size_t>(frames) * format.blockAlign;
                for (std::uint32_t f = 0; f < frames; ++f) {
                    recording.mono.push_back((flags & kBufferFlagSilent) != 0
                                                 ? 0.0f
                                                 : SampleAt(format, data, size, f, 0));
                }
                capture.ReleaseBuffer(frames);
            }
        }
        return recording;
    }

    std::string sink;
    std::unique_ptr<PulseBackend> backend;
    std::mutex warningsMutex;
    std::vector<std::string> warnings;
};

TEST_F(PulseBackendE2ETest, TellsPipeWireAndFindsTheSandboxSinkAsDefault) {
    std::string name;
    ASSERT_EQ(backend->QueryServerName(name), AudioResult::Ok);
    EXPECT_EQ(ClassifySoundServer(name), SoundServerKind::PipeWire) << name;
    EXPECT_EQ(Default()->GetId(), sink);
    std::vector<std::string> sinks;
    ASSERT_EQ(backend->EnumAudioEndpoints(sinks), AudioResult::Ok);
    EXPECT_NE(std::find(sinks.begin(), sinks.end(), sink), sinks.end());
}

TEST_F(PulseBackendE2ETest, MuteAndOnePercentStepsAreWhatPactlShows) {
    std::unique_ptr<EndpointVolume> volume;
    ASSERT_EQ(Default()->ActivateEndpointVolume(volume), AudioResult::Ok);

    std::vector<double> muteMs;
    for (int i = 0; i < 5; ++i) {
        const auto start = std::chrono::steady_clock::now();
        ASSERT_EQ(volume->SetMute(true), AudioResult::Ok);
        muteMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        EXPECT_TRUE(PactlMuted(sink));  // acknowledged by the server before SetMute returned
        ASSERT_EQ(volume->SetMute(false), AudioResult::Ok);
        EXPECT_FALSE(PactlMuted(sink));
    }
    std::sort(muteMs.begin(), muteMs.end());
    std::printf("SetMute round trip, median of 5: %.2f ms\n", muteMs[2]);

    // Steps as the volume manager takes them: read, add or take 0.01, set.
    e2e::Run("pactl set-sink-volume " + sink + " 50%");
    // The server acknowledges pactl before the sink reports its new volume to other clients.
    ASSERT_TRUE(PollUntil(
        [&] {
            float now = 0;
            return volume->GetMasterVolumeLevelScalar(now) == AudioResult::Ok &&
                   std::abs(now - 0.5f) < 0.001f;
        },
        kDeadline));
    auto step = [&](int direction) {
        float level = 0;
        ASSERT_EQ(volume->GetMasterVolumeLevelScalar(level), AudioResult::Ok);
        ASSERT_EQ(volume->SetMasterVolumeLevelScalar(level + 0.01f * direction), AudioResult::Ok);
    };
    for (int i = 1; i <= 3; ++i) {
        step(+1);
        EXPECT_EQ(PactlSinkVolume(sink).percents, (std::vector{50 + i, 50 + i}));
    }
    for (int i = 0; i < 40; ++i) {
        step(-1);
    }
    EXPECT_EQ(PactlSinkVolume(sink).percents, (std::vector{13, 13}));
    EXPECT_EQ(PactlSinkVolume(sink).raw[0], (65536u * 13 + 50) / 100);
    float level = 0;
    volume->GetMasterVolumeLevelScalar(level);
    EXPECT_NEAR(level, 0.13f, 0.0005f);
}

TEST_F(PulseBackendE2ETest, TheBalanceSurvivesATripThroughSilence) {
    std::unique_ptr<EndpointVolume> volume;
    ASSERT_EQ(Default()->ActivateEndpointVolume(volume), AudioResult::Ok);
    e2e::Run("pactl set-sink-volume " + sink + " 80% 40%");
    // The loudest channel, once the sink reports the new volume to other clients.
    EXPECT_TRUE(PollUntil(
        [&] {
            float level = 0;
            return volume->GetMasterVolumeLevelScalar(level) == AudioResult::Ok &&
                   std::abs(level - 0.80f) < 0.001f;
        },
        kDeadline));
    ASSERT_EQ(volume->SetMasterVolumeLevelScalar(0.5f), AudioResult::Ok);
    EXPECT_EQ(PactlSinkVolume(sink).percents, (std::vector{50, 25}));
    ASSERT_EQ(volume->SetMasterVolumeLevelScalar(0.0f), AudioResult::Ok);
    EXPECT_EQ(PactlSinkVolume(sink).percents, (std::vector{0, 0}));
    ASSERT_EQ(volume->SetMasterVolumeLevelScalar(0.6f), AudioResult::Ok);
    EXPECT_EQ(PactlSinkVolume(sink).percents, (std::vector{60, 30}));
}

TEST_F(PulseBackendE2ETest, FollowsADefaultSinkSwitchAndTheRemovalOfASink) {
    const std::string other = "hushwell_other";
    const std::string module = e2e::LoadNullSink(other);
    ASSERT_FALSE(module.empty());
    RecordingClient watcher;
    ASSERT_EQ(backend->RegisterEndpointNotificationCallback(&watcher), AudioResult::Ok);

    ASSERT_TRUE(e2e::SetDefaultSink(other));
    EXPECT_TRUE(PollUntil([&] { return watcher.Saw(other); }, kDeadline));
    auto endpoint = Default();
    ASSERT_EQ(endpoint->GetId(), other);
    std::unique_ptr<EndpointVolume> volume;
    ASSERT_EQ(endpoint->ActivateEndpointVolume(volume), AudioResult::Ok);
    ASSERT_EQ(volume->SetMute(true), AudioResult::Ok);
    EXPECT_TRUE(PactlMuted(other));
    EXPECT_FALSE(PactlMuted(sink));

    // A session-only client (as the volume manager keeps) and a capture on the new sink both
    // hear of its removal.
    std::unique_ptr<AudioClient> session, capture;
    ASSERT_EQ(endpoint->ActivateAudioClient(session), AudioResult::Ok);
    ASSERT_EQ(endpoint->ActivateAudioClient(capture), AudioResult::Ok);
    WaveFormat format;
    ASSERT_EQ(session->GetMixFormat(format), AudioResult::Ok);
    ASSERT_EQ(session->Initialize(kStreamFlagNoPersist, k100ms, format), AudioResult::Ok);
    ASSERT_EQ(capture->Initialize(kStreamFlagLoopback, k100ms, format), AudioResult::Ok);
    std::unique_ptr<AudioSessionControl> sessionControl, captureControl;
    session->GetSessionControl(sessionControl);
    capture->GetSessionControl(captureControl);
    e2e::RecordingSession sessionEvents, captureEvents;
    sessionControl->RegisterAudioSessionNotification(&sessionEvents);
    captureControl->RegisterAudioSessionNotification(&captureEvents);
    ASSERT_EQ(capture->Start(), AudioResult::Ok);

    ASSERT_TRUE(e2e::SetDefaultSink(sink));
    EXPECT_TRUE(PollUntil([&] { return watcher.Saw(sink); }, kDeadline));
    e2e::UnloadModule(module);
    EXPECT_TRUE(PollUntil([&] { return !sessionEvents.Reasons().empty(); }, kDeadline));
    EXPECT_TRUE(PollUntil([&] { return !captureEvents.Reasons().empty(); }, kDeadline));
    EXPECT_EQ(sessionEvents.Reasons(), std::vector{DisconnectReason::DeviceRemoval});
    EXPECT_EQ(captureEvents.Reasons(), std::vector{DisconnectReason::DeviceRemoval});
    std::uint32_t frames = 0;
    EXPECT_EQ(capture->GetCurrentPadding(frames), AudioResult::DeviceInvalidated);
    EXPECT_EQ(capture->Stop(), AudioResult::Ok);
    EXPECT_EQ(volume->SetMute(false), AudioResult::NotFound);
    backend->UnregisterEndpointNotificationCallback(&watcher);
}

TEST_F(PulseBackendE2ETest, LoopbackHearsAPlayedToneEvenWhileTheSinkIsMuted) {
    e2e::TempFolder folder;
    const auto wav = folder.Path() / "tone.wav";
    e2e::WriteToneWav(wav, 48000, 2, 1000.0, 0.5, 1.5);
    e2e::Run("pactl set-sink-mute " + sink + " 1");

    std::unique_ptr<AudioClient> client;
    ASSERT_EQ(Default()->ActivateAudioClient(client), AudioResult::Ok);
    WaveFormat format;
    ASSERT_EQ(client->GetMixFormat(format), AudioResult::Ok);
    ASSERT_EQ(client->Initialize(kStreamFlagLoopback | kStreamFlagNoPersist, k100ms, format),
              AudioResult::Ok);
    std::unique_ptr<CaptureClient> capture;
    ASSERT_EQ(client->GetCaptureClient(capture), AudioResult::Ok);
    ASSERT_EQ(client->Start(), AudioResult::Ok);

    std::atomic<bool> played{false};
    std::thread player([&] {
        e2e::Run("paplay -d " + sink + " " + wav.string());
        played = true;
    });
    const auto tail = static_cast<std::size_t>(format.sampleRate / 4);
    Recording recording = Poll(*capture, format, [&](const Recording& r) {
        return played && r.mono.size() > format.sampleRate * 1.5 + tail;
    });
    player.join();
    ASSERT_EQ(client->Stop(), AudioResult::Ok);

    const auto window = e2e::LoudestWindow(recording.mono, format.sampleRate);
    const double amplitude = e2e::ToneAmplitude(window, format.sampleRate, 1000.0);
    std::printf("loopback: %u packets, largest %u frames (%.1f ms), 1 kHz amplitude %.3f\n",
                recording.packets, recording.largestPacket,
                1000.0 * recording.largestPacket / format.sampleRate, amplitude);
    EXPECT_NEAR(amplitude, 0.5, 0.05);
    EXPECT_LT(e2e::ToneAmplitude(window, format.sampleRate, 1500.0), 0.02);
    EXPECT_NEAR(e2e::Rms(window), 0.5 / std::sqrt(2.0), 0.04);
    // Small packets, not the server's two-second default.
    EXPECT_LE(recording.largestPacket, format.sampleRate / 20);
}

TEST_F(PulseBackendE2ETest, ARenderedToneIsRecordedBackByParec) {
    e2e::TempFolder folder;
    const auto raw = folder.Path() / "recorded.raw";
    std::thread recorder([&] {
        e2e::Run("timeout 4 parec -d " + sink + ".monitor --format=float32le --rate=48000 " +
                 "--channels=2 --latency-msec=20 > " + raw.string());
    });
    ASSERT_TRUE(
        PollUntil([] { return !e2e::Run("pactl list short source-outputs").empty(); }, kDeadline));

    std::unique_ptr<AudioClient> client;
    ASSERT_EQ(Default()->ActivateAudioClient(client), AudioResult::Ok);
    WaveFormat format;
    client->GetMixFormat(format);
    ASSERT_EQ(client->Initialize(kStreamFlagEventCallback | kStreamFlagNoPersist,
                                 50 * kHundredNsPerMs, format),
              AudioResult::Ok);
    auto ready = std::make_shared<Event>(Event::Mode::AutoReset);
    ASSERT_EQ(client->SetEventHandle(ready), AudioResult::Ok);
    std::unique_ptr<RenderClient> render;
    ASSERT_EQ(client->GetRenderClient(render), AudioResult::Ok);
    std::uint32_t bufferFrames = 0;
    ASSERT_EQ(client->GetBufferSize(bufferFrames), AudioResult::Ok);
    EXPECT_GT(bufferFrames, 0u);

    const auto tone = MakeToneBytes(format, 660.0, 0.4, format.sampleRate);
    const std::size_t totalFrames = tone.size() / format.blockAlign;
    std::size_t written = 0;
    ASSERT_EQ(client->Start(), AudioResult::Ok);
    int events = 0;
    const auto start = std::chrono::steady_clock::now();
    while (written < totalFrames && ready->Wait(1s)) {
        ++events;
        std::uint32_t padding = 0;
        ASSERT_EQ(client->GetCurrentPadding(padding), AudioResult::Ok);
        const auto frames = static_cast<std::uint32_t>(
            std::min<std::size_t>(bufferFrames - padding, totalFrames - written));
        if (frames == 0) {
            continue;
        }
        std::uint8_t* data = nullptr;
        ASSERT_EQ(render->GetBuffer(frames, data), AudioResult::Ok);
        std::copy_n(tone.begin() + static_cast<std::ptrdiff_t>(written * format.blockAlign),
                    frames * format.blockAlign, data);
        ASSERT_EQ(render->ReleaseBuffer(frames, 0), AudioResult::Ok);
        written += frames;
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(written, totalFrames);
    std::printf("render: buffer %u frames, %d events, 1 s of audio written in %.2f s\n",
                bufferFrames, events, seconds);
    EXPECT_GT(seconds, 0.8);  // paced by the server, not written all at once
    EXPECT_TRUE(PollUntil(
        [&] {
            std::uint32_t padding = 1;
            return client->GetCurrentPadding(padding) == AudioResult::Ok && padding == 0;
        },
        kDeadline));
    client->Stop();
    recorder.join();

    const auto interleaved = e2e::ReadFloats(raw);
    std::vector<float> recorded;  // the left channel
    for (std::size_t i = 0; i < interleaved.size(); i += 2) {
        recorded.push_back(interleaved[i]);
    }
    const auto window = e2e::LoudestWindow(recorded, 48000 / 2);
    const double amplitude = e2e::ToneAmplitude(window, 48000, 660.0);
    std::printf("parec: %zu samples, 660 Hz amplitude %.3f\n", recorded.size(), amplitude);
    EXPECT_NEAR(amplitude, 0.4, 0.05);
    EXPECT_LT(e2e::ToneAmplitude(window, 48000, 1000.0), 0.02);
}

TEST(PulseBackendNoServerTest, CallsFailWithinTheTimeOutWhenNoServerAnswers) {
    e2e::TempFolder folder;
    PulseBackendOptions options;
    options.server = "unix:" + (folder.Path() / "no-server").string();
    options.connectTimeout = 800ms;
    std::mutex mutex;
    std::vector<std::string> warnings;
    options.warn = [&](const std::string& message) {
        std::lock_guard lock(mutex);
        warnings.push_back(message);
    };
    PulseBackend backend(options);
    for (int attempt = 0; attempt < 3; ++attempt) {
        const auto start = std::chrono::steady_clock::now();
        std::shared_ptr<AudioEndpoint> endpoint;
        EXPECT_EQ(backend.GetDefaultAudioEndpoint(endpoint), AudioResult::NoServer);
        std::string name;
        EXPECT_EQ(backend.QueryServerName(name), AudioResult::NoServer);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, 2 * options.connectTimeout + 500ms);
        std::printf("no server: two calls answered in %lld ms\n",
                    static_cast<long long>(
                        std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));
    }
    std::lock_guard lock(mutex);
    ASSERT_FALSE(warnings.empty());
    EXPECT_NE(warnings.front().find("pa_context_connect"), std::string::npos) << warnings.front();
    EXPECT_EQ(warnings.size(), 1u);  // one warning per outage, not one per attempt
}

TEST(PulseBackendNoServerTest, AServerThatNeverAnswersTimesOut) {
    // A socket that takes connections into its backlog and never says a word.
    e2e::TempFolder folder;
    const std::string path = (folder.Path() / "mute-server").string();
    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    ASSERT_LT(path.size(), sizeof address.sun_path);
    std::strcpy(address.sun_path, path.c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 8), 0);

    PulseBackendOptions options;
    options.server = "unix:" + path;
    options.connectTimeout = 700ms;
    options.warn = [](const std::string&) {};
    {
        PulseBackend backend(options);
        const auto start = std::chrono::steady_clock::now();
        std::shared_ptr<AudioEndpoint> endpoint;
        EXPECT_EQ(backend.GetDefaultAudioEndpoint(endpoint), AudioResult::NoServer);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_GE(took, options.connectTimeout - 100ms);
        EXPECT_LT(took, options.connectTimeout + 1500ms);
    }
    close(listener);
}

}  // namespace
}  // namespace hushwell
