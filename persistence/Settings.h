#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "triggers/TriggerTime.h"

namespace hushwell {

// One global hotkey as the configuration file keeps it.
struct HotkeySetting {
    std::string name;
    std::string active;           // "v" on, "_" off
    std::int32_t modifier = 0;    // bits: 1 Alt, 2 Control, 4 Shift, 8 Windows key
    std::int32_t virtualKey = 0;  // a virtual-key code below 256
};

// The normal rectangle of the settings window and its selected tab.
struct WindowPlacementSetting {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t right = 480;
    std::int32_t bottom = 465;
    std::int32_t tab = 0;
};

// The user's settings, with the values that stand when the configuration file is missing or
// a key is absent. A plain value owned by the options page; its owner's thread uses it.
struct Settings {
    enum HotkeyIndex { kRecordSound = 0, kStopStartThis = 1, kRecordSave = 2, kRegister = 3 };
    static constexpr int kHotkeyCount = 4;
    static constexpr std::int32_t kMinVolumeRate = 1;
    static constexpr std::int32_t kMaxVolumeRate = 300;
    static constexpr std::string_view kDefaultVolumeRate = "50";

    Settings() { Reset(); }
    void Reset();

    // A rate text is usable when it reads as an integer from 1 to 300.
    static bool IsValidVolumeRate(std::string_view text);

    std::array<HotkeySetting, kHotkeyCount> hotkeys;
    std::int32_t preRecordingLengthInSec = 0;
    std::int32_t triggerSoundLengthInSec = 0;
    std::int32_t filenameFormatType = 0;
    std::int32_t defaultAction = 0;
    TriggerTime defaultDuration;
    std::string launchAtLogon;  // "v" on, empty off
    std::string volumeUpRate;   // steps per second as text, empty until a file is read
    std::string volumeDownRate;
    std::string groupView;  // trigger list group view: "v" on, empty off
    WindowPlacementSetting placement;
    std::array<std::int32_t, 3> triggerListColumnWidths{};  // Name, Trigger, Action
    std::array<std::int32_t, 2> logListColumnWidths{};
    // Detection verifies a match before it fires: "v" on (also when the file does not say),
    // empty off.
    std::string verifyMatches = "v";
    // A desktop notification says when a control starts: "v" on (also when the file does not
    // say), empty off.
    std::string notifications = "v";
};

}  // namespace hushwell
