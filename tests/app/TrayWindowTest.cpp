#include <QAbstractButton>
#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

#include "app/TrayEngine.h"
#include "app/TrayWindow.h"
#include "persistence/ConfigFile.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "triggers/EventLog.h"
#include "ui/CaptureEditor.h"
#include "ui/ConfigurationOwner.h"
#include "ui/SettingsWindow.h"

namespace hushwell {

namespace {

constexpr int kClickIntervalMs = 80;

// Records what the window asks of its engine; starting it starts the feed timer.
struct EngineLog {
    int starts = 0;
    int stops = 0;
    int shutdowns = 0;
    std::vector<int> timerCalls;
    QtEngineTimers* timers = nullptr;
};

class RecordingEngine final : public TrayEngine {
public:
    RecordingEngine(EngineLog& log, QtEngineTimers& timers) : log_(log) { log_.timers = &timers; }
    void Start() override {
        ++log_.starts;
        log_.timers->Start(200, std::chrono::milliseconds(50));
        log_.timers->Start(100, std::chrono::milliseconds(3000));
    }
    void Stop() override {
        ++log_.stops;
        log_.timers->Stop(100);
        log_.timers->Stop(200);
    }
    void Shutdown() override {
        ++log_.shutdowns;
        Stop();
    }
    void OnEngineTimer(int id) override { log_.timerCalls.push_back(id); }

private:
    EngineLog& log_;
};

// The tray window with its dialogs recorded instead of shown.
class TestTrayWnd final : public TrayWindow {
public:
    using TrayWindow::OnTrayLButtonClick;
    using TrayWindow::TrayWindow;

