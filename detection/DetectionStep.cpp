#include "detection/DetectionStep.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "analysis/LevelMeter.h"
#include "analysis/SoundReference.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TelephoneBandDetector.h"
#include "detection/ControlLauncher.h"
#include "detection/FiringSink.h"
#include "detection/ReferenceSet.h"
#include "detection/TimeWindow.h"
#include "triggers/CTriggerList.h"
#include "triggers/EventLog.h"
#include "wav/WaveData.h"

namespace hushwell {

namespace {

constexpr std::int64_t kBands = SpectralAnalyzer::kBandCount;  // B
constexpr std::uint64_t kMsPerSecond = 1000;
constexpr int kMaxBlockChannels = 2;

}  // namespace

DetectionStep::DetectionStep(CTriggerList& triggers, SpectralAnalyzer& liveAnalyzer,
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
    for (const SoundReference& reference : references) {
        kernel_.AddReference(reference.Features());
        thresholds_.push_back(reference.MatchThreshold());
    }
    maxReferenceLength_ = maxReferenceLength;
}

void DetectionStep::PrepareReferences(const ReferenceSet& set) {
    PrepareReferences(set.References(), set.MaxReferenceLength());
}

void DetectionStep::ClearHoldOffs(CTriggerList& triggers) {
    std::lock_guard listLock(triggers.Mutex());
    for (const TriggerKind kind : {TriggerKind::Sound, TriggerKind::Time, TriggerKind::Level}) {
        for (int n = 0; n < triggers.Count(kind); ++n) {
            if (CTrigger* trigger = triggers.Get(kind, n)) {
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
    WakeUp();
}

void DetectionStep::WakeUp() {
    wakeUpTime_ = clock_.Now();
    levelStep_.WakeUp(wakeUpTime_);
}

// --- The block step --------------------------------------------------------------------------

void DetectionStep::ProcessBlock(const WaveData& block) {
    const int channels = block.Format().channels;
    const auto samples = block.Samples16();
    if (block.Kind() != SampleKind::Pcm16 || channels < 1 || channels > kMaxBlockChannels ||
        samples.empty()) {
        return;
    }
    const int rate = static_cast<int>(block.Format().sampleRate);

    // Live features first, then the block tick that every comparison of this block uses.
    live_.ExtractLiveFeatures(rate, channels, samples);
    const std::uint64_t now = clock_.TickMs();

    // The level, whether anything was heard, the level triggers.
    if (level_.Update(rate, channels, samples)) {
        lastSoundTick_ = now;
    }
    levelStep_.Evaluate(level_, now);

    // The block itself stays with the caller.
    RunMatchingPasses(now);
    TrimLiveHistory();
}

// One pass for every live frame beyond the history the longest reference needs: the pass for
// done frame D covers the live frames [0, D + M·S/B), so the last pass of a block ends at the
// newest frame and every frame ends exactly one pass.
void DetectionStep::RunMatchingPasses(std::uint64_t now) {
    const std::int64_t liveValues = static_cast<std::int64_t>(live_.Features().size());
    const std::int64_t neededValues =
        std::max<std::int64_t>(kBands, std::int64_t{maxReferenceLength_} * framesPerReferenceHop_);
    const std::int64_t pending = std::max<std::int64_t>(0, liveValues - doneFrames_ * kBands);
    if (pending < neededValues) {
        return;
    }
    const auto passCount = static_cast<std::size_t>((pending - neededValues) / kBands + 1);
    const auto firstPassEnd =
        static_cast<std::size_t>(doneFrames_ + (neededValues + kBands - 1) / kBands);

    SelectCandidates(now);
    ScorePasses(firstPassEnd, passCount);
    for (std::size_t pass = 0; pass < passCount; ++pass) {
        if (StopRequested()) {
            break;
        }
        const std::size_t passEnd = firstPassEnd + pass;
        if (scoreObserver_ != nullptr) {
            scoreObserver_->OnPassScores(passEnd, scores_.Pass(pass));
        }
        MatchPass(pass, now);
        UpdateTelephone(passEnd);
        ++doneFrames_;
        ++passesRun_;
    }
}

// The sound triggers that may fire in this block. Only this thread writes their hold-offs and
// the block tick is fixed, so a trigger passed over here stays so for the block, and one
// chosen here is held off only by its own firings.
void DetectionStep::SelectCandidates(std::uint64_t now) {
    candidates_.clear();
    candidateIndices_.clear();
    selected_.clear();
    if (now >= lastSoundTick_ + kSilenceRestMs) {
        return;  // no audible sample for a while: matching rests
    }
    for (const CTrigger* listed : triggers_.ActiveRecords(TriggerKind::Sound)) {
        // The list hands out records for reading; this thread is the one that writes a sound
        // trigger's hold-off, under the record's lock.
        auto* trigger = const_cast<CTrigger*>(listed);
        if (!IsEligible(*trigger, now)) {
            continue;
        }
        std::lock_guard lock(trigger->Mutex());
        Candidate candidate{trigger, candidateIndices_.size(), 0, false};
        for (const std::uint32_t reference : trigger->referenceIndices) {
            if (reference < thresholds_.size()) {  // the set and the list agree by construction
                candidateIndices_.push_back(reference);
                selected_.push_back(reference);
                ++candidate.indexCount;
            }
        }
        candidates_.push_back(candidate);
    }
    std::sort(selected_.begin(), selected_.end());
    selected_.erase(std::unique(selected_.begin(), selected_.end()), selected_.end());
}

bool DetectionStep::IsEligible(const CTrigger& trigger, std::uint64_t now) const {
    {
        std::lock_guard lock(trigger.Mutex());
        if (now < trigger.holdUntil) {
            return false;
        }
    }
    if (!IsInTimeWindow(trigger, wakeUpTime_)) {
        return false;
    }
    std::lock_guard lock(trigger.Mutex());
    return IsOnText(trigger.active);
}

// Scores of the passes of this block: exact for every reference when an observer watches;
// otherwise only the candidates' references, exact wherever the threshold could be exceeded.
void DetectionStep::ScorePasses(std::size_t firstPassEnd, std::size_t passCount) {
    const std::span<const float> features = live_.Features();
    if (scoreObserver_ != nullptr) {
        kernel_.Score(features, firstPassEnd, passCount, scores_);
    } else if (!selected_.empty()) {
        kernel_.ScoreAgainst(features, firstPassEnd, passCount, selected_, thresholds_, scores_);
    }
}

void DetectionStep::MatchPass(std::size_t pass, std::uint64_t now) {
    for (Candidate& candidate : candidates_) {
        if (StopRequested()) {
            return;
        }
        if (candidate.fired) {
            continue;
        }
        for (std::size_t k = 0; k < candidate.indexCount; ++k) {
            const std::uint32_t reference = candidateIndices_[candidate.firstIndex + k];
            const float score = scores_.At(pass, reference);
            if (score > thresholds_[reference]) {
                Fire(candidate, reference, score, now);
            }
        }
    }
}

void DetectionStep::Fire(Candidate& candidate, std::uint32_t reference, float score,
                         std::uint64_t now) {
    CTrigger& trigger = *candidate.trigger;
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
        idle = trigger.GetTargetCode() == TargetCode::Telephone;
        firing = Firing{.kind = TriggerKind::Sound,
                        .triggerName = trigger.name,
                        .serialId = trigger.serialId,
                        .tick = now,
                        .reference = reference,
                        .score = score,
                        .threshold = thresholds_[reference]};
    }
    candidate.fired = true;

    WriteLogLine(firing.triggerName);
    if (firings_ != nullptr) {
        firings_->OnFiring(firing);
    }
    if (seconds < 1) {
        return;  // logged, but nothing to carry out
    }
    launcher_.StartSoundControl(trigger, idle);
}

void DetectionStep::UpdateTelephone(std::size_t passEnd) {
    const std::span<const float> features = live_.Features();
    const std::size_t values =
        std::min(features.size(), passEnd * static_cast<std::size_t>(kBands));
    const float verdict =
        telephone_.Update(features.first(values), live_.FrameLength(), static_cast<int>(kBands));
    launcher_.PostTelephoneVerdict(static_cast<int>(verdict));
}

// Once the history holds 127 frames more than the passes need, its 128 oldest frames go.
void DetectionStep::TrimLiveHistory() {
    const std::int64_t liveValues = static_cast<std::int64_t>(live_.Features().size());
    const std::int64_t keepValues =
        std::int64_t{maxReferenceLength_} * framesPerReferenceHop_ + (kTrimFrames - 1) * kBands;
    if (liveValues < keepValues) {
        return;
    }
    live_.TrimFrontFrames(static_cast<std::size_t>(kTrimFrames));
    kernel_.DropOldestLiveFrames(static_cast<std::size_t>(kTrimFrames));
    doneFrames_ -= kTrimFrames;
}

}  // namespace hushwell
