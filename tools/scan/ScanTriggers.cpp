#include "tools/scan/ScanTriggers.h"

#include <filesystem>
#include <mutex>
#include <ostream>

#include "base/ApplicationDataFolder.h"
#include "persistence/TriggerListFile.h"
#include "tools/scan/InputMessages.h"
#include "triggers/EventLog.h"
#include "wav/WaveFile.h"

namespace hushwell::scan {

namespace {

namespace fs = std::filesystem;

const char* const kTriggersSubfolder = "/triggers";

// The trigger text of a file: a path with a "/" is looked up as it stands, relative to the
// present folder when it is not absolute.
std::string TriggerTextOf(const std::string& path) {
    return path.find('/') == std::string::npos ? "./" + path : path;
}

}  // namespace

ScanTriggers::ScanTriggers() : references_(ApplicationDataFolder() + kTriggersSubfolder) {}

std::string ScanTriggers::CheckReferenceFile(const std::string& path) {
    if (std::string problem = InputMessages::FileProblem(path); !problem.empty()) {
        return problem;
    }
    WaveData sound;
    if (const int code = ReadWaveFile(sound, path, ReferenceSet::kMaxReferenceSeconds);
        code != kWaveOk) {
        return InputMessages::ReadFailure(path, code, sound);
    }
    if (std::string problem =
            InputMessages::FormatProblems(path, sound.Format(), kMaxFormatChannels, "sounds");
        !problem.empty()) {
        return problem;
    }
    if (sound.SampleCount() <= 0) {
        return path + ": holds no audio";
    }
    return {};
}

bool ScanTriggers::LoadTriggerFile(const std::string& path, std::ostream& warnings,
                                   std::string& error) {
    if (error = InputMessages::FileProblem(path); !error.empty()) {
        return false;
    }
    if (std::string reason;
        TriggerListFile::Load(triggers_, path, &reason) != TriggerListFile::kOk) {
        error = path + ": not a trigger list this program can read" +
                (reason.empty() ? std::string() : ": " + reason);
        return false;
    }
    references_.RebuildReferences(triggers_);
    std::lock_guard listLock(triggers_.Mutex());
    for (const Trigger* trigger : triggers_.ActiveRecords(TriggerKind::Sound)) {
        std::lock_guard lock(trigger->Mutex());
        if (trigger->referenceIndices.empty()) {
            warnings << "warning: sound trigger \"" << trigger->name << "\" has no usable sound (\""
                     << trigger->triggerFile << "\"); it cannot fire\n";
        }
    }
    return true;
}

bool ScanTriggers::UseReferenceFiles(const std::vector<std::string>& paths, std::string& error) {
    for (const std::string& path : paths) {
        if (std::string problem = CheckReferenceFile(path); !problem.empty()) {
            error = std::move(problem);
            return false;
        }
        Trigger trigger;
        trigger.SetActive(true);
        trigger.name = fs::path(path).filename().string();
        trigger.triggerKind = "sound";
        trigger.triggerFile = TriggerTextOf(path);
        trigger.duration = TriggerTime(0, 0, kReferenceTriggerSeconds);
        triggers_.Add(trigger);
    }
    references_.RebuildReferences(triggers_);
    return true;
}

std::vector<float> ScanTriggers::Thresholds() const {
    std::vector<float> thresholds;
    for (const SoundReference& reference : references_.References()) {
        thresholds.push_back(reference.MatchThreshold());
    }
    // Per reference: the own threshold all its triggers share, none yet, or several.
    constexpr float kUnset = -1.0f;
    constexpr float kMixed = -2.0f;
    std::vector<float> shared(thresholds.size(), kUnset);
    for (const Trigger* trigger : triggers_.ActiveRecords(TriggerKind::Sound)) {
        for (const std::uint32_t reference : trigger->referenceIndices) {
            if (reference >= shared.size()) {
                continue;
            }
            float& value = shared[reference];
            value = value == kUnset || value == trigger->matchThreshold ? trigger->matchThreshold
                                                                        : kMixed;
        }
    }
    for (std::size_t r = 0; r < thresholds.size(); ++r) {
        if (shared[r] > Trigger::kNoMatchThreshold) {
            thresholds[r] = shared[r];
        }
    }
    return thresholds;
}

void ScanTriggers::SetEveryThreshold(float threshold) {
    for (const Trigger* listed : triggers_.ActiveRecords(TriggerKind::Sound)) {
        const_cast<Trigger*>(listed)->SetMatchThreshold(threshold);
    }
}

}  // namespace hushwell::scan
