#include <QCoreApplication>
#include <iostream>

#include "app/Application.h"
#include "app/InstanceCommandClient.h"
#include "app/ProgramCommandLine.h"

using hushwell::ProgramCommand;
using hushwell::ProgramCommandLine;

int main(int argc, char** argv) {
    const ProgramCommandLine::Parsed parsed = ProgramCommandLine::Parse(argc, argv);
    if (!parsed.error.empty()) {
        std::cerr << "hushwell: " << parsed.error << "\nTry 'hushwell --help'.\n";
        return ProgramCommandLine::kExitUsage;
    }
    if (parsed.command == ProgramCommand::Help) {
        std::cout << ProgramCommandLine::Usage();
        return ProgramCommandLine::kExitOk;
    }
    // --show starts the program when none runs (a second start shows the running one).
    if (parsed.command != ProgramCommand::Run && parsed.command != ProgramCommand::Show) {
        // A command for the running instance needs no display and starts nothing.
        QCoreApplication client(argc, argv);
        return hushwell::InstanceCommandClient::Run(
            parsed.command, hushwell::InstanceCommandClient::SocketPath(), std::cout, std::cerr);
    }
    hushwell::Application app(argc, argv);
    if (parsed.command == ProgramCommand::Show) {
        app.ShowSettingsWhenStarted();
    }
    return app.Run();
}
