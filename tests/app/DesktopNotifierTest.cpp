#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QSignalSpy>
#include <QTest>
#include <memory>

#include "app/ControlNotices.h"
#include "app/DesktopNotifier.h"
#include "app/TrayWindow.h"
#include "tests/detection/DetectionTestSupport.h"

namespace hushwell {

namespace {

constexpr int kDeadlineMs = 20000;
const QString kService = QString::fromLatin1(DesktopNotifier::kService);
const QString kPath = QString::fromLatin1(DesktopNotifier::kPath);

// A notification service as a desktop runs one: it keeps what it was asked to show, and the
// test plays the user who chooses an action or closes a notification.
class StandInNotifications final : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public:
    struct Shown {
        uint id = 0;
        QString appName;
        QString summary;
        QString body;
        QStringList actions;
    };

    // Serves on a connection of its own, as another program would.
    bool Register() {
        bus_ = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, QStringLiteral("standin")));
        return bus_->registerObject(
                   kPath, this,
                   QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllSignals) &&
               bus_->registerService(kService);
    }
    // The service goes away (its program ended).
    void Unregister() {
        bus_->unregisterService(kService);
        bus_->unregisterObject(kPath);
        QDBusConnection::disconnectFromBus(QStringLiteral("standin"));
        bus_.reset();
    }
    void ChooseAction(uint id, const QString& action) { emit ActionInvoked(id, action); }

    std::vector<Shown> shown;

public slots:
    uint Notify(const QString& appName, uint, const QString&, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap&, int) {
        shown.push_back({++lastId_, appName, summary, body, actions});
        return lastId_;
    }
    void CloseNotification(uint id) { emit NotificationClosed(id, 3); }
    QStringList GetCapabilities() { return {QStringLiteral("actions"), QStringLiteral("body")}; }

signals:
    void ActionInvoked(uint id, const QString& action);
    void NotificationClosed(uint id, uint reason);

private:
    std::unique_ptr<QDBusConnection> bus_;
    uint lastId_ = 40;
};

Trigger Jingle(const std::string& control, int seconds, std::uint32_t serial) {
    Trigger trigger = testing::MakeTrigger("sound", "Ad jingle", control, seconds);
    trigger.serialId = serial;
    return trigger;
}

}  // namespace

class DesktopNotifierTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        harness_ = std::make_unique<testing::RunnerHarness>();
        notifier_ = std::make_unique<DesktopNotifier>(QDBusConnection::sessionBus());
        notices_ = std::make_unique<ControlNotices>(*harness_->runners, *notifier_);
        running_.clear();
        notices_->onRunningChanged = [this](const std::vector<std::string>& names) {
            running_ = names;
        };
    }
    void cleanup() {
        notices_.reset();
        notifier_.reset();
        harness_.reset();
    }

    // The text says what fired and what it does; "Undo" ends that control now and the output
    // is as before; the tray's line of running controls follows.
    void aStartedControlIsShownAndUndoEndsIt() {
        StandInNotifications service;
        QVERIFY(service.Register());
        QSignalSpy shown(notifier_.get(), &DesktopNotifier::Shown);
        harness_->runners->StartSoundControl(Jingle("mute", 30, 7), false);
        QVERIFY(harness_->MutedSoon(true));
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, kDeadlineMs);
        QCOMPARE(service.shown.size(), std::size_t{1});
        const StandInNotifications::Shown& first = service.shown.front();
        QCOMPARE(first.appName, QStringLiteral("Hushwell"));
        QCOMPARE(first.body, QStringLiteral("Ad jingle: muted for 00:00:30"));
        QCOMPARE(first.actions, (QStringList{QStringLiteral("undo"), QStringLiteral("Undo")}));
        QTRY_COMPARE_WITH_TIMEOUT(running_, std::vector<std::string>{"Ad jingle"}, kDeadlineMs);
        QCOMPARE(TrayWindow::RunningText(running_), QStringLiteral("Running: Ad jingle"));

        // Another program's notification with the same action word changes nothing.
        service.ChooseAction(first.id + 100, QStringLiteral("undo"));
        service.ChooseAction(first.id, QStringLiteral("undo"));
        QTRY_COMPARE_WITH_TIMEOUT(harness_->runners->Size(), std::size_t{0}, kDeadlineMs);
        QVERIFY(harness_->MutedSoon(false));
        QTRY_VERIFY_WITH_TIMEOUT(running_.empty(), kDeadlineMs);
        QCOMPARE(TrayWindow::RunningText(running_), QString());
        QCOMPARE(notifier_->OpenCount(), std::size_t{0});
        service.Unregister();
    }

    // Without a service the control runs as ever; a service that goes away takes its
    // notifications with it, and a late "Undo" for one of them ends nothing.
    void aMissingOrVanishingServiceChangesNothingElse() {
        harness_->runners->StartSoundControl(Jingle("down 40", 60, 1), false);
        QCOMPARE(harness_->PercentSoon(10), 10);
        QTRY_COMPARE_WITH_TIMEOUT(running_.size(), std::size_t{1}, kDeadlineMs);
        QCOMPARE(notifier_->OpenCount(), std::size_t{0});

        StandInNotifications service;
        QVERIFY(service.Register());
        QSignalSpy shown(notifier_.get(), &DesktopNotifier::Shown);
        harness_->runners->StartSoundControl(Jingle("mute", 60, 2), false);
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, kDeadlineMs);
        QCOMPARE(notifier_->OpenCount(), std::size_t{1});
        const uint id = service.shown.back().id;
        service.Unregister();
        QTRY_COMPARE_WITH_TIMEOUT(notifier_->OpenCount(), std::size_t{0}, kDeadlineMs);

        StandInNotifications again;
        QVERIFY(again.Register());
        again.ChooseAction(id, QStringLiteral("undo"));
        // A notification shown after it proves the signal was delivered and ignored.
        harness_->runners->StartSoundControl(Jingle("unmute", 5, 3), false);
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 2, kDeadlineMs);
        QCOMPARE(harness_->runners->Size(), std::size_t{3});
        again.Unregister();
    }

    void switchedOffItShowsNothing() {
        StandInNotifications service;
        QVERIFY(service.Register());
        notifier_->SetEnabled(false);
        harness_->runners->StartSoundControl(Jingle("mute", 10, 1), false);
        QTRY_COMPARE_WITH_TIMEOUT(running_.size(), std::size_t{1}, kDeadlineMs);
        notifier_->SetEnabled(true);
        QSignalSpy shown(notifier_.get(), &DesktopNotifier::Shown);
        harness_->runners->StartSoundControl(Jingle("up 5", 10, 2), false);
        QTRY_COMPARE_WITH_TIMEOUT(shown.count(), 1, kDeadlineMs);
        QCOMPARE(service.shown.size(), std::size_t{1});  // only the second
        QCOMPARE(service.shown.front().body, QStringLiteral("Ad jingle: volume up 5 for 00:00:10"));
        service.Unregister();
    }

    void theTextSaysWhatEachControlDoes() {
        StartedControl control;
        control.triggerName = "News";
        control.undoable = true;
        control.control = "down 40";
        control.seconds = 3725;
        QCOMPARE(DesktopNotifier::BodyText(control),
                 QStringLiteral("News: volume down 40 for 01:02:05"));
        control.control = "unmute";
        control.seconds = 59;
        QCOMPARE(DesktopNotifier::BodyText(control), QStringLiteral("News: unmuted for 00:00:59"));
        control.undoable = false;
        control.control = "exec";
        control.command = "notify-send";
        QCOMPARE(DesktopNotifier::BodyText(control), QStringLiteral("News: opened notify-send"));
        QCOMPARE(TrayWindow::RunningText({"News", "Ad jingle"}),
                 QStringLiteral("Running: News, Ad jingle"));
    }

private:
    std::unique_ptr<testing::RunnerHarness> harness_;
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<ControlNotices> notices_;
    std::vector<std::string> running_;
};

}  // namespace hushwell

QTEST_MAIN(hushwell::DesktopNotifierTest)
#include "DesktopNotifierTest.moc"
