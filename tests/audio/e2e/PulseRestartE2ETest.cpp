// The PulseAudio backend across a restart of the sound server. Run in a sandbox of its own
// (it stops the sandbox's pipewire-pulse and starts, then stops, a replacement).
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioSessionControl.h"
#include "audio/EndpointVolume.h"
#include "audio/pulse/PulseBackend.h"
#include "tests/support/SandboxTools.h"

extern char** environ;

namespace hushwell {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 15s;
constexpr auto kReassertWait = 500ms;
constexpr const char* kAgain = "hushwell_again";

bool SinkExists(const std::string& sink) {
    return e2e::Run("pactl list short sinks").find("\t" + sink + "\t") != std::string::npos;
}

// The sinks as the backend's own connection sees them, for a failure message.
std::string BackendSinks(PulseBackend& backend) {
    std::vector<std::string> ids;
    const AudioResult result = backend.EnumAudioEndpoints(ids);
    std::string text = "(result " + std::to_string(static_cast<int>(result)) + ")";
    for (const std::string& id : ids) {
        text += " " + id;
    }
    return text;
}

// The named sink as the backend's own connection finds it, and the default as a new connection
// finds it: a server that keeps a stale view per client answers these two differently.
std::string BackendLookups(PulseBackend& backend, const std::string& sink) {
    std::shared_ptr<AudioEndpoint> named;
    const AudioResult byName = backend.GetAudioEndpoint(sink, named);
    PulseBackend fresh;
    std::shared_ptr<AudioEndpoint> freshDefault;
    const AudioResult byFresh = fresh.GetDefaultAudioEndpoint(freshDefault);
    return "by name: " + std::to_string(static_cast<int>(byName)) +
           ", default on a new connection: " + std::to_string(static_cast<int>(byFresh)) + " \"" +
           (byFresh == AudioResult::Ok ? freshDefault->GetId() : std::string()) + "\"";
}

// What the server says, for a failure message.
std::string ServerState() {
    return "pactl info:\n" + e2e::Run("pactl info 2>&1") + "sinks:\n" +
           e2e::Run("pactl list short sinks 2>&1") +
           "default: " + e2e::Run("pactl get-default-sink 2>&1");
}

bool Exited(pid_t pid) {
    return kill(pid, 0) != 0;
}

// A pipewire-pulse started by the test, stopped by its pid when the test ends.
class ReplacementServer {
public:
    ReplacementServer() {
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        char name[] = "pipewire-pulse";
        char* argv[] = {name, nullptr};
        if (posix_spawnp(&pid_, name, &actions, nullptr, argv, environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ReplacementServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    ReplacementServer(const ReplacementServer&) = delete;
    ReplacementServer& operator=(const ReplacementServer&) = delete;
    bool Started() const { return pid_ > 0; }

private:
    pid_t pid_ = -1;
};

TEST(PulseRestartE2ETest, ReconnectsWithANewContextAfterTheServerRestarts) {
    const std::string sink = e2e::SandboxSink();
    const char* serverPid = std::getenv("HUSHWELL_SANDBOX_PULSE_PID");
    if (sink.empty() || serverPid == nullptr) {
        GTEST_SKIP() << "needs the private sound server: run through scripts/pw-sandbox";
    }
    PulseBackendOptions options;
    options.connectTimeout = 1000ms;
    std::mutex mutex;
    std::vector<std::string> warnings;
    options.warn = [&](const std::string& message) {
        std::lock_guard lock(mutex);
        warnings.push_back(message);
    };
    PulseBackend backend(options);
    std::shared_ptr<AudioEndpoint> endpoint;
    ASSERT_EQ(backend.GetDefaultAudioEndpoint(endpoint), AudioResult::Ok);
    std::unique_ptr<AudioClient> session;
    ASSERT_EQ(endpoint->ActivateAudioClient(session), AudioResult::Ok);
    WaveFormat format;
    session->GetMixFormat(format);
    ASSERT_EQ(session->Initialize(kStreamFlagNoPersist, 0, format), AudioResult::Ok);
    std::unique_ptr<AudioSessionControl> control;
    session->GetSessionControl(control);
    e2e::RecordingSession events;
    control->RegisterAudioSessionNotification(&events);

    // The server goes away: the session hears of it and calls fail within the time-out.
    const auto pid = static_cast<pid_t>(std::atoi(serverPid));
    ASSERT_EQ(kill(pid, SIGTERM), 0);
    ASSERT_TRUE(e2e::PollUntil([&] { return Exited(pid); }, kDeadline));
    EXPECT_TRUE(e2e::PollUntil([&] { return !events.Reasons().empty(); }, kDeadline));
    EXPECT_EQ(events.Reasons(), std::vector{DisconnectReason::DeviceRemoval});
    const auto start = std::chrono::steady_clock::now();
    std::string name;
    EXPECT_EQ(backend.QueryServerName(name), AudioResult::NoServer);
    EXPECT_LT(std::chrono::steady_clock::now() - start, 2 * options.connectTimeout + 500ms);

    // A new server comes: the backend connects again on its own.
    ReplacementServer replacement;
    ASSERT_TRUE(replacement.Started());
    ASSERT_TRUE(e2e::PollUntil([&] { return backend.QueryServerName(name) == AudioResult::Ok; },
                               kDeadline));
    // The new sink must exist before it can be the default, and the session manager may put
    // another default back after the switch: the test asks again until the server holds it.
    const std::string module = e2e::LoadNullSink(kAgain);
    ASSERT_TRUE(e2e::PollUntil([] { return SinkExists(kAgain); }, kDeadline)) << ServerState();
    ASSERT_TRUE(e2e::SetDefaultSink(kAgain)) << ServerState();
    std::shared_ptr<AudioEndpoint> again;
    AudioResult lastResult = AudioResult::Ok;
    std::string lastSeen;
    const bool found = e2e::PollUntil(
        [&] {
            if (e2e::Run("pactl get-default-sink") != std::string(kAgain) + "\n") {
                e2e::SetDefaultSink(kAgain, kReassertWait);
            }
            lastResult = backend.GetDefaultAudioEndpoint(again);
            lastSeen = lastResult == AudioResult::Ok ? again->GetId() : std::string();
            return lastResult == AudioResult::Ok && lastSeen == kAgain;
        },
        kDeadline);
    ASSERT_TRUE(found) << "the backend last saw " << static_cast<int>(lastResult) << " \""
                       << lastSeen << "\", and sinks " << BackendSinks(backend) << "; "
                       << BackendLookups(backend, kAgain) << "\n"
                       << ServerState();
    std::unique_ptr<EndpointVolume> volume;
    ASSERT_EQ(again->ActivateEndpointVolume(volume), AudioResult::Ok);
    ASSERT_EQ(volume->SetMute(true), AudioResult::Ok);
    EXPECT_TRUE(e2e::PactlMuted(kAgain));
    // The old client stays dead; the old session is not told twice.
    std::uint32_t frames = 0;
    EXPECT_EQ(session->GetCurrentPadding(frames), AudioResult::DeviceInvalidated);
    EXPECT_EQ(events.Reasons().size(), 1u);

    std::lock_guard lock(mutex);
    ASSERT_FALSE(warnings.empty());
    EXPECT_NE(warnings.front().find("pa_context"), std::string::npos) << warnings.front();
}

}  // namespace
}  // namespace hushwell
