#include "app/PortalHotkeyGrabber.h"

#include <QDBusObjectPath>
#include <QDBusServiceWatcher>
#include <QStringList>

#include "app/PortalShortcut.h"
#include "app/X11HotkeyGrabber.h"
#include "ui/HotkeyList.h"

// Last: Xlib's macros would clash with the Qt headers.
#include <X11/Xlib.h>

namespace hushwell {

namespace {

constexpr const char* kPortalService = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kShortcutsInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kRegistryInterface = "org.freedesktop.host.portal.Registry";
constexpr const char* kSessionInterface = "org.freedesktop.portal.Session";
constexpr const char* kPropertiesInterface = "org.freedesktop.DBus.Properties";
constexpr const char* kAppId = "hushwell";
constexpr const char* kTokenPrefix = "hushwell";
// Method replies come at once; the first call may start the portal service, which takes
// longer.
constexpr int kCallTimeoutMs = 1000;
constexpr int kStartTimeoutMs = 3000;
constexpr unsigned int kResponseOther = 2;
constexpr const char* kGoneMessage =
    "The desktop portal left the session; global hotkeys are unavailable.";
constexpr const char* kBackMessage =
    "The desktop portal is back in the session; global hotkeys are bound again.";

QDBusMessage PortalCall(const char* interface, const char* method) {
    return QDBusMessage::createMethodCall(QLatin1String(kPortalService), QLatin1String(kPortalPath),
                                          QLatin1String(interface), QLatin1String(method));
}

QString PathText(const QVariant& value) {
    return value.canConvert<QDBusObjectPath>() ? value.value<QDBusObjectPath>().path()
                                               : value.toString();
}

const HotkeyRecord* DefaultRecordOf(int id) {
    static const HotkeyList kDefaults;
    for (const HotkeyRecord& record : kDefaults.Records()) {
        if (record.id == id) {
            return &record;
        }
    }
    return nullptr;
}

// The portal knows a shortcut by a stable text id: the record's name.
QString ShortcutIdOf(int id) {
    const HotkeyRecord* record = DefaultRecordOf(id);
    return record != nullptr ? QString::fromStdString(record->name) : QString::number(id);
}

QString DescriptionOf(int id) {
    const HotkeyRecord* record = DefaultRecordOf(id);
    return record != nullptr ? QString::fromStdString(record->label) : QString::number(id);
}

}  // namespace

PortalHotkeyGrabber::PortalHotkeyGrabber(PressedFunction pressed, LogFunction log,
                                         const QDBusConnection& bus)
    : pressed_(std::move(pressed)), log_(std::move(log)), bus_(bus) {
    RegisterPortalShortcutTypes();
    if (!bus_.isConnected()) {
        return;
    }
    RegisterWithHostRegistry();
    available_ = OfferedByBus();
    if (!available_) {
        return;
    }
    waiter_ = new PortalResponseWaiter(bus_);
    waiter_->moveToThread(&waiterThread_);
    connect(&waiterThread_, &QThread::finished, waiter_, &QObject::deleteLater);
    connect(waiter_, &PortalResponseWaiter::Late, this, &PortalHotkeyGrabber::OnLateResponse,
            Qt::QueuedConnection);
    waiterThread_.start();
    bus_.connect(QLatin1String(kPortalService), QLatin1String(kPortalPath),
                 QLatin1String(kShortcutsInterface), QStringLiteral("Activated"), this,
                 SLOT(OnActivated(QDBusMessage)));
    portalWatcher_ = new QDBusServiceWatcher(QLatin1String(kPortalService), bus_,
                                             QDBusServiceWatcher::WatchForOwnerChange, this);
    connect(portalWatcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            &PortalHotkeyGrabber::OnPortalOwnerChanged);
    releaseTimer_.setSingleShot(true);
    releaseTimer_.setInterval(0);
    connect(&releaseTimer_, &QTimer::timeout, this, &PortalHotkeyGrabber::BindAgain);
}

PortalHotkeyGrabber::~PortalHotkeyGrabber() {
    CloseSession();
    waiterThread_.quit();
    waiterThread_.wait();
}

// The registry must hear from the program before any portal call; older portals lack it.
void PortalHotkeyGrabber::RegisterWithHostRegistry() {
    QDBusMessage call = PortalCall(kRegistryInterface, "Register");
    call << QString::fromLatin1(kAppId) << QVariantMap();
    bus_.call(call, QDBus::Block, kStartTimeoutMs);
}

bool PortalHotkeyGrabber::OfferedByBus() {
    QDBusMessage call = PortalCall(kPropertiesInterface, "Get");
    call << QString::fromLatin1(kShortcutsInterface) << QStringLiteral("version");
    return bus_.call(call, QDBus::Block, kStartTimeoutMs).type() == QDBusMessage::ReplyMessage;
}

QString PortalHotkeyGrabber::TriggerOf(int modifiers, int virtualKey) {
    const unsigned long keysym = X11HotkeyGrabber::KeySymOf(virtualKey);
    const char* keyName = keysym != 0 ? XKeysymToString(keysym) : nullptr;
    if (keyName == nullptr) {
        return {};
    }
    QStringList parts;
    if ((modifiers & kControl) != 0) {
        parts << QStringLiteral("CTRL");
    }
    if ((modifiers & kAlt) != 0) {
        parts << QStringLiteral("ALT");
    }
    if ((modifiers & kShift) != 0) {
        parts << QStringLiteral("SHIFT");
    }
    if ((modifiers & kWindows) != 0) {
        parts << QStringLiteral("LOGO");
    }
    parts << QString::fromLatin1(keyName);
    return parts.join(QLatin1Char('+'));
}

bool PortalHotkeyGrabber::HoldsTrigger(const QString& trigger, int exceptId) const {
    for (const auto& [id, binding] : bindings_) {
        if (id != exceptId && binding.trigger == trigger) {
            return true;
        }
    }
    return false;
}

bool PortalHotkeyGrabber::Register(int id, int modifiers, int virtualKey) {
    const QString trigger = TriggerOf(modifiers, virtualKey);
    if (!available_ || trigger.isEmpty() || HoldsTrigger(trigger, id)) {
        return false;
    }
    if (id == HotkeyList::kProbeId) {
        return true;
    }
    if (TakeBack(id, trigger)) {
        return true;
    }
    releaseTimer_.stop();  // this binding leaves released shortcuts out as well
    Bindings wanted = bindings_;
    wanted[id] = Binding{trigger, {}};
    if (Bind(wanted)) {
        bindings_ = std::move(wanted);
        return bindings_.count(id) != 0;
    }
    // The desktop turned the whole set down: the hotkeys bound before are bound again.
    Bindings previous = bindings_;
    previous.erase(id);
    bindings_.clear();
    if (!previous.empty() && Bind(previous)) {
        bindings_ = std::move(previous);
    }
    return false;
}

// The portal cannot release one shortcut of a session: the rest is bound again in a new one,
// from the event loop. Presses of the id are no longer reported from now on.
void PortalHotkeyGrabber::Unregister(int id) {
    const auto found = bindings_.find(id);
    if (found == bindings_.end()) {
        return;
    }
    released_.insert_or_assign(id, found->second);
    bindings_.erase(found);
    if (available_) {
        releaseTimer_.start();
    }
}

// A combination released and asked for again before the desktop heard of the release is
// still bound there: it is taken back without asking.
bool PortalHotkeyGrabber::TakeBack(int id, const QString& trigger) {
    const auto found = released_.find(id);
    if (found == released_.end() || found->second.trigger != trigger) {
        return false;
    }
    bindings_.insert_or_assign(id, found->second);
    released_.erase(found);
    if (released_.empty()) {
        releaseTimer_.stop();
    }
    return true;
}

std::string PortalHotkeyGrabber::BoundTrigger(int id) const {
    const auto found = bindings_.find(id);
    return found != bindings_.end() ? found->second.bound : std::string();
}

// Binds the set in a new session; false when the desktop refuses the binding as a whole.
// Shortcuts left out of the answer are removed from the set; without an answer in time the
// set is kept as asked and the answer is awaited (pendingBind_).
bool PortalHotkeyGrabber::Bind(Bindings& bindings) {
    ForgetPendingBind();
    released_.clear();  // the new session holds only the set asked
    if (!OpenSession()) {
        return false;
    }
    PortalShortcutList shortcuts;
    for (const auto& [id, binding] : bindings) {
        shortcuts.append({ShortcutIdOf(id),
                          {{QStringLiteral("description"), DescriptionOf(id)},
                           {QStringLiteral("preferred_trigger"), binding.trigger}}});
    }
    const QString token = NextToken();
    QDBusMessage call = PortalCall(kShortcutsInterface, "BindShortcuts");
    call << QVariant::fromValue(QDBusObjectPath(session_)) << QVariant::fromValue(shortcuts)
         << QString() << QVariantMap{{QStringLiteral("handle_token"), token}};
    QString handle;
    const std::optional<PortalResponse> response = Ask(call, token, true, &handle);
    if (!response) {
        pendingBind_ = handle;
        return true;
    }
    if (response->code != PortalResponse::kSuccess) {
        return false;
    }
    KeepBound(bindings, response->results);
    return true;
}

// Keeps the shortcuts the answer lists, with the trigger the desktop reports for each.
void PortalHotkeyGrabber::KeepBound(Bindings& bindings, const QVariantMap& results) {
    const auto bound = results.value(QStringLiteral("shortcuts")).value<PortalShortcutList>();
    Bindings kept;
    for (auto& [id, binding] : bindings) {
        for (const PortalShortcut& shortcut : bound) {
            if (shortcut.id == ShortcutIdOf(id)) {
                binding.bound = shortcut.properties.value(QStringLiteral("trigger_description"))
                                    .toString()
                                    .toStdString();
                kept.emplace(id, binding);
            }
        }
    }
    bindings = std::move(kept);
}

// The held set in a new session: after an Unregister, and when the portal comes back. With
// nothing left, closing the session releases everything.
void PortalHotkeyGrabber::BindAgain() {
    if (!available_) {
        return;
    }
    if (bindings_.empty()) {
        ForgetPendingBind();
        released_.clear();
        CloseSession();
        return;
    }
    std::vector<int> asked;
    for (const auto& [id, binding] : bindings_) {
        asked.push_back(id);
    }
    Bindings wanted = bindings_;
    bindings_ = Bind(wanted) ? std::move(wanted) : Bindings{};
    if (pendingBind_.isEmpty()) {
        ReportSettled(asked);
    }
}

void PortalHotkeyGrabber::ReportSettled(const std::vector<int>& ids) {
    if (!settled_) {
        return;
    }
    for (int id : ids) {
        settled_(id, bindings_.count(id) != 0);
    }
}

// The answer to the last binding settles the set held now (ids unregistered meanwhile are
// out of it); a refusal of the whole set leaves nothing bound. A late session is closed at
// once: nothing uses it.
void PortalHotkeyGrabber::OnLateResponse(const QString& path, uint code,
                                         const QVariantMap& results) {
    if (path.isEmpty() || path != pendingBind_) {
        const QString session = PathText(results.value(QStringLiteral("session_handle")));
        if (available_ && !session.isEmpty() && session != session_) {
            CloseSessionAt(session);
        }
        return;
    }
    pendingBind_.clear();
    std::vector<int> asked;
    for (const auto& [id, binding] : bindings_) {
        asked.push_back(id);
    }
    if (code == PortalResponse::kSuccess) {
        KeepBound(bindings_, results);
    } else {
        bindings_.clear();
    }
    ReportSettled(asked);
}

void PortalHotkeyGrabber::ForgetPendingBind() {
    if (!pendingBind_.isEmpty()) {
        waiter_->Forget(pendingBind_);
        pendingBind_.clear();
    }
}

bool PortalHotkeyGrabber::OpenSession() {
    CloseSession();
    const QString token = NextToken();
    QDBusMessage call = PortalCall(kShortcutsInterface, "CreateSession");
    call << QVariantMap{{QStringLiteral("handle_token"), token},
                        {QStringLiteral("session_handle_token"), token}};
    const std::optional<PortalResponse> response = Ask(call, token, true);
    if (!response || response->code != PortalResponse::kSuccess) {
        return false;
    }
    session_ = PathText(response->results.value(QStringLiteral("session_handle")));
    return !session_.isEmpty();
}

void PortalHotkeyGrabber::CloseSession() {
    if (session_.isEmpty()) {
        return;
    }
    if (available_) {
        CloseSessionAt(session_);
    }
    session_.clear();
}

void PortalHotkeyGrabber::CloseSessionAt(const QString& session) {
    bus_.call(
        QDBusMessage::createMethodCall(QLatin1String(kPortalService), session,
                                       QLatin1String(kSessionInterface), QStringLiteral("Close")),
        QDBus::NoBlock);
}

// Sends a request and waits for its Response; nothing when none came in time, "other" when
// the call itself failed.
std::optional<PortalResponse> PortalHotkeyGrabber::Ask(QDBusMessage call, const QString& token,
                                                       bool keepLate, QString* handle) {
    const QString expected = RequestPath(token);
    waiter_->Expect(expected);
    const QDBusMessage reply = bus_.call(call, QDBus::Block, kCallTimeoutMs);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
        waiter_->Wait(std::chrono::milliseconds(0));
        return PortalResponse{kResponseOther, {}};
    }
    // Portals before the handle_token convention answer on a path of their own choosing.
    const QString request = PathText(reply.arguments().constFirst());
    if (request != expected) {
        waiter_->Wait(std::chrono::milliseconds(0));
        waiter_->Expect(request);
    }
    if (handle != nullptr) {
        *handle = request;
    }
    return waiter_->Wait(kResponseTimeout, keepLate);
}

