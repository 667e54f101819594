#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QXmlStreamReader>

#include "app/DBusTrayTypes.h"
#include "app/TrayEngine.h"
#include "app/TrayWindow.h"
#include "persistence/ConfigFile.h"
#include "tests/app/StandInStatusNotifierWatcher.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "triggers/EventLog.h"
#include "ui/ConfigurationOwner.h"
#include "ui/SettingsWindow.h"

namespace hushwell {

namespace {

constexpr int kClickIntervalMs = 80;
constexpr int kReplyDeadlineMs = 10000;
const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kMenuInterface = QStringLiteral("com.canonical.dbusmenu");

class IdleEngine final : public TrayEngine {
public:
    void Start() override {}
    void Stop() override {}
    void Shutdown() override {}
    void OnEngineTimer(int /*id*/) override {}
};

class TestTrayWnd final : public TrayWindow {
public:
    using TrayWindow::TrayWindow;

    int abouts = 0;
    int singleClicks = 0;

protected:
    void OnTrayLButtonClick() override { ++singleClicks; }
    void ShowAbout() override { ++abouts; }
};

// The desktop's side: calls the item as a host does, without blocking the program's thread,
// which answers them.
class Host {
public:
    Host() : bus_(QDBusConnection::connectToBus(QDBusConnection::SessionBus, kName)) {}
    ~Host() { QDBusConnection::disconnectFromBus(kName); }

    QDBusMessage Call(const QString& service, const QString& path, const QString& interface,
                      const QString& method, const QVariantList& arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
        message.setArguments(arguments);
        QDBusPendingCall pending = bus_.asyncCall(message, kReplyDeadlineMs);
        QDBusPendingCallWatcher watcher(pending);
        QEventLoop loop;
        QObject::connect(&watcher, &QDBusPendingCallWatcher::finished, &loop, &QEventLoop::quit);
        if (!watcher.isFinished()) {
            loop.exec();
        }
        return pending.reply();
    }

    // Counts the menu's LayoutUpdated signals, after which a host fetches the layout anew.
    bool WatchLayout(const QString& service, QObject* receiver, const char* slot) {
        return bus_.connect(service, QStringLiteral("/MenuBar"), kMenuInterface,
                            QStringLiteral("LayoutUpdated"), receiver, slot);
    }

    bool WatchProperties(const QString& service, QObject* receiver, const char* slot) {
        return bus_.connect(service, QStringLiteral("/MenuBar"), kMenuInterface,
                            QStringLiteral("ItemsPropertiesUpdated"), receiver, slot);
    }

    QVariant Property(const QString& service, const QString& path, const QString& interface,
                      const QString& name) {
        const QDBusMessage reply =
            Call(service, path, QStringLiteral("org.freedesktop.DBus.Properties"),
                 QStringLiteral("Get"), {interface, name});
        return reply.arguments().value(0).value<QDBusVariant>().variant();
    }

private:
    static inline const QString kName = QStringLiteral("test-host");
    QDBusConnection bus_;
};

QStringList Labels(const DBusMenuLayoutItem& root) {
    QStringList labels;
    for (const DBusMenuLayoutItem& item : root.children) {
        labels << (item.properties.value(QStringLiteral("type")).toString() ==
                           QStringLiteral("separator")
                       ? QStringLiteral("-")
                       : item.properties.value(QStringLiteral("label")).toString());
    }
    return labels;
}

// The members of one interface in introspection data, one line each:
// "method GetProperty(i, s) -> (v)", "signal LayoutUpdated(u, i)", "property Version u". Only
// the order among the in (and among the out) arguments counts on the bus.
QStringList MembersOf(const QString& xml, const QString& interface) {
    QStringList members;
    QXmlStreamReader reader(xml);
    bool inside = false;
    QString kind;
    QString name;
    QStringList arguments;
    QStringList results;
    while (!reader.atEnd()) {
        reader.readNext();
        const QString element = reader.name().toString();
        const QXmlStreamAttributes attributes = reader.attributes();
        if (reader.isStartElement() && element == QStringLiteral("interface")) {
            inside = attributes.value(QStringLiteral("name")) == interface;
        } else if (!inside) {
            continue;
        } else if (reader.isStartElement() && element == QStringLiteral("property")) {
            members << QStringLiteral("property %1 %2")
                           .arg(attributes.value(QStringLiteral("name")).toString(),
                                attributes.value(QStringLiteral("type")).toString());
        } else if (reader.isStartElement() &&
                   (element == QStringLiteral("method") || element == QStringLiteral("signal"))) {
            kind = element;
            name = attributes.value(QStringLiteral("name")).toString();
            arguments.clear();
            results.clear();
        } else if (reader.isStartElement() && element == QStringLiteral("arg")) {
            const QString type = attributes.value(QStringLiteral("type")).toString();
            const bool out = kind == QStringLiteral("method") &&
                             attributes.value(QStringLiteral("direction")) == QStringLiteral("out");
            (out ? results : arguments) << type;
        } else if (reader.isEndElement() &&
                   (element == QStringLiteral("method") || element == QStringLiteral("signal"))) {
            const QString returned =
                results.isEmpty() ? QString() : QStringLiteral(" -> (%1)").arg(results.join(", "));
            members
                << QStringLiteral("%1 %2(%3)%4").arg(kind, name, arguments.join(", "), returned);
        } else if (reader.isEndElement() && element == QStringLiteral("interface")) {
            inside = false;
        }
    }
    members.sort();
    return members;
}

}  // namespace

class StatusNotifierTrayTest : public QObject {
    Q_OBJECT
public slots:
    void OnLayoutUpdated(uint /*revision*/, int parent) {
        if (parent == 0) {
            ++layoutUpdates_;
        }
    }
    void OnPropertiesUpdated(const QDBusMessage& message) {
        updatedProperties_.append(
            qdbus_cast<QList<DBusMenuItemProperties>>(message.arguments().value(0)));
    }

private slots:
    void initTestCase() {
        QVERIFY2(QDBusConnection::sessionBus().isConnected(),
                 "needs a private session bus (run under dbus-run-session)");
        RegisterDBusTrayTypes();
    }

    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        watcher_ = std::make_unique<StandInStatusNotifierWatcher>();
    }

