#include "detection/ThreadEngineTimers.h"

#include <gtest/gtest.h>

#include <chrono>
#include <mutex>
#include <vector>

#include "base/Event.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;

// Records the ids handed to the handler and lets the test wait for a number of calls.
class CallLog {
public:
    void Add(int id) {
        std::lock_guard lock(mutex_);
        ids_.push_back(id);
        if (ids_.size() >= wanted_) {
            reached_.Set();
        }
    }
    bool WaitForCalls(std::size_t n) {
        {
            std::lock_guard lock(mutex_);
            wanted_ = n;
            if (ids_.size() >= n) {
                return true;
            }
        }
        return reached_.Wait(10s);
    }
    std::vector<int> Ids() {
        std::lock_guard lock(mutex_);
        return ids_;
    }

private:
    std::mutex mutex_;
    std::vector<int> ids_;
    std::size_t wanted_ = SIZE_MAX;
    Event reached_{Event::Mode::ManualReset};
};

TEST(ThreadEngineTimersTest, HandlerStopsAndRestartsTimersTheWayTheEngineDoes) {
    CallLog log;
    ThreadEngineTimers* self = nullptr;
    int runs = 0;
    ThreadEngineTimers timers([&](int id) {
        // Stop at the start of the handler, restart at its end; after three runs stay stopped.
        self->Stop(id);
        log.Add(id);
        if (++runs < 3) {
            self->Start(id, 1ms);
        }
    });
    self = &timers;
    timers.Start(200, 1ms);
    ASSERT_TRUE(log.WaitForCalls(3));
    EXPECT_FALSE(timers.IsRunning(200));
    EXPECT_EQ(log.Ids(), (std::vector<int>{200, 200, 200}));
}

TEST(ThreadEngineTimersTest, PeriodicTimersKeepFiringInDueOrderUntilStopped) {
    CallLog log;
    ThreadEngineTimers timers([&](int id) { log.Add(id); });
    timers.Start(300, 1h);
    timers.Start(100, 5ms);
    ASSERT_TRUE(log.WaitForCalls(3));
    timers.Stop(100);
    for (int id : log.Ids()) {
        EXPECT_EQ(id, 100);
    }
    EXPECT_TRUE(timers.IsRunning(300));
    EXPECT_FALSE(timers.IsRunning(100));
}

}  // namespace
}  // namespace hushwell
