#pragma once

#include <iostream>
#include <string>
#include <string_view>

#include "base/Clock.h"
#include "base/ProgramPaths.h"
#include "persistence/Settings.h"
#include "persistence/XmlDocument.h"

namespace hushwell {

// The configuration file: reads it key by key into a Settings record and writes a record to
// it. A missing or unreadable file leaves the record as it was. A file that exists but cannot
// be read is never overwritten: it is moved aside under a time-stamped name first, and the
// log says so. Called on the thread that owns the record (the user-interface thread in the
// program).
class ConfigFile {
public:
    static constexpr const char* kFileName = ProgramPaths::kConfigFileName;
    // An unreadable file is kept as its path followed by this and "YYYYMMDD-hhmmss".
    static constexpr std::string_view kSetAsideInfix = ".unreadable-";

    // The largest configuration file read or written: its lines (about 25 are written) at
    // the longest line the format has, with the margin of XmlDocument, about 200 kB.
    static constexpr std::uintmax_t kMaxLines = 32;
    static constexpr std::uintmax_t kMaxFileBytes =
        XmlDocument::kSizeMargin * kMaxLines * XmlDocument::kLongestLineBytes;

    enum class LoadResult {
        Loaded,
        Missing,   // the reset values stand
        SetAside,  // unreadable, renamed aside; the reset values stand
        Stuck,     // unreadable and could not be renamed: Save will not replace it
    };

    // The configuration file in a folder ("/" added only when the folder lacks one).
    static std::string PathIn(const std::string& folder);

    // Reads every key present; true when the file was loaded. Callers may ignore the result.
    static bool Load(Settings& settings, const std::string& path);
    // The program's load of its settings: Load, and when the file exists but cannot be read,
    // moves it aside (SetAsideUnreadable) so that the user's settings are not lost when the
    // settings are next saved.
    static LoadResult LoadOrSetAside(Settings& settings, const std::string& path,
                                     const Clock& clock = SystemClock::Instance());
    // The same for a document held in memory.
    static bool LoadText(Settings& settings, std::string_view text);
    // Writes through a temporary file and a rename; false when nothing was written (the
    // previous file then stands). A file in the way that cannot be read is moved aside first
    // (SetAsideUnreadable); if that fails nothing is written. A failure is reported by one
    // line naming the file and the reason, in the log and on errors (standard error in the
    // program), since a full disk may keep it out of the log. Callers may ignore the result.
    static bool Save(const Settings& settings, const std::string& path,
                     std::ostream& errors = std::cerr,
                     const Clock& clock = SystemClock::Instance());

    // When path exists but cannot be read as a configuration file, renames it to
    // path + kSetAsideInfix + the local time ("-2", "-3", ... added when that name is taken)
    // and logs one line saying why and where it is. True when path is now free to be
    // written: missing, readable, or moved aside.
    static bool SetAsideUnreadable(const std::string& path, const Clock& clock);

    // The document text of a record.
    static std::string BuildText(const Settings& settings);

private:
    static void Read(const XmlDocument& document, Settings& settings);
    // Save without the report; reason receives why it failed.
    static bool SaveChecked(const Settings& settings, const std::string& path, const Clock& clock,
                            std::string& reason);
};

}  // namespace hushwell
