#include "triggers/EventLog.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/ApplicationDataFolder.h"
#include "base/Clock.h"
#include "tests/support/TempFolder.h"

namespace hushwell {
namespace {

namespace fs = std::filesystem;

const std::string kBom = "\xEF\xBB\xBF";

std::string ReadFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

void WriteFile(const fs::path& p, const std::string& bytes) {
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out << bytes;
}

// The lines of a log file, which must start with the byte order mark.
std::vector<std::string> Lines(std::string text) {
    EXPECT_EQ(text.rfind(kBom, 0), 0u) << "no byte order mark";
    text.erase(0, kBom.size());
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1) {
        lines.push_back(text.substr(start, nl - start));
    }
    EXPECT_EQ(start, text.size()) << "text after the last line end";
    return lines;
}

class EventLogTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/hushwell-eventlog-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        clock_.SetLocalTime(LocalTime{2024, 3, 5, 14, 7, 9, 2});
        log_.SetPath(LogPath().string());
    }
    void TearDown() override { fs::remove_all(dir_); }

    fs::path LogPath() const { return dir_ / "Hushwell-log.txt"; }
    fs::path RotatedPath() const { return dir_ / "Hushwell-log_20240305_140709.txt"; }

    fs::path dir_;
    ManualClock clock_;
    EventLog log_{clock_};
};

TEST_F(EventLogTest, NewFileGetsByteOrderMarkAndOneStampedLinePerMessage) {
    log_.WriteLine("Starting.");
    clock_.AdvanceMs(61000);
    log_.WriteLine("Door bell, loud\nsecond\r\nthird");  // commas stay, breaks do not
    EXPECT_EQ(ReadFile(LogPath()), kBom +
                                       "2024/03/05 14:07:09,Starting.\n"
                                       "2024/03/05 14:08:10,Door bell, loud second  third\n");
}

TEST_F(EventLogTest, RotatesAtTheThresholdAndAppendsJustBelowIt) {
    const std::string below(EventLog::kRotationSize - 1, 'x');
    WriteFile(LogPath(), below);
    log_.WriteLine("appended");
    EXPECT_EQ(ReadFile(LogPath()), below + "2024/03/05 14:07:09,appended\n");
    EXPECT_FALSE(fs::exists(RotatedPath()));

    const std::string full(EventLog::kRotationSize, 'y');
    WriteFile(LogPath(), full);
    log_.WriteLine("fresh");
    EXPECT_EQ(ReadFile(RotatedPath()), full);
    EXPECT_EQ(ReadFile(LogPath()), kBom + "2024/03/05 14:07:09,fresh\n");

    // A second rotation within the same second replaces the earlier rotated file.
    const std::string fullAgain(EventLog::kRotationSize + 10, 'z');
    WriteFile(LogPath(), fullAgain);
    log_.WriteLine("again");
    EXPECT_EQ(ReadFile(RotatedPath()), fullAgain);
    EXPECT_EQ(ReadFile(LogPath()), kBom + "2024/03/05 14:07:09,again\n");
}

TEST_F(EventLogTest, FailedRotationKeepsTheFullLogAndAppends) {
    // A non-empty folder under the rotated name makes the rename fail.
    fs::create_directory(RotatedPath());
    WriteFile(RotatedPath() / "occupied", "x");
    const std::string full(EventLog::kRotationSize, 'y');
    WriteFile(LogPath(), full);

    log_.WriteLine("kept");
    EXPECT_EQ(ReadFile(LogPath()), full + "2024/03/05 14:07:09,kept\n");
}

TEST_F(EventLogTest, LinesThatCannotBeWrittenAreReportedNotLostSilently) {
    std::ostringstream failures;
    EventLog log(clock_, failures);
    log.SetPath(dir_.string());  // a folder, as when the data folder could not be created
    log.WriteLine("Starting.");
    EXPECT_EQ(failures.str(), "Hushwell: cannot write to the log " + dir_.string() +
                                  " (is a folder): 2024/03/05 14:07:09,Starting.\n");
    log.SetPath((dir_ / "missing" / "Hushwell-log.txt").string());
    log.WriteLine("lost");
    EXPECT_FALSE(fs::exists(dir_ / "missing"));

    // A full disk: the line that does not fit is reported and leaves no half line behind.
    failures.str("");
    log.SetPath(LogPath().string());
    log.WriteLine("Starting.");
    const std::string before = ReadFile(LogPath());
    {
        testing::FileSizeLimit limit(before.size() + 20);
        log.WriteLine("Quitting after a long day of work.");
    }
    EXPECT_EQ(ReadFile(LogPath()), before);
    EXPECT_EQ(failures.str(), "Hushwell: cannot write to the log " + LogPath().string() +
                                  " (File too large): 2024/03/05 14:07:09,Quitting after a long "
                                  "day of work.\n");
}

