#include "analysis/TelephoneBandDetector.h"

#include <algorithm>
#include <limits>

#include "analysis/SpectralAnalyzer.h"

namespace hushwell {

TelephoneBandDetector::TelephoneBandDetector(const TelephoneBandConstants& constants)
    : c_(constants),
      fastA_(constants.initialBandAEnergy),
      slowA_(constants.initialBandAEnergy),
      fastB_(constants.initialBandBEnergy),
      slowB_(constants.initialBandBEnergy),
      floor_(constants.initialFloor) {}

float TelephoneBandDetector::Update(const SpectralAnalyzer& liveAnalyzer) {
    const auto& features = liveAnalyzer.Features();
    return Update(std::span<const float>(features.data(), features.size()),
                  liveAnalyzer.FrameLength(), liveAnalyzer.BandCount());
}

float TelephoneBandDetector::Update(std::span<const float> features, int frameLength, int bands) {
    // 1. Thresholds scale with the width of each band and the frame length.
    const float n = static_cast<float>(frameLength);
    const float widthA = c_.bandAHighKHz - c_.bandALowKHz;
    const float widthB = c_.bandBHighKHz - c_.bandBLowKHz;
    bandAThreshold_ = widthA * n * c_.thresholdScale * c_.bandScale;
    bandBThreshold_ = widthB * n * c_.thresholdScale * c_.bandScale;
    const float lowLimit = widthA * n * c_.lowLimitScale * c_.bandScale;

    // 2. Nothing to look at yet (or a frame too narrow for the bands read below).
    const int lastBandRead = c_.levelFirstBand + c_.levelBandCount - 1;
    if (bands <= lastBandRead || features.size() < static_cast<std::size_t>(bands)) {
        return verdict_;
    }
    const float* newest = features.data() + (features.size() - static_cast<std::size_t>(bands));

    // 3.-7. Levels, floor, band energies, loudness, decision.
    const BandLevels levels = UpdateBandLevels(newest);
    UpdateFloor(levels.highBandSum, frameLength);
    UpdateEnergies(newest, bands);
    UpdateLoudness(levels.highBandSum);
    const int firstB = static_cast<int>(c_.bandBLowKHz * bands / c_.bandSpanKHz);
    const int lastB = static_cast<int>(c_.bandBHighKHz * bands / c_.bandSpanKHz);
    Decide(lastB - firstB + 1, levels, lowLimit);

    // 8. Uneven high bands (a tone or a narrow peak up there) are no telephone line.
    if (fastSpread_ > c_.spreadLimit) {
        verdict_ = 0.0f;
    }
    return verdict_;
}

float TelephoneBandDetector::Smooth(float factor, float old, float value) {
    return factor * old + (1.0f - factor) * value;
}

float TelephoneBandDetector::Spread(float largest, float smallest) {
    // Levels are never negative; a zero smallest level means an unbounded spread, unless all
    // levels are zero, which is no spread at all.
    if (smallest > 0.0f) {
        return largest / smallest;
    }
    return largest > 0.0f ? std::numeric_limits<float>::infinity() : 0.0f;
}

TelephoneBandDetector::BandLevels TelephoneBandDetector::UpdateBandLevels(const float* frame) {
    BandLevels result;
    float smallestFast = c_.smallestLevelStart;
    float largestFast = c_.largestFastLevelStart;
    float smallestSlow = c_.smallestLevelStart;
    float largestSlow = c_.largestSlowLevelStart;
    for (int i = 0; i < c_.levelBandCount; ++i) {
        const float x = frame[c_.levelFirstBand + i];
        result.highBandSum += x;
        fastLevels_[i] = Smooth(c_.fastFactor, fastLevels_[i], x);
        slowLevels_[i] = Smooth(c_.slowFactor, slowLevels_[i], x);
        smallestFast = std::min(smallestFast, fastLevels_[i]);
        largestFast = std::max(largestFast, fastLevels_[i]);
        smallestSlow = std::min(smallestSlow, slowLevels_[i]);
        largestSlow = std::max(largestSlow, slowLevels_[i]);
    }
    fastSpread_ = Spread(largestFast, smallestFast);
    slowSpread_ = Spread(largestSlow, smallestSlow);
    result.smallestFast = smallestFast;
    result.smallestSlow = smallestSlow;
    return result;
}

void TelephoneBandDetector::UpdateFloor(float highBandSum, int frameLength) {
    // Drops at once to a quieter sum, climbs back slowly, never above its ceiling.
    const float ceiling = static_cast<float>(frameLength) * c_.floorCapPerFrameSample;
    floor_ = std::min({c_.floorGrowth * floor_, highBandSum, ceiling});
}

float TelephoneBandDetector::BandSum(const float* frame, float lowKHz, float highKHz,
                                     int bands) const {
    const int first = static_cast<int>(lowKHz * bands / c_.bandSpanKHz);
    const int last = std::min(static_cast<int>(highKHz * bands / c_.bandSpanKHz), bands - 1);
    float sum = 0.0f;
    for (int k = first; k <= last; ++k) {
        sum += frame[k];
    }
    return sum;
}

void TelephoneBandDetector::UpdateEnergies(const float* frame, int bands) {
    const float sumA = BandSum(frame, c_.bandALowKHz, c_.bandAHighKHz, bands);
    const float sumB = BandSum(frame, c_.bandBLowKHz, c_.bandBHighKHz, bands);
    fastA_ = Smooth(c_.fastFactor, fastA_, sumA);
    slowA_ = Smooth(c_.slowFactor, slowA_, sumA);
    fastB_ = Smooth(c_.fastFactor, fastB_, sumB);
    slowB_ = Smooth(c_.slowFactor, slowB_, sumB);
}

void TelephoneBandDetector::UpdateLoudness(float highBandSum) {
    if (highBandSum > c_.loudFactor * floor_) {
        if (loudCount_ < std::numeric_limits<std::uint32_t>::max()) {
            ++loudCount_;
        }
        loudForLong_ = loudCount_ > c_.loudLimit;
    } else {
        loudCount_ = 0;
        loudForLong_ = false;
    }
}

void TelephoneBandDetector::Decide(int bandBCount, const BandLevels& levels, float lowLimit) {
    if (fastA_ > bandAThreshold_ && slowA_ > bandBThreshold_) {
        // Band B over band A, each less what a flat floor of the smallest high-band level
        // would contribute over the bands of band B.
        const double n = bandBCount;
        const double floorFast = n * levels.smallestFast;
        const double floorSlow = n * levels.smallestSlow;
        const double a = std::max(0.0, fastA_ - floorFast);
        const double b = std::max(0.0, slowA_ - floorSlow);
        fastRatio_ = static_cast<float>((fastB_ - floorFast) / (a + c_.ratioGuard));
        slowRatio_ = static_cast<float>((slowB_ - floorSlow) / (b + c_.ratioGuard));
        const float fastOffset = loudForLong_ ? c_.fastLimitOffset : 0.0f;
        const float slowOffset = loudForLong_ ? c_.slowLimitOffset : 0.0f;
        fastDecision_ = (c_.fastRatioLimit + fastOffset >= fastRatio_) ? 1.0f : 0.0f;
        slowDecision_ = (c_.slowRatioLimit + slowOffset >= slowRatio_) ? 1.0f : 0.0f;
        // Switching on needs the strict fast test; staying on only the looser slow one.
        verdict_ = (verdict_ == 0.0f) ? fastDecision_ : slowDecision_;
    } else if (fastA_ < lowLimit || slowA_ < lowLimit) {
        verdict_ = 0.0f;
    }
}

}  // namespace hushwell
