#include "analysis/TrackMatcher.h"

#include <cmath>

namespace hushwell {

namespace {

// A side whose centred sum of squares is below this (in squared value steps) does not vary.
constexpr double kLeastVariation = 1e-6;

}  // namespace

bool TrackMatcher::IsUsable(const TonalPattern& pattern) {
    return pattern.Frames() >= kMinFrames && pattern.Frames() * pattern.bins.size() >= kMinCells;
}

std::size_t TrackMatcher::Add(const TonalPattern& pattern) {
    Pattern prepared;
    prepared.firstBin = bins_.size();
    prepared.firstValue = values_.size();
    prepared.bins = pattern.bins.size();
    prepared.frames = pattern.Frames();
    for (const std::uint16_t bin : pattern.bins) {
        bins_.push_back(static_cast<std::uint16_t>(bin - TonalTrackConstants::kFirstBin));
    }
    const std::size_t cells = prepared.frames * prepared.bins;
    double squares = 0.0;
    for (std::size_t i = 0; i < cells; ++i) {
        prepared.sum += pattern.values[i];
        squares += static_cast<double>(pattern.values[i]) * pattern.values[i];
    }
    prepared.centredSquares =
        cells == 0 ? 0.0 : squares - prepared.sum * prepared.sum / static_cast<double>(cells);
    values_.insert(values_.end(), pattern.values.begin(),
                   pattern.values.begin() + static_cast<std::ptrdiff_t>(cells));
    patterns_.push_back(prepared);
    return patterns_.size() - 1;
}

void TrackMatcher::Clear() {
    patterns_.clear();
    bins_.clear();
    values_.clear();
}

void TrackMatcher::Release() {
    std::vector<Pattern>().swap(patterns_);
    std::vector<std::uint16_t>().swap(bins_);
    std::vector<std::uint8_t>().swap(values_);
}

std::size_t TrackMatcher::Bytes() const {
    return patterns_.capacity() * sizeof(Pattern) + bins_.capacity() * sizeof(std::uint16_t) +
           values_.capacity();
}

std::vector<std::uint16_t> TrackMatcher::ReadBins() const {
    std::vector<std::uint16_t> bins;
    bins.reserve(bins_.size());
    for (const std::uint16_t offset : bins_) {
        bins.push_back(static_cast<std::uint16_t>(offset + TonalTrackConstants::kFirstBin));
    }
    return bins;
}

float TrackMatcher::Score(std::size_t index, const TonalTracks& live, std::uint64_t newest) const {
    const Pattern& pattern = patterns_[index];
    if (pattern.frames < kMinFrames || pattern.frames * pattern.bins < kMinCells ||
        pattern.centredSquares < kLeastVariation || newest + 1 < pattern.frames) {
        return 0.0f;
    }
    const std::uint16_t* bins = bins_.data() + pattern.firstBin;
    const std::uint8_t* values = values_.data() + pattern.firstValue;
    std::int32_t product = 0;
    std::int32_t liveSum = 0;
    std::int32_t liveSquares = 0;
    for (std::size_t j = 0; j < pattern.frames; ++j) {
        const std::uint8_t* frame = live.LiveFrame(newest + 1 - pattern.frames + j);
        if (frame == nullptr) {
            return 0.0f;
        }
        for (std::size_t i = 0; i < pattern.bins; ++i) {
            const std::int32_t l = frame[bins[i]];
            product += l * values[j * pattern.bins + i];
            liveSum += l;
            liveSquares += l * l;
        }
    }
    const auto cells = static_cast<double>(pattern.frames * pattern.bins);
    const double liveCentred = liveSquares - static_cast<double>(liveSum) * liveSum / cells;
    if (liveCentred < kLeastVariation) {
        return 0.0f;
    }
    const double covariance = product - pattern.sum * liveSum / cells;
    return static_cast<float>(covariance / std::sqrt(pattern.centredSquares * liveCentred));
}

}  // namespace hushwell
