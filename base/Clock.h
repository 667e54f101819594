#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

namespace hushwell {

// A broken-down local time. weekday counts from Sunday = 0 as in struct tm.
struct LocalTime {
    int year = 1970;
    int month = 1;  // 1..12
    int day = 1;    // 1..31
    int hour = 0;
    int minute = 0;
    int second = 0;
    int weekday = 4;  // 0 = Sunday .. 6 = Saturday
};

// The two clocks the program reads: a millisecond tick counter that never goes back, and
// the local time of day. Injected so that detection and the trigger steps can run faster
// than real time on files in tests, benchmarks and tools. Any thread may read a clock.
class Clock {
public:
    virtual ~Clock() = default;
    virtual std::uint64_t TickMs() const = 0;
    virtual LocalTime Now() const = 0;
};

// The real clocks: steady_clock milliseconds and the runtime's local time.
class SystemClock final : public Clock {
public:
    std::uint64_t TickMs() const override;
    LocalTime Now() const override;
    static SystemClock& Instance();
};

// A clock that moves only when told to; local time advances with the tick.
class ManualClock final : public Clock {
public:
    explicit ManualClock(std::uint64_t startTickMs = 1000000, LocalTime start = {});
    std::uint64_t TickMs() const override;
    LocalTime Now() const override;
    void AdvanceMs(std::uint64_t ms);
    void SetLocalTime(const LocalTime& t);

private:
    mutable std::mutex mutex_;
    std::uint64_t tick_;
    std::uint64_t localOriginTick_;
    LocalTime localOrigin_;
};

// Adds whole seconds to a local time with calendar carry (days, months, years, weekday).
LocalTime AddSeconds(const LocalTime& t, std::int64_t seconds);

}  // namespace hushwell
