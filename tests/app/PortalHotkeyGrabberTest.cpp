// The portal hotkey grabber against a stand-in GlobalShortcuts portal on a private session
// bus (the test runs under dbus-run-session).
#include <QComboBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusInterface>
#include <QDBusReply>
#include <QListWidget>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

#include "app/PortalHotkeyGrabber.h"
#include "ui/ConfigurationOwner.h"
#include "ui/HotkeyList.h"
#include "ui/OptionsPage.h"
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
    // What the newest session holds, "id|trigger|description" each.
    QStringList Bound() { return QDBusReply<QStringList>(Control().call("Bound")).value(); }
    int OpenSessions() { return QDBusReply<int>(Control().call("OpenSessions")).value(); }
    int SessionsMade() { return QDBusReply<int>(Control().call("SessionsMade")).value(); }
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
    std::vector<std::pair<int, bool>> settled;  // (id, bound)
    PortalHotkeyGrabber Make() {
        return PortalHotkeyGrabber([this](int id) { pressed.push_back(id); },
                                   [this](std::string_view line) {
                                       logged << QString::fromUtf8(line.data(),
                                                                   static_cast<int>(line.size()));
                                   });
    }
    void Listen(PortalHotkeyGrabber& grabber) {
        grabber.SetSettledHandler([this](int id, bool bound) { settled.emplace_back(id, bound); });
    }
};

// An answer later than the grabber waits, as when the desktop asks the user first.
const QString kLateMs = QString::number(3 * PortalHotkeyGrabber::kResponseTimeout.count());

