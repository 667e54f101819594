#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "analysis/TonalTracks.h"

namespace hushwell {

// Scores reference patterns (TonalTracks::ReferencePattern) against the newest live frames
// of a TonalTracks: the correlation (Pearson's) of the pattern's prominence values with the
// live prominence at the same bins, frame by frame, in [-1, 1]. A bed raises the bins around
// a reference's tracks as much as the tracks, so a reference keeps its score under one far
// better than the band pattern of the first matching stage; a sound at another pitch puts its
// tracks in other bins.
//
// Threads: patterns are added while detection is stopped; Score is the detection thread's.
class TrackMatcher {
public:
    // A pattern of fewer frames (a sound shorter than about a third of a second) or fewer
    // cells (frames x bins) has too little shape to be told from speech: it always scores 0.
    static constexpr std::size_t kMinFrames = 10;
    static constexpr std::size_t kMinCells = 20;

    // Whether a pattern has enough shape to be scored at all.
    static bool IsUsable(const TonalPattern& pattern);
    // Adds a pattern and returns its index.
    std::size_t Add(const TonalPattern& pattern);
    void Clear();
    // Clears and gives the memory back.
    void Release();
    std::size_t Size() const { return patterns_.size(); }
    std::size_t Bytes() const;
    // The bins of every pattern (transform bins), for TonalTracks::SetReadBins.
    std::vector<std::uint16_t> ReadBins() const;

    // The correlation of pattern `index` with the live frames ending at frame `newest`; 0 when
    // a frame it needs is not kept, the pattern is not usable or either side does not vary.
    float Score(std::size_t index, const TonalTracks& live, std::uint64_t newest) const;

private:
    struct Pattern {
        std::size_t firstBin = 0;    // into bins_
        std::size_t firstValue = 0;  // into values_
        std::size_t bins = 0;
        std::size_t frames = 0;
        double sum = 0.0;
        double centredSquares = 0.0;  // sum of squares less sum^2 / cells
    };

    std::vector<Pattern> patterns_;
    std::vector<std::uint16_t> bins_;  // offsets from TonalTrackConstants::kFirstBin
    std::vector<std::uint8_t> values_;
};

}  // namespace hushwell
