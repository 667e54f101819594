// hushwell-scan: runs the program's sound detection over WAV recordings and reports the
// triggers that fire. See --help.

#include <iostream>
#include <string>
#include <vector>

#include "tools/scan/InputMessages.h"
#include "tools/scan/RecordingReader.h"
#include "tools/scan/RecordingScanner.h"
#include "tools/scan/ReferenceDescription.h"
#include "tools/scan/ScanOptions.h"
#include "tools/scan/ScanTriggers.h"

namespace {

using namespace hushwell::scan;

constexpr int kExitOk = 0;
constexpr int kExitBadInput = 2;

int Fail(const std::string& message) {
    std::cerr << "hushwell-scan: " << message << '\n';
    return kExitBadInput;
}

int Describe(const ScanOptions& options) {
    for (const std::string& path : options.references) {
        std::string error;
        if (!ReferenceDescription::Describe(path, std::cout, error)) {
            return Fail(error);
        }
    }
    return kExitOk;
}

// Every recording is checked before the first is scanned, so that a mistake in the last name
// does not come after minutes of output.
bool CheckRecordings(const std::vector<std::string>& paths, std::string& error) {
    for (const std::string& path : paths) {
        RecordingReader reader;
        if (!reader.Open(path, error)) {
            return false;
        }
    }
    return true;
}

int Scan(const ScanOptions& options) {
    ScanTriggers triggers;
    std::string error;
    const bool loaded = options.mode == ScanOptions::Mode::Triggers
                            ? triggers.LoadTriggerFile(options.triggersFile, std::cerr, error)
                            : triggers.UseReferenceFiles(options.references, error);
    if (!loaded || !CheckRecordings(options.recordings, error)) {
        return Fail(error);
    }
    if (options.threshold) {
        triggers.SetEveryThreshold(*options.threshold);
    }
    RecordingScanner scanner(triggers, options.scores, options.startSecondOfDay, options.classic);
    for (const std::string& path : options.recordings) {
        RecordingReader reader;
        if (!reader.Open(path, error)) {
            return Fail(error);
        }
        std::cout << "# recording " << path << " (" << InputMessages::Format(reader.Format())
                  << ", " << reader.ClaimedSeconds() << " s)\n";
        scanner.Scan(reader, std::cout);
        if (reader.EndedEarly()) {
            std::cerr << "hushwell-scan: warning: " << path
                      << " ends before the audio its header announces; scanned what is there\n";
        }
    }
    std::cout.flush();
    return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    const auto options = ScanOptions::Parse(args, error);
    if (!options) {
        return Fail(error + " (see --help)");
    }
    switch (options->mode) {
        case ScanOptions::Mode::Help:
            std::cout << ScanOptions::HelpText();
            return kExitOk;
        case ScanOptions::Mode::Describe:
            return Describe(*options);
        default:
            return Scan(*options);
    }
}
