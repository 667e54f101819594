// The portal hotkey grabber against a stand-in GlobalShortcuts portal on a private session
// bus (the test runs under dbus-run-session).
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include "app/PortalHotkeyGrabber.h"
#include "ui/COptionsDlg.h"
#include "ui/HotkeyList.h"
#include "ui/VirtualKeyTable.h"

using namespace hushwell;

namespace {

constexpr int kDeadlineMs = 10000;
const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");

bool PortalOnBus() {
    return QDBusConnection::sessionBus().interface()->isServiceRegistered(kPortalService);
}

// The stand-in portal process; stopped by its own id when the test ends.
class FakePortal {
public:
    explicit FakePortal(const QStringList& arguments = {}) {
        process_.start(QStringLiteral(HUSHWELL_FAKE_PORTAL), arguments);
    }
    ~FakePortal() {
        process_.kill();
        process_.waitForFinished();
    }
    bool WaitUntilOnBus() {
        QDeadlineTimer deadline(kDeadlineMs);
        while (!PortalOnBus() && !deadline.hasExpired()) {
            QTest::qWait(10);
        }
        return PortalOnBus();
    }
    QStringList Bound() { return QDBusReply<QStringList>(Control().call("Bound")).value(); }
    void Activate(const QString& id) { Control().call("Activate", id); }
    void Quit() {
        Control().call("Quit");
        QVERIFY(process_.waitForFinished(kDeadlineMs));
    }

private:
    QDBusInterface Control() {
        return QDBusInterface(kPortalService, QStringLiteral("/control"),
                              QStringLiteral("org.hushwell.test.PortalControl"));
    }
    QProcess process_;
};

struct Reports {
    std::vector<int> pressed;
    QStringList logged;
    PortalHotkeyGrabber Make() {
        return PortalHotkeyGrabber([this](int id) { pressed.push_back(id); },
                                   [this](std::string_view line) {
                                       logged << QString::fromUtf8(line.data(),
                                                                   static_cast<int>(line.size()));
                                   });
    }
};

}  // namespace

class PortalHotkeyGrabberTest : public QObject {
    Q_OBJECT
private slots:
    void init() { QTRY_VERIFY_WITH_TIMEOUT(!PortalOnBus(), kDeadlineMs); }

    void triggersAreInTheShortcutsNotation() {
        using K = VirtualKeyTable;
        QCOMPARE(PortalHotkeyGrabber::TriggerOf(7, K::kF1 + 11), "CTRL+ALT+SHIFT+F12");
        QCOMPARE(PortalHotkeyGrabber::TriggerOf(HotkeyGrabber::kWindows, K::kLetterA), "LOGO+a");
        QCOMPARE(PortalHotkeyGrabber::TriggerOf(HotkeyGrabber::kControl, 40), "CTRL+Down");
        QCOMPARE(PortalHotkeyGrabber::TriggerOf(HotkeyGrabber::kAlt, 0), QString());
    }

    void withoutPortalEveryRegistrationFails() {
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        QVERIFY(!grabber.Available());
        QVERIFY(!grabber.Register(HotkeyList::kRecordSoundId, 7, 123));
    }

