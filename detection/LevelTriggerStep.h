#pragma once

#include <cstdint>

#include "base/Clock.h"

namespace hushwell {

class ControlLauncher;
class TriggerList;
class FiringSink;
class LevelMeter;

// Level triggers: a trigger fires when the smoothed output level exceeds its percentage of
// full scale. A firing holds the trigger for 200 ms; the first firing starts its control and
// is logged, and while the level stays above it later firings keep pushing that control's end
// to the present moment plus its duration.
//
// Threads: the detection thread only (WakeUp once per wake-up, Evaluate for every block).
class LevelTriggerStep {
public:
    // A firing keeps the trigger from being evaluated for this long.
    static constexpr std::uint64_t kHoldOffMs = 200;

    // firings may be null.
    LevelTriggerStep(TriggerList& triggers, ControlLauncher& launcher, FiringSink* firings);

    // Takes the local time of this wake-up, which the time windows are tested against until the
    // next one, and notes whether any level trigger's window is open at it.
    void WakeUp(const LocalTime& now);
    // Evaluates the active level triggers in list order against the level after a block, when
    // some window was open at wake-up. now: the block tick.
    void Evaluate(const LevelMeter& level, std::uint64_t now);

    bool AnyWindowOpen() const { return anyWindowOpen_; }

private:
    TriggerList& triggers_;
    ControlLauncher& launcher_;
    FiringSink* firings_;
    LocalTime wakeUpTime_;
    bool anyWindowOpen_ = false;
};

}  // namespace hushwell
