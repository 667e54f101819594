// The trigger list editor with a list at the limits (2000 sound, 200 time and 50 level
// triggers): filling the page, one sort, switching the group view and applying an edit, each
// with the view laid out and painted as the user would see it. Run with
// QT_QPA_PLATFORM=offscreen.
#include <benchmark/benchmark.h>
#include <QApplication>
#include <QTemporaryDir>
#include <QTreeView>
#include <string>

#include "triggers/TriggerList.h"
#include "ui/TriggerEditor.h"
#include "ui/TriggerListModel.h"

namespace {

using hushwell::Trigger;
using hushwell::TriggerEditor;
using hushwell::TriggerList;

// Names and files in a scrambled order, so that sorting has work to do.
std::string Scrambled(const char* prefix, int i) {
    return prefix + std::to_string((i * 7919) % 10007);
}

const TriggerList& FullList() {
    static TriggerList list;
    if (list.CountSound() > 0) {
        return list;
    }
    for (int i = 0; i < TriggerList::kDefaultMaxSound; ++i) {
        Trigger record;
        record.SetActive(true);
        record.name = Scrambled("sound ", i);
        record.triggerFile = Scrambled("recording_", i) + ".wav";
        record.SetControl(i % 2 == 0 ? "mute" : "down 30");
        list.Add(record);
    }
    for (int i = 0; i < TriggerList::kDefaultMaxTime; ++i) {
        Trigger record;
        record.SetActive(true);
        record.triggerKind = "time";
        record.name = Scrambled("time ", i);
        record.timeOfDay = hushwell::TriggerTime((i * 7) % 24, (i * 13) % 60, 0);
        list.Add(record);
    }
    for (int i = 0; i < TriggerList::kDefaultMaxLevel; ++i) {
        Trigger record;
        record.SetActive(true);
        record.triggerKind = "level";
        record.name = Scrambled("level ", i);
        record.level = 20 + (i * 11) % 76;
        list.Add(record);
    }
    return list;
}

// A shown page at the settings window's page size, holding the full list.
struct ShownPage {
    TriggerEditor page;
    ShownPage() {
        page.resize(458, 419);
        page.show();
        page.CopyList(FullList());
        QApplication::processEvents();
    }
    void Paint() {
        page.List().viewport()->repaint();
        QApplication::processEvents();
    }
};

void BM_FillPage(benchmark::State& state) {
    ShownPage shown;
    for (auto _ : state) {
        shown.page.CopyList(FullList());
        shown.Paint();
    }
}
BENCHMARK(BM_FillPage)->Unit(benchmark::kMillisecond);

// The second click on the name header: a descending sort of every kind.
void BM_SortByName(benchmark::State& state) {
    ShownPage shown;
    for (auto _ : state) {
        state.PauseTiming();
        shown.page.CopyList(FullList());
        while (shown.page.SortState(hushwell::TriggerListModel::kNameColumn) != 1) {
            shown.page.ClickHeader(hushwell::TriggerListModel::kNameColumn);
        }
        state.ResumeTiming();
        shown.page.ClickHeader(hushwell::TriggerListModel::kNameColumn);
        shown.Paint();
    }
}
BENCHMARK(BM_SortByName)->Unit(benchmark::kMillisecond);

void BM_SwitchGroupView(benchmark::State& state) {
    ShownPage shown;
    bool on = false;
    for (auto _ : state) {
        on = !on;
        shown.page.SetGroupView(on);
        shown.Paint();
    }
}
BENCHMARK(BM_SwitchGroupView)->Unit(benchmark::kMillisecond);

// Apply on a selected sound trigger, with the save of "triggers.xml" and its backups (no
// engine: its take-over is queued and runs later in any case).
void BM_ApplyEdit(benchmark::State& state) {
    QTemporaryDir folder;
    ShownPage shown;
    shown.page.SetPaths(hushwell::ProgramPaths::ForDataFolder(folder.path().toStdString()));
    for (auto _ : state) {
        shown.page.SelectRows({1000});
        shown.page.Apply();
        shown.Paint();
    }
}
BENCHMARK(BM_ApplyEdit)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
