#pragma once

#include <string>
#include <string_view>

#include "persistence/Settings.h"

namespace hushwell {

class XmlDocument;

// The configuration file: reads it key by key into a Settings record and writes a record to
// it. A missing or unreadable file leaves the record as it was. Called on the thread that
// owns the record (the user-interface thread in the program).
class ConfigFile {
public:
    static constexpr const char* kFileName = "HushwellConfig.xml";

    // The configuration file in a folder ("/" added only when the folder lacks one).
    static std::string PathIn(const std::string& folder);

    // Reads every key present; true when the file was loaded. Callers may ignore the result.
    static bool Load(Settings& settings, const std::string& path);
    // The same for a document held in memory.
    static bool LoadText(Settings& settings, std::string_view text);
    // Writes through a temporary file and a rename; false when nothing was written (the
    // previous file then stands). Callers may ignore the result.
    static bool Save(const Settings& settings, const std::string& path);

    // The document text of a record.
    static std::string BuildText(const Settings& settings);

private:
    static void Read(const XmlDocument& document, Settings& settings);
};

}  // namespace hushwell
