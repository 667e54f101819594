#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <optional>
#include <utility>

#include "persistence/TriggerListFile.h"
#include "tests/support/TempFolder.h"
#include "triggers/EventLog.h"

namespace hushwell {
namespace {

using testing::FileSizeLimit;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

constexpr std::string_view kTricky = "Ad <\"muted\"> & 'more'\ttab";

Trigger Active(std::string_view kind, std::string_view name) {
    Trigger t;
    t.triggerKind = kind;
    t.name = name;
    t.SetActive(true);
    return t;
}

void FillList(TriggerList& list) {
    list.SetBaseDir("./sounds & more");
    Trigger sound = Active("sound", kTricky);
    sound.triggerFile = "sub/ring & bell.wav";
    sound.SetControl("down 40");
    sound.startTime = TriggerTime(8, 0, 0);
    sound.target = "telephone";
    list.Add(sound);

    Trigger exec = Active("sound", "notify");
    exec.SetControl("exec");
    exec.command = "notify-send";
    exec.commandArgs = "\"Ad muted\" --urgency=low & more";
    list.Add(exec);

    Trigger repeating = Active("time", "news & weather");
    repeating.every = true;
    repeating.timeOfDay = TriggerTime(0, 30, 0);
    repeating.startTime = TriggerTime(7, 0, 0);
    repeating.ParseDays("MONWEDFRI");
    repeating.SetControl("unmute");
    list.Add(repeating);

    Trigger once = Active("time", "once");
    once.timeOfDay = TriggerTime(12, 0, 0);
    once.startTime = TriggerTime(1, 1, 1);  // not written without repetition
    once.ParseDays("");
    list.Add(once);

    Trigger level = Active("level", "loud");
    level.level = 35;
    level.SetControl("up 5");
    level.duration = TriggerTime(0, 0, 10);
    list.Add(level);

    list.Add(Trigger());  // inactive: never written
}

class TriggerListFileTest : public ::testing::Test {
protected:
    std::string ListPath() const { return TriggerListFile::PathIn(folder_.Path()); }
    // A minimal file around the given items of each kind.
    static std::string Document(std::string_view sound, std::string_view time = "",
                                std::string_view level = "",
                                std::string_view baseDir = "<baseDir>./t</baseDir>") {
        return "<root><TriggerList><Sound>" + std::string(baseDir) + std::string(sound) +
               "</Sound><Time>" + std::string(time) + "</Time><Level>" + std::string(level) +
               "</Level></TriggerList></root>";
    }
    static Trigger TimeItem(std::string_view attributes) {
        TriggerList list;
        EXPECT_EQ(TriggerListFile::LoadText(
                      list, Document("", "<item active=\"v\" " + std::string(attributes) + "/>")),
                  TriggerListFile::kOk);
        EXPECT_EQ(list.CountTime(), 1);
        return list.CountTime() == 1 ? *list.GetTime(0) : Trigger();
    }

