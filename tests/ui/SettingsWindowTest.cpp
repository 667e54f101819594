#include <QAbstractButton>
#include <QLabel>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <memory>

#include "persistence/ConfigFile.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "tests/ui/SettingsWindowWithOwner.h"
#include "ui/CaptureEditor.h"
#include "ui/LogPage.h"
#include "ui/SettingsWindow.h"
#include "ui/TriggerEditor.h"

namespace hushwell {

namespace {

// The widgets a user reads or works: leaves of the widget tree, visible.
QList<QWidget*> VisibleControls(QWidget& page) {
    QList<QWidget*> controls;
    for (QWidget* widget : page.findChildren<QWidget*>()) {
        if (widget->isVisible() &&
            (qobject_cast<QLabel*>(widget) != nullptr ||
             qobject_cast<QAbstractButton*>(widget) != nullptr || widget->inherits("QComboBox") ||
             widget->inherits("QLineEdit") || widget->inherits("QListWidget"))) {
            controls << widget;
        }
    }
    return controls;
}

QRect RectIn(QWidget& page, const QWidget& widget) {
    return QRect(widget.mapTo(&page, QPoint(0, 0)), widget.size());
}

}  // namespace

class SettingsWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        grabber_ = FakeHotkeyGrabber{};
    }

    void cleanup() { window_.reset(); }

    void startsHiddenWithItsCaptionAndFourPages() {
        MakeWindow();
        QVERIFY(!window_->isVisible());
        QCOMPARE(window_->windowTitle(), QStringLiteral("Hushwell - Tools & Settings"));
        QTabWidget& tabs = window_->Tabs();
        QStringList names;
        for (int i = 0; i < tabs.count(); ++i) {
            names << tabs.tabText(i);
        }
        QCOMPARE(names, QStringList({"Capture", "Controls", "Options", "Logs"}));
        QCOMPARE(tabs.widget(SettingsWindow::kOptionsPage), &window_->Options());
        QCOMPARE(tabs.widget(SettingsWindow::kLogsPage), &window_->Logs());
        QCOMPARE(window_->size(), QSize(480, 465));  // the stored default
        QCOMPARE(grabber_.registered.size(), std::size_t{4});
    }

    // Recordings land where the trigger list's sounds are looked for, so a recorded sound
    // is found again by its bare file name.
    void recordingsGoToTheSoundFolderOfTheTriggerList() {
        MakeWindow();
        const std::filesystem::path recording = window_->CapturePage().BuildRecordingPath();
        QCOMPARE(QString::fromStdU16String(recording.parent_path().u16string()),
                 window_->ControlsPage().SoundFolder());
        QCOMPARE(recording.parent_path(),
                 std::filesystem::path(folder_->path().toStdString()) / "triggers");
    }

    void closingHidesAndTheWindowComesBackOnTheLastPage() {
        MakeWindow();
        window_->ShowPage(SettingsWindow::kLogsPage);
        QVERIFY(window_->isVisible());
        QVERIFY(window_->close());
        QVERIFY(!window_->isVisible());
        window_->ShowInFront();
        QVERIFY(window_->isVisible());
        QCOMPARE(window_->CurrentPage(), int{SettingsWindow::kLogsPage});

        // Through a restart: destruction writes the tab, creation selects it again.
        window_.reset();
        QVERIFY(grabber_.registered.empty());  // the options page released the hotkeys
        MakeWindow();
        QCOMPARE(window_->CurrentPage(), int{SettingsWindow::kLogsPage});
    }

    void placementAndColumnWidthsSurviveARestart() {
        Settings settings;
        settings.placement = {30, 40, 530, 520, SettingsWindow::kOptionsPage};
        settings.logListColumnWidths = {120, 300};
        QVERIFY(ConfigFile::Save(settings, ConfigPath()));
        MakeWindow();
        QCOMPARE(window_->geometry(), QRect(30, 40, 500, 480));
        QCOMPARE(window_->CurrentPage(), int{SettingsWindow::kOptionsPage});
        QCOMPARE(window_->Logs().ColumnWidths(), (std::array<int, 2>{120, 300}));

        window_->show();
        window_->setGeometry(60, 70, 520, 470);
        window_->Logs().SetColumnWidths(90, 200);
        window_.reset();
        Settings saved;
        QVERIFY(ConfigFile::Load(saved, ConfigPath()));
        QCOMPARE(saved.placement.left, 60);
        QCOMPARE(saved.placement.top, 70);
        QCOMPARE(saved.placement.right, 580);
        QCOMPARE(saved.placement.bottom, 540);
        QCOMPARE(saved.logListColumnWidths, (std::array<std::int32_t, 2>{90, 200}));
    }

    void absurdStoredPlacementIsCutToTheScreen() {
        Settings settings;
        settings.placement = {-2000000000, 0, 2000000000, 2000000000, 99};
        QVERIFY(ConfigFile::Save(settings, ConfigPath()));
        MakeWindow();
        const QSize screen = window_->screen()->availableGeometry().size();
        QVERIFY(window_->width() <= screen.width() && window_->height() <= screen.height());
        QCOMPARE(window_->CurrentPage(), 0);  // tab 99 does not exist
    }

    // At the stored default size every control of the options page lies inside the page at
    // no less than its own minimum size, and no two overlap. The test runs at 100 % and 200 %.
    void optionsPageFitsTheDefaultSize() {
        MakeWindow();
        window_->ShowPage(SettingsWindow::kOptionsPage);
        QCOMPARE(window_->size(), QSize(480, 465));
        QWidget& page = window_->Options();
        const QList<QWidget*> controls = VisibleControls(page);
        QVERIFY(controls.size() > 20);
        for (QWidget* control : controls) {
            const QString name = control->accessibleName() + control->objectName();
            QVERIFY2(page.rect().contains(RectIn(page, *control)), qPrintable(name));
            QVERIFY2(control->width() >= control->minimumSizeHint().width(), qPrintable(name));
            QVERIFY2(control->height() >= control->minimumSizeHint().height(), qPrintable(name));
            for (QWidget* other : controls) {
                if (other != control && !other->isAncestorOf(control) &&
                    !control->isAncestorOf(other)) {
                    QVERIFY2(
                        !RectIn(page, *control).intersects(RectIn(page, *other)),
                        qPrintable(name + " / " + other->accessibleName() + other->objectName()));
                }
            }
        }
    }

private:
    std::string ConfigPath() const { return ConfigFile::PathIn(folder_->path().toStdString()); }

    void MakeWindow() {
        window_.reset();
        SettingsWindow::Setup setup;
        setup.paths = ProgramPaths::ForDataFolder(folder_->path().toStdString());
        window_ = std::make_unique<SettingsWindowWithOwner>(
            ConfigurationOwner::Setup{&grabber_, nullptr, ConfigPath(), {}}, std::move(setup));
    }

    std::unique_ptr<QTemporaryDir> folder_;
    FakeHotkeyGrabber grabber_;
    std::unique_ptr<SettingsWindowWithOwner> window_;
};

}  // namespace hushwell

QTEST_MAIN(hushwell::SettingsWindowTest)
#include "SettingsWindowTest.moc"
