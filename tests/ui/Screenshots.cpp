// Renders each page of the settings window to "<folder>/<page>-<suffix>.png", as it looks
// at the stored default size. Run offscreen by scripts/screenshots, once per scale.
#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QTabWidget>
#include <QTemporaryDir>
#include <cstdio>

#include "persistence/ConfigFile.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "ui/CLogDlg.h"
#include "ui/CSettingsDlg.h"
#include "ui/CtriggerRegEditDlg.h"

namespace {

// A few triggers of each kind for the controls page.
const hushwell::CTriggerList& SampleTriggers() {
    static hushwell::CTriggerList list;
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
        hushwell::CTrigger record;
        record.SetActive(true);
        record.triggerKind = sample.kind;
        record.name = sample.name;
        record.SetControl(sample.control);
        record.duration = hushwell::TriggerTime(0, 1, 0);
        if (record.triggerKind == "sound") {
            record.triggerFile = sample.trigger;
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
    hushwell::CSettingsDlg::Setup setup;
    setup.grabber = &grabber;
    setup.configPath = hushwell::ConfigFile::PathIn(data.path().toStdString());
    hushwell::CSettingsDlg window(std::move(setup));
    // A selected hotkey shows the page with its controls enabled; a few rows fill the log.
    window.Options()
        .findChild<QListWidget*>(QStringLiteral("hotkeyList"))
        ->setCurrentRow(hushwell::COptionsDlg::kRecordSaveItem);
    for (const char* name : {"doorbell.wav", "ad-jingle.wav", "level 80%", "night quiet"}) {
        window.LogPage().AddLogEntry(QString::fromLatin1(name));
    }

    window.ControlsPage().CopyList(SampleTriggers());
    window.ControlsPage().SelectRows({0});

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
    return failures == 0 ? 0 : 1;
}
