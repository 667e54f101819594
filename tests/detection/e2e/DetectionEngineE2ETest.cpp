// The detection engine end to end: hushwell-engine-host runs the real engine on the PulseAudio
// backend against the private server of scripts/pw-sandbox, on a temporary application data
// folder. Sounds are played with paplay; what the engine did is read with pactl and from the
// host's output and event log, as a user would see it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <numbers>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/SandboxTools.h"
#include "wav/WaveFile.h"
#include "wav/WaveFormat.h"

extern char** environ;

namespace hushwell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr std::uint32_t kRate = 48000;
constexpr auto kDeadline = 15s;
// Matching needs about 4.1 s of live audio; sounds are preceded by this much lead-in.
constexpr double kLeadInSeconds = 5.0;

std::string Text(const fs::path& path) {
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

int CountLines(const fs::path& path, const std::string& needle) {
    std::ifstream in(path);
    int count = 0;
    for (std::string line; std::getline(in, line);) {
        count += line.find(needle) != std::string::npos;
    }
    return count;
}

void WriteMonoWav(const fs::path& path, const std::vector<float>& samples) {
    WaveFormat format;
    format.formatTag = kWaveTagPcm;
    format.channels = 1;
    format.sampleRate = kRate;
    format.bitsPerSample = 16;
    format.blockAlign = 2;
    format.byteRate = kRate * 2;
    std::vector<std::int16_t> pcm;
    for (float s : samples) {
        pcm.push_back(static_cast<std::int16_t>(std::lround(s * 32767)));
    }
    ASSERT_TRUE(WriteWaveFile(path, std::as_bytes(std::span(pcm)), format));
}

void AppendTone(std::vector<float>& out, double frequency, double amplitude, double seconds) {
    const auto n = static_cast<std::size_t>(seconds * kRate);
    for (std::size_t i = 0; i < n; ++i) {
        out.push_back(
            static_cast<float>(amplitude * std::sin(2 * std::numbers::pi * frequency * i / kRate)));
    }
}

// The reference sound: four tones of a quarter second each.
std::vector<float> Reference() {
    std::vector<float> samples;
    for (double tone : {600.0, 1500.0, 900.0, 2400.0}) {
        AppendTone(samples, tone, 0.5, 0.25);
    }
    return samples;
}

// Quiet broadband noise, the background the reference plays over.
std::vector<float> Noise(double seconds, float amplitude) {
    std::vector<float> samples(static_cast<std::size_t>(seconds * kRate));
    std::uint32_t state = 987654321;
    for (float& s : samples) {
        state = state * 1664525u + 1013904223u;
        s = amplitude * (static_cast<float>(state >> 8) / static_cast<float>(1u << 24) * 2 - 1);
    }
    return samples;
}

// A child process started with its output in a file, stopped by its pid.
class Child {
public:
    Child(const std::vector<std::string>& args, const fs::path& output) {
        std::vector<char*> argv;
        for (const std::string& arg : args) {
            argv.push_back(const_cast<char*>(arg.c_str()));
        }
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0600);
        posix_spawn_file_actions_adddup2(&actions, 1, 2);
        if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
            pid_ = -1;
        }
        posix_spawn_file_actions_destroy(&actions);
    }
    ~Child() { Stop(); }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool Started() const { return pid_ > 0; }
    pid_t Pid() const { return pid_; }
    bool Exited() {
        if (pid_ <= 0) {
            return true;
        }
        int status = 0;
        if (waitpid(pid_, &status, WNOHANG) == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = -1;
            return true;
        }
        return false;
    }
    // SIGTERM, then waits; the exit status (-1 when killed by a signal).
    int Stop() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            int status = 0;
            waitpid(pid_, &status, 0);
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            pid_ = -1;
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    int status_ = -1;
};

