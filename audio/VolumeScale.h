#pragma once

#include <cstdint>

namespace hushwell {

// The sound server's volume scale: 0 is silence, kNormVolume is 100 % (no attenuation); desktop
// sliders and pactl show volume × 100 / kNormVolume as the percentage.
inline constexpr std::uint32_t kNormVolume = 0x10000;

// The master scalar of a set of channel volumes: the largest one / kNormVolume, clamped to 0..1.
float VolumeToScalar(std::uint32_t largestChannelVolume);

// The server volume for a master scalar in 0..1. A level within a hundredth of a percent of a
// whole percent is set to exactly that percent (kNormVolume × p / 100, rounded), so that
// repeated 1 % steps neither drift nor show odd percentages. Out-of-range levels are clamped.
std::uint32_t ScalarToVolume(float level);

}  // namespace hushwell
