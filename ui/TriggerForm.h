#pragma once

#include <QString>
#include <QStringList>
#include <QWidget>
#include <array>
#include <functional>

#include "triggers/Trigger.h"

class QButtonGroup;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QRadioButton;
class QTimeEdit;
class QToolButton;

namespace hushwell {

// The form of the trigger list editor: every field of one trigger, the kind choice, a sound
// trigger's own threshold (its sensitivity), the 32 actions, the level list, the targets, the days
// and the time pickers. It enables its fields by kind and by action, keeps a ticked "every" time a
// valid repeat interval, fills itself from a record and builds a record from what it shows. The
// buttons that act on the list belong to the editor; the form only reports edits.
//
// User-interface thread only.
class TriggerForm final : public QWidget {
    Q_OBJECT
public:
    static constexpr int kMaxTextChars = 1023;  // name and sound file
    static constexpr int kLevelEntryCount = 16;
    static constexpr int kInitialLevelEntry = 9;  // "0.50"
    static constexpr const char* kExecAction = "exec";

    explicit TriggerForm(QWidget* parent = nullptr);

    // The 32 actions: "exec", "mute", "down 100" to "down 10", "down 9" to "down 1",
    // "unmute", "up 1" to "up 10" (the index is the configuration's default action).
    static QStringList ActionTexts();
    // "0.95" down to "0.20" in steps of 0.05.
    static QStringList LevelTexts();
    // The level entry nearest to a level in hundredths; the first at or above its value.
    static int LevelEntryFor(int level);
    // A ticked "every" time as a repeat interval: seconds 0, minutes to a multiple of 5
    // (remainders 1 to 3 up, 4 down, 60 wraps to 0), the hour's lowest bit only, and
    // 00:00 made 01:00; so between 00:05:00 and 01:55:00.
    static TriggerTime NormaliseRepeatInterval(TriggerTime time);

    // Shows a freshly reset record: kind "Sound", action "mute", target "whole", all days.
    void ShowReset();
    // Fills every field from a record.
    void ShowRecord(const Trigger& record);
    // A freshly reset record filled from the fields (active, kind word, control through
    // SetControl; the fields of the chosen kind).
    Trigger BuildRecord() const;

    TriggerKind Kind() const;
    void SetKind(TriggerKind kind);
    // Sets the sound file and the name fields (as the WAV chooser does).
    void SetSoundFile(const QString& file, const QString& name);

    // The threshold a sound file's length gives (0 when it cannot be read): the starting point
    // of a sound trigger's own threshold. The editor sets it; without it there is none.
    std::function<float(const QString& soundFile)> lengthThresholdOf;
    // The threshold the shown sound file's length gives (0: unknown).
    float LengthThreshold() const { return lengthThreshold_; }
    // Ticks "Own threshold" and shows a value, as the user would.
    void SetOwnThreshold(bool on, double value = 0.0);
    void SetCommand(const QString& command);
    void SetDuration(const TriggerTime& duration);
    // Selects an action by its index in ActionTexts(); an index out of range changes nothing.
    void SelectAction(int index);
    void SetTriggerTime(const TriggerTime& time);
    void SetEvery(bool on);
    TriggerTime TriggerTimeShown() const;

signals:
    // A field the user changed (name, sound file, arguments, action, level, target, the
    // pickers other than the trigger time, a day); the editor enables Add and maybe Apply.
    void Edited();
    // The kind changed.
    void KindChanged();
    // The trigger time picker changed.
    void TriggerTimeEdited();
    // The "..." buttons.
    void SoundChooserRequested();
    void CommandChooserRequested();

private:
    void BuildControls();
    void ConnectControls();
    void EnableByKind();
    void EnableByAction();
    void NormaliseShownInterval();
    bool IsExecAction() const;
    void EmitEdited();
    void BuildThresholdRow();
    // Asks for the threshold of the sound file shown and shows it as the starting point.
    void UpdateLengthThreshold();
    void ShowThreshold(float own);

    QLabel* nameLabel_ = nullptr;
    QLineEdit* name_ = nullptr;
    QGroupBox* triggerGroup_ = nullptr;
    QButtonGroup* kindGroup_ = nullptr;
    std::array<QRadioButton*, 3> kinds_{};
    QLineEdit* soundFile_ = nullptr;
    QToolButton* soundChooser_ = nullptr;
    QTimeEdit* triggerTime_ = nullptr;
    QCheckBox* every_ = nullptr;
    QComboBox* level_ = nullptr;
    QCheckBox* ownThreshold_ = nullptr;
    QDoubleSpinBox* threshold_ = nullptr;
    float lengthThreshold_ = 0.0f;
    QLabel* actionLabel_ = nullptr;
    QComboBox* action_ = nullptr;
    QLabel* durationLabel_ = nullptr;
    QTimeEdit* duration_ = nullptr;
    QLabel* targetLabel_ = nullptr;
    QComboBox* target_ = nullptr;
    QLabel* commandLabel_ = nullptr;
    QLineEdit* command_ = nullptr;
    QToolButton* commandChooser_ = nullptr;
    QLabel* argumentsLabel_ = nullptr;
    QLineEdit* arguments_ = nullptr;
    QGroupBox* monitoringGroup_ = nullptr;
    QTimeEdit* startTime_ = nullptr;
    QTimeEdit* endTime_ = nullptr;
    QListWidget* days_ = nullptr;
    // Set while the form fills its own fields, so that the filling reports no edit.
    bool filling_ = false;
};

}  // namespace hushwell
