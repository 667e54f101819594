#include "ui/SettingsWindow.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QTabWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <filesystem>

#include "ui/CaptureEditor.h"
#include "ui/LogPage.h"
#include "ui/TriggerEditor.h"

namespace hushwell {

namespace {

constexpr const char* kCaption = "Hushwell - Tools & Settings";
constexpr std::array<const char*, SettingsWindow::kPageCount> kPageNames = {"Capture", "Controls",
                                                                            "Options", "Logs"};

}  // namespace

SettingsWindow::SettingsWindow(ConfigurationOwner& configuration, Setup setup, QWidget* parent)
    : QWidget(parent, Qt::Window), configuration_(configuration) {
    setWindowTitle(QString::fromLatin1(kCaption));
    setAccessibleName(windowTitle());
    tabs_ = new QTabWidget(this);
    tabs_->setObjectName(QStringLiteral("pages"));
    tabs_->setAccessibleName(QStringLiteral("Pages"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(tabs_);
    options_ = new OptionsPage(configuration_,
                               OptionsPage::Setup{setup.paths.startupFolder,
                                                  setup.paths.programPath, setup.paths.programName},
                               tabs_);
    AddPages(setup);
    RestorePlacement(configuration_.Applied().settings.placement);
    const int tab = configuration_.Applied().settings.placement.tab;
    if (tab >= 0 && tab < kPageCount) {
        tabs_->setCurrentIndex(tab);
    }
    OnPageChanged(tabs_->currentIndex());
    connect(tabs_, &QTabWidget::currentChanged, this, &SettingsWindow::OnPageChanged);
}

SettingsWindow::~SettingsWindow() {
    options_->StoreTriggerListView(controls_->ColumnWidths(), controls_->GroupView());
    const std::array<int, 2> logWidths = logs_->ColumnWidths();
    options_->StoreLogColumnWidths({logWidths[0], logWidths[1]});
    options_->StorePlacement(CurrentPlacement());
    configuration_.Save();
}

void SettingsWindow::AddPages(const Setup& setup) {
    QWidget* capture = MakeCapturePage(setup.clock);
    QWidget* controls = MakeControlsPage(setup.paths);
    connect(capture_, &CaptureEditor::RegisterRequested, this, &SettingsWindow::RegisterSound);
    // The log page asks on the detection thread: the owner answers under its lock.
    logs_ =
        new LogPage([&configuration = configuration_] { return configuration.DateOrder(); }, tabs_);
    logs_->setAccessibleName(QString::fromLatin1(kPageNames[kLogsPage]));
    const std::array<std::int32_t, 2>& widths =
        configuration_.Applied().settings.logListColumnWidths;
    logs_->SetColumnWidths(widths[0], widths[1]);
    const std::array<QWidget*, kPageCount> pages = {capture, controls, options_, logs_};
    for (std::size_t i = 0; i < pages.size(); ++i) {
        tabs_->addTab(pages[i], QString::fromLatin1(kPageNames[i]));
    }
}

// The sound editor records into the sound folder of the trigger list editor's list (where
// registered sounds are looked for); its recording settings are the applied ones at each
// command.
QWidget* SettingsWindow::MakeCapturePage(const Clock* clock) {
    CaptureEditor::Setup setup;
    setup.clock = clock;
    setup.settings = [&configuration = configuration_] {
        const Settings& applied = configuration.Applied().settings;
        return CaptureEditor::RecordingSettings{applied.preRecordingLengthInSec,
                                                applied.triggerSoundLengthInSec,
                                                applied.filenameFormatType};
    };
    setup.triggerFolder = [this] {
        return std::filesystem::path(controls_->SoundFolder().toStdU16String());
    };
    // The try button runs the Controls page's working list (the one selected sound trigger,
    // else all of them) as detection would, with "Verify matches" as applied.
    setup.trial = [this] {
        CaptureEditor::TrialSetup trial;
        auto copy = std::make_shared<TriggerList>();
        copy->SetBaseDir(controls_->WorkingList().BaseDir());
        copy->Assign(controls_->WorkingList());
        trial.triggers = std::move(copy);
        trial.onlySerial = controls_->SelectedSoundSerial();
        trial.triggersFolder = controls_->SoundFolder().toStdString();
        trial.verification = !configuration_.Applied().settings.verifyMatches.empty();
        return trial;
    };
    capture_ = new CaptureEditor(std::move(setup), tabs_);
    capture_->setAccessibleName(QString::fromLatin1(kPageNames[kCapturePage]));
    return capture_;
}

// The capture page's register: the controls page is brought up and adds the sound with the
// stopped clock's time as its duration (the configured default duration when that time was
// taken already, or is zero) and the configured default action.
void SettingsWindow::RegisterSound(const QString& path) {
    const Settings& settings = configuration_.Applied().settings;
    TriggerTime duration = settings.defaultDuration;
    const QString frozen = capture_->TakeFrozenClock();
    TriggerTime clock;
    if (!frozen.isEmpty() && clock.Parse(frozen.toStdString()) == TriggerTime::kParsed &&
        clock.Seconds() > 0) {
        duration = clock;
    }
    if (tabs_->currentIndex() != kControlsPage) {
        tabs_->setCurrentIndex(kControlsPage);
    }
    controls_->AddSoundTrigger(path, settings.defaultAction, &duration);
}

// The trigger list editor saves the program's trigger list file and looks for sounds in its
// sound folder.
QWidget* SettingsWindow::MakeControlsPage(const ProgramPaths& paths) {
    controls_ = new TriggerEditor(tabs_);
    controls_->SetPaths(paths);
    const Settings& settings = configuration_.Applied().settings;
    controls_->SetColumnWidths(settings.triggerListColumnWidths);
    controls_->SetGroupView(settings.groupView.starts_with('v'));
    return controls_;
}

void SettingsWindow::OnPageChanged(int page) {
    if (page == kCapturePage) {
        // The capture page will be told here to redraw when it holds unseen recorded data.
    } else if (page == kControlsPage) {
        // The time the capture page's clock was stopped at becomes the new trigger's duration.
        const QString frozen = capture_->TakeFrozenClock();
        TriggerTime duration;
        if (!frozen.isEmpty() && duration.Parse(frozen.toStdString()) == TriggerTime::kParsed) {
            controls_->SetStartingValues(QString(), &duration);
        }
    }
    if (page >= 0) {
        options_->StoreTab(page);
    }
}

int SettingsWindow::CurrentPage() const {
    return tabs_->currentIndex();
}

void SettingsWindow::ShowInFront() {
    if (isMinimized()) {
        showNormal();
    }
    show();
    raise();
    activateWindow();
}

void SettingsWindow::ShowPage(int page) {
    ShowInFront();
    if (page < 0 || page >= kPageCount) {
        return;
    }
    if (page == tabs_->currentIndex()) {
        OnPageChanged(page);
    } else {
        tabs_->setCurrentIndex(page);
    }
}

void SettingsWindow::closeEvent(QCloseEvent* event) {
    controls_->SaveIfModified();
    event->accept();  // a window without WA_DeleteOnClose is only hidden
}

// The stored rectangle is the window's normal geometry (without the frame the window
// manager adds). An empty one (top equal to bottom) leaves the window as it is; a size larger
// than the screen is cut to it, and a position on no screen is left to the window manager.
void SettingsWindow::RestorePlacement(const WindowPlacementSetting& placement) {
    if (placement.top == placement.bottom) {
        return;
    }
    const QRect stored(QPoint(placement.left, placement.top),
                       QPoint(placement.right - 1, placement.bottom - 1));
    if (stored.width() <= 0 || stored.height() <= 0) {
        return;
    }
    QSize size = stored.size().expandedTo(minimumSizeHint());
    const QScreen* screen = QGuiApplication::screenAt(stored.center());
    const QScreen* sizing = screen != nullptr ? screen : QGuiApplication::primaryScreen();
    if (sizing != nullptr) {
        size = size.boundedTo(sizing->availableGeometry().size());
    }
    resize(size);
    if (screen != nullptr) {
        move(stored.topLeft());
    }
}

WindowPlacementSetting SettingsWindow::CurrentPlacement() const {
    const QRect normal = isVisible() || !normalGeometry().isEmpty() ? normalGeometry() : geometry();
    WindowPlacementSetting placement;
    placement.left = normal.left();
    placement.top = normal.top();
    placement.right = normal.left() + normal.width();
    placement.bottom = normal.top() + normal.height();
    placement.tab = tabs_->currentIndex();
    return placement;
}

}  // namespace hushwell
