#include "analysis/SpectralPeaks.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "analysis/FineSpectrum.h"

namespace hushwell {
namespace {

constexpr int kRate = 16000;

// Tones (and, when asked, noise) at the internal rate.
std::vector<float> Sound(std::vector<double> tonesHz, double seconds, double noise = 0.0) {
    std::vector<float> out(static_cast<std::size_t>(seconds * kRate));
    std::uint32_t seed = 7;
    for (std::size_t i = 0; i < out.size(); ++i) {
        double value = 0.0;
        for (const double hz : tonesHz) {
            value += 3000.0 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / kRate);
        }
        seed = seed * 1664525u + 1013904223u;
        value += noise * ((seed >> 8) / 16777216.0 - 0.5);
        out[i] = static_cast<float>(value);
    }
    return out;
}

float Agreement(const SpectralPeaks& peaks, const std::vector<float>& live) {
    FineSpectrum spectrum;
    std::vector<float> power;
    spectrum.Average(live, power);
    return peaks.Agreement(power);
}

TEST(FineSpectrumTest, AToneIsLargestInItsBinAndShortStretchesArePadded) {
    FineSpectrum spectrum;
    std::vector<float> power;
    const double binHz = static_cast<double>(kRate) / FineSpectrum::kLength;
    for (const double seconds : {1.0, 0.05}) {
        spectrum.Average(Sound({100 * binHz}, seconds), power);
        ASSERT_EQ(power.size(), static_cast<std::size_t>(FineSpectrum::kBins));
        const auto largest = std::max_element(power.begin(), power.end()) - power.begin();
        EXPECT_EQ(largest, 100) << seconds << " s";
    }
}

TEST(SpectralPeaksTest, ABeepsPeakIsFoundAgainButNotInANeighbouringChime) {
    FineSpectrum spectrum;
    const SpectralPeaks beep = SpectralPeaks::OfSound(Sound({1000.0}, 0.25), spectrum);
    ASSERT_EQ(beep.Peaks().size(), 1u);
    EXPECT_NEAR(beep.Peaks()[0].bin * 16000.0 / FineSpectrum::kLength, 1000.0, 8.0);
    EXPECT_FLOAT_EQ(beep.Peaks()[0].weight, 1.0f);

    // The beep itself, under noise, and played 1 % fast: found.
    EXPECT_FLOAT_EQ(Agreement(beep, Sound({1000.0}, 0.25)), 1.0f);
    EXPECT_FLOAT_EQ(Agreement(beep, Sound({1000.0}, 0.25, 3000.0)), 1.0f);
    EXPECT_FLOAT_EQ(Agreement(beep, Sound({1010.0}, 0.25)), 1.0f);
    // 880 and 1320 Hz, or 5 % off: not found.
    EXPECT_FLOAT_EQ(Agreement(beep, Sound({880.0, 1320.0}, 0.25)), 0.0f);
    EXPECT_FLOAT_EQ(Agreement(beep, Sound({1050.0}, 0.25)), 0.0f);
}

TEST(SpectralPeaksTest, PeaksAreWeightedByAmplitudeAndNoiseHasNone) {
    FineSpectrum spectrum;
    const SpectralPeaks chord = SpectralPeaks::OfSound(Sound({600.0, 1500.0}, 1.0), spectrum);
    ASSERT_EQ(chord.Peaks().size(), 2u);
    EXPECT_NEAR(chord.Peaks()[0].weight + chord.Peaks()[1].weight, 1.0f, 1e-6f);
    // Half of the chord is half of the weight.
    EXPECT_NEAR(Agreement(chord, Sound({600.0}, 1.0)), 0.5f, 0.05f);

    EXPECT_TRUE(SpectralPeaks::OfSound(Sound({}, 1.0, 8000.0), spectrum).IsEmpty());
    EXPECT_TRUE(SpectralPeaks::OfSound(std::vector<float>(4000, 0.0f), spectrum).IsEmpty());
    EXPECT_TRUE(SpectralPeaks::OfSound({}, spectrum).IsEmpty());
}

}  // namespace
}  // namespace hushwell
