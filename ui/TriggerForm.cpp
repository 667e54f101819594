#include "ui/TriggerForm.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QRadioButton>
#include <QStandardItemModel>
#include <QTime>
#include <QTimeEdit>
#include <QToolButton>
#include <QVBoxLayout>
#include <cmath>
#include <cstdlib>

namespace hushwell {

namespace {

constexpr std::array<const char*, 3> kKindTexts = {"Sound", "Time", "Level"};
constexpr std::array<const char*, 3> kTargetTexts = {"whole", "telephone", "program"};
constexpr int kProgramTargetEntry = static_cast<int>(TargetCode::Program);
constexpr const char* kTimeFormat = "HH:mm:ss";
constexpr int kHighestLevel = 95;
constexpr int kLevelStep = 5;
constexpr int kMinuteStep = 5;
constexpr int kMinutesPerHour = 60;
constexpr int kLevelScale = 100;
constexpr double kLevelRounding = 0.001;
constexpr int kDayRowExtra = 6;  // frame and margins around the one row of days
// Thresholds are shown as the scan tool prints scores, and step by half a hundredth.
constexpr int kThresholdDecimals = 4;
constexpr double kThresholdStep = 0.005;
// Shown as the start of an own threshold when the sound's length is unknown.
constexpr double kUnknownStart = 0.9;
constexpr const char* kThresholdTip =
    "Tune how readily this sound fires: a match must score above the threshold. Lower fires "
    "more readily, higher more rarely. Off: the threshold the sound's length gives.";
// Less than half the last shown decimal: the value shown is the starting point.
constexpr double kThresholdUnchanged = 0.00005;

QTime ToQTime(const TriggerTime& time) {
    if (time.hour >= 24) {
        return QTime(23, 59, 59);
    }
    const QTime value(time.hour, time.minute, time.second);
    return value.isValid() ? value : QTime(0, 0, 0);
}

TriggerTime FromQTime(const QTime& time) {
    return TriggerTime(time.hour(), time.minute(), time.second());
}

QTimeEdit* MakeTimePicker(const char* accessibleName, QWidget* parent) {
    auto* picker = new QTimeEdit(parent);
    picker->setDisplayFormat(QString::fromLatin1(kTimeFormat));
    picker->setAccessibleName(QString::fromLatin1(accessibleName));
    return picker;
}

QLabel* MakeLabel(const char* text, QWidget* buddy, QWidget* parent) {
    auto* label = new QLabel(QString::fromLatin1(text), parent);
    label->setBuddy(buddy);
    return label;
}

QToolButton* MakeChooserButton(const char* accessibleName, QWidget* parent) {
    auto* button = new QToolButton(parent);
    button->setText(QStringLiteral("..."));
    button->setAccessibleName(QString::fromLatin1(accessibleName));
    button->setToolTip(QString::fromLatin1(accessibleName));
    return button;
}

std::string ToStd(const QString& text) {
    return text.toStdString();
}

}  // namespace

TriggerForm::TriggerForm(QWidget* parent) : QWidget(parent) {
    BuildControls();
    ConnectControls();
    ShowReset();
}

QStringList TriggerForm::ActionTexts() {
    QStringList texts = {QString::fromLatin1(kExecAction), QStringLiteral("mute")};
    for (int amount = 100; amount >= 10; amount -= 10) {
        texts.push_back(QStringLiteral("down %1").arg(amount));
    }
    for (int amount = 9; amount >= 1; --amount) {
        texts.push_back(QStringLiteral("down %1").arg(amount));
    }
    texts.push_back(QStringLiteral("unmute"));
    for (int amount = 1; amount <= 10; ++amount) {
        texts.push_back(QStringLiteral("up %1").arg(amount));
    }
    return texts;
}

QStringList TriggerForm::LevelTexts() {
    QStringList texts;
    for (int entry = 0; entry < kLevelEntryCount; ++entry) {
        texts.push_back(QStringLiteral("0.%1").arg(kHighestLevel - entry * kLevelStep));
    }
    return texts;
}

int TriggerForm::LevelEntryFor(int level) {
    if (level >= kHighestLevel) {
        return 0;
    }
    int nearest = 0;
    for (int entry = 1; entry < kLevelEntryCount; ++entry) {
        const int value = kHighestLevel - entry * kLevelStep;
        const int best = kHighestLevel - nearest * kLevelStep;
        if (std::abs(value - level) < std::abs(best - level)) {
            nearest = entry;
        }
    }
    return nearest;
}

TriggerTime TriggerForm::NormaliseRepeatInterval(TriggerTime time) {
    time.second = 0;
    const int remainder = ((time.minute % kMinuteStep) + kMinuteStep) % kMinuteStep;
    if (remainder == kMinuteStep - 1) {
        time.minute -= remainder;
    } else if (remainder != 0) {
        time.minute += kMinuteStep - remainder;
    }
    if (time.minute >= kMinutesPerHour || time.minute < 0) {
        time.minute = 0;
    }
    time.hour &= 1;
    if (time.hour == 0 && time.minute == 0) {
        time.hour = 1;
    }
    return time;
}

void TriggerForm::BuildControls() {
    name_ = new QLineEdit(this);
    name_->setObjectName(QStringLiteral("name"));
    name_->setAccessibleName(QStringLiteral("Name"));
    name_->setMaxLength(kMaxTextChars);
    nameLabel_ = MakeLabel("Name:", name_, this);

    triggerGroup_ = new QGroupBox(QStringLiteral("Trigger"), this);
    triggerGroup_->setAccessibleName(QStringLiteral("Trigger"));
    kindGroup_ = new QButtonGroup(this);
    auto* kindRow = new QHBoxLayout;
    for (std::size_t i = 0; i < kinds_.size(); ++i) {
        kinds_[i] = new QRadioButton(QString::fromLatin1(kKindTexts[i]), triggerGroup_);
        kinds_[i]->setAccessibleName(QString::fromLatin1(kKindTexts[i]));
        kindGroup_->addButton(kinds_[i], static_cast<int>(i));
        kindRow->addWidget(kinds_[i]);
    }
    kindRow->addStretch();
    soundFile_ = new QLineEdit(triggerGroup_);
    soundFile_->setObjectName(QStringLiteral("soundFile"));
    soundFile_->setAccessibleName(QStringLiteral("Sound file"));
    soundFile_->setMaxLength(kMaxTextChars);
    soundChooser_ = MakeChooserButton("Choose a sound file", triggerGroup_);
    triggerTime_ = MakeTimePicker("Trigger time", triggerGroup_);
    triggerTime_->setObjectName(QStringLiteral("triggerTime"));
    every_ = new QCheckBox(QStringLiteral("every"), triggerGroup_);
    every_->setAccessibleName(QStringLiteral("every"));
    level_ = new QComboBox(triggerGroup_);
    level_->setObjectName(QStringLiteral("level"));
    level_->setAccessibleName(QStringLiteral("Level"));
    level_->addItems(LevelTexts());

    BuildThresholdRow();
    auto* thresholdRow = new QHBoxLayout;
    thresholdRow->addWidget(ownThreshold_);
    thresholdRow->addWidget(threshold_);
    thresholdRow->addStretch(1);

    auto* triggerLayout = new QGridLayout(triggerGroup_);
    triggerLayout->addLayout(kindRow, 0, 0, 1, 3);
    triggerLayout->addWidget(soundFile_, 1, 0, 1, 2);
    triggerLayout->addWidget(soundChooser_, 1, 2);
    triggerLayout->addLayout(thresholdRow, 4, 0, 1, 3);
    triggerLayout->addWidget(triggerTime_, 2, 0);
    triggerLayout->addWidget(every_, 2, 1, 1, 2);
    triggerLayout->addWidget(level_, 3, 0);
    triggerLayout->setColumnStretch(0, 1);

    action_ = new QComboBox(this);
    action_->setObjectName(QStringLiteral("action"));
    action_->setAccessibleName(QStringLiteral("Action"));
    action_->addItems(ActionTexts());
    actionLabel_ = MakeLabel("Action:", action_, this);
    duration_ = MakeTimePicker("Duration", this);
    duration_->setObjectName(QStringLiteral("duration"));
    durationLabel_ = MakeLabel("Duration:", duration_, this);
    target_ = new QComboBox(this);
    target_->setObjectName(QStringLiteral("target"));
    target_->setAccessibleName(QStringLiteral("Target"));
    for (const char* text : kTargetTexts) {
        target_->addItem(QString::fromLatin1(text));
    }
    targetLabel_ = MakeLabel("Target:", target_, this);
    command_ = new QLineEdit(this);
    command_->setObjectName(QStringLiteral("command"));
    command_->setAccessibleName(QStringLiteral("Command"));
    commandChooser_ = MakeChooserButton("Choose a program", this);
    commandLabel_ = MakeLabel("Command:", command_, this);
    arguments_ = new QLineEdit(this);
    arguments_->setObjectName(QStringLiteral("arguments"));
    arguments_->setAccessibleName(QStringLiteral("Arguments"));
    argumentsLabel_ = MakeLabel("Arguments:", arguments_, this);

    monitoringGroup_ = new QGroupBox(QStringLiteral("Monitoring time"), this);
    monitoringGroup_->setAccessibleName(QStringLiteral("Monitoring time"));
    startTime_ = MakeTimePicker("Monitoring start", monitoringGroup_);
    startTime_->setObjectName(QStringLiteral("startTime"));
    endTime_ = MakeTimePicker("Monitoring end", monitoringGroup_);
    endTime_->setObjectName(QStringLiteral("endTime"));
    auto* monitoringLayout = new QHBoxLayout(monitoringGroup_);
    monitoringLayout->addWidget(startTime_);
    monitoringLayout->addWidget(new QLabel(QStringLiteral("-"), monitoringGroup_));
    monitoringLayout->addWidget(endTime_);

    days_ = new QListWidget(this);
    days_->setObjectName(QStringLiteral("days"));
    days_->setAccessibleName(QStringLiteral("Days"));
    days_->setFlow(QListView::LeftToRight);
    days_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    days_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    for (const std::string_view day : kDayNames) {
        auto* item = new QListWidgetItem(QString::fromLatin1(day.data(), 3), days_);
        item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsUserCheckable | Qt::ItemIsSelectable);
        item->setCheckState(Qt::Checked);
    }
    days_->setFixedHeight(days_->sizeHintForRow(0) + kDayRowExtra);

