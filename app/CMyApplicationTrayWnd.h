#pragma once

#include <QIcon>
#include <QMenu>
#include <functional>
#include <memory>
#include <string>

#include "app/CTrayWnd.h"
#include "app/HotkeyList.h"
#include "app/QtEngineTimers.h"
#include "app/TrayMenu.h"
#include "persistence/Settings.h"

class QSocketNotifier;

namespace hushwell {

class CVolumeManager;
class HotkeyGrabber;
class SettingsWindow;
class TrayEngine;

// The program's tray window: it carries the detection engine and its timers, shows the tray
// menu of the current run state and carries out its commands, holds the configuration and
// the four global hotkeys, and owns the settings window.
//
// User-interface thread only, except the engine's timer calls (see QtEngineTimers).
class CMyApplicationTrayWnd : public CTrayWnd {
    Q_OBJECT
public:
    using EngineFactory = std::function<std::unique_ptr<TrayEngine>(QtEngineTimers& timers)>;

    struct Setup {
        EngineFactory makeEngine;
        // The hotkey service; when null the window makes an X11 one.
        HotkeyGrabber* grabber = nullptr;
        // The program-wide volume manager, given the ramp rates; may be null.
        CVolumeManager* volumeManager = nullptr;
        std::string configPath;
        std::string manualPath;
    };

    explicit CMyApplicationTrayWnd(Setup setup, QObject* parent = nullptr);
    ~CMyApplicationTrayWnd() override;

    // Window creation: adds the tray icon; logs once when there is no tray to show it in.
    void Create();
    void StartEngine();
    // Loads the configuration file, registers the hotkeys and sets the ramp rates.
    void LoadConfiguration();

    // A tray menu command (TrayCommand ids); unknown ids are ignored.
    void OnCommand(int command);
    // A global hotkey press by id.
    void OnHotkey(int id);
    // The orderly end: stops the engine (undoing running controls), releases the hotkeys,
    // removes the icon, saves the configuration and logs "Quitting.". Runs once; emits
    // ShutdownFinished.
    void Shutdown();

    RunState State() const { return runState_; }
    QMenu& Menu() { return menu_; }
    SettingsWindow& SettingsDialog() { return *settingsWindow_; }
    HotkeyList& Hotkeys() { return hotkeys_; }
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
    void SetRunState(RunState state);
    void Stop();
    void Start();
    void OpenHelp();
    void ShowSettingsPage(int page);
    void ApplyRampRates();
    void MakeX11Grabber();

    Setup setup_;
    QIcon icon_;
    RunState runState_ = RunState::Running;
    QtEngineTimers timers_;
    std::unique_ptr<TrayEngine> engine_;
    std::unique_ptr<SettingsWindow> settingsWindow_;
    QMenu menu_;
    hushwell::Settings settings_;
    HotkeyList hotkeys_;
    std::unique_ptr<HotkeyGrabber> ownGrabber_;
    HotkeyGrabber* grabber_ = nullptr;
    std::unique_ptr<QSocketNotifier> hotkeyNotifier_;
    bool shutDown_ = false;
};

}  // namespace hushwell
