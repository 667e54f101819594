#include "app/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusServiceWatcher>
#include <QMenu>
#include <atomic>

namespace hushwell {

namespace {

constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
// A watcher that does not answer within this time is taken as absent.
constexpr int kWatcherCallTimeoutMs = 2000;
// Sizes hosts pick from: panels of 16 to 24 pixels, and twice that on dense screens.
const QList<int> kIconSizes = {16, 22, 24, 32, 48};

int NextItemNumber() {
    static std::atomic<int> number{0};
    return ++number;
}

}  // namespace

StatusNotifierItem::StatusNotifierItem(QObject* parent) : QObject(parent) {
    const int number = NextItemNumber();
    connectionName_ = QStringLiteral("hushwell-tray-%1").arg(number);
    serviceName_ = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                       .arg(QCoreApplication::applicationPid())
                       .arg(number);
}

StatusNotifierItem::~StatusNotifierItem() {
    Hide();
}

bool StatusNotifierItem::Show(const QIcon& icon, const QString& tip, QMenu* menu) {
    pixmaps_ = DBusIconPixmap::FromIcon(icon, kIconSizes);
    tip_ = tip;
    menu_ = menu;
    menuExporter_.SetMenu(menu);
    if (published_) {
        emit NewIcon();
        emit NewToolTip();
        emit NewTitle();
    } else if (!Publish()) {
        return false;
    }
    TryRegister();
    return registered_;
}

void StatusNotifierItem::SetToolTipDescription(const QString& description) {
    if (description == toolTipDescription_) {
        return;
    }
    toolTipDescription_ = description;
    if (published_) {
        emit NewToolTip();
    }
}

bool StatusNotifierItem::Publish() {
    RegisterDBusTrayTypes();
    bus_ = std::make_unique<QDBusConnection>(
        QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName_));
    if (!bus_->isConnected() || !bus_->registerService(serviceName_) ||
        !bus_->registerObject(QString::fromLatin1(kItemPath), this,
                              QDBusConnection::ExportScriptableContents) ||
        !bus_->registerObject(QString::fromLatin1(kMenuPath), &menuExporter_,
                              QDBusConnection::ExportScriptableContents)) {
        bus_.reset();
        QDBusConnection::disconnectFromBus(connectionName_);
        return false;
    }
    const QString watcher = QString::fromLatin1(kWatcherService);
    watcherWatch_ = std::make_unique<QDBusServiceWatcher>(
        watcher, *bus_,
        QDBusServiceWatcher::WatchForRegistration | QDBusServiceWatcher::WatchForUnregistration);
    connect(watcherWatch_.get(), &QDBusServiceWatcher::serviceRegistered, this,
            &StatusNotifierItem::TryRegister);
    connect(watcherWatch_.get(), &QDBusServiceWatcher::serviceUnregistered, this,
            &StatusNotifierItem::OnWatcherGone);
    bus_->connect(watcher, QString::fromLatin1(kWatcherPath), watcher,
                  QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(OnHostRegistered()));
    published_ = true;
    return true;
}

void StatusNotifierItem::Hide() {
    if (!published_) {
        return;
    }
    watcherWatch_.reset();
    bus_->unregisterObject(QString::fromLatin1(kMenuPath));
    bus_->unregisterObject(QString::fromLatin1(kItemPath));
    bus_->unregisterService(serviceName_);
    bus_.reset();
    QDBusConnection::disconnectFromBus(connectionName_);
    published_ = false;
    registered_ = false;
}

// Registers with the watcher when it reports a host; a watcher without a host shows nothing.
void StatusNotifierItem::TryRegister() {
    if (!published_) {
        return;
    }
    const QString watcher = QString::fromLatin1(kWatcherService);
    const QString path = QString::fromLatin1(kWatcherPath);
    QDBusMessage hostQuery = QDBusMessage::createMethodCall(
        watcher, path, QString::fromLatin1(kPropertiesInterface), QStringLiteral("Get"));
    hostQuery << watcher << QStringLiteral("IsStatusNotifierHostRegistered");
    const QDBusMessage hostReply = bus_->call(hostQuery, QDBus::Block, kWatcherCallTimeoutMs);
    const bool hostThere = hostReply.type() == QDBusMessage::ReplyMessage &&
                           hostReply.arguments().value(0).value<QDBusVariant>().variant().toBool();
    if (!hostThere) {
        registered_ = false;
        return;
    }
    QDBusMessage registration = QDBusMessage::createMethodCall(
        watcher, path, watcher, QStringLiteral("RegisterStatusNotifierItem"));
    registration << serviceName_;
    const QDBusMessage reply = bus_->call(registration, QDBus::Block, kWatcherCallTimeoutMs);
    registered_ = reply.type() == QDBusMessage::ReplyMessage;
    if (registered_) {
        emit Registered();
    }
}

void StatusNotifierItem::OnHostRegistered() {
    if (!registered_) {
        TryRegister();
    }
}

void StatusNotifierItem::OnWatcherGone() {
    registered_ = false;
}

void StatusNotifierItem::Activate(int /*x*/, int /*y*/) {
    Report(QSystemTrayIcon::Trigger);
}

void StatusNotifierItem::SecondaryActivate(int /*x*/, int /*y*/) {
    Report(QSystemTrayIcon::MiddleClick);
}

// Only hosts without menu support ask for this; the menu pops up where the host says.
void StatusNotifierItem::ContextMenu(int x, int y) {
    Report(QSystemTrayIcon::Context);
    if (menu_ != nullptr) {
        menu_->popup(QPoint(x, y));
    }
}

void StatusNotifierItem::Report(QSystemTrayIcon::ActivationReason reason) {
    if (onActivated_) {
        onActivated_(reason);
    }
}

void StatusNotifierItem::Scroll(int /*delta*/, const QString& /*orientation*/) {}

}  // namespace hushwell
