// A stand-in for the desktop portal's GlobalShortcuts interface on a private session bus.
// It owns org.freedesktop.portal.Desktop, answers CreateSession and BindShortcuts with
// Response signals on the request paths the callers' tokens name, and binds every shortcut
// under its preferred trigger except those named by --refuse (comma-separated ids), which it
// leaves out of the answer (slots spell the list type out: Qt D-Bus finds types by that
// name). With --delay-ms N it answers BindShortcuts N ms late, as a desktop that asks the
// user first; with --refuse-all it answers BindShortcuts with "cancelled". Each session is
// an object with Session.Close; closing it releases its shortcuts. A control object at
// /control tells what the newest session holds and how many sessions are open and were made, emits
// Activated on request, and quits.
#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QObject>
#include <QStringList>
#include <QTimer>

#include "app/PortalShortcut.h"

using hushwell::PortalShortcut;
using hushwell::PortalShortcutList;

namespace {

constexpr const char* kDesktopPath = "/org/freedesktop/portal/desktop";

QString SenderPart(const QDBusMessage& message) {
    QString sender = message.service().mid(1);
    return sender.replace(QLatin1Char('.'), QLatin1Char('_'));
}

QDBusObjectPath HandleOf(const QString& kind, const QDBusMessage& message, const QString& token) {
    return QDBusObjectPath(QStringLiteral("%1/%2/%3/%4")
                               .arg(QLatin1String(kDesktopPath), kind, SenderPart(message), token));
}

constexpr unsigned int kCancelled = 1;

void Respond(const QDBusObjectPath& request, const QVariantMap& results, int delayMs = 0,
             unsigned int code = 0) {
    // After the method's reply, as a portal does.
    QTimer::singleShot(delayMs, [request, results, code] {
        QDBusMessage signal = QDBusMessage::createSignal(
            request.path(), QStringLiteral("org.freedesktop.portal.Request"),
            QStringLiteral("Response"));
        signal << code << results;
        QDBusConnection::sessionBus().send(signal);
    });
}

// One session; Close forgets it and what it bound.
class FakeSession : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Session")
public:
    FakeSession(QString path, QMap<QString, QStringList>& open)
        : path_(std::move(path)), open_(open) {}

public slots:
    void Close() {
        open_.remove(path_);
        QDBusConnection::sessionBus().unregisterObject(path_);
        deleteLater();
    }

private:
    QString path_;
    QMap<QString, QStringList>& open_;
};

}  // namespace

class FakeShortcuts : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.GlobalShortcuts")
    Q_PROPERTY(uint version READ version)
public:
    FakeShortcuts(QStringList refused, int delayMs, bool refuseAll)
        : refused_(std::move(refused)), delayMs_(delayMs), refuseAll_(refuseAll) {}
    uint version() const { return 1; }

    QString session;  // the newest
    // Open sessions with "id|preferred trigger|description" of what each bound.
    QMap<QString, QStringList> open;
    int sessionsMade = 0;

public slots:
    QDBusObjectPath CreateSession(const QVariantMap& options, const QDBusMessage& message) {
        const QDBusObjectPath request =
            HandleOf(QStringLiteral("request"), message, options.value("handle_token").toString());
        session = HandleOf(QStringLiteral("session"), message,
                           options.value("session_handle_token").toString())
                      .path();
        open.insert(session, {});
        ++sessionsMade;
        QDBusConnection::sessionBus().registerObject(session, new FakeSession(session, open),
                                                     QDBusConnection::ExportAllSlots);
        Respond(request, {{QStringLiteral("session_handle"), session}});
        return request;
    }

    QDBusObjectPath BindShortcuts(const QDBusObjectPath& sessionHandle,
                                  const QList<hushwell::PortalShortcut>& shortcuts,
                                  const QString& /*parent*/, const QVariantMap& options,
                                  const QDBusMessage& message) {
        const QDBusObjectPath request =
            HandleOf(QStringLiteral("request"), message, options.value("handle_token").toString());
        QStringList bound;
        PortalShortcutList accepted;
        for (const PortalShortcut& shortcut : shortcuts) {
            const QString trigger = shortcut.properties.value("preferred_trigger").toString();
            if (sessionHandle.path() == session && !refused_.contains(shortcut.id) && !refuseAll_) {
                bound << QStringLiteral("%1|%2|%3")
                             .arg(shortcut.id, trigger,
                                  shortcut.properties.value("description").toString());
                accepted.append(
                    {shortcut.id, {{QStringLiteral("trigger_description"), "Bound " + trigger}}});
            }
        }
        if (open.contains(sessionHandle.path())) {
            open[sessionHandle.path()] = bound;
        }
        Respond(request, {{QStringLiteral("shortcuts"), QVariant::fromValue(accepted)}}, delayMs_,
                refuseAll_ ? kCancelled : 0U);
        return request;
    }

private:
    QStringList refused_;
    int delayMs_;
    bool refuseAll_;
};

class Control : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.hushwell.test.PortalControl")
public:
    explicit Control(FakeShortcuts& portal) : portal_(portal) {}

public slots:
    QStringList Bound() { return portal_.open.value(portal_.session); }
    int OpenSessions() { return static_cast<int>(portal_.open.size()); }
    int SessionsMade() { return portal_.sessionsMade; }
    void Activate(const QString& id) {
        QDBusMessage signal = QDBusMessage::createSignal(
            QLatin1String(kDesktopPath), QStringLiteral("org.freedesktop.portal.GlobalShortcuts"),
            QStringLiteral("Activated"));
        signal << QVariant::fromValue(QDBusObjectPath(portal_.session)) << id << quint64{0}
               << QVariantMap();
        QDBusConnection::sessionBus().send(signal);
    }
    void Quit() { QTimer::singleShot(0, qApp, &QCoreApplication::quit); }

private:
    FakeShortcuts& portal_;
};

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    hushwell::RegisterPortalShortcutTypes();
    QStringList refused;
    const QStringList arguments = app.arguments();
    const qsizetype refuse = arguments.indexOf(QStringLiteral("--refuse"));
    if (refuse >= 0 && refuse + 1 < arguments.size()) {
        refused = arguments[refuse + 1].split(QLatin1Char(','));
    }
    const qsizetype delay = arguments.indexOf(QStringLiteral("--delay-ms"));
    const int delayMs =
        delay >= 0 && delay + 1 < arguments.size() ? arguments[delay + 1].toInt() : 0;
    FakeShortcuts portal(refused, delayMs, arguments.contains(QStringLiteral("--refuse-all")));
    Control control(portal);
    QDBusConnection bus = QDBusConnection::sessionBus();
    const auto exported = QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties;
    if (!bus.registerObject(QLatin1String(kDesktopPath), &portal, exported) ||
        !bus.registerObject(QStringLiteral("/control"), &control, exported) ||
        !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
        return 1;
    }
    return app.exec();
}

#include "FakeGlobalShortcutsPortal.moc"
