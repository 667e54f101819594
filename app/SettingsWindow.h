#pragma once

#include <QTabWidget>

namespace hushwell {

// The settings window with its four pages, "Capture", "Controls", "Options" and "Logs".
// The pages are empty here; the user-interface layer fills them. Created hidden.
// User-interface thread only.
class SettingsWindow final : public QTabWidget {
    Q_OBJECT
public:
    enum Page { kCapturePage = 0, kControlsPage = 1, kOptionsPage = 2, kLogsPage = 3 };

    explicit SettingsWindow(QWidget* parent = nullptr);

    // Shows the window in front, on its current page.
    void ShowInFront();
};

}  // namespace hushwell
