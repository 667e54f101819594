#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>

#include "persistence/AtomicFile.h"
#include "tests/support/TempFolder.h"

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

mode_t ModeOf(const std::string& path) {
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

TEST(AtomicFileTest, ALinkStaysALinkAndItsTargetKeepsItsMode) {
    TempFolder folder;
    std::filesystem::create_directory(folder.File("real"));
    const std::string target = folder.File("real/list.xml");
    WriteFile(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    const std::string link = folder.File("link.xml");
    const std::string chain = folder.File("chain.xml");
    ASSERT_EQ(::symlink("real/list.xml", link.c_str()), 0);  // relative to its folder
    ASSERT_EQ(::symlink(link.c_str(), chain.c_str()), 0);

    ASSERT_TRUE(AtomicFile::Write(chain, "new"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_TRUE(std::filesystem::is_symlink(chain));
    EXPECT_EQ(ReadFile(target), "new");
    EXPECT_EQ(ModeOf(target), 0640u);
    EXPECT_EQ(folder.EntryCount(), 3u);

    // A link to a file not there yet creates that file.
    ASSERT_EQ(::symlink("real/new.xml", folder.File("ahead.xml").c_str()), 0);
    ASSERT_TRUE(AtomicFile::Write(folder.File("ahead.xml"), "created"));
    EXPECT_EQ(ReadFile(folder.File("real/new.xml")), "created");
    // A loop of links is refused.
    ASSERT_EQ(::symlink("loop.xml", folder.File("loop.xml").c_str()), 0);
    std::error_code error;
    EXPECT_FALSE(AtomicFile::Write(folder.File("loop.xml"), "x", &error));
    EXPECT_EQ(error, std::errc::too_many_symbolic_link_levels);
}

TEST(AtomicFileTest, NewFilesAreNeverWritableByOthers) {
    TempFolder folder;
    const mode_t previous = ::umask(0);
    const bool written = AtomicFile::Write(folder.File("open.xml"), "x");
    ::umask(027);
    AtomicFile::Write(folder.File("narrow.xml"), "x");
    ::umask(previous);
    ASSERT_TRUE(written);
    EXPECT_EQ(ModeOf(folder.File("open.xml")), 0644u);
    EXPECT_EQ(ModeOf(folder.File("narrow.xml")), 0640u);
}

}  // namespace
}  // namespace hushwell
