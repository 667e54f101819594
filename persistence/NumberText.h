#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace hushwell {

// Reading numbers out of attribute texts. Values beyond the 32-bit range saturate at its
// ends instead of overflowing. Pure functions; any thread.

// The leading decimal integer after optional white space and sign; 0 when there is none.
std::int32_t LeadingInteger(std::string_view text);

// True when the text's leading integer exists and lies in [low, high].
bool LeadingIntegerInRange(std::string_view text, std::int32_t low, std::int32_t high);

// The first maxCount runs of decimal digits, each read as a non-negative integer; any other
// character separates them.
std::vector<std::int32_t> DigitRuns(std::string_view text, std::size_t maxCount);

}  // namespace hushwell