    TempFolder folder_;
};

TEST_F(TriggerListFileTest, AllKindsRoundTripThroughTheFile) {
    TriggerList saved;
    FillList(saved);
    ASSERT_EQ(TriggerListFile::Save(saved, ListPath()), TriggerListFile::kOk);
    TriggerList loaded;
    ASSERT_EQ(TriggerListFile::Load(loaded, ListPath()), TriggerListFile::kOk);
    EXPECT_EQ(loaded.BaseDir(), "./sounds & more");
    EXPECT_EQ(TriggerListFile::BuildText(loaded), TriggerListFile::BuildText(saved));
    ASSERT_EQ(loaded.CountSound(), 2);
    EXPECT_EQ(loaded.GetSound(0)->name, kTricky);
    EXPECT_EQ(loaded.GetSound(1)->commandArgs, "\"Ad muted\" --urgency=low & more");
    // Without repetition, the window is neither written nor read back.
    EXPECT_EQ(loaded.GetTime(1)->startTime.Seconds(), 0);
    EXPECT_EQ(loaded.GetTime(0)->startTime.Seconds(), 7 * 3600);
    // The file follows the documented layout.
    const std::string text = ReadFile(ListPath());
    EXPECT_TRUE(
        text.starts_with("<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n<root>\n"
                         "\t<TriggerList version=\"1.1.0\">\n\t\t<Sound>\n"));
    EXPECT_NE(text.find("name=\"news &amp; weather\" every=\"y\" trigger=\"00:30:00\" "
                        "dayOfWeek=\"MONWEDFRI\" control=\"unmute\""),
              std::string::npos);
    EXPECT_NE(text.find("name=\"once\" every=\"n\" trigger=\"12:00:00\" dayOfWeek=\"\" "
                        "control=\"mute\" duration=\"00:00:00\" target=\"whole\""),
              std::string::npos);
    EXPECT_NE(text.find("trigger=\"35\" control=\"up 5\" duration=\"00:00:10\" "
                        "startTime=\"00:00:00\" endTime=\"00:00:00\" command=\"\""),
              std::string::npos);
    EXPECT_TRUE(text.ends_with("\t\t</Level>\n\t</TriggerList>\n</root>"));
}

// --- A sound trigger's own threshold ---

// Points the program's log at a file of the folder while it lives.
class LogInto {
public:
    explicit LogInto(const TempFolder& folder) : previous_(ProgramLog().Path()) {
        ProgramLog().SetPath(folder.File("log.txt"));
    }
    ~LogInto() { ProgramLog().SetPath(previous_); }
    LogInto(const LogInto&) = delete;
    LogInto& operator=(const LogInto&) = delete;

private:
    std::string previous_;
};

TEST_F(TriggerListFileTest, AnOwnThresholdRoundTripsAndAnUntunedListKeepsItsText) {
    // A list nobody tuned saves exactly as the file it was read from.
    TriggerList untuned;
    FillList(untuned);
    const std::string before = TriggerListFile::BuildText(untuned);
    EXPECT_EQ(before.find("threshold"), std::string::npos);
    TriggerList reread;
    ASSERT_EQ(TriggerListFile::LoadText(reread, before), TriggerListFile::kOk);
    EXPECT_EQ(TriggerListFile::BuildText(reread), before);

    // A tuned trigger writes the attribute (in the scan tool's four decimals) and reads back.
    untuned.GetSound(1)->SetMatchThreshold(0.8125);
    ASSERT_EQ(TriggerListFile::Save(untuned, ListPath()), TriggerListFile::kOk);
    const std::string text = ReadFile(ListPath());
    EXPECT_NE(text.find("commandArgs=\"&quot;Ad muted&quot; --urgency=low &amp; more\" "
                        "threshold=\"0.8125\"/>"),
              std::string::npos);
    TriggerList loaded;
    ASSERT_EQ(TriggerListFile::Load(loaded, ListPath()), TriggerListFile::kOk);
    EXPECT_FALSE(loaded.GetSound(0)->HasOwnMatchThreshold());
    EXPECT_FLOAT_EQ(loaded.GetSound(1)->matchThreshold, 0.8125f);
    EXPECT_EQ(TriggerListFile::BuildText(loaded), TriggerListFile::BuildText(untuned));
    // Back to the default: the attribute goes again.
    loaded.GetSound(1)->ClearMatchThreshold();
    EXPECT_EQ(TriggerListFile::BuildText(loaded), before);
}

TEST_F(TriggerListFileTest, BadThresholdsAreLimitedOrIgnoredWithOneLogLineEach) {
    LogInto log(folder_);
    TriggerList list;
    ASSERT_EQ(TriggerListFile::LoadText(
                  list, Document("<item active=\"v\" name=\"high\" threshold=\"7\"/>"
                                 "<item active=\"v\" name=\"low\" threshold=\"-0.2\"/>"
                                 "<item active=\"v\" name=\"word\" threshold=\"loud\"/>"
                                 "<item active=\"v\" name=\"nan\" threshold=\"nan\"/>"
                                 "<item active=\"v\" name=\"tail\" threshold=\"0.9x\"/>"
                                 "<item active=\"v\" name=\"fine\" threshold=\"0.9\"/>")),
              TriggerListFile::kOk);
    ASSERT_EQ(list.CountSound(), 6);
    EXPECT_FLOAT_EQ(list.GetSound(0)->matchThreshold, Trigger::kMaxMatchThreshold);
    EXPECT_FLOAT_EQ(list.GetSound(1)->matchThreshold, Trigger::kMinMatchThreshold);
    for (int n = 2; n <= 4; ++n) {
        EXPECT_FALSE(list.GetSound(n)->HasOwnMatchThreshold()) << n;
    }
    EXPECT_FLOAT_EQ(list.GetSound(5)->matchThreshold, 0.9f);

    const std::string logText = ReadFile(folder_.File("log.txt"));
    std::size_t lines = 0;
    for (std::size_t at = 0; (at = logText.find('\n', at)) != std::string::npos; ++at) {
        ++lines;
    }
    EXPECT_EQ(lines, 5u);
    EXPECT_NE(logText.find("Trigger \"high\": threshold \"7\" is out of range; 0.9990 applies"),
              std::string::npos);
    EXPECT_NE(logText.find("Trigger \"word\": threshold \"loud\" is not a number"),
              std::string::npos);
    EXPECT_EQ(logText.find("\"fine\""), std::string::npos);
    // A time or level item's "threshold" means nothing and is not read.
    TriggerList other;
    ASSERT_EQ(TriggerListFile::LoadText(
                  other, Document("", "<item active=\"v\" name=\"t\" threshold=\"0.7\"/>")),
              TriggerListFile::kOk);
    EXPECT_FALSE(other.GetTime(0)->HasOwnMatchThreshold());
}

TEST_F(TriggerListFileTest, FileWrittenOnWindowsLoadsAndSavesItsPathsUnchanged) {
    const std::string item =
        "<item active=\"v\" name=\"R\xC3\xA9veil\" trigger=\"jingles\\ding.wav\"/>\r\n";
    WriteFile(ListPath(), "\xEF\xBB\xBF<?xml version=\"1.0\"?>\r\n" +
                              Document(item, "", "", "<baseDir>.\\triggers</baseDir>\r\n"));
    TriggerList list;
    ASSERT_EQ(TriggerListFile::Load(list, ListPath()), TriggerListFile::kOk);
    EXPECT_EQ(list.BaseDir(), ".\\triggers");
    ASSERT_EQ(list.CountSound(), 1);
    EXPECT_EQ(list.GetSound(0)->name, "R\xC3\xA9veil");
    ASSERT_EQ(TriggerListFile::Save(list, ListPath()), TriggerListFile::kOk);
    const std::string text = ReadFile(ListPath());
    EXPECT_NE(text.find("<baseDir>.\\triggers</baseDir>"), std::string::npos);
    EXPECT_NE(text.find("trigger=\"jingles\\ding.wav\""), std::string::npos);
}

TEST_F(TriggerListFileTest, CharactersXmlCannotHoldNeverReachTheFile) {
    // A raw control byte, control characters as references, an invalid byte, U+FFFE.
    const std::string item =
        "<item active=\"v\" name=\"a\x01&#1;b&#x1F;\xFF\xEF\xBF\xBE"
        "c\" "
        "trigger=\"&#27;[1mding.wav\" command=\"x&#0;y\"/>";
    TriggerList list;
    ASSERT_EQ(TriggerListFile::LoadText(list, Document(item, "", "", "<baseDir>./t&#2;</baseDir>")),
              TriggerListFile::kOk);
    ASSERT_EQ(list.CountSound(), 1);
    EXPECT_EQ(list.GetSound(0)->name, "abc");
    EXPECT_EQ(list.GetSound(0)->triggerFile, "[1mding.wav");
    EXPECT_EQ(list.BaseDir(), "./t");
    ASSERT_EQ(TriggerListFile::Save(list, ListPath()), TriggerListFile::kOk);
    const std::optional<bool> wellFormed = testing::XmllintAccepts(ListPath());
    if (!wellFormed) {
        GTEST_SKIP() << "xmllint (package libxml2-utils) is not installed: the saved list "
                        "was not checked against XML 1.0";
    }
    EXPECT_TRUE(*wellFormed) << ReadFile(ListPath());
}

TEST_F(TriggerListFileTest, BaseFolderReadsBackAsItWasSaved) {
    // White space that dropped characters kept away from either end is layout once they go.
    const std::pair<std::string_view, std::string_view> cases[] = {
        {"<baseDir>\xFF\ts</baseDir>", "s"},
        {"<baseDir>\t\xFF\xF9\t./t\r\n&#2;&#9;</baseDir>", "./t"},
        {"<baseDir>&#9;./my sounds&#10;</baseDir>", "./my sounds"},
    };
    for (const auto& [element, expected] : cases) {
        TriggerList list;
        ASSERT_EQ(TriggerListFile::LoadText(list, Document("", "", "", element)),
                  TriggerListFile::kOk);
        EXPECT_EQ(list.BaseDir(), expected);
        const std::string saved = TriggerListFile::BuildText(list);
        TriggerList reloaded;
        ASSERT_EQ(TriggerListFile::LoadText(reloaded, saved), TriggerListFile::kOk);
        EXPECT_EQ(TriggerListFile::BuildText(reloaded), saved);
    }
    TriggerList list;
    list.SetBaseDir(" \t/srv/sounds\r\n");
    EXPECT_EQ(list.BaseDir(), "/srv/sounds");
}

TEST_F(TriggerListFileTest, ProblemsWithAnExistingFileAreNamed) {
    TriggerList list;
    std::string reason = "unchanged";
    EXPECT_EQ(TriggerListFile::Load(list, ListPath(), &reason), TriggerListFile::kNotReadable);
    EXPECT_EQ(reason, "unchanged");  // a missing file is no problem
    WriteFile(ListPath(), "garbage");
    TriggerListFile::Load(list, ListPath(), &reason);
    EXPECT_TRUE(reason.starts_with("is not well-formed XML")) << reason;
    WriteFile(ListPath(), "<root/>");
    EXPECT_EQ(TriggerListFile::Load(list, ListPath(), &reason), TriggerListFile::kNoBaseDir);
    EXPECT_EQ(reason, "has no Sound/baseDir element");
    std::filesystem::resize_file(ListPath(), TriggerListFile::kMaxFileBytes + 1);
    TriggerListFile::Load(list, ListPath(), &reason);
    EXPECT_TRUE(reason.starts_with("is 13908709 bytes long")) << reason;
    std::filesystem::remove(ListPath());
    std::filesystem::create_directory(ListPath());
    TriggerListFile::Load(list, ListPath(), &reason);
    EXPECT_EQ(reason, "is a folder");
}

TEST_F(TriggerListFileTest, ListsTooLargeToReadBackAreNotWritten) {
    TriggerList list;
    Trigger huge = Active("sound", std::string(TriggerListFile::kMaxFileBytes / 2, 'n'));
    list.Add(huge);
    huge.name += "2";
    list.Add(huge);
    EXPECT_EQ(TriggerListFile::Save(list, ListPath()), TriggerListFile::kTooLarge);
    EXPECT_EQ(TriggerListFile::SaveWithBackups(list, ListPath()), TriggerListFile::kTooLarge);
    EXPECT_EQ(folder_.EntryCount(), 0u);
}

TEST_F(TriggerListFileTest, SavingThroughALinkWritesItsTargetAndBacksItUpThere) {
    const std::string target = folder_.File("real.xml");
    TriggerList list;
    list.Add(Active("sound", "first"));
    ASSERT_EQ(TriggerListFile::Save(list, target), TriggerListFile::kOk);
    ASSERT_EQ(::symlink("real.xml", ListPath().c_str()), 0);
    list.Add(Active("sound", "second"));
    ASSERT_EQ(TriggerListFile::SaveWithBackups(list, ListPath()), TriggerListFile::kOk);
    EXPECT_TRUE(std::filesystem::is_symlink(ListPath()));
    EXPECT_EQ(ReadFile(target), TriggerListFile::BuildText(list));
    EXPECT_NE(ReadFile(folder_.File("real_bak1.xml")).find("first"), std::string::npos);
    EXPECT_EQ(folder_.EntryCount(), 3u);
}

TEST_F(TriggerListFileTest, MissingBaseFolderReadsNothing) {
    TriggerList list;
    list.Add(Active("level", "kept"));
    EXPECT_EQ(TriggerListFile::LoadText(
                  list, Document("<item active=\"v\"/>", "", "", "<notBaseDir>x</notBaseDir>")),
              TriggerListFile::kNoBaseDir);
    EXPECT_EQ(list.CountSound(), 0);
    EXPECT_EQ(list.CountLevel(), 1);
    EXPECT_EQ(list.BaseDir(), TriggerList::kDefaultBaseDir);
}

TEST_F(TriggerListFileTest, UnreadableFilesChangeNothing) {
    TriggerList list;
    list.Add(Active("sound", "kept"));
    EXPECT_EQ(TriggerListFile::Load(list, ""), TriggerListFile::kNoPath);
    EXPECT_EQ(TriggerListFile::Load(list, ListPath()), TriggerListFile::kNotReadable);
    const std::string good = Document("<item active=\"v\" name=\"a\"/>");
    for (const std::string& bytes :
         {std::string(), std::string("not xml at all"), good.substr(0, good.size() / 2),
          std::string("\x7F"
                      "ELF\x02\x01\x01\x00\x00\x00\xFF\xFE",
                      12)}) {
        WriteFile(ListPath(), bytes);
        EXPECT_EQ(TriggerListFile::Load(list, ListPath()), TriggerListFile::kNotReadable);
        ASSERT_EQ(list.CountSound(), 1);
        EXPECT_EQ(list.GetSound(0)->name, "kept");
    }
}

TEST_F(TriggerListFileTest, KindsInAnOverfullFileReplaceTheirRecordsUpToEachLimit) {
    constexpr int kItems = 4000;  // twice the most a kind holds
    std::string items;
    items.reserve(kItems * 120);
    for (int i = 0; i < kItems; ++i) {
        items += "<item active=\"v\" name=\"item " + std::to_string(i) +
                 "\" trigger=\"30\" control=\"down 10\" duration=\"00:00:05\" "
                 "startTime=\"\" endTime=\"\" command=\"\" commandArgs=\"\"/>";
    }
    WriteFile(ListPath(), Document(items, "", items));
    TriggerList list;
    list.Add(Active("time", "replaced by an empty Time element"));
    list.Add(Active("sound", "replaced"));
    ASSERT_EQ(TriggerListFile::Load(list, ListPath()), TriggerListFile::kOk);
    EXPECT_EQ(list.CountSound(), TriggerList::kDefaultMaxSound);
    EXPECT_EQ(list.GetSound(0)->name, "item 0");
    EXPECT_EQ(list.CountTime(), 0);
    EXPECT_EQ(list.CountLevel(), TriggerList::kDefaultMaxLevel);
    EXPECT_EQ(list.GetLevel(49)->name, "item 49");
}

TEST_F(TriggerListFileTest, InactiveItemsAreLoadedButNeverListed) {
    TriggerList list;
    ASSERT_EQ(
        TriggerListFile::LoadText(list, Document("<item active=\"_\" name=\"a\"/><item name=\"b\"/>"
                                                 "<item active=\"v\" name=\"c\"/>")),
        TriggerListFile::kOk);
    EXPECT_EQ(list.StoredCount(TriggerKind::Sound), 3);
    EXPECT_EQ(list.CountSound(), 1);
}

// "program" is stored as its own word; the reading rule that takes every target word it
// does not know for "whole" is what keeps such a file usable by a reader without it.
TEST_F(TriggerListFileTest, ProgramTargetIsStoredAsItsWordAndUnknownWordsReadAsWhole) {
    TriggerList saved;
    Trigger sound = Active("sound", "ad");
    sound.triggerFile = "ad-jingle.wav";
    sound.SetControl("down 30");
    sound.duration = TriggerTime(0, 0, 5);
    sound.SetText(&Trigger::target, "program");
    saved.Add(sound);
    ASSERT_EQ(TriggerListFile::Save(saved, ListPath()), TriggerListFile::kOk);
    EXPECT_NE(ReadFile(ListPath()).find("target=\"program\""), std::string::npos);
    TriggerList loaded;
    ASSERT_EQ(TriggerListFile::Load(loaded, ListPath()), TriggerListFile::kOk);
    ASSERT_EQ(loaded.CountSound(), 1);
    EXPECT_EQ(loaded.GetSound(0)->GetTargetCode(), TargetCode::Program);

    ASSERT_EQ(TriggerListFile::LoadText(
                  loaded, Document("<item active=\"v\" trigger=\"a.wav\" target=\"tab\"/>")),
              TriggerListFile::kOk);
    ASSERT_EQ(loaded.CountSound(), 1);
    EXPECT_EQ(loaded.GetSound(0)->GetTargetCode(), TargetCode::Whole);
}

TEST_F(TriggerListFileTest, ItemAttributesFollowTheReadingRules) {
    EXPECT_EQ(TimeItem("duration=\"\"").duration.Formatted(), "00:00:00");
    EXPECT_EQ(TimeItem("dayOfWeek=\"\"").SelectedDayNames(), "");
    EXPECT_EQ(TimeItem("").SelectedDayNames(), "MONTUEWEDTHUFRISATSUN");
    EXPECT_TRUE(TimeItem("every=\"Yes\"").every);
    EXPECT_FALSE(TimeItem("every=\"1\"").every);

    TriggerList list;
    ASSERT_EQ(TriggerListFile::LoadText(
                  list, Document("", "",
                                 "<item active=\"v\" trigger=\" -7x\" target=\"telephone\"/>"
                                 "<item active=\"v\" trigger=\"many\"/><item active=\"v\"/>")),
              TriggerListFile::kOk);
    ASSERT_EQ(list.CountLevel(), 3);
    EXPECT_EQ(list.GetLevel(0)->level, 0);         // a percentage: negative levels become 0
    EXPECT_EQ(list.GetLevel(0)->target, "whole");  // levels ignore the target
    EXPECT_EQ(list.GetLevel(1)->level, 0);
    EXPECT_EQ(list.GetLevel(2)->level, 100);
    ASSERT_EQ(TriggerListFile::LoadText(
                  list, Document("", "",
                                 "<item active=\"v\" trigger=\"-99999999999999999999\"/>"
                                 "<item active=\"v\" trigger=\"250\"/>")),
              TriggerListFile::kOk);
    EXPECT_EQ(list.GetLevel(0)->level, 0);
    EXPECT_EQ(list.GetLevel(1)->level, 100);
}

TEST_F(TriggerListFileTest, MergeAddsNewRecordsAndKeepsTheBaseFolder) {
    TriggerList file;
    file.SetBaseDir("./elsewhere");
    file.Add(Active("sound", "shared"));
    file.Add(Active("level", "new"));
    ASSERT_EQ(TriggerListFile::Save(file, ListPath()), TriggerListFile::kOk);

    TriggerList list;
    list.Add(Active("sound", "shared"));
    ASSERT_EQ(TriggerListFile::LoadAndMerge(list, ListPath()), TriggerListFile::kOk);
    EXPECT_EQ(list.CountSound(), 1);
    EXPECT_EQ(list.CountLevel(), 1);
    EXPECT_EQ(list.BaseDir(), TriggerList::kDefaultBaseDir);
    WriteFile(ListPath(), "broken");
    EXPECT_NE(TriggerListFile::LoadAndMerge(list, ListPath()), TriggerListFile::kOk);
    EXPECT_EQ(list.CountLevel(), 1);
}

TEST_F(TriggerListFileTest, SavingRotatesThreeBackups) {
    EXPECT_EQ(TriggerListFile::BackupPath("/a/list", 3), "/a/list_bak3.xml");
    std::vector<std::string> generations;
    for (int generation = 0; generation < 5; ++generation) {
        TriggerList list;
        list.Add(Active("sound", "generation " + std::to_string(generation)));
        ASSERT_EQ(TriggerListFile::SaveWithBackups(list, ListPath()), TriggerListFile::kOk);
        generations.push_back(TriggerListFile::BuildText(list));
    }
    EXPECT_EQ(ReadFile(ListPath()), generations[4]);
    for (int n = 1; n <= 3; ++n) {
        EXPECT_EQ(ReadFile(TriggerListFile::BackupPath(ListPath(), n)), generations[4 - n]);
    }
    EXPECT_EQ(folder_.EntryCount(), 4u);
}

TEST_F(TriggerListFileTest, FailedSaveLeavesListAndBackupsAsTheyWere) {
    TriggerList small;
    small.Add(Active("sound", "old"));
    ASSERT_EQ(TriggerListFile::SaveWithBackups(small, ListPath()), TriggerListFile::kOk);
    ASSERT_EQ(TriggerListFile::SaveWithBackups(small, ListPath()), TriggerListFile::kOk);
    const std::string before = ReadFile(ListPath());
    const std::string bak1 = ReadFile(TriggerListFile::BackupPath(ListPath(), 1));

    TriggerList large;
    for (int i = 0; i < 100; ++i) {
        large.Add(Active("sound", "a long enough name to grow the file " + std::to_string(i)));
    }
    {
        FileSizeLimit limit(before.size() + 100);
        EXPECT_EQ(TriggerListFile::SaveWithBackups(large, ListPath()),
                  TriggerListFile::kSaveFailed);
    }
    EXPECT_EQ(ReadFile(ListPath()), before);
    EXPECT_EQ(ReadFile(TriggerListFile::BackupPath(ListPath(), 1)), bak1);
    EXPECT_FALSE(std::filesystem::exists(TriggerListFile::BackupPath(ListPath(), 2)));
    EXPECT_EQ(folder_.EntryCount(), 2u);

    EXPECT_EQ(TriggerListFile::Save(small, ""), TriggerListFile::kSaveFailed);
}

}  // namespace
}  // namespace hushwell
