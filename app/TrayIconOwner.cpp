#include "app/TrayIconOwner.h"

#include <QApplication>

namespace hushwell {

TrayIconOwner::TrayIconOwner(QObject* parent) : QObject(parent) {
    clickTimer_.setSingleShot(true);
    clickTimer_.setInterval(QApplication::doubleClickInterval());
    connect(&clickTimer_, &QTimer::timeout, this, &TrayIconOwner::OnClickTimer);
    connect(&trayIcon_, &QSystemTrayIcon::activated, this, &TrayIconOwner::OnIconActivated);
    notifierItem_.SetActivationHandler(
        [this](QSystemTrayIcon::ActivationReason reason) { OnIconActivated(reason); });
    connect(&notifierItem_, &StatusNotifierItem::Registered, this,
            &TrayIconOwner::OnNotifierItemRegistered);
}

TrayIconOwner::~TrayIconOwner() {
    RemoveIcon();
}

bool TrayIconOwner::AddIcon(const QIcon& icon, const QString& tip, QMenu* menu) {
    trayIcon_.setIcon(icon);
    trayIcon_.setToolTip(tip);
    tip_ = tip;
    trayIcon_.setContextMenu(menu);
    if (notifierItem_.Show(icon, tip, menu)) {
        return true;
    }
    trayIcon_.show();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayIconOwner::RemoveIcon() {
    clickTimer_.stop();
    notifierItem_.Hide();
    trayIcon_.hide();
}

void TrayIconOwner::SetToolTipDescription(const QString& description) {
    trayIcon_.setToolTip(description.isEmpty() ? tip_ : tip_ + QLatin1Char('\n') + description);
    notifierItem_.SetToolTipDescription(description);
}

bool TrayIconOwner::IconShown() const {
    return notifierItem_.IsRegistered() || trayIcon_.isVisible();
}

// Only one icon is shown: the item replaces Qt's icon once a host has it.
void TrayIconOwner::OnNotifierItemRegistered() {
    trayIcon_.hide();
}

void TrayIconOwner::SetDoubleClickIntervalMs(int ms) {
    clickTimer_.setInterval(ms);
}

int TrayIconOwner::DoubleClickIntervalMs() const {
    return clickTimer_.interval();
}

void TrayIconOwner::OnIconActivated(QSystemTrayIcon::ActivationReason reason) {
    switch (reason) {
        case QSystemTrayIcon::Trigger:
            if (clickTimer_.isActive()) {
                clickTimer_.stop();
                doubleClickSeen_ = true;
                OnTrayLButtonDblClk();
            } else {
                doubleClickSeen_ = false;
                clickTimer_.start();
            }
            break;
        case QSystemTrayIcon::DoubleClick:
            // Hosts that report double clicks themselves may also have reported the second
            // click as an activation; the double click is then already handled.
            if (!doubleClickSeen_) {
                clickTimer_.stop();
                doubleClickSeen_ = true;
                OnTrayLButtonDblClk();
            }
            break;
        case QSystemTrayIcon::Context:
            OnTrayRButtonClick();
            break;
        default:
            break;
    }
}

void TrayIconOwner::OnClickTimer() {
    OnTrayLButtonClick();
}

}  // namespace hushwell