    void cleanup() {
        window_.reset();
        watcher_.reset();
        ProgramLog().SetPath({});
    }

    void labelsTakeTheHostsMnemonicMarks() {
        QCOMPARE(DBusMenuLabel("Tools && Settings(&T)"), std::string("Tools & Settings(_T)"));
        QCOMPARE(DBusMenuLabel("Stop(&S)"), std::string("Stop(_S)"));
        QCOMPARE(DBusMenuLabel("snake_case(&C)"), std::string("snake__case(_C)"));
        QCOMPARE(DBusMenuLabel("&A&B"), std::string("_AB"));  // only the first mark counts
        QCOMPARE(DBusMenuLabel("A && B &"), std::string("A & B &"));
        QCOMPARE(DBusMenuLabel(""), std::string());
    }

    void itemIsRegisteredWithItsIconAndTip() {
        QVERIFY(watcher_->Start());
        MakeWindow();
        const QString service = window_->NotifierItem().ServiceName();
        QCOMPARE(watcher_->RegisteredStatusNotifierItems(), QStringList{service});
        QVERIFY(window_->IconShown());
        QVERIFY(!window_->TrayIcon().isVisible());  // one icon, not two

        const auto tip = qdbus_cast<DBusToolTip>(ItemProperty(QStringLiteral("ToolTip")));
        QCOMPARE(tip.title, QStringLiteral("Hushwell"));
        QCOMPARE(ItemProperty(QStringLiteral("Title")).toString(), QStringLiteral("Hushwell"));
        QCOMPARE(ItemProperty(QStringLiteral("Menu")).value<QDBusObjectPath>().path(),
                 QStringLiteral("/MenuBar"));

        const auto images =
            qdbus_cast<QList<DBusIconPixmap>>(ItemProperty(QStringLiteral("IconPixmap")));
        QVERIFY(!images.isEmpty());
        QCOMPARE(images.first().width, 16);
        QCOMPARE(images.first().pixels.size(), 16 * 16 * 4);
        QVERIFY(images.first().pixels.count('\0') < images.first().pixels.size());
    }

    void activateFollowsTheClickRule() {
        QVERIFY(watcher_->Start());
        MakeWindow();
        Activate();
        QCOMPARE(window_->singleClicks, 0);
        QTRY_COMPARE(window_->singleClicks, 1);

        Activate();
        Activate();
        QCOMPARE(window_->abouts, 1);
        QTest::qWait(3 * kClickIntervalMs);  // a late single click would show up here
        QCOMPARE(window_->singleClicks, 1);
    }

