#include "analysis/FineSpectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hushwell {

FineSpectrum::FineSpectrum() {
    for (int j = 0; j < kLength / 2; ++j) {
        const double angle = 2.0 * std::numbers::pi * j / kLength;
        twiddles_[static_cast<std::size_t>(j)] = {static_cast<float>(std::cos(angle)),
                                                  static_cast<float>(-std::sin(angle))};
    }
    for (int i = 0; i < kLength; ++i) {
        int reversed = 0;
        for (int bit = 0; bit < kLog2Length; ++bit) {
            reversed = (reversed << 1) | ((i >> bit) & 1);
        }
        bitReversal_[static_cast<std::size_t>(i)] = static_cast<std::uint16_t>(reversed);
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
        Transform();
        for (std::size_t k = 0; k < kBins; ++k) {
            power[k] += std::norm(scratch_[k]);
        }
    }
    const float scale = 1.0f / static_cast<float>(windows);
    for (float& value : power) {
        value *= scale;
    }
}

// Radix-2 decimation in time on the bit-reversed input.
void FineSpectrum::Transform() {
    for (std::size_t i = 0; i < kLength; ++i) {
        if (i < bitReversal_[i]) {
            std::swap(scratch_[i], scratch_[bitReversal_[i]]);
        }
    }
    for (std::size_t span = 2; span <= kLength; span *= 2) {
        const std::size_t half = span / 2;
        const std::size_t stride = kLength / span;
        for (std::size_t group = 0; group < kLength; group += span) {
            for (std::size_t j = 0; j < half; ++j) {
                const std::complex<float> product =
                    scratch_[group + j + half] * twiddles_[j * stride];
                scratch_[group + j + half] = scratch_[group + j] - product;
                scratch_[group + j] += product;
            }
        }
    }
}

}  // namespace hushwell
