#include "detection/TelephoneBandDetector.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "detection/SpectralAnalyzer.h"

namespace hushwell {
namespace {

constexpr int kBands = 32;
constexpr int kFrameLength = 512;

// Runs audio through a live analyzer in 10 ms blocks and updates the detector once per new
// live frame, as the matching passes do. Returns the verdict after every update.
class LiveFeed {
public:
    explicit LiveFeed(int rate) : rate_(rate) { SpectralAnalyzer::ResetSilentBlockCount(); }

    std::vector<float> Play(const std::vector<std::int16_t>& mono) {
        std::vector<float> verdicts;
        const std::size_t block = static_cast<std::size_t>(rate_ / 100);
        for (std::size_t at = 0; at < mono.size(); at += block) {
            const std::size_t n = std::min(block, mono.size() - at);
            const std::size_t before = analyzer_.FrameCount();
            analyzer_.ExtractLiveFeatures(rate_, 1, std::span(mono.data() + at, n));
            for (std::size_t f = before; f < analyzer_.FrameCount(); ++f) {
                verdicts.push_back(detector_.Update(analyzer_));
            }
            // Keep the history short, as the detection step's trimming does.
            if (analyzer_.FrameCount() > 256) {
                analyzer_.TrimFrontFrames(128);
            }
        }
        return verdicts;
    }

    const TelephoneBandDetector& Detector() const { return detector_; }

private:
    int rate_;
    SpectralAnalyzer analyzer_;
    TelephoneBandDetector detector_;
};

std::vector<std::int16_t> Tone(int rate, double hz, double seconds, double amplitude) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(rate * seconds));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / rate)));
    }
    return out;
}

std::vector<std::int16_t> Noise(int rate, double seconds, int amplitude) {
    std::mt19937 random(7);
    std::uniform_int_distribution<int> value(-amplitude, amplitude);
    std::vector<std::int16_t> out(static_cast<std::size_t>(rate * seconds));
    for (auto& s : out) {
        s = static_cast<std::int16_t>(value(random));
    }
    return out;
}

std::size_t FirstOn(const std::vector<float>& verdicts) {
    for (std::size_t i = 0; i < verdicts.size(); ++i) {
        if (verdicts[i] == 1.0f) {
            return i;
        }
    }
    return verdicts.size();
}

std::size_t CountOn(const std::vector<float>& verdicts, std::size_t from = 0) {
    std::size_t on = 0;
    for (std::size_t i = from; i < verdicts.size(); ++i) {
        on += verdicts[i] == 1.0f ? 1 : 0;
    }
    return on;
}

TEST(TelephoneBandDetectorTest, StartsOffAndKeepsTheVerdictWithoutFrames) {
    TelephoneBandDetector detector;
    EXPECT_EQ(detector.Verdict(), 0.0f);
    EXPECT_EQ(detector.FastBandB(), 50000.0f);
    EXPECT_EQ(detector.Floor(), 25600.0f);
    EXPECT_EQ(detector.Update({}, kFrameLength, kBands), 0.0f);
    EXPECT_FLOAT_EQ(detector.BandAThreshold(), 12800.0f);
    EXPECT_NEAR(detector.BandBThreshold(), 47360.0f, 0.01f);
    EXPECT_EQ(detector.FastBandB(), 50000.0f);  // nothing was smoothed
}

TEST(TelephoneBandDetectorTest, TwoAndAHalfKilohertzToneSwitchesOnAndStaysOn) {
    // At 44.1 kHz the internal rate is 16036 Hz, so the tone lies close to the bin of band 9.
    LiveFeed feed(44100);
    const std::vector<float> verdicts = feed.Play(Tone(44100, 2500.0, 3.0, 20000.0));
    const std::size_t on = FirstOn(verdicts);
    ASSERT_LT(on, verdicts.size());
    // Not before the slow band A energy has passed its threshold and the fast band B energy
    // has decayed from its start value. While the slow band B energy still lags, the slow
    // test may switch it off again for an update or two, and the fast test back on; within
    // a second it is on for good.
    EXPECT_GT(on, 20u);
    EXPECT_LT(on, 250u);
    EXPECT_EQ(CountOn(verdicts, 250), verdicts.size() - 250);
    EXPECT_LE(feed.Detector().FastRatio(), 0.05f);
    EXPECT_LE(feed.Detector().SlowRatio(), 0.3f);
}

