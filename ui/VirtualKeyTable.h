#pragma once

#include <span>
#include <string_view>

namespace hushwell {

// One key offered for a global hotkey: its virtual-key code (as the configuration file keeps
// it) and the name shown for it.
struct VirtualKey {
    int code;
    std::string_view name;
};

// The keys offered for hotkeys, in the order they are listed. Immutable; any thread.
class VirtualKeyTable {
public:
    static constexpr int kKeyCount = 69;

    // Runs of consecutive virtual-key codes: digits, letters, numeric-pad digits, F1..F12.
    static constexpr int kDigit0 = 48;
    static constexpr int kDigit9 = 57;
    static constexpr int kLetterA = 65;
    static constexpr int kLetterZ = 90;
    static constexpr int kNumPad0 = 96;
    static constexpr int kNumPad9 = 105;
    static constexpr int kF1 = 112;
    static constexpr int kF12 = 123;

    static std::span<const VirtualKey> Keys();
    // The name of a code in the table; empty for a code outside it.
    static std::string_view NameOf(int code);
    // Digits, letters and numeric-pad digits: keys whose meaning changes with Shift, so they
    // are not offered when Shift is among a hotkey's modifiers.
    static bool ChangesWithShift(int code);
};

}  // namespace hushwell
