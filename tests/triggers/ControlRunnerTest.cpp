#include "triggers/ControlRunner.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "tests/support/Eventually.h"
#include "triggers/CommandOpener.h"
#include "triggers/ControlWorkerShutdown.h"
#include "triggers/Trigger.h"
#include "triggers/VolumeManager.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;

constexpr auto kGenerous = 20s;
// The pause in which the volume manager lets the controls answer its suspend or resume events.
constexpr std::chrono::milliseconds kControlsSettlePause{100};
const char* const kSpeakers = "speakers";
const char* const kHeadphones = "headphones";

using testing::Eventually;
using testing::HoldsFor;

// Records what "exec" controls open; can hold the opening thread until released.
class RecordingOpener final : public CommandOpener {
public:
    bool Open(const std::string& command, const std::string& commandArgs) override {
        std::unique_lock lock(mutex_);
        opened_.push_back(command + "|" + commandArgs);
        entered_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return !holding_; });
        return true;
    }
    // Holds the next opening, and every one after it until released.
    void Hold() {
        std::lock_guard lock(mutex_);
        holding_ = true;
        entered_ = false;
    }
    void Release() {
        std::lock_guard lock(mutex_);
        holding_ = false;
        changed_.notify_all();
    }
    bool WaitEntered() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kGenerous, [this] { return entered_; });
    }
    std::vector<std::string> Opened() {
        std::lock_guard lock(mutex_);
        return opened_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> opened_;
    bool holding_ = false;
    bool entered_ = false;
};

Trigger MakeTrigger(const std::string& kind, const std::string& control, int durationSeconds,
                    const std::string& target = "whole") {
    Trigger trigger;
    trigger.SetActive(true);
    trigger.name = "test " + control;
    trigger.triggerKind = kind;
    trigger.SetControl(control);
    trigger.duration =
        TriggerTime(durationSeconds / 3600, durationSeconds / 60 % 60, durationSeconds % 60);
    trigger.target = target;
    trigger.serialId = 7;
    return trigger;
}

// Runners on a real volume manager over a simulated output with two devices. The runners
// read their own manual clock, so deadlines pass only when a test moves it; the manager's
// pauses do not sleep, and during a device switch they wait for the runners to answer their
// suspend and resume events, so a switch plays out the same way every time.
class ControlRunnerTest : public ::testing::Test {
protected:
    ControlRunnerTest() {
        const WaveFormat format = MakeMixFormat(MixSampleType::Float32, 48000, 2);
        backend_.AddDevice(kSpeakers, format);
        backend_.AddDevice(kHeadphones, format);
        backend_.SetDeviceVolume(kSpeakers, 0.5f);
        backend_.SetDeviceVolume(kHeadphones, 0.5f);
        manager_ = std::make_unique<VolumeManager>(
            backend_, [this](std::chrono::milliseconds d) { Pause(d); });
        EXPECT_TRUE(Settle());
        EXPECT_EQ(manager_->BoundDeviceId(), kSpeakers);
    }
    ~ControlRunnerTest() override {
        runners_.clear();
        EXPECT_TRUE(ControlRunner::WaitForAllWorkers(kGenerous));
    }

    ControlRunner& StartRunner(const Trigger& trigger, bool idle = false) {
        auto runner = std::make_unique<ControlRunner>(*manager_, recorder_, clock_);
        runner->Init(trigger, idle);
        runner->Start();
        runners_.push_back(std::move(runner));
        return *runners_.back();
    }
    void Destroy(ControlRunner& runner) {
        std::erase_if(runners_, [&](const auto& r) { return r.get() == &runner; });
    }

    // Moves the runners' clock and wakes them to look at their deadlines again.
    void AdvanceSeconds(double seconds) {
        clock_.AdvanceMs(static_cast<std::uint64_t>(seconds * 1000));
        for (auto& runner : runners_) {
            runner->Wake();
        }
    }

