// The volume manager on the PulseAudio backend against a private server started by
// scripts/pw-sandbox, checked with `pactl` the way a user would see it. It also prints the
// time from a mute request to the mute being visible to `pactl`, and the pace of a ramp.

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "audio/pulse/PulseBackend.h"
#include "base/Event.h"
#include "tests/support/Eventually.h"
#include "tests/support/SandboxTools.h"
#include "triggers/VolumeManager.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr auto kDeadline = 15s;
const char* const kOtherSink = "hushwell_other";

// Sink names come from the sandbox and this file; anything else is refused before it could
// reach the shell that runs pactl.
bool IsPlainName(const std::string& name) {
    return !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == '.';
    });
}

// Runs a pactl command line and returns what it printed, or nullopt when it failed.
std::optional<std::string> Pactl(const std::string& arguments) {
    std::string command = "pactl " + arguments + " 2>/dev/null";
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return std::nullopt;
    }
    std::string out;
    std::array<char, 512> buffer{};
    while (std::fgets(buffer.data(), buffer.size(), pipe) != nullptr) {
        out += buffer.data();
    }
    return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

std::optional<bool> SinkMuted(const std::string& sink) {
    auto out = Pactl("get-sink-mute " + sink);
    if (!out) {
        return std::nullopt;
    }
    return out->find("Mute: yes") != std::string::npos;
}

// The largest channel's volume in percent, as pactl prints it ("32768 /  50% / ...").
std::optional<int> SinkPercent(const std::string& sink) {
    auto out = Pactl("get-sink-volume " + sink);
    if (!out) {
        return std::nullopt;
    }
    static const std::regex channel(R"((\d+) /\s*(\d+)%)");
    std::optional<int> largest;
    for (std::sregex_iterator it(out->begin(), out->end(), channel), end; it != end; ++it) {
        largest = std::max(largest.value_or(0), std::stoi((*it)[2].str()));
    }
    return largest;
}

using testing::Eventually;

// The server's default sink as pactl reports it, for a failure message.
std::string DefaultSink() {
    return Pactl("get-default-sink").value_or("(pactl failed)\n");
}

// Sets the volume and waits until the sink reports it: the server acknowledges the request
// before the sink's new volume is visible to other clients.
bool SetSinkPercent(const std::string& sink, int percent) {
    return Pactl("set-sink-volume " + sink + " " + std::to_string(percent) + "%").has_value() &&
           Eventually([&] { return SinkPercent(sink) == percent; });
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

double MsSince(SteadyClock::time_point start) {
    return std::chrono::duration<double, std::milli>(SteadyClock::now() - start).count();
}

// A running control on a thread of its own, answering the manager's suspend and resume events
// as the control runners do.
class ThreadControl {
public:
    ThreadControl(VolumeManager& manager, std::function<void()> apply, std::function<void()> undo)
        : manager_(manager), apply_(std::move(apply)), undo_(std::move(undo)) {
        manager_.AddControlEvents(&suspend_, &resume_);
        apply_();
        thread_ = std::thread([this] { Run(); });
    }
    ~ThreadControl() {
        stop_.Set();
        thread_.join();
        manager_.RemoveControlEvents(&suspend_, &resume_);
    }
    void Undo() { undo_(); }

private:
    void Run() {
        for (;;) {
            auto woken = WaitForAny({&stop_, &suspend_, &resume_}, kWaitForever);
            if (woken == 0u) {
                return;
            }
            if (woken == 1u) {
                undo_();
            } else if (woken == 2u) {
                apply_();
            }
        }
    }

    VolumeManager& manager_;
    std::function<void()> apply_;
    std::function<void()> undo_;
    Event stop_;
    Event suspend_;
    Event resume_;
    std::thread thread_;
};

class VolumeManagerE2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        const char* sink = std::getenv("HUSHWELL_TEST_SINK");
        if (sink == nullptr) {
            GTEST_SKIP() << "not inside scripts/pw-sandbox (HUSHWELL_TEST_SINK is not set)";
        }
        sink_ = sink;
        ASSERT_TRUE(IsPlainName(sink_)) << sink_;
        ASSERT_TRUE(SetSinkPercent(sink_, 50));
        ASSERT_TRUE(Pactl("set-sink-mute " + sink_ + " 0"));
        backend_ = std::make_unique<PulseBackend>();
    }

    void TearDown() override {
        manager_.reset();
        backend_.reset();
        if (otherModule_) {
            Pactl("unload-module " + *otherModule_);
        }
    }

    void StartManager() {
        manager_ = std::make_unique<VolumeManager>(*backend_);
        ASSERT_TRUE(manager_->WaitUntilIdle(kDeadline));
        ASSERT_EQ(manager_->BoundDeviceId(), sink_);
    }

    // A second null sink; the test sink stays the default.
    void AddOtherSink() {
        otherModule_ = Pactl(std::string("load-module module-null-sink sink_name=") + kOtherSink +
                             " sink_properties=monitor.channel-volumes=false");
        ASSERT_TRUE(otherModule_);
        otherModule_->erase(otherModule_->find_last_not_of(" \n") + 1);
        ASSERT_TRUE(SetSinkPercent(kOtherSink, 50));
        ASSERT_TRUE(Eventually([&] {
            return Pactl("set-default-sink " + sink_) &&
                   Pactl("get-default-sink").value_or("") == sink_ + "\n";
        }));
    }

    std::string sink_;
    std::optional<std::string> otherModule_;
    std::unique_ptr<PulseBackend> backend_;
    std::unique_ptr<VolumeManager> manager_;
};

