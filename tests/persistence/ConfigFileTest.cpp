#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <utility>

#include "persistence/ConfigFile.h"
#include "tests/support/TempFolder.h"
#include "triggers/EventLog.h"

namespace hushwell {
namespace {

using testing::FileSizeLimit;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

// A configuration document holding the given elements.
std::string Config(std::string_view body) {
    return "<root><hushwellConfig version=\"1.0\">" + std::string(body) +
           "</hushwellConfig></root>";
}

Settings Read(std::string_view body) {
    Settings settings;
    EXPECT_TRUE(ConfigFile::LoadText(settings, Config(body)));
    return settings;
}

TEST(ConfigFileTest, ChangedSettingsRoundTrip) {
    TempFolder folder;
    const std::string path = ConfigFile::PathIn(folder.Path());
    Settings saved;
    saved.hotkeys[Settings::kRegister] = {"Register", "_", 9, 65};
    saved.hotkeys[Settings::kRecordSound].active = "";  // written as off
    saved.defaultDuration = TriggerTime(0, 2, 30);
    saved.launchAtLogon = "v";
    saved.volumeUpRate = "120";
    saved.volumeDownRate = "0";  // out of range: not written, read back as "50"
    saved.placement = {10, -20, 800, 600, 3};
    saved.triggerListColumnWidths = {100, 200, 300};
    ASSERT_TRUE(ConfigFile::Save(saved, path));

    Settings loaded;
    ASSERT_TRUE(ConfigFile::Load(loaded, path));
    EXPECT_EQ(loaded.volumeDownRate, "50");
    saved.volumeDownRate = "50";
    saved.hotkeys[Settings::kRecordSound].active = "_";
    EXPECT_EQ(ConfigFile::BuildText(loaded), ConfigFile::BuildText(saved));

    const std::string text = ReadFile(path);
    EXPECT_EQ(text.find("defaultVolumeDownRate"), std::string::npos);
    EXPECT_NE(text.find("\t<windowPlacement  top=\"-20\" bottom=\"600\" left=\"10\" "
                        "right=\"800\" tab=\"3\"  />\n"),
              std::string::npos);
    EXPECT_NE(text.find("\t<FilterTab listColumnWidth=\"100 200 300\"  />\n"), std::string::npos);
}

TEST(ConfigFileTest, MissingOrBrokenFilesLeaveTheResetValues) {
    TempFolder folder;
    const std::string path = ConfigFile::PathIn(folder.Path() + "/");
    EXPECT_EQ(path, folder.Path() + "/HushwellConfig.xml");
    Settings settings;
    EXPECT_FALSE(ConfigFile::Load(settings, path));
    WriteFile(path, "<root><hushwellConfig><launchAtLogon check=\"v\"/>");
    EXPECT_FALSE(ConfigFile::Load(settings, path));
    EXPECT_EQ(ConfigFile::BuildText(settings), ConfigFile::BuildText(Settings()));
}

TEST(ConfigFileTest, ChecksAndRatesFollowTheReadingRules) {
    for (std::string_view check : {"V", "yes", "1", ""}) {
        Settings settings;
        settings.launchAtLogon = "v";
        ASSERT_TRUE(ConfigFile::LoadText(
            settings, Config("<launchAtLogon check=\"" + std::string(check) + "\"/>")));
        EXPECT_EQ(settings.launchAtLogon, "") << check;
    }
    for (const auto& [rate, expected] : {std::pair<const char*, const char*>{"0", "50"},
                                         {"301", "50"},
                                         {"300", "300"},
                                         {"1", "1"}}) {
        EXPECT_EQ(Read("<defaultVolumeUpRate value=\"" + std::string(rate) + "\"/>").volumeUpRate,
                  expected);
    }
    EXPECT_EQ(Read("").volumeDownRate, "50");  // set once the reading reaches the key
    // The last element of a key counts.
    EXPECT_EQ(Read("<defaultAction value=\"2\"/><x><defaultAction value=\"3\"/></x>"
                   "<reccordRegisterShortcuts><defaultAction value=\"5\"/>"
                   "<defaultDuration value=\"90\"/></reccordRegisterShortcuts>")
                  .defaultAction,
              5);
}

// The two switches newer than the rest: files without them (older ones, the other
// platform's) read as on, and each is saved and read back on its own.
TEST(ConfigFileTest, VerifyMatchesAndNotificationsAreOnUnlessTheFileTurnsThemOff) {
    for (const auto& [element, field] : {std::pair{"verifyMatches", &Settings::verifyMatches},
                                         std::pair{"notifications", &Settings::notifications}}) {
        SCOPED_TRACE(element);
        const std::string name = element;
        EXPECT_EQ(Read("").*field, "v");
        EXPECT_EQ(Read("<launchAtLogon check=\"v\"/>").*field, "v");
        EXPECT_EQ(Read("<" + name + " check=\"\"/>").*field, "");
        EXPECT_EQ(Read("<" + name + " check=\"no\"/>").*field, "");
        EXPECT_EQ(Read("<" + name + "/>").*field, "v");

        TempFolder folder;
        const std::string path = ConfigFile::PathIn(folder.Path());
        for (const std::string value : {"", "v"}) {
            Settings saved;
            saved.*field = value;
            ASSERT_TRUE(ConfigFile::Save(saved, path));
            Settings loaded;
            loaded.*field = value == "v" ? "" : "v";
            ASSERT_TRUE(ConfigFile::Load(loaded, path));
            EXPECT_EQ(loaded.*field, value);
            // The other switch keeps its own value.
            EXPECT_EQ(loaded.verifyMatches == "v" && loaded.notifications == "v", value == "v");
        }
        EXPECT_NE(ReadFile(path).find("\t<" + name + " check=\"v\"/>\n"), std::string::npos);
    }
}

TEST(ConfigFileTest, WidthListsTakeTheFirstDigitRuns) {
    const Settings two = Read("<FilterTab listColumnWidth=\"120,80\"/>");
    EXPECT_EQ(two.triggerListColumnWidths, (std::array<std::int32_t, 3>{120, 80, 0}));
    const Settings many = Read("<LogTab listColumnWidth=\"a5 b6 c7\"/>");
    EXPECT_EQ(many.logListColumnWidths, (std::array<std::int32_t, 2>{5, 6}));
    EXPECT_EQ(Read("<windowPlacement left=\"-4\" tab=\"x\"/>").placement.left, -4);
}

TEST(ConfigFileTest, HotkeyItemsNeedAllFourAttributesAndAKnownNameAndKey) {
    const Settings s = Read(
        "<hotkey>"
        "<item active=\"_\" name=\"RecordSound\" modifier=\"23\" vkey=\"65\"/>"
        "<item active=\"_\" name=\"StopStartThis\" modifier=\"1\" vkey=\"300\"/>"
        "<item active=\"_\" name=\"RecordSave\" vkey=\"66\"/>"
        "<item active=\"_\" name=\"Register\" modifier=\"1\" vkey=\"-5\"/>"
        "<item active=\"_\" name=\"register\" modifier=\"1\" vkey=\"67\"/>"
        "</hotkey>");
    EXPECT_EQ(s.hotkeys[Settings::kRecordSound].modifier, 7);  // masked to four bits
    EXPECT_EQ(s.hotkeys[Settings::kRecordSound].virtualKey, 65);
    // The rest keep their reset keys.
    const Settings reset;
    for (int i : {Settings::kStopStartThis, Settings::kRecordSave, Settings::kRegister}) {
        EXPECT_EQ(s.hotkeys[i].virtualKey, reset.hotkeys[i].virtualKey) << i;
        EXPECT_EQ(s.hotkeys[i].active, reset.hotkeys[i].active) << i;
    }
}

TEST(ConfigFileTest, FreeTextIsEscaped) {
    Settings odd;
    odd.hotkeys[0].name = "Record & \"play\" <now>";
    odd.hotkeys[0].active = "&";
    odd.volumeUpRate = "12 & more";
    Settings loaded;
    loaded.hotkeys[0].name = odd.hotkeys[0].name;
    ASSERT_TRUE(ConfigFile::LoadText(loaded, ConfigFile::BuildText(odd)));
    EXPECT_EQ(loaded.hotkeys[0].active, "&");
    EXPECT_EQ(loaded.volumeUpRate, "12 & more");
}

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

TEST(ConfigFileTest, AnUnreadableFileIsMovedAsideNotOverwritten) {
    TempFolder folder;
    LogInto log(folder);
    const ManualClock clock(0, LocalTime{2026, 12, 7, 0, 45, 12, 1});
    const std::string path = ConfigFile::PathIn(folder.Path());
    const std::string aside = path + ".unreadable-20261207-004512";
    Settings settings;
    EXPECT_EQ(ConfigFile::LoadOrSetAside(settings, path, clock), ConfigFile::LoadResult::Missing);
    EXPECT_EQ(folder.EntryCount(), 0u);

    const std::string broken = "<root><hushwellConfig><launchAtLogon check=\"v\"/";
    WriteFile(path, broken);
    EXPECT_EQ(ConfigFile::LoadOrSetAside(settings, path, clock), ConfigFile::LoadResult::SetAside);
    EXPECT_EQ(ReadFile(aside), broken);
    EXPECT_FALSE(std::filesystem::exists(path));
    const std::string logged = ReadFile(folder.File("log.txt"));
    EXPECT_NE(logged.find("The settings file " + path + " is not well-formed XML"),
              std::string::npos);
    EXPECT_NE(logged.find("it was kept as " + aside), std::string::npos);

    // A save finds another unreadable file in the way: it too is kept, under a free name.
    WriteFile(path, "also broken");
    std::ostringstream errors;
    ASSERT_TRUE(ConfigFile::Save(settings, path, errors, clock));
    EXPECT_EQ(ReadFile(aside + "-2"), "also broken");
    EXPECT_EQ(ReadFile(path), ConfigFile::BuildText(settings));
    ASSERT_TRUE(ConfigFile::Save(settings, path, errors, clock));  // a readable file is replaced
    EXPECT_EQ(folder.EntryCount(), 4u);

    if (!testing::RunningAsRoot()) {
        // When it cannot be moved, it is not replaced either.
        WriteFile(path, "broken again");
        ASSERT_EQ(::chmod(folder.Path().c_str(), 0555), 0);
        EXPECT_EQ(ConfigFile::LoadOrSetAside(settings, path, clock), ConfigFile::LoadResult::Stuck);
        EXPECT_FALSE(ConfigFile::Save(settings, path, errors, clock));
        EXPECT_NE(errors.str().find("(an unreadable file is in the way)"), std::string::npos);
        ASSERT_EQ(::chmod(folder.Path().c_str(), 0755), 0);
        EXPECT_EQ(ReadFile(path), "broken again");
    }
}

TEST(ConfigFileTest, AFailedSaveIsReportedInTheLogAndOnTheErrorStream) {
    TempFolder folder;
    LogInto log(folder);
    const std::string path = ConfigFile::PathIn(folder.Path());
    std::ostringstream errors;
    {
        FileSizeLimit limit(512);  // room for a log line, not for the settings
        EXPECT_FALSE(ConfigFile::Save(Settings(), path, errors));
    }
    const std::string expected = "Could not save the settings to " + path + " (File too large).";
    EXPECT_EQ(errors.str(), "Hushwell: " + expected + "\n");
    EXPECT_NE(ReadFile(folder.File("log.txt")).find(expected), std::string::npos);
    EXPECT_TRUE(ConfigFile::Save(Settings(), path, errors));
}

TEST(ConfigFileTest, SavedSettingsAreWellFormedWhateverTheyHold) {
    Settings settings;
    ASSERT_TRUE(ConfigFile::LoadText(
        settings, Config("<hotkey><item active=\"\xC3\xA9&#1;\" name=\"Register\" "
                         "modifier=\"1\" vkey=\"65\"/></hotkey>"
                         "<defaultVolumeUpRate value=\"12&#27;\"/>")));
    EXPECT_EQ(settings.hotkeys[Settings::kRegister].active, "\xC3\xA9");
    EXPECT_EQ(settings.volumeUpRate, "12");
    const std::string text = ConfigFile::BuildText(settings);
    // The whole first character of the active text, never half of it.
    EXPECT_NE(text.find("<item active=\"\xC3\xA9\" name=\"Register\""), std::string::npos);
}

}  // namespace
}  // namespace hushwell
