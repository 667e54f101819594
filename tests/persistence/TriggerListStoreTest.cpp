// The program's own list file: what the detection engine reads at start is what the Controls
// page wrote, and a list that was in use before a load never leaks into it.
#include "persistence/TriggerListStore.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "persistence/TriggerListFile.h"
#include "tests/support/TempFolder.h"

namespace hushwell {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

Trigger ActiveSound(std::string_view name) {
    Trigger t;
    t.triggerKind = "sound";
    t.name = name;
    t.triggerFile = std::string(name) + ".wav";
    t.SetActive(true);
    return t;
}

class TriggerListStoreTest : public ::testing::Test {
protected:
    TempFolder folder_;
    TriggerListStore store_{ProgramPaths::ForDataFolder(folder_.Path())};
};

TEST_F(TriggerListStoreTest, WhatIsSavedIsWhatTheNextStartLoads) {
    TriggerList edited;
    edited.SetBaseDir("./jingles");
    edited.Add(ActiveSound("ad"));
    edited.Add(ActiveSound("bell"));
    ASSERT_EQ(store_.Save(edited), TriggerListFile::kOk);
    EXPECT_EQ(store_.Path(), ProgramPaths::ForDataFolder(folder_.Path()).triggerListFile);

    TriggerList loaded;
    std::string reason;
    ASSERT_EQ(store_.Load(loaded, reason), TriggerListFile::kOk);
    EXPECT_TRUE(reason.empty());
    EXPECT_EQ(loaded.CountSound(), 2);
    EXPECT_EQ(loaded.BaseDir(), "./jingles");
}

TEST_F(TriggerListStoreTest, ALoadStartsFromAnEmptyDefaultList) {
    TriggerList used;
    used.SetBaseDir("/elsewhere");
    used.SetLimits(1, 1, 1);
    used.Add(ActiveSound("old"));

    std::string reason = "stale";
    EXPECT_NE(store_.Load(used, reason), TriggerListFile::kOk);  // no file yet
    EXPECT_TRUE(reason.empty());                                 // missing is not a problem
    EXPECT_EQ(used.CountSound(), 0);
    EXPECT_EQ(used.BaseDir(), TriggerList::kDefaultBaseDir);
    TriggerList two;
    two.Add(ActiveSound("a"));
    two.Add(ActiveSound("b"));
    ASSERT_EQ(store_.Save(two), TriggerListFile::kOk);
    ASSERT_EQ(store_.Load(used, reason), TriggerListFile::kOk);
    EXPECT_EQ(used.CountSound(), 2);  // the default limits, not the list's earlier ones
}

TEST_F(TriggerListStoreTest, AFileThatCannotBeUsedSaysWhy) {
    std::filesystem::create_directory(store_.Path());
    TriggerList list;
    std::string reason;
    EXPECT_NE(store_.Load(list, reason), TriggerListFile::kOk);
    EXPECT_FALSE(reason.empty());
}

TEST_F(TriggerListStoreTest, SavingKeepsThePreviousListAsABackup) {
    TriggerList first;
    first.Add(ActiveSound("first"));
    ASSERT_EQ(store_.Save(first), TriggerListFile::kOk);
    const std::string firstText = ReadFile(store_.Path());
    TriggerList second;
    second.Add(ActiveSound("second"));
    ASSERT_EQ(store_.Save(second), TriggerListFile::kOk);
    EXPECT_EQ(ReadFile(TriggerListFile::BackupPath(store_.Path(), 1)), firstText);
}

TEST(TriggerListStoreNoFolderTest, WithoutADataFolderNothingIsReadOrWritten) {
    const TriggerListStore none(ProgramPaths::ForDataFolder(""));
    EXPECT_FALSE(none.HasFile());
    TriggerList list;
    list.Add(ActiveSound("kept out"));
    std::string reason;
    EXPECT_EQ(none.Load(list, reason), TriggerListFile::kNoPath);
    EXPECT_EQ(list.CountSound(), 0);
    EXPECT_EQ(none.Save(list), TriggerListFile::kNoPath);
    EXPECT_FALSE(std::filesystem::exists(TriggerListFile::kFileName));
}

}  // namespace
}  // namespace hushwell
