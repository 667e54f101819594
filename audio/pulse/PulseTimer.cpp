#include "audio/pulse/PulseTimer.h"

#include <pulse/context.h>
#include <pulse/mainloop-api.h>
#include <pulse/rtclock.h>

#include <utility>

namespace hushwell {

PulseTimer::~PulseTimer() {
    if (event_ != nullptr) {
        api_->time_free(event_);
    }
}

bool PulseTimer::Arm(pa_context* context, pa_mainloop_api* api, std::chrono::microseconds delay,
                     std::function<void()> callback) {
    if (context == nullptr || api == nullptr) {
        return false;
    }
    const pa_usec_t when = pa_rtclock_now() + static_cast<pa_usec_t>(delay.count());
    callback_ = std::move(callback);
    if (event_ != nullptr) {
        pa_context_rttime_restart(context, event_, when);
    } else {
        api_ = api;
        event_ = pa_context_rttime_new(context, when, &PulseTimer::OnTime, this);
    }
    armed_ = event_ != nullptr;
    return armed_;
}

void PulseTimer::Cancel() {
    if (event_ != nullptr) {
        api_->time_free(event_);
        event_ = nullptr;
    }
    armed_ = false;
}

void PulseTimer::OnTime(pa_mainloop_api*, pa_time_event*, const struct timeval*, void* userdata) {
    auto* self = static_cast<PulseTimer*>(userdata);
    self->armed_ = false;
    // The callback may re-arm this timer, which replaces callback_: run a copy.
    std::function<void()> callback = self->callback_;
    if (callback) {
        callback();
    }
}

}  // namespace hushwell
