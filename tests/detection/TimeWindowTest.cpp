#include "detection/TimeWindow.h"

#include <gtest/gtest.h>

#include "triggers/Trigger.h"

namespace hushwell {
namespace {

LocalTime At(int hour, int minute, int second) {
    LocalTime t;
    t.hour = hour;
    t.minute = minute;
    t.second = second;
    return t;
}

const TriggerTime kNotSet{-1, 0, 0};

Trigger TriggerOf(const char* kind, TriggerTime start = kNotSet, TriggerTime end = kNotSet) {
    Trigger t;
    t.triggerKind = kind;
    t.startTime = start;
    t.endTime = end;
    return t;
}

TEST(TimeWindowTest, SoundAndLevelWindows) {
    for (const char* kind : {"sound", "level"}) {
        const Trigger night = TriggerOf(kind, {22, 0, 0}, {2, 0, 0});
        EXPECT_TRUE(IsInTimeWindow(night, At(23, 30, 0))) << kind;
        EXPECT_TRUE(IsInTimeWindow(night, At(2, 0, 0))) << kind;
        EXPECT_FALSE(IsInTimeWindow(night, At(2, 0, 1))) << kind;
        EXPECT_FALSE(IsInTimeWindow(night, At(21, 59, 59))) << kind;
    }
    const Trigger day = TriggerOf("sound", {9, 0, 0}, {17, 0, 0});
    EXPECT_FALSE(IsInTimeWindow(day, At(8, 59, 59)));
    EXPECT_TRUE(IsInTimeWindow(day, At(12, 0, 0)));
    // A start without an end, no start at all, start equal to end: open all day.
    for (const Trigger& open : {TriggerOf("sound", {9, 0, 0}), TriggerOf("level"),
                                TriggerOf("sound", {0, 0, 0}, {0, 0, 0})}) {
        EXPECT_TRUE(IsInTimeWindow(open, At(0, 0, 0)));
        EXPECT_TRUE(IsInTimeWindow(open, At(23, 59, 59)));
    }
    EXPECT_FALSE(IsInTimeWindow(TriggerOf("noise"), At(12, 0, 0)));
}

TEST(TimeWindowTest, OnceADayWindowCoversDurationExceptForExec) {
    Trigger t = TriggerOf("time");
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

    // Shortly before midnight the window runs into the next day.
    t.SetControl("mute");
    t.timeOfDay = TriggerTime(23, 59, 0);
    t.duration = TriggerTime(0, 2, 0);
    EXPECT_TRUE(IsInTimeWindow(t, At(0, 0, 30)));
    EXPECT_FALSE(IsInTimeWindow(t, At(0, 1, 5)));
}

TEST(TimeWindowTest, RepeatingWindowIsDueForElevenSecondsOfEachPeriod) {
    Trigger t = TriggerOf("time", {8, 0, 0}, {12, 0, 0});
    t.every = true;
    t.timeOfDay = TriggerTime(0, 15, 0);
    EXPECT_FALSE(IsInTimeWindow(t, At(7, 45, 0)));
    EXPECT_TRUE(IsInTimeWindow(t, At(8, 0, 10)));
    EXPECT_FALSE(IsInTimeWindow(t, At(8, 0, 11)));
    EXPECT_TRUE(IsInTimeWindow(t, At(12, 0, 0)));
    EXPECT_FALSE(IsInTimeWindow(t, At(12, 15, 0)));

    // Across midnight the periods keep counting from the start.
    t.startTime = TriggerTime(22, 0, 0);
    t.endTime = TriggerTime(2, 0, 0);
    EXPECT_TRUE(IsInTimeWindow(t, At(23, 30, 3)));
    EXPECT_TRUE(IsInTimeWindow(t, At(1, 30, 0)));
    EXPECT_FALSE(IsInTimeWindow(t, At(1, 31, 0)));
    EXPECT_FALSE(IsInTimeWindow(t, At(3, 0, 0)));

    // Without a start time: from midnight until 23:59:00.
    t.startTime = kNotSet;
    EXPECT_TRUE(IsInTimeWindow(t, At(10, 45, 9)));
    EXPECT_FALSE(IsInTimeWindow(t, At(23, 59, 5)));

    // Without a period it is never due.
    for (const TriggerTime& period : {TriggerTime(0, 0, 0), kNotSet}) {
        t.timeOfDay = period;
        for (int hour = 0; hour < 24; hour += 6) {
            EXPECT_FALSE(IsInTimeWindow(t, At(hour, 0, 0)));
        }
    }
}

TEST(TimeWindowTest, DayIndexCountsFromMonday) {
    LocalTime monday = At(0, 0, 0);
    monday.weekday = 1;
    LocalTime sunday = monday;
    sunday.weekday = 0;
    EXPECT_EQ(DayIndex(monday), 0);
    EXPECT_EQ(DayIndex(sunday), 6);
    Trigger t = TriggerOf("time");
    t.ParseDays("MON");  // only Monday: not for a Sunday
    EXPECT_EQ(t.dayFlags[DayIndex(monday)], Trigger::kDayOn);
    EXPECT_NE(t.dayFlags[DayIndex(sunday)], Trigger::kDayOn);
}

}  // namespace
}  // namespace hushwell
