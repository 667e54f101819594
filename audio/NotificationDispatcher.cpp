#include "audio/NotificationDispatcher.h"

#include <utility>

#include "audio/ThreadName.h"

namespace hushwell {

NotificationDispatcher::NotificationDispatcher()
    : state_(std::make_shared<State>()), thread_(Run, state_) {}

NotificationDispatcher::~NotificationDispatcher() {
    {
        std::lock_guard lock(state_->mutex);
        state_->quit = true;
        state_->tasks.clear();
    }
    state_->changed.notify_all();
    if (IsNotificationThread()) {
        thread_.detach();
        return;
    }
    thread_.join();
}

void NotificationDispatcher::Post(std::function<void()> task) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->quit) {
            return;
        }
        state_->tasks.push_back(std::move(task));
    }
    state_->changed.notify_all();
}

void NotificationDispatcher::WaitForRunningTask() {
    if (IsNotificationThread()) {
        return;
    }
    std::unique_lock lock(state_->mutex);
    if (!state_->running) {
        return;
    }
    const std::uint64_t current = state_->started;
    state_->changed.wait(lock, [&] { return state_->finished >= current; });
}

bool NotificationDispatcher::WaitUntilIdle(std::chrono::milliseconds timeout) {
    if (IsNotificationThread()) {
        return false;
    }
    std::unique_lock lock(state_->mutex);
    return state_->changed.wait_for(lock, timeout,
                                    [&] { return state_->tasks.empty() && !state_->running; });
}

bool NotificationDispatcher::IsNotificationThread() const {
    return std::this_thread::get_id() == thread_.get_id();
}

void NotificationDispatcher::Run(std::shared_ptr<State> state) {
    NameThisThread("notifications");
    std::unique_lock lock(state->mutex);
    for (;;) {
        state->changed.wait(lock, [&] { return state->quit || !state->tasks.empty(); });
        if (state->quit) {
            return;
        }
        std::function<void()> task = std::move(state->tasks.front());
        state->tasks.pop_front();
        ++state->started;
        state->running = true;
        lock.unlock();
        task();
        // Whatever the task captured is released before the state is locked again.
        task = nullptr;
        lock.lock();
        state->running = false;
        ++state->finished;
        state->changed.notify_all();
    }
}

}  // namespace hushwell
