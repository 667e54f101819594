#pragma once

#include <string>

#include "base/Clock.h"

namespace hushwell {

// The date orders a time stamp can be written in (the options page's filenameFormatType).
inline constexpr int kTimeStampMonthDayYear = 0;
inline constexpr int kTimeStampDayMonthYear = 1;
inline constexpr int kTimeStampYearMonthDay = 2;

// A date and time stamp: the three two-digit date fields in the order of `formatType`
// (years counted from 2000, months 1 to 12), "_", then hour, minute and second, separated by
// ":" when `withSeparators` is asked for. 5 December 2026, 14:03:09 in year-month-day order
// gives "261205_140309", or "261205_14:03:09" with separators. A type outside 0 to 2 gives an
// empty text. Recording file names use it without separators.
//
// Threads: any thread.
std::string FormatTimeStamp(int formatType, bool withSeparators, const LocalTime& time);
// The same for the clock's local time now.
std::string FormatTimeStamp(int formatType, bool withSeparators,
                            const Clock& clock = SystemClock::Instance());

}  // namespace hushwell
