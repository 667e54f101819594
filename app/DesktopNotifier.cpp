#include "app/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QStringList>
#include <QVariantMap>

#include "triggers/TriggerTime.h"
#include "triggers/Vocabulary.h"

namespace hushwell {

namespace {

constexpr const char* kIconName = "hushwell";
constexpr const char* kDesktopEntry = "hushwell";
// Let the service decide how long the notification stays.
constexpr int kDefaultExpiry = -1;
constexpr std::int64_t kSecondsPerMinute = 60;
constexpr std::int64_t kMinutesPerHour = 60;

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString Duration(std::int64_t seconds) {
    const std::int64_t minutes = seconds / kSecondsPerMinute;
    return QStringLiteral("%1:%2:%3")
        .arg(minutes / kMinutesPerHour, 2, 10, QLatin1Char('0'))
        .arg(minutes % kMinutesPerHour, 2, 10, QLatin1Char('0'))
        .arg(seconds % kSecondsPerMinute, 2, 10, QLatin1Char('0'));
}

// What the control does, in words: "muted", "volume down 40", "unmuted", "volume up 5".
QString Deed(const std::string& control) {
    const std::string_view text(control);
    const std::size_t space = text.find(' ');
    const QString amount = space == std::string_view::npos
                               ? QString()
                               : QLatin1Char(' ') + FromUtf8(std::string(text.substr(space + 1)));
    switch (ControlKindOf(text)) {
        case ControlKind::Mute:
            return QStringLiteral("muted");
        case ControlKind::Unmute:
            return QStringLiteral("unmuted");
        case ControlKind::Down:
            return QStringLiteral("volume down") + amount;
        case ControlKind::Up:
            return QStringLiteral("volume up") + amount;
        default:
            return FromUtf8(control);
    }
}

}  // namespace

DesktopNotifier::DesktopNotifier(QDBusConnection bus, QObject* parent)
    : QObject(parent), bus_(std::move(bus)) {
    const QString service = QString::fromLatin1(kService);
    const QString path = QString::fromLatin1(kPath);
    const QString interface = QString::fromLatin1(kInterface);
    bus_.connect(service, path, interface, QStringLiteral("ActionInvoked"), this,
                 SLOT(OnActionInvoked(uint, QString)));
    bus_.connect(service, path, interface, QStringLiteral("NotificationClosed"), this,
                 SLOT(OnClosed(uint, uint)));
    // A service that goes away takes its notifications with it.
    serviceWatcher_ =
        new QDBusServiceWatcher(service, bus_, QDBusServiceWatcher::WatchForUnregistration, this);
    connect(serviceWatcher_, &QDBusServiceWatcher::serviceUnregistered, this,
            [this] { runnerOf_.clear(); });
}

DesktopNotifier::~DesktopNotifier() = default;

QString DesktopNotifier::BodyText(const StartedControl& started) {
    const QString name = FromUtf8(started.triggerName);
    if (!started.undoable) {
        return QStringLiteral("%1: opened %2").arg(name, FromUtf8(started.command));
    }
    return QStringLiteral("%1: %2 for %3")
        .arg(name, Deed(started.control), Duration(std::max<std::int64_t>(0, started.seconds)));
}

void DesktopNotifier::Show(const StartedControl& started) {
    if (!enabled_ || !bus_.isConnected()) {
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(QString::fromLatin1(kService), QString::fromLatin1(kPath),
                                       QString::fromLatin1(kInterface), QStringLiteral("Notify"));
    QStringList actions;
    if (started.undoable) {
        actions << QString::fromLatin1(kUndoAction) << QString::fromLatin1(kUndoLabel);
    }
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QString::fromLatin1(kDesktopEntry));
    call << QString::fromLatin1(kAppName) << uint{0} << QString::fromLatin1(kIconName)
         << QString::fromLatin1(kAppName) << BodyText(started) << actions << hints
         << kDefaultExpiry;
    auto* watcher = new QDBusPendingCallWatcher(bus_.asyncCall(call), this);
    const std::uint64_t runnerId = started.runnerId;
    const bool undoable = started.undoable;
    connect(watcher, &QDBusPendingCallWatcher::finished, this,
            [this, runnerId, undoable](QDBusPendingCallWatcher* finished) {
                OnNotifyReply(finished, runnerId, undoable);
            });
}

// No service (or an error) leaves nothing behind.
void DesktopNotifier::OnNotifyReply(QDBusPendingCallWatcher* call, std::uint64_t runnerId,
                                    bool undoable) {
    call->deleteLater();
    const QDBusPendingReply<uint> reply = *call;
    if (reply.isError()) {
        return;
    }
    const uint id = reply.value();
    if (undoable) {
        runnerOf_[id] = runnerId;
    }
    emit Shown(id);
}

void DesktopNotifier::OnActionInvoked(uint id, const QString& action) {
    const auto found = runnerOf_.find(id);
    if (found == runnerOf_.end() || action != QLatin1String(kUndoAction)) {
        return;  // another program's notification, or not ours to act on
    }
    const std::uint64_t runnerId = found->second;
    runnerOf_.erase(found);
    if (onUndo) {
        onUndo(runnerId);
    }
}

void DesktopNotifier::OnClosed(uint id, uint) {
    runnerOf_.erase(id);
}

}  // namespace hushwell