class DetectionEngineE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        sink_ = e2e::SandboxSink();
        if (sink_.empty()) {
            GTEST_SKIP() << "needs the private sound server: run through scripts/pw-sandbox";
        }
        data_ = folder_.Path() / "Hushwell";
        fs::create_directories(data_ / "triggers");
        WriteMonoWav(data_ / "triggers" / "bell.wav", Reference());
        std::vector<float> delayed(static_cast<std::size_t>(kLeadInSeconds * kRate), 0.0f);
        const std::vector<float> reference = Reference();
        delayed.insert(delayed.end(), reference.begin(), reference.end());
        WriteMonoWav(folder_.Path() / "delayed-bell.wav", delayed);
        WriteMonoWav(folder_.Path() / "background.wav", Noise(kLeadInSeconds + 6, 0.03f));
        std::vector<float> loud;
        AppendTone(loud, 1000.0, 0.9, 2.0);
        WriteMonoWav(folder_.Path() / "loud.wav", loud);
    }

    // Starts the host with these trigger options and waits until it is ready.
    void StartHost(std::vector<std::string> triggers) {
        std::vector<std::string> args = {HUSHWELL_ENGINE_HOST, "--data", data_.string()};
        args.insert(args.end(), triggers.begin(), triggers.end());
        host_ = std::make_unique<Child>(args, HostOutput());
        ASSERT_TRUE(host_->Started());
        ASSERT_TRUE(e2e::PollUntil(
            [&] { return Text(HostOutput()).find("ready") != std::string::npos; }, kDeadline))
            << Text(HostOutput());
    }

    void TearDown() override {
        if (host_) {
            EXPECT_EQ(host_->Stop(), 0) << Text(HostOutput());
        }
        // Shutting down undoes every running control.
        if (!sink_.empty() && host_) {
            EXPECT_FALSE(e2e::PactlMuted(sink_));
        }
    }

    fs::path HostOutput() const { return folder_.Path() / "host.txt"; }
    fs::path Log() const { return data_ / "Hushwell-log.txt"; }
    int Fired(const std::string& name) const { return CountLines(HostOutput(), "fired " + name); }

    // Plays a file to its end (paplay returns once it has been played).
    void PlayToEnd(const std::string& file) {
        int status = -1;
        e2e::Run("paplay -d " + sink_ + " " + (folder_.Path() / file).string(), &status);
        ASSERT_EQ(status, 0);
    }
    std::unique_ptr<Child> PlayInBackground(const std::string& file) {
        auto child = std::make_unique<Child>(
            std::vector<std::string>{"paplay", "-d", sink_, (folder_.Path() / file).string()},
            folder_.Path() / ("paplay-" + file + ".txt"));
        EXPECT_TRUE(child->Started());
        return child;
    }

    bool WaitMuted(bool muted, std::chrono::milliseconds timeout = kDeadline) {
        return e2e::PollUntil([&] { return e2e::PactlMuted(sink_) == muted; }, timeout);
    }

    // The reference over background sound: muted soon after it ends, and for its duration.
    void PlayReferenceOverBackground(int durationSeconds) {
        auto background = PlayInBackground("background.wav");
        PlayToEnd("delayed-bell.wav");
        const auto end = SteadyClock::now();
        ASSERT_TRUE(WaitMuted(true, 3s)) << Text(HostOutput());
        ASSERT_TRUE(WaitMuted(false));
        const auto muted = SteadyClock::now() - end;
        EXPECT_GT(muted, std::chrono::seconds(durationSeconds) - 500ms);
        EXPECT_LT(muted, std::chrono::seconds(durationSeconds) + 3s);
    }

    e2e::TempFolder folder_;
    fs::path data_;
    std::string sink_;
    std::unique_ptr<Child> host_;
};

TEST_F(DetectionEngineE2ETest, SoundTriggerMutesOverBackgroundSoundForItsDuration) {
    StartHost({"--sound", "bell.wav:3"});
    PlayReferenceOverBackground(3);
    EXPECT_EQ(Fired("bell"), 1);
    EXPECT_EQ(CountLines(Log(), ",bell"), 1);
}

