#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "analysis/FineSpectrum.h"
#include "analysis/MatchKernel.h"
#include "analysis/SpectralPeaks.h"
#include "analysis/TonalTracks.h"
#include "analysis/TrackMatcher.h"
#include "audio/PlaybackStream.h"
#include "base/Clock.h"
#include "detection/LevelTriggerStep.h"
#include "detection/ReferenceSet.h"

namespace hushwell {

class ControlLauncher;
class Trigger;
class TriggerList;
class FiringSink;
class LevelMeter;
class ScoreBoard;
class SoundReference;
class SpectralAnalyzer;
class TelephoneBandDetector;
class WaveData;

// The work of the detection thread for each block of captured audio: live features, the
// level and the level triggers, then one matching pass for every new live frame once enough
// live history exists, and the trimming of that history.
//
// A matching pass compares every reference of every eligible sound trigger with the live
// frames up to the pass's frame (the cosine similarity of bands 0..23 over the reference's
// duration). A score strictly above the reference's match threshold fires the trigger: it is
// held off (its duration plus 300 ms; exec controls 4 s), logged, and its control is handed to
// the launcher when it lasts at least a second. Triggers are visited in list order and each
// trigger's references in order; a trigger with several matching references fires once for
// each. A sound trigger with its own match threshold (Trigger::matchThreshold) is held
// against that instead of its references' thresholds. After each pass the telephone-band
// detector takes the pass's frame and its verdict is posted to the controls.
//
// The passes of a run of blocks (one transfer from the capture, up to kMaxBlocksPerScoring
// blocks) are scored together by the match kernel, so each reference is read once per run;
// the decisions are still taken block by block and pass by pass, each block at its own tick,
// as if the blocks had been processed one at a time: scores do not depend on decisions, so
// the run scores the references of every trigger that could be a candidate in any of its
// blocks, and the trimming of the live history waits until the run is decided. A sound
// trigger's active flag and time window are read once per run.
//
// Threads: Begin, WakeUp, ProcessBlock and ProcessBlocks are the detection thread's;
// PrepareReferences runs while that thread is stopped; RequestStop may be called from any
// thread. The collaborators (list, live analyzer, level meter, telephone detector, launcher,
// clock, sink) must outlive the step.
class DetectionStep {
public:
    // Sound triggers rest after this long without a non-zero sample.
    static constexpr std::uint64_t kSilenceRestMs = 10000;
    // Hold-off after a firing: the duration plus kHoldOffSlackMs, or kExecHoldOffMs for exec.
    static constexpr std::uint64_t kHoldOffSlackMs = 300;
    static constexpr std::uint64_t kExecHoldOffMs = 4000;
    // The live history is trimmed by this many frames at a time.
    static constexpr std::int64_t kTrimFrames = 128;
    // Scores this close below a threshold, or above it, are decided by the plain correlation.
    static constexpr float kPlainRecheckBand = 1e-3f;
    // Blocks scored in one call of the match kernel at most; a longer batch (a backlog after a
    // stall) is processed in runs of this many, which bounds the live history a run adds.
    static constexpr std::size_t kMaxBlocksPerScoring = 32;

    // Verification (on unless SetVerification(false)): a reference whose sound has tonal peaks
    // is a candidate from kCandidateMargin below its threshold, and fires only when at least
    // kAgreementNeeded of its peaks are found in the live sound it matched; a reference without
    // peaks fires as without verification. A candidate's verdict stands for kReverifyPasses
    // passes (16 ms).
    //
    // Under a bed the first stage's score falls far below the threshold, so a reference with
    // peaks is also a candidate when its tonal tracks correlate with the live sound's
    // (TrackMatcher, the second stage) above kBedCandidateLevel; such a candidate too fires
    // only when verification finds its peaks.
    static constexpr float kCandidateMargin = 0.0f;
    static constexpr float kBedCandidateLevel = 0.8f;
    static constexpr float kAgreementNeeded = 0.5f;
    static constexpr std::size_t kReverifyPasses = 4;

    // Which sound triggers a step watches. The whole output's step leaves out the triggers
    // that target "program": they act on one program, so only a step over that program's own
    // stream may fire them, and its firings name the program in the log line. The scan tool
    // takes a recording as one program's stream and the whole output at once.
    enum class Scope { WholeOutput, OneProgram, Recording };

