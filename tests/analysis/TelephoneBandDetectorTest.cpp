#include "analysis/TelephoneBandDetector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "analysis/SpectralAnalyzer.h"

namespace hushwell {
namespace {

constexpr int kBands = 32;
constexpr int kFrameLength = 512;

// Runs mono audio through a live analyzer in 10 ms blocks and updates the detector once per
// new live frame, as the matching passes do. Returns the verdict after every update.
class LiveFeed {
public:
    explicit LiveFeed(int rate) : rate_(rate) {}

    std::vector<float> Play(const std::vector<std::int16_t>& mono) {
        std::vector<float> verdicts;
        const auto block = static_cast<std::size_t>(rate_ / 100);
        for (std::size_t at = 0; at < mono.size(); at += block) {
            const std::size_t before = analyzer_.FrameCount();
            analyzer_.ExtractLiveFeatures(
                rate_, 1, std::span(mono.data() + at, std::min(block, mono.size() - at)));
            for (std::size_t f = before; f < analyzer_.FrameCount(); ++f) {
                verdicts.push_back(detector.Update(analyzer_));
            }
            if (analyzer_.FrameCount() > 256) {
                analyzer_.TrimFrontFrames(128);
            }
        }
        return verdicts;
    }

    TelephoneBandDetector detector;

private:
    int rate_;
    SpectralAnalyzer analyzer_;
};

std::vector<std::int16_t> Tone(int rate, double hz, double seconds, double amplitude,
                               int noise = 0) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(-noise, noise);
    std::vector<std::int16_t> out(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double tone = amplitude * std::sin(2 * std::numbers::pi * hz * i / rate);
        out[i] = static_cast<std::int16_t>(std::lround(tone) + value(random));
    }
    return out;
}

std::size_t FirstOn(const std::vector<float>& verdicts) {
    return static_cast<std::size_t>(std::find(verdicts.begin(), verdicts.end(), 1.0f) -
                                    verdicts.begin());
}
std::size_t CountOn(const std::vector<float>& verdicts, std::size_t from = 0) {
    return static_cast<std::size_t>(std::count(verdicts.begin() + from, verdicts.end(), 1.0f));
}

TEST(TelephoneBandDetectorTest, TwoAndAHalfKilohertzToneSwitchesOnAndStaysOn) {
    // At 44.1 kHz the internal rate is 16036 Hz: the tone lies close to band 9's FFT bin.
    LiveFeed feed(44100);
    const std::vector<float> verdicts = feed.Play(Tone(44100, 2500.0, 3.0, 20000.0));
    // Not before the slow band A energy has passed its threshold and the fast band B energy
    // has decayed from 50000. While the slow band B energy still lags, the slow test may
    // switch it off for an update and the fast test on again; within a second it is on.
    const std::size_t on = FirstOn(verdicts);
    EXPECT_GT(on, 20u);
    EXPECT_LT(on, 250u);
    EXPECT_EQ(CountOn(verdicts, 250), verdicts.size() - 250);
}

TEST(TelephoneBandDetectorTest, ExactRatesSeeToneOnBandBinsOnly) {
    for (int rate : {16000, 48000}) {
        // 2406.25 Hz is FFT bin 77, read by band 9.
        LiveFeed onBin(rate);
        const std::vector<float> verdicts = onBin.Play(Tone(rate, 2406.25, 2.0, 20000.0));
        const std::size_t on = FirstOn(verdicts);
        EXPECT_GT(on, 0u) << rate;
        EXPECT_EQ(CountOn(verdicts, on), verdicts.size() - on) << rate;
        // 2500 Hz is bin 80, midway between the bins of bands 9 and 10, where the Hann window
        // leaks almost nothing: band A stays below its threshold however loud the tone is.
        LiveFeed between(rate);
        EXPECT_EQ(CountOn(between.Play(Tone(rate, 2500.0, 2.0, 32000.0))), 0u) << rate;
    }
}

TEST(TelephoneBandDetectorTest, BroadbandNoiseKeepsItOff) {
    LiveFeed noise(48000);
    EXPECT_EQ(CountOn(noise.Play(Tone(48000, 0.0, 3.0, 0.0, 12000))), 0u);
    // The same on top of a tone that alone would switch it on.
    LiveFeed mixed(48000);
    EXPECT_EQ(CountOn(mixed.Play(Tone(48000, 2406.25, 3.0, 10000.0, 4000))), 0u);
}

TEST(TelephoneBandDetectorTest, SilenceKeepsItOffAndEndsATone) {
    LiveFeed feed(48000);
    const std::vector<std::int16_t> silence(48000 * 2, 0);
    EXPECT_EQ(CountOn(feed.Play(silence)), 0u);
    ASSERT_EQ(feed.Play(Tone(48000, 2406.25, 2.0, 20000.0)).back(), 1.0f);
    // The fast band A energy decays below its low limit (640) within a second.
    const std::vector<float> after = feed.Play(silence);
    const std::size_t stillOn = CountOn(after);
    EXPECT_LT(stillOn, 250u);
    EXPECT_EQ(CountOn(after, stillOn), 0u);
}

// A frame with x in every band from 16 up, y in band A (bands 8..12) and z more in band 31,
// which lies in band B but not among the per-band levels: once the smoothing has settled,
// both ratios are z / (5 y - 16 x).
std::vector<float> Frame(float x, float y, float z) {
    std::vector<float> frame(kBands, 0.0f);
    std::fill(frame.begin() + 8, frame.begin() + 13, y);
    std::fill(frame.begin() + 16, frame.end(), x);
    frame[31] += z;
    return frame;
}

TEST(TelephoneBandDetectorTest, SwitchingOnNeedsTheStrictTestStayingOnTheLooseOne) {
    TelephoneBandDetector detector;
    EXPECT_EQ(detector.Update({}, kFrameLength, kBands), 0.0f);  // no frame yet
    const float x = 10.0f;
    const float y = 20000.0f;
    const float span = 5 * y - 16 * x;
    auto settle = [&](float ratio) {
        for (int i = 0; i < 1000; ++i) {
            detector.Update(Frame(x, y, ratio * span), kFrameLength, kBands);
        }
        return detector.Verdict();
    };
    EXPECT_EQ(settle(0.1f), 0.0f);   // above 0.05: does not switch on
    EXPECT_EQ(settle(0.01f), 1.0f);  // switches on
    EXPECT_EQ(settle(0.25f), 1.0f);  // below 0.3: stays on
    EXPECT_EQ(settle(0.35f), 0.0f);

    // One high band ten thousand times quieter than the others: too uneven, off.
    settle(0.01f);
    std::vector<float> uneven = Frame(x, y, 0.0f);
    uneven[20] = x / 10000;
    for (int i = 0; i < 300 && detector.FastSpread() <= 1000.0f; ++i) {
        detector.Update(uneven, kFrameLength, kBands);
    }
    EXPECT_EQ(detector.Verdict(), 0.0f);
}

TEST(TelephoneBandDetectorTest, LimitsTightenAfterFiveHundredLoudUpdates) {
    // High-band sum 100000: loud while the floor (from 25600, rising 0.111 % per update)
    // stays below half of it, i.e. for about 600 updates. Ratio 0.04: between 0.03 and 0.05.
    const float x = 100000.0f / 15.0f;
    const float y = 100000.0f;
    const std::vector<float> frame = Frame(x, y, 0.04f * (5 * y - 16 * x));
    TelephoneBandDetector detector;
    for (int update = 1; update <= 500; ++update) {
        detector.Update(frame, kFrameLength, kBands);
    }
    EXPECT_EQ(detector.LoudCount(), 500u);
    EXPECT_EQ(detector.FastDecision(), 1.0f);

    detector.Update(frame, kFrameLength, kBands);
    EXPECT_EQ(detector.FastDecision(), 0.0f);  // limit now 0.03
    EXPECT_EQ(detector.SlowDecision(), 1.0f);  // limit now 0.2
    EXPECT_EQ(detector.Verdict(), 1.0f);

    int updates = 501;
    while (detector.LoudCount() != 0 && updates < 2000) {
        detector.Update(frame, kFrameLength, kBands);
        ++updates;
    }
    EXPECT_NEAR(updates, 604, 5);
    EXPECT_EQ(detector.FastDecision(), 1.0f);  // back to 0.05
}

}  // namespace
}  // namespace hushwell
