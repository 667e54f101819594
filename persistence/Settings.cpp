#include "persistence/Settings.h"

#include "persistence/NumberText.h"

namespace hushwell {

namespace {

constexpr std::int32_t kAlt = 1;
constexpr std::int32_t kControl = 2;
constexpr std::int32_t kShift = 4;
constexpr std::int32_t kKeyF11 = 122;
constexpr std::int32_t kKeyF12 = 123;
constexpr std::int32_t kKeyUp = 38;
constexpr std::int32_t kKeyDown = 40;

}  // namespace

void Settings::Reset() {
    hotkeys = {{
        {"RecordSound", "v", kAlt | kControl | kShift, kKeyF12},
        {"StopStartThis", "v", kAlt | kControl | kShift, kKeyF11},
        {"RecordSave", "v", kAlt | kControl, kKeyUp},
        {"Register", "v", kAlt | kControl, kKeyDown},
    }};
    preRecordingLengthInSec = 3;
    triggerSoundLengthInSec = 4;
    filenameFormatType = 2;
    defaultAction = 1;
    defaultDuration = TriggerTime(0, 1, 0);
    launchAtLogon.clear();
    volumeUpRate.clear();
    volumeDownRate.clear();
    groupView.clear();
    placement = WindowPlacementSetting{};
    triggerListColumnWidths = {0, 0, 0};
    logListColumnWidths = {0, 0};
    verifyMatches = "v";
    notifications = "v";
}

bool Settings::IsValidVolumeRate(std::string_view text) {
    return LeadingIntegerInRange(text, kMinVolumeRate, kMaxVolumeRate);
}

}  // namespace hushwell