    auto* commandRow = new QHBoxLayout;
    commandRow->addWidget(command_);
    commandRow->addWidget(commandChooser_);
    auto* fields = new QGridLayout;
    fields->addWidget(actionLabel_, 0, 0);
    fields->addWidget(action_, 0, 1);
    fields->addWidget(durationLabel_, 1, 0);
    fields->addWidget(duration_, 1, 1);
    fields->addWidget(targetLabel_, 2, 0);
    fields->addWidget(target_, 2, 1);
    fields->addWidget(commandLabel_, 3, 0);
    fields->addLayout(commandRow, 3, 1);
    fields->addWidget(argumentsLabel_, 4, 0);
    fields->addWidget(arguments_, 4, 1);
    fields->setRowStretch(5, 1);

    auto* nameRow = new QHBoxLayout;
    nameRow->addWidget(nameLabel_);
    nameRow->addWidget(name_);
    auto* columns = new QHBoxLayout;
    auto* left = new QVBoxLayout;
    left->addWidget(triggerGroup_);
    left->addWidget(monitoringGroup_);
    columns->addLayout(left, 1);
    columns->addLayout(fields, 1);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(nameRow);
    layout->addLayout(columns);
    layout->addWidget(days_);
}

// A sound trigger's own threshold: off, the threshold its sound's length gives applies and is
// shown as the starting point.
void TriggerForm::BuildThresholdRow() {
    ownThreshold_ = new QCheckBox(QStringLiteral("Own threshold"), triggerGroup_);
    ownThreshold_->setObjectName(QStringLiteral("ownThreshold"));
    ownThreshold_->setAccessibleName(QStringLiteral("Own threshold"));
    ownThreshold_->setToolTip(QString::fromLatin1(kThresholdTip));
    threshold_ = new QDoubleSpinBox(triggerGroup_);
    threshold_->setObjectName(QStringLiteral("threshold"));
    threshold_->setAccessibleName(QStringLiteral("Threshold"));
    threshold_->setToolTip(ownThreshold_->toolTip());
    threshold_->setDecimals(kThresholdDecimals);
    threshold_->setRange(Trigger::kMinMatchThreshold, Trigger::kMaxMatchThreshold);
    threshold_->setSingleStep(kThresholdStep);
}

