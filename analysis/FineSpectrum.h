#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/RadixTwoFft.h"

namespace hushwell {

// Power spectra at fine resolution: a 2048-point transform of Hann-windowed stretches of a
// signal at the internal rate (about 7.8 Hz a bin at 16 kHz), averaged over the windows that
// fit in a stretch, every half window back from its end. Fine enough to tell 880 Hz from
// 1000 Hz, where the 32 detection bands cannot.
//
// Threads: no lock; one object per thread (it keeps scratch).
class FineSpectrum {
public:
    static constexpr int kLength = 2048;
    static constexpr int kLog2Length = 11;
    static constexpr int kHop = kLength / 2;
    static constexpr int kBins = kLength / 2 + 1;

    FineSpectrum();

    // The average power spectrum (kBins values) of the windows ending at the end of samples,
    // one every kHop samples back while a window fits; a stretch shorter than one window is
    // taken as one window with zeros before it.
    void Average(std::span<const float> samples, std::vector<float>& power);

private:
    RadixTwoFft fft_{kLog2Length};
    std::array<float, kLength> window_{};
    std::array<std::complex<float>, kLength> scratch_{};
};

}  // namespace hushwell
