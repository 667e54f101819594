#include "app/ProgramCommandLine.h"

#include <array>

namespace hushwell {

namespace {

struct CommandName {
    ProgramCommand command;
    std::string_view request;
    std::string_view help;
};

// The commands carried to the running instance; each option is "--" and its request.
constexpr std::array kCommands = {
    CommandName{ProgramCommand::Show, "show",
                "show the settings window (starting Hushwell when it is not running)"},
    CommandName{ProgramCommand::Record, "record",
                "start recording on the capture page (the record hotkey)"},
    CommandName{ProgramCommand::RecordSave, "record-save",
                "record and save the last seconds (the record & save hotkey)"},
    CommandName{ProgramCommand::Register, "register",
                "add the sound just saved to the trigger list (the register hotkey)"},
    CommandName{ProgramCommand::Toggle, "toggle",
                "stop detection, or start it again (the stop/start hotkey)"},
    CommandName{ProgramCommand::Quit, "quit", "end the running Hushwell"},
    CommandName{ProgramCommand::Status, "status",
                "print \"running\" or \"stopped\" and the number of active triggers"},
};

constexpr std::string_view kDashes = "--";
constexpr std::string_view kHelpOption = "--help";

bool IsOwnOption(std::string_view argument) {
    return argument.size() > kDashes.size() && argument.substr(0, kDashes.size()) == kDashes;
}

}  // namespace

ProgramCommandLine::Parsed ProgramCommandLine::Parse(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i) {
        arguments.emplace_back(argv[i]);
    }
    return Parse(arguments);
}

ProgramCommandLine::Parsed ProgramCommandLine::Parse(const std::vector<std::string>& arguments) {
    Parsed parsed;
    for (const std::string& argument : arguments) {
        if (!IsOwnOption(argument)) {
            continue;
        }
        ProgramCommand command = ProgramCommand::Run;
        if (argument == kHelpOption) {
            command = ProgramCommand::Help;
        } else {
            command = CommandOfRequest(std::string_view(argument).substr(kDashes.size()));
        }
        if (command == ProgramCommand::Run) {
            parsed.error = "unknown option " + argument;
            return parsed;
        }
        if (parsed.command != ProgramCommand::Run && parsed.command != command) {
            parsed.error = "only one command at a time: " + argument;
            return parsed;
        }
        parsed.command = command;
    }
    return parsed;
}

std::string_view ProgramCommandLine::RequestOf(ProgramCommand command) {
    for (const CommandName& name : kCommands) {
        if (name.command == command) {
            return name.request;
        }
    }
    return {};
}

ProgramCommand ProgramCommandLine::CommandOfRequest(std::string_view request) {
    for (const CommandName& name : kCommands) {
        if (name.request == request) {
            return name.command;
        }
    }
    return ProgramCommand::Run;
}

std::string ProgramCommandLine::Usage() {
    std::string text =
        "Usage: hushwell [COMMAND]\n"
        "\n"
        "Without a command, starts Hushwell (a second start shows the running one's settings\n"
        "window). A command is carried to the running Hushwell of this user:\n"
        "\n";
    constexpr std::size_t kColumn = 16;
    for (const CommandName& name : kCommands) {
        std::string option = std::string(kDashes) + std::string(name.request);
        option.resize(kColumn, ' ');
        text += "  " + option + std::string(name.help) + "\n";
    }
    std::string help(kHelpOption);
    help.resize(kColumn, ' ');
    text += "  " + help + "print this text\n";
    text +=
        "\n"
        "Exit status: 0 done; 1 the running Hushwell did not take the command; 2 a wrong\n"
        "command line; 3 Hushwell is not running (every command but --show).\n";
    return text;
}

}  // namespace hushwell
