#include "ui/OptionsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpressionValidator>
#include <QSignalBlocker>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>

#include "triggers/Vocabulary.h"
#include "triggers/VolumeManager.h"
#include "ui/ConfigurationOwner.h"
#include "ui/HotkeyGrabber.h"
#include "ui/LogonShortcut.h"
#include "ui/OptionIcons.h"

namespace hushwell {

namespace {

constexpr std::array<Settings::HotkeyIndex, OptionsPage::kHotkeyItemCount> kRecordOfItem = {
    Settings::kRecordSave, Settings::kRegister, Settings::kRecordSound, Settings::kStopStartThis};
constexpr std::array<OptionIcons::Hotkey, OptionsPage::kHotkeyItemCount> kIconOfItem = {
    OptionIcons::kRecordAndSave, OptionIcons::kRegister, OptionIcons::kRecord,
    OptionIcons::kStopStart};

constexpr int kMaxPreRecordingSec = 10;
// Stored pre-recording lengths up to this show as the longest entry; longer ones show none.
constexpr int kLargestShownAsMaxPreRecording = 19;
constexpr int kMinTriggerSoundSec = 1;
constexpr int kMaxTriggerSoundSec = 7;
constexpr std::array<const char*, 3> kDateOrders = {"mmddyy", "ddmmyy", "yymmdd"};
constexpr int kMinKeyCode = 1;
constexpr int kMaxKeyCode = 254;
constexpr int kButtonIconSize = 32;
constexpr int kListIconSize = 20;
// Rate boxes take digits only, a few more than the largest rate so a typed 500 can be seen
// and corrected.
constexpr int kRateDigits = 4;
const char* const kOn = "v";
const char* const kOff = "_";

// The 32 actions a registered sound may get: the index is the stored default action.
QStringList ActionTexts() {
    QStringList actions = {QStringLiteral("exec"), QStringLiteral("mute")};
    for (int steps = 100; steps >= 10; steps -= 10) {
        actions << QStringLiteral("down %1").arg(steps);
    }
    for (int steps = 9; steps >= 1; --steps) {
        actions << QStringLiteral("down %1").arg(steps);
    }
    actions << QStringLiteral("unmute");
    for (int steps = 1; steps <= 10; ++steps) {
        actions << QStringLiteral("up %1").arg(steps);
    }
    return actions;
}

QLabel* MakeLabel(const char* text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setBuddy(buddy);
    return label;
}

QComboBox* MakeList(const char* objectName, const char* accessibleName, QWidget* parent) {
    auto* list = new QComboBox(parent);
    list->setObjectName(QString::fromLatin1(objectName));
    list->setAccessibleName(QString::fromLatin1(accessibleName));
    return list;
}

QCheckBox* MakeCheckBox(const char* text, const char* objectName, QWidget* parent) {
    auto* box = new QCheckBox(QString::fromLatin1(text), parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setAccessibleName(box->text().trimmed());
    return box;
}

QToolButton* MakeIconButton(const QIcon& icon, const char* tip, const char* objectName,
                            QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setObjectName(QString::fromLatin1(objectName));
    button->setIcon(icon);
    button->setIconSize(QSize(kButtonIconSize, kButtonIconSize));
    button->setToolTip(QString::fromLatin1(tip));
    button->setAccessibleName(QString::fromLatin1(tip));
    return button;
}

QLineEdit* MakeRateBox(const char* objectName, const char* accessibleName, QWidget* parent) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(objectName));
    box->setAccessibleName(QString::fromLatin1(accessibleName));
    box->setValidator(new QRegularExpressionValidator(
        QRegularExpression(QStringLiteral("[0-9]{0,%1}").arg(kRateDigits)), box));
    box->setMaxLength(kRateDigits);
    const int digitsWidth = box->fontMetrics().horizontalAdvance(QString(kRateDigits + 2, '0'));
    box->setFixedWidth(digitsWidth + box->sizeHint().height());
    return box;
}

}  // namespace

OptionsPage::OptionsPage(ConfigurationOwner& configuration, Setup setup, QWidget* parent)
    : QWidget(parent), configuration_(configuration), setup_(std::move(setup)) {
    setAccessibleName(QStringLiteral("Options"));
    BuildControls();
    FillFixedLists();
    configuration_.SetSettledListener([this](int id, bool bound) { OnHotkeySettled(id, bound); });
    // The owner registered the applied hotkeys already, so a refused one is off in both copies
    // and Apply stays disabled.
    edited_ = configuration_.Applied();
    ShowAppliedValues();
    UpdateButtons();
    ConnectControls();
}

