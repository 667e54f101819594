#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "triggers/TriggerTime.h"
#include "triggers/Vocabulary.h"

namespace hushwell {

// One trigger: the condition watched for (a reference sound, a clock time or a sound level),
// the control carried out when it fires, and how long that control lasts.
//
// The fields are a plain record. The record has its own re-entrant lock: every operation
// below takes it (so they may call each other), and a thread that reads or writes fields of
// a record another thread may touch takes Mutex() itself. Lock order: a list's lock before a
// record's lock. FormatDays, ParseDays and GetLabel do not lock; callers hold the lock when
// the record is shared.
class Trigger {
public:
    static constexpr char kDayOn = 'v';
    static constexpr char kDayOff = ' ';
    static constexpr std::int32_t kDefaultLevel = 100;
    static constexpr std::int32_t kMinLevel = 0;  // level thresholds are percentages
    static constexpr std::int32_t kMaxLevel = 100;
    // A sound trigger's own match threshold (the score a match must exceed, 0..1): 0 means
    // none, the threshold its sound's length gives applies. Own values lie in this range.
    static constexpr float kNoMatchThreshold = 0.0f;
    static constexpr float kMinMatchThreshold = 0.5f;
    static constexpr float kMaxMatchThreshold = 0.999f;

    Trigger();
    virtual ~Trigger();
    // Copy every field except the lock.
    Trigger(const Trigger& other);
    Trigger& operator=(const Trigger& other);

    std::recursive_mutex& Mutex() const { return lock_; }

    // Restores the reset values (time texts keep their content).
    void Reset();

    // Stores a text field (name, triggerFile, target, command, commandArgs, active) without
    // what a file cannot hold (StorableText). Text from files and from the editor enters a
    // record through this or SetControl, so that every record can be saved.
    void SetText(std::string Trigger::*field, std::string_view text);
    // Stores the control text (as SetText does) and derives controlKind; for "down"/"up" also
    // amountText (the first run of digits, "0" when there is none).
    void SetControl(std::string_view text);
    // Stores a level threshold, limited to kMinLevel..kMaxLevel.
    void SetLevel(std::int64_t value);
    // Stores a sound trigger's own match threshold, limited to kMinMatchThreshold..
    // kMaxMatchThreshold; returns false when it had to be limited (a value that is not a
    // number changes nothing).
    bool SetMatchThreshold(double value);
    // Back to the threshold the sound's length gives.
    void ClearMatchThreshold();
    bool HasOwnMatchThreshold() const;
    ControlKind GetControlKind() const;
    TriggerKind GetTriggerKind() const;
    TargetCode GetTargetCode() const;

    void SetActive(bool on);
    bool IsActive() const;

    // Duplicate test used when merging lists and finding the editor's selection.
    bool IsSame(const Trigger& other) const;

    // Names of the selected days, Monday first, run together; also stored in dayText.
    std::string FormatDays();
    // The same names without storing them.
    std::string SelectedDayNames() const;
    // Selects each day whose name occurs anywhere in the text (exact case).
    void ParseDays(std::string_view text);
    // Short label for lists: the program name of an exec control, else the control text
    // without a trailing " N" amount digit pair.
    std::string GetLabel() const;

    // Fields, in record order.
    std::vector<std::uint32_t> referenceIndices;  // filled by the reference-set builder
    std::string active;                           // on when it begins with "v"
    std::string name;
    std::string triggerKind;  // "sound", "time" or "level"
    std::string control;      // "mute", "unmute", "exec", "down N", "up N"
    std::string amountText;   // digits of a "down"/"up" control
    ControlKind controlKind = ControlKind::Mute;
    TriggerTime duration;
    TriggerTime startTime;
    TriggerTime endTime;
    std::string triggerFile;                   // sound trigger: file of its reference sound
    float matchThreshold = kNoMatchThreshold;  // sound trigger: own threshold, or none
    TriggerTime timeOfDay;  // time trigger: the moment it fires (or the repeat interval)
    bool every = false;     // time trigger: repeats inside its start/end window
    std::array<char, kDaysPerWeek> dayFlags{};  // Monday first; 'v' selected, ' ' not
    std::string dayText;
    std::int32_t level = kDefaultLevel;  // level trigger: threshold in hundredths
    std::string target;                  // "whole", "telephone" or "program" (sound only)
    std::string command;                 // exec: program or document
    std::string commandArgs;             // exec: its arguments
    std::uint64_t holdUntil = 0;         // tick (ms) before which detection skips it
    std::uint32_t serialId = 0;          // given by TriggerList::Add

private:
    void CopyFieldsFrom(const Trigger& other);

    mutable std::recursive_mutex lock_;
};

}  // namespace hushwell
