#include "detection/RunnerList.h"

#include <gtest/gtest.h>

#include "tests/detection/DetectionTestSupport.h"

namespace hushwell {
namespace {

using namespace hushwell::testing;

class RunnerListTest : public ::testing::Test {
protected:
    Trigger TriggerOf(const std::string& kind, const std::string& control, int seconds,
                      std::uint32_t serial, const std::string& target = "whole") {
        Trigger trigger = MakeTrigger(kind, "t" + std::to_string(serial), control, seconds, target);
        trigger.serialId = serial;
        return trigger;
    }
    RunnerList& Runners() { return *harness_.runners; }

    RunnerHarness harness_;
};

TEST_F(RunnerListTest, TelephoneVerdictsSwitchTelephoneControlsAtMostOnceASecond) {
    Runners().StartSoundControl(TriggerOf("sound", "mute", 60, 1, "telephone"), true);
    ControlRunner& whole = Runners().StartRunner(TriggerOf("sound", "down 10", 60, 2), false);
    ControlRunner& level =
        Runners().StartRunner(TriggerOf("level", "up 5", 60, 3, "telephone"), false);
    EXPECT_EQ(harness_.PercentSoon(45), 45);  // down 10, up 5; the telephone mute is idle
    EXPECT_TRUE(harness_.MutedSoon(false));

    // Within a second of the start the verdict is only noted; the housekeeping applies it.
    harness_.Advance(500ms);
    Runners().PostTelephoneVerdict(1);
    EXPECT_EQ(Runners().FindBySerial(1)->Wanted(), 1);
    EXPECT_EQ(Runners().FindBySerial(1)->Applied(), 0);
    harness_.Advance(600ms);
    Runners().DestroyFinishedAndRecheck();
    EXPECT_TRUE(harness_.MutedSoon(true));

    // Later verdicts act at once; the other runners do not follow them.
    Runners().PostTelephoneVerdict(0);
    EXPECT_TRUE(harness_.MutedSoon(false));
    EXPECT_EQ(whole.Wanted(), 1);
    EXPECT_EQ(level.Wanted(), 1);
    EXPECT_EQ(harness_.SettledPercent(), 45);
}

TEST_F(RunnerListTest, CancelAndStopAllUndoControlsAndStopAllBlocksNewOnes) {
    Runners().StartSoundControl(TriggerOf("sound", "mute", 60, 1), false);
    Runners().StartSoundControl(TriggerOf("sound", "down 10", 60, 2), false);
    Runners().StartSoundControl(TriggerOf("sound", "down 10", 60, 2), false);
    EXPECT_TRUE(harness_.MutedSoon(true));
    EXPECT_EQ(harness_.PercentSoon(30), 30);

    Runners().CancelRunnersOf(2);
    EXPECT_EQ(Runners().Size(), 1u);
    EXPECT_EQ(harness_.PercentSoon(50), 50);
    EXPECT_TRUE(harness_.MutedSoon(true));

    Runners().StopAll();
    EXPECT_EQ(Runners().Size(), 0u);
    EXPECT_TRUE(harness_.MutedSoon(false));
    EXPECT_FALSE(Runners().StartSoundControl(TriggerOf("sound", "mute", 60, 4), false));
    EXPECT_FALSE(Runners().StartTimeControl(TriggerOf("time", "mute", 60, 5), false));
    // Level controls do not look at the flag.
    EXPECT_EQ(Runners().ExtendOrStartLevelControl(TriggerOf("level", "mute", 60, 6)),
              ControlLauncher::LevelOutcome::Started);
    EXPECT_EQ(Runners().Size(), 1u);

    Runners().UnblockControls();
    EXPECT_TRUE(Runners().StartSoundControl(TriggerOf("sound", "mute", 60, 4), false));
    EXPECT_EQ(Runners().Size(), 2u);
}

TEST_F(RunnerListTest, HousekeepingDestroysFinishedRunnersOnly) {
    Runners().StartSoundControl(TriggerOf("sound", "mute", 1, 1), false);
    Runners().StartSoundControl(TriggerOf("sound", "down 10", 5, 2), false);
    EXPECT_TRUE(harness_.MutedSoon(true));

    harness_.Advance(1500ms);
    ASSERT_TRUE(Eventually([&] { return Runners().FindBySerial(1)->IsFinished(); }));
    Runners().DestroyFinishedAndRecheck();
    EXPECT_EQ(Runners().Size(), 1u);
    EXPECT_NE(Runners().FindBySerial(2), nullptr);
    EXPECT_TRUE(harness_.MutedSoon(false));
    EXPECT_EQ(harness_.SettledPercent(), 40);
}

}  // namespace
}  // namespace hushwell