    // The four hotkeys arrive with their labels and combinations; what the desktop reports it
    // bound is kept; key probes do not reach the portal; a combination is held by one id.
    void bindsTheFourHotkeys() {
        FakePortal portal;
        QVERIFY(portal.WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        QVERIFY(grabber.Available());
        HotkeyList list;
        list.RegisterHotkeys(grabber);
        for (const HotkeyRecord& record : list.Records()) {
            QCOMPARE(record.active, "v");
        }
        const QStringList expected = {
            "RecordSound|CTRL+ALT+SHIFT+F12|Capture/Record",
            "StopStartThis|CTRL+ALT+SHIFT+F11|SystemTray/Stop,Start",
            "RecordSave|CTRL+ALT+Up|Capture/Rec. & Save",
            "Register|CTRL+ALT+Down|Capture/Register",
        };
        QStringList bound = portal.Bound();
        bound.sort();
        QStringList sorted = expected;
        sorted.sort();
        QCOMPARE(bound, sorted);
        QCOMPARE(grabber.BoundTrigger(HotkeyList::kRecordSaveId), "Bound CTRL+ALT+Up");

        QVERIFY(!HotkeyList::BuildKeyList(grabber, HotkeyGrabber::kControl).empty());
        QCOMPARE(portal.Bound().size(), expected.size());
        QVERIFY(!grabber.Register(HotkeyList::kProbeId, 7, 123));
    }

    // The options page shows, per hotkey, the trigger the desktop reports it bound.
    void optionsPageShowsTheBoundTriggers() {
        FakePortal portal({"--refuse", "Register"});
        QVERIFY(portal.WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        QTemporaryDir folder;
        COptionsDlg::Setup setup;
        setup.grabber = &grabber;
        setup.configPath = folder.filePath("hushwell.xml").toStdString();
        COptionsDlg page(setup);
        auto* rows = page.findChild<QListWidget*>(QStringLiteral("hotkeyList"));
        QVERIFY(rows != nullptr);
        QCOMPARE(rows->item(COptionsDlg::kRecordSaveItem)->toolTip(),
                 "Bound by the desktop: Bound CTRL+ALT+Up");
        QCOMPARE(rows->item(COptionsDlg::kRegisterItem)->toolTip(), QString());
    }

    // A press is reported by id, in order; an unregistered id's press is not.
    void activationReportsTheId() {
        FakePortal portal;
        QVERIFY(portal.WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        HotkeyList list;
        list.RegisterHotkeys(grabber);
        grabber.Unregister(HotkeyList::kRegisterId);
        portal.Activate("Register");
        portal.Activate("StopStartThis");
        QTRY_COMPARE_WITH_TIMEOUT(reports.pressed.size(), std::size_t{1}, kDeadlineMs);
        QCOMPARE(reports.pressed[0], HotkeyList::kStopStartThisId);
        QCOMPARE(list.ActionFor(reports.pressed[0]), HotkeyAction::StopStartThis);
    }

    // A shortcut the desktop leaves out is a failed registration: its record goes inactive;
    // the others stay bound.
    void refusedShortcutMakesTheRecordInactive() {
        FakePortal portal({"--refuse", "RecordSave"});
        QVERIFY(portal.WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        HotkeyList list;
        list.RegisterHotkeys(grabber);
        QCOMPARE(list.Record(Settings::kRecordSave).active, "_");
        QCOMPARE(list.Record(Settings::kRecordSound).active, "v");
        QCOMPARE(list.Record(Settings::kRegister).active, "v");
        QCOMPARE(grabber.BoundTrigger(HotkeyList::kRecordSaveId), std::string());
        portal.Activate("Register");
        QTRY_COMPARE_WITH_TIMEOUT(reports.pressed.size(), std::size_t{1}, kDeadlineMs);
        QCOMPARE(reports.pressed[0], HotkeyList::kRegisterId);
    }

    // The portal leaving the bus takes the hotkeys with it, logged once.
    void portalGoingAwayIsLoggedOnce() {
        auto portal = std::make_unique<FakePortal>();
        QVERIFY(portal->WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        HotkeyList list;
        list.RegisterHotkeys(grabber);
        portal->Quit();
        QTRY_COMPARE_WITH_TIMEOUT(reports.logged.size(), 1, kDeadlineMs);
        QVERIFY(!grabber.Register(HotkeyList::kRecordSoundId, 7, 123));
        QCOMPARE(grabber.BoundTrigger(HotkeyList::kRecordSoundId), std::string());

        portal = std::make_unique<FakePortal>();
        QVERIFY(portal->WaitUntilOnBus());
        portal->Quit();
        QTRY_VERIFY_WITH_TIMEOUT(!PortalOnBus(), kDeadlineMs);
        QCoreApplication::processEvents();
        QCOMPARE(reports.logged.size(), 1);
    }
};

QTEST_MAIN(PortalHotkeyGrabberTest)
#include "PortalHotkeyGrabberTest.moc"
