#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/WhitenedBands.h"

namespace hushwell {

// Scores reference patterns (WhitenedBands::ReferencePattern) against the newest live frames
// of a WhitenedWindow: the correlation (Pearson's) of the pattern's values with the live
// values over the bands the reference makes loud, frame by frame, in [-1, 1]. The bed under a
// sound moves every live value of a band alike, and bands the reference leaves quiet are not
// compared, so a sound keeps its score under a bed far better than the band pattern the
// first matching stage compares.
//
// Patterns are kept as bytes, back to back (at most about 1.1 kB each); a score reads its
// pattern once and the window's per-band sums, so it costs one byte dot product.
//
// Threads: patterns are added while detection is stopped; Score is the detection thread's.
class BedMatcher {
public:
    // Adds a pattern of whole frames (kBandCount values each) and returns its index.
    std::size_t Add(std::span<const std::uint8_t> pattern);
    void Clear();
    // Clears and gives the memory back.
    void Release();
    std::size_t Size() const { return patterns_.size(); }
    std::size_t Frames(std::size_t index) const { return patterns_[index].frames; }
    std::size_t Bytes() const;

    // A pattern with fewer weighted cells (frames x bands) than this, such as a quarter-second
    // beep in one band, correlates with too much that is not the sound: it always scores 0.
    static constexpr std::size_t kMinWeightedCells = 17;

    // The correlation of pattern `index` with the window's newest frames; 0 when the window
    // has fewer frames than the pattern, either side does not vary or the pattern has too few
    // weighted cells.
    float Score(std::size_t index, const WhitenedWindow& window) const;

private:
    struct Pattern {
        std::size_t first = 0;  // into values_
        std::size_t frames = 0;
        std::uint32_t bands = 0;      // bit b: band b carries weight
        std::size_t cells = 0;        // frames x weighted bands
        double sum = 0.0;             // of the values (zero outside the weighted bands)
        double centredSquares = 0.0;  // sum of squares less sum^2 / cells
    };

    std::vector<Pattern> patterns_;
    std::vector<std::uint8_t> values_;
};

}  // namespace hushwell