    // A candidate that verification turned down, and the trigger it was a candidate of.
    struct Rejection {
        const Trigger* trigger = nullptr;
        std::size_t passEnd = 0;
        std::uint32_t reference = 0;
        float score = 0.0f;
        float threshold = 0.0f;
        float agreement = 0.0f;
        float bedScore = -1.0f;  // the bed stage's score when it made the candidate
    };

    // A block of captured audio and the tick at which it counts as heard.
    struct HeardBlock {
        const WaveData* block = nullptr;
        std::uint64_t tick = 0;
    };

    // Receives the scores of every reference in each matching pass (for tools that show how
    // close a reference came). Detection thread.
    class ScoreObserver {
    public:
        virtual ~ScoreObserver() = default;
        // scores[r]: the score of reference r in the pass over live frames [0, passEnd).
        virtual void OnPassScores(std::size_t passEnd, std::span<const float> scores) = 0;
    };

    // Receives the candidates verification rejected. Detection thread.
    class RejectionObserver {
    public:
        virtual ~RejectionObserver() = default;
        virtual void OnRejected(const Rejection& rejection) = 0;
    };

    // firings may be null.
    DetectionStep(TriggerList& triggers, SpectralAnalyzer& liveAnalyzer, LevelMeter& level,
                  TelephoneBandDetector& telephone, ControlLauncher& launcher, const Clock& clock,
                  FiringSink* firings = nullptr);

    // --- While the detection thread is stopped ---

    // Takes the references that trigger indices refer to and the maximum reference length in
    // feature values (the live history needed is eight times as many). Call after every
    // rebuild of the reference set.
    void PrepareReferences(std::span<const SoundReference> references,
                           std::uint32_t maxReferenceLength);
    void PrepareReferences(const ReferenceSet& set);
    // The same, the set's references giving up their feature values as the kernel takes them,
    // so that the kernel's copy is the only one held. Preparing again from the same rebuild
    // keeps the kernel as it is; a set whose features another step took must be rebuilt.
    void PrepareReferences(ReferenceSet& set);
    // The same while the set is rebuilt: each reference is prepared as soon as it is analysed
    // and the set frees its features at once, so the rebuild never holds the features of the
    // whole set. Hand the result to ReferenceSet::RebuildReferences (the step must outlive
    // that call), then call PrepareReferences(set) to finish.
    ReferenceSet::ReferenceTaker TakeReferencesOf(const ReferenceSet& set);
    // Where the prepared references' low halves go once prepared (MatchKernel::SpillLowHalves);
    // empty (the default) keeps them in memory. Takes effect with the next PrepareReferences.
    void SetSpillFolder(std::string folder) { spillFolder_ = std::move(folder); }
    // Gives the prepared references' memory back, before the set is rebuilt, so that the old
    // references and the new set's features are not held at once. PrepareReferences follows.
    void ReleaseReferences();
    // With an observer every reference is scored in every pass, exactly. Null removes it.
    void SetScoreObserver(ScoreObserver* observer) { scoreObserver_ = observer; }
    void SetRejectionObserver(RejectionObserver* observer) { rejectionObserver_ = observer; }
    // The board the live meter reads; written only while it is watched. Null removes it.
    void SetScoreBoard(ScoreBoard* board) { scoreBoard_ = board; }
    // On: candidates and verification as described above. Off: the correlation's threshold
    // alone decides. Takes effect with the next PrepareReferences.
    void SetVerification(bool on) { verification_ = on; }
    bool Verification() const { return verification_; }
    // WholeOutput unless set. program (OneProgram): the program whose stream the step hears,
    // which its firings' controls act on and their log lines name in brackets.
    void SetScope(Scope scope, ProgramIdentity program = {});
    Scope GetScope() const { return scope_; }

    // Sets the hold-off of every trigger of the three kinds to 0, as every start of detection
    // does, so that all are eligible at once.
    static void ClearHoldOffs(TriggerList& triggers);

    // --- Detection thread ---

