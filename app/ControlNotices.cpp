#include "app/ControlNotices.h"

#include <QMetaObject>

#include "app/DesktopNotifier.h"

namespace hushwell {

ControlNotices::ControlNotices(RunnerList& runners, DesktopNotifier& notifier, QObject* parent)
    : QObject(parent), runners_(runners), notifier_(notifier) {
    notifier_.onUndo = [this](std::uint64_t runnerId) { runners_.EndRunner(runnerId); };
    runners_.SetObserver(this);
}

ControlNotices::~ControlNotices() {
    runners_.SetObserver(nullptr);
    notifier_.onUndo = nullptr;
}

void ControlNotices::OnControlStarted(const StartedControl& started) {
    QMetaObject::invokeMethod(
        this, [this, started] { notifier_.Show(started); }, Qt::QueuedConnection);
}

// A burst of changes is one update.
void ControlNotices::OnRunnersChanged() {
    if (!updatePosted_.exchange(true)) {
        QMetaObject::invokeMethod(this, &ControlNotices::UpdateRunning, Qt::QueuedConnection);
    }
}

void ControlNotices::UpdateRunning() {
    updatePosted_.store(false);
    if (onRunningChanged) {
        onRunningChanged(runners_.RunningNames());
    }
}

}  // namespace hushwell
