#pragma once

#include <chrono>
#include <functional>

struct pa_context;
struct pa_mainloop_api;
struct pa_threaded_mainloop;

namespace hushwell {

// Owns libpulse's threaded main loop: the one thread on which every callback of the
// PulseAudio backend runs, and the lock under which every pa_ call is made.
//
// Threads: Lock/Unlock/Signal from any thread (the lock is recursive). WaitUntil only with the
// lock held and never on the loop thread. Stop and the destructor without the lock, never on
// the loop thread.
class PulseMainloop {
public:
    PulseMainloop();
    ~PulseMainloop();
    PulseMainloop(const PulseMainloop&) = delete;
    PulseMainloop& operator=(const PulseMainloop&) = delete;

    // False when libpulse could not make or start the loop; nothing else works then.
    bool Valid() const { return loop_ != nullptr && started_; }
    void Stop();

    void Lock();
    void Unlock();
    // Wakes every thread in WaitUntil so that it checks its condition again.
    void Signal();
    bool InLoopThread() const;
    pa_mainloop_api* Api() const;

    // Waits, releasing the lock meanwhile, until `done` holds or the deadline passes (a timer
    // on `clockSource`'s loop wakes the wait then). Returns done().
    bool WaitUntil(pa_context* clockSource, const std::function<bool()>& done,
                   std::chrono::steady_clock::time_point deadline);

private:
    pa_threaded_mainloop* loop_ = nullptr;
    bool started_ = false;
};

// Holds the main loop's lock for a scope. Threads: any thread.
class PulseLock {
public:
    explicit PulseLock(PulseMainloop& loop) : loop_(loop) { loop_.Lock(); }
    ~PulseLock() { loop_.Unlock(); }
    PulseLock(const PulseLock&) = delete;
    PulseLock& operator=(const PulseLock&) = delete;

private:
    PulseMainloop& loop_;
};

}  // namespace hushwell