void TriggerForm::UpdateLengthThreshold() {
    lengthThreshold_ = lengthThresholdOf ? lengthThresholdOf(soundFile_->text()) : 0.0f;
    // Unticked, the box shows this starting point; its tip says where it comes from.
    const QString origin = lengthThreshold_ > 0.0f
                               ? QStringLiteral("The sound's length gives %1.")
                                     .arg(lengthThreshold_, 0, 'f', kThresholdDecimals)
                               : QStringLiteral("The sound's length gives the threshold.");
    threshold_->setToolTip(QString::fromLatin1(kThresholdTip) + QLatin1Char(' ') + origin);
    if (!ownThreshold_->isChecked()) {
        ShowThreshold(Trigger::kNoMatchThreshold);
    }
}

// Shows an own threshold, or the starting point when there is none.
void TriggerForm::ShowThreshold(float own) {
    const bool wasFilling = filling_;
    filling_ = true;
    const bool hasOwn = own > Trigger::kNoMatchThreshold;
    ownThreshold_->setChecked(hasOwn);
    threshold_->setValue(hasOwn ? own : lengthThreshold_ > 0.0f ? lengthThreshold_ : kUnknownStart);
    filling_ = wasFilling;
    EnableByKind();
}

void TriggerForm::SetOwnThreshold(bool on, double value) {
    ownThreshold_->setChecked(on);
    if (on) {
        threshold_->setValue(value);
    }
}

