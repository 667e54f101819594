#include "triggers/TriggerTime.h"

#include <cstdio>
#include <limits>
#include <vector>

namespace hushwell {

namespace {

constexpr int kMaxParts = 3;
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kMinutesPerHour = 60;
constexpr std::int64_t kLastHour = 23;
constexpr std::int32_t kFullDayHours = 24;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// The run of digits at the start of a part, saturated at the 32-bit maximum.
std::int64_t LeadingNumber(std::string_view part) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    std::int64_t value = 0;
    for (char c : part) {
        if (!IsDigit(c)) {
            break;
        }
        value = value * 10 + (c - '0');
        if (value > kMax) {
            return kMax;
        }
    }
    return value;
}

std::string WithoutBlanks(std::string_view input) {
    std::string out;
    out.reserve(input.size());
    for (char c : input) {
        if (c != ' ' && c != '\t') {
            out.push_back(c);
        }
    }
    return out;
}

// Each part starts at the first digit from the current position and runs to the next ':'
// after it; the search for the next part starts at that ':'. Collects at most one part more
// than allowed, which is enough to reject the text.
std::vector<std::string_view> SplitParts(std::string_view text) {
    std::vector<std::string_view> parts;
    std::size_t pos = 0;
    while (parts.size() <= static_cast<std::size_t>(kMaxParts)) {
        std::size_t first = pos;
        while (first < text.size() && !IsDigit(text[first])) {
            ++first;
        }
        if (first >= text.size()) {
            break;
        }
        const std::size_t colon = text.find(':', first);
        parts.push_back(text.substr(
            first, colon == std::string_view::npos ? std::string_view::npos : colon - first));
        if (colon == std::string_view::npos) {
            break;
        }
        pos = colon;
    }
    return parts;
}

}  // namespace

int TriggerTime::Parse(std::string_view input) {
    const std::string text = WithoutBlanks(input);
    const std::vector<std::string_view> parts = SplitParts(text);
    if (parts.empty() || parts.size() > static_cast<std::size_t>(kMaxParts)) {
        return kBadPartCount;
    }
    std::int64_t values[kMaxParts] = {0, 0, 0};  // hours, minutes, seconds
    const std::size_t offset = kMaxParts - parts.size();
    for (std::size_t i = 0; i < parts.size(); ++i) {
        values[offset + i] = LeadingNumber(parts[i]);
        if (values[offset + i] < 0) {
            return kNegativePart;
        }
    }
    std::int64_t hours = values[0];
    std::int64_t minutes = values[1];
    std::int64_t seconds = values[2];
    minutes += seconds / kSecondsPerMinute;
    seconds %= kSecondsPerMinute;
    hours += minutes / kMinutesPerHour;
    minutes %= kMinutesPerHour;
    if (hours > kLastHour) {
        hours = kFullDayHours;
        minutes = 0;
        seconds = 0;
    }
    hour = static_cast<std::int32_t>(hours);
    minute = static_cast<std::int32_t>(minutes);
    second = static_cast<std::int32_t>(seconds);
    return kParsed;
}

std::string TriggerTime::Formatted() const {
    const bool inRange = hour >= 0 && hour <= kFullDayHours && minute >= 0 && minute <= 59 &&
                         second >= 0 && second <= 59;
    if (!inRange) {
        return {};
    }
    char buffer[40];
    std::snprintf(buffer, sizeof buffer, "%02d:%02d:%02d", hour, minute, second);
    return buffer;
}

std::string TriggerTime::Format() {
    text = Formatted();
    return text;
}

}  // namespace hushwell
