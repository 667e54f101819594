#include "analysis/SpectralAnalyzer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace hushwell {
namespace {

using Samples = std::vector<std::int16_t>;
constexpr int B = SpectralAnalyzer::kBandCount;

// Deterministic test audio: an interleaved sound whose first channel is a mix of tones and
// noise; other channels carry unrelated noise.
class Sound {
public:
    static Samples Make(int rate, int channels, double seconds, std::vector<double> toneHz,
                        double noise = 2000) {
        const auto frames = static_cast<std::size_t>(std::llround(seconds * rate));
        Samples s(frames * channels);
        std::uint32_t seed = 99;
        for (std::size_t f = 0; f < frames; ++f) {
            for (int c = 0; c < channels; ++c) {
                seed = seed * 1664525u + 1013904223u;
                double v = noise * ((seed >> 8) / 16777216.0 - 0.5);
                if (c == 0) {
                    for (double hz : toneHz) {
                        v += 6000 * std::sin(2 * std::numbers::pi * hz * f / rate);
                    }
                }
                s[f * channels + c] = static_cast<std::int16_t>(std::lround(v));
            }
        }
        return s;
    }
};

class SpectralAnalyzerTest : public ::testing::Test {
protected:
    // Feeds the sound in blocks whose sizes (in frames) cycle through sizes.
    static void FeedLive(SpectralAnalyzer& a, int rate, int channels, const Samples& s,
                         std::vector<std::size_t> sizes) {
        std::size_t at = 0;
        for (std::size_t i = 0; at < s.size(); ++i) {
            const std::size_t n = std::min(sizes[i % sizes.size()] * channels, s.size() - at);
            a.ExtractLiveFeatures(rate, channels, std::span(s).subspan(at, n));
            at += n;
        }
    }

    static int LoudestBand(const std::vector<float>& f, std::size_t frame) {
        const auto first = f.begin() + static_cast<std::ptrdiff_t>(frame * B);
        return static_cast<int>(std::max_element(first, first + B) - first);
    }
};

TEST_F(SpectralAnalyzerTest, ToneLandsInItsBandAtEveryRate) {
    // Band b reads bin 8 b + 5, i.e. (8 b + 5) x 31.25 Hz of the internal signal.
    for (int rate : {16000, 32000, 48000, 96000, 192000}) {
        for (int band : {1, 10, 23}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, band " << band);
            SpectralAnalyzer a;
            const Samples s = Sound::Make(rate, 1, 0.5, {(8 * band + 5) * 31.25}, 0);
            ASSERT_EQ(a.ExtractReferenceFeatures(rate, 1, s), 0);
            ASSERT_GE(a.FrameCount(), 3u);
            EXPECT_EQ(LoudestBand(a.Features(), 2), band);
        }
    }
}

TEST_F(SpectralAnalyzerTest, ReferenceFramesAndThresholds) {
    struct Case {
        int rate, channels;
        std::size_t frames, wantFrames;
        float threshold;
    };
    const Case cases[] = {
        {16000, 1, 16000, 31, 0.88f}, {16000, 1, 8000, 15, 0.91f}, {16000, 1, 512, 1, 0.98f},
        {16000, 1, 511, 0, 0.98f},    {16000, 1, 4000, 7, 0.97f},  {48000, 2, 48000, 31, 0.88f},
        {16000, 1, 3680, 7, 0.98f},  // 0.23 s
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.frames << " frames");
        SpectralAnalyzer a;
        const Samples s = Sound::Make(c.rate, c.channels, double(c.frames) / c.rate, {440});
        ASSERT_EQ(a.ExtractReferenceFeatures(c.rate, c.channels, s), 0);
        EXPECT_EQ(a.Features().size(), c.wantFrames * B);
        EXPECT_FLOAT_EQ(a.MatchThreshold(), c.threshold);
    }
}

TEST_F(SpectralAnalyzerTest, RejectedReferenceLeavesFeaturesAndThresholdAlone) {
    SpectralAnalyzer a;
    a.ExtractReferenceFeatures(16000, 1, Sound::Make(16000, 1, 1.0, {440}));
    const std::vector<float> before = a.Features();
    EXPECT_EQ(a.ExtractReferenceFeatures(16000, 0, Sound::Make(16000, 1, 0.1, {440})), 1);
    EXPECT_EQ(a.ExtractReferenceFeatures(16000, 1, {}), 1);
    EXPECT_EQ(a.Features(), before);
    EXPECT_FLOAT_EQ(a.MatchThreshold(), 0.88f);

    // Fewer samples than channels: no frame, the shortest-sound threshold, no division by 0.
    const Samples one(1, 5);
    EXPECT_EQ(a.ExtractReferenceFeatures(16000, 2, one), 0);
    EXPECT_EQ(a.FrameCount(), 0u);
    EXPECT_FLOAT_EQ(a.MatchThreshold(), 0.98f);
}

