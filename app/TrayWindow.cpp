#include "app/TrayWindow.h"

#include <QAbstractEventDispatcher>
#include <QDBusConnection>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include "app/ControlNotices.h"
#include "app/DesktopNotifier.h"
#include "app/PortalHotkeyGrabber.h"
#include "app/ProgramIcon.h"
#include "app/TrayEngine.h"
#include "app/X11HotkeyGrabber.h"
#include "detection/DetectionEngine.h"
#include "triggers/EventLog.h"
#include "triggers/TriggerList.h"
#include "triggers/VolumeManager.h"
#include "ui/CaptureEditor.h"
#include "ui/ConfigurationOwner.h"
#include "ui/SettingsWindow.h"
#include "ui/TriggerEditor.h"

namespace hushwell {

namespace {

constexpr const char* kTip = "Hushwell";
constexpr const char* kAboutTitle = "Version";
constexpr const char* kAboutText =
    "Hushwell, Version 1.1.0\n\nListens to what the computer plays and mutes or "
    "turns it down when it hears one of your sounds.";
constexpr const char* kNoTrayMessage = "No system tray is available; running without an icon.";

}  // namespace

TrayWindow::TrayWindow(Setup setup, QObject* parent)
    : TrayIconOwner(parent), setup_(std::move(setup)), timers_([this](int id) {
          if (engine_) {
              engine_->OnEngineTimer(id);
          }
      }) {
    engine_ = setup_.makeEngine(timers_);
    grabber_ = setup_.grabber;
    if (grabber_ == nullptr) {
        MakeGrabber();
    }
    BuildMenu();
}

TrayWindow::~TrayWindow() {
    // The engine goes first: its timers and controls must not outlive the window. The notices
    // stop listening to its runners before.
    notices_.reset();
    engine_.reset();
    timers_.StopAll();
    ReleaseSettingsWindow();
}

void TrayWindow::ReleaseSettingsWindow() {
    // The window saves the configuration as it goes; one never made leaves that to this.
    if (!settingsReleased_ && !settingsWindow_ && configuration_ != nullptr) {
        configuration_->Save();
    }
    settingsReleased_ = true;
    settingsWindow_.reset();
    if (configuration_ != nullptr) {
        configuration_->ReleaseHotkeys();
    }
}

// The desktop portal where the session offers one (the only way to hotkeys under Wayland),
// else X11 grabs; without either, every registration fails.
void TrayWindow::MakeGrabber() {
    auto portal = std::make_unique<PortalHotkeyGrabber>(
        [this](int id) { OnHotkey(id); }, [](std::string_view line) { WriteLogLine(line); });
    if (portal->Available()) {
        grabber_ = portal.get();
        ownGrabber_ = std::move(portal);
        return;
    }
    MakeX11Grabber();
}

void TrayWindow::MakeX11Grabber() {
    auto grabber = std::make_unique<X11HotkeyGrabber>([this](int id) { OnHotkey(id); });
    if (grabber->Available()) {
        hotkeyNotifier_ =
            std::make_unique<QSocketNotifier>(grabber->ConnectionFd(), QSocketNotifier::Read);
        X11HotkeyGrabber* raw = grabber.get();
        connect(hotkeyNotifier_.get(), &QSocketNotifier::activated, this,
                [raw] { raw->ProcessEvents(); });
        connect(QAbstractEventDispatcher::instance(), &QAbstractEventDispatcher::aboutToBlock, this,
                [raw] { raw->ProcessQueuedEvents(); });
    }
    grabber_ = grabber.get();
    ownGrabber_ = std::move(grabber);
}

void TrayWindow::Create() {
    icon_ = ProgramIcon::Make();
    if (!AddIcon(icon_, QString::fromLatin1(kTip), &menu_)) {
        WriteLogLine(kNoTrayMessage);
    }
}

void TrayWindow::StartEngine() {
    if (engine_) {
        engine_->Start();
    }
    DetectionEngine* detection = Detection();
    if (detection == nullptr || detection->Runners() == nullptr || notices_) {
        return;
    }
    notifier_ = std::make_unique<DesktopNotifier>(QDBusConnection::sessionBus());
    notifier_->SetEnabled(notificationsOn_);
    notices_ = std::make_unique<ControlNotices>(*detection->Runners(), *notifier_);
    notices_->onRunningChanged = [this](const std::vector<std::string>& names) {
        SetToolTipDescription(RunningText(names));
    };
}

void TrayWindow::SetNotifications(bool on) {
    notificationsOn_ = on;
    if (notifier_) {
        notifier_->SetEnabled(on);
    }
}

QString TrayWindow::RunningText(const std::vector<std::string>& names) {
    if (names.empty()) {
        return {};
    }
    QStringList shown;
    for (const std::string& name : names) {
        shown << QString::fromStdString(name);
    }
    return QStringLiteral("Running: ") + shown.join(QStringLiteral(", "));
}

DetectionEngine* TrayWindow::Detection() {
    return engine_ ? engine_->Detection() : nullptr;
}

void TrayWindow::CreateSettingsWindow(ConfigurationOwner& configuration) {
    DeferSettingsWindow(configuration, {});
    EnsureSettingsWindow();
}

void TrayWindow::DeferSettingsWindow(ConfigurationOwner& configuration,
                                     std::function<void(SettingsWindow&)> created) {
    configuration_ = &configuration;
    settingsCreated_ = std::move(created);
}

SettingsWindow* TrayWindow::EnsureSettingsWindow() {
    if (settingsWindow_ || configuration_ == nullptr || settingsReleased_) {
        return settingsWindow_.get();
    }
    ConfigurationOwner& configuration = *configuration_;
    SettingsWindow::Setup setup;
    setup.paths = setup_.paths;
    settingsWindow_ = std::make_unique<SettingsWindow>(configuration, std::move(setup));
    // The sound editor records from the engine's capture and plays on the program's backend.
    CaptureEditor& capture = settingsWindow_->CapturePage();
    if (engine_ && engine_->Detection() != nullptr) {
        capture.SetCaptureAccess(CaptureEditor::AccessOf(*engine_->Detection()));
    }
    capture.SetBackend(setup_.backend);
    // The trigger list editor starts from the engine's live list and hands its edits back.
    if (engine_ && engine_->Detection() != nullptr) {
        settingsWindow_->ControlsPage().AttachEngine(*engine_->Detection());
    }
    if (settingsCreated_) {
        settingsCreated_(*settingsWindow_);
    }
    return settingsWindow_.get();
}

void TrayWindow::BuildMenu() {
    menu_.clear();
    for (const TrayMenuEntry& entry : TrayMenuEntries(runState_)) {
        if (entry.command == 0) {
            menu_.addSeparator();
            continue;
        }
        QAction* action = menu_.addAction(
            QString::fromUtf8(entry.text.data(), static_cast<qsizetype>(entry.text.size())));
        action->setData(entry.command);
        const int command = entry.command;
        connect(
            action, &QAction::triggered, this, [this, command] { OnCommand(command); },
            Qt::QueuedConnection);
    }
}

void TrayWindow::SetRunState(RunState state) {
    runState_ = state;
    BuildMenu();
}

void TrayWindow::OnCommand(int command) {
    if (shutDown_) {
        return;
    }
    switch (command) {
        case kCommandToolsSettings:
            if (SettingsWindow* window = EnsureSettingsWindow()) {
                window->ShowInFront();
                window->ControlsPage().ClearUnsavedFlag();
            }
            break;
        case kCommandStop:
            Stop();
            break;
        case kCommandStart:
            Start();
            break;
        case kCommandHelp:
            OpenHelp();
            break;
        case kCommandAbout:
            ShowAbout();
            break;
        case kCommandExit:
            Shutdown();
            break;
        default:
            break;
    }
}

void TrayWindow::Stop() {
    if (runState_ == RunState::Paused) {
        return;
    }
    if (engine_) {
        engine_->Stop();
    }
    SetRunState(RunState::Paused);
}

void TrayWindow::Start() {
    if (runState_ != RunState::Paused) {
        return;
    }
    SetRunState(RunState::Running);
    if (engine_) {
        engine_->Start();
    }
}

void TrayWindow::OpenHelp() {
    const QString path = QString::fromStdString(setup_.manualPath);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !OpenDocument(path)) {
        ShowMessage(path + QStringLiteral(" not found."));
    }
}