    void Pause(std::chrono::milliseconds d) {
        audioClock_.AdvanceMs(static_cast<std::uint64_t>(d.count()));
        std::function<void()> hook;
        {
            std::lock_guard lock(hookMutex_);
            hook = onSettle_;
        }
        if (d == kControlsSettlePause && hook) {
            hook();
        }
    }
    // During a switch the manager pauses for the controls to answer after it has signalled
    // all suspend events, and again after all resume events. Here that pause lasts until
    // every runner has answered: it is suspended while the manager is still on the old
    // device and resumed once it is on the new one. `extra` then runs in the suspend pause.
    void FollowSwitch(const std::string& oldDevice, std::function<void()> extra = {}) {
        std::lock_guard lock(hookMutex_);
        onSettle_ = [this, oldDevice, extra] {
            const bool onOld = manager_->BoundDeviceId() == oldDevice;
            for (auto& runner : runners_) {
                if (runner->IsFinished() || runner->Applied() != 1) {
                    continue;
                }
                EXPECT_TRUE(Eventually([&] { return runner->IsSuspended() == onOld; }));
            }
            if (onOld && extra) {
                extra();
            }
        };
    }

    bool Settle() { return backend_.WaitForNotifications() && manager_->WaitUntilIdle(kGenerous); }
    bool MutedSoon(const char* device, bool muted) {
        return backend_.WaitUntil([&] { return backend_.IsMuted(device) == muted; }, kGenerous);
    }
    int Percent(const char* device) const {
        return static_cast<int>(backend_.Volume(device) * 100.0f + 0.5f);
    }
    // The volume in whole percent once every request posted so far has been carried out.
    int SettledPercent(const char* device) {
        EXPECT_TRUE(Settle());
        return Percent(device);
    }
    // The same after a runner's thread, which posts on its own time, has brought the volume
    // to `expected` (or after a generous deadline); a ramp going further still shows.
    int PercentOnceAt(const char* device, int expected) {
        backend_.WaitUntil([&] { return Percent(device) == expected; }, kGenerous);
        return SettledPercent(device);
    }

    ManualClock clock_{1000000, LocalTime{2026, 3, 2, 12, 0, 0, 1}};
    ManualClock audioClock_;
    SimulatedBackend backend_{audioClock_};
    RecordingOpener recorder_;
    std::mutex hookMutex_;
    std::function<void()> onSettle_;
    std::unique_ptr<VolumeManager> manager_;
    std::vector<std::unique_ptr<ControlRunner>> runners_;  // last: undone before the rest goes
};

TEST_F(ControlRunnerTest, RepeatedApplyRequestsDoNotStepTwice) {
    ControlRunner& runner = StartRunner(MakeTrigger("sound", "down 10", 60));
    EXPECT_EQ(PercentOnceAt(kSpeakers, 40), 40);
    runner.SignalApply();
    runner.Recheck(clock_.TickMs() + 5000);  // wanted == applied: nothing to do
    runner.SignalApply();
    EXPECT_TRUE(HoldsFor([&] { return Percent(kSpeakers) == 40; }));
    Destroy(runner);  // joins the worker: every request it made has been posted
    EXPECT_EQ(SettledPercent(kSpeakers), 50);
}

TEST_F(ControlRunnerTest, DestroyingARunnerMidPeriodUndoesAtOnce) {
    ControlRunner& mute = StartRunner(MakeTrigger("sound", "mute", 3600));
    ControlRunner& down = StartRunner(MakeTrigger("level", "down 20", 3600));
    ASSERT_TRUE(MutedSoon(kSpeakers, true));
    EXPECT_EQ(PercentOnceAt(kSpeakers, 30), 30);

    const auto before = std::chrono::steady_clock::now();
    Destroy(mute);
    Destroy(down);
    EXPECT_LT(std::chrono::steady_clock::now() - before, 10s);
    EXPECT_TRUE(MutedSoon(kSpeakers, false));
    EXPECT_EQ(SettledPercent(kSpeakers), 50);
}

