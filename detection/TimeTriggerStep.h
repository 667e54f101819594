#pragma once

#include <cstdint>
#include <mutex>

#include "base/Clock.h"

namespace hushwell {

class ControlLauncher;
class TriggerList;
class FiringSink;

// Time triggers: every 3 seconds the engine's timer runs this step, which starts the control
// of each active time trigger that is due (inside its time window, on a selected day, not held
// off). A firing holds a repeating trigger for 61 seconds, so that its 11-second due window
// yields one firing, and a once-a-day trigger for 361 seconds. A trigger whose control is
// still held starts no second one.
//
// Threads: Run is the user-interface thread's (timer 100) and holds the time-trigger lock for
// its whole duration; any thread may take Mutex() to keep a run from overlapping its work.
class TimeTriggerStep {
public:
    static constexpr std::uint64_t kRepeatHoldOffMs = 61000;
    static constexpr std::uint64_t kOnceADayExtraHoldOffMs = 300000;

    // firings may be null.
    TimeTriggerStep(TriggerList& triggers, ControlLauncher& launcher, const Clock& clock,
                    FiringSink* firings = nullptr);

    // One run of the step. Returns the number of controls started.
    int Run();

    std::recursive_mutex& Mutex() { return lock_; }

private:
    TriggerList& triggers_;
    ControlLauncher& launcher_;
    const Clock& clock_;
    FiringSink* firings_;
    std::recursive_mutex lock_;
};

}  // namespace hushwell
