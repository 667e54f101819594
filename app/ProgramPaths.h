#pragma once

#include <string>

namespace hushwell {

// The program-wide folders and names settled at start-up. Plain value; main thread.
struct ProgramPaths {
    std::string dataFolder;     // $XDG_DATA_HOME/Hushwell
    std::string triggerFolder;  // the data folder's "triggers"
    std::string startupFolder;  // $XDG_CONFIG_HOME/autostart
    std::string programPath;    // the running executable; empty when unknown
    std::string programName;    // its file name without folder and last extension

    // The trigger folder of a data folder ("/" added only when the folder lacks one).
    static std::string TriggerFolderOf(const std::string& dataFolder);
    // $XDG_CONFIG_HOME (default ~/.config) and "autostart".
    static std::string StartupFolder();
    // The full path of the running program, from /proc/self/exe; empty when that fails.
    static std::string RunningProgramPath();
    // The file name without folder and without its last extension; empty without a "/".
    static std::string ProgramNameOf(const std::string& programPath);
    // The manual <program name>.html: beside the program when it is there (the build tree),
    // else in <program folder>/../share/doc/hushwell when it is there (an installed program),
    // else the path beside the program; empty when the program path is unknown.
    static std::string ManualPathOf(const std::string& programPath);

    // Creates a folder when missing; false when it neither exists nor could be made, with
    // problem (when given) saying why in words ("is a file, not a folder", ...).
    static bool EnsureFolder(const std::string& folder, std::string* problem = nullptr);
};

}  // namespace hushwell
