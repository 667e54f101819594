#include "tools/scan/BlockClock.h"

#include "detection/DetectionStep.h"

namespace hushwell::scan {

BlockClock::BlockClock(const ManualClock& clock) : clock_(clock) {}

void BlockClock::Follow(const DetectionStep& step) {
    step_ = &step;
}

std::uint64_t BlockClock::TickMs() const {
    return step_ != nullptr ? step_->BlockTick() : clock_.TickMs();
}

LocalTime BlockClock::Now() const {
    return clock_.Now();
}

}  // namespace hushwell::scan