OptionsPage::~OptionsPage() {
    configuration_.SetSettledListener({});
}

// ---- building ----

void OptionsPage::BuildControls() {
    auto* page = new QVBoxLayout(this);

    // The hotkeys: the list on the left, the selected one's modifiers and key beside it.
    auto* hotkeyBox = new QGroupBox(this);
    auto* hotkeyGrid = new QGridLayout(hotkeyBox);
    hotkeyList_ = new QListWidget(hotkeyBox);
    hotkeyList_->setObjectName(QStringLiteral("hotkeyList"));
    hotkeyList_->setAccessibleName(QStringLiteral("Hotkeys"));
    hotkeyList_->setIconSize(QSize(kListIconSize, kListIconSize));
    hotkeyList_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    hotkeyList_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    alt_ = MakeCheckBox("ALT", "alt", hotkeyBox);
    ctrl_ = MakeCheckBox("CTRL", "ctrl", hotkeyBox);
    shift_ = MakeCheckBox("SHIFT", "shift", hotkeyBox);
    keyList_ = MakeList("keyList", "Key of the selected hotkey", hotkeyBox);
    keyList_->setMaxVisibleItems(16);
    auto* modifiers = new QHBoxLayout;
    modifiers->addWidget(alt_);
    modifiers->addWidget(ctrl_);
    modifiers->addWidget(shift_);
    modifiers->addStretch();
    auto* keyColumn = new QVBoxLayout;
    keyColumn->addLayout(modifiers);
    keyColumn->addWidget(keyList_);
    keyColumn->addStretch();
    hotkeyGrid->addWidget(hotkeyList_, 0, 0);
    hotkeyGrid->addLayout(keyColumn, 0, 1);
    hotkeyGrid->setColumnStretch(0, 1);
    hotkeyGrid->setColumnStretch(1, 1);
    page->addWidget(hotkeyBox);

    // The settings of the capture page's record-and-save and register commands.
    auto* shortcutBox = new QGroupBox(this);
    auto* shortcutGrid = new QGridLayout(shortcutBox);
    preRecording_ = MakeList("preRecording", "Pre-recording length (sec.)", shortcutBox);
    triggerSoundLength_ =
        MakeList("triggerSoundLength", "Trigger sound length (sec.)", shortcutBox);
    filenameFormat_ = MakeList("filenameFormat", "Filename format", shortcutBox);
    action_ = MakeList("action", "Action", shortcutBox);
    preRecordingLabel_ = MakeLabel("Pre-recording length (sec.):", preRecording_, shortcutBox);
    triggerSoundLabel_ =
        MakeLabel("Trigger sound length (sec.):", triggerSoundLength_, shortcutBox);
    filenameLabel_ = MakeLabel("Filename format:", filenameFormat_, shortcutBox);
    filenameSuffix_ = new QLabel(QStringLiteral("_hhmmss.wav"), shortcutBox);
    actionLabel_ = MakeLabel("Action:", action_, shortcutBox);
    shortcutGrid->addWidget(preRecordingLabel_, 0, 0);
    shortcutGrid->addWidget(preRecording_, 0, 1);
    shortcutGrid->addWidget(triggerSoundLabel_, 1, 0);
    shortcutGrid->addWidget(triggerSoundLength_, 1, 1);
    shortcutGrid->addWidget(filenameLabel_, 2, 0);
    shortcutGrid->addWidget(filenameFormat_, 2, 1);
    shortcutGrid->addWidget(filenameSuffix_, 2, 2);
    shortcutGrid->addWidget(actionLabel_, 3, 0);
    shortcutGrid->addWidget(action_, 3, 1);
    shortcutGrid->setColumnStretch(3, 1);
    page->addWidget(shortcutBox);

    // Launch at logon, the ramp rates, and Apply and Cancel beside them.
    launchAtLogon_ = MakeCheckBox(" Launch at logon.", "launchAtLogon", this);
    page->addWidget(launchAtLogon_);
    verifyMatches_ = MakeCheckBox(" Verify matches", "verifyMatches", this);
    verifyMatches_->setToolTip(QStringLiteral(
        "A sound trigger fires only when a closer look agrees with the match. Off: whenever "
        "the match score exceeds the sound's threshold, as before."));
    page->addWidget(verifyMatches_);
    notifications_ = MakeCheckBox(" Say when a control starts", "notifications", this);
    notifications_->setToolTip(QStringLiteral(
        "Show a desktop notification when a trigger mutes or changes the volume, with Undo."));
    page->addWidget(notifications_);
    upRate_ = MakeRateBox("upRate", "Volume-up rate", this);
    downRate_ = MakeRateBox("downRate", "Volume-down rate", this);
    apply_ = MakeIconButton(OptionIcons::Apply(), "apply changes", "apply", this);
    cancel_ = MakeIconButton(OptionIcons::Cancel(), "cancel changes", "cancel", this);
    auto* rates = new QGridLayout;
    rates->addWidget(MakeLabel("Volume-up rate (ticks/sec.)x10 (1-300):", upRate_, this), 0, 0);
    rates->addWidget(upRate_, 0, 1);
    rates->addWidget(MakeLabel("Volume-down rate(ticks/sec.)x10(1-300):", downRate_, this), 1, 0);
    rates->addWidget(downRate_, 1, 1);
    rates->setColumnStretch(2, 1);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(apply_);
    buttons->addWidget(cancel_);
    rates->addLayout(buttons, 0, 3, 2, 1, Qt::AlignRight | Qt::AlignBottom);
    page->addLayout(rates);
    page->addStretch();
}

