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
//
// Threads: the scanning thread only.
class RecordingScanner {
public:
    // Blocks per wake-up of the simulated detection thread (the program wakes every 50 ms).
    static constexpr int kBlocksPerWakeUp = 5;
    static constexpr int kBlocksPerSecond = 100;

    // startSecondOfDay: local time of day at the start of the recording; none: now.
    RecordingScanner(ScanTriggers& triggers, bool printScores, std::optional<int> startSecondOfDay);

    // Scans an opened recording, writing firings (and scores) to out. Returns the number of
    // firings.
    int Scan(RecordingReader& recording, std::ostream& out);

private:
    ScanTriggers& triggers_;
    bool printScores_;
    std::optional<int> startSecondOfDay_;
};

}  // namespace hushwell::scan
