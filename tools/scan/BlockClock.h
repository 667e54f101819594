#pragma once

#include <cstdint>

#include "base/Clock.h"

namespace hushwell {
class DetectionStep;
}

namespace hushwell::scan {

// The clock the scan's reports and its stand-in launcher read while the detection step
// decides a block: the tick of that block, as the program's clock would show it then, and the
// local time of the simulated clock. Before it follows a step, the simulated clock's tick.
//
// Threads: the scanning thread only.
class BlockClock final : public Clock {
public:
    explicit BlockClock(const ManualClock& clock);

    void Follow(const DetectionStep& step);
    std::uint64_t TickMs() const override;
    LocalTime Now() const override;

private:
    const ManualClock& clock_;
    const DetectionStep* step_ = nullptr;
};

}  // namespace hushwell::scan