TEST_F(ControlRunnerTest, TelephoneRunnerFollowsPostedVerdicts) {
    const std::uint64_t start = clock_.TickMs();
    ControlRunner& runner = StartRunner(MakeTrigger("sound", "mute", 60, "telephone"), true);
    EXPECT_EQ(runner.Wanted(), 0);
    EXPECT_TRUE(HoldsFor([&] { return runner.Applied() == 0 && !manager_->WantedMute(); }));

    // Within a second of the start the verdict is noted but not applied yet...
    runner.PostTelephoneVerdict(1, start + 1000);
    EXPECT_EQ(runner.Wanted(), 1);
    runner.Recheck(start + 1000);
    EXPECT_TRUE(HoldsFor([&] { return runner.Applied() == 0; }, 50ms));
    // ...and the once-a-second recheck catches up.
    runner.Recheck(start + 1001);
    ASSERT_TRUE(MutedSoon(kSpeakers, true));

    runner.PostTelephoneVerdict(0, start + 1500);
    ASSERT_TRUE(MutedSoon(kSpeakers, false));
    EXPECT_EQ(runner.Applied(), 0);

    runner.PostTelephoneVerdict(1, start + 2000);  // only 500 ms after the last one
    EXPECT_TRUE(HoldsFor([&] { return !backend_.IsMuted(kSpeakers); }, 50ms));
    runner.Recheck(start + 2501);
    ASSERT_TRUE(MutedSoon(kSpeakers, true));

    // At the deadline an applied control is undone whatever the verdict.
    AdvanceSeconds(60);
    ASSERT_TRUE(Eventually([&] { return runner.IsFinished(); }));
    EXPECT_TRUE(MutedSoon(kSpeakers, false));
}

// A verdict noted inside the hold-off asks for the control but applies nothing; when the
// runner ends before the next recheck, by its deadline or by its owner, the output must be left
// exactly as it was, for a mute and for volume steps alike.
TEST_F(ControlRunnerTest, ATelephoneRunnerEndingBeforeItAppliedLeavesTheOutputAlone) {
    for (const char* control : {"mute", "down 30"}) {
        for (const bool byDeadline : {true, false}) {
            SCOPED_TRACE(std::string(control) + (byDeadline ? ", deadline" : ", destroyed"));
            const std::uint64_t start = clock_.TickMs();
            ControlRunner& runner =
                StartRunner(MakeTrigger("sound", control, 2, "telephone"), true);
            runner.PostTelephoneVerdict(1, start + 500);
            ASSERT_EQ(runner.Wanted(), 1);
            ASSERT_EQ(runner.Applied(), 0);
            if (byDeadline) {
                AdvanceSeconds(2);
                ASSERT_TRUE(Eventually([&] { return runner.IsFinished(); }));
            }
            Destroy(runner);
            EXPECT_TRUE(Settle());
            EXPECT_FALSE(backend_.IsMuted(kSpeakers));
            EXPECT_FALSE(manager_->WantedMute());
            EXPECT_EQ(Percent(kSpeakers), 50);
        }
    }
}

TEST_F(ControlRunnerTest, VerdictsGoOnlyToTelephoneRunnersOfSoundAndTimeTriggers) {
    const std::uint64_t late = clock_.TickMs() + 5000;
    ControlRunner& whole = StartRunner(MakeTrigger("sound", "mute", 60));
    ControlRunner& level = StartRunner(MakeTrigger("level", "mute", 60, "telephone"), true);
    ASSERT_TRUE(MutedSoon(kSpeakers, true));
    whole.PostTelephoneVerdict(0, late);
    level.PostTelephoneVerdict(1, late);
    EXPECT_EQ(whole.Wanted(), 1);
    EXPECT_EQ(level.Wanted(), 0);
}

TEST_F(ControlRunnerTest, ControlIsKeptUntilTheLastPushedDeadline) {
    const std::uint64_t start = clock_.TickMs();
    ControlRunner& runner = StartRunner(MakeTrigger("level", "mute", 5));
    EXPECT_EQ(runner.Deadline(), start + 5000);
    ASSERT_TRUE(MutedSoon(kSpeakers, true));

    AdvanceSeconds(4);
    ASSERT_TRUE(runner.PushDeadline(start + 4000));
    EXPECT_EQ(runner.Deadline(), start + 9000);
    AdvanceSeconds(4.9);  // past the first deadline, just before the pushed one
    EXPECT_TRUE(HoldsFor([&] { return !runner.IsFinished() && backend_.IsMuted(kSpeakers); }));

    AdvanceSeconds(0.1);
    ASSERT_TRUE(Eventually([&] { return runner.IsFinished(); }));
    EXPECT_TRUE(MutedSoon(kSpeakers, false));
    EXPECT_EQ(runner.Applied(), 0);
}

