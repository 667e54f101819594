#pragma once

#include <QMetaObject>
#include <QObject>
#include <memory>
#include <thread>
#include <utility>

namespace hushwell {

// Runs one piece of slow work (file reading and writing, converting a recording) on a thread
// of its own and hands its result back to the user-interface thread, so the window never waits
// for it. One piece at a time: Run refuses while the last result has not been handed back.
//
// User-interface thread only (the work itself runs on the worker thread and must touch nothing
// the user-interface thread uses). The destructor waits for work in progress; a result that
// arrives after the receiver is gone is dropped.
class UiWorker {
public:
    explicit UiWorker(QObject* receiver) : receiver_(receiver) {}
    ~UiWorker() {
        if (thread_.joinable()) {
            thread_.join();
        }
    }
    UiWorker(const UiWorker&) = delete;
    UiWorker& operator=(const UiWorker&) = delete;

    bool Busy() const { return busy_; }

    // work() runs on the worker thread; done(result) then runs on the receiver's thread.
    template <typename Work, typename Done>
    bool Run(Work work, Done done) {
        if (busy_) {
            return false;
        }
        if (thread_.joinable()) {
            thread_.join();  // the last worker has already handed back its result
        }
        busy_ = true;
        // The receiver owns this worker, so it outlives the thread; a queued call to a receiver
        // destroyed meanwhile is discarded by Qt.
        thread_ = std::thread([this, work = std::move(work), done = std::move(done)]() mutable {
            auto result = std::make_shared<decltype(work())>(work());
            QMetaObject::invokeMethod(
                receiver_,
                [this, result, done = std::move(done)]() mutable {
                    busy_ = false;
                    done(std::move(*result));
                },
                Qt::QueuedConnection);
        });
        return true;
    }

private:
    QObject* const receiver_;
    bool busy_ = false;
    std::thread thread_;
};

}  // namespace hushwell