TEST_F(VolumeManagerE2eTest, MuteAndOnePercentStepsAsPactlReadsThem) {
    StartManager();
    manager_->SetUpRate(300);
    manager_->SetDownRate(300);

    manager_->RequestMute(true);
    EXPECT_TRUE(Eventually([&] { return SinkMuted(sink_) == true; }));
    manager_->RequestMute(false);
    EXPECT_TRUE(Eventually([&] { return SinkMuted(sink_) == false; }));

    manager_->RequestVolumeSteps(-3);
    ASSERT_TRUE(manager_->WaitUntilIdle(kDeadline));
    EXPECT_EQ(SinkPercent(sink_), 47);
    manager_->RequestVolumeSteps(+3);
    ASSERT_TRUE(manager_->WaitUntilIdle(kDeadline));
    EXPECT_EQ(SinkPercent(sink_), 50);

    // At the top, the steps not taken are remembered and the way down is the same size.
    ASSERT_TRUE(SetSinkPercent(sink_, 98));
    manager_->RequestVolumeSteps(+5);
    ASSERT_TRUE(manager_->WaitUntilIdle(kDeadline));
    EXPECT_EQ(SinkPercent(sink_), 100);
    EXPECT_EQ(manager_->UnappliedSteps(), 3);
    manager_->RequestVolumeSteps(-5);
    ASSERT_TRUE(manager_->WaitUntilIdle(kDeadline));
    EXPECT_EQ(SinkPercent(sink_), 98);

    // From 2 % down to silence and back: the lowest step is reachable.
    ASSERT_TRUE(SetSinkPercent(sink_, 2));
    manager_->RequestVolumeSteps(-2);
    ASSERT_TRUE(manager_->WaitUntilIdle(kDeadline));
    EXPECT_EQ(SinkPercent(sink_), 0);
    EXPECT_EQ(manager_->UnappliedSteps(), 0);
    manager_->RequestVolumeSteps(+2);
    ASSERT_TRUE(manager_->WaitUntilIdle(kDeadline));
    EXPECT_EQ(SinkPercent(sink_), 2);
}

