#include <gtest/gtest.h>

#include <limits>

#include "triggers/LocalPath.h"
#include "triggers/StorableText.h"
#include "triggers/Trigger.h"
#include "triggers/TriggerTime.h"
#include "triggers/Vocabulary.h"

namespace hushwell {
namespace {

// Parses into a time that already holds 07:08:09, so a refused text shows as unchanged.
std::string Parsed(std::string_view text, int* result = nullptr) {
    TriggerTime time(7, 8, 9);
    const int code = time.Parse(text);
    if (result != nullptr) {
        *result = code;
    }
    return time.Formatted();
}

TEST(TriggerTimeTest, PartsCarryAndClampToAFullDay) {
    EXPECT_EQ(Parsed("90"), "00:01:30");
    EXPECT_EQ(Parsed(" 1 :\t2 "), "00:01:02");
    EXPECT_EQ(Parsed("1:75:00"), "02:15:00");
    EXPECT_EQ(Parsed("23:59:60"), "24:00:00");
    EXPECT_EQ(Parsed("h1:m2:s3"), "01:02:03");
    // Digits far beyond 32 bits neither overflow nor wrap to a small time.
    EXPECT_EQ(Parsed("99999999999999999999"), "24:00:00");
    EXPECT_EQ(Parsed("0:99999999999:99999999999"), "24:00:00");
    // Out of range values are never formatted.
    EXPECT_EQ(TriggerTime(25, 0, 0).Formatted(), "");
    EXPECT_EQ(TriggerTime(0, 0, -1).Formatted(), "");
}

TEST(TriggerTimeTest, NoPartOrTooManyPartsLeavesTheValue) {
    for (std::string_view text : {"", "   ", "abc", "::", "1:2:3:4"}) {
        int result = -1;
        EXPECT_EQ(Parsed(text, &result), "07:08:09") << text;
        EXPECT_EQ(result, TriggerTime::kBadPartCount) << text;
    }
}

TEST(TriggerRecordTest, WordsMatchAtTheStartCaseSensitively) {
    EXPECT_EQ(ControlKindOf(" mute"), ControlKind::Undefined);
    EXPECT_EQ(TriggerKindOf("Sound"), TriggerKind::Other);
    EXPECT_EQ(TargetCodeOf("speaker"), TargetCode::Whole);
    EXPECT_EQ(TargetCodeOf("programme"), TargetCode::Program);
    EXPECT_EQ(TargetCodeOf("Program"), TargetCode::Whole);
    EXPECT_EQ(TargetWord(TargetCode::Program), "program");
    EXPECT_EQ(TargetWord(static_cast<TargetCode>(7)), "whole");

    Trigger t;
    t.SetControl("up5x7");
    EXPECT_EQ(t.controlKind, ControlKind::Up);
    EXPECT_EQ(t.amountText, "5");
    t.SetControl("downward");
    EXPECT_EQ(t.controlKind, ControlKind::Down);
    EXPECT_EQ(t.amountText, "0");
    // Other kinds keep the amount of the last volume control.
    t.SetControl("up 12");
    t.SetControl("unmute");
    EXPECT_EQ(t.amountText, "12");
    t.SetControl("Mute");
    EXPECT_EQ(t.controlKind, ControlKind::Undefined);

    t.ParseDays("xxWEDyyMON");
    EXPECT_EQ(t.FormatDays(), "MONWED");
    t.ParseDays("mon tue");
    EXPECT_EQ(t.FormatDays(), "");
}

TEST(TriggerRecordTest, LabelShortensProgramsAndSmallAmounts) {
    Trigger t;
    t.SetControl("down 5");
    EXPECT_EQ(t.GetLabel(), "down");
    t.SetControl("down 40");
    EXPECT_EQ(t.GetLabel(), "down 40");
    t.SetControl("exec");
    t.command = "/usr/bin/notify-send";
    EXPECT_EQ(t.GetLabel(), "notify-send");
    t.command = "/usr/bin/";
    EXPECT_EQ(t.GetLabel(), "/usr/bin/");
}

TEST(TriggerRecordTest, IsSameComparesWhatTheKindUses) {
    Trigger a;
    a.triggerKind = "time";
    a.timeOfDay = TriggerTime(8, 0, 0);
    Trigger b = a;
    // Without repetition the window does not matter; with it, it does.
    b.startTime = TriggerTime(1, 0, 0);
    EXPECT_TRUE(a.IsSame(b));
    a.every = b.every = true;
    EXPECT_FALSE(a.IsSame(b));
    b = a;
    b.duration.text = "different text, same value";
    EXPECT_TRUE(a.IsSame(b));
    // Exec controls also compare their command.
    a.SetControl("exec");
    b.SetControl("exec");
    b.commandArgs = "--other";
    EXPECT_FALSE(a.IsSame(b));

    Trigger level1;
    level1.triggerKind = "level";
    Trigger level2 = level1;
    level2.triggerFile = "ignored for levels";
    EXPECT_TRUE(level1.IsSame(level2));
    level2.level = 50;
    EXPECT_FALSE(level1.IsSame(level2));
    Trigger other;
    other.triggerKind = "colour";
    EXPECT_FALSE(other.IsSame(other));
}

// A sound trigger's own threshold stays within its range, a non-number changes nothing, and
// a tuned copy is another trigger (a merge keeps both, the editor finds the right one).
TEST(TriggerRecordTest, AnOwnThresholdIsLimitedCopiedAndTellsTriggersApart) {
    Trigger a;
    a.triggerKind = "sound";
    EXPECT_FALSE(a.HasOwnMatchThreshold());
    EXPECT_TRUE(a.SetMatchThreshold(0.9));
    EXPECT_FALSE(a.SetMatchThreshold(1.5));
    EXPECT_EQ(a.matchThreshold, Trigger::kMaxMatchThreshold);
    EXPECT_FALSE(a.SetMatchThreshold(0.0));
    EXPECT_EQ(a.matchThreshold, Trigger::kMinMatchThreshold);
    EXPECT_FALSE(a.SetMatchThreshold(std::numeric_limits<double>::quiet_NaN()));
    EXPECT_EQ(a.matchThreshold, Trigger::kMinMatchThreshold);

    Trigger b = a;
    EXPECT_EQ(b.matchThreshold, Trigger::kMinMatchThreshold);
    EXPECT_TRUE(a.IsSame(b));
    b.ClearMatchThreshold();
    EXPECT_FALSE(b.HasOwnMatchThreshold());
    EXPECT_FALSE(a.IsSame(b));
    a.Reset();
    EXPECT_FALSE(a.HasOwnMatchThreshold());
}

TEST(StorableTextTest, KeepsWhatXmlCanHoldAndDropsTheRest) {
    // Tab, line feed, carriage return and every other valid character stay.
    const std::string kept = "a\tb\nc\r \xC3\xA9 \xEF\xBF\xBD \xF0\x9F\x94\x94 \xC2\x85 ~";
    EXPECT_EQ(StorableText(kept), kept);
    EXPECT_EQ(StorableText(std::string("a\0b\x01\x1F\x7F", 6)), "ab\x7F");
    EXPECT_EQ(StorableText("x\xEF\xBF\xBEy\xEF\xBF\xBFz"), "xyz");  // U+FFFE, U+FFFF
    // Invalid UTF-8: stray continuation, overlong forms, a surrogate, above U+10FFFF, cut.
    EXPECT_EQ(StorableText("1\x80"
                           "2\xC0\xAF"
                           "3\xE0\x80\xAF"
                           "4\xED\xA0\x80"
                           "5"),
              "12345");
    EXPECT_EQ(StorableText("6\xF4\x90\x80\x80"
                           "7\xFF"
                           "8\xE2\x82"),
              "678");
    EXPECT_EQ(FirstCharacter("\xC3\xA9t\xC3\xA9"), "\xC3\xA9");
    EXPECT_EQ(FirstCharacter(""), "");
}

TEST(TriggerRecordTest, TextsEnterCleanAndLevelsStayPercentages) {
    Trigger t;
    t.SetText(&Trigger::name, "bell\x01\xFF");
    t.SetText(&Trigger::command, "\x1B[0m/bin/true");
    t.SetControl("down\x02 30");
    EXPECT_EQ(t.name, "bell");
    EXPECT_EQ(t.command, "[0m/bin/true");
    EXPECT_EQ(t.control, "down 30");
    EXPECT_EQ(t.amountText, "30");
    for (const auto& [given, kept] : {std::pair<std::int64_t, int>{-2147483648LL, 0},
                                      {-1, 0},
                                      {55, 55},
                                      {101, 100},
                                      {9999999999LL, 100}}) {
        t.SetLevel(given);
        EXPECT_EQ(t.level, kept) << given;
    }
}

TEST(LocalPathTest, BackslashesSeparateFoldersAndForeignRootsNameNoPlace) {
    using Kind = LocalPath::Kind;
    const auto check = [](std::string_view text, std::string_view path, Kind kind) {
        const LocalPath local = LocalPath::FromText(text);
        EXPECT_EQ(local.path, path) << text;
        EXPECT_EQ(local.kind, kind) << text;
    };
    check(".\\triggers\\ding.wav", "./triggers/ding.wav", Kind::Relative);
    check("jingles\\ding.wav", "jingles/ding.wav", Kind::Relative);
    check("/home/me/sounds", "/home/me/sounds", Kind::Absolute);
    check("\\\\server\\sounds", "//server/sounds", Kind::Foreign);
    check("\\sounds", "/sounds", Kind::Foreign);
    check("C:\\Sounds", "C:/Sounds", Kind::Foreign);
    check("c:sounds", "c:sounds", Kind::Foreign);

    EXPECT_EQ(LocalPath::BaseFolder(".\\triggers", "/data/triggers"), "/data/triggers");
    EXPECT_EQ(LocalPath::BaseFolder("\\\\server\\sounds", "/data/triggers"), "/data/triggers");
    EXPECT_EQ(LocalPath::BaseFolder("/srv\\sounds", "/data/triggers"), "/srv/sounds");
}

}  // namespace
}  // namespace hushwell

namespace hushwell {
namespace {

// "program" names one program's stream, which only a sound is heard in: a time or level
// trigger carrying it acts on the whole output instead.
TEST(TriggerRecordTest, ProgramTargetCountsOnlyForSoundTriggers) {
    Trigger t;
    t.SetText(&Trigger::target, "program");
    EXPECT_EQ(t.GetTargetCode(), TargetCode::Program);
    for (const TriggerKind kind : {TriggerKind::Time, TriggerKind::Level, TriggerKind::Other}) {
        t.triggerKind = kind == TriggerKind::Other ? "clock" : std::string(TriggerKindWord(kind));
        EXPECT_EQ(t.GetTargetCode(), TargetCode::Whole) << t.triggerKind;
    }
    EXPECT_EQ(t.target, "program");  // the text itself is kept for saving
}

}  // namespace
}  // namespace hushwell
