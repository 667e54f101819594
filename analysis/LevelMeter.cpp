#include "analysis/LevelMeter.h"

#include <cmath>

namespace hushwell {

namespace {
constexpr int kHzPerKHz = 1000;
// The time constant is 0.1 samples per kHz of rate.
constexpr float kSamplesPerKHz = 0.1f;
constexpr double kPercent = 100.0;
// In silence the smoothing decays towards 0 but, at factors of 0.5 and more, gets stuck at the
// smallest denormal float instead of reaching it, so a 0 % trigger would never let go. A
// level this far below one sample step is silence.
constexpr float kSilentLevel = 1e-6f;
}  // namespace

float LevelMeter::SmoothingFactor(int rate) {
    const float samplesPerStep = kSamplesPerKHz * static_cast<float>(rate / kHzPerKHz);
    if (!(samplesPerStep > 1.0f)) {
        return 0.0f;
    }
    return 1.0f - 1.0f / samplesPerStep;
}

bool LevelMeter::Update(int rate, int channels, std::span<const std::int16_t> samples) {
    factor_ = SmoothingFactor(rate);
    if (channels < 1) {
        return false;
    }
    const float a = factor_;
    const float b = 1.0f - a;
    const auto step = static_cast<std::size_t>(channels);
    const std::size_t frames = samples.size() / step;
    bool sound = false;
    float level = level_;
    for (std::size_t f = 0; f < frames; ++f) {
        const std::int16_t s = samples[f * step];
        sound = sound || s != 0;
        level = std::fabs(static_cast<float>(s)) * b + a * level;
    }
    level_ = level < kSilentLevel ? 0.0f : level;
    return sound;
}

bool LevelMeter::Exceeds(int percent) const {
    return static_cast<double>(level_) > percent * (kFullScale / kPercent);
}

}  // namespace hushwell
