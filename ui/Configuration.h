#pragma once

#include <string>

#include "persistence/Settings.h"
#include "ui/HotkeyList.h"

namespace hushwell {

// The configuration record the options page keeps twice, as applied and as edited: the
// settings of the configuration file, with the four hotkeys held as records that also carry
// their label, id and key name. `hotkeys` is the one copy of the hotkeys in use; the hotkeys of
// `settings` are only filled on the way to and from the file.
// A plain value; its owner guards it.
struct Configuration {
    Settings settings;
    HotkeyList hotkeys;

    // Reads the configuration file; a missing or unreadable file leaves the reset values, and
    // an unreadable one is moved aside under a time-stamped name.
    void Load(const std::string& path);
    // Writes the configuration file; false when nothing was written (the old file stands).
    bool Save(const std::string& path) const;
};

}  // namespace hushwell
