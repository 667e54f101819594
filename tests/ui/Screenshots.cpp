// Renders each page of the settings window to "<folder>/<page>-<suffix>.png", as it looks
// at the stored default size, and the program chooser to "program-chooser-<suffix>.png". Run
// offscreen by scripts/screenshots, once per scale.
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileDialog>
#include <QListView>
#include <QListWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numbers>
#include <vector>

#include "base/Clock.h"
#include "detection/ScoreBoard.h"
#include "persistence/ConfigFile.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "ui/CaptureEditor.h"
#include "ui/LogPage.h"
#include "ui/ProgramFileFilter.h"
#include "ui/SettingsWindow.h"
#include "ui/TriggerEditor.h"
#include "ui/TriggerListModel.h"
#include "ui/WaveformView.h"

namespace {

// The program chooser of a trigger that runs a command, in a folder with a sub-folder, a
// program and a text file (which "Programs" hides).
bool RenderProgramChooser(const QString& scratch, const QString& path) {
    const QString folder = scratch + QStringLiteral("/programs");
    QDir().mkpath(folder + QStringLiteral("/bin"));
    QFile program(folder + QStringLiteral("/notify-me"));
    QFile text(folder + QStringLiteral("/readme.txt"));
    if (!program.open(QIODevice::WriteOnly) || !text.open(QIODevice::WriteOnly) ||
        !program.setPermissions(program.permissions() | QFile::ExeOwner)) {
        return false;
    }
    QFileDialog chooser(nullptr, QStringLiteral("Choose a program"));
    hushwell::ProgramFileFilter::Install(chooser);
    chooser.setDirectory(folder);
    chooser.show();
    // The file list fills from a thread of its own.
    const auto* list = chooser.findChild<QListView*>(QStringLiteral("listView"));
    QElapsedTimer waited;
    waited.start();
    constexpr qint64 kListWaitMs = 5000;
    while (list != nullptr && list->model()->rowCount(list->rootIndex()) < 2 &&
           waited.elapsed() < kListWaitMs) {
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    }
    QApplication::processEvents();
    if (!chooser.grab().save(path)) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

// A few triggers of each kind for the controls page.
const hushwell::TriggerList& SampleTriggers() {
    static hushwell::TriggerList list;
    struct Sample {
        const char* kind;
        const char* name;
        const char* trigger;
        const char* control;
    };
    for (const Sample& sample :
         {Sample{"sound", "doorbell", "doorbell.wav", "mute"},
          Sample{"sound", "ad-jingle", "ad-jingle.wav", "down 50"},
          Sample{"sound", "phone ring", "ring.wav", "down 30"},
          Sample{"time", "night quiet", "22:30:00", "down 40"},
          Sample{"time", "hourly chime", "01:00:00", "mute"},
          Sample{"level", "too loud", "", "down 20"}, Sample{"level", "blast", "", "mute"}}) {
        hushwell::Trigger record;
        record.SetActive(true);
        record.triggerKind = sample.kind;
        record.name = sample.name;
        record.SetControl(sample.control);
        record.duration = hushwell::TriggerTime(0, 1, 0);
        if (record.triggerKind == "sound") {
            record.triggerFile = sample.trigger;
            if (record.name == "ad-jingle") {
                record.target = "program";  // the browser alone, not the music beside it
            }
        } else if (record.triggerKind == "time") {
            record.timeOfDay.Parse(sample.trigger);
            record.every = record.name == "hourly chime";
        } else {
            record.level = record.name == "blast" ? 90 : 70;
        }
        list.Add(record);
    }
    return list;
}

// A recorded doorbell for the capture page: quiet room noise, then "ding" and "dong", two
// decaying chords, 4 s of 48 kHz mono.
std::shared_ptr<hushwell::WaveData> SampleRecording() {
    constexpr int kRate = 48000;
    constexpr int kFrames = 4 * kRate;
    std::vector<std::int16_t> samples(kFrames);
    unsigned noise = 12345;
    for (int i = 0; i < kFrames; ++i) {
        noise = noise * 1103515245u + 12345u;
        double value = 300.0 * (static_cast<double>((noise >> 16) & 0x7fff) / 16384.0 - 1.0);
        const double t = static_cast<double>(i) / kRate;
        for (const auto& [start, pitch] : {std::pair{1.0, 660.0}, std::pair{1.7, 523.0}}) {
            if (t >= start) {
                const double age = t - start;
                const double envelope = 14000.0 * std::exp(-2.2 * age);
                value += envelope * (std::sin(2.0 * std::numbers::pi * pitch * age) +
                                     0.4 * std::sin(2.0 * std::numbers::pi * 2.0 * pitch * age));
            }
        }
        samples[static_cast<std::size_t>(i)] =
            static_cast<std::int16_t>(std::clamp(value, -32000.0, 32000.0));
    }
    auto sound = std::make_shared<hushwell::WaveData>();
    sound->AssignPcm16(kRate, 1, kFrames, samples);
    return sound;
}

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s FOLDER SUFFIX\n", argv[0]);
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    const QString suffix = QString::fromLocal8Bit(argv[2]);
    QDir().mkpath(folder);

    QTemporaryDir data;
    hushwell::FakeHotkeyGrabber grabber;
    hushwell::ConfigurationOwner configuration(
        {&grabber, nullptr, hushwell::ConfigFile::PathIn(data.path().toStdString()), {}});
    hushwell::SettingsWindow::Setup setup;
    setup.paths = hushwell::ProgramPaths::ForDataFolder(data.path().toStdString());
    hushwell::SettingsWindow window(configuration, std::move(setup));
    // A selected hotkey shows the page with its controls enabled; a few rows fill the log.
    window.Options()
        .findChild<QListWidget*>(QStringLiteral("hotkeyList"))
        ->setCurrentRow(hushwell::OptionsPage::kRecordSaveItem);
    for (const char* name : {"doorbell.wav", "ad-jingle.wav", "level 80%", "night quiet"}) {
        window.Logs().AddLogEntry(QString::fromLatin1(name));
    }

    // The capture page shows a recording with the doorbell selected.
    window.CapturePage().ShowSound(SampleRecording(),
                                   data.filePath(QStringLiteral("doorbell.wav")));
    window.CapturePage().View().SetSelection(0.22f, 0.68f);
    // What the try button marks on it: the doorbell firing, and a near match turned down.
    window.CapturePage().View().SetMarks(
        {{1.72, hushwell::CaptureEditor::MarkLabel("doorbell", 0.9468f, true), true},
         {2.45, hushwell::CaptureEditor::MarkLabel("ad-jingle", 0.9127f, false), false}});

    window.ControlsPage().CopyList(SampleTriggers());
    window.ControlsPage().SelectRows({0});
    // The meter of the sound rows: one fired, one a candidate verification turned down, one
    // well below its threshold.
    hushwell::ScoreBoard scores(64);
    const hushwell::ManualClock clock(1000000, hushwell::LocalTime{});
    const hushwell::TriggerListModel& rows = window.ControlsPage().Model();
    scores.Record(rows.RowAt(0).serialId, clock.TickMs(), 0.9631f, 0.9100f,
                  hushwell::ScoreBoard::Stage::Fired);
    scores.Record(rows.RowAt(1).serialId, clock.TickMs(), 0.9236f, 0.9150f,
                  hushwell::ScoreBoard::Stage::Candidate);
    scores.Record(rows.RowAt(2).serialId, clock.TickMs(), 0.7410f, 0.9300f,
                  hushwell::ScoreBoard::Stage::Below);
    window.ControlsPage().AttachMeter(scores, clock);

    int failures = 0;
    for (int page = 0; page < window.Tabs().count(); ++page) {
        window.ShowPage(page);
        QApplication::processEvents();
        const QString name = window.Tabs().tabText(page).toLower();
        const QString path = QStringLiteral("%1/%2-%3.png").arg(folder, name, suffix);
        if (!window.grab().save(path)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            ++failures;
        }
    }
    if (!RenderProgramChooser(data.path(),
                              QStringLiteral("%1/program-chooser-%2.png").arg(folder, suffix))) {
        ++failures;
    }
    return failures == 0 ? 0 : 1;
}