TEST_F(ControlRunnerTest, DeviceSwitchUndoesOnTheOldDeviceAndAppliesOnTheNew) {
    ControlRunner& mute = StartRunner(MakeTrigger("sound", "mute", 60));
    ControlRunner& down = StartRunner(MakeTrigger("sound", "down 10", 60));
    ASSERT_TRUE(MutedSoon(kSpeakers, true));
    EXPECT_EQ(PercentOnceAt(kSpeakers, 40), 40);

    FollowSwitch(kSpeakers, [&] { EXPECT_FALSE(mute.PushDeadline(clock_.TickMs())); });
    ASSERT_TRUE(backend_.SetDefaultDevice(kHeadphones));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(manager_->BoundDeviceId(), kHeadphones);
    EXPECT_FALSE(backend_.IsMuted(kSpeakers));
    EXPECT_EQ(SettledPercent(kSpeakers), 50);
    EXPECT_TRUE(backend_.IsMuted(kHeadphones));
    EXPECT_EQ(SettledPercent(kHeadphones), 40);
    EXPECT_FALSE(mute.IsSuspended());
    EXPECT_FALSE(down.IsSuspended());

    AdvanceSeconds(60);
    ASSERT_TRUE(Eventually([&] { return mute.IsFinished() && down.IsFinished(); }));
    EXPECT_TRUE(MutedSoon(kHeadphones, false));
    EXPECT_EQ(SettledPercent(kHeadphones), 50);
}

TEST_F(ControlRunnerTest, ARunnerEndingWhileSuspendedIsNotUndoneTwice) {
    ControlRunner& down = StartRunner(MakeTrigger("sound", "down 10", 60));
    EXPECT_EQ(PercentOnceAt(kSpeakers, 40), 40);

    bool ended = false;
    FollowSwitch(kSpeakers, [&] {
        if (!ended) {  // only the runner's suspension has been carried out
            ended = true;
            AdvanceSeconds(60);
            EXPECT_TRUE(Eventually([&] { return down.IsFinished(); }));
        }
    });
    ASSERT_TRUE(backend_.SetDefaultDevice(kHeadphones));
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(ended);
    EXPECT_EQ(SettledPercent(kSpeakers), 50);
    EXPECT_EQ(SettledPercent(kHeadphones), 50);
}

// Splitting and starting without a shell are tested at the launcher; here only that the
// runner opens its program exactly once and touches no volume.
TEST_F(ControlRunnerTest, ExecRunnerOpensItsProgramOnce) {
    Trigger trigger = MakeTrigger("sound", "exec", 2);
    trigger.command = "program";
    trigger.commandArgs = "--name \"a b\"";
    ControlRunner& runner = StartRunner(trigger);
    ASSERT_TRUE(recorder_.WaitEntered());
    AdvanceSeconds(2);
    ASSERT_TRUE(Eventually([&] { return runner.IsFinished(); }));
    EXPECT_EQ(recorder_.Opened(), std::vector<std::string>{"program|--name \"a b\""});
    EXPECT_FALSE(manager_->WantedMute());
}

TEST_F(ControlRunnerTest, AWorkerThatDoesNotEndIsLeftBehindSafely) {
    recorder_.Hold();
    Trigger trigger = MakeTrigger("sound", "exec", 5);
    trigger.command = "program";
    ControlRunner& runner = StartRunner(trigger);
    ASSERT_TRUE(recorder_.WaitEntered());
    runner.SetEndWaitTimeout(50ms);
    Destroy(runner);  // the worker is stuck in the opener: it is left to finish on its own
    EXPECT_EQ(ControlRunner::RunningWorkers(), 1);
    recorder_.Release();
    EXPECT_TRUE(ControlRunner::WaitForAllWorkers(kGenerous));
    EXPECT_EQ(recorder_.Opened(), std::vector<std::string>{"program|"});
}

