#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "analysis/FineSpectrum.h"
#include "analysis/SoundReference.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TonalTracks.h"

namespace hushwell {

class Trigger;
class TriggerList;

// The reference sounds of the sound triggers: one analysed SoundReference per distinct file
// path, and in every active sound trigger the indices of its files in this set. Rebuilt from
// scratch whenever the trigger list may have changed, never updated piecemeal.
//
// A trigger's `trigger` text names its files: without a "/" a name (which may hold the
// wildcards * and ?) in the effective base folder, otherwise a folder and a name; relative
// folders are taken from the process's current folder. "\" separates folders as "/" does,
// since lists come from the other platform too (LocalPath).
//
// Threads: RebuildReferences runs on the user-interface thread while the detection thread is
// stopped (or before it first starts). Between rebuilds the detection thread reads the set
// through the const accessors. No lock protects the set: the stop / rebuild / start order
// keeps the two apart.
class ReferenceSet {
public:
    // At most this many distinct files are analysed per rebuild.
    static constexpr std::size_t kMaxReferences = 2000;
    // Sounds are cut to their first 7 seconds.
    static constexpr float kMaxReferenceSeconds = 7.0f;
    // Maximum reference length (feature values) at the start of every rebuild.
    static constexpr std::uint32_t kInitialMaxReferenceLength = 4096;

    // triggersFolder: the application's "triggers" folder, used in place of a base folder
    // that is not absolute.
    explicit ReferenceSet(std::string triggersFolder = {});

    // User-interface thread.
    void SetTriggersFolder(std::string triggersFolder);
    // Rebuilds the set from the active sound triggers of the list, in list order, and gives
    // each of them its referenceIndices. Unreadable or unacceptable files and files beyond
    // the cap are skipped silently. Returns the number of active sound and time triggers.
    int RebuildReferences(TriggerList& list);
    // Receives each reference (with its index) as soon as it is analysed; the set frees the
    // reference's features right after, so that the features of the whole set are never held
    // at once. FeaturesReleased() is true after such a rebuild.
    using ReferenceTaker = std::function<void(std::size_t index, const SoundReference& reference)>;
    int RebuildReferences(TriggerList& list, const ReferenceTaker& take);

    // Detection thread (or the user-interface thread while detection is stopped).
    const std::vector<SoundReference>& References() const { return references_; }
    const std::vector<std::string>& Paths() const { return paths_; }
    std::size_t Size() const { return references_.size(); }
    // The largest feature count of any reference, at least kInitialMaxReferenceLength.
    std::uint32_t MaxReferenceLength() const { return maxReferenceLength_; }
    // The base folder of the last rebuild.
    const std::string& EffectiveBaseFolder() const { return effectiveBaseFolder_; }
    // Tells rebuilds apart: a new value for every rebuild of any set.
    std::uint64_t Generation() const { return generation_; }

    // Once the detection step holds its own copy of the features, the references give theirs
    // up (their counts and thresholds stay): one reference, or all of them.
    void ReleaseFeaturesOf(std::size_t index);
    void ReleaseAllFeatures();
    // True from ReleaseAllFeatures to the next rebuild.
    bool FeaturesReleased() const { return featuresReleased_; }

    // The base folder trigger names without a folder are looked up in: baseDir when it is
    // absolute here (LocalPath::BaseFolder), otherwise the triggers folder.
    static std::string EffectiveBase(std::string_view baseDir, std::string_view triggersFolder);
    // Splits a trigger text (read by LocalPath) at its last folder separator into a folder
    // (ending with "/") and a name. A text without one gets the base folder, with a "/"
    // appended unless it ends with one. A text absolute on another platform gives nothing.
    static std::pair<std::string, std::string> SplitTriggerText(std::string_view triggerText,
                                                                std::string_view baseFolder);
    // The regular files of folder whose names match pattern (* and ? are wildcards, every
    // other character stands for itself; a leading "." must be matched by a "."), sorted by
    // name. Empty when the folder cannot be read or nothing matches.
    static std::vector<std::string> MatchingFiles(const std::string& folder,
                                                  const std::string& pattern);
    // The match threshold the length of a trigger text's first usable sound gives, found and
    // read as a rebuild would; 0 when there is none. Any thread (it only reads files).
    static float LengthThresholdOf(std::string_view triggerText, std::string_view baseDir,
                                   std::string_view triggersFolder);

private:
    void Clear();
    void AttachFiles(Trigger& trigger);
    // The index of path in the set, analysing the file if it is new; -1 when it is skipped.
    std::int64_t IndexOf(const std::string& path);
    bool Analyse(const std::string& path);

    std::string triggersFolder_;
    std::string effectiveBaseFolder_;
    std::vector<std::string> paths_;
    std::vector<SoundReference> references_;
    std::unordered_map<std::string, std::uint32_t> indexByPath_;
    // Files found unusable in this rebuild, so that other triggers naming them skip the read.
    std::unordered_set<std::string> rejectedPaths_;
    std::uint32_t maxReferenceLength_ = kInitialMaxReferenceLength;
    std::uint64_t generation_ = 0;
    bool featuresReleased_ = false;
    // Only while a rebuild runs: who takes each reference as it is analysed (may be empty).
    const ReferenceTaker* taker_ = nullptr;
    // The fine spectra the references' peaks are found in, and their tonal tracks.
    FineSpectrum fineSpectrum_;
    TonalTracks tracks_;
    // Only while a rebuild runs: its buffers grow with the longest sound.
    std::unique_ptr<SpectralAnalyzer> analyzer_;
};

}  // namespace hushwell
