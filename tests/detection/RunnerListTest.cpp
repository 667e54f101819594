#include "detection/RunnerList.h"

#include <gtest/gtest.h>

#include "tests/detection/DetectionTestSupport.h"
#include "tests/support/TempFolder.h"
#include "triggers/EventLog.h"

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

class ObserverSpy final : public RunnerObserver {
public:
    void OnControlStarted(const StartedControl& control) override { started.push_back(control); }
    void OnRunnersChanged() override { ++changes; }
    std::vector<StartedControl> started;
    int changes = 0;
};

// "Undo" ends one control now, exactly as its end would undo it, and says so in the log;
// the other runner of the same trigger, and every other, runs on.
TEST_F(RunnerListTest, EndingOneRunnerUndoesItAloneAndLogsIt) {
    TempFolder folder;
    const std::string previousLog = ProgramLog().Path();
    ProgramLog().SetPath(folder.File("log.txt"));
    ObserverSpy spy;
    Runners().SetObserver(&spy);
    Runners().StartSoundControl(TriggerOf("sound", "mute", 30, 1), false);
    Runners().StartSoundControl(TriggerOf("sound", "down 10", 60, 2), false);
    Runners().StartSoundControl(TriggerOf("sound", "down 10", 60, 2), false);
    Runners().StartTimeControl(TriggerOf("time", "exec", 0, 3), false);
    EXPECT_TRUE(harness_.MutedSoon(true));
    EXPECT_EQ(harness_.PercentSoon(30), 30);

    ASSERT_EQ(spy.started.size(), 4u);
    EXPECT_EQ(spy.started[0].triggerName, "t1");
    EXPECT_EQ(spy.started[0].control, "mute");
    EXPECT_EQ(spy.started[0].seconds, 30);
    EXPECT_TRUE(spy.started[0].undoable);
    EXPECT_FALSE(spy.started[3].undoable);  // exec: nothing to undo
    EXPECT_EQ(spy.changes, 4);

    // The second "down 10" of trigger 2 goes: 10 % back, the first stays.
    EXPECT_TRUE(Runners().EndRunner(spy.started[2].runnerId));
    EXPECT_EQ(harness_.PercentSoon(40), 40);
    EXPECT_TRUE(harness_.MutedSoon(true));
    EXPECT_EQ(spy.changes, 5);
    // The mute goes: the output is heard again.
    EXPECT_TRUE(Runners().EndRunner(spy.started[0].runnerId));
    EXPECT_TRUE(harness_.MutedSoon(false));
    // A runner ended already cannot be ended again, and logs nothing more.
    EXPECT_FALSE(Runners().EndRunner(spy.started[0].runnerId));
    EXPECT_FALSE(Runners().EndRunner(999));

    // The exec finishes at once: only trigger 2's control is running.
    EXPECT_TRUE(
        Eventually([&] { return Runners().RunningNames() == std::vector<std::string>{"t2"}; }));
    ProgramLog().SetPath(previousLog);
    const std::string log = ReadFile(folder.File("log.txt"));
    EXPECT_NE(log.find(",t2: undone by the user\n"), std::string::npos) << log;
    EXPECT_NE(log.find(",t1: undone by the user\n"), std::string::npos) << log;
    std::size_t undoneLines = 0;
    for (std::size_t at = 0; (at = log.find("undone", at)) != std::string::npos; ++at) {
        ++undoneLines;
    }
    EXPECT_EQ(undoneLines, 2u);
    Runners().SetObserver(nullptr);
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
