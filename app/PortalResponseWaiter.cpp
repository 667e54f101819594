#include "app/PortalResponseWaiter.h"

#include <QDBusArgument>
#include <QDBusMetaType>

#include "app/PortalShortcut.h"

namespace hushwell {

namespace {

constexpr const char* kRequestInterface = "org.freedesktop.portal.Request";
constexpr const char* kResponseSignal = "Response";
constexpr const char* kShortcutsKey = "shortcuts";

// Nested containers arrive as unread D-Bus arguments; the shortcut list is the only one the
// program reads.
QVariantMap ResultsOf(const QVariant& argument) {
    QVariantMap results = qdbus_cast<QVariantMap>(argument);
    const auto shortcuts = results.find(QLatin1String(kShortcutsKey));
    if (shortcuts != results.end() && shortcuts->canConvert<QDBusArgument>()) {
        *shortcuts = QVariant::fromValue(qdbus_cast<PortalShortcutList>(*shortcuts));
    }
    return results;
}

}  // namespace

PortalResponseWaiter::PortalResponseWaiter(const QDBusConnection& bus) : bus_(bus) {}

bool PortalResponseWaiter::Listen(const QString& path, bool on) {
    const QString interface = QLatin1String(kRequestInterface);
    const QString name = QLatin1String(kResponseSignal);
    if (on) {
        return bus_.connect(QString(), path, interface, name, this, SLOT(OnResponse(QDBusMessage)));
    }
    return bus_.disconnect(QString(), path, interface, name, this, SLOT(OnResponse(QDBusMessage)));
}

bool PortalResponseWaiter::Expect(const QString& path) {
    {
        const std::lock_guard lock(mutex_);
        path_ = path;
        response_.reset();
    }
    return Listen(path, true);
}

std::optional<PortalResponse> PortalResponseWaiter::Wait(std::chrono::milliseconds timeout,
                                                         bool keepListening) {
    std::unique_lock lock(mutex_);
    arrived_.wait_for(lock, timeout, [this] { return response_.has_value(); });
    const QString path = std::exchange(path_, QString());
    std::optional<PortalResponse> response = std::exchange(response_, std::nullopt);
    // Decided under the lock, so a response arriving now is either returned or reported.
    if (!response && keepListening && !path.isEmpty()) {
        late_.insert(path);
        return std::nullopt;
    }
    lock.unlock();
    Listen(path, false);
    return response;
}

bool PortalResponseWaiter::Forget(const QString& path) {
    {
        const std::lock_guard lock(mutex_);
        if (late_.erase(path) == 0) {
            return false;
        }
    }
    Listen(path, false);
    return true;
}

void PortalResponseWaiter::ForgetAll() {
    std::set<QString> paths;
    {
        const std::lock_guard lock(mutex_);
        paths.swap(late_);
    }
    for (const QString& path : paths) {
        Listen(path, false);
    }
}

void PortalResponseWaiter::OnResponse(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2) {
        return;
    }
    PortalResponse response{arguments[0].toUInt(), ResultsOf(arguments[1])};
    const QString path = message.path();
    {
        const std::lock_guard lock(mutex_);
        if (path == path_ && !response_.has_value()) {
            response_ = std::move(response);
            arrived_.notify_all();
            return;
        }
        if (late_.erase(path) == 0) {
            return;
        }
    }
    Listen(path, false);
    emit Late(path, response.code, response.results);
}

}  // namespace hushwell
