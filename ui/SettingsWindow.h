#pragma once

#include <QWidget>

#include "ui/OptionsPage.h"

class QTabWidget;

namespace hushwell {

class CaptureEditor;
class LogPage;
class TriggerEditor;

// The program's one visible window, "Hushwell - Tools & Settings": four tabbed pages,
// "Capture", "Controls", "Options" and "Logs". Created hidden at start-up; its creation builds
// the pages, and the options page loads the configuration, registers the hotkeys and sets
// the ramp rates. The stored placement and tab are restored. Closing only hides it.
// Destroying it (at exit) stores the window's placement and the lists' column widths and
// writes the configuration file.
//
// User-interface thread only (the options page's DateOrder excepted, see there).
class SettingsWindow final : public QWidget {
    Q_OBJECT
public:
    enum Page { kCapturePage = 0, kControlsPage = 1, kOptionsPage = 2, kLogsPage = 3 };
    static constexpr int kPageCount = 4;
    using Setup = OptionsPage::Setup;

    explicit SettingsWindow(Setup setup, QWidget* parent = nullptr);
    ~SettingsWindow() override;

    // Shows the window in front, on its current page.
    void ShowInFront();
    // Shows the window in front on a page, running the page change even when it is the
    // current one (an out-of-range page leaves the current one).
    void ShowPage(int page);
    int CurrentPage() const;

    // The action of a pressed hotkey id, from the applied configuration.
    HotkeyAction HotkeyActionFor(int id) const { return options_->HotkeyActionFor(id); }
    CaptureEditor& CapturePage() { return *capture_; }
    OptionsPage& Options() { return *options_; }
    LogPage& Logs() { return *logs_; }
    TriggerEditor& ControlsPage() { return *controls_; }
    QTabWidget& Tabs() { return *tabs_; }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void AddPages(const Clock* clock);
    QWidget* MakeCapturePage(const Clock* clock);
    void RegisterSound(const QString& path);
    QWidget* MakeControlsPage();
    void OnPageChanged(int page);
    void RestorePlacement(const WindowPlacementSetting& placement);
    WindowPlacementSetting CurrentPlacement() const;

    QTabWidget* tabs_ = nullptr;
    CaptureEditor* capture_ = nullptr;
    OptionsPage* options_ = nullptr;
    LogPage* logs_ = nullptr;
    TriggerEditor* controls_ = nullptr;
};

}  // namespace hushwell