    // At thread start: no frame has had its pass, no sound has been heard, no stop requested.
    void Begin();
    // Once per wake-up: the local time the time windows are tested against until the next.
    void WakeUp();
    // The step for one block: interleaved 16-bit samples, one or two channels. Other blocks
    // are ignored. The block tick is read from the clock once the block is analysed.
    void ProcessBlock(const WaveData& block);
    // The step for several blocks in order, each at its own tick: the same decisions and
    // firings as ProcessBlock on each block in turn with the clock at that block's tick, with
    // one scoring call for every kMaxBlocksPerScoring blocks. A score may differ in its last
    // bits, as the kernel may sum a pass's products in another order when it scores more
    // passes at once. Null or unusable blocks are ignored; the blocks stay the caller's.
    void ProcessBlocks(std::span<const HeardBlock> blocks);

    // --- Any thread ---

    // Ends the matching passes at the next trigger; the engine also uses it as its stop flag.
    void RequestStop() { stopRequested_.store(true); }
    bool StopRequested() const { return stopRequested_.load(); }

    // Inspection (detection thread, or while it is stopped).
    std::int64_t DoneFrames() const { return doneFrames_; }
    std::uint64_t LastSoundTick() const { return lastSoundTick_; }
    std::uint64_t PassesRun() const { return passesRun_; }
    std::uint32_t MaxReferenceLength() const { return maxReferenceLength_; }
    // The tick of the block being decided, or of the last one decided: the tick firings and
    // pass scores belong to.
    std::uint64_t BlockTick() const { return blockTick_; }

private:
    // An active sound trigger in its time window for the run being decided: its hold-off (kept
    // in step with the record's, which only this thread writes), its reference indices, and
    // whether they are among the run's scored references.
    struct RunTrigger {
        Trigger* trigger = nullptr;
        std::uint32_t serialId = 0;
        float ownThreshold = 0.0f;  // Trigger::kNoMatchThreshold: none
        std::uint64_t holdUntil = 0;
        std::size_t firstIndex = 0;  // into runIndices_
        std::size_t indexCount = 0;
        bool scored = false;
    };
    // A run trigger that may fire in this block.
    struct Candidate {
        RunTrigger* trigger = nullptr;
        bool fired = false;  // held off by a firing earlier in this block
    };

    // A block of the run being decided, already analysed.
    struct RunBlock {
        const WaveData* block = nullptr;
        std::uint64_t tick = 0;
        std::int64_t liveValues = 0;  // live feature values once this block was analysed
    };

    void AddReference(const SoundReference& reference);
    void SpillLowHalves();
    void ClearPrepared();
    static bool IsUsable(const WaveData& block);
    void Analyse(const WaveData& block, std::uint64_t tick);
    void DecideRun();
    void DecideBlock(const RunBlock& block);
    std::int64_t NeededValues() const;
    void RunMatchingPasses(std::int64_t liveValues, std::uint64_t now);
    void SelectCandidates(std::uint64_t now);
    void ListRunTriggers();
    bool Watches(const Trigger& trigger) const;
    void ScoreRun(std::size_t firstPassEnd);
    void MatchPass(std::size_t row, std::size_t passEnd, std::uint64_t now);
    // Whether the trigger fired on one of its references in this pass.
    void MatchTrigger(Candidate& candidate, std::size_t row, std::size_t passEnd,
                      std::uint64_t now);
    // The threshold a trigger's reference is held against, and the score a candidate must
    // exceed.
    float ThresholdFor(const RunTrigger& trigger, std::uint32_t reference) const;
    float LevelFor(const RunTrigger& trigger, std::uint32_t reference) const;
    // The candidate levels of the run: levels_, lowered where a trigger's own threshold asks
    // for less.
    std::span<const float> RunLevels();
    float DecidingScore(std::size_t row, std::size_t passEnd, std::uint32_t reference, float level);
    // The share of the reference's peaks found in the live sound its pass matched.
    float Agreement(std::size_t passEnd, std::uint32_t reference);
    // The stream sample at which the sound a pass matched ends.
    std::uint64_t PassEndSample(std::size_t passEnd) const;
    // The bed stage's score of a reference in a pass; -1 for a reference without a pattern.
    float BedScore(std::size_t passEnd, std::uint32_t reference);
    // Hands the samples the live analyzer resampled since the last call to the second stage.
    void FeedTracks();
    void SetLevels();
    struct FiringCheck {
        float agreement = -1.0f;  // -1: the reference has no peaks
        float bedScore = -1.0f;   // -1: the first stage made the candidate
    };
    void Fire(Candidate& candidate, std::uint32_t reference, float score, float threshold,
              FiringCheck check, std::uint64_t now);
    void UpdateTelephone(std::size_t passEnd);
    void CountTrim(std::int64_t liveValues);
    void TrimLiveHistory();