TEST_F(DetectionEngineE2ETest, LevelTriggerFiresOnALoudToneAndReleasesAfterItStops) {
    StartHost({"--level", "30:1"});
    auto tone = PlayInBackground("loud.wav");
    ASSERT_TRUE(WaitMuted(true, 3s)) << Text(HostOutput());
    ASSERT_TRUE(e2e::PollUntil([&] { return tone->Exited(); }, kDeadline));
    // Kept muted while the tone lasts, released about a second after it.
    EXPECT_TRUE(WaitMuted(false, 4s));
    EXPECT_EQ(Fired("level 30"), 1);
}

TEST_F(DetectionEngineE2ETest, TimeTriggerSetToTheCurrentMinuteFires) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char minute[16];
    std::strftime(minute, sizeof minute, "%H:%M:00", &local);
    // Due from the start of the minute for 4 s plus its duration, so the whole minute is covered.
    StartHost({"--time", std::string(minute) + ":75"});
    EXPECT_TRUE(WaitMuted(true)) << Text(HostOutput());
    EXPECT_EQ(Fired(std::string("time ") + minute), 1);
}

// --- "program" targets: only the program that played the sound ------------------------------

// One playback stream as pactl lists it.
struct StreamState {
    bool muted = false;
    int percent = -1;  // the first channel's volume
};

// The playback streams of the client with this application name, in pactl's order.
std::vector<StreamState> StreamsOf(const std::string& applicationName) {
    std::vector<StreamState> streams;
    std::stringstream text(e2e::Run("pactl list sink-inputs 2>/dev/null"));
    StreamState current;
    bool inStream = false;
    for (std::string line; std::getline(text, line);) {
        if (line.starts_with("Sink Input #")) {
            current = StreamState();
            inStream = true;
        } else if (inStream && line.find("Mute: ") != std::string::npos) {
            current.muted = line.find("Mute: yes") != std::string::npos;
        } else if (inStream && line.find("Volume: ") != std::string::npos &&
                   line.find('%') != std::string::npos && current.percent < 0) {
            const auto percent = line.find('%');
            const auto start = line.rfind(' ', percent);
            current.percent = std::atoi(line.substr(start + 1, percent - start - 1).c_str());
        } else if (inStream && line.find("application.name = \"" + applicationName + "\"") !=
                                   std::string::npos) {
            streams.push_back(current);
        }
    }
    return streams;
}

// Two programs play at once: a music player (application name "Music") and a browser
// ("Jingle") whose sound holds the reference after a lead-in long enough for its stream's
// detection to start, and goes on afterwards.
class ProgramTargetE2ETest : public DetectionEngineE2ETest {
protected:
    // Long enough for the stream's detection to start, and to start again should the server
    // end the first recording of a stream it has just set up (seen on a loaded machine).
    static constexpr double kProgramLeadIn = 11.0;
    static constexpr double kTail = 9.0;
    static constexpr std::chrono::milliseconds kStreamPollPause{40};

    void SetUp() override {
        DetectionEngineE2ETest::SetUp();
        if (sink_.empty()) {
            return;
        }
        std::vector<float> jingle = Noise(kProgramLeadIn, 0.02f);
        const std::vector<float> reference = Reference();
        jingle.insert(jingle.end(), reference.begin(), reference.end());
        const std::vector<float> tail = Noise(kTail, 0.02f);
        jingle.insert(jingle.end(), tail.begin(), tail.end());
        WriteMonoWav(folder_.Path() / "jingle.wav", jingle);
        std::vector<float> music;
        AppendTone(music, 440.0, 0.2, kProgramLeadIn + 1 + kTail + 10);
        WriteMonoWav(folder_.Path() / "music.wav", music);
        WriteMonoWav(folder_.Path() / "quiet.wav", Noise(30, 0.01f));
    }