    int abouts = 0;
    int singleClicks = 0;
    QStringList messages;
    QStringList opened;
    bool openSucceeds = true;

protected:
    void OnTrayLButtonClick() override { ++singleClicks; }
    void ShowAbout() override { ++abouts; }
    void ShowMessage(const QString& text) override { messages << text; }
    bool OpenDocument(const QString& path) override {
        opened << path;
        return openSucceeds;
    }
};

QStringList MenuTexts(QMenu& menu) {
    QStringList texts;
    for (QAction* action : menu.actions()) {
        texts << (action->isSeparator() ? QStringLiteral("-") : action->text());
    }
    return texts;
}

}  // namespace

class TrayWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        engine_ = EngineLog{};
        grabber_ = FakeHotkeyGrabber{};
        MakeWindow();
    }

    void cleanup() {
        window_.reset();
        ProgramLog().SetPath({});
    }

    void menuOffersTheEntryLeadingToTheOtherState() {
        const QStringList running = {
            "Tools && Settings(&T)", "Stop(&S)", "Help(&H)", "About(&A)", "-", "Exit(&X)"};
        QCOMPARE(MenuTexts(window_->Menu()), running);
        QCOMPARE(window_->Menu().actions()[1]->data().toInt(), int{kCommandStop});

        window_->OnCommand(kCommandStop);
        QCOMPARE(window_->State(), RunState::Paused);
        QCOMPARE(engine_.stops, 1);
        QCOMPARE(window_->Menu().actions()[1]->text(), QStringLiteral("Start(&S)"));
        QCOMPARE(window_->Menu().actions()[1]->data().toInt(), int{kCommandStart});
        window_->OnCommand(kCommandStop);  // already stopped: nothing more
        QCOMPARE(engine_.stops, 1);

        window_->OnCommand(kCommandStart);
        QCOMPARE(window_->State(), RunState::Running);
        QCOMPARE(engine_.starts, 2);
        QCOMPARE(window_->Menu().actions()[1]->text(), QStringLiteral("Stop(&S)"));
    }

    void choosingAMenuEntryRunsItsCommand() {
        window_->Menu().actions()[1]->trigger();
        QTRY_COMPARE(window_->State(), RunState::Paused);
    }

    void engineTimersRunWithTheirPeriodsWhileDetectionRuns() {
        QtEngineTimers& timers = window_->Timers();
        QVERIFY(timers.IsRunning(100));
        QCOMPARE(timers.PeriodMs(100), 3000);
        QTRY_VERIFY(std::count(engine_.timerCalls.begin(), engine_.timerCalls.end(), 200) >= 2);
        window_->OnCommand(kCommandStop);
        QVERIFY(!timers.IsRunning(100));
        QVERIFY(!timers.IsRunning(200));
    }

    void singleClickIsReportedOnlyAfterTheDoubleClickTime() {
        window_->OnIconActivated(QSystemTrayIcon::Trigger);
        QCOMPARE(window_->singleClicks, 0);
        QTRY_COMPARE(window_->singleClicks, 1);
        QCOMPARE(window_->abouts, 0);
    }

    void doubleClickOpensAboutWithoutASingleClickFirst() {
        window_->OnIconActivated(QSystemTrayIcon::Trigger);
        window_->OnIconActivated(QSystemTrayIcon::Trigger);
        QCOMPARE(window_->abouts, 1);
        // A host that also reports the double click itself does not open a second box.
        window_->OnIconActivated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(window_->abouts, 1);
        // The next click starts afresh and is a single click once the time has passed.
        window_->OnIconActivated(QSystemTrayIcon::Trigger);
        QTRY_COMPARE(window_->singleClicks, 1);
        QCOMPARE(window_->abouts, 1);
    }

    void hostReportedDoubleClickCancelsThePendingSingleClick() {
        window_->OnIconActivated(QSystemTrayIcon::Trigger);
        window_->OnIconActivated(QSystemTrayIcon::DoubleClick);
        QCOMPARE(window_->abouts, 1);
        window_->OnIconActivated(QSystemTrayIcon::Trigger);
        QTRY_COMPARE(window_->singleClicks, 1);  // only the later click
    }

    void hotkeysDispatchByRecordId() {
        window_->OnHotkey(HotkeyList::kStopStartThisId);
        QCOMPARE(window_->State(), RunState::Paused);
        window_->OnHotkey(HotkeyList::kStopStartThisId);
        QCOMPARE(window_->State(), RunState::Running);
        QCOMPARE(engine_.stops, 1);
        QCOMPARE(engine_.starts, 2);

        window_->SettingsDialog().ShowPage(SettingsWindow::kLogsPage);
        window_->SettingsDialog().hide();
        window_->OnHotkey(HotkeyList::kRecordSoundId);
        QVERIFY(window_->SettingsDialog().isVisible());
        QCOMPARE(window_->SettingsDialog().CurrentPage(), int{SettingsWindow::kCapturePage});
        CaptureEditor& capture = window_->SettingsDialog().CapturePage();
        QTRY_VERIFY(capture.IsRecording());
        capture.OnCommand(CaptureEditor::kStop);

        // Record-and-save and register reach the capture page without showing the window.
        window_->SettingsDialog().hide();
        // Without capture the record-and-save hears nothing new: it ends without a file and
        // leaves register off.
        window_->OnHotkey(HotkeyList::kRecordSaveId);
        QTRY_VERIFY(capture.IsRecording());
        QTRY_VERIFY_WITH_TIMEOUT(!capture.IsRecording() && !capture.IsBusy() &&
                                     capture.Button(CaptureEditor::kRecordAndSave)->isEnabled(),
                                 20000);
        QVERIFY(!capture.Button(CaptureEditor::kRegister)->isEnabled());
        capture.Button(CaptureEditor::kRegister)->setEnabled(true);  // as after a saved one
        window_->OnHotkey(HotkeyList::kRegisterId);
        QTRY_VERIFY(!capture.Button(CaptureEditor::kRegister)->isEnabled());
        QVERIFY(!window_->SettingsDialog().isVisible());

        window_->OnHotkey(12345);
        QCOMPARE(window_->State(), RunState::Running);
    }

    void toolsAndSettingsShowsTheSettingsWindow() {
        QVERIFY(!window_->SettingsDialog().isVisible());
        window_->OnCommand(kCommandToolsSettings);
        QVERIFY(window_->SettingsDialog().isVisible());
    }

    void deferredSettingsWindowIsMadeOnceWhenFirstShown() {
        window_.reset();
        settingsMade_ = 0;
        MakeWindow(true);
        QVERIFY(!window_->HasSettingsWindow());
        // A hotkey that needs no window leaves it unmade.
        window_->OnHotkey(HotkeyList::kStopStartThisId);
        QCOMPARE(window_->State(), RunState::Paused);
        window_->OnHotkey(HotkeyList::kStopStartThisId);
        QVERIFY(!window_->HasSettingsWindow());
        QCOMPARE(settingsMade_, 0);

        window_->OnCommand(kCommandToolsSettings);
        QVERIFY(window_->HasSettingsWindow());
        QVERIFY(window_->SettingsDialog().isVisible());
        window_->SettingsDialog().hide();
        window_->OnCommand(kCommandToolsSettings);
        QVERIFY(window_->SettingsDialog().isVisible());
        QCOMPARE(settingsMade_, 1);
    }

    void deferredSettingsWindowComesForARecordHotkeyAndNotAfterShutdown() {
        window_.reset();
        settingsMade_ = 0;
        MakeWindow(true);
        window_->OnHotkey(HotkeyList::kRecordSoundId);
        QCOMPARE(settingsMade_, 1);
        QVERIFY(window_->SettingsDialog().isVisible());
        QCOMPARE(window_->SettingsDialog().CurrentPage(), int{SettingsWindow::kCapturePage});
        CaptureEditor& capture = window_->SettingsDialog().CapturePage();
        QTRY_VERIFY(capture.IsRecording());
        capture.OnCommand(CaptureEditor::kStop);

        // Shut down before it was ever made: the configuration is saved all the same, with
        // the hotkey that could not be had turned off.
        window_.reset();
        grabber_.taken.insert({3, 38});
        MakeWindow(true);
        const std::string path = ConfigFile::PathIn(folder_->path().toStdString());
        QFile::remove(QString::fromStdString(path));
        window_->Shutdown();
        window_->OnHotkey(HotkeyList::kRecordSoundId);
        window_->OnCommand(kCommandToolsSettings);
        QVERIFY(!window_->HasSettingsWindow());
        QCOMPARE(settingsMade_, 1);
        Settings saved;
        QVERIFY(ConfigFile::Load(saved, path));
        QCOMPARE(saved.hotkeys[Settings::kRecordSave].active, std::string("_"));
    }

    void helpOpensTheManualOrSaysItIsMissing() {
        const QString manual = folder_->path() + QStringLiteral("/hushwell.html");
        window_->OnCommand(kCommandHelp);
        QCOMPARE(window_->messages, QStringList({manual + QStringLiteral(" not found.")}));
        QVERIFY(window_->opened.isEmpty());

        QFile file(manual);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        window_->OnCommand(kCommandHelp);
        QCOMPARE(window_->opened, QStringList({manual}));
        QCOMPARE(window_->messages.size(), 1);
    }

    void exitStopsTheEngineSavesTheConfigurationAndLogsQuitting() {
        window_.reset();
        engine_ = EngineLog{};
        grabber_.taken.insert({3, 38});
        MakeWindow();  // RecordSave cannot be had now
        QSignalSpy finished(window_.get(), &TrayWindow::ShutdownFinished);
        window_->OnCommand(kCommandExit);
        QCOMPARE(finished.count(), 1);
        QCOMPARE(engine_.shutdowns, 1);
        QVERIFY(grabber_.registered.empty());
        QVERIFY(!window_->IconShown());

        Settings saved;
        QVERIFY(ConfigFile::Load(saved, ConfigFile::PathIn(folder_->path().toStdString())));
        QCOMPARE(saved.hotkeys[Settings::kRecordSave].active, std::string("_"));
        QCOMPARE(saved.hotkeys[Settings::kRecordSound].active, std::string("v"));

        QFile log(folder_->path() + QStringLiteral("/log.txt"));
        QVERIFY(log.open(QIODevice::ReadOnly));
        QVERIFY(log.readAll().endsWith(",Quitting.\n"));

        // Once shut down, later commands and a second shutdown do nothing.
        window_->OnCommand(kCommandStart);
        window_->OnHotkey(HotkeyList::kStopStartThisId);
        window_->Shutdown();
        QCOMPARE(engine_.starts, 1);
        QCOMPARE(finished.count(), 1);
    }