void TriggerForm::ConnectControls() {
    connect(kindGroup_, &QButtonGroup::idToggled, this, [this](int, bool checked) {
        if (!checked) {
            return;
        }
        EnableByKind();
        if (!filling_) {
            emit KindChanged();
        }
    });
    connect(action_, &QComboBox::currentIndexChanged, this, [this] {
        EnableByAction();
        EmitEdited();
    });
    connect(every_, &QCheckBox::toggled, this, [this](bool on) {
        EnableByKind();
        if (on) {
            NormaliseShownInterval();
        }
    });
    connect(triggerTime_, &QTimeEdit::timeChanged, this, [this] {
        if (every_->isChecked()) {
            NormaliseShownInterval();
        }
        if (!filling_) {
            emit TriggerTimeEdited();
        }
    });
    for (QLineEdit* edit : {name_, soundFile_, arguments_}) {
        connect(edit, &QLineEdit::textEdited, this, &TriggerForm::EmitEdited);
    }
    for (QComboBox* list : {level_, target_}) {
        connect(list, &QComboBox::currentIndexChanged, this, &TriggerForm::EmitEdited);
    }
    for (QTimeEdit* picker : {duration_, startTime_, endTime_}) {
        connect(picker, &QTimeEdit::timeChanged, this, &TriggerForm::EmitEdited);
    }
    connect(days_, &QListWidget::itemChanged, this, &TriggerForm::EmitEdited);
    connect(ownThreshold_, &QCheckBox::toggled, this, [this] {
        EnableByKind();
        EmitEdited();
    });
    connect(threshold_, &QDoubleSpinBox::valueChanged, this, &TriggerForm::EmitEdited);
    connect(soundFile_, &QLineEdit::editingFinished, this, &TriggerForm::UpdateLengthThreshold);
    connect(soundChooser_, &QToolButton::clicked, this, &TriggerForm::SoundChooserRequested);
    connect(commandChooser_, &QToolButton::clicked, this, &TriggerForm::CommandChooserRequested);
}

