#pragma once

#include "base/Clock.h"

namespace hushwell {

class Trigger;

// Whether a trigger may fire at a local time of day (only hour, minute and second are read):
//  - sound and level triggers: between their start and end time; a window that ends before
//    it starts runs across midnight; no start time, or a start without an end, means always;
//  - once-a-day time triggers: from their trigger time for 4 seconds plus the control's
//    duration (exec controls: 4 seconds only); no trigger time means always;
//  - repeating time triggers: during the first 11 seconds of each period (the trigger time)
//    counted from the start time, inside the start/end window (no start: 00:00:00 to
//    23:59:00). A period of zero or less is never due;
//  - any other kind: never.
// Takes the trigger's own lock for its whole duration; any thread.
bool IsInTimeWindow(const Trigger& trigger, const LocalTime& now);

// The day of the week as the day flags count it: Monday = 0 .. Sunday = 6.
int DayIndex(const LocalTime& now);

}  // namespace hushwell
