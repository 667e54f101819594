#pragma once

#include <QObject>
#include <QSystemTrayIcon>
#include <QTimer>

#include "app/StatusNotifierItem.h"

class QMenu;

namespace hushwell {

// The owner of the notification-area icon. It turns the icon's activations into single
// clicks, double clicks and right clicks. Tray hosts report most clicks as plain activations
// (a double click arrives as two), so a single click is reported only when the click timer (the
// desktop's double-click time) has run out without a second one; a second activation before
// then is a double click, and no single click precedes it.
//
// Where the desktop has a StatusNotifier host the icon is the window's own StatusNotifierItem,
// whose exported menu carries the texts as the menu shows them; elsewhere it is Qt's tray icon.
// A host that appears later (a desktop shell restarting) takes over the icon.
//
// User-interface thread only.
class TrayIconOwner : public QObject {
    Q_OBJECT
public:
    explicit TrayIconOwner(QObject* parent = nullptr);
    ~TrayIconOwner() override;

    // Sets icon, tip and menu, then shows the icon. False when the desktop has no tray; the
    // icon is then kept and shown should a tray or a StatusNotifier host appear.
    bool AddIcon(const QIcon& icon, const QString& tip, QMenu* menu);
    void RemoveIcon();
    // The tool tip: the tip given to AddIcon, and below it a description (empty: none).
    void SetToolTipDescription(const QString& description);
    QString ToolTipText() const { return trayIcon_.toolTip(); }
    bool IconShown() const;
    QSystemTrayIcon& TrayIcon() { return trayIcon_; }
    StatusNotifierItem& NotifierItem() { return notifierItem_; }

    // The time that separates two single clicks from a double click.
    void SetDoubleClickIntervalMs(int ms);
    int DoubleClickIntervalMs() const;

    // The click rule for one activation of the icon.
    void OnIconActivated(QSystemTrayIcon::ActivationReason reason);

protected:
    virtual void OnTrayLButtonClick() {}
    virtual void OnTrayRButtonClick() {}
    virtual void OnTrayLButtonDblClk() {}

private:
    void OnClickTimer();
    void OnNotifierItemRegistered();

    QSystemTrayIcon trayIcon_;
    StatusNotifierItem notifierItem_;
    QTimer clickTimer_;  // a single click waits for it
    QString tip_;
    bool doubleClickSeen_ = false;
};

}  // namespace hushwell
