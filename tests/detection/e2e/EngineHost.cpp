// hushwell-engine-host: the detection engine without a user interface, on the PulseAudio
// backend and the real clocks, for end-to-end tests and measurements.
//
//   hushwell-engine-host --data FOLDER [--sound FILE:SECONDS]... [--level PERCENT:SECONDS]...
//                        [--time HH:MM:SS:SECONDS]... [--program FILE:CONTROL:SECONDS]...
//
// FOLDER is the application data folder: "triggers.xml", the "triggers" sub-folder and the
// event log. Trigger options replace "triggers.xml" with a list of the given triggers, each
// muting the output for SECONDS (sound triggers are named after their file, which is looked
// for in FOLDER/triggers unless it holds a "/"; a time trigger fires once a day at HH:MM:SS;
// a "program" sound trigger carries out CONTROL, e.g. "mute" or "down 30", on the program that
// played it). As the program does, it first gives back what a killed run left in the record
// of output changes ("HushwellOutput.txt" in FOLDER) and keeps that record while it runs.
// Prints "ready" once the engine has started and "fired NAME" for every firing, then runs
// until SIGTERM or SIGINT, shuts the engine down (undoing running controls) and exits 0.

#include <signal.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "audio/pulse/PulseBackend.h"
#include "detection/DetectionEngine.h"
#include "detection/FiringSink.h"
#include "detection/ThreadEngineTimers.h"
#include "persistence/TriggerListFile.h"
#include "triggers/ControlRunner.h"
#include "triggers/EventLog.h"
#include "triggers/ProcessLauncher.h"
#include "triggers/ProgramVolumeManager.h"
#include "triggers/Trigger.h"
#include "triggers/TriggerList.h"
#include "triggers/VolumeManager.h"
#include "triggers/VolumeRestoreRecord.h"

namespace hushwell {
namespace {

constexpr std::chrono::seconds kWorkersEndWait{10};

// Prints every firing on standard output, one line each, at once.
class PrintingSink final : public FiringSink {
public:
    void OnFiring(const Firing& firing) override {
        std::lock_guard lock(mutex_);
        std::printf("fired %s\n", firing.triggerName.c_str());
        std::fflush(stdout);
    }

private:
    std::mutex mutex_;
};

TriggerTime Seconds(int seconds) {
    return TriggerTime(seconds / 3600, seconds / 60 % 60, seconds % 60);
}

// "TEXT:SECONDS" split at the last colon; false when there is no number after it.
bool SplitSeconds(std::string_view option, std::string& text, int& seconds) {
    const auto colon = option.rfind(':');
    if (colon == std::string_view::npos || colon + 1 == option.size()) {
        return false;
    }
    try {
        seconds = std::stoi(std::string(option.substr(colon + 1)));
    } catch (const std::exception&) {
        return false;
    }
    text = option.substr(0, colon);
    return seconds >= 0;
}

Trigger MutingTrigger(const std::string& kind, const std::string& name, int seconds) {
    Trigger trigger;
    trigger.SetActive(true);
    trigger.name = name;
    trigger.triggerKind = kind;
    trigger.SetControl("mute");
    trigger.duration = Seconds(seconds);
    return trigger;
}

bool AddTrigger(TriggerList& list, std::string_view flag, std::string_view value) {
    std::string text;
    int seconds = 0;
    if (!SplitSeconds(value, text, seconds)) {
        return false;
    }
    if (flag == "--level" &&
        (text.empty() || text.find_first_not_of("0123456789") != std::string::npos ||
         text.size() > 3)) {
        return false;
    }
    if (flag == "--sound") {
        Trigger trigger =
            MutingTrigger("sound", std::filesystem::path(text).stem().string(), seconds);
        trigger.triggerFile = text;
        list.Add(trigger);
        return true;
    }
    if (flag == "--program") {
        const auto colon = text.rfind(':');
        if (colon == std::string::npos) {
            return false;
        }
        const std::string file = text.substr(0, colon);
        Trigger trigger =
            MutingTrigger("sound", std::filesystem::path(file).filename().string(), seconds);
        trigger.triggerFile = file;
        trigger.SetControl(text.substr(colon + 1));
        trigger.SetText(&Trigger::target, "program");
        list.Add(trigger);
        return true;
    }
    if (flag == "--level") {
        Trigger trigger = MutingTrigger("level", "level " + text, seconds);
        trigger.level = std::stoi(text);
        list.Add(trigger);
        return true;
    }
    if (flag == "--time") {
        Trigger trigger = MutingTrigger("time", "time " + text, seconds);
        if (trigger.timeOfDay.Parse(text) != TriggerTime::kParsed) {
            return false;
        }
        list.Add(trigger);
        return true;
    }
    return false;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: hushwell-engine-host --data FOLDER [--sound FILE:SECONDS]... "
                 "[--level PERCENT:SECONDS]... [--time HH:MM:SS:SECONDS]... "
                 "[--program FILE:CONTROL:SECONDS]...\n");
    return 2;
}

int Run(int argc, char** argv) {
    std::string folder;
    TriggerList triggers;
    bool writeTriggers = false;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string_view flag = argv[i];
        if (flag == "--data") {
            folder = argv[i + 1];
        } else if (AddTrigger(triggers, flag, argv[i + 1])) {
            writeTriggers = true;
        } else {
            return Usage();
        }
    }
    if (folder.empty() || argc % 2 == 0) {
        return Usage();
    }
    std::filesystem::create_directories(std::filesystem::path(folder) / "triggers");
    if (writeTriggers &&
        TriggerListFile::Save(triggers, TriggerListFile::PathIn(folder)) != TriggerListFile::kOk) {
        std::fprintf(stderr, "cannot write the trigger list in %s\n", folder.c_str());
        return 1;
    }

    // The signals are taken by sigwait below; every thread started from here inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    SetUpLogPath(folder);
    WriteLogLine("Starting.");
    PulseBackend backend;
    VolumeManager volume(backend);
    const std::string restorePath = VolumeRestoreRecord::PathIn(folder);
    VolumeRestoreRecord::RestoreLeftOver(backend, restorePath, WriteLogLine);
    volume.SetRestoreRecordPath(restorePath);
    ProgramVolumeManager programs(backend);
    programs.SetRecordFunction([&volume](const std::vector<StreamChange>& changes) {
        return volume.RecordProgramChanges(changes);
    });
    ProcessLauncher opener;
    PrintingSink firings;
    DetectionEngine* running = nullptr;
    ThreadEngineTimers timers([&running](int id) { running->OnEngineTimer(id); });
    DetectionEngine engine;
    running = &engine;

    DetectionEngine::Setup setup = DetectionEngine::ProgramSetup(
        backend, volume, opener, timers, ProgramPaths::ForDataFolder(folder), &firings);
    setup.programVolume = &programs;
    engine.InitEngine(std::move(setup));
    std::printf("ready\n");
    std::fflush(stdout);

    int signal = 0;
    sigwait(&stopSignals, &signal);
    engine.ShutdownEngine();
    ControlRunner::WaitForAllWorkers(kWorkersEndWait);
    programs.WaitUntilIdle(kWorkersEndWait);
    volume.WaitUntilIdle(kWorkersEndWait);
    WriteLogLine("Quitting.");
    return 0;
}

}  // namespace
}  // namespace hushwell

int main(int argc, char** argv) {
    return hushwell::Run(argc, argv);
}
