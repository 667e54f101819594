#include "tools/scan/RecordingScanner.h"

#include <algorithm>
#include <ostream>
#include <vector>

#include "analysis/LevelMeter.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TelephoneBandDetector.h"
#include "base/Clock.h"
#include "detection/DetectionStep.h"
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
                                   std::optional<int> startSecondOfDay)
    : triggers_(triggers), printScores_(printScores), startSecondOfDay_(startSecondOfDay) {}

int RecordingScanner::Scan(RecordingReader& recording, std::ostream& out) {
    ManualClock clock(kStartTick, StartTime(startSecondOfDay_));
    SpectralAnalyzer live;
    LevelMeter level;
    TelephoneBandDetector telephone;
    ReportingLauncher launcher(clock);
    ScanReport report(out, clock, kStartTick, triggers_.References().Paths(),
                      triggers_.Thresholds());

    DetectionStep step(triggers_.Triggers(), live, level, telephone, launcher, clock, &report);
    step.PrepareReferences(triggers_.References());
    if (printScores_) {
        step.SetScoreObserver(&report);
    }
    DetectionStep::ClearHoldOffs(triggers_.Triggers());
    SpectralAnalyzer::ResetSilentBlockCount();
    step.Begin();

    const int rate = recording.Rate();
    const int channels = recording.Channels();
    const auto blockFrames = static_cast<std::size_t>(std::max(1, rate / kBlocksPerSecond));
    std::vector<std::int16_t> samples;
    WaveData block;
    std::uint64_t framesFed = 0;
    std::uint64_t elapsedMs = 0;
    for (std::uint64_t n = 0;; ++n) {
        const std::size_t frames = recording.ReadBlock(blockFrames, samples);
        if (frames == 0) {
            break;
        }
        // The block is handed over once it has been heard: the clock stands at its end.
        framesFed += frames;
        const std::uint64_t endMs = framesFed * kMsPerSecond / static_cast<std::uint64_t>(rate);
        clock.AdvanceMs(endMs - elapsedMs);
        elapsedMs = endMs;
        if (n % kBlocksPerWakeUp == 0) {
            step.WakeUp();
        }
        block.AssignPcm16(rate, channels, static_cast<int>(frames), samples);
        step.ProcessBlock(block);
    }
    report.Finish();
    return report.Firings();
}

}  // namespace hushwell::scan