void TriggerForm::EmitEdited() {
    if (!filling_) {
        emit Edited();
    }
}

TriggerKind TriggerForm::Kind() const {
    const int id = kindGroup_->checkedId();
    return id >= 0 ? static_cast<TriggerKind>(id) : TriggerKind::Sound;
}

void TriggerForm::SetKind(TriggerKind kind) {
    const auto slot = static_cast<std::size_t>(kind);
    if (slot < kinds_.size()) {
        kinds_[slot]->setChecked(true);
    }
}

bool TriggerForm::IsExecAction() const {
    return action_->currentText().compare(QString::fromLatin1(kExecAction), Qt::CaseInsensitive) ==
           0;
}

void TriggerForm::EnableByKind() {
    const TriggerKind kind = Kind();
    const bool sound = kind == TriggerKind::Sound;
    const bool time = kind == TriggerKind::Time;
    const bool level = kind == TriggerKind::Level;
    soundFile_->setEnabled(sound);
    soundChooser_->setEnabled(sound);
    ownThreshold_->setEnabled(sound);
    threshold_->setEnabled(sound && ownThreshold_->isChecked());
    triggerTime_->setEnabled(time);
    every_->setEnabled(time);
    days_->setEnabled(time);
    level_->setEnabled(level);
    monitoringGroup_->setEnabled(sound || (time && every_->isChecked()));
    // Only a sound is heard in one program's stream; other kinds fall back to the whole output.
    const bool programAllowed = sound;
    if (level || (!programAllowed && target_->currentIndex() == kProgramTargetEntry)) {
        const bool wasFilling = filling_;
        filling_ = true;
        target_->setCurrentIndex(0);
        filling_ = wasFilling;
    }
    if (auto* entries = qobject_cast<QStandardItemModel*>(target_->model())) {
        entries->item(kProgramTargetEntry)->setEnabled(programAllowed);
    }
    EnableByAction();
}

void TriggerForm::EnableByAction() {
    const bool exec = IsExecAction();
    const bool targetAllowed = !exec && Kind() != TriggerKind::Level;
    durationLabel_->setEnabled(!exec);
    duration_->setEnabled(!exec);
    targetLabel_->setEnabled(targetAllowed);
    target_->setEnabled(targetAllowed);
    commandLabel_->setEnabled(exec);
    command_->setEnabled(exec);
    commandChooser_->setEnabled(exec);
    argumentsLabel_->setEnabled(exec);
    arguments_->setEnabled(exec);
}

void TriggerForm::NormaliseShownInterval() {
    const TriggerTime shown = TriggerTimeShown();
    const TriggerTime interval = NormaliseRepeatInterval(shown);
    if (!interval.SameValue(shown)) {
        // The form's own correction is not an edit: ticking "every" changes no button.
        const bool wasFilling = filling_;
        filling_ = true;
        triggerTime_->setTime(ToQTime(interval));
        filling_ = wasFilling;
    }
}

void TriggerForm::ShowReset() {
    ShowRecord(Trigger());
    const bool wasFilling = filling_;
    filling_ = true;
    endTime_->setTime(QTime(23, 59, 59));  // a whole day to watch until the user narrows it
    filling_ = wasFilling;
}

void TriggerForm::ShowRecord(const Trigger& source) {
    const Trigger record(source);  // a copy: the form reads it without holding its lock
    filling_ = true;
    name_->setText(QString::fromStdString(record.name));
    soundFile_->setText(QString::fromStdString(record.triggerFile));
    every_->setChecked(record.every);
    triggerTime_->setTime(ToQTime(record.timeOfDay));
    const int actionIndex =
        action_->findText(QString::fromStdString(record.control), Qt::MatchFixedString);
    if (actionIndex >= 0) {
        action_->setCurrentIndex(actionIndex);
    }
    duration_->setTime(ToQTime(record.duration));
    command_->setText(QString::fromStdString(record.command));
    arguments_->setText(QString::fromStdString(record.commandArgs));
    startTime_->setTime(ToQTime(record.startTime));
    endTime_->setTime(ToQTime(record.endTime));
    const bool level = record.GetTriggerKind() == TriggerKind::Level;
    target_->setCurrentIndex(level ? 0 : static_cast<int>(record.GetTargetCode()));
    level_->setCurrentIndex(level ? LevelEntryFor(record.level) : kInitialLevelEntry);
    for (int day = 0; day < kDaysPerWeek; ++day) {
        const bool on = record.dayFlags[static_cast<std::size_t>(day)] == Trigger::kDayOn;
        days_->item(day)->setCheckState(on ? Qt::Checked : Qt::Unchecked);
    }
    const TriggerKind kind = record.GetTriggerKind();
    SetKind(kind == TriggerKind::Other ? TriggerKind::Sound : kind);
    UpdateLengthThreshold();
    ShowThreshold(record.matchThreshold);
    EnableByKind();
    filling_ = false;
}

