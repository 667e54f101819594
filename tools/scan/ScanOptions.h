#pragma once

#include <optional>
#include <string>
#include <vector>

namespace hushwell::scan {

// What the command line of hushwell-scan asks for.
struct ScanOptions {
    enum class Mode { Help, Describe, Triggers, References };

    Mode mode = Mode::Help;
    std::string triggersFile;             // Triggers mode
    std::vector<std::string> references;  // References mode; Describe mode: the files
    std::vector<std::string> recordings;  // Triggers and References modes
    bool scores = false;                  // also print the best score per reference per second
    bool classic = false;                 // decide by the correlation alone, without verification
    std::optional<int> startSecondOfDay;  // --at: local time of day at each recording's start
    std::optional<float> threshold;       // --threshold: every sound trigger's threshold

    // Parses the arguments after the program name. On a mistake returns nothing and sets
    // error to a message for the user.
    static std::optional<ScanOptions> Parse(const std::vector<std::string>& args,
                                            std::string& error);
    // The --help text.
    static std::string HelpText();
};

}  // namespace hushwell::scan