// At exit the volume manager and the backend go only after a worker that its runner had to
// leave behind has ended; when the wait runs out they are kept rather than destroyed under it.
TEST(ControlWorkerShutdownTest, TheVolumeManagerOutlivesALeftBehindWorker) {
    ManualClock clock;
    RecordingOpener opener;
    auto simulated = std::make_unique<SimulatedBackend>(clock);
    simulated->AddDevice(kSpeakers, MakeMixFormat(MixSampleType::Float32, 48000, 2));
    std::unique_ptr<AudioBackend> backend = std::move(simulated);
    auto manager = std::make_unique<VolumeManager>(*backend, [](std::chrono::milliseconds) {});
    auto leaveBehindAWorker = [&] {
        opener.Hold();
        Trigger trigger = MakeTrigger("sound", "exec", 5);
        trigger.command = "program";
        ControlRunner runner(*manager, opener, clock);
        runner.Init(trigger, false);
        runner.Start();
        ASSERT_TRUE(opener.WaitEntered());
        runner.SetEndWaitTimeout(1ms);
    };

    leaveBehindAWorker();
    VolumeManager* keptManager = manager.get();
    AudioBackend* keptBackend = backend.get();
    EXPECT_FALSE(ReleaseAfterControlWorkers(manager, backend, 1ms));
    EXPECT_EQ(manager, nullptr);
    opener.Release();
    ASSERT_TRUE(ControlRunner::WaitForAllWorkers(kGenerous));
    manager.reset(keptManager);  // the process would have ended here; the test tidies up
    backend.reset(keptBackend);

    leaveBehindAWorker();
    std::atomic<bool> released{false};
    std::thread exiting([&] {
        EXPECT_TRUE(ReleaseAfterControlWorkers(manager, backend, kGenerous));
        released = true;
    });
    EXPECT_TRUE(HoldsFor([&] { return !released.load(); }));
    opener.Release();
    exiting.join();
    EXPECT_TRUE(released.load());
    EXPECT_EQ(ControlRunner::RunningWorkers(), 0);
}

TEST_F(ControlRunnerTest, AOnceADayTimeTriggerNoticedLateKeepsWhatIsLeft) {
    auto durationAt = [&](const LocalTime& now, Trigger trigger) {
        clock_.SetLocalTime(now);
        ControlRunner runner(*manager_, recorder_, clock_);
        runner.Init(trigger, false);
        return runner.DurationSeconds();
    };
    Trigger daily = MakeTrigger("time", "mute", 600);
    daily.timeOfDay = TriggerTime(8, 0, 0);
    EXPECT_EQ(durationAt({2026, 3, 2, 8, 0, 0, 1}, daily), 600u);
    EXPECT_EQ(durationAt({2026, 3, 2, 8, 4, 0, 1}, daily), 360u);
    EXPECT_EQ(durationAt({2026, 3, 2, 8, 10, 0, 1}, daily), 0u);
    EXPECT_EQ(durationAt({2026, 3, 2, 8, 15, 0, 1}, daily), 1u);

    Trigger nearMidnight = daily;
    nearMidnight.timeOfDay = TriggerTime(23, 58, 0);
    EXPECT_EQ(durationAt({2026, 3, 3, 0, 1, 0, 2}, nearMidnight), 420u);

    // Repeating time triggers, exec controls and other kinds keep their whole duration.
    Trigger repeating = daily;
    repeating.every = true;
    Trigger exec = daily;
    exec.SetControl("exec");
    Trigger sound = daily;
    sound.triggerKind = "sound";
    for (const Trigger& whole : {repeating, exec, sound}) {
        EXPECT_EQ(durationAt({2026, 3, 2, 8, 15, 0, 1}, whole), 600u);
    }
}

TEST(ControlRunnerAmountTest, AmountTextIsReadAsATruncatedNumber) {
    EXPECT_EQ(ControlRunner::ParseAmount("30"), 30);
    EXPECT_EQ(ControlRunner::ParseAmount(" 12.9"), 12);
    EXPECT_EQ(ControlRunner::ParseAmount("-7.5"), -7);
    EXPECT_EQ(ControlRunner::ParseAmount("5 steps"), 5);
    EXPECT_EQ(ControlRunner::ParseAmount(""), 0);
    EXPECT_EQ(ControlRunner::ParseAmount("abc"), 0);
    EXPECT_EQ(ControlRunner::ParseAmount("nan"), 0);
    EXPECT_EQ(ControlRunner::ParseAmount("99999999999999999999"), ControlRunner::kMaxAmountSteps);
    EXPECT_EQ(ControlRunner::ParseAmount("-1e300"), -ControlRunner::kMaxAmountSteps);
}

}  // namespace
}  // namespace hushwell
