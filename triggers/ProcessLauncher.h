#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

#include "triggers/ChildReaper.h"
#include "triggers/CommandOpener.h"

namespace hushwell {

// Opens the command of an "exec" control:
//  - an executable file (a path with a "/", or a name found in PATH) is started directly
//    with its arguments split from the argument text (ArgumentSplitter: quotes honoured, no
//    expansion); no shell ever sees the text;
//  - anything else that exists (a document, a folder) is handed to the desktop's opener
//    ("xdg-open") as an absolute path, and a URL ("https://...", "mailto:...") as it is.
//    The opener takes the one target only, so the argument text is not passed on there.
// A bare name that is not in PATH is looked for in the working folder, as the desktop's
// "open" would. Children start in the working folder ".", with standard input from
// /dev/null, default signal handling and a process group of their own (so a Ctrl+C meant
// for this program does not reach them); they are reaped by a ChildReaper. A child gets no
// descriptor of this program but 0, 1 and 2: every other one is closed before the command
// runs, even those a library opened without close-on-exec.
//
// Every method may be called from any thread.
class ProcessLauncher final : public CommandOpener {
public:
    static constexpr const char* kDefaultOpener = "xdg-open";

    enum class Result {
        Started,
        EmptyCommand,
        UnbalancedQuotes,  // the argument text leaves a quote open
        NotFound,          // neither a program, an existing file nor a URL
        SpawnFailed,
    };

    // How a command would be started: argv[0] is the program given to posix_spawnp.
    struct Plan {
        Result result = Result::NotFound;
        std::vector<std::string> argv;
    };

    // opener: the program that opens documents and URLs.
    explicit ProcessLauncher(std::string opener = kDefaultOpener);

    // Decides how the command would be started, without starting anything.
    Plan MakePlan(const std::string& command, const std::string& commandArgs) const;

    // Starts the command. pid is set when result is Started; spawnError (when given) is the
    // system's error number when result is SpawnFailed.
    Result Launch(const std::string& command, const std::string& commandArgs, pid_t* pid = nullptr,
                  int* spawnError = nullptr);

    bool Open(const std::string& command, const std::string& commandArgs) override;
    bool OpenExplaining(const std::string& command, const std::string& commandArgs,
                        std::string& reason) override;

    // Why a command was not started, in words ("not found", "permission denied", "argument
    // list too long", ...); empty for Started.
    static std::string Reason(Result result, int spawnError);

    // Started children that have not ended and been reaped yet.
    std::size_t RunningChildren() const { return reaper_.PendingCount(); }
    bool WaitForChildren(std::chrono::milliseconds timeout) {
        return reaper_.WaitUntilAllReaped(timeout);
    }

private:
    std::string opener_;
    ChildReaper reaper_;
};

}  // namespace hushwell
