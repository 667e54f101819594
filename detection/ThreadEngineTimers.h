#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "detection/EngineTimers.h"

namespace hushwell {

// EngineTimers on one thread of its own, standing in for a window's message loop: every due
// timer's id is handed to the handler on that thread, one call at a time, in the order the
// timers fall due. A handler may stop and start timers (its own included). Periods are
// measured on the steady clock.
//
// Threads: Start, Stop and SetHandler from any thread, the handler's own included. The
// destructor (not from the handler) stops the thread after a handler call in progress.
class ThreadEngineTimers final : public EngineTimers {
public:
    using Handler = std::function<void(int id)>;

    explicit ThreadEngineTimers(Handler handler = {});
    ~ThreadEngineTimers() override;
    ThreadEngineTimers(const ThreadEngineTimers&) = delete;
    ThreadEngineTimers& operator=(const ThreadEngineTimers&) = delete;

    // Replaces the handler; ids that fall due without one are dropped.
    void SetHandler(Handler handler);

    void Start(int id, std::chrono::milliseconds period) override;
    void Stop(int id) override;

    // Whether timer id is running (for tests and diagnostics).
    bool IsRunning(int id) const;

private:
    using SteadyClock = std::chrono::steady_clock;

    struct Timer {
        std::chrono::milliseconds period{0};
        SteadyClock::time_point due;
    };

    void Run();
    // The id of a timer that is due, or false; waits until one is or the thread is to end.
    bool NextDue(std::unique_lock<std::mutex>& lock, int& id);

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int, Timer> timers_;
    Handler handler_;
    bool quit_ = false;
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace hushwell