bool TrayWindow::OpenDocument(const QString& path) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {path},
                                   QFileInfo(path).absolutePath());
}

void TrayWindow::ShowAbout() {
    QMessageBox box;
    box.setWindowTitle(QString::fromLatin1(kAboutTitle));
    box.setIconPixmap(ProgramIcon::Make().pixmap(48, 48));
    box.setText(QString::fromLatin1(kAboutText));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void TrayWindow::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QString(), text, QMessageBox::Ok);
    box.exec();
}

void TrayWindow::OnTrayLButtonDblClk() {
    OnCommand(kCommandAbout);
}

void TrayWindow::OnTrayRButtonClick() {
    // The host shows the context menu itself; it must offer the entry of the current state.
    BuildMenu();
}

void TrayWindow::ShowSettingsPage(int page) {
    if (SettingsWindow* window = EnsureSettingsWindow()) {
        window->ShowPage(page);
    }
}

// The command reaches the capture page from the event loop, as a posted message would.
void TrayWindow::PostCaptureCommand(int command) {
    SettingsWindow* window = EnsureSettingsWindow();
    if (window == nullptr) {
        return;
    }
    CaptureEditor* page = &window->CapturePage();
    QMetaObject::invokeMethod(
        page, [page, command] { page->OnCommand(command); }, Qt::QueuedConnection);
}

