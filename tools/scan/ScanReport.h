#pragma once

#include <cstddef>
#include <cstdint>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "detection/DetectionStep.h"
#include "detection/FiringSink.h"

namespace hushwell {
class Clock;
}

namespace hushwell::scan {

// Writes what the detection step reports while a recording is scanned: one line per firing
// (time in the recording, trigger, reference, score, threshold and, when verification decided,
// its verdict, separated by tabs) and, when asked, the best score of each reference in each
// second of the recording and the candidates verification rejected.
//
// Threads: the scanning thread only.
class ScanReport final : public FiringSink,
                         public DetectionStep::ScoreObserver,
                         public DetectionStep::RejectionObserver {
public:
    // referenceNames and thresholds are indexed by reference; startTick is the clock's tick at
    // the start of the recording.
    ScanReport(std::ostream& out, const Clock& clock, std::uint64_t startTick,
               std::vector<std::string> referenceNames, std::vector<float> thresholds);

    void OnFiring(const Firing& firing) override;
    void OnPassScores(std::size_t passEnd, std::span<const float> scores) override;
    void OnRejected(const DetectionStep::Rejection& rejection) override;

    // Writes the scores of the second in progress. Call at the end of the recording.
    void Finish();

    int Firings() const { return firings_; }

private:
    void WriteSecondScores();
    const std::string& ReferenceName(std::size_t reference) const;

    std::ostream& out_;
    const Clock& clock_;
    std::uint64_t startTick_;
    std::vector<std::string> referenceNames_;
    std::vector<float> thresholds_;
    int firings_ = 0;

    // The second whose best scores are being collected, or -1.
    std::int64_t second_ = -1;
    std::vector<float> bestScores_;
    // Per reference: the tick of its last rejection, so that a run of them prints once.
    std::vector<std::uint64_t> lastRejection_;
};

}  // namespace hushwell::scan
