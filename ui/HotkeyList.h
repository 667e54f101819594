#pragma once

#include <array>
#include <string>
#include <vector>

#include "persistence/Settings.h"

namespace hushwell {

class HotkeyGrabber;

// One global hotkey of the program: the configuration's record plus its fixed label and id.
struct HotkeyRecord {
    std::string name;
    std::string active;  // "v" enabled, "_" disabled
    std::string label;
    int id = 0;
    int modifiers = 0;
    int virtualKey = 0;
    std::string keyName;
};

// What a hotkey press asks for.
enum class HotkeyAction { None, RecordSound, StopStartThis, RecordSave, Register };

// A key that can be registered with a modifier set right now.
struct KeyChoice {
    int code;
    std::string name;
};

// The four hotkey records with their registration against a grabber. Owned and called by the
// user-interface thread.
class HotkeyList {
public:
    // The ids each hotkey is registered under with the grabber (and bound under at the desktop
    // portal); presses come back with them. Nothing stores them: the configuration file keeps
    // the records by position.
    static constexpr int kRecordSoundId = 3333;
    static constexpr int kStopStartThisId = 3340;
    static constexpr int kRecordSaveId = 3400;
    static constexpr int kRegisterId = 3500;
    // The id BuildKeyList tries keys under.
    static constexpr int kProbeId = 100;

    // The four default records of the configuration's defaults (Settings), all active.
    HotkeyList();

    const std::array<HotkeyRecord, Settings::kHotkeyCount>& Records() const { return records_; }
    HotkeyRecord& Record(Settings::HotkeyIndex index) { return records_[index]; }

    // Takes active text, modifiers and key of each record from the configuration (records are
    // matched by position, as the file stores them); writes them back.
    void LoadFrom(const Settings& settings);
    void StoreTo(Settings& settings) const;

    // Registers every active record whose key code is from 1 to 254; a record whose
    // registration fails becomes inactive ("_").
    void RegisterHotkeys(HotkeyGrabber& grabber);
    // Releases every record's id.
    void UnregisterHotkeys(HotkeyGrabber& grabber);

    // The action of a pressed hotkey id; None for an id of no record.
    HotkeyAction ActionFor(int id) const;

    // Every key of the table that can be registered with the modifier set right now, tried
    // under kProbeId; with Shift in the set, keys that change with Shift are left out.
    static std::vector<KeyChoice> BuildKeyList(HotkeyGrabber& grabber, int modifiers);

private:
    std::array<HotkeyRecord, Settings::kHotkeyCount> records_;
};

}  // namespace hushwell
