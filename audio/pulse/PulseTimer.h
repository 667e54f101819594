#pragma once

#include <chrono>
#include <functional>

struct pa_context;
struct pa_mainloop_api;
struct pa_time_event;
struct timeval;

namespace hushwell {

// A one-shot timer on the PulseAudio main loop (a pa_time_event on the monotonic clock). The
// callback runs on the loop thread with the lock held; it may re-arm the timer.
//
// Threads: Arm, Cancel and the destructor with the main loop's lock held (or on the loop
// thread). Not movable: libpulse keeps a pointer to it.
class PulseTimer {
public:
    PulseTimer() = default;
    ~PulseTimer();
    PulseTimer(const PulseTimer&) = delete;
    PulseTimer& operator=(const PulseTimer&) = delete;

    // Fires `callback` once after `delay`, replacing an earlier arming. `context` only lends
    // its main loop (any context of the loop will do). False when libpulse refused.
    bool Arm(pa_context* context, pa_mainloop_api* api, std::chrono::microseconds delay,
             std::function<void()> callback);
    void Cancel();
    bool Armed() const { return armed_; }

private:
    static void OnTime(pa_mainloop_api* api, pa_time_event* event, const struct timeval* tv,
                       void* userdata);

    pa_mainloop_api* api_ = nullptr;
    pa_time_event* event_ = nullptr;
    std::function<void()> callback_;
    bool armed_ = false;
};

}  // namespace hushwell
