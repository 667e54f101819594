#include "detection/ReferenceSet.h"

#include <dirent.h>
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>

#include "triggers/LocalPath.h"
#include "triggers/Trigger.h"
#include "triggers/TriggerList.h"
#include "wav/SampleConversion.h"
#include "wav/WaveData.h"
#include "wav/WaveFile.h"

namespace hushwell {

namespace {

constexpr char kSeparator = '/';

std::atomic<std::uint64_t> nextGeneration{0};

bool IsRegularFile(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool HasWildcard(std::string_view name) {
    return name.find_first_of("*?") != name.npos;
}

// An fnmatch pattern in which only * and ? are special: the characters fnmatch would also
// take as a bracket expression or an escape stand for themselves.
std::string WildcardPattern(std::string_view name) {
    std::string pattern;
    pattern.reserve(name.size() * 2);
    for (char c : name) {
        if (c == '[' || c == ']' || c == '\\') {
            pattern += '\\';
        }
        pattern += c;
    }
    return pattern;
}

struct DirCloser {
    void operator()(DIR* dir) const { ::closedir(dir); }
};

}  // namespace

ReferenceSet::ReferenceSet(std::string triggersFolder)
    : triggersFolder_(std::move(triggersFolder)) {}

void ReferenceSet::SetTriggersFolder(std::string triggersFolder) {
    triggersFolder_ = std::move(triggersFolder);
}

std::string ReferenceSet::EffectiveBase(std::string_view baseDir, std::string_view triggersFolder) {
    return LocalPath::BaseFolder(baseDir, triggersFolder);
}

std::pair<std::string, std::string> ReferenceSet::SplitTriggerText(std::string_view triggerText,
                                                                   std::string_view baseFolder) {
    const LocalPath local = LocalPath::FromText(triggerText);
    if (local.kind == LocalPath::Kind::Foreign) {
        return {};  // a place on another system: nothing to find here
    }
    const std::string_view text = local.path;
    const std::size_t slash = text.rfind(kSeparator);
    if (slash == text.npos) {
        std::string folder(baseFolder);
        if (folder.empty() || folder.back() != kSeparator) {
            folder += kSeparator;
        }
        return {folder, std::string(text)};
    }
    return {std::string(text.substr(0, slash + 1)), std::string(text.substr(slash + 1))};
}

std::vector<std::string> ReferenceSet::MatchingFiles(const std::string& folder,
                                                     const std::string& pattern) {
    std::vector<std::string> names;
    if (pattern.empty()) {
        return names;
    }
    if (!HasWildcard(pattern)) {
        if (IsRegularFile(folder + pattern)) {
            names.push_back(pattern);
        }
        return names;
    }
    std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
    if (!dir) {
        return names;
    }
    const std::string fnPattern = WildcardPattern(pattern);
    while (const dirent* entry = ::readdir(dir.get())) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        if (::fnmatch(fnPattern.c_str(), name.c_str(), FNM_PERIOD) != 0) {
            continue;
        }
        if (IsRegularFile(folder + name)) {
            names.push_back(name);
        }
    }
    std::sort(names.begin(), names.end());
    return names;
}

int ReferenceSet::RebuildReferences(TriggerList& list) {
    return RebuildReferences(list, ReferenceTaker());
}

int ReferenceSet::RebuildReferences(TriggerList& list, const ReferenceTaker& take) {
    // 1.-2. Base folder, then an empty set.
    effectiveBaseFolder_ = EffectiveBase(list.BaseDir(), triggersFolder_);
    Clear();
    analyzer_ = std::make_unique<SpectralAnalyzer>();
    taker_ = take ? &take : nullptr;

    // 3. Every active sound trigger, in list order. The list lock keeps the record in place
    // while its files are attached.
    for (int n = 0;; ++n) {
        std::lock_guard listLock(list.Mutex());
        Trigger* trigger = list.GetSound(n);
        if (trigger == nullptr) {
            break;
        }
        AttachFiles(*trigger);
    }
    analyzer_.reset();
    featuresReleased_ = taker_ != nullptr;
    taker_ = nullptr;
    return list.CountSound() + list.CountTime();
}

void ReferenceSet::ReleaseFeaturesOf(std::size_t index) {
    if (index < references_.size()) {
        references_[index].ReleaseFeatures();
    }
}

void ReferenceSet::ReleaseAllFeatures() {
    for (SoundReference& reference : references_) {
        reference.ReleaseFeatures();
    }
    featuresReleased_ = true;
}

void ReferenceSet::Clear() {
    paths_.clear();
    references_.clear();
    indexByPath_.clear();
    rejectedPaths_.clear();
    maxReferenceLength_ = kInitialMaxReferenceLength;
    featuresReleased_ = false;
    generation_ = nextGeneration.fetch_add(1) + 1;
}

void ReferenceSet::AttachFiles(Trigger& trigger) {
    std::lock_guard lock(trigger.Mutex());
    trigger.referenceIndices.clear();
    const auto [folder, name] = SplitTriggerText(trigger.triggerFile, effectiveBaseFolder_);
    for (const std::string& entry : MatchingFiles(folder, name)) {
        const std::int64_t index = IndexOf(folder + entry);
        if (index >= 0) {
            trigger.referenceIndices.push_back(static_cast<std::uint32_t>(index));
        }
    }
}

std::int64_t ReferenceSet::IndexOf(const std::string& path) {
    if (const auto found = indexByPath_.find(path); found != indexByPath_.end()) {
        return found->second;
    }
    if (paths_.size() >= kMaxReferences || rejectedPaths_.contains(path)) {
        return -1;
    }
    if (!Analyse(path)) {
        rejectedPaths_.insert(path);
        return -1;
    }
    const auto index = static_cast<std::uint32_t>(paths_.size());
    paths_.push_back(path);
    indexByPath_.emplace(path, index);
    const auto length = static_cast<std::uint32_t>(references_.back().FeatureCount());
    maxReferenceLength_ = std::max(maxReferenceLength_, length);
    if (taker_ != nullptr) {
        (*taker_)(index, references_.back());
        references_.back().ReleaseFeatures();
    }
    return index;
}

bool ReferenceSet::Analyse(const std::string& path) {
    WaveData sound;
    if (ReadWaveFile(sound, path, kMaxReferenceSeconds) != kWaveOk) {
        return false;
    }
    const WaveFormat& format = sound.Format();
    if (CheckAudioFormat(format) != 0 || sound.SampleCount() <= 0) {
        return false;
    }
    // 32-bit sounds (integer or float) are brought to 16 bits for the analyzer.
    const std::vector<std::int16_t> samples = SoundSamplesToPcm16(sound);
    if (samples.empty()) {
        return false;
    }
    const int rate = static_cast<int>(format.sampleRate);
    const int channels = format.channels;
    analyzer_->SetInputRate(rate);
    if (analyzer_->ExtractReferenceFeatures(rate, channels, samples) != 0) {
        return false;
    }
    references_.emplace_back(analyzer_->Features(), analyzer_->MatchThreshold());
    // The peaks of the stretch the frames cover.
    const std::span<const float> resampled = analyzer_->ReferenceSamples();
    const std::size_t analysed = std::min(
        resampled.size(), references_.back().FrameCount() * SpectralAnalyzer::kReferenceHop);
    references_.back().SetPeaks(SpectralPeaks::OfSound(resampled.first(analysed), fineSpectrum_));
    references_.back().SetTracks(tracks_.ReferencePattern(resampled.first(analysed)));
    return true;
}

float ReferenceSet::LengthThresholdOf(std::string_view triggerText, std::string_view baseDir,
                                      std::string_view triggersFolder) {
    const auto [folder, name] =
        SplitTriggerText(triggerText, EffectiveBase(baseDir, triggersFolder));
    for (const std::string& entry : MatchingFiles(folder, name)) {
        WaveData sound;
        if (ReadWaveFile(sound, folder + entry, kMaxReferenceSeconds) != kWaveOk) {
            continue;
        }
        const WaveFormat& format = sound.Format();
        if (CheckAudioFormat(format) != 0 || sound.SampleCount() <= 0 || format.channels < 1) {
            continue;
        }
        const auto frames = static_cast<std::size_t>(sound.SampleCount()) / format.channels;
        return SpectralAnalyzer::ThresholdForLength(frames, static_cast<int>(format.sampleRate));
    }
    return 0.0f;
}

}  // namespace hushwell
