#include "ui/HotkeyList.h"

#include "triggers/Vocabulary.h"
#include "ui/HotkeyGrabber.h"
#include "ui/VirtualKeyTable.h"

namespace hushwell {

namespace {

constexpr char kInactive = '_';
constexpr int kMinKeyCode = 1;
constexpr int kMaxKeyCode = 254;

std::string KeyNameOf(int code) {
    return std::string(VirtualKeyTable::NameOf(code));
}

}  // namespace

// The names, switches and key combinations are the configuration's defaults (written once,
// in Settings); the labels, ids and the names the default keys are shown by belong to the
// records.
HotkeyList::HotkeyList() {
    static constexpr std::array<const char*, Settings::kHotkeyCount> kLabels = {
        "Capture/Record", "SystemTray/Stop,Start", "Capture/Rec. & Save", "Capture/Register"};
    static constexpr std::array<int, Settings::kHotkeyCount> kIds = {
        kRecordSoundId, kStopStartThisId, kRecordSaveId, kRegisterId};
    static constexpr std::array<const char*, Settings::kHotkeyCount> kDefaultKeyNames = {
        "F12", "F11", "UP", "DOWN"};
    const Settings defaults;
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const HotkeySetting& setting = defaults.hotkeys[i];
        records_[i] = {setting.name,     setting.active,     kLabels[i],         kIds[i],
                       setting.modifier, setting.virtualKey, kDefaultKeyNames[i]};
    }
}

void HotkeyList::LoadFrom(const Settings& settings) {
    for (std::size_t i = 0; i < records_.size(); ++i) {
        const HotkeySetting& setting = settings.hotkeys[i];
        HotkeyRecord& record = records_[i];
        record.active = setting.active;
        record.modifiers = setting.modifier;
        if (record.virtualKey != setting.virtualKey) {
            record.virtualKey = setting.virtualKey;
            record.keyName = KeyNameOf(setting.virtualKey);
        }
    }
}

void HotkeyList::StoreTo(Settings& settings) const {
    for (std::size_t i = 0; i < records_.size(); ++i) {
        HotkeySetting& setting = settings.hotkeys[i];
        setting.name = records_[i].name;
        setting.active = records_[i].active;
        setting.modifier = records_[i].modifiers;
        setting.virtualKey = records_[i].virtualKey;
    }
}

void HotkeyList::RegisterHotkeys(HotkeyGrabber& grabber) {
    for (HotkeyRecord& record : records_) {
        if (!IsOnText(record.active) || record.virtualKey < kMinKeyCode ||
            record.virtualKey > kMaxKeyCode) {
            continue;
        }
        if (!grabber.Register(record.id, record.modifiers, record.virtualKey)) {
            record.active.assign(1, kInactive);
        }
    }
}

// Every id is released, not only those of active records: a record switched off after it
// was registered would otherwise keep its grab for the rest of the run.
void HotkeyList::UnregisterHotkeys(HotkeyGrabber& grabber) {
    for (const HotkeyRecord& record : records_) {
        grabber.Unregister(record.id);
    }
}

HotkeyAction HotkeyList::ActionFor(int id) const {
    static constexpr std::array<HotkeyAction, Settings::kHotkeyCount> kActions = {
        HotkeyAction::RecordSound, HotkeyAction::StopStartThis, HotkeyAction::RecordSave,
        HotkeyAction::Register};
    for (std::size_t i = 0; i < records_.size(); ++i) {
        if (records_[i].id == id) {
            return kActions[i];
        }
    }
    return HotkeyAction::None;
}

std::vector<KeyChoice> HotkeyList::BuildKeyList(HotkeyGrabber& grabber, int modifiers) {
    const bool withShift = (modifiers & HotkeyGrabber::kShift) != 0;
    std::vector<KeyChoice> keys;
    for (const VirtualKey& key : VirtualKeyTable::Keys()) {
        if (withShift && VirtualKeyTable::ChangesWithShift(key.code)) {
            continue;
        }
        if (grabber.Register(kProbeId, modifiers, key.code)) {
            grabber.Unregister(kProbeId);
            keys.push_back({key.code, std::string(key.name)});
        }
    }
    return keys;
}

}  // namespace hushwell
