#include "analysis/BedMatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "analysis/WhitenedBands.h"

namespace hushwell {
namespace {

using C = WhitenedBandConstants;
constexpr int kRate = C::kInternalRate;

// Tones of the given amplitude and, when asked, white noise of the given peak, at the
// internal rate in 16-bit sample units.
std::vector<float> Sound(const std::vector<double>& tonesHz, double seconds, double amplitude,
                         double noise = 0.0, std::uint32_t seed = 7) {
    std::vector<float> out(static_cast<std::size_t>(seconds * kRate));
    for (std::size_t i = 0; i < out.size(); ++i) {
        double value = 0.0;
        for (const double hz : tonesHz) {
            value +=
                amplitude * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / kRate);
        }
        seed = seed * 1664525u + 1013904223u;
        value += noise * ((seed >> 8) / 8388608.0 - 1.0);
        out[i] = static_cast<float>(value);
    }
    return out;
}

std::vector<float> Joined(std::vector<float> first, const std::vector<float>& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// The band whose bins hold `hz`.
std::size_t BandOf(double hz) {
    const double position = std::log(hz / C::kLowestHz) / std::log(C::kHighestHz / C::kLowestHz);
    return static_cast<std::size_t>(position * C::kBandCount);
}

// The score of `pattern` against `live`, fed in blocks of 160 samples, at the live end.
float ScoreAtEnd(const std::vector<std::uint8_t>& pattern, const std::vector<float>& live) {
    WhitenedBands bands;
    bands.Reset(0);
    for (std::size_t at = 0; at < live.size(); at += 160) {
        const std::size_t count = std::min<std::size_t>(160, live.size() - at);
        bands.Append(std::span<const float>(live).subspan(at, count));
    }
    WhitenedWindow window;
    if (!bands.Window(live.size(), C::kMaxPatternFrames, window)) {
        return -2.0f;
    }
    BedMatcher matcher;
    return matcher.Score(matcher.Add(pattern), window);
}

TEST(WhitenedBandsTest, APatternWeighsOnlyWhatTheSoundMakesLoudOverItsLastStretch) {
    WhitenedBands bands;
    const std::vector<std::uint8_t> tone = bands.ReferencePattern(Sound({1000.0}, 1.0, 3000.0));
    // One second at the reference hop: 31 whole frames.
    ASSERT_EQ(tone.size(), 31u * C::kBandCount);
    const std::size_t band = BandOf(1000.0);
    const int most = static_cast<int>(C::kReferenceRangeDb * C::kStepsPerDb);
    EXPECT_EQ(tone[10 * C::kBandCount + band], most);
    // Far from the tone the bands stay below the range.
    EXPECT_EQ(tone[10 * C::kBandCount + 0], 0);
    EXPECT_EQ(tone[10 * C::kBandCount + C::kBandCount - 1], 0);

    // A long sound keeps its last 1.5 s; silence and a sound shorter than a frame keep none.
    EXPECT_EQ(bands.ReferencePattern(Sound({1000.0}, 4.0, 3000.0)).size(),
              C::kMaxPatternFrames * C::kBandCount);
    EXPECT_TRUE(bands.ReferencePattern(std::vector<float>(8000, 0.0f)).empty());
    EXPECT_TRUE(bands.ReferencePattern(Sound({1000.0}, 0.02, 3000.0)).empty());
}

TEST(WhitenedBandsTest, ASteadyBedSinksToItsFloorWhileAToneOnItStandsOut) {
    WhitenedBands bands;
    bands.Reset(0);
    const std::vector<float> live =
        Joined(Sound({}, 4.0, 0.0, 3000.0, 1), Sound({1000.0}, 1.0, 3000.0, 3000.0, 2));
    bands.Append(live);
    WhitenedWindow bedOnly;
    WhitenedWindow withTone;
    ASSERT_TRUE(bands.Window(4 * kRate, 20, bedOnly));
    ASSERT_TRUE(bands.Window(live.size(), 20, withTone));
    const std::size_t band = BandOf(1000.0);
    const auto sumOver = [](const WhitenedWindow& window, std::size_t b) {
        return window.newestSums[window.frames * C::kBandCount + b];
    };
    // Over 20 frames in half-dB steps: the tone lifts its band by more than 15 dB on average
    // over what the bed alone reads there, and leaves a band far from it within 5 dB of it.
    constexpr int kFramesInDbSteps = 20 * 2;
    EXPECT_GT(sumOver(withTone, band), sumOver(bedOnly, band) + kFramesInDbSteps * 15)
        << sumOver(withTone, band) << " " << sumOver(bedOnly, band);
    EXPECT_NEAR(sumOver(withTone, 2), sumOver(bedOnly, 2), kFramesInDbSteps * 5)
        << sumOver(withTone, 2) << " " << sumOver(bedOnly, 2);
}

TEST(WhitenedBandsTest, AWindowTakesEveryReferenceHopBackFromTheNewestFrameAndItsSums) {
    WhitenedBands bands;
    bands.Reset(1000);
    // No frame ends before its first 512 samples.
    EXPECT_FALSE(bands.Window(1000 + C::kFrameLength, 4, *std::make_unique<WhitenedWindow>()));
    const std::vector<float> live = Sound({700.0, 2500.0}, 2.0, 2000.0, 2000.0);
    for (std::size_t at = 0; at < live.size(); at += 441) {
        bands.Append(
            std::span<const float>(live).subspan(at, std::min<std::size_t>(441, live.size() - at)));
    }
    WhitenedWindow window;
    ASSERT_TRUE(bands.Window(1000 + 20000, 6, window));
    EXPECT_EQ(window.frames, 6u);
    // The newest frame ending by sample 21000 started at a multiple of the live hop.
    EXPECT_LE(window.end, 21000u);
    EXPECT_GT(window.end + C::kLiveHop, 21000u);
    EXPECT_EQ((window.end - 1000 - C::kFrameLength) % C::kLiveHop, 0u);
    for (std::size_t b = 0; b < C::kBandCount; ++b) {
        std::int32_t sum = 0;
        std::int32_t squares = 0;
        for (std::size_t k = 0; k < window.frames; ++k) {
            const std::int32_t v = window.values[(window.frames - 1 - k) * C::kBandCount + b];
            sum += v;
            squares += v * v;
            EXPECT_EQ(window.newestSums[(k + 1) * C::kBandCount + b], sum);
            EXPECT_EQ(window.newestSquares[(k + 1) * C::kBandCount + b], squares);
        }
    }
}

TEST(BedMatcherTest, AChordKeepsItsScoreUnderANoiseBedAndAChordThreeSemitonesUpDoesNot) {
    WhitenedBands bands;
    const std::vector<double> chord = {660.0, 990.0, 1480.0};
    const auto pattern =
        bands.ReferencePattern(Joined(Sound(chord, 0.6, 3000.0), Sound({chord[0]}, 0.6, 3000.0)));
    const auto played = [&](double semitones) {
        const double factor = std::pow(2.0, semitones / 12.0);
        std::vector<double> shifted;
        for (const double hz : chord) {
            shifted.push_back(hz * factor);
        }
        // A bed as loud as the chord.
        return Joined(
            Joined(Sound({}, 3.0, 0.0, 6000.0, 3), Sound(shifted, 0.6, 3000.0, 6000.0, 4)),
            Sound({shifted[0]}, 0.6, 3000.0, 6000.0, 5));
    };
    EXPECT_GT(ScoreAtEnd(pattern, played(0.0)), 0.8f);
    EXPECT_LT(ScoreAtEnd(pattern, played(3.0)), 0.5f);
    // The bed alone is nothing like it.
    EXPECT_LT(ScoreAtEnd(pattern, Sound({}, 4.2, 0.0, 6000.0, 3)), 0.5f);
}

TEST(BedMatcherTest, TooShortAPatternOrTooShortAWindowScoresZero) {
    WhitenedBands bands;
    // A quarter-second beep in one band has too few weighted cells to be told from the rest.
    const auto beep = bands.ReferencePattern(Sound({1000.0}, 0.25, 3000.0));
    ASSERT_FALSE(beep.empty());
    EXPECT_EQ(ScoreAtEnd(beep, Joined(Sound({}, 2.0, 0.0, 300.0), Sound({1000.0}, 0.25, 3000.0))),
              0.0f);
    // A window shorter than the pattern: the live sound has not lasted long enough.
    const auto long_ = bands.ReferencePattern(Sound({700.0, 1200.0}, 1.5, 3000.0));
    EXPECT_EQ(ScoreAtEnd(long_, Sound({700.0, 1200.0}, 0.6, 3000.0)), 0.0f);
}

}  // namespace
}  // namespace hushwell
