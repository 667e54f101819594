#include "tools/scan/TrialScan.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <span>

#include "analysis/LevelMeter.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TelephoneBandDetector.h"
#include "base/Clock.h"
#include "detection/DetectionStep.h"
#include "detection/FiringSink.h"
#include "detection/ReferenceSet.h"
#include "tools/scan/BlockClock.h"
#include "tools/scan/RecordingScanner.h"
#include "tools/scan/ReportingLauncher.h"
#include "triggers/TriggerList.h"
#include "wav/SampleConversion.h"
#include "wav/WaveData.h"

namespace hushwell::scan {

namespace {

constexpr std::uint64_t kStartTick = 1000000;  // far from 0, as the scan tool's
constexpr std::uint64_t kMsPerSecond = 1000;
constexpr int kMaxChannels = 2;
// Rejections of one trigger closer together than this are one mark.
constexpr std::uint64_t kRejectionRunGapMs = 100;

// Collects the decisions, timed by the tick of the block being decided.
class MarkCollector final : public FiringSink, public DetectionStep::RejectionObserver {
public:
    MarkCollector(const Clock& blockClock, std::uint64_t soundStartTick)
        : clock_(blockClock), startTick_(soundStartTick) {}

    void OnFiring(const Firing& firing) override {
        if (firing.kind == TriggerKind::Sound) {
            marks_.push_back(
                {Seconds(firing.tick), firing.triggerName, firing.score, firing.threshold, true});
        }
    }

    void OnRejected(const DetectionStep::Rejection& rejection) override {
        const std::uint64_t tick = clock_.TickMs();
        std::uint64_t& last = lastRejection_[rejection.trigger];
        const bool sameRun = last != 0 && tick <= last + kRejectionRunGapMs;
        last = tick;
        if (sameRun || rejection.trigger == nullptr) {
            return;
        }
        std::string name;
        {
            std::lock_guard lock(rejection.trigger->Mutex());
            name = rejection.trigger->name;
        }
        marks_.push_back({Seconds(tick), name, rejection.score, rejection.threshold, false});
    }

    std::vector<TrialMark> Take() { return std::move(marks_); }

private:
    double Seconds(std::uint64_t tick) const {
        return static_cast<double>(tick - std::min(tick, startTick_)) / kMsPerSecond;
    }

    const Clock& clock_;
    std::uint64_t startTick_;
    std::vector<TrialMark> marks_;
    std::map<const Trigger*, std::uint64_t> lastRejection_;
};

// The sound triggers to try, copied with the list's base folder.
void CopyTriggers(const TrialScan::Request& request, TriggerList& tried) {
    std::lock_guard lock(request.triggers->Mutex());
    tried.SetBaseDir(request.triggers->BaseDir());
    for (const Trigger* trigger : request.triggers->ActiveRecords(TriggerKind::Sound)) {
        Trigger copy(*trigger);
        if (request.onlySerial && copy.serialId != *request.onlySerial) {
            continue;
        }
        copy.referenceIndices.clear();
        tried.Add(copy);
    }
}

// The sound as 16-bit samples of at most two channels.
std::vector<std::int16_t> SamplesOf(const WaveData& sound, int& channels) {
    std::vector<std::int16_t> all = SoundSamplesToPcm16(sound);
    const int from = std::max(1, static_cast<int>(sound.Format().channels));
    channels = std::min(from, kMaxChannels);
    if (from == channels) {
        return all;
    }
    std::vector<std::int16_t> kept;
    kept.reserve(all.size() / static_cast<std::size_t>(from) * kMaxChannels);
    for (std::size_t frame = 0; frame + static_cast<std::size_t>(from) <= all.size();
         frame += static_cast<std::size_t>(from)) {
        kept.insert(kept.end(), all.begin() + static_cast<std::ptrdiff_t>(frame),
                    all.begin() + static_cast<std::ptrdiff_t>(frame + kMaxChannels));
    }
    return kept;
}

}  // namespace

std::vector<TrialMark> TrialScan::Run(const Request& request, const WaveData& sound) {
    const int rate = static_cast<int>(sound.Format().sampleRate);
    if (request.triggers == nullptr || rate <= 0) {
        return {};
    }
    TriggerList tried;
    CopyTriggers(request, tried);
    ReferenceSet references(request.triggersFolder);
    references.RebuildReferences(tried);
    int channels = 1;
    const std::vector<std::int16_t> samples = SamplesOf(sound, channels);

    ManualClock clock(kStartTick, SystemClock::Instance().Now());
    BlockClock blockClock(clock);
    SpectralAnalyzer live;
    LevelMeter level;
    TelephoneBandDetector telephone;
    ReportingLauncher launcher(blockClock);
    const std::uint64_t leadInFrames =
        RecordingScanner::LeadInFrames(rate, references.MaxReferenceLength());
    const std::uint64_t soundStartTick =
        kStartTick + leadInFrames * kMsPerSecond / static_cast<std::uint64_t>(rate);
    MarkCollector marks(blockClock, soundStartTick);
    DetectionStep step(tried, live, level, telephone, launcher, clock, &marks);
    blockClock.Follow(step);
    step.SetVerification(request.verification);
    step.PrepareReferences(references);
    step.SetRejectionObserver(&marks);
    DetectionStep::ClearHoldOffs(tried);
    step.Begin();

    const auto blockFrames =
        static_cast<std::uint64_t>(std::max(1, rate / RecordingScanner::kBlocksPerSecond));
    const std::uint64_t soundFrames = samples.size() / static_cast<std::size_t>(channels);
    const std::uint64_t totalFrames = leadInFrames + soundFrames;
    std::vector<WaveData> blocks(RecordingScanner::kBlocksPerWakeUp);
    std::vector<DetectionStep::HeardBlock> heard;
    std::vector<std::int16_t> silence;
    for (std::uint64_t fed = 0; fed < totalFrames;) {
        if (request.cancel != nullptr && request.cancel->load()) {
            break;
        }
        heard.clear();
        for (WaveData& block : blocks) {
            if (fed >= totalFrames) {
                break;
            }
            // A block never straddles the end of the lead-in.
            const std::uint64_t end = fed < leadInFrames ? leadInFrames : totalFrames;
            const auto frames = static_cast<std::size_t>(std::min(blockFrames, end - fed));
            if (fed < leadInFrames) {
                silence.assign(frames * static_cast<std::size_t>(channels), 0);
                block.AssignPcm16(rate, channels, static_cast<int>(frames), silence);
            } else {
                const auto first = static_cast<std::size_t>(fed - leadInFrames) *
                                   static_cast<std::size_t>(channels);
                block.AssignPcm16(
                    rate, channels, static_cast<int>(frames),
                    std::span(samples).subspan(first, frames * static_cast<std::size_t>(channels)));
            }
            fed += frames;
            heard.push_back(
                {&block, kStartTick + fed * kMsPerSecond / static_cast<std::uint64_t>(rate)});
        }
        clock.AdvanceMs(heard.front().tick - clock.TickMs());
        step.WakeUp();
        step.ProcessBlocks(heard);
        clock.AdvanceMs(heard.back().tick - clock.TickMs());
    }
    std::vector<TrialMark> result = marks.Take();
    std::stable_sort(result.begin(), result.end(),
                     [](const TrialMark& a, const TrialMark& b) { return a.seconds < b.seconds; });
    return result;
}

}  // namespace hushwell::scan
