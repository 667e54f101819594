#pragma once

#include <cstdint>

namespace hushwell {

// Spaces the redraws of a mouse drag: one is due when more than 50 ms have passed since the
// last, or when the last lies implausibly far in the future (the tick counter was reset).
// Owned by one widget; user-interface thread only.
class DragRedrawThrottle {
public:
    static constexpr std::uint64_t kIntervalMs = 50;
    static constexpr std::uint64_t kImplausibleFutureMs = 10'000'000;

    // True, and remembers now, when a redraw is due at nowMs.
    bool Due(std::uint64_t nowMs) {
        const bool due = nowMs > last_ + kIntervalMs || last_ > nowMs + kImplausibleFutureMs;
        if (due) {
            last_ = nowMs;
        }
        return due;
    }

private:
    std::uint64_t last_ = 0;
};

}  // namespace hushwell
