#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <cstdint>
#include <functional>
#include <unordered_map>

#include "detection/RunnerList.h"

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace hushwell {

// Says on the desktop when a control starts: one notification per started control through the
// freedesktop notification service on the session bus ("Ad jingle: muted for 00:00:30"), with
// an "Undo" action for controls whose end undoes them. Choosing "Undo" hands the control's
// runner id to onUndo. Calls are asynchronous: the user-interface thread never waits for the
// service. Where no service runs, or it goes away, the notifications are simply not shown and
// nothing else changes.
//
// User-interface thread only.
class DesktopNotifier final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kService = "org.freedesktop.Notifications";
    static constexpr const char* kPath = "/org/freedesktop/Notifications";
    static constexpr const char* kInterface = "org.freedesktop.Notifications";
    static constexpr const char* kUndoAction = "undo";
    static constexpr const char* kUndoLabel = "Undo";
    static constexpr const char* kAppName = "Hushwell";

    explicit DesktopNotifier(QDBusConnection bus, QObject* parent = nullptr);
    ~DesktopNotifier() override;

    // Off: nothing is shown (the options page's setting).
    void SetEnabled(bool on) { enabled_ = on; }
    bool Enabled() const { return enabled_; }

    // Shows the notification of a started control.
    void Show(const StartedControl& started);
    // "Ad jingle: muted for 00:00:30"; an exec control: "Ad jingle: opened notify-send".
    static QString BodyText(const StartedControl& started);

    // Called with the runner id of a control whose "Undo" the user chose.
    std::function<void(std::uint64_t runnerId)> onUndo;

    // Notifications shown whose "Undo" can still come.
    std::size_t OpenCount() const { return runnerOf_.size(); }

signals:
    // The service answered a Notify with this id (tests wait for it).
    void Shown(uint id);

private slots:
    void OnActionInvoked(uint id, const QString& action);
    void OnClosed(uint id, uint reason);

private:
    void OnNotifyReply(QDBusPendingCallWatcher* call, std::uint64_t runnerId, bool undoable);

    QDBusConnection bus_;
    QDBusServiceWatcher* serviceWatcher_ = nullptr;
    std::unordered_map<uint, std::uint64_t> runnerOf_;  // notification id -> runner id
    bool enabled_ = true;
};

}  // namespace hushwell
