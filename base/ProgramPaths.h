#pragma once

#include <string>

namespace hushwell {

// The program's folders and files, worked out once at start-up from the data folder and
// handed down to whoever needs one: the configuration owner (the configuration file), the
// detection engine (the trigger list file and the sound folder), the pages (the sound folder
// and the launch-at-logon place). Nothing else builds these paths. A plain value; any thread
// may read a copy.
struct ProgramPaths {
    // The names inside the data folder. They are stored names: files and folders the user
    // already has.
    static constexpr const char* kConfigFileName = "HushwellConfig.xml";
    static constexpr const char* kTriggerListFileName = "triggers.xml";
    static constexpr const char* kSoundSubFolder = "triggers";

    std::string dataFolder;       // $XDG_DATA_HOME/Hushwell
    std::string configFile;       // the data folder's "HushwellConfig.xml"
    std::string triggerListFile;  // the data folder's "triggers.xml"
    // The data folder's "triggers": registered sounds and recordings, unless a trigger list
    // names an absolute base folder of its own.
    std::string soundFolder;
    std::string startupFolder;  // $XDG_CONFIG_HOME/autostart
    std::string programPath;    // the running executable; empty when unknown
    std::string programName;    // its file name without folder and last extension

    // The data folder, configuration file, trigger list file and sound folder of a data
    // folder; the other members are left empty.
    static ProgramPaths ForDataFolder(const std::string& dataFolder);
    // A name inside a folder ("/" added only when the folder lacks one; an empty folder
    // gives the name alone).
    static std::string InFolder(const std::string& folder, const std::string& name);

    // The sound folder of a data folder ("/" added only when the folder lacks one).
    static std::string SoundFolderOf(const std::string& dataFolder);
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
