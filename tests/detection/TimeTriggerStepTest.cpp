#include "detection/TimeTriggerStep.h"

#include <gtest/gtest.h>

#include "tests/detection/DetectionTestSupport.h"
#include "triggers/TriggerList.h"

namespace hushwell {
namespace {

using namespace hushwell::testing;

constexpr auto kStepPeriod = 3000ms;

class TimeTriggerStepTest : public ::testing::Test {
protected:
    TimeTriggerStepTest() : step_(triggers_, *harness_.runners, harness_.clock, &firings_) {}

    // A time trigger at `at` (or repeating with period `at`), on Monday only unless given.
    Trigger& AddTime(const std::string& name, const std::string& control, int seconds,
                     TriggerTime at, bool every = false, std::string days = "v      ") {
        Trigger trigger = MakeTrigger("time", name, control, seconds);
        trigger.timeOfDay = at;
        trigger.every = every;
        std::copy(days.begin(), days.end(), trigger.dayFlags.begin());
        triggers_.Add(trigger);
        return *triggers_.GetTime(triggers_.CountTime() - 1);
    }
    void StartAt(const LocalTime& time) { harness_.clock.SetLocalTime(time); }
    // Runs the step every 3 s for `span`, with the engine's 1-second housekeeping in between.
    // Returns the local times of day (seconds) at which it started controls.
    std::vector<int> RunFor(std::chrono::seconds span) {
        std::vector<int> started;
        for (auto elapsed = 0ms; elapsed < span; elapsed += kStepPeriod) {
            harness_.Advance(kStepPeriod);
            EXPECT_TRUE(harness_.DueRunnersFinish());
            harness_.runners->DestroyFinishedAndRecheck();
            if (step_.Run() > 0) {
                const LocalTime now = harness_.clock.Now();
                started.push_back(now.hour * 3600 + now.minute * 60 + now.second);
            }
        }
        return started;
    }
    static int Seconds(int h, int m, int s) { return h * 3600 + m * 60 + s; }

    RunnerHarness harness_;
    TriggerList triggers_;
    FiringRecorder firings_;
    TimeTriggerStep step_;
};

TEST_F(TimeTriggerStepTest, OnceADayTriggerFiresOnceWhileItsControlRuns) {
    AddTime("wake", "mute", 30 * 60, TriggerTime(7, 0, 0));
    StartAt(RunnerHarness::Monday(6, 59, 55));

    // 06:59:58 is before the window; 07:00:01 fires; later steps re-arm the 361 s hold but
    // start nothing while the 30-minute control is held.
    EXPECT_EQ(RunFor(15min), std::vector<int>{Seconds(7, 0, 1)});
    ASSERT_EQ(firings_.Firings().size(), 1u);
    EXPECT_EQ(firings_.Firings()[0].kind, TriggerKind::Time);
    EXPECT_EQ(firings_.Firings()[0].triggerName, "wake");
    EXPECT_EQ(harness_.runners->Size(), 1u);
    EXPECT_TRUE(harness_.MutedSoon(true));

    // Once the control is gone, the next step after the running hold fires again, inside the
    // window (which closes at 07:30:04).
    harness_.runners->CancelRunnersOf(triggers_.GetTime(0)->serialId);
    const auto again = RunFor(25min);
    ASSERT_EQ(again.size(), 1u);
    EXPECT_LE(again[0], Seconds(7, 15, 0) + 361 + 3);
    EXPECT_EQ(firings_.Firings().size(), 2u);
}

TEST_F(TimeTriggerStepTest, DaysCountFromMondayAndSundayIsTheLast) {
    AddTime("monday", "mute", 10, TriggerTime(7, 0, 0), false, "v      ");
    AddTime("sunday", "mute", 10, TriggerTime(7, 0, 0), false, "      v");
    // 13 December 2026 is a Sunday.
    StartAt(LocalTime{2026, 12, 13, 6, 59, 55, 0});
    RunFor(30s);
    ASSERT_EQ(firings_.Firings().size(), 1u);
    EXPECT_EQ(firings_.Firings()[0].triggerName, "sunday");
}

TEST_F(TimeTriggerStepTest, RepeatingTriggerFiresOncePerPeriod) {
    Trigger& quarter = AddTime("quarter", "mute", 10, TriggerTime(0, 15, 0), true);
    quarter.startTime = TriggerTime(8, 0, 0);
    quarter.endTime = TriggerTime(9, 0, 0);
    AddTime("never", "mute", 10, TriggerTime(0, 0, 0), true);  // a period of zero
    StartAt(RunnerHarness::Monday(7, 59, 55));

    EXPECT_EQ(RunFor(32min),
              (std::vector<int>{Seconds(8, 0, 1), Seconds(8, 15, 1), Seconds(8, 30, 1)}));
    for (const Firing& firing : firings_.Firings()) {
        EXPECT_EQ(firing.triggerName, "quarter");
    }
}

TEST_F(TimeTriggerStepTest, ShortControlsAreHeldButOnlyExecRuns) {
    AddTime("nothing", "mute", 0, TriggerTime(7, 0, 0));
    Trigger& run = AddTime("run", "exec", 0, TriggerTime(7, 0, 0));
    run.command = "true";
    StartAt(RunnerHarness::Monday(6, 59, 59));
    RunFor(6s);
    ASSERT_EQ(firings_.Firings().size(), 1u);
    EXPECT_EQ(firings_.Firings()[0].triggerName, "run");
    EXPECT_TRUE(Eventually([&] { return harness_.opener.Count() == 1; }));
    // The hold was set for both all the same.
    EXPECT_GT(triggers_.GetTime(0)->holdUntil, harness_.clock.TickMs() + 300000);
}

}  // namespace
}  // namespace hushwell