    TriggerList& triggers_;
    SpectralAnalyzer& live_;
    LevelMeter& level_;
    TelephoneBandDetector& telephone_;
    ControlLauncher& launcher_;
    const Clock& clock_;
    FiringSink* firings_;
    ScoreObserver* scoreObserver_ = nullptr;
    RejectionObserver* rejectionObserver_ = nullptr;
    ScoreBoard* scoreBoard_ = nullptr;
    bool meterWatched_ = false;  // read once per run
    bool verification_ = true;
    std::string spillFolder_;
    Scope scope_ = Scope::WholeOutput;
    ProgramIdentity program_;
    LevelTriggerStep levelStep_;

    // The references, prepared for the kernel, and their match thresholds.
    MatchKernel kernel_;
    std::vector<float> thresholds_;
    // Per reference: the score a candidate must exceed (the threshold without verification),
    // its tonal peaks, its frame count, and its last verdict (the pass end it was taken at).
    std::vector<float> levels_;
    std::vector<SpectralPeaks> peaks_;
    std::vector<std::uint32_t> referenceFrames_;
    struct Verdict {
        std::size_t passEnd = 0;
        float agreement = 0.0f;
        bool valid = false;
    };
    std::vector<Verdict> verdicts_;
    // The second stage (only with verification, for references with peaks): per reference its
    // index in trackMatcher_ or kNoPattern, the live tonal tracks and each reference's last
    // score (by the live frame it was taken at).
    static constexpr std::uint32_t kNoPattern = ~std::uint32_t{0};
    TrackMatcher trackMatcher_;
    std::vector<std::uint32_t> trackPatterns_;
    TonalTracks tracks_;
    std::uint64_t tracksEnd_ = 0;  // stream sample the second stage has been fed up to
    bool tracksWanted_ = true;     // the last listed run has a trigger with a pattern
    struct BedScoreMemo {
        std::uint64_t frame = ~std::uint64_t{0};
        float score = 0.0f;
    };
    std::vector<BedScoreMemo> bedScores_;
    std::vector<float> trackSamples_;
    FineSpectrum fineSpectrum_;
    std::vector<float> verifySamples_;
    std::vector<float> verifyPower_;
    std::uint32_t maxReferenceLength_ = 0;  // feature values, M
    // The reference set rebuild the kernel was prepared from; kNoGeneration after a release.
    static constexpr std::uint64_t kNoGeneration = ~std::uint64_t{0};
    std::uint64_t preparedGeneration_ = kNoGeneration;

    // Detection thread state, reset by Begin.
    std::atomic<bool> stopRequested_{false};
    std::int64_t doneFrames_ = 0;  // D
    std::uint64_t lastSoundTick_ = 0;
    std::int64_t framesPerReferenceHop_ = 8;  // S
    LocalTime wakeUpTime_;
    std::uint64_t passesRun_ = 0;

    std::uint64_t blockTick_ = 0;

    // The run being decided: its blocks, its sound triggers (listed on first need), whether
    // its passes are scored and from which pass end, and the trims it has put off.
    std::vector<RunBlock> run_;
    std::vector<RunTrigger> runTriggers_;
    std::vector<std::uint32_t> runIndices_;
    bool runTriggersListed_ = false;
    bool runScored_ = false;
    std::size_t scoredFirstPassEnd_ = 0;
    std::int64_t runTrims_ = 0;

    // Scratch of one block (candidates) and of one run (references to score, scores).
    std::vector<Candidate> candidates_;
    std::vector<std::uint32_t> selected_;  // the references to score, increasing
    std::vector<float> runLevels_;         // only when a run trigger has its own threshold
    MatchKernel::Scores scores_;
};

}  // namespace hushwell