TEST(TelephoneBandDetectorTest, ToneOnABandBinSwitchesOnAtExactRates) {
    // Band 9 reads FFT bin 77: 2406.25 Hz at 16 kHz.
    for (int rate : {16000, 48000}) {
        LiveFeed feed(rate);
        const std::vector<float> verdicts = feed.Play(Tone(rate, 2406.25, 2.0, 20000.0));
        const std::size_t on = FirstOn(verdicts);
        ASSERT_LT(on, verdicts.size()) << rate;
        EXPECT_GT(on, 0u) << rate;  // the fast band B energy starts at 50000
        EXPECT_EQ(CountOn(verdicts, on), verdicts.size() - on) << rate;
    }
}

TEST(TelephoneBandDetectorTest, ToneBetweenTheBandBinsIsNotSeenAtExactRates) {
    // At exactly 16 kHz internal, 2500 Hz is FFT bin 80, midway between the bins of bands 9
    // and 10 (77 and 85), where the Hann window leaks almost nothing: band A stays far below
    // its threshold however loud the tone is.
    for (int rate : {16000, 48000}) {
        LiveFeed feed(rate);
        const std::vector<float> verdicts = feed.Play(Tone(rate, 2500.0, 2.0, 32000.0));
        EXPECT_EQ(CountOn(verdicts), 0u) << rate;
        EXPECT_LT(feed.Detector().FastBandA(), feed.Detector().BandAThreshold()) << rate;
    }
}

TEST(TelephoneBandDetectorTest, SpeechBandNoiseSwitchesOn) {
    // Many tones with random phases between 2.1 and 3.1 kHz: sound through a narrow line.
    constexpr int kRate = 48000;
    std::mt19937 random(3);
    std::uniform_real_distribution<double> phase(0.0, 2 * std::numbers::pi);
    std::vector<double> mix(kRate * 3, 0.0);
    for (double hz = 2100.0; hz <= 3100.0; hz += 10.0) {
        const double p = phase(random);
        for (std::size_t i = 0; i < mix.size(); ++i) {
            mix[i] += std::sin(2 * std::numbers::pi * hz * i / kRate + p);
        }
    }
    double peak = 0.0;
    for (double v : mix) {
        peak = std::max(peak, std::abs(v));
    }
    std::vector<std::int16_t> samples(mix.size());
    for (std::size_t i = 0; i < mix.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(std::lround(mix[i] / peak * 20000.0));
    }
    LiveFeed feed(kRate);
    const std::vector<float> verdicts = feed.Play(samples);
    const std::size_t on = FirstOn(verdicts);
    ASSERT_LT(on, 250u);
    EXPECT_GT(CountOn(verdicts, on), (verdicts.size() - on) * 9 / 10);
}

TEST(TelephoneBandDetectorTest, BroadbandNoiseNeverSwitchesOn) {
    for (int rate : {16000, 48000}) {
        LiveFeed feed(rate);
        const std::vector<float> verdicts = feed.Play(Noise(rate, 3.0, 12000));
        EXPECT_EQ(CountOn(verdicts), 0u) << rate;
        EXPECT_GT(feed.Detector().FastRatio(), 0.3f) << rate;
    }
}

TEST(TelephoneBandDetectorTest, SilenceKeepsItOffAndEndsATone) {
    LiveFeed feed(48000);
    EXPECT_EQ(CountOn(feed.Play(std::vector<std::int16_t>(48000 * 2, 0))), 0u);

    ASSERT_EQ(feed.Play(Tone(48000, 2406.25, 2.0, 20000.0)).back(), 1.0f);
    const std::vector<float> after = feed.Play(std::vector<std::int16_t>(48000 * 2, 0));
    // The fast band A energy decays below its low limit within a second.
    const std::size_t stillOn = CountOn(after);
    EXPECT_LT(stillOn, 250u);
    EXPECT_EQ(CountOn(after, stillOn), 0u);
    EXPECT_LT(feed.Detector().FastBandA(), 640.0f);
}

TEST(TelephoneBandDetectorTest, ToneWithBroadbandNoiseAboveIsNoTelephone) {
    LiveFeed feed(48000);
    std::vector<std::int16_t> mix = Tone(48000, 2406.25, 3.0, 20000.0);
    const std::vector<std::int16_t> noise = Noise(48000, 3.0, 8000);
    for (std::size_t i = 0; i < mix.size(); ++i) {
        mix[i] = static_cast<std::int16_t>(mix[i] / 2 + noise[i] / 2);
    }
    EXPECT_EQ(CountOn(feed.Play(mix)), 0u);
}

