#include "audio/pulse/PulseMainloop.h"

#include <pulse/thread-mainloop.h>

#include "audio/pulse/PulseTimer.h"

namespace hushwell {

PulseMainloop::PulseMainloop() : loop_(pa_threaded_mainloop_new()) {
    if (loop_ != nullptr) {
        pa_threaded_mainloop_set_name(loop_, "hushwell-pulse");
        started_ = pa_threaded_mainloop_start(loop_) >= 0;
    }
}

PulseMainloop::~PulseMainloop() {
    Stop();
    if (loop_ != nullptr) {
        pa_threaded_mainloop_free(loop_);
    }
}

void PulseMainloop::Stop() {
    if (started_) {
        pa_threaded_mainloop_stop(loop_);
        started_ = false;
    }
}

void PulseMainloop::Lock() {
    pa_threaded_mainloop_lock(loop_);
}

void PulseMainloop::Unlock() {
    pa_threaded_mainloop_unlock(loop_);
}

void PulseMainloop::Signal() {
    pa_threaded_mainloop_signal(loop_, 0);
}

bool PulseMainloop::InLoopThread() const {
    return pa_threaded_mainloop_in_thread(loop_) != 0;
}

pa_mainloop_api* PulseMainloop::Api() const {
    return pa_threaded_mainloop_get_api(loop_);
}

bool PulseMainloop::WaitUntil(pa_context* clockSource, const std::function<bool()>& done,
                              std::chrono::steady_clock::time_point deadline) {
    if (done()) {
        return true;
    }
    if (InLoopThread() || clockSource == nullptr) {
        return false;  // waiting here would stop the loop that must answer
    }
    bool timedOut = false;
    PulseTimer wake;
    const auto left =
        std::chrono::ceil<std::chrono::microseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !wake.Arm(clockSource, Api(), left, [&] {
            timedOut = true;
            Signal();
        })) {
        return done();
    }
    while (!done() && !timedOut) {
        pa_threaded_mainloop_wait(loop_);
    }
    return done();
}

}  // namespace hushwell
