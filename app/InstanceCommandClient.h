#pragma once

#include <iosfwd>
#include <string>

#include "app/ProgramCommandLine.h"

namespace hushwell {

// The client side of the program's command options: carries one command to the running
// instance of this user (over InstanceMessenger's socket beside the single-instance lock),
// prints what there is to print and returns the exit status (ProgramCommandLine::kExit...).
// It starts nothing and writes no log: the running instance logs what it does.
//
// Main thread, with a QCoreApplication; blocks until the instance answers or times out.
class InstanceCommandClient {
public:
    static constexpr const char* kNotRunning = "Hushwell is not running.";
    static constexpr const char* kNotTaken = "The running Hushwell did not take the command.";

    // The socket of this user's running instance.
    static std::string SocketPath();

    static int Run(ProgramCommand command, const std::string& socketPath, std::ostream& out,
                   std::ostream& err);
};

}  // namespace hushwell
