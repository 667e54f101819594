#include <gtest/gtest.h>

#include "triggers/CTrigger.h"
#include "triggers/TriggerTime.h"
#include "triggers/Vocabulary.h"

namespace hushwell {
namespace {

TriggerTime Parsed(std::string_view text, int* result = nullptr) {
    TriggerTime time(7, 8, 9);
    const int code = time.Parse(text);
    if (result != nullptr) {
        *result = code;
    }
    return time;
}

std::string Clock(const TriggerTime& t) {
    return t.Formatted();
}

TEST(TriggerTimeTest, PartsCarryAndClampToAFullDay) {
    EXPECT_EQ(Clock(Parsed("90")), "00:01:30");
    EXPECT_EQ(Clock(Parsed("1:2")), "00:01:02");
    EXPECT_EQ(Clock(Parsed("1:75:00")), "02:15:00");
    EXPECT_EQ(Clock(Parsed("25:00:00")), "24:00:00");
    EXPECT_EQ(Clock(Parsed("23:59:60")), "24:00:00");
    EXPECT_EQ(Clock(Parsed(" 1 :\t2 ")), "00:01:02");
    EXPECT_EQ(Clock(Parsed("h1:m2:s3")), "01:02:03");
    // Digits far beyond 32 bits neither overflow nor wrap to a small time.
    EXPECT_EQ(Clock(Parsed("99999999999999999999")), "24:00:00");
    EXPECT_EQ(Clock(Parsed("0:99999999999:99999999999")), "24:00:00");
}

TEST(TriggerTimeTest, NoPartOrTooManyPartsLeavesTheValue) {
    for (std::string_view text : {"", "   ", "abc", "::", "1:2:3:4"}) {
        int result = -1;
        const TriggerTime time = Parsed(text, &result);
        EXPECT_EQ(result, TriggerTime::kBadPartCount) << text;
        EXPECT_EQ(Clock(time), "07:08:09") << text;
    }
    int result = -1;
    Parsed("-5", &result);  // the part starts at its first digit: no sign
    EXPECT_EQ(result, TriggerTime::kParsed);
}

TEST(TriggerTimeTest, FormatOnlyInRangeAndStoresItsText) {
    TriggerTime full(24, 0, 0);
    EXPECT_EQ(full.Format(), "24:00:00");
    EXPECT_EQ(full.text, "24:00:00");
    TriggerTime late(25, 0, 0);
    EXPECT_EQ(late.Format(), "");
    EXPECT_EQ(late.text, "");
    EXPECT_EQ(TriggerTime(0, 60, 0).Formatted(), "");
    EXPECT_EQ(TriggerTime(0, 0, -1).Formatted(), "");
    EXPECT_EQ(TriggerTime(1, 2, 3).Seconds(), 3723);
}

TEST(VocabularyTest, WordsMatchOnlyAtTheStartAndCaseSensitively) {
    EXPECT_EQ(ControlKindOf(" mute"), ControlKind::Undefined);
    EXPECT_EQ(ControlKindOf("exec /bin/true"), ControlKind::Exec);
    EXPECT_EQ(TriggerKindOf("levelled"), TriggerKind::Level);
    EXPECT_EQ(TriggerKindOf("Sound"), TriggerKind::Other);
    EXPECT_EQ(TargetCodeOf("telephone"), TargetCode::Telephone);
    EXPECT_EQ(TargetCodeOf("whole"), TargetCode::Whole);
    EXPECT_EQ(TargetCodeOf("speaker"), TargetCode::Whole);
}

TEST(TriggerRecordTest, SetControlDerivesKindAndAmount) {
    CTrigger t;
    t.SetControl("down 30");
    EXPECT_EQ(t.controlKind, ControlKind::Down);
    EXPECT_EQ(t.amountText, "30");
    t.SetControl("down");
    EXPECT_EQ(t.amountText, "0");
    t.SetControl("up5x7");
    EXPECT_EQ(t.controlKind, ControlKind::Up);
    EXPECT_EQ(t.amountText, "5");
    t.SetControl("downward");
    EXPECT_EQ(t.controlKind, ControlKind::Down);
    EXPECT_EQ(t.amountText, "0");
    // Other kinds keep the amount of the last volume control.
    t.SetControl("up 12");
    t.SetControl("unmute");
    EXPECT_EQ(t.controlKind, ControlKind::Unmute);
    EXPECT_EQ(t.amountText, "12");
    t.SetControl("Mute");
    EXPECT_EQ(t.controlKind, ControlKind::Undefined);
    EXPECT_EQ(t.control, "Mute");
}

TEST(TriggerRecordTest, DaysParseAnywhereAndFormatMondayFirst) {
    CTrigger t;
    t.ParseDays("xxWEDyyMON");
    EXPECT_EQ(t.FormatDays(), "MONWED");
    EXPECT_EQ(t.dayText, "MONWED");
    t.ParseDays("mon tue");
    EXPECT_EQ(t.FormatDays(), "");
    t.ParseDays("SATSUN");
    EXPECT_EQ(t.FormatDays(), "SATSUN");
}

TEST(TriggerRecordTest, LabelShortensProgramsAndAmounts) {
    CTrigger t;
    t.SetControl("down 5");
    EXPECT_EQ(t.GetLabel(), "down");
    t.SetControl("down 40");
    EXPECT_EQ(t.GetLabel(), "down 40");
    t.SetControl("mute");
    EXPECT_EQ(t.GetLabel(), "mute");
    t.SetControl("exec");
    t.command = "/usr/bin/notify-send";
    EXPECT_EQ(t.GetLabel(), "notify-send");
    t.command = "/usr/bin/";
    EXPECT_EQ(t.GetLabel(), "/usr/bin/");
    t.command = "";
    EXPECT_EQ(t.GetLabel(), "");
}

CTrigger TimeRecord() {
    CTrigger t;
    t.triggerKind = "time";
    t.name = "news";
    t.timeOfDay = TriggerTime(8, 0, 0);
    t.duration = TriggerTime(0, 5, 0);
    return t;
}

TEST(TriggerRecordTest, IsSameComparesWhatTheKindUses) {
    CTrigger a = TimeRecord();
    CTrigger b = TimeRecord();
    EXPECT_TRUE(a.IsSame(b));
    // Without repetition the window does not matter; with it, it does.
    b.startTime = TriggerTime(1, 0, 0);
    EXPECT_TRUE(a.IsSame(b));
    a.every = b.every = true;
    EXPECT_FALSE(a.IsSame(b));
    b.startTime = a.startTime;
    b.dayFlags[6] = CTrigger::kDayOff;
    EXPECT_FALSE(a.IsSame(b));
    b = a;
    b.duration.text = "different text, same value";
    EXPECT_TRUE(a.IsSame(b));

    // Exec controls also compare their command.
    a.SetControl("exec");
    b.SetControl("exec");
    b.commandArgs = "--other";
    EXPECT_FALSE(a.IsSame(b));

    CTrigger sound;
    CTrigger otherFile;
    otherFile.triggerFile = "b.wav";
    EXPECT_FALSE(sound.IsSame(otherFile));
    CTrigger level1;
    level1.triggerKind = "level";
    CTrigger level2 = level1;
    level2.triggerFile = "ignored for levels";
    EXPECT_TRUE(level1.IsSame(level2));
    level2.level = 50;
    EXPECT_FALSE(level1.IsSame(level2));
    CTrigger other;
    other.triggerKind = "colour";
    EXPECT_FALSE(other.IsSame(other));
}

}  // namespace
}  // namespace hushwell
