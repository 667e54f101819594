#include "base/FormatTimeStamp.h"

#include <array>
#include <cstdio>

namespace hushwell {

namespace {

constexpr int kYearBase = 2000;

}  // namespace

std::string FormatTimeStamp(int formatType, bool withSeparators, const LocalTime& time) {
    const int year = time.year - kYearBase;
    std::array<int, 3> date{};
    switch (formatType) {
        case kTimeStampMonthDayYear:
            date = {time.month, time.day, year};
            break;
        case kTimeStampDayMonthYear:
            date = {time.day, time.month, year};
            break;
        case kTimeStampYearMonthDay:
            date = {year, time.month, time.day};
            break;
        default:
            return {};
    }
    const char* separator = withSeparators ? ":" : "";
    std::array<char, 96> text{};
    const int length =
        std::snprintf(text.data(), text.size(), "%02d%02d%02d_%02d%s%02d%s%02d", date[0], date[1],
                      date[2], time.hour, separator, time.minute, separator, time.second);
    if (length < 0) {
        return {};
    }
    return std::string(text.data());
}

std::string FormatTimeStamp(int formatType, bool withSeparators, const Clock& clock) {
    return FormatTimeStamp(formatType, withSeparators, clock.Now());
}

}  // namespace hushwell
