#include "detection/TimeWindow.h"

#include <gtest/gtest.h>

#include "triggers/CTrigger.h"

namespace hushwell {
namespace {

LocalTime At(int hour, int minute, int second, int weekday = 3) {
    LocalTime t;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    t.weekday = weekday;
    return t;
}

const TriggerTime kNotSet{-1, 0, 0};

CTrigger Trigger(const char* kind) {
    CTrigger t;
    t.triggerKind = kind;
    t.SetActive(true);
    return t;
}

TEST(TimeWindowTest, SoundAndLevelWindowsAcrossMidnight) {
    for (const char* kind : {"sound", "level"}) {
        CTrigger t = Trigger(kind);
        t.startTime = TriggerTime(22, 0, 0);
        t.endTime = TriggerTime(2, 0, 0);
        EXPECT_TRUE(IsInTimeWindow(t, At(23, 30, 0))) << kind;
        EXPECT_TRUE(IsInTimeWindow(t, At(1, 30, 0))) << kind;
        EXPECT_TRUE(IsInTimeWindow(t, At(22, 0, 0))) << kind;
        EXPECT_TRUE(IsInTimeWindow(t, At(2, 0, 0))) << kind;
        EXPECT_FALSE(IsInTimeWindow(t, At(2, 0, 1))) << kind;
        EXPECT_FALSE(IsInTimeWindow(t, At(12, 0, 0))) << kind;
        EXPECT_FALSE(IsInTimeWindow(t, At(21, 59, 59))) << kind;
    }
}

TEST(TimeWindowTest, SoundWindowWithinOneDayAndUnsetTimes) {
    CTrigger t = Trigger("sound");
    t.startTime = TriggerTime(9, 0, 0);
    t.endTime = TriggerTime(17, 0, 0);
    EXPECT_FALSE(IsInTimeWindow(t, At(8, 59, 59)));
    EXPECT_TRUE(IsInTimeWindow(t, At(12, 0, 0)));
    EXPECT_FALSE(IsInTimeWindow(t, At(17, 0, 1)));

    // A start without an end leaves the window open all day.
    t.endTime = kNotSet;
    EXPECT_TRUE(IsInTimeWindow(t, At(8, 0, 0)));
    EXPECT_TRUE(IsInTimeWindow(t, At(23, 59, 59)));

    // No start time: always open, whatever the end says.
    t.startTime = kNotSet;
    t.endTime = TriggerTime(1, 0, 0);
    EXPECT_TRUE(IsInTimeWindow(t, At(0, 0, 0)));
    EXPECT_TRUE(IsInTimeWindow(t, At(12, 0, 0)));

    // Start equal to end (both 00:00:00 by default): the whole day.
    CTrigger fresh = Trigger("sound");
    EXPECT_TRUE(IsInTimeWindow(fresh, At(0, 0, 0)));
    EXPECT_TRUE(IsInTimeWindow(fresh, At(15, 0, 0)));
    EXPECT_TRUE(IsInTimeWindow(fresh, At(23, 59, 59)));
}

TEST(TimeWindowTest, OnceADayWindowCoversDurationExceptForExec) {
    CTrigger t = Trigger("time");
    t.timeOfDay = TriggerTime(7, 0, 0);
    t.duration = TriggerTime(0, 30, 0);
    t.SetControl("mute");
    EXPECT_FALSE(IsInTimeWindow(t, At(6, 59, 59)));
    EXPECT_TRUE(IsInTimeWindow(t, At(7, 0, 0)));
    EXPECT_TRUE(IsInTimeWindow(t, At(7, 30, 4)));
    EXPECT_FALSE(IsInTimeWindow(t, At(7, 30, 5)));

    t.SetControl("exec");
    EXPECT_TRUE(IsInTimeWindow(t, At(7, 0, 4)));
    EXPECT_FALSE(IsInTimeWindow(t, At(7, 0, 5)));

    // Just before midnight, the window runs into the next day.
    t.SetControl("mute");
    t.timeOfDay = TriggerTime(23, 59, 0);
    t.duration = TriggerTime(0, 2, 0);
    EXPECT_TRUE(IsInTimeWindow(t, At(0, 0, 30)));
    EXPECT_FALSE(IsInTimeWindow(t, At(0, 1, 5)));

    t.timeOfDay = kNotSet;
    EXPECT_TRUE(IsInTimeWindow(t, At(13, 0, 0)));
}

TEST(TimeWindowTest, RepeatingWindowIsDueForElevenSecondsOfEachPeriod) {
    CTrigger t = Trigger("time");
    t.every = true;
    t.timeOfDay = TriggerTime(0, 15, 0);
    t.startTime = TriggerTime(8, 0, 0);
    t.endTime = TriggerTime(12, 0, 0);
    EXPECT_FALSE(IsInTimeWindow(t, At(7, 45, 0)));
    EXPECT_TRUE(IsInTimeWindow(t, At(8, 0, 0)));
    EXPECT_TRUE(IsInTimeWindow(t, At(8, 0, 10)));
    EXPECT_FALSE(IsInTimeWindow(t, At(8, 0, 11)));
    EXPECT_FALSE(IsInTimeWindow(t, At(8, 7, 0)));
    EXPECT_TRUE(IsInTimeWindow(t, At(8, 15, 5)));
    EXPECT_TRUE(IsInTimeWindow(t, At(12, 0, 0)));
    EXPECT_FALSE(IsInTimeWindow(t, At(12, 15, 0)));

    // Across midnight the periods keep counting from the start.
    t.startTime = TriggerTime(22, 0, 0);
    t.endTime = TriggerTime(2, 0, 0);
    EXPECT_TRUE(IsInTimeWindow(t, At(23, 30, 3)));
    EXPECT_TRUE(IsInTimeWindow(t, At(1, 30, 0)));
    EXPECT_FALSE(IsInTimeWindow(t, At(1, 31, 0)));
    EXPECT_FALSE(IsInTimeWindow(t, At(3, 0, 0)));

    // Without a start time the periods count from midnight until 23:59:00.
    t.startTime = kNotSet;
    EXPECT_TRUE(IsInTimeWindow(t, At(0, 0, 0)));
    EXPECT_TRUE(IsInTimeWindow(t, At(10, 45, 9)));
    EXPECT_FALSE(IsInTimeWindow(t, At(10, 46, 0)));
    EXPECT_FALSE(IsInTimeWindow(t, At(23, 59, 5)));
}

TEST(TimeWindowTest, RepeatingWithoutPeriodIsNeverDue) {
    CTrigger t = Trigger("time");
    t.every = true;
    t.timeOfDay = TriggerTime(0, 0, 0);
    for (int hour = 0; hour < 24; hour += 6) {
        EXPECT_FALSE(IsInTimeWindow(t, At(hour, 0, 0)));
    }
    t.timeOfDay = kNotSet;
    EXPECT_FALSE(IsInTimeWindow(t, At(0, 0, 0)));
}

TEST(TimeWindowTest, OtherKindsAreNeverInside) {
    CTrigger t = Trigger("noise");
    EXPECT_FALSE(IsInTimeWindow(t, At(12, 0, 0)));
}

TEST(TimeWindowTest, DayIndexCountsFromMonday) {
    EXPECT_EQ(DayIndex(At(0, 0, 0, 1)), 0);  // Monday
    EXPECT_EQ(DayIndex(At(0, 0, 0, 6)), 5);  // Saturday
    EXPECT_EQ(DayIndex(At(0, 0, 0, 0)), 6);  // Sunday

    // A trigger with only Monday selected is not for a Sunday.
    CTrigger t = Trigger("time");
    t.ParseDays("MON");
    EXPECT_EQ(t.dayFlags[DayIndex(At(0, 0, 0, 1))], CTrigger::kDayOn);
    EXPECT_NE(t.dayFlags[DayIndex(At(0, 0, 0, 0))], CTrigger::kDayOn);
}

}  // namespace
}  // namespace hushwell