private:
    // deferSettings: the settings window is made on first need, counting in settingsMade_.
    void MakeWindow(bool deferSettings = false) {
        TrayWindow::Setup setup;
        setup.makeEngine = [this](QtEngineTimers& timers) {
            return std::make_unique<RecordingEngine>(engine_, timers);
        };
        setup.grabber = &grabber_;
        setup.paths = ProgramPaths::ForDataFolder(folder_->path().toStdString());
        setup.manualPath = (folder_->path() + QStringLiteral("/hushwell.html")).toStdString();
        ProgramLog().SetPath((folder_->path() + QStringLiteral("/log.txt")).toStdString());
        window_ = std::make_unique<TestTrayWnd>(std::move(setup));
        window_->SetDoubleClickIntervalMs(kClickIntervalMs);
        window_->Create();
        window_->StartEngine();
        configuration_.reset();  // its destructor releases its ids: before the new one
        configuration_ = std::make_unique<ConfigurationOwner>(ConfigurationOwner::Setup{
            &grabber_, nullptr, ConfigFile::PathIn(folder_->path().toStdString()), {}});
        if (deferSettings) {
            window_->DeferSettingsWindow(*configuration_,
                                         [this](SettingsWindow&) { ++settingsMade_; });
        } else {
            window_->CreateSettingsWindow(*configuration_);
        }
    }

    std::unique_ptr<QTemporaryDir> folder_;
    EngineLog engine_;
    FakeHotkeyGrabber grabber_;
    std::unique_ptr<ConfigurationOwner> configuration_;
    std::unique_ptr<TestTrayWnd> window_;
    int settingsMade_ = 0;
};

}  // namespace hushwell

QTEST_MAIN(hushwell::TrayWindowTest)
#include "TrayWindowTest.moc"
