#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace hushwell {

// What the command line asks for: start the program (no command option), or carry one command
// to the running instance, or print the usage.
enum class ProgramCommand { Run, Help, Show, Record, RecordSave, Register, Toggle, Quit, Status };

// The program's command line. Options with two dashes are Hushwell's own, and at most one
// command may be given; anything with a single dash is left to Qt (-platform, -session, ...),
// as are arguments without a dash.
//
// Any thread; no state.
class ProgramCommandLine {
public:
    // Exit statuses of a command carried to the running instance.
    static constexpr int kExitOk = 0;
    static constexpr int kExitNotTaken = 1;  // the instance did not answer, or refused
    static constexpr int kExitUsage = 2;
    static constexpr int kExitNotRunning = 3;

    struct Parsed {
        ProgramCommand command = ProgramCommand::Run;
        std::string error;  // not empty: the command line is wrong (exit kExitUsage)
    };

    static Parsed Parse(const std::vector<std::string>& arguments);
    static Parsed Parse(int argc, char** argv);

    // The one-line request that carries a command to the running instance ("record" for
    // --record); empty for Run and Help.
    static std::string_view RequestOf(ProgramCommand command);
    // The command a request line names; Run when it names none.
    static ProgramCommand CommandOfRequest(std::string_view request);

    // The text of --help.
    static std::string Usage();
};

}  // namespace hushwell
