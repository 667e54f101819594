#include "detection/DetectionStep.h"

#include <algorithm>
#include <mutex>
#include <string>
#include <utility>

#include "analysis/LevelMeter.h"
#include "analysis/SoundReference.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TelephoneBandDetector.h"
#include "detection/ControlLauncher.h"
#include "detection/FiringSink.h"
#include "detection/ReferenceSet.h"
#include "detection/ScoreBoard.h"
#include "detection/TimeWindow.h"
#include "triggers/EventLog.h"
#include "triggers/TriggerList.h"
#include "wav/WaveData.h"

namespace hushwell {

namespace {

constexpr std::int64_t kBands = SpectralAnalyzer::kBandCount;  // B
constexpr std::uint64_t kMsPerSecond = 1000;
constexpr int kMaxBlockChannels = 2;
// Internal samples one block may add at most beyond those its frames use (a generous bound).
constexpr std::size_t kMaxBlockSamples = 16384;

}  // namespace

DetectionStep::DetectionStep(TriggerList& triggers, SpectralAnalyzer& liveAnalyzer,
                             LevelMeter& level, TelephoneBandDetector& telephone,
                             ControlLauncher& launcher, const Clock& clock, FiringSink* firings)
    : triggers_(triggers),
      live_(liveAnalyzer),
      level_(level),
      telephone_(telephone),
      launcher_(launcher),
      clock_(clock),
      firings_(firings),
      levelStep_(triggers, launcher, firings),
      maxReferenceLength_(ReferenceSet::kInitialMaxReferenceLength) {}

// --- Set-up ----------------------------------------------------------------------------------

void DetectionStep::PrepareReferences(std::span<const SoundReference> references,
                                      std::uint32_t maxReferenceLength) {
    kernel_.ClearReferences();
    thresholds_.clear();
    peaks_.clear();
    referenceFrames_.clear();
    trackMatcher_.Clear();
    trackPatterns_.clear();
    for (const SoundReference& reference : references) {
        AddReference(reference);
    }
    maxReferenceLength_ = maxReferenceLength;
    SpillLowHalves();
    SetLevels();
    tracks_.SetReadBins(trackMatcher_.ReadBins());
}

void DetectionStep::PrepareReferences(const ReferenceSet& set) {
    PrepareReferences(set.References(), set.MaxReferenceLength());
    preparedGeneration_ = set.Generation();
}

// Each reference gives up its features as soon as the kernel has its own copy, so that the
// two copies of the whole set are never held at once.
void DetectionStep::PrepareReferences(ReferenceSet& set) {
    if (set.FeaturesReleased() && set.Generation() == preparedGeneration_) {
        // The kernel holds this rebuild's references already (taken during the rebuild, or
        // prepared before).
        maxReferenceLength_ = set.MaxReferenceLength();
        SpillLowHalves();
        SetLevels();
        tracks_.SetReadBins(trackMatcher_.ReadBins());
        return;
    }
    ClearPrepared();
    std::size_t frames = 0;
    for (const SoundReference& reference : set.References()) {
        frames += reference.FrameCount();
    }
    kernel_.ReserveReferences(set.Size(), frames);
    thresholds_.reserve(set.Size());
    for (std::size_t index = 0; index < set.Size(); ++index) {
        AddReference(set.References()[index]);
        set.ReleaseFeaturesOf(index);
    }
    set.ReleaseAllFeatures();
    maxReferenceLength_ = set.MaxReferenceLength();
    preparedGeneration_ = set.Generation();
    SpillLowHalves();
    SetLevels();
    tracks_.SetReadBins(trackMatcher_.ReadBins());
}

ReferenceSet::ReferenceTaker DetectionStep::TakeReferencesOf(const ReferenceSet& set) {
    ClearPrepared();
    // Room for the largest set the rebuild may make: memory that is reserved but never
    // written costs address space only, and the kernel never copies itself while it grows.
    constexpr auto kMostFrames = static_cast<std::size_t>(ReferenceSet::kMaxReferenceSeconds *
                                                              SpectralAnalyzer::kInternalRate /
                                                              SpectralAnalyzer::kReferenceHop +
                                                          2);
    kernel_.ReserveReferences(ReferenceSet::kMaxReferences,
                              ReferenceSet::kMaxReferences * kMostFrames);
    // The low halves go to their file as each reference comes, never all in memory at once.
    if (!spillFolder_.empty()) {
        kernel_.BeginSpilling(spillFolder_);
    }
    return [this, &set](std::size_t, const SoundReference& reference) {
        AddReference(reference);
        preparedGeneration_ = set.Generation();
    };
}

void DetectionStep::ClearPrepared() {
    kernel_.ClearReferences();
    thresholds_.clear();
    peaks_.clear();
    referenceFrames_.clear();
    trackMatcher_.Clear();
    trackPatterns_.clear();
    preparedGeneration_ = kNoGeneration;
}

void DetectionStep::ReleaseReferences() {
    kernel_.ReleaseReferences();
    thresholds_.clear();
    thresholds_.shrink_to_fit();
    std::vector<SpectralPeaks>().swap(peaks_);
    std::vector<std::uint32_t>().swap(referenceFrames_);
    std::vector<float>().swap(levels_);
    std::vector<Verdict>().swap(verdicts_);
    trackMatcher_.Release();
    std::vector<std::uint32_t>().swap(trackPatterns_);
    std::vector<BedScoreMemo>().swap(bedScores_);
    preparedGeneration_ = kNoGeneration;
}

void DetectionStep::AddReference(const SoundReference& reference) {
    kernel_.AddReference(reference.Features());
    thresholds_.push_back(reference.MatchThreshold());
    peaks_.push_back(reference.Peaks());
    referenceFrames_.push_back(static_cast<std::uint32_t>(reference.FrameCount()));
    // Only a reference whose peaks verification can look for may be a candidate under a bed.
    const bool secondStage =
        verification_ && !reference.Peaks().IsEmpty() && TrackMatcher::IsUsable(reference.Tracks());
    trackPatterns_.push_back(secondStage
                                 ? static_cast<std::uint32_t>(trackMatcher_.Add(reference.Tracks()))
                                 : kNoPattern);
}

// A spill that fails leaves the halves in memory: the decisions are the same either way.
void DetectionStep::SpillLowHalves() {
    if (!spillFolder_.empty()) {
        kernel_.SpillLowHalves(spillFolder_);
    }
}

// The candidate level of each reference: below the threshold only for references whose
// peaks verification can look for.
void DetectionStep::SetLevels() {
    levels_ = thresholds_;
    if (verification_) {
        for (std::size_t r = 0; r < levels_.size(); ++r) {
            if (!peaks_[r].IsEmpty()) {
                levels_[r] -= kCandidateMargin;
            }
        }
    }
    verdicts_.assign(levels_.size(), Verdict{});
    bedScores_.assign(levels_.size(), BedScoreMemo{});
}

void DetectionStep::ClearHoldOffs(TriggerList& triggers) {
    std::lock_guard listLock(triggers.Mutex());
    for (const TriggerKind kind : {TriggerKind::Sound, TriggerKind::Time, TriggerKind::Level}) {
        for (int n = 0; n < triggers.Count(kind); ++n) {
            if (Trigger* trigger = triggers.Get(kind, n)) {
                std::lock_guard lock(trigger->Mutex());
                trigger->holdUntil = 0;
            }
        }
    }
}

void DetectionStep::Begin() {
    stopRequested_.store(false);
    framesPerReferenceHop_ = live_.FrameLength() / live_.LiveHop();
    doneFrames_ = 0;
    lastSoundTick_ = 0;
    passesRun_ = 0;
    kernel_.ResetLive();
    verdicts_.assign(levels_.size(), Verdict{});
    live_.KeepRecentSamples(verification_ ? SpectralPeaks::kSpanSamples + 2 * kMaxBlockSamples : 0);
    tracksWanted_ = true;
    tracksEnd_ = live_.RecentEnd();
    tracks_.Reset(tracksEnd_);
    bedScores_.assign(levels_.size(), BedScoreMemo{});
    WakeUp();
}

void DetectionStep::WakeUp() {
    wakeUpTime_ = clock_.Now();
    levelStep_.WakeUp(wakeUpTime_);
}

// --- The block step --------------------------------------------------------------------------

void DetectionStep::ProcessBlock(const WaveData& block) {
    if (!IsUsable(block)) {
        return;
    }
    run_.clear();
    // Live features first, then the block tick that every comparison of this block uses.
    live_.ExtractLiveFeatures(static_cast<int>(block.Format().sampleRate), block.Format().channels,
                              block.Samples16());
    FeedTracks();
    run_.push_back({&block, clock_.TickMs(), static_cast<std::int64_t>(live_.Features().size())});
    DecideRun();
}

void DetectionStep::ProcessBlocks(std::span<const HeardBlock> blocks) {
    run_.clear();
    for (const HeardBlock& heard : blocks) {
        if (heard.block == nullptr || !IsUsable(*heard.block)) {
            continue;
        }
        Analyse(*heard.block, heard.tick);
        if (run_.size() == kMaxBlocksPerScoring) {
            DecideRun();
            run_.clear();
        }
    }
    if (!run_.empty()) {
        DecideRun();
    }
}

bool DetectionStep::IsUsable(const WaveData& block) {
    const int channels = block.Format().channels;
    return block.Kind() == SampleKind::Pcm16 && channels >= 1 && channels <= kMaxBlockChannels &&
           !block.Samples16().empty();
}

void DetectionStep::Analyse(const WaveData& block, std::uint64_t tick) {
    live_.ExtractLiveFeatures(static_cast<int>(block.Format().sampleRate), block.Format().channels,
                              block.Samples16());
    FeedTracks();
    run_.push_back({&block, tick, static_cast<std::int64_t>(live_.Features().size())});
}

// The bed stage hears what the live analyzer resampled; after a gap it can no longer bridge
// (more than the analyzer keeps), it starts afresh.
// A step whose listed triggers have no second-stage pattern (the whole output's while every
// sound trigger targets "program") makes no frames; it starts afresh once one has.
void DetectionStep::FeedTracks() {
    if (trackMatcher_.Size() == 0) {
        return;
    }
    const std::uint64_t end = live_.RecentEnd();
    if (end <= tracksEnd_) {
        return;
    }
    if (tracksWanted_ &&
        live_.RecentSamplesBefore(end, static_cast<std::size_t>(end - tracksEnd_), trackSamples_)) {
        tracks_.Append(trackSamples_);
    } else {
        tracks_.Reset(end);
        bedScores_.assign(bedScores_.size(), BedScoreMemo{});
    }
    tracksEnd_ = end;
}

// The blocks of the run in order, as if each had been processed on its own. Live frames are
// only appended while the run is decided, so pass ends stay valid; the trims the blocks would
// have made one by one happen together at the end.
void DetectionStep::DecideRun() {
    runTriggersListed_ = false;
    runScored_ = false;
    runTrims_ = 0;
    for (const RunBlock& block : run_) {
        DecideBlock(block);
    }
    TrimLiveHistory();
}

void DetectionStep::DecideBlock(const RunBlock& block) {
    const WaveData& wave = *block.block;
    const std::uint64_t now = block.tick;
    blockTick_ = now;

    // The level, whether anything was heard, the level triggers.
    if (level_.Update(static_cast<int>(wave.Format().sampleRate), wave.Format().channels,
                      wave.Samples16())) {
        lastSoundTick_ = now;
    }
    levelStep_.Evaluate(level_, now);

    // The block itself stays with the caller.
    RunMatchingPasses(block.liveValues, now);
    CountTrim(block.liveValues);
}

// Live feature values the first pass needs: the longest reference's span of live frames.
std::int64_t DetectionStep::NeededValues() const {
    return std::max<std::int64_t>(kBands,
                                  std::int64_t{maxReferenceLength_} * framesPerReferenceHop_);
}

// One pass for every live frame beyond the history the longest reference needs: the pass for
// done frame D covers the live frames [0, D + M·S/B), so the last pass of a block ends at the
// block's newest frame and every frame ends exactly one pass.
void DetectionStep::RunMatchingPasses(std::int64_t liveValues, std::uint64_t now) {
    const std::int64_t neededValues = NeededValues();
    const std::int64_t pending = std::max<std::int64_t>(0, liveValues - doneFrames_ * kBands);
    if (pending < neededValues) {
        return;
    }
    const auto passCount = static_cast<std::size_t>((pending - neededValues) / kBands + 1);
    const auto firstPassEnd =
        static_cast<std::size_t>(doneFrames_ + (neededValues + kBands - 1) / kBands);

    SelectCandidates(now);
    if (!runScored_ && (scoreObserver_ != nullptr || !candidates_.empty())) {
        ScoreRun(firstPassEnd);
    }
    for (std::size_t pass = 0; pass < passCount; ++pass) {
        if (StopRequested()) {
            break;
        }
        const std::size_t passEnd = firstPassEnd + pass;
        const std::size_t row = runScored_ ? passEnd - scoredFirstPassEnd_ : 0;
        if (scoreObserver_ != nullptr) {
            scoreObserver_->OnPassScores(passEnd, scores_.Pass(row));
        }
        MatchPass(row, passEnd, now);
        UpdateTelephone(passEnd);
        ++doneFrames_;
        ++passesRun_;
    }
}

// The sound triggers of this run that may fire in this block: those not held off at the block
// tick. Only this thread writes their hold-offs, so a trigger passed over here stays so for
// the block, and one chosen here is held off only by its own firings.
void DetectionStep::SelectCandidates(std::uint64_t now) {
    candidates_.clear();
    if (now >= lastSoundTick_ + kSilenceRestMs) {
        return;  // no audible sample for a while: matching rests
    }
    ListRunTriggers();
    for (RunTrigger& trigger : runTriggers_) {
        if (now >= trigger.holdUntil && (!runScored_ || trigger.scored)) {
            candidates_.push_back({&trigger, false});
        }
    }
}

// Once per run, on first need: the active sound triggers in their time window at the last
// wake-up, in list order, with their hold-offs and references. The window and the active flag
// are read once per run (a change from another thread is taken up by the next run); the
// hold-offs are this thread's to write, so the copies stay true while the run lasts.
void DetectionStep::ListRunTriggers() {
    if (runTriggersListed_) {
        return;
    }
    runTriggersListed_ = true;
    bool wanted = false;
    runTriggers_.clear();
    runIndices_.clear();
    meterWatched_ = scoreBoard_ != nullptr && scoreBoard_->IsWatched();
    for (const Trigger* listed : triggers_.ActiveRecords(TriggerKind::Sound)) {
        if (!IsInTimeWindow(*listed, wakeUpTime_)) {
            continue;
        }
        // The list hands out records for reading; this thread is the one that writes a sound
        // trigger's hold-off, under the record's lock.
        auto* trigger = const_cast<Trigger*>(listed);
        std::lock_guard lock(trigger->Mutex());
        if (!IsOnText(trigger->active) || !Watches(*trigger)) {
            continue;
        }
        RunTrigger entry{trigger,
                         trigger->serialId,
                         trigger->matchThreshold,
                         trigger->holdUntil,
                         runIndices_.size(),
                         0,
                         false};
        for (const std::uint32_t reference : trigger->referenceIndices) {
            if (reference < thresholds_.size()) {  // the set and the list agree by construction
                runIndices_.push_back(reference);
                ++entry.indexCount;
                wanted = wanted || trackPatterns_[reference] != kNoPattern;
            }
        }
        runTriggers_.push_back(entry);
    }
    tracksWanted_ = wanted;
}

void DetectionStep::SetScope(Scope scope, ProgramIdentity program) {
    scope_ = scope;
    program_ = std::move(program);
}

bool DetectionStep::Watches(const Trigger& trigger) const {
    const bool programTarget = trigger.GetTargetCode() == TargetCode::Program;
    switch (scope_) {
        case Scope::WholeOutput:
            return !programTarget;
        case Scope::OneProgram:
            return programTarget;
        case Scope::Recording:
            break;
    }
    return true;
}

// Scores every pass from firstPassEnd to the end of the run in one call, for the references of
// every trigger not held off at the run's latest tick: hold-offs only grow within a run (a
// firing sets one past the block tick) and ticks only move on, so every candidate of a later
// block is among them. Exact for every reference when an observer watches; otherwise only
// the listed references, exact wherever the threshold could be exceeded.
void DetectionStep::ScoreRun(std::size_t firstPassEnd) {
    std::uint64_t latestTick = 0;
    for (const RunBlock& block : run_) {
        latestTick = std::max(latestTick, block.tick);
    }
    ListRunTriggers();
    selected_.clear();
    for (RunTrigger& trigger : runTriggers_) {
        trigger.scored = latestTick >= trigger.holdUntil;
        if (trigger.scored) {
            const auto first =
                runIndices_.begin() + static_cast<std::ptrdiff_t>(trigger.firstIndex);
            selected_.insert(selected_.end(), first,
                             first + static_cast<std::ptrdiff_t>(trigger.indexCount));
        }
    }
    std::sort(selected_.begin(), selected_.end());
    selected_.erase(std::unique(selected_.begin(), selected_.end()), selected_.end());

    // The run's last block ends the last pass.
    const std::int64_t pending = run_.back().liveValues - doneFrames_ * kBands;
    const auto passCount = static_cast<std::size_t>((pending - NeededValues()) / kBands + 1);
    const std::span<const float> features = live_.Features();
    if (scoreObserver_ != nullptr) {
        kernel_.Score(features, firstPassEnd, passCount, scores_);
    } else if (!selected_.empty()) {
        kernel_.ScoreAgainst(features, firstPassEnd, passCount, selected_, RunLevels(), scores_);
    }
    scoredFirstPassEnd_ = firstPassEnd;
    runScored_ = true;
}

void DetectionStep::MatchPass(std::size_t row, std::size_t passEnd, std::uint64_t now) {
    for (Candidate& candidate : candidates_) {
        if (StopRequested()) {
            return;
        }
        if (!candidate.fired) {
            MatchTrigger(candidate, row, passEnd, now);
        }
    }
}

void DetectionStep::MatchTrigger(Candidate& candidate, std::size_t row, std::size_t passEnd,
                                 std::uint64_t now) {
    const RunTrigger& trigger = *candidate.trigger;
    // For the meter: the best reference's score and threshold, and how far the trigger got.
    float best = -1.0f;
    float bestThreshold = 0.0f;
    ScoreBoard::Stage stage = ScoreBoard::Stage::Below;
    for (std::size_t k = 0; k < trigger.indexCount; ++k) {
        const std::uint32_t reference = runIndices_[trigger.firstIndex + k];
        const float level = LevelFor(trigger, reference);
        const float threshold = ThresholdFor(trigger, reference);
        const float score = DecidingScore(row, passEnd, reference, level);
        if (score > best) {
            best = score;
            bestThreshold = threshold;
        }
        float bedScore = -1.0f;
        if (score <= level) {
            bedScore = BedScore(passEnd, reference);
            if (bedScore <= kBedCandidateLevel) {
                continue;
            }
        }
        if (!verification_ || peaks_[reference].IsEmpty()) {
            Fire(candidate, reference, score, threshold, {}, now);
            stage = std::max(stage, ScoreBoard::Stage::Fired);
            continue;
        }
        const float agreement = Agreement(passEnd, reference);
        if (agreement >= kAgreementNeeded) {
            Fire(candidate, reference, score, threshold, {agreement, bedScore}, now);
            stage = std::max(stage, ScoreBoard::Stage::Verified);
        } else {
            stage = std::max(stage, ScoreBoard::Stage::Candidate);
            if (rejectionObserver_ != nullptr) {
                rejectionObserver_->OnRejected(
                    {trigger.trigger, passEnd, reference, score, threshold, agreement, bedScore});
            }
        }
    }
    if (meterWatched_ && trigger.indexCount > 0) {
        scoreBoard_->Record(trigger.serialId, now, best, bestThreshold, stage);
    }
}

float DetectionStep::ThresholdFor(const RunTrigger& trigger, std::uint32_t reference) const {
    return trigger.ownThreshold > Trigger::kNoMatchThreshold ? trigger.ownThreshold
                                                             : thresholds_[reference];
}

float DetectionStep::LevelFor(const RunTrigger& trigger, std::uint32_t reference) const {
    if (trigger.ownThreshold <= Trigger::kNoMatchThreshold) {
        return levels_[reference];
    }
    const bool verified = verification_ && !peaks_[reference].IsEmpty();
    return verified ? trigger.ownThreshold - kCandidateMargin : trigger.ownThreshold;
}

// The kernel may only estimate a score that stays below every level it is held against.
std::span<const float> DetectionStep::RunLevels() {
    const bool anyOwn = std::any_of(runTriggers_.begin(), runTriggers_.end(), [](const auto& t) {
        return t.ownThreshold > Trigger::kNoMatchThreshold;
    });
    if (!anyOwn) {
        return levels_;
    }
    runLevels_ = levels_;
    for (const RunTrigger& trigger : runTriggers_) {
        for (std::size_t k = 0; k < trigger.indexCount; ++k) {
            const std::uint32_t reference = runIndices_[trigger.firstIndex + k];
            runLevels_[reference] = std::min(runLevels_[reference], LevelFor(trigger, reference));
        }
    }
    return runLevels_;
}

// The kernel's score where it decides as the plain correlation does; otherwise the plain
// correlation's own. Both sum the same values, in a different order, so they differ by rounding
// only: at most about 7e-4 for the longest references in the worst case (a few 1e-7 in
// practice), less than kPlainRecheckBand. A score that reaches the band below the threshold is
// therefore computed the plain way, which decides it and is what a firing reports. Estimates
// (which end at least kEstimateMargin minus kEstimateError below the threshold) never get here.
float DetectionStep::DecidingScore(std::size_t row, std::size_t passEnd, std::uint32_t reference,
                                   float level) {
    const float score = scores_.At(row, reference);
    if (score < level - kPlainRecheckBand) {
        return score;
    }
    return kernel_.PlainScore(live_.Features(), passEnd, reference);
}

// The fine spectrum of the live sound over the stretch the reference's peaks were found in:
// its last second (or all of it), ending where the pass's last paired frame ends. A verdict
// is reused for kReverifyPasses passes, as a candidate usually stays one for several.
float DetectionStep::Agreement(std::size_t passEnd, std::uint32_t reference) {
    Verdict& verdict = verdicts_[reference];
    if (verdict.valid && passEnd >= verdict.passEnd &&
        passEnd < verdict.passEnd + kReverifyPasses) {
        return verdict.agreement;
    }
    const std::size_t span = std::min<std::size_t>(
        SpectralPeaks::kSpanSamples,
        std::size_t{referenceFrames_[reference]} * SpectralAnalyzer::kReferenceHop);
    float agreement = 0.0f;
    if (live_.RecentSamplesBefore(PassEndSample(passEnd), span, verifySamples_)) {
        fineSpectrum_.Average(verifySamples_, verifyPower_);
        agreement = peaks_[reference].Agreement(verifyPower_);
    }
    verdict = {passEnd, agreement, true};
    return agreement;
}

// The last live frame a pass pairs with a reference frame ends one live hop after the start
// of the pass's newest frame.
std::uint64_t DetectionStep::PassEndSample(std::size_t passEnd) const {
    return live_.FrameStartSample(passEnd - 1) + SpectralAnalyzer::kLiveHop;
}

// Scores are kept per reference by the live frame they were taken at: a new frame comes every
// eighth pass.
float DetectionStep::BedScore(std::size_t passEnd, std::uint32_t reference) {
    if (!verification_ || reference >= trackPatterns_.size() ||
        trackPatterns_[reference] == kNoPattern) {
        return -1.0f;
    }
    std::uint64_t frame = 0;
    std::uint64_t frameEnd = 0;
    if (!tracks_.NewestFrameBy(PassEndSample(passEnd), frame, frameEnd)) {
        return 0.0f;
    }
    BedScoreMemo& memo = bedScores_[reference];
    if (memo.frame != frame) {
        memo = {frame, trackMatcher_.Score(trackPatterns_[reference], tracks_, frame)};
    }
    return memo.score;
}

void DetectionStep::Fire(Candidate& candidate, std::uint32_t reference, float score,
                         float threshold, FiringCheck check, std::uint64_t now) {
    Trigger& trigger = *candidate.trigger->trigger;
    std::int64_t seconds = 0;
    bool idle = false;
    Firing firing;
    {
        std::lock_guard lock(trigger.Mutex());
        seconds = std::max<std::int64_t>(0, trigger.duration.Seconds());
        const bool exec = trigger.GetControlKind() == ControlKind::Exec;
        const std::uint64_t holdOff =
            exec ? kExecHoldOffMs
                 : static_cast<std::uint64_t>(seconds) * kMsPerSecond + kHoldOffSlackMs;
        trigger.holdUntil = now + holdOff;
        candidate.trigger->holdUntil = trigger.holdUntil;
        idle = trigger.GetTargetCode() == TargetCode::Telephone;
        firing = Firing{.kind = TriggerKind::Sound,
                        .triggerName = trigger.name,
                        .serialId = trigger.serialId,
                        .tick = now,
                        .reference = reference,
                        .score = score,
                        .threshold = threshold,
                        .verified = verification_,
                        .agreement = check.agreement,
                        .bedScore = check.bedScore};
    }
    candidate.fired = true;

    if (scope_ == Scope::OneProgram) {
        firing.triggerName += " (" + program_.DisplayName() + ")";
    }
    WriteLogLine(firing.triggerName);
    if (firings_ != nullptr) {
        firings_->OnFiring(firing);
    }
    if (seconds < 1) {
        return;  // logged, but nothing to carry out
    }
    if (scope_ == Scope::OneProgram) {
        launcher_.StartProgramControl(trigger, program_);
    } else {
        launcher_.StartSoundControl(trigger, idle);
    }
}

void DetectionStep::UpdateTelephone(std::size_t passEnd) {
    const std::span<const float> features = live_.Features();
    const std::size_t values =
        std::min(features.size(), passEnd * static_cast<std::size_t>(kBands));
    const float verdict =
        telephone_.Update(features.first(values), live_.FrameLength(), static_cast<int>(kBands));
    launcher_.PostTelephoneVerdict(static_cast<int>(verdict));
}

// Once the history holds 127 frames more than the passes need, its 128 oldest frames go: one
// trim at most after each block, counted here and made at the end of the run.
void DetectionStep::CountTrim(std::int64_t liveValues) {
    const std::int64_t keepValues =
        std::int64_t{maxReferenceLength_} * framesPerReferenceHop_ + (kTrimFrames - 1) * kBands;
    if (liveValues - runTrims_ * kTrimFrames * kBands >= keepValues) {
        ++runTrims_;
    }
}

void DetectionStep::TrimLiveHistory() {
    if (runTrims_ == 0) {
        return;
    }
    const auto frames = static_cast<std::size_t>(runTrims_ * kTrimFrames);
    live_.TrimFrontFrames(frames);
    kernel_.DropOldestLiveFrames(frames);
    // Verdicts are kept by pass end, which counts from the front of the history.
    for (Verdict& verdict : verdicts_) {
        verdict.valid = false;
    }
    doneFrames_ -= runTrims_ * kTrimFrames;
    runTrims_ = 0;
}

}  // namespace hushwell
