#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>

#include "tools/scan/RecordingReader.h"

namespace hushwell::scan {

class ScanTriggers;

// Runs the program's detection step over one recording as fast as it can: 10 ms blocks at
// the recording's own rate and channel count, a simulated clock that follows the recording,
// fresh live analysis and hold-offs for each recording; controls are reported, not carried
// out. The blocks of each wake-up reach the step together, as the program's transfers do.
// Each recording is preceded by a lead-in of digital silence (LeadInFrames); times are
// reported from the start of the recording.
//
// Threads: the scanning thread only.
class RecordingScanner {
public:
    // Blocks per wake-up of the simulated detection thread (the program wakes every 50 ms).
    static constexpr int kBlocksPerWakeUp = 5;
    static constexpr int kBlocksPerSecond = 100;

    // startSecondOfDay: local time of day at the start of the recording; none: now. classic:
    // the correlation alone decides, without verification.
    RecordingScanner(ScanTriggers& triggers, bool printScores, std::optional<int> startSecondOfDay,
                     bool classic = false);

    // The frames of digital silence fed before a recording at `rate`: enough live history for
    // the longest reference (maxReferenceLength feature values), so that a sound at the very
    // start of the recording is matched as the program, listening all along, would match it.
    // A whole number of wake-ups and of milliseconds, after which the live frames and the
    // resampler's phase stand where they stand at the start of the stream: the recording is
    // analysed exactly as without the lead-in. None with --classic, as before.
    static std::uint64_t LeadInFrames(int rate, std::uint32_t maxReferenceLength);

    // Scans an opened recording, writing firings (and scores) to out. Returns the number of
    // firings.
    int Scan(RecordingReader& recording, std::ostream& out);

private:
    ScanTriggers& triggers_;
    bool printScores_;
    std::optional<int> startSecondOfDay_;
    bool classic_;
};

}  // namespace hushwell::scan
