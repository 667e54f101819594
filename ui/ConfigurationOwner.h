#pragma once

#include <functional>
#include <mutex>
#include <string>

#include "ui/Configuration.h"

namespace hushwell {

class HotkeyGrabber;
class VolumeManager;

// The one owner of the program's configuration, made at start-up by the application before
// the settings window: it loads the configuration file, keeps the configuration in force
// (the applied one), registers its hotkeys with the grabber, hands the ramp rates to the
// volume manager, "Verify matches" to detection and the notifications setting to the tray, replaces
// the configuration when the options page applies its edited copy, and writes the file. Pages read
// what they need from it; nothing reads the configuration from a page.
//
// --- User-interface thread: everything but DateOrder.
// --- Any thread: DateOrder (the log page asks from the detection thread).
// Configuration lock: the applied configuration; taken whenever it changes and by DateOrder.
class ConfigurationOwner {
public:
    struct Setup {
        HotkeyGrabber* grabber = nullptr;        // required; outlives the owner's hotkeys
        VolumeManager* volumeManager = nullptr;  // given the ramp rates; may be null
        std::string configPath;                  // the configuration file
        // Given "Verify matches" as applied, at start and on every Apply; may be empty.
        std::function<void(bool)> applyVerification;
    };
    // Called when the desktop settles a registration later (id, bound).
    using SettledListener = std::function<void(int id, bool bound)>;

    // Loads the configuration file (a missing or unreadable one leaves the defaults, an
    // unreadable one is moved aside), registers the applied hotkeys and sets the ramp rates.
    explicit ConfigurationOwner(Setup setup);
    // Releases the hotkeys unless ReleaseHotkeys did.
    ~ConfigurationOwner();
    ConfigurationOwner(const ConfigurationOwner&) = delete;
    ConfigurationOwner& operator=(const ConfigurationOwner&) = delete;

    HotkeyGrabber& Grabber() const { return *setup_.grabber; }
    const std::string& ConfigPath() const { return setup_.configPath; }
    // The configuration in force.
    const Configuration& Applied() const { return applied_; }
    // The date order of recording names and log dates (0 "mmddyy", 1 "ddmmyy", 2 "yymmdd").
    int DateOrder() const;
    // The action of a pressed hotkey id.
    HotkeyAction HotkeyActionFor(int id) const;

    // The one listener of late settlements (the options page); empty: none.
    void SetSettledListener(SettledListener listener);
    // Given the notifications setting as applied, at once and on every Apply (the tray, made
    // before the owner); empty: none.
    void SetNotificationsListener(std::function<void(bool)> listener);

    // --- Hotkey registration of the applied configuration ---
    // Registers every applied hotkey that is on; one refused is turned off.
    void RegisterAppliedHotkeys();
    // Releases one applied hotkey when it is on.
    void UnregisterAppliedHotkey(Settings::HotkeyIndex index);
    // A late refusal of an edited hotkey: the applied one is turned off too when it is the same
    // hotkey (on, same modifiers and key).
    void TurnOffRefused(Settings::HotkeyIndex index, const HotkeyRecord& edited);
    // Releases every applied hotkey and stops listening for settlements; before the grabber
    // goes. Later calls do nothing.
    void ReleaseHotkeys();

    // Puts an edited configuration in force: sets its ramp rates, replaces the applied one and
    // writes the file. Its hotkeys are registered already (the options page registers edits
    // as they are made).
    void Apply(const Configuration& edited);

    // Window state kept with the configuration but not edited on the options page.
    void StoreTab(int tab);
    void StorePlacement(const WindowPlacementSetting& placement);
    void StoreLogColumnWidths(const std::array<std::int32_t, 2>& widths);
    void StoreTriggerListView(const std::array<std::int32_t, 3>& widths, bool groupView);
    // Writes the applied configuration to the file.
    void Save() const;

private:
    void ApplyRampRates(const Settings& settings);
    void ApplyVerification(const Settings& settings) const;
    void ApplyNotifications(const Settings& settings) const;

    Setup setup_;
    mutable std::recursive_mutex lock_;
    Configuration applied_;
    SettledListener listener_;
    std::function<void(bool)> notificationsListener_;
    bool released_ = false;
};

}  // namespace hushwell