    void exportedMenuCarriesTheRunStateMenuAndRunsItsCommands() {
        QVERIFY(watcher_->Start());
        MakeWindow();
        QCOMPARE(Labels(Layout()), QStringList({"Tools & Settings(_T)", "Stop(_S)", "Help(_H)",
                                                "About(_A)", "-", "Exit(_X)"}));
        QVERIFY(host_.WatchLayout(window_->NotifierItem().ServiceName(), this,
                                  SLOT(OnLayoutUpdated(uint, int))));
        layoutUpdates_ = 0;

        Click(2);
        QTRY_COMPARE(window_->State(), RunState::Paused);
        QTRY_VERIFY(layoutUpdates_ > 0);  // the host hears that Stop became Start
        QCOMPARE(Labels(Layout()).value(1), QStringLiteral("Start(_S)"));
        Click(2);
        QTRY_COMPARE(window_->State(), RunState::Running);
        QCOMPARE(Labels(Layout()).value(1), QStringLiteral("Stop(_S)"));

        QVERIFY(!window_->SettingsDialog().isVisible());
        Click(1);
        QTRY_VERIFY(window_->SettingsDialog().isVisible());
    }

    // Hosts built on libdbusmenu (Xfce, MATE, Budgie) click with EventGroup only; hosts that
    // keep the fetched properties learn the new label from ItemsPropertiesUpdated.
    void eventGroupRunsTheClickAndAnnouncesTheNewLabel() {
        QVERIFY(watcher_->Start());
        MakeWindow();
        Layout();
        QVERIFY(host_.WatchProperties(window_->NotifierItem().ServiceName(), this,
                                      SLOT(OnPropertiesUpdated(QDBusMessage))));
        updatedProperties_.clear();

        const QDBusMessage reply = ClickGroup({2});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(qdbus_cast<QList<int>>(reply.arguments().value(0)), QList<int>());
        QTRY_COMPARE(window_->State(), RunState::Paused);
        QCOMPARE(Labels(Layout()).value(1), QStringLiteral("Start(_S)"));
        QTRY_VERIFY(!updatedProperties_.isEmpty());
        QCOMPARE(updatedProperties_.size(), 1);
        QCOMPARE(updatedProperties_[0].id, 2);
        QCOMPARE(updatedProperties_[0].properties,
                 QVariantMap({{QStringLiteral("label"), QStringLiteral("Start(_S)")}}));

        const auto properties = qdbus_cast<QList<DBusMenuItemProperties>>(
            CallItem(QStringLiteral("/MenuBar"), kMenuInterface,
                     QStringLiteral("GetGroupProperties"),
                     {QVariant::fromValue(QList<int>{2, 99}), QStringList{QStringLiteral("label")}})
                .arguments()
                .value(0));
        QCOMPARE(properties.size(), 1);
        QCOMPARE(properties[0].properties.value(QStringLiteral("label")),
                 QVariant(QStringLiteral("Start(_S)")));
    }

    void eventGroupReturnsTheUnknownIds() {
        QVERIFY(watcher_->Start());
        MakeWindow();
        QDBusMessage reply = ClickGroup({99, 2});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
        QCOMPARE(qdbus_cast<QList<int>>(reply.arguments().value(0)), QList<int>{99});
        QTRY_COMPARE(window_->State(), RunState::Paused);

        reply = ClickGroup({99, -1});
        QCOMPARE(reply.type(), QDBusMessage::ErrorMessage);
        QCOMPARE(reply.errorName(), QStringLiteral("com.canonical.dbusmenu.UnknownId"));
        QTest::qWait(3 * kClickIntervalMs);  // a click that ran anyway would show here
        QCOMPARE(window_->State(), RunState::Paused);
    }

    // The menu offers what hosts call, with the argument types they send and expect.
    void menuInterfaceHasTheHostsSignatures() {
        QVERIFY(watcher_->Start());
        MakeWindow();
        const QDBusMessage reply = CallItem(QStringLiteral("/MenuBar"),
                                            QStringLiteral("org.freedesktop.DBus.Introspectable"),
                                            QStringLiteral("Introspect"), {});
        QStringList expected = {
            "property Version u",
            "property TextDirection s",
            "property Status s",
            "property IconThemePath as",
            "method GetLayout(i, i, as) -> (u, (ia{sv}av))",
            "method GetGroupProperties(ai, as) -> (a(ia{sv}))",
            "method GetProperty(i, s) -> (v)",
            "method Event(i, s, v, u)",
            "method EventGroup(a(isvu)) -> (ai)",
            "method AboutToShow(i) -> (b)",
            "method AboutToShowGroup(ai) -> (ai, ai)",
            "signal ItemsPropertiesUpdated(a(ia{sv}), a(ias))",
            "signal LayoutUpdated(u, i)",
            "signal ItemActivationRequested(i, u)",
        };
        expected.sort();
        QCOMPARE(MembersOf(reply.arguments().value(0).toString(), kMenuInterface), expected);
    }

