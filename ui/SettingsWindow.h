#pragma once

#include <QWidget>

#include "base/ProgramPaths.h"
#include "ui/ConfigurationOwner.h"
#include "ui/OptionsPage.h"

class QTabWidget;

namespace hushwell {

class CaptureEditor;
class Clock;
class LogPage;
class TriggerEditor;

// The program's one visible window, "Hushwell - Tools & Settings": four tabbed pages,
// "Capture", "Controls", "Options" and "Logs". Created hidden at start-up, after the
// configuration owner has loaded the configuration; its creation builds the pages, which take
// what they need from the owner and the program's paths. The stored placement and tab are
// restored. Closing only hides it. Destroying it (at exit) stores the window's placement and
// the lists' column widths with the owner and has the owner write the configuration file.
//
// User-interface thread only.
class SettingsWindow : public QWidget {
    Q_OBJECT
public:
    enum Page { kCapturePage = 0, kControlsPage = 1, kOptionsPage = 2, kLogsPage = 3 };
    static constexpr int kPageCount = 4;
    struct Setup {
        // The trigger list file and sound folder (controls page, capture page) and the
        // launch-at-logon place (options page).
        ProgramPaths paths;
        // The capture page's ticks and local time; null: the system's.
        const Clock* clock = nullptr;
    };

    // The configuration owner outlives the window.
    SettingsWindow(ConfigurationOwner& configuration, Setup setup, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // Shows the window in front, on its current page.
    void ShowInFront();
    // Shows the window in front on a page, running the page change even when it is the
    // current one (an out-of-range page leaves the current one).
    void ShowPage(int page);
    int CurrentPage() const;

    // The action of a pressed hotkey id, from the applied configuration.
    HotkeyAction HotkeyActionFor(int id) const { return configuration_.HotkeyActionFor(id); }
    CaptureEditor& CapturePage() { return *capture_; }
    OptionsPage& Options() { return *options_; }
    LogPage& Logs() { return *logs_; }
    TriggerEditor& ControlsPage() { return *controls_; }
    QTabWidget& Tabs() { return *tabs_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void AddPages(const Setup& setup);
    QWidget* MakeCapturePage(const Clock* clock);
    void RegisterSound(const QString& path);
    QWidget* MakeControlsPage(const ProgramPaths& paths);
    void OnPageChanged(int page);
    void RestorePlacement(const WindowPlacementSetting& placement);
    WindowPlacementSetting CurrentPlacement() const;

    ConfigurationOwner& configuration_;
    QTabWidget* tabs_ = nullptr;
    CaptureEditor* capture_ = nullptr;
    OptionsPage* options_ = nullptr;
    LogPage* logs_ = nullptr;
    TriggerEditor* controls_ = nullptr;
};

}  // namespace hushwell