TEST_F(SpectralAnalyzerTest, SilenceGivesZeroReferenceAndEpsilonLiveFeatures) {
    const Samples zeros(16000, 0);
    SpectralAnalyzer ref;
    ref.ExtractReferenceFeatures(16000, 1, zeros);
    ASSERT_FALSE(ref.Features().empty());
    for (float v : ref.Features()) {
        ASSERT_EQ(v, 0.0f);
    }
    SpectralAnalyzer live;
    live.ExtractLiveFeatures(16000, 1, zeros);
    ASSERT_FALSE(live.Features().empty());
    // Exactly what the transform path gives for a zero spectrum: (0 + 0.0001f) ^ 0.55.
    const float silentBand = static_cast<float>(std::pow(static_cast<double>(0.0001f), 0.55));
    EXPECT_NEAR(silentBand, 0.0063096, 1e-6);
    for (float v : live.Features()) {
        ASSERT_EQ(v, silentBand);
    }
    // A single non-zero sample in a window takes it through the transform again.
    Samples click(zeros.size(), 0);
    click[click.size() / 2] = 1000;
    SpectralAnalyzer clicked;
    clicked.ExtractLiveFeatures(16000, 1, click);
    EXPECT_NE(*std::max_element(clicked.Features().begin(), clicked.Features().end()), silentBand);
}

TEST_F(SpectralAnalyzerTest, LiveFramesDoNotDependOnBlockSizes) {
    for (int rate : {48000, 44100, 22050, 16000}) {
        SCOPED_TRACE(rate);
        const Samples s = Sound::Make(rate, 2, 1.5, {300, 2500, 5100});
        SpectralAnalyzer whole, blocks;
        whole.ExtractLiveFeatures(rate, 2, s);
        const auto tenMs = static_cast<std::size_t>(rate / 100);
        FeedLive(blocks, rate, 2, s, {tenMs, 1, 37, 513, 2, 4096, 0, 64});
        ASSERT_GT(whole.FrameCount(), 300u);
        EXPECT_EQ(blocks.Features(), whole.Features());
    }
}

TEST_F(SpectralAnalyzerTest, BandBinsAreThoseOfTheWholeTransform) {
    // At 16 kHz the filter is the identity, so reference frame k is the window times samples
    // 512 k onwards; its bands must be exactly the magnitudes of the whole transform's bins.
    constexpr int N = SpectralAnalyzer::kFrameLength;
    const Samples s = Sound::Make(16000, 1, 0.2, {440, 3100, 7000}, 20000);
    SpectralAnalyzer a;
    a.ExtractReferenceFeatures(16000, 1, s);
    ASSERT_EQ(a.FrameCount(), 6u);
    for (std::size_t k = 0; k < a.FrameCount(); ++k) {
        std::array<SpectralAnalyzer::Complex, N> x;
        for (int i = 0; i < N; ++i) {
            const float window =
                static_cast<float>((1.0 - std::cos(2.0 * std::numbers::pi * i / (N - 1))) / 2.0);
            x[i] = {static_cast<float>(s[k * N + i]) * window, 0.0f};
        }
        a.ForwardFft(x);
        for (int b = 0; b < B; ++b) {
            const SpectralAnalyzer::Complex bin = x[SpectralAnalyzer::BandBin(b)];
            ASSERT_EQ(a.Features()[k * B + b],
                      std::sqrt(bin.real() * bin.real() + bin.imag() * bin.imag()))
                << k << "," << b;
        }
    }
}

