#include "analysis/PolyphaseResampler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

#include "analysis/ResamplerDesigns.h"

namespace hushwell {
namespace {

// What each row of the rate table must look like: tap count, factors, and where the response
// falls through -3 dB and through the stop level, at the rate the filter runs on.
struct ExpectedDesign {
    int inputRate;
    int upFactor;
    int downFactor;
    std::size_t taps;
    double filterRate;
    double minus3DbHz;
    double stopDb;
    double stopHz;
};

const ExpectedDesign kExpected[] = {
    {32000, 1, 2, 41, 32000, 6100, -40, 9400},      {48000, 1, 3, 81, 48000, 5900, -40, 8300},
    {96000, 1, 6, 121, 96000, 6300, -40, 9600},     {192000, 1, 12, 199, 192000, 5700, -40, 9700},
    {44100, 4, 11, 499, 176400, 12900, -60, 14000}, {22050, 8, 11, 499, 176400, 12900, -60, 14000},
};

double Magnitude(std::span<const double> h, double hz, double rate) {
    const double centre = (static_cast<double>(h.size()) - 1) / 2;
    double sum = 0;
    for (std::size_t n = 0; n < h.size(); ++n) {
        sum +=
            h[n] * std::cos(2 * std::numbers::pi * hz / rate * (static_cast<double>(n) - centre));
    }
    return std::abs(sum);
}

double Db(double magnitude) {
    return 20 * std::log10(magnitude);
}

// The first frequency where the response falls below level (scan, then bisection).
double FirstBelow(std::span<const double> h, double levelDb, double rate) {
    constexpr double kStepHz = 10;
    double hz = 0;
    while (hz < rate / 2 && Db(Magnitude(h, hz, rate)) >= levelDb) {
        hz += kStepHz;
    }
    double lo = hz - kStepHz, hi = hz;
    for (int i = 0; i < 30; ++i) {
        const double mid = (lo + hi) / 2;
        (Db(Magnitude(h, mid, rate)) >= levelDb ? lo : hi) = mid;
    }
    return (lo + hi) / 2;
}

TEST(ResamplerDesignsTest, EveryRowIsASymmetricUnityGainLowPassWithTheTableCharacter) {
    for (const ExpectedDesign& e : kExpected) {
        SCOPED_TRACE(e.inputRate);
        const ResamplerDesign* d = FindResamplerDesign(e.inputRate);
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->upFactor, e.upFactor);
        EXPECT_EQ(d->downFactor, e.downFactor);
        const std::span<const double> h = d->coefficients;
        ASSERT_EQ(h.size(), e.taps);
        double sum = 0;
        for (std::size_t n = 0; n < h.size(); ++n) {
            EXPECT_EQ(h[n], h[h.size() - 1 - n]) << n;
            sum += h[n];
        }
        EXPECT_NEAR(sum, 1.0, 1e-9);
        EXPECT_LT(std::abs(h.front()), 1e-3);

        const double minus3 = FirstBelow(h, -3, e.filterRate);
        const double stop = FirstBelow(h, e.stopDb, e.filterRate);
        EXPECT_NEAR(minus3, e.minus3DbHz, 0.04 * e.minus3DbHz);
        EXPECT_NEAR(stop, e.stopHz, 0.04 * e.stopHz);
        // Past that point the stop band stays down (the decimators have a -40 dB floor).
        double worst = 0;
        for (double hz = stop + 50; hz < e.filterRate / 2; hz += 25) {
            worst = std::max(worst, Magnitude(h, hz, e.filterRate));
        }
        EXPECT_LT(Db(worst), e.stopDb + 2);
    }
}

TEST(ResamplerDesignsTest, SixteenKilohertzIsTheIdentityAndOtherRatesAreUnknown) {
    EXPECT_EQ(FindResamplerDesign(16000)->coefficients.size(), 1u);
    for (int rate : {0, -48000, 8000, 24000, 88200, 176400}) {
        EXPECT_EQ(FindResamplerDesign(rate), nullptr) << rate;
    }
}

TEST(PolyphaseResamplerTest, RefusesBadDesignsAndKeepsTheFilter) {
    PolyphaseResampler r;
    const std::vector<double> tooLong(PolyphaseResampler::kMaxDesignTaps + 1, 0.001);
    const std::vector<double> fine(3, 1.0 / 3);
    EXPECT_FALSE(r.Load(tooLong, 1, 2));
    EXPECT_FALSE(r.Load({}, 1, 2));
    EXPECT_FALSE(r.Load(fine, 0, 2));
    EXPECT_FALSE(r.Load(fine, 1, 0));
    std::vector<float> out;
    const float in[] = {3.0f, -2.0f};
    EXPECT_EQ(r.Process(in, out), 2u);
    EXPECT_EQ(out, (std::vector<float>{3.0f, -2.0f}));
}

// Zero-stuff by L, filter with the design in double precision, keep every M-th sample.
std::vector<double> DirectResample(std::span<const double> h, int up, int down,
                                   const std::vector<float>& x) {
    std::vector<double> stuffed(x.size() * up, 0.0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        stuffed[i * up] = x[i];
    }
    std::vector<double> y;
    for (std::size_t m = 0; m < stuffed.size(); m += down) {
        double sum = 0;
        for (std::size_t j = 0; j < h.size() && j <= m; ++j) {
            sum += h[j] * stuffed[m - j];
        }
        y.push_back(sum);
    }
    return y;
}

TEST(PolyphaseResamplerTest, MatchesZeroStuffFilterDecimateAcrossArbitraryBlocks) {
    std::uint32_t seed = 12345;
    std::vector<float> x(5000);
    for (float& v : x) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(static_cast<std::int32_t>(seed >> 16) - 32768);
    }
    for (int rate : {32000, 48000, 192000, 44100, 22050}) {
        SCOPED_TRACE(rate);
        const ResamplerDesign* d = FindResamplerDesign(rate);
        PolyphaseResampler r;
        ASSERT_TRUE(r.Load(d->coefficients, d->upFactor, d->downFactor));
        std::vector<float> out;
        std::size_t at = 0, block = 1;
        while (at < x.size()) {
            const std::size_t n = std::min(block, x.size() - at);
            r.Process(std::span(x).subspan(at, n), out);
            at += n;
            block = block * 3 % 997 + 1;
        }
        const std::vector<double> want =
            DirectResample(d->coefficients, d->upFactor, d->downFactor, x);
        ASSERT_EQ(out.size(), want.size());
        for (std::size_t i = 0; i < want.size(); ++i) {
            ASSERT_NEAR(out[i], want[i], 0.05 + 2e-5 * std::abs(want[i])) << i;
        }
    }
}

