// Resident memory of the reference set and the prepared detection step for 2000 sounds of
// 7 s, as the program holds them.
//
// Writes 2000 distinct synthetic 7 s WAV files (16 kHz mono, 16-bit) to a temporary folder,
// names each in a sound trigger of a trigger list, rebuilds the reference set from it and
// prepares a detection step from the set, as the engine does after every rebuild. Prints one
// line per figure, "name value", sizes in MB (10^6 bytes) of resident memory growth (VmRSS
// after malloc_trim) over the state before the rebuild:
//   references            sounds in the set
//   plain_features_mb     after the rebuild alone: the features as analysed (32 float bands
//                         per frame), the copy matching once worked from
//   resident_mb           after the step was prepared: what detection keeps
//   resident_per_reference_kb
//   resident_spilled_mb   the step as the program keeps it: the kernel's low halves in an
//                         unnamed file of the temporary folder, read back only where needed
// The folder is removed afterwards. Optional arguments: the number of sounds, the folder to
// create the temporary one in.

#include <malloc.h>
#include <stdlib.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "analysis/LevelMeter.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TelephoneBandDetector.h"
#include "base/Clock.h"
#include "detection/ControlLauncher.h"
#include "detection/DetectionStep.h"
#include "detection/ReferenceSet.h"
#include "triggers/Trigger.h"
#include "triggers/TriggerList.h"
#include "wav/WaveFile.h"

namespace hushwell {
namespace {

namespace fs = std::filesystem;

constexpr int kDefaultSounds = 2000;
constexpr int kSoundRate = 16000;
constexpr int kSoundSeconds = 7;
constexpr double kBytesPerMb = 1e6;
constexpr double kBytesPerKb = 1e3;

// Resident memory in bytes once freed memory went back to the system.
double ResidentBytes() {
    ::malloc_trim(0);
    std::ifstream status("/proc/self/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            double kilobytes = 0;
            status >> kilobytes;
            return kilobytes * 1024.0;
        }
        status.ignore(1 << 12, '\n');
    }
    return 0;
}

// A sound of its own for every index: noise under two tones that glide.
bool WriteSound(const fs::path& path, unsigned index) {
    std::mt19937 rng(index);
    std::normal_distribution<double> noise(0.0, 800.0);
    std::uniform_real_distribution<double> pitch(200.0, 3000.0);
    const double from = pitch(rng);
    const double to = pitch(rng);
    std::vector<std::int16_t> samples(static_cast<std::size_t>(kSoundRate) * kSoundSeconds);
    double phase = 0.0;
    for (std::size_t n = 0; n < samples.size(); ++n) {
        const double share = static_cast<double>(n) / static_cast<double>(samples.size());
        phase += 2.0 * std::numbers::pi * (from + (to - from) * share) / kSoundRate;
        const double value = 6000.0 * std::sin(phase) + 3000.0 * std::sin(2.0 * phase) + noise(rng);
        samples[n] = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
    }
    WaveFormat format;
    format.formatTag = 1;
    format.channels = 1;
    format.sampleRate = kSoundRate;
    format.blockAlign = sizeof(std::int16_t);
    format.byteRate = kSoundRate * format.blockAlign;
    format.bitsPerSample = 16;
    return WriteWaveFile(path, std::as_bytes(std::span(samples)), format);
}

class NullLauncher final : public ControlLauncher {
public:
    bool StartSoundControl(const Trigger&, bool) override { return true; }
    bool StartTimeControl(const Trigger&, bool) override { return true; }
    LevelOutcome ExtendOrStartLevelControl(const Trigger&) override {
        return LevelOutcome::Started;
    }
    void PostTelephoneVerdict(int) override {}
};

struct TemporaryFolder {
    explicit TemporaryFolder(const fs::path& parent) {
        std::string pattern = (parent / "hushwell-refmem-XXXXXX").string();
        if (::mkdtemp(pattern.data()) != nullptr) {
            path = pattern;
        }
    }
    ~TemporaryFolder() {
        std::error_code ignored;
        if (!path.empty()) {
            fs::remove_all(path, ignored);
        }
    }
    fs::path path;
};

void Print(const char* name, double value) {
    std::printf("%s %.2f\n", name, value);
}

int Measure(int sounds, const fs::path& parent) {
    const TemporaryFolder folder(parent);
    if (folder.path.empty()) {
        std::fprintf(stderr, "cannot create a folder in %s\n", parent.c_str());
        return 1;
    }
    TriggerList list;
    list.SetBaseDir(folder.path.string());
    for (int n = 0; n < sounds; ++n) {
        const std::string name = "sound" + std::to_string(n) + ".wav";
        if (!WriteSound(folder.path / name, static_cast<unsigned>(n))) {
            std::fprintf(stderr, "cannot write %s\n", name.c_str());
            return 1;
        }
        Trigger trigger;
        trigger.SetActive(true);
        trigger.name = name;
        trigger.triggerKind = "sound";
        trigger.triggerFile = name;
        trigger.SetControl("mute");
        trigger.duration = TriggerTime(0, 0, 1);
        list.Add(trigger);
    }

    // Everything the engine keeps beside the set exists before the first figure is taken.
    ReferenceSet set;
    ManualClock clock;
    SpectralAnalyzer live;
    LevelMeter level;
    TelephoneBandDetector telephone;
    NullLauncher launcher;
    auto step = std::make_unique<DetectionStep>(list, live, level, telephone, launcher, clock);
    const double before = ResidentBytes();

    set.RebuildReferences(list);
    const double features = ResidentBytes() - before;
    step->PrepareReferences(set);
    const double kept = ResidentBytes() - before;

    std::printf("references %zu\n", set.Size());
    Print("plain_features_mb", features / kBytesPerMb);
    Print("resident_mb", kept / kBytesPerMb);
    Print("resident_per_reference_kb",
          set.Size() == 0 ? 0.0 : kept / static_cast<double>(set.Size()) / kBytesPerKb);
    step->SetSpillFolder(folder.path.string());
    step->PrepareReferences(set);
    Print("resident_spilled_mb", (ResidentBytes() - before) / kBytesPerMb);
    return set.Size() == static_cast<std::size_t>(sounds) ? 0 : 1;
}

}  // namespace
}  // namespace hushwell

int main(int argc, char** argv) {
    const int sounds = argc > 1 ? std::atoi(argv[1]) : hushwell::kDefaultSounds;
    const std::filesystem::path parent =
        argc > 2 ? std::filesystem::path(argv[2]) : std::filesystem::temp_directory_path();
    if (sounds <= 0 || sounds > static_cast<int>(hushwell::ReferenceSet::kMaxReferences)) {
        std::fprintf(stderr, "usage: %s [SOUNDS (1..2000)] [PARENT FOLDER]\n", argv[0]);
        return 2;
    }
    return hushwell::Measure(sounds, parent);
}
