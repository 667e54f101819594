#include "analysis/RadixTwoFft.h"

#include <cmath>
#include <numbers>

namespace hushwell {

RadixTwoFft::RadixTwoFft(int log2Length)
    : bitReversal_(std::size_t{1} << log2Length),
      re_(bitReversal_.size()),
      im_(bitReversal_.size()) {
    const std::size_t length = bitReversal_.size();
    for (std::size_t i = 0; i < length; ++i) {
        std::uint32_t reversed = 0;
        for (int bit = 0; bit < log2Length; ++bit) {
            reversed = (reversed << 1) | ((i >> bit) & 1U);
        }
        bitReversal_[i] = reversed;
    }
    // The stage of span s uses w^(j N / s) of w = e^(-2 pi i / N), as computed for the whole
    // length, so that every stage's values are those of one table.
    twiddleRe_.resize(length > 1 ? length - 1 : 0);
    twiddleIm_.resize(twiddleRe_.size());
    for (std::size_t span = 2; span <= length; span *= 2) {
        const std::size_t half = span / 2;
        const std::size_t stride = length / span;
        for (std::size_t j = 0; j < half; ++j) {
            const double angle = 2.0 * std::numbers::pi * static_cast<double>(j * stride) /
                                 static_cast<double>(length);
            twiddleRe_[half - 1 + j] = static_cast<float>(std::cos(angle));
            twiddleIm_[half - 1 + j] = static_cast<float>(-std::sin(angle));
        }
    }
}

void RadixTwoFft::Transform(std::span<std::complex<float>> data) {
    const std::size_t length = bitReversal_.size();
    float* __restrict re = re_.data();
    float* __restrict im = im_.data();
    for (std::size_t i = 0; i < length; ++i) {
        re[bitReversal_[i]] = data[i].real();
        im[bitReversal_[i]] = data[i].imag();
    }
    for (std::size_t span = 2; span <= length; span *= 2) {
        const std::size_t half = span / 2;
        const float* __restrict wRe = twiddleRe_.data() + half - 1;
        const float* __restrict wIm = twiddleIm_.data() + half - 1;
        for (std::size_t group = 0; group < length; group += span) {
            float* __restrict aRe = re + group;
            float* __restrict aIm = im + group;
            float* __restrict bRe = re + group + half;
            float* __restrict bIm = im + group + half;
            for (std::size_t j = 0; j < half; ++j) {
                const float productRe = bRe[j] * wRe[j] - bIm[j] * wIm[j];
                const float productIm = bRe[j] * wIm[j] + bIm[j] * wRe[j];
                bRe[j] = aRe[j] - productRe;
                bIm[j] = aIm[j] - productIm;
                aRe[j] += productRe;
                aIm[j] += productIm;
            }
        }
    }
    for (std::size_t i = 0; i < length; ++i) {
        data[i] = {re[i], im[i]};
    }
}

}  // namespace hushwell
