#pragma once

#include <QWidget>
#include <array>
#include <string>

#include "ui/Configuration.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QToolButton;

namespace hushwell {

class ConfigurationOwner;

// The "Options" page: edits the four global hotkeys, the capture page's shortcut settings,
// launch at logon and the volume ramp rates. It edits a copy of the configuration its owner
// keeps in force (the applied one); Apply puts the copy in force through the owner, Cancel
// takes the applied one back. Apply and Cancel are enabled exactly while the two differ.
// Hotkey edits take effect on the grabber at once; Apply and Cancel settle the rest. Where the
// desktop answers a registration later (a portal asking the user), a refusal turns the record
// off then, as an early one does, and the rows show what the desktop bound in the end.
//
// User-interface thread only.
class OptionsPage final : public QWidget {
    Q_OBJECT
public:
    // Rows of the hotkey list.
    enum HotkeyItem { kRecordSaveItem = 0, kRegisterItem = 1, kRecordItem = 2, kStopStartItem = 3 };
    static constexpr int kHotkeyItemCount = 4;
    // The entry of the key list that switches a hotkey off.
    static constexpr const char* kNoKey = "---";
    // Opens the tool tip of a hotkey row that the desktop reports bound.
    static constexpr const char* kBoundTriggerLabel = "Bound by the desktop";

    // For the launch-at-logon entry; either name empty means there is none.
    struct Setup {
        std::string startupFolder;  // where the launch-at-logon entry goes; may be empty
        std::string programPath;
        std::string programName;
    };

    // Shows the configuration the owner keeps in force; the owner outlives the page.
    OptionsPage(ConfigurationOwner& configuration, Setup setup, QWidget* parent = nullptr);
    // Stops listening for the desktop's late answers.
    ~OptionsPage() override;

    // Equal hotkeys (on or off, modifiers, keys), shortcut settings, launch at logon, rates and
    // "Verify matches".
    static bool IsSameConfig(const Configuration& a, const Configuration& b);
    // The record each hotkey list row shows.
    static Settings::HotkeyIndex RecordOfItem(int item);

    // The owner's date order and applied configuration.
    int DateOrder() const;
    const Configuration& Applied() const;
    const Configuration& Edited() const { return edited_; }

    // Window state kept with the configuration but not edited here: the settings window's
    // placement and tab and the two lists' column widths. Stored in both copies, so that
    // Apply does not bring back older values.
    void StoreTab(int tab);
    void StorePlacement(const WindowPlacementSetting& placement);
    void StoreLogColumnWidths(const std::array<std::int32_t, 2>& widths);
    // The controls page's three column widths and its group view ("v" on, empty off).
    void StoreTriggerListView(const std::array<std::int32_t, 3>& widths, bool groupView);

    void Apply();
    void Cancel();

private:
    void BuildControls();
    void FillFixedLists();
    void ConnectControls();
    void ShowAppliedValues();
    void UpdateButtons();

    int SelectedItem() const;
    HotkeyRecord& EditedRecordOf(int item);
    void OnHotkeySelected(int item);
    void EnableShortcutGroups(int item);
    void FillKeyList(int item);
    void ShowKeyList(int item);
    void ShowBoundTriggers();
    void OnHotkeySettled(int id, bool bound);
    void OnModifierToggled(int bit, bool checked);
    void OnKeyChosen(int index);
    void OnRateEdited(QLineEdit& box, std::string& rate);
    // Registers an active record with a key from 1 to 254; a refusal turns it off.
    void RegisterRecord(HotkeyRecord& record);
    void ReRegisterPairOf(int item);
    void ApplyLaunchAtLogon();

    ConfigurationOwner& configuration_;
    Setup setup_;
    Configuration edited_;

    QListWidget* hotkeyList_ = nullptr;
    QCheckBox* alt_ = nullptr;
    QCheckBox* ctrl_ = nullptr;
    QCheckBox* shift_ = nullptr;
    QComboBox* keyList_ = nullptr;
    QLabel* preRecordingLabel_ = nullptr;
    QComboBox* preRecording_ = nullptr;
    QLabel* triggerSoundLabel_ = nullptr;
    QComboBox* triggerSoundLength_ = nullptr;
    QLabel* filenameLabel_ = nullptr;
    QComboBox* filenameFormat_ = nullptr;
    QLabel* filenameSuffix_ = nullptr;
    QLabel* actionLabel_ = nullptr;
    QComboBox* action_ = nullptr;
    QCheckBox* launchAtLogon_ = nullptr;
    QCheckBox* verifyMatches_ = nullptr;
    QCheckBox* notifications_ = nullptr;
    QLineEdit* upRate_ = nullptr;
    QLineEdit* downRate_ = nullptr;
    QToolButton* apply_ = nullptr;
    QToolButton* cancel_ = nullptr;
};

}  // namespace hushwell
