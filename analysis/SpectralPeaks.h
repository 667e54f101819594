#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace hushwell {

class FineSpectrum;

// The strongest tonal peaks of a sound's fine spectrum (FineSpectrum), kept with a reference
// to verify a match: a live sound that matches the reference's band pattern must also show
// those peaks, within a few per cent, above its own spectrum around them. A chime of 880 and
// 1320 Hz has the band pattern of a 1000 Hz beep but not its peak.
//
// A peak is a bin that is the largest within two bins each side and stands out from the
// median of the bins around it; the reference keeps up to kMaxPeaks of them, the strongest
// first, within kPeakRange of the strongest. A sound without such peaks (noise, a click)
// keeps none, and then there is nothing to verify.
//
// Threads: immutable once found; any thread may read it.
class SpectralPeaks {
public:
    static constexpr std::size_t kMaxPeaks = 6;
    // The stretch compared: the last second of the reference (at 16 kHz), or all of it.
    static constexpr std::size_t kSpanSamples = 16000;

    struct Peak {
        std::uint16_t bin = 0;
        float weight = 0.0f;  // share of the peaks' amplitude; the weights add up to 1
    };

    SpectralPeaks() = default;
    // The peaks of the last kSpanSamples of a sound at the internal rate.
    static SpectralPeaks OfSound(std::span<const float> samples, FineSpectrum& spectrum);
    // The peaks of an average power spectrum of FineSpectrum::kBins values.
    static SpectralPeaks Find(std::span<const float> power);

    // The weighted share of the peaks found in a live average power spectrum, 0 to 1: a peak
    // is found when a bin within kTolerance of it is the largest within one bin each side and
    // stands out from the bins around it by kLivePeakRatio.
    float Agreement(std::span<const float> power) const;

    bool IsEmpty() const { return peaks_.empty(); }
    const std::vector<Peak>& Peaks() const { return peaks_; }

    // Tuning constants (power ratios, bins at the internal rate of about 16 kHz).
    static constexpr int kFirstBin = 19;  // about 150 Hz
    static constexpr int kLastBin = 768;  // about 6 kHz
    static constexpr int kAround = 24;    // bins each side whose median a peak stands out from
    static constexpr float kReferencePeakRatio = 10.0f;  // 10 dB
    static constexpr float kLivePeakRatio = 10.0f;       // 10 dB
    static constexpr float kPeakRange = 1e-3f;           // 30 dB below the strongest
    static constexpr float kTolerance = 0.015f;          // 1.5 % of the frequency
    static constexpr int kMinToleranceBins = 2;
    static constexpr int kMinPeakDistance = 4;

private:
    std::vector<Peak> peaks_;
};

}  // namespace hushwell