    std::unique_ptr<Child> PlayAs(const std::string& application, const std::string& file) {
        auto child = std::make_unique<Child>(
            std::vector<std::string>{"paplay", "-d", sink_,
                                     "--property=application.name=" + application,
                                     (folder_.Path() / file).string()},
            folder_.Path() / ("paplay-" + application + "-" + file + ".txt"));
        EXPECT_TRUE(child->Started());
        return child;
    }

    // Waits until every stream of the client has the state. Each look runs pactl, so it
    // looks every 50 ms, not to crowd a busy machine.
    bool WaitStreams(const std::string& application, bool muted, int percent = 100,
                     std::chrono::milliseconds timeout = kDeadline, std::size_t count = 1) {
        return e2e::PollUntil(
            [&] {
                const auto streams = StreamsOf(application);
                const bool reached =
                    streams.size() >= count &&
                    std::all_of(streams.begin(), streams.end(), [&](const StreamState& s) {
                        return s.muted == muted && s.percent == percent;
                    });
                if (!reached) {
                    std::this_thread::sleep_for(kStreamPollPause);
                }
                return reached;
            },
            timeout);
    }

    bool MusicAsBefore() {
        const auto streams = StreamsOf("Music");
        return streams.size() == 1 && !streams[0].muted && streams[0].percent == 100;
    }
    fs::path Record() const { return data_ / "HushwellOutput.txt"; }

    // Starts the music and the jingle and waits for the jingle's program to be changed.
    void PlayBoth(bool muted, int percent) {
        music_ = PlayAs("Music", "music.wav");
        ASSERT_TRUE(WaitStreams("Music", false));
        jingle_ = PlayAs("Jingle", "jingle.wav");
        ASSERT_TRUE(WaitStreams("Jingle", muted, percent, 20s))
            << Text(HostOutput()) << Text(Log())
            << Text(folder_.Path() / "paplay-Jingle-jingle.wav.txt")
            << e2e::Run("pactl list short sink-inputs");
        EXPECT_TRUE(MusicAsBefore());
        EXPECT_FALSE(e2e::PactlMuted(sink_));
    }

    std::unique_ptr<Child> music_;
    std::unique_ptr<Child> jingle_;
};

TEST_F(ProgramTargetE2ETest, OnlyTheJinglesProgramIsMutedAndComesBackAfterTheDuration) {
    StartHost({"--program", "bell.wav:mute:4"});
    PlayBoth(true, 100);
    // Named after the process binary of paplay (on Debian a link to pacat).
    EXPECT_EQ(Fired("bell.wav (pa"), 1) << Text(HostOutput());
    EXPECT_EQ(CountLines(Log(), ",bell.wav (pa"), 1);
    EXPECT_TRUE(fs::exists(Record()));

    // The program opens a second stream during the mute: muted too.
    auto second = PlayAs("Jingle", "quiet.wav");
    EXPECT_TRUE(WaitStreams("Jingle", true, 100, 3s, 2));
    EXPECT_TRUE(MusicAsBefore());

    EXPECT_TRUE(WaitStreams("Jingle", false, 100, 8s, 2));
    EXPECT_TRUE(MusicAsBefore());
    EXPECT_FALSE(fs::exists(Record()));
}

TEST_F(ProgramTargetE2ETest, DownThirtyLowersOnlyTheJinglesProgram) {
    StartHost({"--program", "bell.wav:down 30:4"});
    PlayBoth(false, 70);
    EXPECT_TRUE(WaitStreams("Jingle", false, 100, 8s));
    EXPECT_TRUE(MusicAsBefore());
}

