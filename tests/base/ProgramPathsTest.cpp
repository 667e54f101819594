#include "base/ProgramPaths.h"

#include <gtest/gtest.h>

namespace hushwell {
namespace {

// The data folder's files and sound folder are worked out once, from the data folder alone,
// with one separator whether or not the folder ends in one.
TEST(ProgramPathsTest, DataFolderFilesAndSoundFolder) {
    for (const std::string folder :
         {"/home/a/.local/share/Hushwell", "/home/a/.local/share/Hushwell/"}) {
        const ProgramPaths paths = ProgramPaths::ForDataFolder(folder);
        EXPECT_EQ(paths.dataFolder, folder);
        EXPECT_EQ(paths.configFile, "/home/a/.local/share/Hushwell/HushwellConfig.xml");
        EXPECT_EQ(paths.triggerListFile, "/home/a/.local/share/Hushwell/triggers.xml");
        EXPECT_EQ(paths.soundFolder, "/home/a/.local/share/Hushwell/triggers");
        EXPECT_TRUE(paths.startupFolder.empty());
        EXPECT_TRUE(paths.programPath.empty());
    }
}

// Without a data folder the files are bare names (never "/HushwellConfig.xml"); the sound
// folder keeps its old form.
TEST(ProgramPathsTest, EmptyDataFolder) {
    const ProgramPaths paths = ProgramPaths::ForDataFolder("");
    EXPECT_EQ(paths.configFile, "HushwellConfig.xml");
    EXPECT_EQ(paths.triggerListFile, "triggers.xml");
    EXPECT_EQ(paths.soundFolder, "/triggers");
    EXPECT_EQ(ProgramPaths::InFolder("/", "x"), "/x");
}

}  // namespace
}  // namespace hushwell
