#include "analysis/FineSpectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hushwell {

FineSpectrum::FineSpectrum() {
    for (int i = 0; i < kLength; ++i) {
        window_[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (kLength - 1)));
    }
}

void FineSpectrum::Average(std::span<const float> samples, std::vector<float>& power) {
    power.assign(kBins, 0.0f);
    const std::size_t length = kLength;
    const std::size_t windows = samples.size() <= length ? 1 : 1 + (samples.size() - length) / kHop;
    for (std::size_t w = 0; w < windows; ++w) {
        // Window w ends w half windows before the end of the stretch.
        const std::size_t end = samples.size() - w * kHop;
        const std::size_t start = end >= length ? end - length : 0;
        const std::size_t pad = length - (end - start);
        for (std::size_t i = 0; i < length; ++i) {
            const float x = i < pad ? 0.0f : samples[start + i - pad];
            scratch_[i] = {x * window_[i], 0.0f};
        }
        fft_.Transform(scratch_);
        for (std::size_t k = 0; k < kBins; ++k) {
            power[k] += std::norm(scratch_[k]);
        }
    }
    const float scale = 1.0f / static_cast<float>(windows);
    for (float& value : power) {
        value *= scale;
    }
}

}  // namespace hushwell
