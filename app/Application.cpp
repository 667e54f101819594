#include "app/Application.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <vector>

#include "app/DetectionEngineHost.h"
#include "app/InstanceMessenger.h"
#include "app/QtEngineTimers.h"
#include "app/ShutdownSignals.h"
#include "app/TrayWindow.h"
#include "audio/SoundServerKind.h"
#include "audio/pulse/PulseBackend.h"
#include "base/ApplicationDataFolder.h"
#include "detection/DetectionEngine.h"
#include "triggers/ControlRunner.h"
#include "triggers/ControlWorkerShutdown.h"
#include "triggers/EventLog.h"
#include "triggers/ProgramVolumeManager.h"
#include "triggers/VolumeManager.h"
#include "triggers/VolumeRestoreRecord.h"
#include "ui/ConfigurationOwner.h"
#include "ui/LogPageFeed.h"
#include "ui/SettingsWindow.h"

namespace hushwell {

namespace {

// How long exit waits for control workers that their runners had to leave behind.
constexpr std::chrono::milliseconds kControlWorkersExitWait{10000};

constexpr const char* kPlainPulseAudioMessage =
    "The sound server is PulseAudio: a muted output is silent to detection until it is "
    "unmuted.";

bool EnvironmentHas(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

}  // namespace

int& Application::ChooseHeadlessPlatform(int& argc) {
    if (!EnvironmentHas("QT_QPA_PLATFORM") && !EnvironmentHas("DISPLAY") &&
        !EnvironmentHas("WAYLAND_DISPLAY")) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    }
    return argc;
}

Application::Application(int& argc, char** argv)
    : application_(ChooseHeadlessPlatform(argc), argv),
      backend_(std::make_unique<PulseBackend>()),
      volumeManager_(std::make_unique<VolumeManager>(*backend_)),
      programVolume_(std::make_unique<ProgramVolumeManager>(*backend_)) {
    QApplication::setApplicationName(QStringLiteral("Hushwell"));
    QApplication::setQuitOnLastWindowClosed(false);
    // The program-wide locks exist before start-up begins.
    ControlRunner::RunnerLock();
    ProgramLog();
}

Application::~Application() {
    signals_.reset();
    trayWnd_.reset();
    configuration_.reset();
    // A control worker still running may yet take its hold off a program: the program volume
    // manager then stays, as the output's does.
    if (ControlRunner::WaitForAllWorkers(kControlWorkersExitWait)) {
        programVolume_.reset();  // gives back every program it still holds
    } else {
        (void)programVolume_.release();
    }
    ReleaseAfterControlWorkers(volumeManager_, backend_, std::chrono::milliseconds(0));
}

bool Application::InitInstance() {
    // The one place the program's paths are worked out; everything below is given them.
    paths_ = ProgramPaths::ForDataFolder(ApplicationDataFolder());
    SetUpLogPath(paths_.dataFolder);
    WriteLogLine("Starting.");
    if (!EnsureFolderOrSay(paths_.dataFolder, "data folder")) {
        return false;
    }
    if (!EnsureFolderOrSay(paths_.soundFolder, "trigger folder")) {
        return false;
    }
    paths_.startupFolder = ProgramPaths::StartupFolder();
    paths_.programPath = ProgramPaths::RunningProgramPath();
    paths_.programName = ProgramPaths::ProgramNameOf(paths_.programPath);

    const std::string lockFolder = SingleInstanceLock::LockFolder(paths_.dataFolder);
    const std::string socketPath = InstanceMessenger::SocketPathIn(lockFolder);
    if (!instanceLock_.TryAcquire(lockFolder)) {
        if (!instanceLock_.Problem().empty()) {
            SayWhyNotStarted("the lock file " + SingleInstanceLock::PathIn(lockFolder) + " " +
                             instanceLock_.Problem());
            return false;
        }
        WriteLogLine("Already started.");
        alreadyStarted_ = InstanceMessenger::RequestShow(socketPath);
        if (!alreadyStarted_) {
            const std::string message =
                "The running instance cannot be reached through " + socketPath + ".";
            WriteLogLine(message);
            std::cerr << "Hushwell: " << message << std::endl;
        }
        return false;
    }
    LogSoundServerKind();
    // This instance owns the record of output changes: undo what a run that ended without
    // undoing left behind, then keep the record for this run.
    const std::string restorePath = VolumeRestoreRecord::PathIn(paths_.dataFolder);
    VolumeRestoreRecord::RestoreLeftOver(*backend_, restorePath, WriteLogLine);
    volumeManager_->SetRestoreRecordPath(restorePath);
    programVolume_->SetRecordFunction(
        [volume = volumeManager_.get()](const std::vector<StreamChange>& changes) {
            return volume->RecordProgramChanges(changes);
        });
    // From here a termination signal waits in a pipe for the message loop, which then shuts
    // down in order, even when it arrives while the engine is still starting.
    signals_ = std::make_unique<ShutdownSignals>();

    logFeed_ = std::make_unique<LogPageFeed>();

    TrayWindow::Setup setup;
    setup.makeEngine = [this](QtEngineTimers& timers) { return MakeEngine(timers); };
    setup.volumeManager = volumeManager_.get();
    setup.backend = backend_.get();
    setup.paths = paths_;
    setup.manualPath = ProgramPaths::ManualPathOf(paths_.programPath);
    trayWnd_ = std::make_unique<TrayWindow>(std::move(setup));
    trayWnd_->Create();
    trayWnd_->StartEngine();
    // The configuration is loaded, its hotkeys registered and its ramp rates set here, once;
    // the settings window's pages read it from its owner.
    ConfigurationOwner::Setup configuration{
        &trayWnd_->Grabber(), volumeManager_.get(), paths_.configFile, {}};
    if (DetectionEngine* detection = trayWnd_->Detection()) {
        configuration.applyVerification = [detection](bool on) { detection->SetVerification(on); };
    }

    configuration_ = std::make_unique<ConfigurationOwner>(std::move(configuration));
    TrayWindow* tray = trayWnd_.get();
    configuration_->SetNotificationsListener([tray](bool on) { tray->SetNotifications(on); });
    // The settings window is made when first needed; its log page then shows the firings
    // the feed kept meanwhile, and every later one.
    trayWnd_->DeferSettingsWindow(
        *configuration_, [this](SettingsWindow& window) { logFeed_->SetPage(&window.Logs()); });

    messenger_ = std::make_unique<InstanceMessenger>();
    if (!messenger_->Listen(socketPath)) {
        std::error_code error;
        const bool folder = std::filesystem::is_directory(socketPath, error);
        WriteLogLine("Cannot listen on the instance socket " + socketPath +
                     (folder ? " (a folder is in its place)" : "") +
                     ": a second start cannot reach this one.");
    }
    messenger_->SetHandler([this](ProgramCommand command) { return CarryOut(command); });
    if (showSettings_) {
        trayWnd_->OnCommand(kCommandToolsSettings);
    }

    QObject::connect(signals_.get(), &ShutdownSignals::Requested, trayWnd_.get(),
                     &TrayWindow::Shutdown);
    QObject::connect(trayWnd_.get(), &TrayWindow::ShutdownFinished, &application_,
                     &QCoreApplication::quit, Qt::QueuedConnection);
    // The desktop session ending quits the application: shut down in order on the way out.
    QObject::connect(&application_, &QCoreApplication::aboutToQuit, trayWnd_.get(),
                     &TrayWindow::Shutdown);
    return true;
}

bool Application::EnsureFolderOrSay(const std::string& folder, const std::string& what) {
    std::string problem;
    if (ProgramPaths::EnsureFolder(folder, &problem)) {
        return true;
    }
    SayWhyNotStarted("the " + what + " " + folder + " " + problem);
    return false;
}

void Application::SayWhyNotStarted(const std::string& reason) {
    const std::string message = "Cannot start: " + reason + ".";
    WriteLogLine(message);
    std::cerr << "Hushwell: " << message << std::endl;
}

int Application::Run() {
    if (!InitInstance()) {
        return alreadyStarted_ ? EXIT_SUCCESS : EXIT_FAILURE;
    }
    return QApplication::exec();
}

// A command from the command line of another start, as its menu entry or hotkey would do it.
std::string Application::CarryOut(ProgramCommand command) {
    switch (command) {
        case ProgramCommand::Show:
            trayWnd_->OnCommand(kCommandToolsSettings);
            break;
        case ProgramCommand::Record:
            trayWnd_->OnHotkeyAction(HotkeyAction::RecordSound);
            break;
        case ProgramCommand::RecordSave:
            trayWnd_->OnHotkeyAction(HotkeyAction::RecordSave);
            break;
        case ProgramCommand::Register:
            trayWnd_->OnHotkeyAction(HotkeyAction::Register);
            break;
        case ProgramCommand::Toggle:
            trayWnd_->OnHotkeyAction(HotkeyAction::StopStartThis);
            break;
        case ProgramCommand::Quit:
            // From the event loop, once the answer is on its way.
            QMetaObject::invokeMethod(
                trayWnd_.get(), [this] { trayWnd_->OnCommand(kCommandExit); },
                Qt::QueuedConnection);
            break;
        case ProgramCommand::Status:
            return StatusLine();
        case ProgramCommand::Run:
        case ProgramCommand::Help:
            break;
    }
    return InstanceMessenger::kDefaultReply;
}

// "running, 3 active triggers" or "stopped, 1 active trigger".
std::string Application::StatusLine() {
    const int count = trayWnd_->ActiveTriggerCount();
    return std::string(trayWnd_->State() == RunState::Running ? "running" : "stopped") + ", " +
           std::to_string(count) + (count == 1 ? " active trigger" : " active triggers");
}

std::unique_ptr<TrayEngine> Application::MakeEngine(QtEngineTimers& timers) {
    return std::make_unique<DetectionEngineHost>(*backend_, *volumeManager_, timers, paths_,
                                                 logFeed_.get(), programVolume_.get());
}

void Application::LogSoundServerKind() {
    std::string name;
    if (backend_->QueryServerName(name) == AudioResult::Ok &&
        ClassifySoundServer(name) == SoundServerKind::PulseAudio) {
        WriteLogLine(kPlainPulseAudioMessage);
    }
}

}  // namespace hushwell
