#include <sys/stat.h>

#include <gtest/gtest.h>

#include "persistence/AtomicFile.h"
#include "tests/persistence/TempFolder.h"

namespace hushwell {
namespace {

using testing::FileSizeLimit;
using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

TEST(AtomicFileTest, ReplacesContentKeepsModeAndLeavesNoTemporaryFile) {
    TempFolder folder;
    const std::string path = folder.File("a.xml");
    ASSERT_TRUE(AtomicFile::Write(path, "first, longer content"));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(AtomicFile::Write(path, "second"));
    EXPECT_EQ(ReadFile(path), "second");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(AtomicFileTest, TargetIsUntouchedUntilCommit) {
    TempFolder folder;
    const std::string path = folder.File("a.xml");
    WriteFile(path, "old");
    {
        AtomicFile file(path);
        ASSERT_TRUE(file.Prepare("new"));
        EXPECT_EQ(ReadFile(path), "old");
        // Dropped without Commit: the temporary file goes, the target stays.
    }
    EXPECT_EQ(ReadFile(path), "old");
    EXPECT_EQ(folder.EntryCount(), 1u);
    EXPECT_FALSE(AtomicFile::Write(folder.File("no/such/folder.xml"), "x"));
}

TEST(AtomicFileTest, FullDiskLeavesThePreviousFile) {
    TempFolder folder;
    const std::string path = folder.File("a.xml");
    WriteFile(path, "previous");
    {
        FileSizeLimit limit(1024);
        EXPECT_FALSE(AtomicFile::Write(path, std::string(4096, 'x')));
    }
    EXPECT_EQ(ReadFile(path), "previous");
    EXPECT_EQ(folder.EntryCount(), 1u);
}

TEST(AtomicFileTest, ReadOnlyFolderLeavesThePreviousFile) {
    if (testing::RunningAsRoot()) {
        GTEST_SKIP() << "root writes into read-only folders";
    }
    TempFolder folder;
    const std::string path = folder.File("a.xml");
    WriteFile(path, "previous");
    ASSERT_EQ(::chmod(folder.Path().c_str(), 0555), 0);
    EXPECT_FALSE(AtomicFile::Write(path, "new"));
    EXPECT_EQ(ReadFile(path), "previous");
}

}  // namespace
}  // namespace hushwell
