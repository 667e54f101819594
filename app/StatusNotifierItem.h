#pragma once

#include <QDBusConnection>
#include <QDBusObjectPath>
#include <QIcon>
#include <QObject>
#include <QSystemTrayIcon>
#include <functional>
#include <memory>

#include "app/DBusMenuExporter.h"
#include "app/DBusTrayTypes.h"

class QDBusServiceWatcher;
class QMenu;

namespace hushwell {

// The tray icon as a StatusNotifierItem with its menu exported over com.canonical.dbusmenu,
// on a connection of its own to the session bus. It registers with the desktop's
// org.kde.StatusNotifierWatcher when that reports a host, and again whenever a watcher or host
// appears later (a desktop shell restarting). Host clicks go to the activation handler.
//
// User-interface thread only; D-Bus calls arrive on it.
class StatusNotifierItem : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_SCRIPTABLE Q_PROPERTY(QString Category READ Category) Q_SCRIPTABLE
        Q_PROPERTY(QString Id READ Id) Q_SCRIPTABLE
        Q_PROPERTY(QString Title READ Title) Q_SCRIPTABLE
        Q_PROPERTY(QString Status READ Status) Q_SCRIPTABLE
        Q_PROPERTY(int WindowId READ WindowId) Q_SCRIPTABLE
        Q_PROPERTY(QString IconName READ IconName) Q_SCRIPTABLE
        Q_PROPERTY(QList<hushwell::DBusIconPixmap> IconPixmap READ IconPixmap) Q_SCRIPTABLE
        Q_PROPERTY(QString OverlayIconName READ IconName) Q_SCRIPTABLE
        Q_PROPERTY(QList<hushwell::DBusIconPixmap> OverlayIconPixmap READ NoPixmaps) Q_SCRIPTABLE
        Q_PROPERTY(QString AttentionIconName READ IconName) Q_SCRIPTABLE
        Q_PROPERTY(QList<hushwell::DBusIconPixmap> AttentionIconPixmap READ NoPixmaps) Q_SCRIPTABLE
        Q_PROPERTY(QString AttentionMovieName READ IconName) Q_SCRIPTABLE
        Q_PROPERTY(hushwell::DBusToolTip ToolTip READ ToolTip) Q_SCRIPTABLE
        Q_PROPERTY(bool ItemIsMenu READ ItemIsMenu) Q_SCRIPTABLE
        Q_PROPERTY(QDBusObjectPath Menu READ Menu) public
        : static constexpr const char* kWatcherService = "org.kde.StatusNotifierWatcher";
    static constexpr const char* kWatcherPath = "/StatusNotifierWatcher";
    static constexpr const char* kItemPath = "/StatusNotifierItem";
    static constexpr const char* kMenuPath = "/MenuBar";

    // A host click, in the terms of QSystemTrayIcon.
    using ActivationHandler = std::function<void(QSystemTrayIcon::ActivationReason)>;

    explicit StatusNotifierItem(QObject* parent = nullptr);
    ~StatusNotifierItem() override;

    // Publishes the item on the session bus and registers it when a host is there. True when
    // a host has it now; otherwise it waits for one.
    bool Show(const QIcon& icon, const QString& tip, QMenu* menu);
    void SetActivationHandler(ActivationHandler handler) { onActivated_ = std::move(handler); }
    // Withdraws the item from the bus; hosts drop it.
    void Hide();
    // A host shows the item.
    bool IsRegistered() const { return registered_; }
    // The item's bus name, as given to the watcher.
    QString ServiceName() const { return serviceName_; }

    QString Category() const { return QStringLiteral("ApplicationStatus"); }
    QString Id() const { return QStringLiteral("hushwell"); }
    QString Title() const { return tip_; }
    QString Status() const { return QStringLiteral("Active"); }
    int WindowId() const { return 0; }
    QString IconName() const { return {}; }
    QList<DBusIconPixmap> IconPixmap() const { return pixmaps_; }
    QList<DBusIconPixmap> NoPixmaps() const { return {}; }
    DBusToolTip ToolTip() const { return DBusToolTip{{}, {}, tip_, toolTipDescription_}; }
    // The tool tip's second line (the running controls); empty for none.
    void SetToolTipDescription(const QString& description);
    bool ItemIsMenu() const { return false; }
    QDBusObjectPath Menu() const { return QDBusObjectPath(QString::fromLatin1(kMenuPath)); }

public slots:
    Q_SCRIPTABLE void Activate(int x, int y);
    Q_SCRIPTABLE void SecondaryActivate(int x, int y);
    Q_SCRIPTABLE void ContextMenu(int x, int y);
    Q_SCRIPTABLE void Scroll(int delta, const QString& orientation);

signals:
    Q_SCRIPTABLE void NewTitle();
    Q_SCRIPTABLE void NewIcon();
    Q_SCRIPTABLE void NewToolTip();
    Q_SCRIPTABLE void NewStatus(const QString& status);

    // A host took the item (first time or after a shell restart).
    void Registered();

private slots:
    void OnHostRegistered();

private:
    bool Publish();
    void TryRegister();
    void OnWatcherGone();
    void Report(QSystemTrayIcon::ActivationReason reason);

    QString connectionName_;
    QString serviceName_;
    std::unique_ptr<QDBusConnection> bus_;
    std::unique_ptr<QDBusServiceWatcher> watcherWatch_;
    DBusMenuExporter menuExporter_;
    ActivationHandler onActivated_;
    QMenu* menu_ = nullptr;
    QList<DBusIconPixmap> pixmaps_;
    QString tip_;
    QString toolTipDescription_;
    bool published_ = false;
    bool registered_ = false;
};

}  // namespace hushwell
