#include "detection/TimeWindow.h"

#include <cstdint>
#include <mutex>

#include "triggers/Trigger.h"

namespace hushwell {

namespace {

using Seconds = std::int64_t;

constexpr Seconds kDay = 86400;
// Bounds of a window that is always open.
constexpr Seconds kAlwaysFrom = -1;
constexpr Seconds kOpenEnd = 360000;
// End of the day for repeating time triggers without a start time (23:59:00).
constexpr Seconds kRepeatDayEnd = 86340;
// A once-a-day time trigger stays due for this long after its time (plus its duration).
constexpr Seconds kOnceGrace = 4;
// A repeating time trigger is due for the first 11 seconds of each period.
constexpr Seconds kRepeatGrace = 10;

bool IsSet(const TriggerTime& t) {
    return t.hour >= 0;
}

Seconds SecondsOfDay(const LocalTime& t) {
    return Seconds{t.hour} * 3600 + Seconds{t.minute} * 60 + t.second;
}

// True when now lies in [lo, hi], also when the window has run past midnight.
bool Inside(Seconds lo, Seconds hi, Seconds now) {
    return (lo <= now && now <= hi) || (lo <= now + kDay && now + kDay <= hi);
}

bool SoundOrLevelWindow(const Trigger& t, Seconds start, Seconds end, Seconds now) {
    if (!IsSet(t.startTime)) {
        return Inside(kAlwaysFrom, kOpenEnd, now);
    }
    Seconds lo = start;
    Seconds hi = IsSet(t.endTime) ? end : kOpenEnd;
    if (lo < 0) {
        lo += kDay;
        hi += kDay;
    }
    return Inside(lo, hi, now);
}

bool OnceADayWindow(const Trigger& t, Seconds now) {
    if (!IsSet(t.timeOfDay)) {
        return Inside(kAlwaysFrom, kOpenEnd, now);
    }
    const Seconds lo = t.timeOfDay.Seconds();
    Seconds hi = lo + kOnceGrace;
    if (t.GetControlKind() != ControlKind::Exec) {
        hi += t.duration.Seconds();
    }
    return Inside(lo, hi, now);
}

bool RepeatingWindow(const Trigger& t, Seconds start, Seconds end, Seconds now) {
    const Seconds period = t.timeOfDay.Seconds();
    if (period <= 0) {
        return false;  // no period to count: never due
    }
    Seconds lo = 0;
    Seconds hi = kRepeatDayEnd;
    if (IsSet(t.startTime)) {
        lo = start;
        hi = IsSet(t.endTime) ? end : kOpenEnd;
    }
    if (lo <= now && now <= hi) {
        return (now - lo) % period <= kRepeatGrace;
    }
    if (lo <= now + kDay && now + kDay <= hi) {
        return (now + kDay - lo) % period <= kRepeatGrace;
    }
    return false;
}

}  // namespace

bool IsInTimeWindow(const Trigger& trigger, const LocalTime& localTime) {
    std::lock_guard lock(trigger.Mutex());
    const Seconds now = SecondsOfDay(localTime);
    const Seconds start = trigger.startTime.Seconds();
    Seconds end = trigger.endTime.Seconds();
    if (start >= end) {
        end += kDay;
    }
    switch (trigger.GetTriggerKind()) {
        case TriggerKind::Sound:
        case TriggerKind::Level:
            return SoundOrLevelWindow(trigger, start, end, now);
        case TriggerKind::Time:
            return trigger.every ? RepeatingWindow(trigger, start, end, now)
                                 : OnceADayWindow(trigger, now);
        default:
            return false;
    }
}

int DayIndex(const LocalTime& now) {
    constexpr int kSundayToMonday = 6;  // Sunday = 0 in the local time, Monday = 0 here
    return ((now.weekday % kDaysPerWeek) + kSundayToMonday) % kDaysPerWeek;
}

}  // namespace hushwell
