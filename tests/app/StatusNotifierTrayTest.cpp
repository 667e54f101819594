#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusVariant>
#include <QEventLoop>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "app/CMyApplicationTrayWnd.h"
#include "app/DBusTrayTypes.h"
#include "app/TrayEngine.h"
#include "persistence/ConfigFile.h"
#include "tests/app/StandInStatusNotifierWatcher.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "triggers/EventLog.h"
#include "ui/CSettingsDlg.h"

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

class TestTrayWnd final : public CMyApplicationTrayWnd {
public:
    using CMyApplicationTrayWnd::CMyApplicationTrayWnd;

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

}  // namespace

class StatusNotifierTrayTest : public QObject {
    Q_OBJECT
public slots:
    void OnLayoutUpdated(uint /*revision*/, int parent) {
        if (parent == 0) {
            ++layoutUpdates_;
        }
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
        CMyApplicationTrayWnd::Setup setup;
        setup.makeEngine = [](QtEngineTimers&) { return std::make_unique<IdleEngine>(); };
        setup.grabber = &grabber_;
        setup.configPath = ConfigFile::PathIn(folder_->path().toStdString());
        ProgramLog().SetPath((folder_->path() + QStringLiteral("/log.txt")).toStdString());
        window_ = std::make_unique<TestTrayWnd>(std::move(setup));
        window_->SetDoubleClickIntervalMs(kClickIntervalMs);
        window_->Create();
        window_->StartEngine();
        window_->CreateSettingsWindow();
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

    std::unique_ptr<QTemporaryDir> folder_;
    std::unique_ptr<StandInStatusNotifierWatcher> watcher_;
    FakeHotkeyGrabber grabber_;
    Host host_;
    int layoutUpdates_ = 0;
    std::unique_ptr<TestTrayWnd> window_;
};

}  // namespace hushwell

QTEST_MAIN(hushwell::StatusNotifierTrayTest)
#include "StatusNotifierTrayTest.moc"
