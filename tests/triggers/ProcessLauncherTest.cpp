#include "triggers/ProcessLauncher.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>
#include <utility>

namespace hushwell {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Args = std::vector<std::string>;

constexpr auto kGenerous = 20s;

// Records its arguments, NUL-separated, to "<script>.out" (written aside and renamed, so
// the file appears complete).
constexpr const char* kRecorderScript = R"(#!/bin/sh
out="$0.out"
for a in "$@"; do printf '%s\0' "$a"; done > "$out.part"
mv "$out.part" "$out"
)";

class ProcessLauncherTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "hushwell-launch-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir_ = pattern;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    fs::path WriteFile(const std::string& name, const std::string& text, bool executable) {
        fs::path path = dir_ / name;
        std::ofstream(path) << text;
        chmod(path.c_str(), executable ? 0755 : 0644);
        return path;
    }

    // Waits for the recorder's output and returns the arguments it saw.
    static std::optional<Args> WaitForRecord(const fs::path& script) {
        const fs::path out = script.string() + ".out";
        const auto deadline = std::chrono::steady_clock::now() + kGenerous;
        while (!fs::exists(out)) {
            if (std::chrono::steady_clock::now() > deadline) {
                return std::nullopt;
            }
            std::this_thread::sleep_for(2ms);
        }
        std::ifstream in(out, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        Args args;
        std::string arg;
        std::istringstream split(text.str());
        while (std::getline(split, arg, '\0')) {
            args.push_back(arg);
        }
        return args;
    }

    fs::path dir_;
};

// Not reaped by anyone: waitpid on it reports "no such child" only once it was reaped.
bool WasReaped(pid_t pid) {
    int status = 0;
    return waitpid(pid, &status, WNOHANG) < 0 && errno == ECHILD;
}

TEST_F(ProcessLauncherTest, HostileArgumentsReachTheProgramLiterally) {
    const fs::path script = WriteFile("record", kRecorderScript, true);
    ProcessLauncher launcher;
    pid_t pid = 0;
    const std::string args =
        R"($(touch pwned1) `touch pwned2` ; touch pwned3 | cat & *.wav "$HOME" '$(id)' a\ b "")";
    ASSERT_EQ(launcher.Launch(script.string(), args, &pid), ProcessLauncher::Result::Started);
    auto seen = WaitForRecord(script);
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(*seen, (Args{"$(touch", "pwned1)", "`touch", "pwned2`", ";", "touch", "pwned3", "|",
                           "cat", "&", "*.wav", "$HOME", "$(id)", "a b", ""}));
    for (const char* name : {"pwned1", "pwned2", "pwned3"}) {
        EXPECT_FALSE(fs::exists(dir_ / name));
        EXPECT_FALSE(fs::exists(name));
    }
    ASSERT_TRUE(launcher.WaitForChildren(kGenerous));
    EXPECT_TRUE(WasReaped(pid));
}

TEST_F(ProcessLauncherTest, EveryChildIsReapedByItsOwnPid) {
    ProcessLauncher launcher;
    // A child of our own that the launcher must not collect.
    pid_t own = fork();
    ASSERT_GE(own, 0);
    if (own == 0) {
        _exit(7);
    }
    std::vector<pid_t> pids;
    for (int i = 0; i < 8; ++i) {
        pid_t pid = 0;
        ASSERT_EQ(launcher.Launch("true", "", &pid), ProcessLauncher::Result::Started);
        pids.push_back(pid);
    }
    ASSERT_TRUE(launcher.WaitForChildren(kGenerous));
    EXPECT_EQ(launcher.RunningChildren(), 0u);
    for (pid_t pid : pids) {
        EXPECT_TRUE(WasReaped(pid)) << pid;
    }
    int status = 0;
    ASSERT_EQ(waitpid(own, &status, 0), own);
    EXPECT_EQ(WEXITSTATUS(status), 7);
}

TEST_F(ProcessLauncherTest, DocumentsAndUrlsGoToTheOpener) {
    const fs::path opener = WriteFile("opener", kRecorderScript, true);
    const fs::path document = WriteFile("notes with space.txt", "hello", false);
    ProcessLauncher launcher(opener.string());

    ASSERT_EQ(launcher.Launch(document.string(), "--ignored arg"),
              ProcessLauncher::Result::Started);
    auto seen = WaitForRecord(opener);
    ASSERT_TRUE(seen.has_value());
    EXPECT_EQ(*seen, Args{document.string()});
    ASSERT_TRUE(launcher.WaitForChildren(kGenerous));

    for (const auto& [target, expected] :
         {std::pair<std::string, std::string>{"https://example.org/a?b=c&d",
                                              "https://example.org/a?b=c&d"},
          {" mailto:someone@example.org ", "mailto:someone@example.org"},
          {dir_.string() + "/./", dir_.string() + "/"}}) {
        EXPECT_EQ(launcher.MakePlan(target, "").argv, (Args{opener.string(), expected}));
    }
}

