#include "app/CMyApplicationTrayWnd.h"

#include <QAbstractEventDispatcher>
#include <QFileInfo>
#include <QMessageBox>
#include <QProcess>
#include <QSocketNotifier>
#include <QSystemTrayIcon>

#include "app/PortalHotkeyGrabber.h"
#include "app/ProgramIcon.h"
#include "app/TrayEngine.h"
#include "app/X11HotkeyGrabber.h"
#include "detection/DetectionEngine.h"
#include "triggers/CTriggerList.h"
#include "triggers/CVolumeManager.h"
#include "triggers/EventLog.h"
#include "ui/CBrindleDlg.h"
#include "ui/CSettingsDlg.h"
#include "ui/CtriggerRegEditDlg.h"

namespace hushwell {

namespace {

constexpr const char* kTip = "Hushwell";
constexpr const char* kAboutTitle = "Version";
constexpr const char* kAboutText =
    "Hushwell, Version 1.1.0\n\nListens to what the computer plays and mutes or "
    "turns it down when it hears one of your sounds.";
constexpr const char* kNoTrayMessage = "No system tray is available; running without an icon.";

}  // namespace

CMyApplicationTrayWnd::CMyApplicationTrayWnd(Setup setup, QObject* parent)
    : CTrayWnd(parent), setup_(std::move(setup)), timers_([this](int id) {
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

CMyApplicationTrayWnd::~CMyApplicationTrayWnd() {
    // The engine goes first: its timers and controls must not outlive the window.
    engine_.reset();
    timers_.StopAll();
    settingsWindow_.reset();
}

// The desktop portal where the session offers one (the only way to hotkeys under Wayland),
// else X11 grabs; without either, every registration fails.
void CMyApplicationTrayWnd::MakeGrabber() {
    auto portal = std::make_unique<PortalHotkeyGrabber>(
        [this](int id) { OnHotkey(id); }, [](std::string_view line) { WriteLogLine(line); });
    if (portal->Available()) {
        grabber_ = portal.get();
        ownGrabber_ = std::move(portal);
        return;
    }
    MakeX11Grabber();
}

void CMyApplicationTrayWnd::MakeX11Grabber() {
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

void CMyApplicationTrayWnd::Create() {
    icon_ = ProgramIcon::Make();
    if (!AddIcon(icon_, QString::fromLatin1(kTip), &menu_)) {
        WriteLogLine(kNoTrayMessage);
    }
}

void CMyApplicationTrayWnd::StartEngine() {
    if (engine_) {
        engine_->Start();
    }
}

void CMyApplicationTrayWnd::CreateSettingsWindow() {
    CSettingsDlg::Setup setup;
    setup.grabber = grabber_;
    setup.volumeManager = setup_.volumeManager;
    setup.configPath = setup_.configPath;
    setup.startupFolder = setup_.startupFolder;
    setup.programPath = setup_.programPath;
    setup.programName = setup_.programName;
    if (engine_ && engine_->Detection() != nullptr) {
        setup.applyVerification = [detection = engine_->Detection()](bool on) {
            detection->SetVerification(on);
        };
    }
    settingsWindow_ = std::make_unique<CSettingsDlg>(std::move(setup));
    // The sound editor records from the engine's capture and plays on the program's backend.
    CBrindleDlg& capture = settingsWindow_->CapturePage();
    if (engine_ && engine_->Detection() != nullptr) {
        capture.SetCaptureAccess(CBrindleDlg::AccessOf(*engine_->Detection()));
    }
    capture.SetBackend(setup_.backend);
    // The trigger list editor starts from the engine's live list and hands its edits back.
    if (engine_ && engine_->Detection() != nullptr) {
        settingsWindow_->ControlsPage().AttachEngine(*engine_->Detection());
    }
}

void CMyApplicationTrayWnd::BuildMenu() {
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

void CMyApplicationTrayWnd::SetRunState(RunState state) {
    runState_ = state;
    BuildMenu();
}

void CMyApplicationTrayWnd::OnCommand(int command) {
    if (shutDown_) {
        return;
    }
    switch (command) {
        case kCommandToolsSettings:
            if (settingsWindow_) {
                settingsWindow_->ShowInFront();
                settingsWindow_->ControlsPage().ClearUnsavedFlag();
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

void CMyApplicationTrayWnd::Stop() {
    if (runState_ == RunState::Paused) {
        return;
    }
    if (engine_) {
        engine_->Stop();
    }
    SetRunState(RunState::Paused);
}

void CMyApplicationTrayWnd::Start() {
    if (runState_ != RunState::Paused) {
        return;
    }
    SetRunState(RunState::Running);
    if (engine_) {
        engine_->Start();
    }
}

void CMyApplicationTrayWnd::OpenHelp() {
    const QString path = QString::fromStdString(setup_.manualPath);
    if (path.isEmpty() || !QFileInfo(path).isFile() || !OpenDocument(path)) {
        ShowMessage(path + QStringLiteral(" not found."));
    }
}

bool CMyApplicationTrayWnd::OpenDocument(const QString& path) {
    return QProcess::startDetached(QStringLiteral("xdg-open"), {path},
                                   QFileInfo(path).absolutePath());
}

void CMyApplicationTrayWnd::ShowAbout() {
    QMessageBox box;
    box.setWindowTitle(QString::fromLatin1(kAboutTitle));
    box.setIconPixmap(ProgramIcon::Make().pixmap(48, 48));
    box.setText(QString::fromLatin1(kAboutText));
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
}

void CMyApplicationTrayWnd::ShowMessage(const QString& text) {
    QMessageBox box(QMessageBox::Critical, QString(), text, QMessageBox::Ok);
    box.exec();
}

void CMyApplicationTrayWnd::OnTrayLButtonDblClk() {
    OnCommand(kCommandAbout);
}

void CMyApplicationTrayWnd::OnTrayRButtonClick() {
    // The host shows the context menu itself; it must offer the entry of the current state.
    BuildMenu();
}

void CMyApplicationTrayWnd::ShowSettingsPage(int page) {
    if (settingsWindow_) {
        settingsWindow_->ShowPage(page);
    }
}

// The command reaches the capture page from the event loop, as a posted message would.
void CMyApplicationTrayWnd::PostCaptureCommand(int command) {
    CBrindleDlg* page = &settingsWindow_->CapturePage();
    QMetaObject::invokeMethod(
        page, [page, command] { page->OnCommand(command); }, Qt::QueuedConnection);
}

void CMyApplicationTrayWnd::OnHotkey(int id) {
    if (shutDown_) {
        return;
    }
    if (!settingsWindow_) {
        return;
    }
    OnHotkeyAction(settingsWindow_->HotkeyActionFor(id));
}

void CMyApplicationTrayWnd::OnHotkeyAction(HotkeyAction action) {
    if (shutDown_ || !settingsWindow_) {
        return;
    }
    switch (action) {
        case HotkeyAction::RecordSound:
            ShowSettingsPage(CSettingsDlg::kCapturePage);
            PostCaptureCommand(CBrindleDlg::kRecord);
            break;
        case HotkeyAction::StopStartThis:
            if (runState_ == RunState::Running) {
                Stop();
            } else {
                Start();
            }
            break;
        case HotkeyAction::RecordSave:
            PostCaptureCommand(CBrindleDlg::kRecordAndSave);
            break;
        case HotkeyAction::Register:
            PostCaptureCommand(CBrindleDlg::kRegister);
            break;
        case HotkeyAction::None:
            break;
    }
}

int CMyApplicationTrayWnd::ActiveTriggerCount() {
    DetectionEngine* detection = engine_ ? engine_->Detection() : nullptr;
    if (detection == nullptr) {
        return 0;
    }
    const CTriggerList& list = detection->Triggers();
    std::lock_guard guard(list.Mutex());
    std::size_t count = 0;
    for (TriggerKind kind : {TriggerKind::Sound, TriggerKind::Time, TriggerKind::Level}) {
        count += list.ActiveRecords(kind).size();
    }
    return static_cast<int>(count);
}

void CMyApplicationTrayWnd::Shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    if (engine_) {
        engine_->Shutdown();
    }
    timers_.StopAll();
    RemoveIcon();
    // Its destruction releases the hotkeys and writes the configuration file.
    settingsWindow_.reset();
    if (setup_.volumeManager != nullptr) {
        // The undo of a running control is only a request; wait until the output has it.
        constexpr std::chrono::milliseconds kUndoWait{5000};
        setup_.volumeManager->WaitUntilIdle(kUndoWait);
    }
    WriteLogLine("Quitting.");
    emit ShutdownFinished();
}

}  // namespace hushwell
