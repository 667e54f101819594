#pragma once

#include <QDBusConnection>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QThread>
#include <QTimer>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/PortalResponseWaiter.h"
#include "ui/HotkeyGrabber.h"

class QDBusServiceWatcher;

namespace hushwell {

// Global hotkeys through the desktop portal's GlobalShortcuts interface, the way to them
// under Wayland. Each registration binds the whole set of registered hotkeys again in a fresh
// portal session (desktops accept one binding per session), every shortcut with its hotkey
// label as description and its combination as preferred trigger ("CTRL+ALT+SHIFT+F12").
//
// Registration waits for the portal's answer, at most kResponseTimeout, on a thread of the
// waiter's own (no event of the program runs meanwhile), so a shortcut the desktop refuses
// is a failed registration exactly like a refused X11 grab. A desktop that asks the user
// first (a dialog) does not answer in time; such a registration counts as made, BoundTrigger
// stays empty, and the answer is taken whenever it comes: the settled handler then hears of
// every id of the set, bound or refused (a refused id is dropped, as an early refusal).
//
// Unregister releases the shortcut at the desktop too, by binding the rest again in a new
// session (or closing the session when nothing is left) once control returns to the event
// loop: a Register that follows at once (an edit replacing a key) binds the set itself, so
// an edit asks the desktop once, and one that takes the released combination back (the
// options page registers a row's hotkey anew when it is selected) asks nothing.
//
// Key probes (HotkeyList::kProbeId) are answered without the portal: the desktop decides a
// shortcut's trigger only when it is bound, and binding every key of the list in turn would
// put a dialog up per key on some desktops.
//
// "Activated" reports the press by id. When the portal leaves the bus every hotkey is gone
// and registrations fail until it comes back (an update, a restart after a crash); that is
// logged once. When it comes back, the hotkeys held are bound again in a new session, logged
// once, their outcome reported to the settled handler. A portal missing when the grabber is
// made is not waited for: the program then uses X11 grabs.
//
// User-interface thread only (the waiter's thread aside).
class PortalHotkeyGrabber final : public QObject, public HotkeyGrabber {
    Q_OBJECT
public:
    using PressedFunction = std::function<void(int id)>;
    using LogFunction = std::function<void(std::string_view line)>;

    static constexpr std::chrono::milliseconds kResponseTimeout{400};

    // Looks for the GlobalShortcuts portal on the bus; Available() tells whether it is there.
    PortalHotkeyGrabber(PressedFunction pressed, LogFunction log,
                        const QDBusConnection& bus = QDBusConnection::sessionBus());
    ~PortalHotkeyGrabber() override;
    PortalHotkeyGrabber(const PortalHotkeyGrabber&) = delete;
    PortalHotkeyGrabber& operator=(const PortalHotkeyGrabber&) = delete;

    bool Available() const { return available_; }

    bool Register(int id, int modifiers, int virtualKey) override;
    void Unregister(int id) override;
    std::string BoundTrigger(int id) const override;
    void SetSettledHandler(SettledFunction handler) override { settled_ = std::move(handler); }

    // The combination in the freedesktop shortcuts notation ("CTRL+ALT+Up"); empty for a key
    // outside the hotkey table.
    static QString TriggerOf(int modifiers, int virtualKey);

private slots:
    void OnActivated(const QDBusMessage& message);
    void OnPortalOwnerChanged(const QString& service, const QString& oldOwner,
                              const QString& newOwner);
    void OnLateResponse(const QString& path, uint code, const QVariantMap& results);

private:
    struct Binding {
        QString trigger;
        std::string bound;  // what the desktop reports it bound; empty when unknown
    };
    using Bindings = std::map<int, Binding>;

    bool OfferedByBus();
    void RegisterWithHostRegistry();
    bool HoldsTrigger(const QString& trigger, int exceptId) const;
    bool TakeBack(int id, const QString& trigger);
    bool Bind(Bindings& bindings);
    void BindAgain();
    void ReportSettled(const std::vector<int>& ids);
    static void KeepBound(Bindings& bindings, const QVariantMap& results);
    bool OpenSession();
    void CloseSession();
    void CloseSessionAt(const QString& session);
    void ForgetPendingBind();
    void OnPortalGone();
    void OnPortalBack();
    // The answer, or nothing when none came in time; handle is the request it is awaited on,
    // and with keepLate a later answer still reaches OnLateResponse.
    std::optional<PortalResponse> Ask(QDBusMessage call, const QString& token, bool keepLate,
                                      QString* handle = nullptr);
    QString RequestPath(const QString& token) const;
    QString NextToken();

    PressedFunction pressed_;
    LogFunction log_;
    SettledFunction settled_;
    QDBusConnection bus_;
    bool available_ = false;
    QString session_;
    Bindings bindings_;
    QString pendingBind_;  // the binding request whose answer is still to come
    Bindings released_;    // unregistered since the desktop last bound the set
    QTimer releaseTimer_;  // binds the set again after an Unregister
    unsigned int tokenCount_ = 0;
    QThread waiterThread_;
    PortalResponseWaiter* waiter_ = nullptr;  // lives on waiterThread_, deleted when it ends
    QDBusServiceWatcher* portalWatcher_ = nullptr;
};

}  // namespace hushwell
