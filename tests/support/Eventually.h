#pragma once

#include <chrono>
#include <thread>

namespace hushwell::testing {

// The deadline tests give another thread to make something true: generous, because the
// machines that run the tests are shared and slow at times; a passing test never waits it out.
inline constexpr std::chrono::milliseconds kGenerousDeadline{20000};

// Waits until `condition` holds, checking every millisecond; false at the deadline.
template <typename Condition>
bool Eventually(Condition condition, std::chrono::milliseconds deadline = kGenerousDeadline) {
    const auto end = std::chrono::steady_clock::now() + deadline;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// True when `condition` stays true for a short while: catches a thread that acts too early,
// which it would do within a few milliseconds of being woken.
template <typename Condition>
bool HoldsFor(Condition condition,
              std::chrono::milliseconds span = std::chrono::milliseconds(150)) {
    const auto end = std::chrono::steady_clock::now() + span;
    while (std::chrono::steady_clock::now() < end) {
        if (!condition()) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return condition();
}

}  // namespace hushwell::testing
