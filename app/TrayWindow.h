#pragma once

#include <QIcon>
#include <QMenu>
#include <functional>
#include <memory>
#include <string>

#include "app/QtEngineTimers.h"
#include "app/TrayIconOwner.h"
#include "app/TrayMenu.h"
#include "base/ProgramPaths.h"
#include "ui/HotkeyList.h"

class QSocketNotifier;

namespace hushwell {

class AudioBackend;
class ConfigurationOwner;
class ControlNotices;
class DesktopNotifier;
class DetectionEngine;
class SettingsWindow;
class VolumeManager;
class HotkeyGrabber;
class TrayEngine;

// The program's tray window: it carries the detection engine and its timers, shows the tray
// menu of the current run state and carries out its commands, receives the four global
// hotkeys, and owns the settings window and the hotkey grabber. The configuration, with the
// hotkeys' registration, belongs to the configuration owner the application makes.
//
// User-interface thread only, except the engine's timer calls (see QtEngineTimers).
class TrayWindow : public TrayIconOwner {
    Q_OBJECT
public:
    using EngineFactory = std::function<std::unique_ptr<TrayEngine>(QtEngineTimers& timers)>;

    struct Setup {
        EngineFactory makeEngine;
        // The hotkey service; when null the window makes one (desktop portal, else X11).
        HotkeyGrabber* grabber = nullptr;
        // The program-wide volume manager, waited for at shutdown; may be null.
        VolumeManager* volumeManager = nullptr;
        // Plays the sound editor's sounds; may be null.
        AudioBackend* backend = nullptr;
        // The program's paths, for the settings window's pages.
        ProgramPaths paths;
        std::string manualPath;
    };

    explicit TrayWindow(Setup setup, QObject* parent = nullptr);
    ~TrayWindow() override;

    // Window creation: adds the tray icon; logs once when there is no tray to show it in.
    void Create();
    void StartEngine();
    // The running detection engine; null before StartEngine or without one.
    DetectionEngine* Detection();
    // The grabber the configuration owner registers the hotkeys with; presses come back to
    // OnHotkey.
    HotkeyGrabber& Grabber() { return *grabber_; }
    // Creates the settings window, hidden, on the configuration the owner keeps (the owner
    // outlives the window; its hotkeys are released at shutdown, before the grabber goes).
    void CreateSettingsWindow(ConfigurationOwner& configuration);
    // The same, except that the window is made the first time it is needed: shown, asked for
    // by a hotkey or SettingsDialog. The hidden window with its pages costs about 11 MB of
    // resident memory (its widgets and the code they run), which a session that never opens
    // it need not pay. `created` runs once the window exists (may be empty).
    void DeferSettingsWindow(ConfigurationOwner& configuration,
                             std::function<void(SettingsWindow&)> created);

    // A tray menu command (TrayCommand ids); unknown ids are ignored.
    void OnCommand(int command);
    // A global hotkey press by id.
    void OnHotkey(int id);
    // What a hotkey of that action does (also the program's command options).
    void OnHotkeyAction(HotkeyAction action);
    // The orderly end: stops the engine (undoing running controls), removes the icon, destroys
    // the settings window (which releases the hotkeys and saves the configuration) and logs
    // "Quitting.". Runs once; emits ShutdownFinished.
    void Shutdown();

    // Desktop notifications of started controls (the options page's setting).
    void SetNotifications(bool on);
    // Shows each started control as a desktop notification with "Undo"; null before
    // StartEngine or without an engine.
    DesktopNotifier* Notifier() { return notifier_.get(); }
    // The tool tip's line of running controls: "Running: Ad jingle, News" (empty for none).
    static QString RunningText(const std::vector<std::string>& names);

    RunState State() const { return runState_; }
    // The number of active triggers in detection's live list (0 without an engine).
    int ActiveTriggerCount();
    QMenu& Menu() { return menu_; }
    // The settings window, made now if it was deferred; exists from CreateSettingsWindow (or
    // DeferSettingsWindow) until Shutdown.
    SettingsWindow& SettingsDialog() { return *EnsureSettingsWindow(); }
    // Whether the window has been made (a deferred one may not be yet).
    bool HasSettingsWindow() const { return settingsWindow_ != nullptr; }
    QtEngineTimers& Timers() { return timers_; }
    bool IsShutDown() const { return shutDown_; }

signals:
    void ShutdownFinished();

protected:
    void OnTrayLButtonDblClk() override;
    void OnTrayRButtonClick() override;

    // Dialogs, virtual so tests can see them without modal windows.
    virtual void ShowAbout();
    virtual void ShowMessage(const QString& text);
    // Opens a document with the desktop's handler; false when that could not be started.
    virtual bool OpenDocument(const QString& path);

private:
    void BuildMenu();
    // The settings window, made on first need; null before a configuration was given and
    // after the shutdown released it.
    SettingsWindow* EnsureSettingsWindow();
    void SetRunState(RunState state);
    void Stop();
    void Start();
    void OpenHelp();
    void ShowSettingsPage(int page);
    void PostCaptureCommand(int command);
    void MakeGrabber();
    void MakeX11Grabber();
    // Destroys the settings window, then releases the owner's hotkeys.
    void ReleaseSettingsWindow();

    Setup setup_;
    QIcon icon_;
    RunState runState_ = RunState::Running;
    QtEngineTimers timers_;
    std::unique_ptr<TrayEngine> engine_;
    QMenu menu_;
    // The grabber outlives the settings window, which releases its hotkeys when destroyed.
    std::unique_ptr<HotkeyGrabber> ownGrabber_;
    HotkeyGrabber* grabber_ = nullptr;
    std::unique_ptr<QSocketNotifier> hotkeyNotifier_;
    std::unique_ptr<SettingsWindow> settingsWindow_;
    // The notices listen to the engine's runners: made after it starts, gone before it ends.
    std::unique_ptr<DesktopNotifier> notifier_;
    std::unique_ptr<ControlNotices> notices_;
    bool notificationsOn_ = true;
    ConfigurationOwner* configuration_ = nullptr;
    std::function<void(SettingsWindow&)> settingsCreated_;
    bool settingsReleased_ = false;  // from the shutdown on, no window is made
    bool shutDown_ = false;
};

}  // namespace hushwell