void OptionsPage::FillFixedLists() {
    for (int item = 0; item < kHotkeyItemCount; ++item) {
        const HotkeyRecord& record = configuration_.Applied().hotkeys.Records()[RecordOfItem(item)];
        hotkeyList_->addItem(new QListWidgetItem(OptionIcons::ForHotkey(kIconOfItem[item]),
                                                 QString::fromStdString(record.label)));
    }
    // Exactly the four rows, without scrolling.
    hotkeyList_->setFixedHeight(hotkeyList_->sizeHintForRow(0) * kHotkeyItemCount +
                                2 * hotkeyList_->frameWidth());
    hotkeyList_->setMinimumWidth(hotkeyList_->sizeHintForColumn(0) + 2 * hotkeyList_->frameWidth());
    for (int seconds = 0; seconds <= kMaxPreRecordingSec; ++seconds) {
        preRecording_->addItem(QString::number(seconds));
    }
    for (int seconds = kMinTriggerSoundSec; seconds <= kMaxTriggerSoundSec; ++seconds) {
        triggerSoundLength_->addItem(QString::number(seconds));
    }
    for (const char* order : kDateOrders) {
        filenameFormat_->addItem(QString::fromLatin1(order));
    }
    action_->addItems(ActionTexts());
    EnableShortcutGroups(-1);
    alt_->setEnabled(false);
    ctrl_->setEnabled(false);
    shift_->setEnabled(false);
    keyList_->setEnabled(false);
}

void OptionsPage::ConnectControls() {
    connect(hotkeyList_, &QListWidget::currentRowChanged, this, &OptionsPage::OnHotkeySelected);
    connect(alt_, &QCheckBox::toggled, this,
            [this](bool checked) { OnModifierToggled(HotkeyGrabber::kAlt, checked); });
    connect(ctrl_, &QCheckBox::toggled, this,
            [this](bool checked) { OnModifierToggled(HotkeyGrabber::kControl, checked); });
    connect(shift_, &QCheckBox::toggled, this,
            [this](bool checked) { OnModifierToggled(HotkeyGrabber::kShift, checked); });
    connect(keyList_, &QComboBox::activated, this, &OptionsPage::OnKeyChosen);
    connect(preRecording_, &QComboBox::currentIndexChanged, this, [this] {
        edited_.settings.preRecordingLengthInSec = preRecording_->currentText().toInt();
        UpdateButtons();
    });
    connect(triggerSoundLength_, &QComboBox::currentIndexChanged, this, [this](int index) {
        edited_.settings.triggerSoundLengthInSec = kMinTriggerSoundSec + index;
        UpdateButtons();
    });
    connect(filenameFormat_, &QComboBox::currentIndexChanged, this, [this](int index) {
        edited_.settings.filenameFormatType = index;
        UpdateButtons();
    });
    connect(action_, &QComboBox::currentIndexChanged, this, [this](int index) {
        edited_.settings.defaultAction = index;
        UpdateButtons();
    });
    connect(launchAtLogon_, &QCheckBox::toggled, this, [this](bool checked) {
        edited_.settings.launchAtLogon = checked ? kOn : "";
        UpdateButtons();
    });
    connect(verifyMatches_, &QCheckBox::toggled, this, [this](bool checked) {
        edited_.settings.verifyMatches = checked ? kOn : "";
        UpdateButtons();
    });
    connect(notifications_, &QCheckBox::toggled, this, [this](bool checked) {
        edited_.settings.notifications = checked ? kOn : "";
        UpdateButtons();
    });
    connect(upRate_, &QLineEdit::textEdited, this,
            [this] { OnRateEdited(*upRate_, edited_.settings.volumeUpRate); });
    connect(downRate_, &QLineEdit::textEdited, this,
            [this] { OnRateEdited(*downRate_, edited_.settings.volumeDownRate); });
    connect(apply_, &QToolButton::clicked, this, &OptionsPage::Apply);
    connect(cancel_, &QToolButton::clicked, this, &OptionsPage::Cancel);
}

