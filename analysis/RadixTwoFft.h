#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace hushwell {

// An in-place forward transform of a power-of-two length, X[k] = sum x[n] e^(-2 pi i k n / N),
// by radix-2 decimation in time on the bit-reversed input. Tables are computed once: the
// bit reversal, and each stage's twiddles in order, so that a stage reads them one after the
// other. The transform runs on separate real and imaginary runs (scratch kept in the object).
//
// Threads: no lock; one object per thread (it keeps scratch).
class RadixTwoFft {
public:
    // A transform of 2^log2Length points.
    explicit RadixTwoFft(int log2Length);

    std::size_t Length() const { return bitReversal_.size(); }
    // data.size() must be Length().
    void Transform(std::span<std::complex<float>> data);

private:
    std::vector<std::uint32_t> bitReversal_;
    // The twiddles of the stage of span s start at s / 2 - 1: e^(-2 pi i j / s), j < s / 2.
    std::vector<float> twiddleRe_;
    std::vector<float> twiddleIm_;
    std::vector<float> re_;
    std::vector<float> im_;
};

}  // namespace hushwell
