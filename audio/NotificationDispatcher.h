#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace hushwell {

// The audio layer's notification thread: runs posted notifications one at a time, in the
// order they were posted, away from the threads that detected them (the sound server's event
// loop must never wait for a listener, and a listener may call back into the layer).
//
// Listeners are looked up when a task runs, not when it is posted, so a listener that has
// been removed from its list and then waited out with WaitForRunningTask is never called
// again.
//
// Threads: every method may be called from any thread.
class NotificationDispatcher {
public:
    NotificationDispatcher();
    // Drops tasks not yet started and joins the thread (when called on the thread itself, as
    // the last owner let go inside a task, the thread is left to end on its own).
    ~NotificationDispatcher();
    NotificationDispatcher(const NotificationDispatcher&) = delete;
    NotificationDispatcher& operator=(const NotificationDispatcher&) = delete;

    void Post(std::function<void()> task);

    // Returns once the task running at the time of the call (if any) has finished; at once
    // when called on the notification thread itself.
    void WaitForRunningTask();

    // Waits until every task posted so far has run; false on time-out or when called on the
    // notification thread. For tests and orderly shutdown.
    bool WaitUntilIdle(std::chrono::milliseconds timeout);

    bool IsNotificationThread() const;

private:
    // Shared with the thread, so that the thread outlives this object safely when the object
    // is destroyed from inside a task.
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<std::function<void()>> tasks;
        std::uint64_t started = 0;   // tasks taken from the queue
        std::uint64_t finished = 0;  // tasks that have returned
        bool running = false;        // a task is running now
        bool quit = false;
    };

    static void Run(std::shared_ptr<State> state);

    std::shared_ptr<State> state_;
    std::thread thread_;
};

}  // namespace hushwell
