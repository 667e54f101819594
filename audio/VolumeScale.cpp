#include "audio/VolumeScale.h"

#include <algorithm>
#include <cmath>

namespace hushwell {

namespace {

// How close (in percent) a level must be to a whole percent to be snapped to it.
constexpr double kPercentSnap = 0.01;

}  // namespace

float VolumeToScalar(std::uint32_t largestChannelVolume) {
    const double scalar = static_cast<double>(largestChannelVolume) / kNormVolume;
    return static_cast<float>(std::clamp(scalar, 0.0, 1.0));
}

std::uint32_t ScalarToVolume(float level) {
    if (!(level > 0.0f)) {
        return 0;  // also for NaN
    }
    const double clamped = std::min(static_cast<double>(level), 1.0);
    const double percent = clamped * 100.0;
    const double wholePercent = std::round(percent);
    if (std::abs(percent - wholePercent) < kPercentSnap) {
        const auto p = static_cast<std::uint64_t>(wholePercent);
        return static_cast<std::uint32_t>((kNormVolume * p + 50) / 100);
    }
    return static_cast<std::uint32_t>(std::lround(clamped * kNormVolume));
}

}  // namespace hushwell