// A frame with level x in every band from 16 up, y in band A (bands 8..12) and z on top of x
// in band 31, which lies in band B but not among the per-band levels: once the smoothing
// has settled, both ratios are z / (5 y - 16 x).
std::vector<float> Frame(float x, float y, float z) {
    std::vector<float> frame(kBands, 0.0f);
    for (int k = 8; k <= 12; ++k) {
        frame[k] = y;
    }
    for (int k = 16; k < kBands; ++k) {
        frame[k] = x;
    }
    frame[31] += z;
    return frame;
}

TEST(TelephoneBandDetectorTest, LimitsTightenAfterFiveHundredLoudUpdates) {
    // High-band sum 100000: loud while the floor (from 25600, rising 0.111 % per update)
    // stays below half of it, i.e. for about 600 updates.
    const float x = 100000.0f / 15.0f;
    const float y = 100000.0f;
    const float z = 0.04f * (5 * y - 16 * x);  // ratio 0.04: between 0.03 and 0.05
    const std::vector<float> frame = Frame(x, y, z);
    TelephoneBandDetector detector;
    for (int update = 1; update <= 500; ++update) {
        detector.Update(frame, kFrameLength, kBands);
    }
    EXPECT_EQ(detector.LoudCount(), 500u);
    EXPECT_NEAR(detector.FastRatio(), 0.04f, 1e-3);
    EXPECT_EQ(detector.FastDecision(), 1.0f);
    EXPECT_EQ(detector.Verdict(), 1.0f);

    detector.Update(frame, kFrameLength, kBands);
    EXPECT_EQ(detector.LoudCount(), 501u);
    EXPECT_EQ(detector.FastDecision(), 0.0f);  // limit now 0.03
    EXPECT_EQ(detector.SlowDecision(), 1.0f);  // 0.04 is within 0.2
    EXPECT_EQ(detector.Verdict(), 1.0f);       // staying on needs only the slow test

    int updates = 501;
    while (detector.LoudCount() != 0 && updates < 2000) {
        detector.Update(frame, kFrameLength, kBands);
        ++updates;
    }
    EXPECT_GT(updates, 550);
    EXPECT_LT(updates, 650);
    EXPECT_EQ(detector.FastDecision(), 1.0f);  // back to 0.05
}

TEST(TelephoneBandDetectorTest, SwitchingOnNeedsTheStrictTestStayingOnTheLooseOne) {
    const float x = 10.0f;
    const float y = 20000.0f;
    const float span = 5 * y - 16 * x;
    TelephoneBandDetector detector;
    // Ratio 0.1: above the switch-on limit 0.05, below the stay-on limit 0.3.
    for (int i = 0; i < 1000; ++i) {
        detector.Update(Frame(x, y, 0.1f * span), kFrameLength, kBands);
    }
    EXPECT_EQ(detector.LoudCount(), 0u);
    EXPECT_EQ(detector.Verdict(), 0.0f);
    for (int i = 0; i < 1000; ++i) {
        detector.Update(Frame(x, y, 0.01f * span), kFrameLength, kBands);
    }
    EXPECT_EQ(detector.Verdict(), 1.0f);
    for (int i = 0; i < 1000; ++i) {
        detector.Update(Frame(x, y, 0.25f * span), kFrameLength, kBands);
    }
    EXPECT_EQ(detector.Verdict(), 1.0f);
    for (int i = 0; i < 1000; ++i) {
        detector.Update(Frame(x, y, 0.35f * span), kFrameLength, kBands);
    }
    EXPECT_EQ(detector.Verdict(), 0.0f);
}

TEST(TelephoneBandDetectorTest, UnevenHighBandsSwitchItOff) {
    TelephoneBandDetector detector;
    for (int i = 0; i < 1000; ++i) {
        detector.Update(Frame(10.0f, 20000.0f, 0.0f), kFrameLength, kBands);
    }
    ASSERT_EQ(detector.Verdict(), 1.0f);
    // One high band a thousand times quieter than the others.
    std::vector<float> frame = Frame(10.0f, 20000.0f, 0.0f);
    frame[20] = 0.001f;
    for (int i = 0; i < 300 && detector.FastSpread() <= 1000.0f; ++i) {
        detector.Update(frame, kFrameLength, kBands);
    }
    EXPECT_GT(detector.FastSpread(), 1000.0f);
    EXPECT_EQ(detector.Verdict(), 0.0f);
}

}  // namespace
}  // namespace hushwell
