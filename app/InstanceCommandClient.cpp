#include "app/InstanceCommandClient.h"

#include <ostream>

#include "app/InstanceMessenger.h"
#include "app/SingleInstanceLock.h"
#include "base/ApplicationDataFolder.h"

namespace hushwell {

std::string InstanceCommandClient::SocketPath() {
    return InstanceMessenger::SocketPathIn(SingleInstanceLock::LockFolder(ApplicationDataFolder()));
}

int InstanceCommandClient::Run(ProgramCommand command, const std::string& socketPath,
                               std::ostream& out, std::ostream& err) {
    const InstanceMessenger::Answer answer =
        InstanceMessenger::Send(socketPath, ProgramCommandLine::RequestOf(command));
    switch (answer.outcome) {
        case InstanceMessenger::Outcome::NotRunning:
            err << kNotRunning << '\n';
            return ProgramCommandLine::kExitNotRunning;
        case InstanceMessenger::Outcome::NotTaken:
            err << kNotTaken << '\n';
            return ProgramCommandLine::kExitNotTaken;
        case InstanceMessenger::Outcome::Answered:
            break;
    }
    if (command == ProgramCommand::Status) {
        out << answer.reply << '\n';
    }
    return ProgramCommandLine::kExitOk;
}

}  // namespace hushwell
