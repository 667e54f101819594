#include "wav/SampleConversion.h"

#include <bit>
#include <cmath>
#include <limits>

namespace hushwell {

namespace {

constexpr double kFullScale = 32767.0;
constexpr double kRoundingOffset = 0.5;
constexpr double kPcm16Max = std::numeric_limits<std::int16_t>::max();
constexpr double kPcm16Min = std::numeric_limits<std::int16_t>::min();
constexpr int kInt32ToPcm16Shift = 16;

std::int16_t RoundAndSaturate(double scaled) {
    if (std::isnan(scaled)) {
        return 0;
    }
    const double rounded = std::trunc(scaled + kRoundingOffset);
    if (rounded >= kPcm16Max) {
        return std::numeric_limits<std::int16_t>::max();
    }
    if (rounded <= kPcm16Min) {
        return std::numeric_limits<std::int16_t>::min();
    }
    return static_cast<std::int16_t>(rounded);
}

}  // namespace

std::int16_t ScaledFloatToPcm16(float scaled) {
    return RoundAndSaturate(static_cast<double>(scaled));
}

std::int16_t FloatSampleToPcm16(float sample) {
    return RoundAndSaturate(static_cast<double>(sample) * kFullScale);
}

std::int16_t Int32SampleToPcm16(std::int32_t sample) {
    return static_cast<std::int16_t>(sample >> kInt32ToPcm16Shift);
}

std::vector<std::int16_t> SoundSamplesToPcm16(const WaveData& sound) {
    const auto samples16 = sound.Samples16();
    if (!samples16.empty()) {
        return {samples16.begin(), samples16.end()};
    }
    const auto words = sound.Samples32();
    std::vector<std::int16_t> converted;
    converted.reserve(words.size());
    const bool isFloat = sound.Kind() == SampleKind::IeeeFloat;
    for (const std::uint32_t word : words) {
        converted.push_back(isFloat ? FloatSampleToPcm16(std::bit_cast<float>(word))
                                    : Int32SampleToPcm16(std::bit_cast<std::int32_t>(word)));
    }
    return converted;
}

}  // namespace hushwell
