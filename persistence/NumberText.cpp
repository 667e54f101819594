#include "persistence/NumberText.h"

#include <algorithm>
#include <limits>
#include <optional>

namespace hushwell {

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Digits from pos on, saturated at kMax + 1 so the sign can still reach kMin.
std::int64_t DigitValue(std::string_view text, std::size_t& pos) {
    std::int64_t value = 0;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        value = std::min(value * 10 + (text[pos] - '0'), kMax + 1);
    }
    return value;
}

std::optional<std::int32_t> ParseLeading(std::string_view text) {
    std::size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos])) {
        ++pos;
    }
    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    if (pos >= text.size() || !IsDigit(text[pos])) {
        return std::nullopt;
    }
    const std::int64_t magnitude = DigitValue(text, pos);
    const std::int64_t value = negative ? -magnitude : magnitude;
    return static_cast<std::int32_t>(std::clamp(value, kMin, kMax));
}

}  // namespace

std::int32_t LeadingInteger(std::string_view text) {
    return ParseLeading(text).value_or(0);
}

bool LeadingIntegerInRange(std::string_view text, std::int32_t low, std::int32_t high) {
    const std::optional<std::int32_t> value = ParseLeading(text);
    return value && *value >= low && *value <= high;
}

std::vector<std::int32_t> DigitRuns(std::string_view text, std::size_t maxCount) {
    std::vector<std::int32_t> runs;
    std::size_t pos = 0;
    while (runs.size() < maxCount && pos < text.size()) {
        if (!IsDigit(text[pos])) {
            ++pos;
            continue;
        }
        runs.push_back(static_cast<std::int32_t>(std::min(DigitValue(text, pos), kMax)));
    }
    return runs;
}

}  // namespace hushwell
