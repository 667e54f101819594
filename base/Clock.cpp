#include "base/Clock.h"

#include <chrono>
#include <ctime>

namespace hushwell {

std::uint64_t SystemClock::TickMs() const {
    using namespace std::chrono;
    return static_cast<std::uint64_t>(
        duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

LocalTime SystemClock::Now() const {
    std::time_t now = std::time(nullptr);
    std::tm tm{};
    localtime_r(&now, &tm);
    return LocalTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour,
                     tm.tm_min,         tm.tm_sec,     tm.tm_wday};
}

SystemClock& SystemClock::Instance() {
    static SystemClock clock;
    return clock;
}

ManualClock::ManualClock(std::uint64_t startTickMs, LocalTime start)
    : tick_(startTickMs), localOriginTick_(startTickMs), localOrigin_(start) {}

std::uint64_t ManualClock::TickMs() const {
    std::lock_guard lock(mutex_);
    return tick_;
}

LocalTime ManualClock::Now() const {
    std::lock_guard lock(mutex_);
    auto elapsed = static_cast<std::int64_t>((tick_ - localOriginTick_) / 1000);
    return AddSeconds(localOrigin_, elapsed);
}

void ManualClock::AdvanceMs(std::uint64_t ms) {
    std::lock_guard lock(mutex_);
    tick_ += ms;
}

void ManualClock::SetLocalTime(const LocalTime& t) {
    std::lock_guard lock(mutex_);
    localOrigin_ = t;
    localOriginTick_ = tick_;
}

LocalTime AddSeconds(const LocalTime& t, std::int64_t seconds) {
    // timegm/gmtime_r on the broken-down fields do the calendar arithmetic without any
    // time zone getting in the way.
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    std::time_t base = timegm(&tm) + static_cast<std::time_t>(seconds);
    std::tm out{};
    gmtime_r(&base, &out);
    return LocalTime{out.tm_year + 1900, out.tm_mon + 1, out.tm_mday, out.tm_hour,
                     out.tm_min,         out.tm_sec,     out.tm_wday};
}

}  // namespace hushwell