Trigger TriggerForm::BuildRecord() const {
    Trigger record;
    record.SetActive(true);
    record.SetText(&Trigger::name, ToStd(name_->text().left(kMaxTextChars)));
    record.SetControl(ToStd(action_->currentText()));
    if (!IsExecAction()) {
        record.duration = FromQTime(duration_->time());
        record.SetText(&Trigger::target, ToStd(target_->currentText()));
        record.command.clear();
        record.commandArgs.clear();
    } else {
        record.SetText(&Trigger::command, ToStd(command_->text()));
        record.SetText(&Trigger::commandArgs, ToStd(arguments_->text()));
        record.duration.Zero();
    }
    const TriggerKind kind = Kind();
    record.triggerKind = std::string(TriggerKindWord(kind));
    switch (kind) {
        case TriggerKind::Sound:
            record.SetText(&Trigger::triggerFile, ToStd(soundFile_->text().left(kMaxTextChars)));
            record.startTime = FromQTime(startTime_->time());
            record.endTime = FromQTime(endTime_->time());
            // Only a threshold the user changed is the trigger's own.
            if (ownThreshold_->isChecked() &&
                std::abs(threshold_->value() - lengthThreshold_) >= kThresholdUnchanged) {
                record.SetMatchThreshold(threshold_->value());
            }
            break;
        case TriggerKind::Time:
            record.timeOfDay = FromQTime(triggerTime_->time());
            if (every_->isChecked()) {
                record.every = true;
                record.startTime = FromQTime(startTime_->time());
                record.endTime = FromQTime(endTime_->time());
            }
            for (int day = 0; day < kDaysPerWeek; ++day) {
                const bool on = days_->item(day)->checkState() == Qt::Checked;
                record.dayFlags[static_cast<std::size_t>(day)] =
                    on ? Trigger::kDayOn : Trigger::kDayOff;
            }
            break;
        case TriggerKind::Level:
            record.SetLevel(static_cast<std::int64_t>(
                std::trunc(level_->currentText().toDouble() * kLevelScale + kLevelRounding)));
            record.startTime = FromQTime(startTime_->time());
            record.endTime = FromQTime(endTime_->time());
            break;
        case TriggerKind::Other:
            break;
    }
    return record;
}

void TriggerForm::SetSoundFile(const QString& file, const QString& name) {
    soundFile_->setText(file.left(kMaxTextChars));
    name_->setText(name.left(kMaxTextChars));
    UpdateLengthThreshold();
    EmitEdited();
}

void TriggerForm::SetCommand(const QString& command) {
    command_->setText(command);
}

void TriggerForm::SetDuration(const TriggerTime& duration) {
    duration_->setTime(ToQTime(duration));
}

void TriggerForm::SelectAction(int index) {
    if (index >= 0 && index < action_->count()) {
        action_->setCurrentIndex(index);
    }
}

void TriggerForm::SetTriggerTime(const TriggerTime& time) {
    triggerTime_->setTime(ToQTime(time));
}

void TriggerForm::SetEvery(bool on) {
    every_->setChecked(on);
}

TriggerTime TriggerForm::TriggerTimeShown() const {
    return FromQTime(triggerTime_->time());
}

}  // namespace hushwell