TEST_F(VolumeManagerE2eTest, FollowsADefaultSinkSwitch) {
    AddOtherSink();
    StartManager();
    manager_->SetUpRate(300);
    manager_->SetDownRate(300);
    ThreadControl mute(
        *manager_, [&] { manager_->RequestMute(true); }, [&] { manager_->RequestMute(false); });
    ThreadControl down(
        *manager_, [&] { manager_->RequestVolumeSteps(-5); },
        [&] { manager_->RequestVolumeSteps(+5); });
    ASSERT_TRUE(Eventually([&] { return SinkMuted(sink_) == true && SinkPercent(sink_) == 45; }));

    const auto switchStart = SteadyClock::now();
    ASSERT_TRUE(e2e::SetDefaultSink(kOtherSink)) << DefaultSink();
    EXPECT_TRUE(Eventually([&] {
        return SinkMuted(kOtherSink) == true && SinkPercent(kOtherSink) == 45 &&
               SinkMuted(sink_) == false && SinkPercent(sink_) == 50;
    })) << "old: muted "
        << SinkMuted(sink_).value_or(false) << " " << SinkPercent(sink_).value_or(-1)
        << "%, new: muted " << SinkMuted(kOtherSink).value_or(false) << " "
        << SinkPercent(kOtherSink).value_or(-1) << "%";
    std::printf(
        "[ figures  ] default-sink switch with two controls: %.0f ms until pactl shows "
        "both sinks right\n",
        MsSince(switchStart));
    EXPECT_EQ(manager_->BoundDeviceId(), kOtherSink);

    mute.Undo();
    down.Undo();
    EXPECT_TRUE(Eventually([&] {
        return SinkMuted(kOtherSink) == false && SinkPercent(kOtherSink) == 50 &&
               SinkMuted(sink_) == false && SinkPercent(sink_) == 50;
    }));
}

TEST_F(VolumeManagerE2eTest, FollowsTheRemovalOfTheDefaultSink) {
    AddOtherSink();
    StartManager();
    ThreadControl mute(
        *manager_, [&] { manager_->RequestMute(true); }, [&] { manager_->RequestMute(false); });
    ASSERT_TRUE(e2e::SetDefaultSink(kOtherSink)) << DefaultSink();
    ASSERT_TRUE(Eventually([&] { return SinkMuted(kOtherSink) == true; }))
        << "default " << DefaultSink() << ", bound to " << manager_->BoundDeviceId();

    // Unplugged: the server falls back to the test sink, and the control follows.
    ASSERT_TRUE(Pactl("unload-module " + *otherModule_));
    otherModule_.reset();
    EXPECT_TRUE(Eventually([&] {
        return manager_->BoundDeviceId() == sink_ && SinkMuted(sink_) == true;
    })) << "bound to "
        << manager_->BoundDeviceId();
    mute.Undo();
    EXPECT_TRUE(Eventually([&] { return SinkMuted(sink_) == false; }));
}

TEST_F(VolumeManagerE2eTest, MeasuresMuteLatencyAndRampPace) {
    StartManager();

    // The cost of one look through pactl bounds how finely the latency can be seen.
    std::vector<double> pactlMs;
    for (int i = 0; i < 5; ++i) {
        const auto start = SteadyClock::now();
        ASSERT_TRUE(SinkMuted(sink_).has_value());
        pactlMs.push_back(MsSince(start));
    }

    std::vector<double> muteMs;
    bool muted = false;
    for (int i = 0; i < 9; ++i) {
        muted = !muted;
        const auto start = SteadyClock::now();
        manager_->RequestMute(muted);
        ASSERT_TRUE(Eventually([&] { return SinkMuted(sink_) == muted; }));
        muteMs.push_back(MsSince(start));
    }
    std::printf(
        "[ figures  ] RequestMute to pactl showing it: median %.1f ms (min %.1f, max %.1f,"
        " %zu runs); one pactl call takes %.1f ms\n",
        Median(muteMs), *std::min_element(muteMs.begin(), muteMs.end()),
        *std::max_element(muteMs.begin(), muteMs.end()), muteMs.size(), Median(pactlMs));

    constexpr int kSteps = 10;
    manager_->SetUpRate(50);
    manager_->SetDownRate(50);
    ASSERT_EQ(manager_->UpIntervalMs(), 200);
    for (int direction : {+1, -1}) {
        const auto start = SteadyClock::now();
        manager_->RequestVolumeSteps(direction * kSteps);
        ASSERT_TRUE(manager_->WaitUntilIdle(kDeadline));
        const double doneMs = MsSince(start);
        const int expected = 50 + (direction > 0 ? kSteps : 0);
        ASSERT_TRUE(Eventually([&] { return SinkPercent(sink_) == expected; }));
        const double seenMs = MsSince(start);
        std::printf(
            "[ figures  ] rate 50, %+d steps: worker done after %.0f ms (%.1f ms per step),"
            " pactl shows %d%% after %.0f ms\n",
            direction * kSteps, doneMs, doneMs / kSteps, expected, seenMs);
        EXPECT_GE(doneMs, kSteps * 200.0);
    }
}

}  // namespace
}  // namespace hushwell
