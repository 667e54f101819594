#include "detection/ThreadEngineTimers.h"

#include <algorithm>
#include <utility>

namespace hushwell {

namespace {

// A zero period would keep the thread spinning on one timer.
constexpr std::chrono::milliseconds kShortestPeriod{1};

}  // namespace

ThreadEngineTimers::ThreadEngineTimers(Handler handler)
    : handler_(std::move(handler)), thread_([this] { Run(); }) {}

ThreadEngineTimers::~ThreadEngineTimers() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void ThreadEngineTimers::SetHandler(Handler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void ThreadEngineTimers::Start(int id, std::chrono::milliseconds period) {
    {
        std::lock_guard lock(mutex_);
        const auto clamped = std::max(period, kShortestPeriod);
        timers_[id] = Timer{clamped, SteadyClock::now() + clamped};
    }
    changed_.notify_all();
}

void ThreadEngineTimers::Stop(int id) {
    std::lock_guard lock(mutex_);
    timers_.erase(id);
}

bool ThreadEngineTimers::IsRunning(int id) const {
    std::lock_guard lock(mutex_);
    return timers_.contains(id);
}

bool ThreadEngineTimers::NextDue(std::unique_lock<std::mutex>& lock, int& id) {
    while (!quit_) {
        auto earliest = std::min_element(timers_.begin(), timers_.end(), [](auto& a, auto& b) {
            return a.second.due < b.second.due;
        });
        if (earliest == timers_.end()) {
            changed_.wait(lock);
            continue;
        }
        const auto now = SteadyClock::now();
        // A copy: the timer may be stopped (its entry erased) while this thread waits.
        const SteadyClock::time_point due = earliest->second.due;
        if (due > now) {
            changed_.wait_until(lock, due);
            continue;
        }
        // A periodic timer: the next call one period after this one falls due.
        id = earliest->first;
        earliest->second.due = now + earliest->second.period;
        return true;
    }
    return false;
}

void ThreadEngineTimers::Run() {
    std::unique_lock lock(mutex_);
    int id = 0;
    while (NextDue(lock, id)) {
        Handler handler = handler_;
        lock.unlock();
        if (handler) {
            handler(id);
        }
        lock.lock();
    }
}

}  // namespace hushwell
