#pragma once

#include <QApplication>
#include <memory>
#include <string>

#include "app/ProgramCommandLine.h"
#include "app/SingleInstanceLock.h"
#include "app/TrayEngine.h"
#include "base/ProgramPaths.h"

namespace hushwell {

class AudioBackend;
class ConfigurationOwner;
class TrayWindow;
class VolumeManager;
class ProgramVolumeManager;
class InstanceMessenger;
class LogPageFeed;
class QtEngineTimers;
class ShutdownSignals;

// The application object. Constructing it makes the program-wide objects that exist before
// start-up: the Qt application, the sound server connection with the one volume manager and
// its thread, the runner and log locks and the vocabulary tables. InitInstance then prepares
// folders and log, refuses a second instance (asking the running one to show its settings
// window; a running instance that cannot be reached is said on standard error and ends the
// start with a failure, as does a data folder, trigger folder or lock file that cannot be used,
// after saying why), works out the program's paths once, creates the tray window with the
// engine, starts the engine, makes the configuration owner (which loads the configuration) and
// has the settings window made when it is first needed; Run adds the message loop. Firings reach
// the log page through the feed.
//
// Main thread only.
class Application {
public:
    Application(int& argc, char** argv);
    ~Application();
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The settings window shows at once when this start becomes the running instance.
    void ShowSettingsWhenStarted() { showSettings_ = true; }

    // The start-up steps; false when the program is to end at once.
    bool InitInstance();
    // InitInstance and, when it succeeds, the message loop; returns the exit status.
    int Run();

    const ProgramPaths& Paths() const { return paths_; }
    // The tray window with the engine and the settings window; exists after a successful
    // InitInstance.
    TrayWindow& Tray() { return *trayWnd_; }

private:
    // Qt needs a display unless told otherwise; without any, run headless.
    static int& ChooseHeadlessPlatform(int& argc);
    std::unique_ptr<TrayEngine> MakeEngine(QtEngineTimers& timers);
    // The instance's answer to a command of another start (see InstanceMessenger).
    std::string CarryOut(ProgramCommand command);
    std::string StatusLine();
    void LogSoundServerKind();
    // A folder start-up needs: made when missing; otherwise false after saying why.
    static bool EnsureFolderOrSay(const std::string& folder, const std::string& what);
    // A start that cannot go on: one log line and one line on standard error, in words.
    static void SayWhyNotStarted(const std::string& reason);

    QApplication application_;
    std::unique_ptr<AudioBackend> backend_;
    std::unique_ptr<VolumeManager> volumeManager_;
    std::unique_ptr<ProgramVolumeManager> programVolume_;  // single programs' mute and volume
    ProgramPaths paths_;
    SingleInstanceLock instanceLock_;
    bool alreadyStarted_ = false;
    bool showSettings_ = false;
    std::unique_ptr<LogPageFeed> logFeed_;  // outlives the engine in the tray window
    std::unique_ptr<InstanceMessenger> messenger_;
    // The configuration owner; its hotkeys are released with the tray window's settings window.
    std::unique_ptr<ConfigurationOwner> configuration_;
    std::unique_ptr<TrayWindow> trayWnd_;
    std::unique_ptr<ShutdownSignals> signals_;
};

}  // namespace hushwell