// ---- showing ----

void OptionsPage::ShowAppliedValues() {
    const Settings& settings = edited_.settings;
    {
        const QSignalBlocker blockers[] = {
            QSignalBlocker(preRecording_),   QSignalBlocker(triggerSoundLength_),
            QSignalBlocker(filenameFormat_), QSignalBlocker(action_),
            QSignalBlocker(launchAtLogon_),  QSignalBlocker(verifyMatches_),
            QSignalBlocker(notifications_)};
        const int preRecording = settings.preRecordingLengthInSec;
        if (preRecording > kLargestShownAsMaxPreRecording) {
            preRecording_->setCurrentIndex(-1);
        } else {
            preRecording_->setCurrentIndex(std::clamp(preRecording, 0, kMaxPreRecordingSec));
        }
        triggerSoundLength_->setCurrentIndex(
            std::clamp(settings.triggerSoundLengthInSec, kMinTriggerSoundSec, kMaxTriggerSoundSec) -
            kMinTriggerSoundSec);
        const int order = settings.filenameFormatType;
        filenameFormat_->setCurrentIndex(order >= 0 && order < filenameFormat_->count() ? order
                                                                                        : -1);
        const int action = settings.defaultAction;
        action_->setCurrentIndex(action >= 0 && action < action_->count() ? action : -1);
        launchAtLogon_->setChecked(!settings.launchAtLogon.empty());
        verifyMatches_->setChecked(!settings.verifyMatches.empty());
        notifications_->setChecked(!settings.notifications.empty());
    }
    upRate_->setText(QString::fromStdString(settings.volumeUpRate));
    downRate_->setText(QString::fromStdString(settings.volumeDownRate));
    const int item = SelectedItem();
    if (item >= 0) {
        OnHotkeySelected(item);
    }
    ShowBoundTriggers();
}

void OptionsPage::UpdateButtons() {
    const bool changed = !IsSameConfig(configuration_.Applied(), edited_);
    apply_->setEnabled(changed);
    cancel_->setEnabled(changed);
}

void OptionsPage::EnableShortcutGroups(int item) {
    const bool recordSave = item == kRecordSaveItem;
    const bool registerSound = item == kRegisterItem;
    const std::array<QWidget*, 7> recordSaveGroup = {
        preRecordingLabel_, preRecording_,   triggerSoundLabel_, triggerSoundLength_,
        filenameLabel_,     filenameFormat_, filenameSuffix_};
    for (QWidget* widget : recordSaveGroup) {
        widget->setEnabled(recordSave);
    }
    actionLabel_->setEnabled(registerSound);
    action_->setEnabled(registerSound);
}

// ---- hotkey editing (on the edited configuration) ----

int OptionsPage::SelectedItem() const {
    return hotkeyList_->currentRow();
}

Settings::HotkeyIndex OptionsPage::RecordOfItem(int item) {
    return kRecordOfItem[static_cast<std::size_t>(item)];
}

HotkeyRecord& OptionsPage::EditedRecordOf(int item) {
    return edited_.hotkeys.Record(RecordOfItem(item));
}

void OptionsPage::OnHotkeySelected(int item) {
    if (item < 0 || item >= kHotkeyItemCount) {
        return;
    }
    const HotkeyRecord& record = EditedRecordOf(item);
    for (QCheckBox* box : {alt_, ctrl_, shift_}) {
        box->setEnabled(true);
    }
    keyList_->setEnabled(true);
    {
        const QSignalBlocker blockers[] = {QSignalBlocker(alt_), QSignalBlocker(ctrl_),
                                           QSignalBlocker(shift_)};
        alt_->setChecked((record.modifiers & HotkeyGrabber::kAlt) != 0);
        ctrl_->setChecked((record.modifiers & HotkeyGrabber::kControl) != 0);
        shift_->setChecked((record.modifiers & HotkeyGrabber::kShift) != 0);
    }
    EnableShortcutGroups(item);
    FillKeyList(item);
}

