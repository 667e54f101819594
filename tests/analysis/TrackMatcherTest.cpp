#include "analysis/TrackMatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "analysis/TonalTracks.h"

namespace hushwell {
namespace {

using C = TonalTrackConstants;
constexpr int kRate = C::kInternalRate;
constexpr double kBinHz = static_cast<double>(kRate) / C::kLength;

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

// Live tracks of `live`, fed in blocks of 160 samples from stream sample 0.
void Feed(TonalTracks& tracks, const std::vector<float>& live) {
    tracks.Reset(0);
    for (std::size_t at = 0; at < live.size(); at += 160) {
        const std::size_t count = std::min<std::size_t>(160, live.size() - at);
        tracks.Append(std::span<const float>(live).subspan(at, count));
    }
}

float ScoreAtEnd(const TonalPattern& pattern, const std::vector<float>& live) {
    TonalTracks tracks;
    Feed(tracks, live);
    std::uint64_t frame = 0;
    std::uint64_t frameEnd = 0;
    if (!tracks.NewestFrameBy(live.size(), frame, frameEnd)) {
        return -2.0f;
    }
    TrackMatcher matcher;
    return matcher.Score(matcher.Add(pattern), tracks, frame);
}

bool HasBinNear(const TonalPattern& pattern, double hz) {
    return std::any_of(pattern.bins.begin(), pattern.bins.end(), [hz](std::uint16_t bin) {
        return std::abs(bin * kBinHz - hz) <= 2 * kBinHz;
    });
}

TEST(TonalTracksTest, APatternKeepsTheMostProminentBinsOfTheSoundsLastStretch) {
    TonalTracks tracks;
    const TonalPattern chord = tracks.ReferencePattern(Sound({660.0, 990.0, 1480.0}, 1.2, 3000.0));
    // 1.2 s holds 37 whole hops.
    EXPECT_EQ(chord.Frames(), 37u);
    EXPECT_TRUE(HasBinNear(chord, 660.0));
    EXPECT_TRUE(HasBinNear(chord, 990.0));
    EXPECT_TRUE(HasBinNear(chord, 1480.0));
    EXPECT_LE(chord.bins.size(), C::kMaxTracks);
    EXPECT_TRUE(std::is_sorted(chord.bins.begin(), chord.bins.end()));

    // A long sound keeps its last 1.5 s; silence and noise keep nothing to follow.
    EXPECT_EQ(tracks.ReferencePattern(Sound({700.0}, 4.0, 3000.0)).Frames(), C::kMaxPatternFrames);
    EXPECT_TRUE(tracks.ReferencePattern(std::vector<float>(8000, 0.0f)).IsEmpty());
    EXPECT_TRUE(tracks.ReferencePattern({}).IsEmpty());
}

TEST(TonalTracksTest, ALiveBinReadsATrackWithinItsToleranceAndFramesCountFromTheOrigin) {
    TonalTracks tracks;
    // A tone 1 % sharp of bin 128 (1000 Hz) under noise.
    Feed(tracks, Sound({1010.0}, 1.0, 3000.0, 1000.0));
    std::uint64_t frame = 0;
    std::uint64_t frameEnd = 0;
    EXPECT_FALSE(tracks.NewestFrameBy(C::kLength - 1, frame, frameEnd));
    ASSERT_TRUE(tracks.NewestFrameBy(C::kLength + 3 * C::kHop + 100, frame, frameEnd));
    EXPECT_EQ(frame, 3u);
    EXPECT_EQ(frameEnd, static_cast<std::uint64_t>(C::kLength + 3 * C::kHop));
    const std::uint8_t* values = tracks.LiveFrame(frame);
    ASSERT_NE(values, nullptr);
    const auto at = [&](int bin) { return values[bin - C::kFirstBin] / C::kStepsPerDb; };
    EXPECT_GT(at(128), 20.0f);  // 1000 Hz reads the tone 10 Hz away
    EXPECT_LT(at(141), 10.0f);  // 1100 Hz does not
    EXPECT_EQ(tracks.LiveFrame(10000), nullptr);
}

TEST(TrackMatcherTest, AChordKeepsItsScoreUnderALoudBedAndAChordASemitoneUpDoesNot) {
    TonalTracks tracks;
    const std::vector<double> chord = {660.0, 990.0, 1480.0};
    const TonalPattern pattern = tracks.ReferencePattern(
        Joined(Sound(chord, 0.6, 3000.0), Sound({chord[0], chord[2]}, 0.6, 3000.0)));
    ASSERT_TRUE(TrackMatcher::IsUsable(pattern));
    const auto played = [&](double semitones) {
        const double factor = std::pow(2.0, semitones / 12.0);
        std::vector<double> shifted;
        for (const double hz : chord) {
            shifted.push_back(hz * factor);
        }
        // Noise louder than the chord: about 5 dB above it overall.
        return Joined(
            Joined(Sound({}, 3.0, 0.0, 12000.0, 3), Sound(shifted, 0.6, 3000.0, 12000.0, 4)),
            Sound({shifted[0], shifted[2]}, 0.6, 3000.0, 12000.0, 5));
    };
    EXPECT_GT(ScoreAtEnd(pattern, played(0.0)), 0.8f);
    EXPECT_GT(ScoreAtEnd(pattern, played(0.1)), 0.8f) << "played 0.6 % sharp";
    EXPECT_LT(ScoreAtEnd(pattern, played(1.0)), 0.4f);
    EXPECT_LT(ScoreAtEnd(pattern, Sound({}, 4.2, 0.0, 12000.0, 3)), 0.4f);
}

TEST(TrackMatcherTest, ABeepTooShortOrAWindowNotYetFullScoresZero) {
    TonalTracks tracks;
    const TonalPattern beep = tracks.ReferencePattern(Sound({1000.0}, 0.25, 3000.0));
    EXPECT_FALSE(TrackMatcher::IsUsable(beep));
    EXPECT_EQ(ScoreAtEnd(beep, Joined(Sound({}, 2.0, 0.0, 300.0), Sound({1000.0}, 0.25, 3000.0))),
              0.0f);
    // The live sound has not yet lasted as many frames as the pattern.
    const TonalPattern chord = tracks.ReferencePattern(Sound({700.0, 1200.0}, 1.5, 3000.0));
    ASSERT_TRUE(TrackMatcher::IsUsable(chord));
    EXPECT_EQ(ScoreAtEnd(chord, Sound({700.0, 1200.0}, 0.6, 3000.0)), 0.0f);
}

}  // namespace
}  // namespace hushwell
