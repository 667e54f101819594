#include <gtest/gtest.h>

#include "persistence/ConfigFile.h"
#include "tests/persistence/TempFolder.h"

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
    saved.preRecordingLengthInSec = 7;
    saved.triggerSoundLengthInSec = 9;
    saved.filenameFormatType = 0;
    saved.defaultAction = 4;
    saved.defaultDuration = TriggerTime(0, 2, 30);
    saved.launchAtLogon = "v";
    saved.volumeUpRate = "120";
    saved.volumeDownRate = "0";  // out of range: not written, read back as "50"
    saved.groupView = "v";
    saved.placement = {10, -20, 800, 600, 3};
    saved.triggerListColumnWidths = {100, 200, 300};
    saved.logListColumnWidths = {40, 500};
    ASSERT_TRUE(ConfigFile::Save(saved, path));

    Settings loaded;
    ASSERT_TRUE(ConfigFile::Load(loaded, path));
    EXPECT_EQ(loaded.volumeDownRate, "50");
    saved.volumeDownRate = "50";
    saved.hotkeys[Settings::kRecordSound].active = "_";
    EXPECT_EQ(ConfigFile::BuildText(loaded), ConfigFile::BuildText(saved));
    EXPECT_EQ(loaded.defaultDuration.Formatted(), "00:02:30");
    EXPECT_EQ(loaded.placement.top, -20);

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
    EXPECT_EQ(settings.launchAtLogon, "");
    EXPECT_EQ(settings.volumeUpRate, "");
    EXPECT_EQ(settings.placement.right, 480);
    EXPECT_EQ(settings.placement.bottom, 465);
    EXPECT_EQ(settings.hotkeys[Settings::kRecordSave].modifier, 3);
    EXPECT_EQ(settings.hotkeys[Settings::kRecordSave].virtualKey, 38);
    EXPECT_EQ(settings.defaultDuration.Formatted(), "00:01:00");
}

TEST(ConfigFileTest, ChecksAndRatesFollowTheReadingRules) {
    for (std::string_view check : {"V", "yes", "1", ""}) {
        Settings settings;
        settings.launchAtLogon = "v";
        ASSERT_TRUE(ConfigFile::LoadText(
            settings, Config("<launchAtLogon check=\"" + std::string(check) + "\"/>")));
        EXPECT_EQ(settings.launchAtLogon, "") << check;
    }
    EXPECT_EQ(Read("<launchAtLogon check=\"v\"/>").launchAtLogon, "v");
    EXPECT_EQ(Read("<triggerList groupView=\"v\"/>").groupView, "v");
    EXPECT_EQ(Read("<defaultVolumeUpRate value=\"0\"/>").volumeUpRate, "50");
    EXPECT_EQ(Read("<defaultVolumeUpRate value=\"301\"/>").volumeUpRate, "50");
    EXPECT_EQ(Read("<defaultVolumeUpRate value=\"120\"/>").volumeUpRate, "120");
    EXPECT_EQ(Read("<defaultVolumeDownRate value=\"1\"/>").volumeDownRate, "1");
    EXPECT_EQ(Read("").volumeDownRate, "50");  // set once the reading reaches the key
    // The last element of a key counts.
    EXPECT_EQ(Read("<defaultAction value=\"2\"/><x><defaultAction value=\"3\"/></x>"
                   "<reccordRegisterShortcuts><defaultAction value=\"5\"/>"
                   "<defaultDuration value=\"90\"/></reccordRegisterShortcuts>")
                  .defaultAction,
              5);
    EXPECT_EQ(Read("<reccordRegisterShortcuts><defaultDuration value=\"90\"/>"
                   "</reccordRegisterShortcuts>")
                  .defaultDuration.Formatted(),
              "00:01:30");
}

TEST(ConfigFileTest, WidthListsTakeTheFirstDigitRuns) {
    const Settings two = Read("<FilterTab listColumnWidth=\"120,80\"/>");
    EXPECT_EQ(two.triggerListColumnWidths, (std::array<std::int32_t, 3>{120, 80, 0}));
    const Settings many = Read("<LogTab listColumnWidth=\"a5 b6 c7\"/>");
    EXPECT_EQ(many.logListColumnWidths, (std::array<std::int32_t, 2>{5, 6}));
    const Settings placed = Read("<windowPlacement left=\"-4\" tab=\"x\"/>");
    EXPECT_EQ(placed.placement.left, -4);
    EXPECT_EQ(placed.placement.tab, 0);
    EXPECT_EQ(placed.placement.right, 480);
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
    EXPECT_EQ(s.hotkeys[Settings::kRecordSound].active, "_");
    EXPECT_EQ(s.hotkeys[Settings::kRecordSound].modifier, 7);  // masked to four bits
    EXPECT_EQ(s.hotkeys[Settings::kRecordSound].virtualKey, 65);
    EXPECT_EQ(s.hotkeys[Settings::kStopStartThis].active, "v");
    EXPECT_EQ(s.hotkeys[Settings::kStopStartThis].virtualKey, 122);
    EXPECT_EQ(s.hotkeys[Settings::kRecordSave].virtualKey, 38);
    EXPECT_EQ(s.hotkeys[Settings::kRegister].virtualKey, 40);
}

TEST(ConfigFileTest, FreeTextIsEscapedAndAFailedSaveKeepsTheOldFile) {
    TempFolder folder;
    const std::string path = ConfigFile::PathIn(folder.Path());
    Settings odd;
    odd.hotkeys[0].name = "Record & \"play\" <now>";
    odd.hotkeys[0].active = "&";
    odd.launchAtLogon = "<v>";
    odd.volumeUpRate = "12 & more";
    ASSERT_TRUE(ConfigFile::Save(odd, path));
    Settings loaded;
    loaded.hotkeys[0].name = odd.hotkeys[0].name;
    ASSERT_TRUE(ConfigFile::Load(loaded, path));
    EXPECT_EQ(loaded.hotkeys[0].active, "&");
    EXPECT_EQ(loaded.volumeUpRate, "12 & more");

    const std::string before = ReadFile(path);
    {
        FileSizeLimit limit(16);
        EXPECT_FALSE(ConfigFile::Save(Settings(), path));
    }
    EXPECT_EQ(ReadFile(path), before);
    EXPECT_EQ(folder.EntryCount(), 1u);
}

}  // namespace
}  // namespace hushwell
