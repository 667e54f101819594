#pragma once

#include <QDBusContext>
#include <QMutex>
#include <QObject>
#include <QStringList>
#include <QThread>

namespace hushwell {

// The D-Bus side of StandInStatusNotifierWatcher: org.kde.StatusNotifierWatcher with a host
// already registered. Its properties are exported, and so in its introspection data, as real
// watchers have them. Lives on the watcher's thread.
class StandInWatcherService : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ RegisteredStatusNotifierItems)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ IsStatusNotifierHostRegistered)
    Q_PROPERTY(int ProtocolVersion READ ProtocolVersion)
public:
    // Any thread.
    QStringList RegisteredStatusNotifierItems() const;
    bool IsStatusNotifierHostRegistered() const { return true; }
    int ProtocolVersion() const { return 0; }

public slots:
    void RegisterStatusNotifierItem(const QString& service);
    void RegisterStatusNotifierHost(const QString& service);

signals:
    void StatusNotifierItemRegistered(const QString& service);
    void StatusNotifierItemUnregistered(const QString& service);
    void StatusNotifierHostRegistered();
    void StatusNotifierHostUnregistered();

private:
    // Guards items_: the test thread reads what the watcher thread records.
    mutable QMutex mutex_;
    QStringList items_;
};

// A desktop shell's watcher, served from a thread of its own on a connection of its own, so
// that the program's blocking calls to it get their answers. Destroying it takes the watcher
// off the bus, as a shell that quits.
class StandInStatusNotifierWatcher {
public:
    StandInStatusNotifierWatcher();
    ~StandInStatusNotifierWatcher();

    // Takes the watcher's name on the session bus; false when that is not possible.
    bool Start();
    QStringList RegisteredStatusNotifierItems() const {
        return service_->RegisteredStatusNotifierItems();
    }

private:
    QString connectionName_;
    QThread thread_;
    StandInWatcherService* service_;  // owned; created and destroyed on thread_
};

}  // namespace hushwell