// The portal's request objects are named after the caller's unique bus name and the token.
QString PortalHotkeyGrabber::RequestPath(const QString& token) const {
    QString sender = bus_.baseService().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    return QStringLiteral("/org/freedesktop/portal/desktop/request/%1/%2").arg(sender, token);
}

QString PortalHotkeyGrabber::NextToken() {
    return QStringLiteral("%1%2").arg(QLatin1String(kTokenPrefix)).arg(++tokenCount_);
}

void PortalHotkeyGrabber::OnActivated(const QDBusMessage& message) {
    const QList<QVariant> arguments = message.arguments();
    if (arguments.size() < 2 || PathText(arguments[0]) != session_) {
        return;
    }
    const QString shortcutId = arguments[1].toString();
    for (const auto& [id, binding] : bindings_) {
        if (ShortcutIdOf(id) == shortcutId) {
            pressed_(id);
            return;
        }
    }
}

// A new owner without an old one is the portal starting; an owner replaced at once is a
// restart that went unseen in between.
void PortalHotkeyGrabber::OnPortalOwnerChanged(const QString& /*service*/, const QString& oldOwner,
                                               const QString& newOwner) {
    if (!oldOwner.isEmpty()) {
        OnPortalGone();
    }
    if (!newOwner.isEmpty()) {
        OnPortalBack();
    }
}

// The hotkeys held are kept, to be bound again when the portal comes back.
void PortalHotkeyGrabber::OnPortalGone() {
    if (!available_) {
        return;
    }
    available_ = false;
    releaseTimer_.stop();
    released_.clear();
    pendingBind_.clear();
    waiter_->ForgetAll();
    for (auto& [id, binding] : bindings_) {
        binding.bound.clear();
    }
    session_.clear();
    log_(kGoneMessage);
}

void PortalHotkeyGrabber::OnPortalBack() {
    if (available_) {
        return;
    }
    RegisterWithHostRegistry();
    available_ = OfferedByBus();
    if (!available_) {
        return;
    }
    log_(kBackMessage);
    BindAgain();
}

}  // namespace hushwell