TEST(PolyphaseResamplerTest, DecimationPhaseSurvivesALoad) {
    const ResamplerDesign* d = FindResamplerDesign(48000);
    PolyphaseResampler r;
    r.Load(d->coefficients, 1, 3);
    std::vector<float> out;
    const float one[] = {1.0f};
    r.Process(one, out);  // output at stream position 0; the phase moves on to 1
    r.Load(d->coefficients, 1, 3);
    const float two[] = {1.0f, 1.0f};
    EXPECT_EQ(r.Process(two, out), 0u);  // positions 1 and 2
    EXPECT_EQ(r.Process(one, out), 1u);  // position 3
}

// Sound, then zeros, then sound again, through two resamplers: one is given the zeros as
// samples, the other as silence (in odd counts). Both must give the same outputs, and the
// memory reads as silent exactly once P - 1 zeros have gone in.
TEST(PolyphaseResamplerTest, SilenceGivesTheFilteredOutputsAndKeepsThePhase) {
    std::vector<float> sound(700);
    std::uint32_t seed = 777;
    for (float& v : sound) {
        seed = seed * 1664525u + 1013904223u;
        v = static_cast<float>(static_cast<std::int32_t>(seed >> 16) - 32768);
    }
    for (int rate : {48000, 44100, 22050, 192000}) {
        SCOPED_TRACE(rate);
        const ResamplerDesign* d = FindResamplerDesign(rate);
        PolyphaseResampler filtered, skipped;
        ASSERT_TRUE(filtered.Load(d->coefficients, d->upFactor, d->downFactor));
        ASSERT_TRUE(skipped.Load(d->coefficients, d->upFactor, d->downFactor));
        EXPECT_TRUE(skipped.MemoryIsSilent());
        std::vector<float> want, got;
        const auto memory = static_cast<std::size_t>(filtered.TapsPerPhase() - 1);
        for (std::size_t zeros : {memory - 1, std::size_t{1}, memory + 13, std::size_t{2}}) {
            filtered.Process(sound, want);
            skipped.Process(sound, got);
            EXPECT_FALSE(skipped.MemoryIsSilent());
            const std::vector<float> silence(zeros, 0.0f);
            filtered.Process(silence, want);
            for (std::size_t done = 0; done < zeros; done += 5) {
                skipped.ProcessSilence(std::min<std::size_t>(5, zeros - done), got);
            }
            EXPECT_EQ(skipped.MemoryIsSilent(), zeros >= memory) << zeros;
        }
        filtered.Process(sound, want);
        skipped.Process(sound, got);
        EXPECT_EQ(got, want);
    }
}

TEST(PolyphaseResamplerTest, SixteenBitInputIsTheFirstChannelTimesTheGain) {
    const ResamplerDesign* d = FindResamplerDesign(44100);
    const std::vector<std::int16_t> stereo = {1000, -5, -32768, 7, 32767, 0, 3, 3, -2, 9};
    std::vector<float> left;
    for (std::size_t f = 0; f < stereo.size(); f += 2) {
        left.push_back(static_cast<float>(stereo[f] * 4));
    }
    PolyphaseResampler a, b;
    a.Load(d->coefficients, d->upFactor, d->downFactor);
    b.Load(d->coefficients, d->upFactor, d->downFactor);
    std::vector<float> fromPcm, fromFloat;
    EXPECT_EQ(a.ProcessPcm16(stereo, 2, 4, fromPcm), b.Process(left, fromFloat));
    EXPECT_EQ(fromPcm, fromFloat);
}

}  // namespace
}  // namespace hushwell