void OptionsPage::RegisterRecord(HotkeyRecord& record) {
    configuration_.Grabber().Unregister(record.id);
    if (!IsOnText(record.active)) {
        return;
    }
    if (record.virtualKey < kMinKeyCode || record.virtualKey > kMaxKeyCode ||
        !configuration_.Grabber().Register(record.id, record.modifiers, record.virtualKey)) {
        record.active = kOff;
    }
}

// The first entry shows the current key ("---" when the hotkey is off) and carries its code;
// an active hotkey offers "---" next; then every key free with the record's modifiers.
void OptionsPage::FillKeyList(int item) {
    RegisterRecord(EditedRecordOf(item));
    ShowKeyList(item);
}

void OptionsPage::ShowKeyList(int item) {
    const HotkeyRecord& record = EditedRecordOf(item);
    const QSignalBlocker blocker(keyList_);
    keyList_->clear();
    const bool active = IsOnText(record.active);
    keyList_->addItem(active ? QString::fromStdString(record.keyName) : QString::fromLatin1(kNoKey),
                      record.virtualKey);
    keyList_->setCurrentIndex(0);
    if (active) {
        keyList_->addItem(QString::fromLatin1(kNoKey), 0);
    }
    for (const KeyChoice& key :
         HotkeyList::BuildKeyList(configuration_.Grabber(), record.modifiers)) {
        keyList_->addItem(QString::fromStdString(key.name), key.code);
    }
    ShowBoundTriggers();
}

// Where the desktop binds the hotkeys itself (the portal), each row's tool tip says what it
// bound: the user may have chosen another trigger than the one configured here.
void OptionsPage::ShowBoundTriggers() {
    for (int item = 0; item < kHotkeyItemCount; ++item) {
        const HotkeyRecord& record = edited_.hotkeys.Records()[RecordOfItem(item)];
        const std::string bound = configuration_.Grabber().BoundTrigger(record.id);
        hotkeyList_->item(item)->setToolTip(
            bound.empty() ? QString()
                          : QStringLiteral("%1: %2").arg(QLatin1String(kBoundTriggerLabel),
                                                         QString::fromStdString(bound)));
    }
}

// A late refusal turns the edited record off, and the applied one too when it is the same
// hotkey (so Apply stays as it was); nothing is registered again, which would ask the desktop
// once more.
void OptionsPage::OnHotkeySettled(int id, bool bound) {
    if (!bound) {
        for (std::size_t i = 0; i < Settings::kHotkeyCount; ++i) {
            const auto index = static_cast<Settings::HotkeyIndex>(i);
            HotkeyRecord& edited = edited_.hotkeys.Record(index);
            if (edited.id != id || !IsOnText(edited.active)) {
                continue;
            }
            configuration_.TurnOffRefused(index, edited);
            edited.active = kOff;
        }
        const int item = SelectedItem();
        if (item >= 0 && EditedRecordOf(item).id == id) {
            ShowKeyList(item);
        }
    }
    ShowBoundTriggers();
    UpdateButtons();
}

void OptionsPage::OnModifierToggled(int bit, bool checked) {
    const int item = SelectedItem();
    if (item < 0) {
        return;
    }
    HotkeyRecord& record = EditedRecordOf(item);
    record.modifiers = checked ? (record.modifiers | bit) : (record.modifiers & ~bit);
    FillKeyList(item);
    UpdateButtons();
}

void OptionsPage::OnKeyChosen(int index) {
    const int item = SelectedItem();
    if (item < 0 || index < 0) {
        return;
    }
    HotkeyRecord& record = EditedRecordOf(item);
    configuration_.Grabber().Unregister(record.id);
    if (keyList_->itemText(index) == QLatin1String(kNoKey)) {
        record.active = kOff;
    } else {
        record.virtualKey = keyList_->itemData(index).toInt();
        record.keyName = keyList_->itemText(index).toStdString();
        record.active = kOn;
    }
    // Refilling registers the new key at once and shows "---" when that is refused.
    FillKeyList(item);
    UpdateButtons();
}

