#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace hushwell {

// Hours, minutes and seconds: a duration or a time of day, with the text last produced by
// Format. A plain value; the thread that owns it may call anything.
struct TriggerTime {
    // Parse result codes.
    static constexpr int kParsed = 0;
    static constexpr int kBadPartCount = 3;
    static constexpr int kNegativePart = 5;

    std::int32_t hour = 0;
    std::int32_t minute = 0;
    std::int32_t second = 0;
    std::string text;

    TriggerTime() = default;
    TriggerTime(std::int32_t h, std::int32_t m, std::int32_t s) : hour(h), minute(m), second(s) {}

    // Reads "s", "m:s" or "h:m:s" (spaces and tabs ignored, each part starting at its first
    // digit). Seconds and minutes of 60 or more carry upwards; more than 23 hours give
    // 24:00:00. With no part or more than three the value is left unchanged.
    int Parse(std::string_view input);

    // "%02d:%02d:%02d" when 0 <= hour <= 24 and minute, second are 0..59, otherwise "".
    // The result is also stored in text.
    std::string Format();
    // The same text without storing it.
    std::string Formatted() const;

    std::int64_t Seconds() const {
        return std::int64_t{hour} * 3600 + std::int64_t{minute} * 60 + second;
    }
    // Compares hour, minute and second only, never the text.
    bool SameValue(const TriggerTime& other) const {
        return hour == other.hour && minute == other.minute && second == other.second;
    }
    void Zero() { hour = minute = second = 0; }
};

}  // namespace hushwell
