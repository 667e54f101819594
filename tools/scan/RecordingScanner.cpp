#include "tools/scan/RecordingScanner.h"

#include <algorithm>
#include <numeric>
#include <ostream>
#include <vector>

#include "analysis/LevelMeter.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TelephoneBandDetector.h"
#include "base/Clock.h"
#include "detection/DetectionStep.h"
#include "tools/scan/BlockClock.h"
#include "tools/scan/ReportingLauncher.h"
#include "tools/scan/ScanReport.h"
#include "tools/scan/ScanTriggers.h"
#include "wav/WaveData.h"

namespace hushwell::scan {

namespace {

// Any tick far from 0, so that "no sound yet" (tick 0) lies more than 10 s back.
constexpr std::uint64_t kStartTick = 1000000;
constexpr std::uint64_t kMsPerSecond = 1000;

LocalTime StartTime(std::optional<int> secondOfDay) {
    LocalTime now = SystemClock::Instance().Now();
    if (secondOfDay) {
        now.hour = *secondOfDay / 3600;
        now.minute = *secondOfDay / 60 % 60;
        now.second = *secondOfDay % 60;
    }
    return now;
}

}  // namespace

RecordingScanner::RecordingScanner(ScanTriggers& triggers, bool printScores,
                                   std::optional<int> startSecondOfDay, bool classic)
    : triggers_(triggers),
      printScores_(printScores),
      startSecondOfDay_(startSecondOfDay),
      classic_(classic) {}

// The longest reference needs 8 live frames of 64 samples per 32 feature values, at 16 kHz:
// maxReferenceLength / 1000 seconds. The lead-in is a multiple of a wake-up's frames, of the
// input frames that make a whole number of live hops with the resampler back at phase 0
// (64 M / gcd(64 M, L) for up factor L and down factor M), and of the frames of a whole
// millisecond.
std::uint64_t RecordingScanner::LeadInFrames(int rate, std::uint32_t maxReferenceLength) {
    constexpr std::uint64_t kValuesPerSecond = 1000;
    const auto r = static_cast<std::uint64_t>(std::max(1, rate));
    const std::uint64_t up = rate == 44100 ? 4 : rate == 22050 ? 8 : 1;
    const std::uint64_t down =
        up == 1 ? std::max<std::uint64_t>(1, r / SpectralAnalyzer::kInternalRate) : 11;
    const std::uint64_t hopFrames = SpectralAnalyzer::kLiveHop * down;
    const std::uint64_t wakeUpFrames = static_cast<std::uint64_t>(kBlocksPerWakeUp) *
                                       std::max<std::uint64_t>(1, r / kBlocksPerSecond);
    const std::uint64_t step = std::lcm(std::lcm(wakeUpFrames, hopFrames / std::gcd(hopFrames, up)),
                                        r / std::gcd(r, kMsPerSecond));
    const std::uint64_t needed = (maxReferenceLength * r + kValuesPerSecond - 1) / kValuesPerSecond;
    return (needed + step - 1) / step * step;
}

int RecordingScanner::Scan(RecordingReader& recording, std::ostream& out) {
    ManualClock clock(kStartTick, StartTime(startSecondOfDay_));
    BlockClock blockClock(clock);
    SpectralAnalyzer live;
    LevelMeter level;
    TelephoneBandDetector telephone;
    ReportingLauncher launcher(blockClock);
    const int rate = recording.Rate();
    const std::uint64_t leadInFrames =
        classic_ ? 0 : LeadInFrames(rate, triggers_.References().MaxReferenceLength());
    const std::uint64_t recordingStartTick =
        kStartTick + leadInFrames * kMsPerSecond / static_cast<std::uint64_t>(rate);
    ScanReport report(out, blockClock, recordingStartTick, triggers_.References().Paths(),
                      triggers_.Thresholds());

    DetectionStep step(triggers_.Triggers(), live, level, telephone, launcher, clock, &report);
    blockClock.Follow(step);
    step.SetVerification(!classic_);
    step.SetScope(DetectionStep::Scope::Recording);  // a recording stands for any stream
    step.PrepareReferences(triggers_.References());
    if (printScores_) {
        step.SetScoreObserver(&report);
        step.SetRejectionObserver(&report);
    }
    DetectionStep::ClearHoldOffs(triggers_.Triggers());
    live.ResetSilentBlockCount();
    step.Begin();

    const int channels = recording.Channels();
    const auto blockFrames = static_cast<std::size_t>(std::max(1, rate / kBlocksPerSecond));
    std::vector<std::int16_t> samples;
    std::vector<WaveData> blocks(kBlocksPerWakeUp);
    std::vector<DetectionStep::HeardBlock> heard;
    std::uint64_t framesFed = 0;
    // The lead-in of silence, in blocks of the recording's size.
    for (bool more = true; more;) {
        // The blocks of one wake-up, each heard when the clock stands at its end.
        heard.clear();
        for (WaveData& block : blocks) {
            std::size_t frames = 0;
            if (framesFed < leadInFrames) {
                frames = static_cast<std::size_t>(
                    std::min<std::uint64_t>(blockFrames, leadInFrames - framesFed));
                samples.assign(frames * static_cast<std::size_t>(channels), 0);
            } else {
                frames = recording.ReadBlock(blockFrames, samples);
            }
            if (frames == 0) {
                more = false;
                break;
            }
            framesFed += frames;
            block.AssignPcm16(rate, channels, static_cast<int>(frames), samples);
            heard.push_back(
                {&block, kStartTick + framesFed * kMsPerSecond / static_cast<std::uint64_t>(rate)});
        }
        if (heard.empty()) {
            break;
        }
        // The thread wakes once its first block is there and takes them all in one go.
        clock.AdvanceMs(heard.front().tick - clock.TickMs());
        step.WakeUp();
        step.ProcessBlocks(heard);
        clock.AdvanceMs(heard.back().tick - clock.TickMs());
    }
    report.Finish();
    return report.Firings();
}

}  // namespace hushwell::scan