void OptionsPage::OnRateEdited(QLineEdit& box, std::string& rate) {
    bool isNumber = false;
    const int typed = box.text().toInt(&isNumber);
    if (isNumber && typed < VolumeManager::kMinRate) {
        box.setText(QString::number(VolumeManager::kMinRate));
    } else if (isNumber && typed > VolumeManager::kMaxRate) {
        box.setText(QString::number(VolumeManager::kMaxRate));
    }
    rate = box.text().toStdString();
    UpdateButtons();
}

// ---- Apply and Cancel ----

// The records of the selected row's pair: "Capture/Record" and "SystemTray/Stop,Start" for
// rows 2 and 3, "Capture/Rec. & Save" and "Capture/Register" otherwise. Edits of the other
// pair were registered when they were made.
void OptionsPage::ReRegisterPairOf(int item) {
    const bool secondPair = item == kRecordItem || item == kStopStartItem;
    const std::array<Settings::HotkeyIndex, 2> pair =
        secondPair ? std::array{Settings::kRecordSound, Settings::kStopStartThis}
                   : std::array{Settings::kRecordSave, Settings::kRegister};
    for (Settings::HotkeyIndex index : pair) {
        configuration_.UnregisterAppliedHotkey(index);
    }
    for (Settings::HotkeyIndex index : pair) {
        RegisterRecord(edited_.hotkeys.Record(index));
    }
}

void OptionsPage::ApplyLaunchAtLogon() {
    const LogonShortcut shortcut(setup_.startupFolder, setup_.programName, setup_.programPath);
    if (!shortcut.Known()) {
        return;
    }
    if (launchAtLogon_->isChecked()) {
        shortcut.Create();
        edited_.settings.launchAtLogon = kOn;
    } else {
        shortcut.Remove();
        edited_.settings.launchAtLogon.clear();
    }
}

void OptionsPage::Apply() {
    const int item = SelectedItem();
    ReRegisterPairOf(item);
    if (item >= 0) {
        FillKeyList(item);
    }
    ApplyLaunchAtLogon();
    // The rates typed are the edited ones (each edit stores the box's text).
    configuration_.Apply(edited_);
    UpdateButtons();
}

// Every applied hotkey that is on is registered again, not only the selected one: the
// others would otherwise stay without their grab until the next start.
void OptionsPage::Cancel() {
    edited_.hotkeys.UnregisterHotkeys(configuration_.Grabber());
    configuration_.RegisterAppliedHotkeys();
    edited_ = configuration_.Applied();
    UpdateButtons();
    ShowAppliedValues();
}

// ---- the configuration for the other pages ----

bool OptionsPage::IsSameConfig(const Configuration& a, const Configuration& b) {
    for (std::size_t i = 0; i < Settings::kHotkeyCount; ++i) {
        const HotkeyRecord& x = a.hotkeys.Records()[i];
        const HotkeyRecord& y = b.hotkeys.Records()[i];
        if (x.modifiers != y.modifiers || x.virtualKey != y.virtualKey ||
            IsOnText(x.active) != IsOnText(y.active)) {
            return false;
        }
    }
    const Settings& s = a.settings;
    const Settings& t = b.settings;
    return s.preRecordingLengthInSec == t.preRecordingLengthInSec &&
           s.triggerSoundLengthInSec == t.triggerSoundLengthInSec &&
           s.filenameFormatType == t.filenameFormatType && s.defaultAction == t.defaultAction &&
           s.launchAtLogon == t.launchAtLogon && s.volumeDownRate == t.volumeDownRate &&
           s.volumeUpRate == t.volumeUpRate && s.verifyMatches == t.verifyMatches &&
           s.notifications == t.notifications;
}

int OptionsPage::DateOrder() const {
    return configuration_.DateOrder();
}

const Configuration& OptionsPage::Applied() const {
    return configuration_.Applied();
}

void OptionsPage::StoreTab(int tab) {
    configuration_.StoreTab(tab);
    edited_.settings.placement.tab = tab;
}

void OptionsPage::StorePlacement(const WindowPlacementSetting& placement) {
    configuration_.StorePlacement(placement);
    edited_.settings.placement = placement;
}

void OptionsPage::StoreLogColumnWidths(const std::array<std::int32_t, 2>& widths) {
    configuration_.StoreLogColumnWidths(widths);
    edited_.settings.logListColumnWidths = widths;
}

void OptionsPage::StoreTriggerListView(const std::array<std::int32_t, 3>& widths, bool groupView) {
    configuration_.StoreTriggerListView(widths, groupView);
    edited_.settings.triggerListColumnWidths = widths;
    edited_.settings.groupView = groupView ? "v" : "";
}

}  // namespace hushwell
