#include "app/SettingsWindow.h"

namespace hushwell {

SettingsWindow::SettingsWindow(QWidget* parent) : QTabWidget(parent) {
    setWindowTitle(QStringLiteral("Hushwell"));
    for (const char* name : {"Capture", "Controls", "Options", "Logs"}) {
        addTab(new QWidget(this), QString::fromLatin1(name));
    }
}

void SettingsWindow::ShowInFront() {
    show();
    raise();
    activateWindow();
}

}  // namespace hushwell
