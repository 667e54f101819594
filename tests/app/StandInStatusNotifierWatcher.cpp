#include "tests/app/StandInStatusNotifierWatcher.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <atomic>

namespace hushwell {

namespace {

constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
constexpr const char* kWatcherPath = "/StatusNotifierWatcher";

}  // namespace

QStringList StandInWatcherService::RegisteredStatusNotifierItems() const {
    const QMutexLocker lock(&mutex_);
    return items_;
}

// An item gives its bus name, or only its object path on the bus name it calls from.
void StandInWatcherService::RegisterStatusNotifierItem(const QString& service) {
    const QString item = service.startsWith(QLatin1Char('/')) ? message().service() : service;
    {
        const QMutexLocker lock(&mutex_);
        if (!items_.contains(item)) {
            items_.append(item);
        }
    }
    emit StatusNotifierItemRegistered(item);
}

void StandInWatcherService::RegisterStatusNotifierHost(const QString& /*service*/) {}

// D-Bus makes helper objects as children of a registered object and tracks its destruction,
// so the service is registered and destroyed on the watcher's thread.
StandInStatusNotifierWatcher::StandInStatusNotifierWatcher() {
    static std::atomic<int> number{0};
    connectionName_ = QStringLiteral("stand-in-watcher-%1").arg(++number);
    service_ = new StandInWatcherService;
    service_->moveToThread(&thread_);
    thread_.start();
}

StandInStatusNotifierWatcher::~StandInStatusNotifierWatcher() {
    QMetaObject::invokeMethod(
        service_,
        [this] {
            QDBusConnection bus(connectionName_);
            if (bus.isConnected()) {
                bus.unregisterService(QString::fromLatin1(kWatcherService));
            }
            delete service_;
            QDBusConnection::disconnectFromBus(connectionName_);
        },
        Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

bool StandInStatusNotifierWatcher::Start() {
    bool started = false;
    QMetaObject::invokeMethod(
        service_,
        [this, &started] {
            QDBusConnection bus =
                QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_);
            started = bus.isConnected() &&
                      bus.registerObject(QString::fromLatin1(kWatcherPath), service_,
                                         QDBusConnection::ExportAllContents) &&
                      bus.registerService(QString::fromLatin1(kWatcherService));
        },
        Qt::BlockingQueuedConnection);
    return started;
}

}  // namespace hushwell
