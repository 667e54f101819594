#pragma once

#include <QObject>
#include <QTimer>
#include <chrono>
#include <functional>
#include <map>
#include <memory>

#include "detection/EngineTimers.h"

namespace hushwell {

// The engine's numbered timers as one QTimer each, firing on the thread this object lives on
// (the user-interface thread), where each due id is handed to the handler.
//
// Start and Stop may be called from any thread: calls from another thread are queued to the
// object's thread and never wait.
class QtEngineTimers final : public QObject, public EngineTimers {
    Q_OBJECT
public:
    using Handler = std::function<void(int id)>;

    explicit QtEngineTimers(Handler handler, QObject* parent = nullptr);

    void Start(int id, std::chrono::milliseconds period) override;
    void Stop(int id) override;

    // --- User-interface thread ---
    bool IsRunning(int id) const;
    int PeriodMs(int id) const;
    void StopAll();

private:
    void StartHere(int id, int periodMs);
    void StopHere(int id);
    QTimer& TimerFor(int id);

    Handler handler_;
    std::map<int, std::unique_ptr<QTimer>> timers_;
};

}  // namespace hushwell
