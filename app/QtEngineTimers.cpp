#include "app/QtEngineTimers.h"

#include <QThread>

namespace hushwell {

QtEngineTimers::QtEngineTimers(Handler handler, QObject* parent)
    : QObject(parent), handler_(std::move(handler)) {}

void QtEngineTimers::Start(int id, std::chrono::milliseconds period) {
    const int periodMs = static_cast<int>(period.count());
    if (QThread::currentThread() == thread()) {
        StartHere(id, periodMs);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, id, periodMs] { StartHere(id, periodMs); }, Qt::QueuedConnection);
}

void QtEngineTimers::Stop(int id) {
    if (QThread::currentThread() == thread()) {
        StopHere(id);
        return;
    }
    QMetaObject::invokeMethod(
        this, [this, id] { StopHere(id); }, Qt::QueuedConnection);
}

bool QtEngineTimers::IsRunning(int id) const {
    const auto found = timers_.find(id);
    return found != timers_.end() && found->second->isActive();
}

int QtEngineTimers::PeriodMs(int id) const {
    const auto found = timers_.find(id);
    return found != timers_.end() ? found->second->interval() : 0;
}

void QtEngineTimers::StopAll() {
    for (auto& [id, timer] : timers_) {
        timer->stop();
    }
}

void QtEngineTimers::StartHere(int id, int periodMs) {
    TimerFor(id).start(periodMs);
}

void QtEngineTimers::StopHere(int id) {
    const auto found = timers_.find(id);
    if (found != timers_.end()) {
        found->second->stop();
    }
}

QTimer& QtEngineTimers::TimerFor(int id) {
    std::unique_ptr<QTimer>& timer = timers_[id];
    if (!timer) {
        timer = std::make_unique<QTimer>();
        connect(timer.get(), &QTimer::timeout, this, [this, id] {
            if (handler_) {
                handler_(id);
            }
        });
    }
    return *timer;
}

}  // namespace hushwell
