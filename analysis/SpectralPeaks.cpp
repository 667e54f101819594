#include "analysis/SpectralPeaks.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "analysis/FineSpectrum.h"

namespace hushwell {

namespace {

// The median of the bins within kAround of bin.
float MedianAround(std::span<const float> power, int bin) {
    std::array<float, 2 * SpectralPeaks::kAround + 1> values{};
    const int first = std::max(0, bin - SpectralPeaks::kAround);
    const int last = std::min(static_cast<int>(power.size()) - 1, bin + SpectralPeaks::kAround);
    std::size_t count = 0;
    for (int k = first; k <= last; ++k) {
        values[count++] = power[static_cast<std::size_t>(k)];
    }
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(count / 2);
    std::nth_element(values.begin(), middle, values.begin() + static_cast<std::ptrdiff_t>(count));
    return *middle;
}

bool IsLargestWithin(std::span<const float> power, int bin, int reach) {
    const float value = power[static_cast<std::size_t>(bin)];
    for (int k = std::max(0, bin - reach);
         k <= std::min(static_cast<int>(power.size()) - 1, bin + reach); ++k) {
        if (power[static_cast<std::size_t>(k)] > value) {
            return false;
        }
    }
    return value > 0.0f;
}

}  // namespace

SpectralPeaks SpectralPeaks::OfSound(std::span<const float> samples, FineSpectrum& spectrum) {
    std::vector<float> power;
    spectrum.Average(samples.last(std::min(samples.size(), kSpanSamples)), power);
    return Find(power);
}

SpectralPeaks SpectralPeaks::Find(std::span<const float> power) {
    SpectralPeaks found;
    const int last = std::min(kLastBin, static_cast<int>(power.size()) - 1 - kAround);
    struct Candidate {
        int bin;
        float power;
    };
    std::vector<Candidate> candidates;
    for (int bin = kFirstBin; bin <= last; ++bin) {
        const float value = power[static_cast<std::size_t>(bin)];
        if (IsLargestWithin(power, bin, 2) &&
            value >= kReferencePeakRatio * MedianAround(power, bin)) {
            candidates.push_back({bin, value});
        }
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.power > b.power; });
    float total = 0.0f;
    for (const Candidate& candidate : candidates) {
        if (found.peaks_.size() == kMaxPeaks ||
            candidate.power < kPeakRange * candidates.front().power) {
            break;
        }
        const bool apart = std::none_of(
            found.peaks_.begin(), found.peaks_.end(),
            [&](const Peak& p) { return std::abs(p.bin - candidate.bin) < kMinPeakDistance; });
        if (apart) {
            const float amplitude = std::sqrt(candidate.power);
            found.peaks_.push_back({static_cast<std::uint16_t>(candidate.bin), amplitude});
            total += amplitude;
        }
    }
    for (Peak& peak : found.peaks_) {
        peak.weight /= total;
    }
    return found;
}

float SpectralPeaks::Agreement(std::span<const float> power) const {
    const int size = static_cast<int>(power.size());
    float agreement = 0.0f;
    for (const Peak& peak : peaks_) {
        const int tolerance =
            std::max(kMinToleranceBins,
                     static_cast<int>(std::lround(kTolerance * static_cast<float>(peak.bin))));
        for (int bin = std::max(1, peak.bin - tolerance);
             bin <= std::min(size - 2, peak.bin + tolerance); ++bin) {
            if (IsLargestWithin(power, bin, 1) &&
                power[static_cast<std::size_t>(bin)] >= kLivePeakRatio * MedianAround(power, bin)) {
                agreement += peak.weight;
                break;
            }
        }
    }
    return agreement;
}

}  // namespace hushwell