TEST_F(ProgramTargetE2ETest, AKilledRunIsUndoneAtTheNextStartAndTheProgramComesBackUnmuted) {
    StartHost({"--program", "bell.wav:mute:30"});
    ASSERT_NO_FATAL_FAILURE(PlayBoth(true, 100));
    const pid_t pid = host_->Pid();
    ASSERT_EQ(kill(pid, SIGKILL), 0);
    host_->Stop();
    host_.reset();
    ASSERT_TRUE(fs::exists(Record()));
    EXPECT_TRUE(StreamsOf("Jingle").front().muted);

    StartHost({"--program", "bell.wav:mute:30"});
    EXPECT_TRUE(WaitStreams("Jingle", false, 100, 3s));
    EXPECT_FALSE(fs::exists(Record()));
    EXPECT_EQ(CountLines(Log(), "Restored the output after an unexpected end."), 1);
    jingle_->Stop();
    auto next = PlayAs("Jingle", "quiet.wav");
    EXPECT_TRUE(WaitStreams("Jingle", false, 100, 3s));
    EXPECT_TRUE(MusicAsBefore());
}

TEST_F(ProgramTargetE2ETest, AProgramThatEndsDuringTheControlLeavesNoRecordAndNoMute) {
    StartHost({"--program", "bell.wav:mute:4"});
    PlayBoth(true, 100);
    jingle_->Stop();  // the program ends while muted
    ASSERT_TRUE(e2e::PollUntil([&] { return StreamsOf("Jingle").empty(); }, kDeadline));
    EXPECT_TRUE(e2e::PollUntil([&] { return !fs::exists(Record()); }, 8s));
    // The server remembered the program as muted; that is given back too.
    auto next = PlayAs("Jingle", "quiet.wav");
    ASSERT_TRUE(e2e::PollUntil([&] { return !StreamsOf("Jingle").empty(); }, kDeadline));
    EXPECT_TRUE(WaitStreams("Jingle", false, 100, 3s));
    EXPECT_EQ(CountLines(HostOutput(), "failed"), 0) << Text(HostOutput());
    EXPECT_TRUE(MusicAsBefore());
}

// Stops the sandbox's pipewire-pulse and starts a replacement with the same output.
class ServerRestartE2ETest : public DetectionEngineE2ETest {
protected:
    void RestartServer() {
        const char* serverPid = std::getenv("HUSHWELL_SANDBOX_PULSE_PID");
        ASSERT_NE(serverPid, nullptr);
        const auto pid = static_cast<pid_t>(std::atoi(serverPid));
        ASSERT_EQ(kill(pid, SIGTERM), 0);
        ASSERT_TRUE(e2e::PollUntil([&] { return kill(pid, 0) != 0; }, kDeadline));
        ASSERT_TRUE(e2e::PollUntil([&] { return CountLines(Log(), "Capture is not running") == 1; },
                                   kDeadline));

        server_ = std::make_unique<Child>(std::vector<std::string>{"pipewire-pulse"},
                                          folder_.Path() / "pipewire-pulse.txt");
        ASSERT_TRUE(server_->Started());
        ASSERT_TRUE(
            e2e::PollUntil([&] { return !e2e::Run("pactl info 2>/dev/null").empty(); }, kDeadline));
        e2e::LoadNullSink(sink_);
        e2e::Run("pactl set-default-sink " + sink_);
        // Capture finds the output again by itself.
        ASSERT_TRUE(e2e::PollUntil(
            [&] { return CountLines(Log(), "Capture is running again.") == 1; }, kDeadline))
            << Text(Log());
    }

    void TearDown() override {
        if (host_) {
            EXPECT_EQ(host_->Stop(), 0) << Text(HostOutput());
            host_.reset();
        }
        server_.reset();
    }

    std::unique_ptr<Child> server_;
};

// A server that comes back with the same default output still reports it, so the volume
// manager binds to the new output and the control of a firing after the restart reaches it.
// (One test: the sandbox's own server can be replaced only once.)
TEST_F(ServerRestartE2ETest, ReferenceFiresAndMutesAgainAfterTheSoundServerRestarted) {
    StartHost({"--sound", "bell.wav:2"});
    PlayReferenceOverBackground(2);
    RestartServer();

    PlayReferenceOverBackground(2);
    EXPECT_EQ(Fired("bell"), 2) << Text(HostOutput());
    EXPECT_EQ(CountLines(Log(), ",bell"), 2);
}

}  // namespace
}  // namespace hushwell
