#pragma once

#include <string>

namespace hushwell {

// The launch-at-logon entry: an XDG autostart desktop entry "<program name>.desktop" in the
// startup folder ($XDG_CONFIG_HOME/autostart) that starts the running program at logon.
// A plain value; any thread, one caller at a time per entry file.
class LogonShortcut {
public:
    LogonShortcut(std::string startupFolder, std::string programName, std::string programPath);

    // Both the startup folder and the program name are known; without them there is no entry.
    bool Known() const;
    // <startup folder>/<program name>.desktop; empty when not Known().
    std::string Path() const;

    // Writes the entry, creating the startup folder when missing; false when nothing was
    // written (not known, no program path, or the folder cannot be written).
    bool Create() const;
    // Deletes the entry; true when it is gone (or never was there).
    bool Remove() const;

    // The entry's text for a program path.
    static std::string EntryText(const std::string& programPath);
    // One argument of an Exec line: quoted when it holds a reserved character, with the
    // escapes of the desktop entry format applied.
    static std::string ExecArgument(const std::string& argument);

private:
    std::string startupFolder_;
    std::string programName_;
    std::string programPath_;
};

}  // namespace hushwell