// What a hostile or broken data folder may hold at the log's name: the line is reported, the
// write never blocks, and nothing outside the folder is written.
TEST_F(EventLogTest, AFifoALinkOrAFolderAtTheLogsNameIsReportedAndNeverWaitedOnOrFollowed) {
    std::ostringstream failures;
    EventLog log(clock_, failures);
    log.SetPath(LogPath().string());

    // A FIFO without a reader (a blocking open would wait for one for ever) and with one.
    ASSERT_EQ(::mkfifo(LogPath().c_str(), 0600), 0);
    log.WriteLine("Starting.");
    const int reader = ::open(LogPath().c_str(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(reader, 0);
    log.WriteLine("again");
    char byte = 0;
    EXPECT_LE(::read(reader, &byte, 1), 0) << "a line went into the FIFO";
    ::close(reader);
    EXPECT_EQ(failures.str(), "Hushwell: cannot write to the log " + LogPath().string() +
                                  " (is not a regular file): 2024/03/05 14:07:09,Starting.\n"
                                  "Hushwell: cannot write to the log " +
                                  LogPath().string() +
                                  " (is not a regular file): 2024/03/05 14:07:09,again\n");

    // A link to a file elsewhere, and a dangling one: neither target is written or made.
    fs::remove(LogPath());
    testing::TempFolder elsewhere;
    const std::string users = elsewhere.File("notes.txt");
    WriteFile(users, "mine\n");
    fs::create_symlink(users, LogPath());
    failures.str("");
    log.WriteLine("Starting.");
    EXPECT_EQ(ReadFile(users), "mine\n");
    EXPECT_NE(failures.str().find("(is a symbolic link)"), std::string::npos) << failures.str();
    fs::remove(LogPath());
    fs::create_symlink(elsewhere.File("made.txt"), LogPath());
    log.WriteLine("Starting.");
    EXPECT_FALSE(fs::exists(elsewhere.File("made.txt")));

    fs::remove(LogPath());
    fs::create_directory(LogPath());
    failures.str("");
    log.WriteLine("Starting.");
    EXPECT_NE(failures.str().find("(is a folder)"), std::string::npos) << failures.str();
}

TEST_F(EventLogTest, ManyThreadsWriteWholeLinesAcrossARotation) {
    // About 840 kB in all, so the log is rotated once while the threads write.
    constexpr int kThreads = 8;
    constexpr int kLinesEach = 1500;
    const std::string padding(40, '.');
    std::vector<std::thread> writers;
    for (int t = 0; t < kThreads; ++t) {
        writers.emplace_back([&, t] {
            for (int i = 0; i < kLinesEach; ++i) {
                log_.WriteLine("writer " + std::to_string(t) + " line " + std::to_string(i) +
                               padding);
            }
        });
    }
    for (auto& w : writers) {
        w.join();
    }

    ASSERT_TRUE(fs::exists(RotatedPath()));
    std::string rotated = ReadFile(RotatedPath());
    EXPECT_GE(rotated.size(), EventLog::kRotationSize);

    std::set<std::string> seen;
    for (const auto& file : {RotatedPath(), LogPath()}) {
        for (const std::string& line : Lines(ReadFile(file))) {
            ASSERT_EQ(line.rfind("2024/03/05 14:07:09,writer ", 0), 0u) << line;
            ASSERT_EQ(line.size() - line.find(padding), padding.size()) << line;
            EXPECT_TRUE(seen.insert(line).second) << "duplicate " << line;
        }
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(kThreads * kLinesEach));
}

TEST(EventLogSetUpTest, DataFolderFollowsXdgDataHomeAndAFileInItsPlaceIsNeverWritten) {
    const char* savedXdg = std::getenv("XDG_DATA_HOME");
    const std::optional<std::string> saved =
        savedXdg ? std::optional<std::string>(savedXdg) : std::nullopt;
    setenv("XDG_DATA_HOME", "/data/home", 1);
    EXPECT_EQ(ApplicationDataFolder(), "/data/home/Hushwell");
    setenv("XDG_DATA_HOME", "relative", 1);  // not absolute: ignored, as XDG says
    EXPECT_NE(ApplicationDataFolder(), "relative/Hushwell");
    saved ? setenv("XDG_DATA_HOME", saved->c_str(), 1) : unsetenv("XDG_DATA_HOME");

    char pattern[] = "/tmp/hushwell-logsetup-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    fs::path root = pattern;
    std::string previous = ProgramLog().Path();

    EXPECT_TRUE(SetUpLogPath((root / "Hushwell").string()));
    EXPECT_EQ(ProgramLog().Path(), (root / "Hushwell" / "Hushwell-log.txt").string());

    WriteFile(root / "plain", "not a folder");
    EXPECT_FALSE(SetUpLogPath((root / "plain" / "Hushwell").string()));
    WriteLogLine("lost");  // into a file that cannot exist: only reported on standard error

    // A user's file where the data folder should be is never written into.
    EXPECT_FALSE(SetUpLogPath((root / "plain").string()));
    WriteLogLine("Starting.");
    EXPECT_EQ(ReadFile(root / "plain"), "not a folder");

    ProgramLog().SetPath(previous);
    fs::remove_all(root);
}

}  // namespace
}  // namespace hushwell
