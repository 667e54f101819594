#include "triggers/Trigger.h"

#include <algorithm>
#include <cmath>

#include "triggers/StorableText.h"

namespace hushwell {

namespace {

constexpr char kActiveOn = 'v';
constexpr char kActiveOff = '_';
constexpr char kPathSeparator = '/';

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The run of digits starting at the first digit of the text, or "0" when there is none.
std::string FirstDigitRun(std::string_view text) {
    const auto first = std::find_if(text.begin(), text.end(), IsDigit);
    if (first == text.end()) {
        return "0";
    }
    const auto last = std::find_if_not(first, text.end(), IsDigit);
    return std::string(first, last);
}

}  // namespace

Trigger::Trigger() {
    Reset();
}

Trigger::~Trigger() = default;

Trigger::Trigger(const Trigger& other) {
    std::lock_guard source(other.lock_);
    CopyFieldsFrom(other);
}

Trigger& Trigger::operator=(const Trigger& other) {
    if (this != &other) {
        std::scoped_lock both(lock_, other.lock_);
        CopyFieldsFrom(other);
    }
    return *this;
}

void Trigger::CopyFieldsFrom(const Trigger& other) {
    referenceIndices = other.referenceIndices;
    active = other.active;
    name = other.name;
    triggerKind = other.triggerKind;
    control = other.control;
    amountText = other.amountText;
    controlKind = other.controlKind;
    duration = other.duration;
    startTime = other.startTime;
    endTime = other.endTime;
    triggerFile = other.triggerFile;
    matchThreshold = other.matchThreshold;
    timeOfDay = other.timeOfDay;
    every = other.every;
    dayFlags = other.dayFlags;
    dayText = other.dayText;
    level = other.level;
    target = other.target;
    command = other.command;
    commandArgs = other.commandArgs;
    holdUntil = other.holdUntil;
    serialId = other.serialId;
}

void Trigger::Reset() {
    std::lock_guard guard(lock_);
    referenceIndices.clear();
    active.clear();
    name.clear();
    amountText.clear();
    triggerFile.clear();
    matchThreshold = kNoMatchThreshold;
    command.clear();
    commandArgs.clear();
    triggerKind = TriggerKindWord(TriggerKind::Sound);
    control = ControlWord(ControlKind::Mute);
    controlKind = ControlKind::Mute;
    target = TargetWord(TargetCode::Whole);
    duration.Zero();
    startTime.Zero();
    endTime.Zero();
    timeOfDay.Zero();
    every = false;
    dayFlags.fill(kDayOn);
    level = kDefaultLevel;
    holdUntil = 0;
    serialId = 0;
}

void Trigger::SetText(std::string Trigger::*field, std::string_view text) {
    std::lock_guard guard(lock_);
    this->*field = StorableText(text);
}

void Trigger::SetControl(std::string_view text) {
    std::lock_guard guard(lock_);
    control = StorableText(text);
    controlKind = GetControlKind();
    if (controlKind == ControlKind::Down || controlKind == ControlKind::Up) {
        amountText = FirstDigitRun(control);
    }
}

void Trigger::SetLevel(std::int64_t value) {
    std::lock_guard guard(lock_);
    level = static_cast<std::int32_t>(std::clamp<std::int64_t>(value, kMinLevel, kMaxLevel));
}

bool Trigger::SetMatchThreshold(double value) {
    if (!std::isfinite(value)) {
        return false;  // nothing to limit a non-number to: the record keeps what it has
    }
    std::lock_guard guard(lock_);
    const double limited =
        std::clamp(value, double{kMinMatchThreshold}, double{kMaxMatchThreshold});
    matchThreshold = static_cast<float>(limited);
    return limited == value;
}

void Trigger::ClearMatchThreshold() {
    std::lock_guard guard(lock_);
    matchThreshold = kNoMatchThreshold;
}

bool Trigger::HasOwnMatchThreshold() const {
    std::lock_guard guard(lock_);
    return matchThreshold > kNoMatchThreshold;
}

ControlKind Trigger::GetControlKind() const {
    std::lock_guard guard(lock_);
    return ControlKindOf(control);
}

TriggerKind Trigger::GetTriggerKind() const {
    std::lock_guard guard(lock_);
    return TriggerKindOf(triggerKind);
}

TargetCode Trigger::GetTargetCode() const {
    std::lock_guard guard(lock_);
    const TargetCode code = TargetCodeOf(target);
    // Only a sound is heard in one program's stream; a time or level trigger that names
    // "program" (written by hand) acts on the whole output, as it would elsewhere.
    if (code == TargetCode::Program && TriggerKindOf(triggerKind) != TriggerKind::Sound) {
        return TargetCode::Whole;
    }
    return code;
}

void Trigger::SetActive(bool on) {
    std::lock_guard guard(lock_);
    active.assign(1, on ? kActiveOn : kActiveOff);
}

bool Trigger::IsActive() const {
    std::lock_guard guard(lock_);
    return IsOnText(active);
}

bool Trigger::IsSame(const Trigger& other) const {
    std::scoped_lock both(lock_, other.lock_);
    if (name != other.name || control != other.control) {
        return false;
    }
    bool same = false;
    switch (other.GetTriggerKind()) {
        case TriggerKind::Sound:
            same = duration.SameValue(other.duration) && startTime.SameValue(other.startTime) &&
                   endTime.SameValue(other.endTime) && triggerFile == other.triggerFile &&
                   target == other.target && matchThreshold == other.matchThreshold;
            break;
        case TriggerKind::Time:
            same = duration.SameValue(other.duration) && every == other.every &&
                   timeOfDay.SameValue(other.timeOfDay) && target == other.target &&
                   (!every ||
                    (startTime.SameValue(other.startTime) && endTime.SameValue(other.endTime))) &&
                   dayFlags == other.dayFlags;
            break;
        case TriggerKind::Level:
            same = duration.SameValue(other.duration) && level == other.level;
            break;
        case TriggerKind::Other:
            return false;
    }
    if (same && control.starts_with(ControlWord(ControlKind::Exec))) {
        same = command == other.command && commandArgs == other.commandArgs;
    }
    return same;
}

std::string Trigger::SelectedDayNames() const {
    std::string text;
    for (int day = 0; day < kDaysPerWeek; ++day) {
        if (dayFlags[day] == kDayOn) {
            text += kDayNames[day];
        }
    }
    return text;
}

std::string Trigger::FormatDays() {
    dayText = SelectedDayNames();
    return dayText;
}

void Trigger::ParseDays(std::string_view text) {
    for (int day = 0; day < kDaysPerWeek; ++day) {
        dayFlags[day] = text.find(kDayNames[day]) != std::string_view::npos ? kDayOn : kDayOff;
    }
}

std::string Trigger::GetLabel() const {
    if (controlKind == ControlKind::Exec) {
        const std::size_t slash = command.rfind(kPathSeparator);
        if (slash == std::string::npos || slash + 1 == command.size()) {
            return command;
        }
        return command.substr(slash + 1);
    }
    constexpr std::size_t kShortestTrimmed = 4;
    if (control.size() >= kShortestTrimmed && control[control.size() - 2] == ' ') {
        return control.substr(0, control.size() - 2);
    }
    return control;
}

}  // namespace hushwell
