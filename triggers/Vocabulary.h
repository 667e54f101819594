#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace hushwell {

// The fixed words of the trigger vocabulary. A word's position in its table is its code;
// a text is classified by the word standing at its very start (case-sensitive).
// All of this is constant data and pure functions: any thread may call them.

enum class ControlKind : std::int32_t {
    Undefined = 0,
    Mute = 1,
    Unmute = 2,
    Down = 3,
    Up = 4,
    Exec = 5,
};

enum class TriggerKind : std::int32_t {
    Sound = 0,
    Time = 1,
    Level = 2,
    Other = 999,
};

enum class TargetCode : std::int32_t {
    Whole = 0,
    Telephone = 1,
    Program = 2,  // sound triggers only: the one program whose own stream carried the sound
};

inline constexpr std::array<std::string_view, 6> kControlWords = {"undefined", "mute", "unmute",
                                                                  "down",      "up",   "exec"};
inline constexpr std::array<std::string_view, 3> kTriggerKindWords = {"sound", "time", "level"};
inline constexpr std::array<std::string_view, 3> kTargetWords = {"whole", "telephone", "program"};

// Day names, Monday first (index 0 = Monday).
inline constexpr int kDaysPerWeek = 7;
inline constexpr std::array<std::string_view, kDaysPerWeek> kDayNames = {"MON", "TUE", "WED", "THU",
                                                                         "FRI", "SAT", "SUN"};

// The word of a code; "undefined" for a control kind outside the table, "" for TriggerKind::Other.
std::string_view ControlWord(ControlKind kind);
std::string_view TriggerKindWord(TriggerKind kind);
std::string_view TargetWord(TargetCode code);

// Classification of a text by the word at its start. "unmute" is not taken for "mute":
// the control words are tried in the order mute, unmute, down, up, exec. A target text that
// starts with none of the target words is "whole".
ControlKind ControlKindOf(std::string_view text);
TriggerKind TriggerKindOf(std::string_view text);
TargetCode TargetCodeOf(std::string_view text);

// A checked state text ("v", "_", " ", "") counts as on when it begins with "v".
bool IsOnText(std::string_view text);

}  // namespace hushwell
