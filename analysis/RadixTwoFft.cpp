#include "analysis/RadixTwoFft.h"

#include <cmath>
#include <numbers>
#include <utility>

namespace hushwell {

RadixTwoFft::RadixTwoFft(int log2Length)
    : twiddles_(std::size_t{1} << (log2Length - 1)), bitReversal_(std::size_t{1} << log2Length) {
    const std::size_t length = bitReversal_.size();
    for (std::size_t j = 0; j < twiddles_.size(); ++j) {
        const double angle =
            2.0 * std::numbers::pi * static_cast<double>(j) / static_cast<double>(length);
        twiddles_[j] = {static_cast<float>(std::cos(angle)), static_cast<float>(-std::sin(angle))};
    }
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t reversed = 0;
        for (int bit = 0; bit < log2Length; ++bit) {
            reversed = (reversed << 1) | ((i >> bit) & 1U);
        }
        bitReversal_[i] = reversed;
    }
}

void RadixTwoFft::Transform(std::span<std::complex<float>> data) const {
    const std::size_t length = bitReversal_.size();
    for (std::size_t i = 0; i < length; ++i) {
        if (i < bitReversal_[i]) {
            std::swap(data[i], data[bitReversal_[i]]);
        }
    }
    for (std::size_t span = 2; span <= length; span *= 2) {
        const std::size_t half = span / 2;
        const std::size_t stride = length / span;
        for (std::size_t group = 0; group < length; group += span) {
            for (std::size_t j = 0; j < half; ++j) {
                const std::complex<float> product = data[group + j + half] * twiddles_[j * stride];
                data[group + j + half] = data[group + j] - product;
                data[group + j] += product;
            }
        }
    }
}

}  // namespace hushwell