// Silent blocks after a silent filter memory skip the filter and the transform; they must give
// exactly the frames of the filtered path. The reference is the whole stream in one call, which
// holds sound and so filters every sample. The streams keep silent stretches short of the gate
// (100 blocks).
TEST_F(SpectralAnalyzerTest, SilentBlocksGiveExactlyTheFramesOfTheFilteredPath) {
    for (int rate : {48000, 44100}) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channels");
            auto zeros = [&](std::size_t frames) { return Samples(frames * channels, 0); };
            // Silence before sound, a stretch of about 0.3 s after it, one shorter than the
            // filter memory (20 frames) and a silent end.
            const std::vector<Samples> pieces = {
                zeros(rate / 10),
                Sound::Make(rate, channels, 0.3, {500, 4000}),
                zeros(rate * 3 / 10),
                Sound::Make(rate, channels, 0.2, {1500}),
                zeros(20),
                Sound::Make(rate, channels, 0.1, {2500}),
                zeros(rate / 5),
            };
            Samples stream;
            SpectralAnalyzer blocks;
            for (const Samples& piece : pieces) {
                stream.insert(stream.end(), piece.begin(), piece.end());
                // Odd block sizes, so silent blocks start and end anywhere in the filter's phase.
                FeedLive(blocks, rate, channels, piece, {37, 441, 7, 960, 1});
            }
            SpectralAnalyzer whole;
            whole.ExtractLiveFeatures(rate, channels, stream);
            ASSERT_GT(whole.FrameCount(), 250u);
            EXPECT_EQ(blocks.Features(), whole.Features());
            EXPECT_TRUE(blocks.Resampler().MemoryIsSilent());
        }
    }
}

TEST_F(SpectralAnalyzerTest, LiveFrameEightKStartsWhereReferenceFrameKDoes) {
    const Samples s = Sound::Make(48000, 1, 1.0, {700, 3300});
    SpectralAnalyzer ref, live;
    ref.ExtractReferenceFeatures(48000, 1, s);
    FeedLive(live, 48000, 1, s, {480});
    for (std::size_t k = 0; k < ref.FrameCount() && 8 * k < live.FrameCount(); ++k) {
        for (int b = 0; b < B; ++b) {
            const float m = ref.Features()[k * B + b];
            const double want = std::pow(double(m * m + 0.0001f), 0.55);
            ASSERT_NEAR(live.Features()[8 * k * B + b], want, 1e-4 * want) << k << "," << b;
        }
    }
}

TEST_F(SpectralAnalyzerTest, OnlyTheFirstChannelCounts) {
    const Samples stereo = Sound::Make(48000, 2, 0.5, {1000});
    Samples left(stereo.size() / 2);
    for (std::size_t f = 0; f < left.size(); ++f) {
        left[f] = stereo[2 * f];
    }
    SpectralAnalyzer a, b;
    a.ExtractLiveFeatures(48000, 2, stereo);
    b.ExtractLiveFeatures(48000, 1, left);
    EXPECT_EQ(a.Features(), b.Features());
    a.ExtractReferenceFeatures(48000, 2, stereo);
    b.ExtractReferenceFeatures(48000, 1, left);
    EXPECT_EQ(a.Features(), b.Features());
}

TEST_F(SpectralAnalyzerTest, FortyFourPointOneKilohertzRunsAtAbout16036InternalSamples) {
    for (int rate : {44100, 22050}) {
        SCOPED_TRACE(rate);
        SpectralAnalyzer a;
        FeedLive(a, rate, 1, Sound::Make(rate, 1, 10.0, {440}),
                 {static_cast<std::size_t>(rate / 100)});
        // Frames start every 64 samples while a whole frame and one more sample fit.
        const double internal = 10.0 * 176400.0 / 11.0;
        const double want = std::floor((internal - 513) / 64) + 1;
        EXPECT_NEAR(static_cast<double>(a.FrameCount()), want, 1.0);
        EXPECT_GT(a.FrameCount(), (160000 - 513) / 64 + 3);
    }
}

TEST_F(SpectralAnalyzerTest, SilenceCounterCountsAllZeroFirstChannelBlocks) {
    SpectralAnalyzer a;
    const Samples silentLeft = {0, 900, 0, -900};  // right channel is not listened to
    a.ExtractLiveFeatures(48000, 2, silentLeft);
    a.ExtractLiveFeatures(48000, 2, {});
    EXPECT_EQ(a.SilentBlockCount(), 2);
    const Samples sound = {0, 0, 1, 0};
    a.ExtractLiveFeatures(48000, 2, sound);
    EXPECT_EQ(a.SilentBlockCount(), 0);
    for (int i = 0; i < 1100; ++i) {
        a.ExtractLiveFeatures(48000, 2, silentLeft);
    }
    EXPECT_EQ(a.SilentBlockCount(), SpectralAnalyzer::kSilentBlockCountLimit);
}

