#pragma once

#include <QObject>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "detection/RunnerList.h"

namespace hushwell {

class DesktopNotifier;

// Carries the runner list's news to the user-interface thread: each started control is shown
// by the desktop notifier, whose "Undo" ends that control through the list, and each change of
// the running controls hands their names to onRunningChanged (the tray's tool tip). The
// runner list calls in on any thread, under its lock; the notices only post.
//
// Construction, destruction and onRunningChanged: user-interface thread. The list and the
// notifier must outlive the notices.
class ControlNotices final : public QObject, public RunnerObserver {
    Q_OBJECT
public:
    ControlNotices(RunnerList& runners, DesktopNotifier& notifier, QObject* parent = nullptr);
    // Stops listening to the list; news still posted is dropped with the object.
    ~ControlNotices() override;

    // RunnerObserver: any thread.
    void OnControlStarted(const StartedControl& started) override;
    void OnRunnersChanged() override;

    std::function<void(const std::vector<std::string>& names)> onRunningChanged;

private:
    void UpdateRunning();

    RunnerList& runners_;
    DesktopNotifier& notifier_;
    std::atomic<bool> updatePosted_{false};
};

}  // namespace hushwell