void TrayWindow::OnHotkey(int id) {
    if (shutDown_) {
        return;
    }
    if (configuration_ == nullptr || settingsReleased_) {
        return;
    }
    OnHotkeyAction(configuration_->HotkeyActionFor(id));
}

void TrayWindow::OnHotkeyAction(HotkeyAction action) {
    if (shutDown_ || configuration_ == nullptr || settingsReleased_) {
        return;
    }
    switch (action) {
        case HotkeyAction::RecordSound:
            ShowSettingsPage(SettingsWindow::kCapturePage);
            PostCaptureCommand(CaptureEditor::kRecord);
            break;
        case HotkeyAction::StopStartThis:
            if (runState_ == RunState::Running) {
                Stop();
            } else {
                Start();
            }
            break;
        case HotkeyAction::RecordSave:
            PostCaptureCommand(CaptureEditor::kRecordAndSave);
            break;
        case HotkeyAction::Register:
            PostCaptureCommand(CaptureEditor::kRegister);
            break;
        case HotkeyAction::None:
            break;
    }
}

int TrayWindow::ActiveTriggerCount() {
    DetectionEngine* detection = engine_ ? engine_->Detection() : nullptr;
    if (detection == nullptr) {
        return 0;
    }
    const TriggerList& list = detection->Triggers();
    std::lock_guard guard(list.Mutex());
    std::size_t count = 0;
    for (TriggerKind kind : {TriggerKind::Sound, TriggerKind::Time, TriggerKind::Level}) {
        count += list.ActiveRecords(kind).size();
    }
    return static_cast<int>(count);
}

void TrayWindow::Shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    notices_.reset();  // the runners it listens to end with the engine
    if (engine_) {
        engine_->Shutdown();
    }
    timers_.StopAll();
    RemoveIcon();
    // Its destruction has the owner write the configuration file; then the hotkeys go.
    ReleaseSettingsWindow();
    if (setup_.volumeManager != nullptr) {
        // The undo of a running control is only a request; wait until the output has it.
        constexpr std::chrono::milliseconds kUndoWait{5000};
        setup_.volumeManager->WaitUntilIdle(kUndoWait);
    }
    WriteLogLine("Quitting.");
    emit ShutdownFinished();
}

}  // namespace hushwell