// Each program's stream has an analyzer of its own beside the whole output's: the sound of
// one must not end the silence of another, nor their silences add up.
TEST_F(SpectralAnalyzerTest, EachAnalyzerCountsTheSilenceOfItsOwnStream) {
    SpectralAnalyzer silent;
    SpectralAnalyzer playing;
    const Samples quiet = {0, 0};
    const Samples sound = {0, 0, 1, 0};
    for (int i = 0; i < 3; ++i) {
        silent.ExtractLiveFeatures(48000, 2, quiet);
        playing.ExtractLiveFeatures(48000, 2, sound);
    }
    EXPECT_EQ(silent.SilentBlockCount(), 3);
    EXPECT_EQ(playing.SilentBlockCount(), 0);
    playing.ExtractLiveFeatures(48000, 2, quiet);
    EXPECT_EQ(playing.SilentBlockCount(), 1);
    EXPECT_EQ(silent.SilentBlockCount(), 3);
}

TEST_F(SpectralAnalyzerTest, HundredthSilentBlockBypassesTheFilterWhichResumesWhereItWas) {
    // One-sample silent blocks at 192 kHz: the filter (199 taps) still remembers the sound
    // before them, and a bypassed block yields 1 / 12 = 0 internal samples. Silent blocks from
    // the 100th on must leave everything as it was.
    const Samples before = Sound::Make(192000, 1, 0.07, {3000});
    const Samples after = Sound::Make(192000, 1, 0.07, {1200});
    const Samples quiet = {0};
    auto run = [&](int silentBlocks) {
        SpectralAnalyzer a;
        a.ExtractLiveFeatures(192000, 1, before);
        for (int i = 0; i < silentBlocks; ++i) {
            a.ExtractLiveFeatures(192000, 1, quiet);
        }
        a.ExtractLiveFeatures(192000, 1, after);
        return a.Features();
    };
    const std::vector<float> filtered99 = run(99);
    EXPECT_EQ(run(100), filtered99);
    EXPECT_EQ(run(150), filtered99);
    EXPECT_NE(run(98), filtered99);
}

TEST_F(SpectralAnalyzerTest, UnlistedRateKeepsThePreviousFilterAndTrimmingDropsOldFrames) {
    SpectralAnalyzer a;
    EXPECT_EQ(a.SetInputRate(12345), 1);
    EXPECT_EQ(a.SetInputRate(22050), 0);
    a.ExtractLiveFeatures(24000, 1, Sound::Make(24000, 1, 0.5, {440}));
    EXPECT_EQ(a.InputRate(), 24000);
    EXPECT_EQ(a.Resampler().Taps(), 504);

    SpectralAnalyzer b;
    b.ExtractLiveFeatures(16000, 1, Sound::Make(16000, 1, 0.5, {440}));
    const std::vector<float> all = b.Features();
    b.TrimFrontFrames(3);
    EXPECT_EQ(b.Features(), std::vector<float>(all.begin() + 3 * B, all.end()));
    b.TrimFrontFrames(1000000);
    EXPECT_TRUE(b.Features().empty());
}

TEST_F(SpectralAnalyzerTest, RecentLiveSamplesAreTheStreamAsResampledWhereverBlocksEnd) {
    // At 16 kHz the resampler is the identity: the recent samples are the input itself, and
    // live frame k starts at stream sample 64 k.
    const Samples s = Sound::Make(16000, 1, 3.0, {700}, 3000);
    SpectralAnalyzer kept, none;
    kept.KeepRecentSamples(20000);
    FeedLive(kept, 16000, 1, s, {160, 37, 4096, 1});
    FeedLive(none, 16000, 1, s, {160});
    EXPECT_EQ(kept.Features(), none.Features());  // keeping samples changes no frame

    std::vector<float> out;
    ASSERT_TRUE(kept.RecentSamplesBefore(s.size(), 20000, out));
    for (std::size_t i = 0; i < out.size(); ++i) {
        ASSERT_EQ(out[i], static_cast<float>(s[s.size() - 20000 + i])) << i;
    }
    EXPECT_FALSE(kept.RecentSamplesBefore(s.size() + 1, 10, out));  // not heard yet
    EXPECT_FALSE(kept.RecentSamplesBefore(1000, 10, out));          // long gone
    EXPECT_FALSE(none.RecentSamplesBefore(s.size(), 10, out));

    kept.TrimFrontFrames(100);
    EXPECT_EQ(kept.FrameStartSample(0), 6400u);
    EXPECT_EQ(kept.FrameStartSample(kept.FrameCount() - 1), (100 + kept.FrameCount() - 1) * 64);
}

}  // namespace
}  // namespace hushwell
