#include "ui/ConfigurationOwner.h"

#include <charconv>

#include "triggers/Vocabulary.h"
#include "triggers/VolumeManager.h"
#include "ui/HotkeyGrabber.h"

namespace hushwell {

namespace {

const char* const kOff = "_";

// A rate text as an integer; false when it is not a whole number.
bool ParseRate(const std::string& text, int& rate) {
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, rate);
    return error == std::errc() && stop == end && !text.empty();
}

}  // namespace

ConfigurationOwner::ConfigurationOwner(Setup setup) : setup_(std::move(setup)) {
    applied_.Load(setup_.configPath);
    setup_.grabber->SetSettledHandler([this](int id, bool bound) {
        if (listener_) {
            listener_(id, bound);
        }
    });
    applied_.hotkeys.RegisterHotkeys(*setup_.grabber);
    ApplyRampRates(applied_.settings);
    ApplyVerification(applied_.settings);
}

ConfigurationOwner::~ConfigurationOwner() {
    ReleaseHotkeys();
}

int ConfigurationOwner::DateOrder() const {
    const std::lock_guard lock(lock_);
    return applied_.settings.filenameFormatType;
}

HotkeyAction ConfigurationOwner::HotkeyActionFor(int id) const {
    return applied_.hotkeys.ActionFor(id);
}

void ConfigurationOwner::SetSettledListener(SettledListener listener) {
    listener_ = std::move(listener);
}

void ConfigurationOwner::RegisterAppliedHotkeys() {
    const std::lock_guard lock(lock_);
    applied_.hotkeys.RegisterHotkeys(*setup_.grabber);
}

void ConfigurationOwner::UnregisterAppliedHotkey(Settings::HotkeyIndex index) {
    const HotkeyRecord& record = applied_.hotkeys.Records()[index];
    if (IsOnText(record.active)) {
        setup_.grabber->Unregister(record.id);
    }
}

void ConfigurationOwner::TurnOffRefused(Settings::HotkeyIndex index, const HotkeyRecord& edited) {
    const std::lock_guard lock(lock_);
    HotkeyRecord& applied = applied_.hotkeys.Record(index);
    if (IsOnText(applied.active) && applied.modifiers == edited.modifiers &&
        applied.virtualKey == edited.virtualKey) {
        applied.active = kOff;
    }
}

void ConfigurationOwner::ReleaseHotkeys() {
    if (released_) {
        return;
    }
    released_ = true;
    setup_.grabber->SetSettledHandler({});
    applied_.hotkeys.UnregisterHotkeys(*setup_.grabber);
}

void ConfigurationOwner::Apply(const Configuration& edited) {
    ApplyRampRates(edited.settings);
    {
        const std::lock_guard lock(lock_);
        applied_ = edited;
    }
    ApplyVerification(edited.settings);
    ApplyNotifications(edited.settings);
    Save();
}

void ConfigurationOwner::ApplyRampRates(const Settings& settings) {
    if (setup_.volumeManager == nullptr) {
        return;
    }
    int rate = 0;
    if (ParseRate(settings.volumeUpRate, rate)) {
        setup_.volumeManager->SetUpRate(rate);  // ignores rates outside 1 to 300
    }
    if (ParseRate(settings.volumeDownRate, rate)) {
        setup_.volumeManager->SetDownRate(rate);
    }
}

void ConfigurationOwner::ApplyVerification(const Settings& settings) const {
    if (setup_.applyVerification) {
        setup_.applyVerification(!settings.verifyMatches.empty());
    }
}

void ConfigurationOwner::ApplyNotifications(const Settings& settings) const {
    if (notificationsListener_) {
        notificationsListener_(!settings.notifications.empty());
    }
}

void ConfigurationOwner::SetNotificationsListener(std::function<void(bool)> listener) {
    notificationsListener_ = std::move(listener);
    ApplyNotifications(applied_.settings);
}

void ConfigurationOwner::StoreTab(int tab) {
    const std::lock_guard lock(lock_);
    applied_.settings.placement.tab = tab;
}

void ConfigurationOwner::StorePlacement(const WindowPlacementSetting& placement) {
    const std::lock_guard lock(lock_);
    applied_.settings.placement = placement;
}

void ConfigurationOwner::StoreLogColumnWidths(const std::array<std::int32_t, 2>& widths) {
    const std::lock_guard lock(lock_);
    applied_.settings.logListColumnWidths = widths;
}

void ConfigurationOwner::StoreTriggerListView(const std::array<std::int32_t, 3>& widths,
                                              bool groupView) {
    const std::lock_guard lock(lock_);
    applied_.settings.triggerListColumnWidths = widths;
    applied_.settings.groupView = groupView ? "v" : "";
}

void ConfigurationOwner::Save() const {
    const std::lock_guard lock(lock_);
    applied_.Save(setup_.configPath);
}

}  // namespace hushwell