    void iconIsRegisteredAgainWhenAWatcherAppears() {
        MakeWindow();  // no desktop shell yet
        QVERIFY(!window_->NotifierItem().IsRegistered());
        const QString service = window_->NotifierItem().ServiceName();

        QVERIFY(watcher_->Start());
        QTRY_COMPARE(watcher_->RegisteredStatusNotifierItems(), QStringList{service});
        QVERIFY(!window_->TrayIcon().isVisible());

        // The shell restarts: a new watcher hears of the item again.
        watcher_.reset();
        QTRY_VERIFY(!window_->NotifierItem().IsRegistered());
        watcher_ = std::make_unique<StandInStatusNotifierWatcher>();
        QVERIFY(watcher_->Start());
        QTRY_COMPARE(watcher_->RegisteredStatusNotifierItems(), QStringList{service});
        QVERIFY(window_->NotifierItem().IsRegistered());
    }

private:
    void MakeWindow() {
        TrayWindow::Setup setup;
        setup.makeEngine = [](QtEngineTimers&) { return std::make_unique<IdleEngine>(); };
        setup.grabber = &grabber_;
        setup.paths = ProgramPaths::ForDataFolder(folder_->path().toStdString());
        ProgramLog().SetPath((folder_->path() + QStringLiteral("/log.txt")).toStdString());
        window_ = std::make_unique<TestTrayWnd>(std::move(setup));
        window_->SetDoubleClickIntervalMs(kClickIntervalMs);
        window_->Create();
        window_->StartEngine();
        configuration_.reset();  // its destructor releases its ids: before the new one
        configuration_ = std::make_unique<ConfigurationOwner>(ConfigurationOwner::Setup{
            &grabber_, nullptr, ConfigFile::PathIn(folder_->path().toStdString()), {}});
        window_->CreateSettingsWindow(*configuration_);
    }

    QVariant ItemProperty(const QString& name) {
        return host_.Property(window_->NotifierItem().ServiceName(),
                              QStringLiteral("/StatusNotifierItem"), kItemInterface, name);
    }

    QDBusMessage CallItem(const QString& path, const QString& interface, const QString& method,
                          const QVariantList& arguments) {
        return host_.Call(window_->NotifierItem().ServiceName(), path, interface, method,
                          arguments);
    }

    void Activate() {
        const QDBusMessage reply = CallItem(QStringLiteral("/StatusNotifierItem"), kItemInterface,
                                            QStringLiteral("Activate"), {0, 0});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    }

    DBusMenuLayoutItem Layout() {
        const QDBusMessage reply = CallItem(QStringLiteral("/MenuBar"), kMenuInterface,
                                            QStringLiteral("GetLayout"), {0, -1, QStringList()});
        return qdbus_cast<DBusMenuLayoutItem>(reply.arguments().value(1));
    }

    void Click(int id) {
        const QDBusMessage reply =
            CallItem(QStringLiteral("/MenuBar"), kMenuInterface, QStringLiteral("Event"),
                     {id, QStringLiteral("clicked"),
                      QVariant::fromValue(QDBusVariant(QVariant(QString()))), 0u});
        QCOMPARE(reply.type(), QDBusMessage::ReplyMessage);
    }

    QDBusMessage ClickGroup(const QList<int>& ids) {
        QList<DBusMenuEvent> events;
        for (int id : ids) {
            events.append(DBusMenuEvent{id, QStringLiteral("clicked"), QString(), 0});
        }
        return CallItem(QStringLiteral("/MenuBar"), kMenuInterface, QStringLiteral("EventGroup"),
                        {QVariant::fromValue(events)});
    }

    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<StandInStatusNotifierWatcher> watcher_;
    FakeHotkeyGrabber grabber_;
    std::unique_ptr<ConfigurationOwner> configuration_;
    Host host_;
    int layoutUpdates_ = 0;
    QList<DBusMenuItemProperties> updatedProperties_;
    std::unique_ptr<TestTrayWnd> window_;
};

}  // namespace hushwell

QTEST_MAIN(hushwell::StatusNotifierTrayTest)
#include "StatusNotifierTrayTest.moc"
