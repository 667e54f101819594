#pragma once

#include <cstdint>
#include <map>

#include "detection/ControlLauncher.h"

namespace hushwell {
class Clock;
}

namespace hushwell::scan {

// Stands in for the runner list: carries nothing out, but keeps for each level trigger the
// end of the control it would be running, so that a level trigger that stays above its level
// extends that control instead of firing again, as in the program.
//
// Threads: the scanning thread only.
class ReportingLauncher final : public ControlLauncher {
public:
    explicit ReportingLauncher(const Clock& clock);

    bool StartSoundControl(const Trigger& trigger, bool idle) override;
    bool StartTimeControl(const Trigger& trigger, bool idle) override;
    LevelOutcome ExtendOrStartLevelControl(const Trigger& trigger) override;
    void PostTelephoneVerdict(int verdict) override;

    int ControlsStarted() const { return started_; }
    int TelephoneVerdict() const { return verdict_; }

private:
    const Clock& clock_;
    std::map<std::uint32_t, std::uint64_t> levelControlEnds_;  // serial id -> tick
    int started_ = 0;
    int verdict_ = 0;
};

}  // namespace hushwell::scan
