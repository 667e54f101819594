#include "analysis/BedMatcher.h"

#include <bit>
#include <cmath>

namespace hushwell {

namespace {

constexpr std::size_t kBands = WhitenedBandConstants::kBandCount;
// A side whose centred sum of squares is below this (in squared value steps) does not vary.
constexpr double kLeastVariation = 1e-6;

std::int32_t DotProduct(const std::uint8_t* a, const std::uint8_t* b, std::size_t count) {
    std::int32_t sum = 0;
    for (std::size_t i = 0; i < count; ++i) {
        sum += static_cast<std::int32_t>(a[i]) * static_cast<std::int32_t>(b[i]);
    }
    return sum;
}

}  // namespace

std::size_t BedMatcher::Add(std::span<const std::uint8_t> pattern) {
    Pattern prepared;
    prepared.first = values_.size();
    prepared.frames = pattern.size() / kBands;
    const std::span<const std::uint8_t> whole = pattern.first(prepared.frames * kBands);
    double sum = 0.0;
    double squares = 0.0;
    for (std::size_t i = 0; i < whole.size(); ++i) {
        if (whole[i] != 0) {
            prepared.bands |= 1U << (i % kBands);
        }
        sum += whole[i];
        squares += static_cast<double>(whole[i]) * whole[i];
    }
    prepared.cells = prepared.frames * static_cast<std::size_t>(std::popcount(prepared.bands));
    prepared.sum = sum;
    prepared.centredSquares =
        prepared.cells == 0 ? 0.0 : squares - sum * sum / static_cast<double>(prepared.cells);
    values_.insert(values_.end(), whole.begin(), whole.end());
    patterns_.push_back(prepared);
    return patterns_.size() - 1;
}

void BedMatcher::Clear() {
    patterns_.clear();
    values_.clear();
}

void BedMatcher::Release() {
    std::vector<Pattern>().swap(patterns_);
    std::vector<std::uint8_t>().swap(values_);
}

std::size_t BedMatcher::Bytes() const {
    return values_.capacity() + patterns_.capacity() * sizeof(Pattern);
}

float BedMatcher::Score(std::size_t index, const WhitenedWindow& window) const {
    const Pattern& pattern = patterns_[index];
    if (pattern.cells < kMinWeightedCells || pattern.centredSquares < kLeastVariation ||
        window.frames < pattern.frames) {
        return 0.0f;
    }
    // The pattern meets the newest frames of the window; outside the weighted bands its values
    // are zero, so the product of whole frames is the product over the weighted cells.
    const std::size_t skipped = (window.frames - pattern.frames) * kBands;
    const double product = DotProduct(values_.data() + pattern.first,
                                      window.values.data() + skipped, pattern.frames * kBands);
    double liveSum = 0.0;
    double liveSquares = 0.0;
    const std::size_t row = pattern.frames * kBands;
    for (std::uint32_t bands = pattern.bands; bands != 0; bands &= bands - 1) {
        const auto b = static_cast<std::size_t>(std::countr_zero(bands));
        liveSum += window.newestSums[row + b];
        liveSquares += window.newestSquares[row + b];
    }
    const auto cells = static_cast<double>(pattern.cells);
    const double liveCentred = liveSquares - liveSum * liveSum / cells;
    if (liveCentred < kLeastVariation) {
        return 0.0f;
    }
    const double covariance = product - pattern.sum * liveSum / cells;
    return static_cast<float>(covariance / std::sqrt(pattern.centredSquares * liveCentred));
}

}  // namespace hushwell