TEST_F(ProcessLauncherTest, PlansProgramsAndRefusesWhatCannotBeStartedSafely) {
    ProcessLauncher launcher("opener");
    EXPECT_EQ(launcher.MakePlan("sh", "-c 'echo hi'").argv, (Args{"sh", "-c", "echo hi"}));
    using Result = ProcessLauncher::Result;
    for (const auto& [command, args, expected] :
         {std::tuple<std::string, std::string, Result>{" \t", "", Result::EmptyCommand},
          {"sh", "-c 'echo", Result::UnbalancedQuotes},
          {(dir_ / "missing").string(), "", Result::NotFound},
          {"no-such-program-hushwell", "", Result::NotFound},
          // A shell command line as the command is a file name, not a command line.
          {"true; touch pwned", "", Result::NotFound}}) {
        EXPECT_EQ(launcher.MakePlan(command, args).result, expected) << command << args;
    }
    EXPECT_FALSE(launcher.Open("sh", "-c 'unfinished"));

    const fs::path document = WriteFile("doc.txt", "x", false);
    ProcessLauncher noOpener((dir_ / "no-opener").string());
    EXPECT_EQ(noOpener.Launch(document.string(), ""), Result::SpawnFailed);
    EXPECT_EQ(launcher.RunningChildren() + noOpener.RunningChildren(), 0u);
}

// A descriptor opened without close-on-exec (as libpulse opens its shared memory) stays out
// of the command: it sees 0, 1 and 2, and the one "ls" opens to read the listing.
TEST_F(ProcessLauncherTest, ChildGetsNoDescriptorOfTheProgramButTheStandardOnes) {
    constexpr int kLeaky = 57;
    const int fd = ::open("/dev/null", O_RDONLY);  // no O_CLOEXEC
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::dup2(fd, kLeaky), kLeaky);
    const fs::path script = WriteFile("fds", R"(#!/bin/sh
ls /proc/self/fd > "$0.out.part"
mv "$0.out.part" "$0.out"
)",
                                      true);
    ProcessLauncher launcher;
    ASSERT_EQ(launcher.Launch(script.string(), ""), ProcessLauncher::Result::Started);
    const fs::path out = script.string() + ".out";
    const auto deadline = std::chrono::steady_clock::now() + kGenerous;
    while (!fs::exists(out) && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(2ms);
    }
    ::close(kLeaky);
    ::close(fd);
    std::ifstream in(out);
    std::set<std::string> seen;
    for (std::string line; std::getline(in, line);) {
        seen.insert(line);
    }
    EXPECT_EQ(seen, (std::set<std::string>{"0", "1", "2", "3"}));
    ASSERT_TRUE(launcher.WaitForChildren(kGenerous));
}

TEST_F(ProcessLauncherTest, CommandsThatCannotStartSayWhy) {
    using Result = ProcessLauncher::Result;
    ProcessLauncher launcher;
    std::string reason;
    EXPECT_FALSE(launcher.OpenExplaining((dir_ / "missing").string(), "", reason));
    EXPECT_EQ(reason, "not found");
    EXPECT_FALSE(launcher.OpenExplaining("true", std::string(200000, 'x'), reason));
    EXPECT_EQ(reason, "argument list too long");
    const fs::path document = WriteFile("doc.txt", "x", false);
    ProcessLauncher closedOpener(WriteFile("opener", "#!/bin/sh\n", false).string());
    EXPECT_FALSE(closedOpener.OpenExplaining(document.string(), "", reason));
    EXPECT_EQ(reason, "permission denied");
    ProcessLauncher noOpener((dir_ / "no-opener").string());
    EXPECT_FALSE(noOpener.OpenExplaining(document.string(), "", reason));
    EXPECT_EQ(reason, "not found");
    EXPECT_EQ(ProcessLauncher::Reason(Result::UnbalancedQuotes, 0),
              "a quote in the arguments is not closed");
    EXPECT_TRUE(launcher.OpenExplaining("true", "", reason));
    EXPECT_EQ(reason, "");
    ASSERT_TRUE(launcher.WaitForChildren(kGenerous));
}

TEST(ChildReaperTest, ReapsByPollingWherePidFdsAreMissing) {
    ChildReaper reaper(ChildReaper::Watch::Polling);
    std::vector<pid_t> pids;
    for (int i = 0; i < 3; ++i) {
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            _exit(0);
        }
        reaper.Adopt(pid);
        pids.push_back(pid);
    }
    ASSERT_TRUE(reaper.WaitUntilAllReaped(kGenerous));
    for (pid_t pid : pids) {
        EXPECT_TRUE(WasReaped(pid));
    }
}

TEST(ChildReaperTest, ForgetsChildrenSomeoneElseReaped) {
    ChildReaper reaper;
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    reaper.Adopt(pid);  // already gone: must not be waited for forever
    EXPECT_TRUE(reaper.WaitUntilAllReaped(kGenerous));
}

}  // namespace
}  // namespace hushwell