ConfigurationOwner::Setup OwnerSetup(HotkeyGrabber& grabber, const QTemporaryDir& folder) {
    return {&grabber, nullptr, folder.filePath("hushwell.xml").toStdString(), {}};
}

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
        ConfigurationOwner configuration(OwnerSetup(grabber, folder));
        OptionsPage page(configuration, {});
        auto* rows = page.findChild<QListWidget*>(QStringLiteral("hotkeyList"));
        QVERIFY(rows != nullptr);
        QCOMPARE(rows->item(OptionsPage::kRecordSaveItem)->toolTip(),
                 "Bound by the desktop: Bound CTRL+ALT+Up");
        QCOMPARE(rows->item(OptionsPage::kRegisterItem)->toolTip(), QString());
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
        // Released at the desktop: the rest bound again in a new session, the old one closed.
        QTRY_COMPARE_WITH_TIMEOUT(portal.Bound().size(), 3, kDeadlineMs);
        QCOMPARE(portal.OpenSessions(), 1);
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

    // The portal leaving the bus takes the hotkeys with it, logged once; meanwhile nothing
    // can be registered.
    void portalGoingAwayIsLoggedOnce() {
        auto portal = std::make_unique<FakePortal>();
        QVERIFY(portal->WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        HotkeyList list;
        list.RegisterHotkeys(grabber);
        portal->Quit();
        QTRY_COMPARE_WITH_TIMEOUT(reports.logged.size(), 1, kDeadlineMs);
        QVERIFY(!grabber.Register(HotkeyList::kRecordSoundId, 7, 122));
        QCOMPARE(grabber.BoundTrigger(HotkeyList::kRecordSoundId), std::string());
        QTRY_VERIFY_WITH_TIMEOUT(!PortalOnBus(), kDeadlineMs);
        QCoreApplication::processEvents();
        QCOMPARE(reports.logged.size(), 1);
    }

    // A restarted portal (an update, a crash) gets the hotkeys bound again in a new session,
    // logged once; presses arrive again.
    void portalRestartBindsTheHotkeysAgain() {
        auto portal = std::make_unique<FakePortal>();
        QVERIFY(portal->WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        reports.Listen(grabber);
        HotkeyList list;
        list.RegisterHotkeys(grabber);
        portal->Quit();
        QTRY_COMPARE_WITH_TIMEOUT(reports.logged.size(), 1, kDeadlineMs);
        portal.reset();

        portal = std::make_unique<FakePortal>(QStringList{"--refuse", "Register"});
        QVERIFY(portal->WaitUntilOnBus());
        QTRY_COMPARE_WITH_TIMEOUT(reports.logged.size(), 2, kDeadlineMs);
        QVERIFY(reports.logged[1].contains("bound again"));
        QCOMPARE(portal->Bound().size(), 3);
        QCOMPARE(grabber.BoundTrigger(HotkeyList::kRecordSaveId), "Bound CTRL+ALT+Up");
        // The refused one is reported, so its record goes off as at a first binding.
        QCOMPARE(reports.settled.size(), std::size_t{4});
        QVERIFY(std::count(reports.settled.begin(), reports.settled.end(),
                           std::pair{HotkeyList::kRegisterId, false}) == 1);

        portal->Activate("StopStartThis");
        QTRY_COMPARE_WITH_TIMEOUT(reports.pressed.size(), std::size_t{1}, kDeadlineMs);
        QCOMPARE(reports.pressed[0], HotkeyList::kStopStartThisId);
        QCOMPARE(reports.logged.size(), 2);
    }

    // The desktop answers after the wait: the page first shows every hotkey on, then what the
    // desktop bound; the refused one goes off in the edited and the applied records alike.
    void lateAnswerIsShownOnTheOptionsPage() {
        FakePortal portal({"--delay-ms", kLateMs, "--refuse", "RecordSave"});
        QVERIFY(portal.WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        QTemporaryDir folder;
        ConfigurationOwner configuration(OwnerSetup(grabber, folder));
        OptionsPage page(configuration, {});
        auto* rows = page.findChild<QListWidget*>(QStringLiteral("hotkeyList"));
        QCOMPARE(page.Edited().hotkeys.Records()[Settings::kRecordSave].active, "v");
        QCOMPARE(rows->item(OptionsPage::kRegisterItem)->toolTip(), QString());

        QTRY_COMPARE_WITH_TIMEOUT(page.Edited().hotkeys.Records()[Settings::kRecordSave].active,
                                  "_", kDeadlineMs);
        QCOMPARE(page.Applied().hotkeys.Records()[Settings::kRecordSave].active, "_");
        QVERIFY(OptionsPage::IsSameConfig(page.Applied(), page.Edited()));
        QCOMPARE(page.Edited().hotkeys.Records()[Settings::kRegister].active, "v");
        QCOMPARE(rows->item(OptionsPage::kRegisterItem)->toolTip(),
                 "Bound by the desktop: Bound CTRL+ALT+Down");
        QCOMPARE(rows->item(OptionsPage::kRecordSaveItem)->toolTip(), QString());
    }

    // A desktop that turns the whole set down late leaves nothing bound, and says so per id.
    void lateRefusalOfTheSetDropsEveryHotkey() {
        FakePortal portal({"--delay-ms", kLateMs, "--refuse-all"});
        QVERIFY(portal.WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        reports.Listen(grabber);
        HotkeyList list;
        list.RegisterHotkeys(grabber);
        for (const HotkeyRecord& record : list.Records()) {
            QCOMPARE(record.active, "v");  // not known yet
        }
        QTRY_COMPARE_WITH_TIMEOUT(reports.settled.size(), std::size_t{4}, kDeadlineMs);
        for (const auto& [id, bound] : reports.settled) {
            QVERIFY(!bound);
        }
        QCoreApplication::processEvents();
        QCOMPARE(reports.settled.size(), std::size_t{4});  // superseded answers are not taken
        QVERIFY(grabber.Register(HotkeyList::kProbeId, 7, 123));  // the combination is free
    }

    // Selecting a row registers its hotkey anew without asking the desktop; clearing it
    // ("---") releases it there; releasing the last one closes the session.
    void clearingAHotkeyReleasesItAtTheDesktop() {
        FakePortal portal;
        QVERIFY(portal.WaitUntilOnBus());
        Reports reports;
        PortalHotkeyGrabber grabber = reports.Make();
        QTemporaryDir folder;
        ConfigurationOwner configuration(OwnerSetup(grabber, folder));
        OptionsPage page(configuration, {});
        QCOMPARE(portal.Bound().size(), 4);
        auto* rows = page.findChild<QListWidget*>(QStringLiteral("hotkeyList"));
        auto* keys = page.findChild<QComboBox*>(QStringLiteral("keyList"));
        QVERIFY(keys != nullptr);
        const int sessionsMade = portal.SessionsMade();
        rows->setCurrentRow(OptionsPage::kRecordSaveItem);
        QCoreApplication::processEvents();  // where a release would be sent
        QCOMPARE(portal.SessionsMade(), sessionsMade);
        QCOMPARE(portal.Bound().size(), 4);
        keys->setFocus();
        QTest::keyClick(keys, Qt::Key_Down);
        QCOMPARE(keys->currentText(), QString::fromLatin1(OptionsPage::kNoKey));
        QTRY_COMPARE_WITH_TIMEOUT(portal.Bound().size(), 3, kDeadlineMs);
        QVERIFY(portal.Bound().filter("RecordSave|").isEmpty());
        QCOMPARE(portal.OpenSessions(), 1);

        for (int id :
             {HotkeyList::kRecordSoundId, HotkeyList::kStopStartThisId, HotkeyList::kRegisterId}) {
            grabber.Unregister(id);
        }
        QTRY_COMPARE_WITH_TIMEOUT(portal.OpenSessions(), 0, kDeadlineMs);
    }
};

QTEST_MAIN(PortalHotkeyGrabberTest)
#include "PortalHotkeyGrabberTest.moc"
