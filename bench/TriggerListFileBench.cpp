// Load and save of a full trigger list: 2000 sound, 200 time and 50 level triggers.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "persistence/TriggerListFile.h"

namespace hushwell {
namespace {

void FillFullList(TriggerList& list) {
    for (int i = 0; i < TriggerList::kDefaultMaxSound; ++i) {
        Trigger t;
        t.SetActive(true);
        t.name = "Sound trigger " + std::to_string(i) + " & co";
        t.triggerFile = "recording_2024-05-" + std::to_string(i) + ".wav";
        t.SetControl(i % 2 == 0 ? "mute" : "down 40");
        t.duration = TriggerTime(0, 1, 30);
        list.Add(t);
    }
    for (int i = 0; i < TriggerList::kDefaultMaxTime; ++i) {
        Trigger t;
        t.SetActive(true);
        t.triggerKind = "time";
        t.name = "Time trigger " + std::to_string(i);
        t.timeOfDay = TriggerTime(i % 24, i % 60, 0);
        t.every = i % 2 == 0;
        t.ParseDays("MONWEDFRI");
        t.SetControl("exec");
        t.command = "notify-send";
        t.commandArgs = "\"Time " + std::to_string(i) + "\" --urgency=low";
        list.Add(t);
    }
    for (int i = 0; i < TriggerList::kDefaultMaxLevel; ++i) {
        Trigger t;
        t.SetActive(true);
        t.triggerKind = "level";
        t.name = "Level trigger " + std::to_string(i);
        t.level = 20 + i;
        t.SetControl("up 5");
        list.Add(t);
    }
}

class ListFolder {
public:
    ListFolder() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "hushwell-bench-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path_ = pattern;
        }
    }
    ~ListFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    std::string ListPath() const { return TriggerListFile::PathIn(path_); }

private:
    std::string path_;
};

void BM_BuildText(benchmark::State& state) {
    TriggerList list;
    FillFullList(list);
    for (auto _ : state) {
        benchmark::DoNotOptimize(TriggerListFile::BuildText(list));
    }
}
BENCHMARK(BM_BuildText)->Unit(benchmark::kMillisecond);

// Build, check, write to a temporary file, flush to the disk and rename.
void BM_Save(benchmark::State& state) {
    ListFolder folder;
    TriggerList list;
    FillFullList(list);
    for (auto _ : state) {
        if (TriggerListFile::Save(list, folder.ListPath()) != TriggerListFile::kOk) {
            state.SkipWithError("save failed");
        }
    }
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond);

void BM_SaveWithBackups(benchmark::State& state) {
    ListFolder folder;
    TriggerList list;
    FillFullList(list);
    for (auto _ : state) {
        if (TriggerListFile::SaveWithBackups(list, folder.ListPath()) != TriggerListFile::kOk) {
            state.SkipWithError("save failed");
        }
    }
}
BENCHMARK(BM_SaveWithBackups)->Unit(benchmark::kMillisecond);

void BM_Load(benchmark::State& state) {
    ListFolder folder;
    {
        TriggerList list;
        FillFullList(list);
        TriggerListFile::Save(list, folder.ListPath());
    }
    for (auto _ : state) {
        TriggerList list;
        if (TriggerListFile::Load(list, folder.ListPath()) != TriggerListFile::kOk ||
            list.CountSound() != TriggerList::kDefaultMaxSound) {
            state.SkipWithError("load failed");
        }
    }
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hushwell
