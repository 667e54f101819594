#include "analysis/LevelMeter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace hushwell {
namespace {

using Block = std::vector<std::int16_t>;

TEST(LevelMeterTest, SmoothingFactorsPerRate) {
    const std::pair<int, float> figures[] = {{16000, 0.375f},  {22050, 0.5455f}, {44100, 0.7727f},
                                             {48000, 0.7917f}, {96000, 0.8958f}, {192000, 0.9479f}};
    for (const auto& [rate, factor] : figures) {
        EXPECT_NEAR(LevelMeter::SmoothingFactor(rate), factor, 1e-4) << rate;
    }
    // Rates the formula cannot serve (division by zero, factor 0 or below) follow directly.
    for (int rate : {-48000, 0, 999, 8000, 10999}) {
        EXPECT_EQ(LevelMeter::SmoothingFactor(rate), 0.0f) << rate;
    }
    LevelMeter meter;
    meter.Update(8000, 1, Block{1000, -2000, 3000});
    EXPECT_EQ(meter.Level(), 3000.0f);
}

TEST(LevelMeterTest, FollowsTheFirstChannelOfWholeFrames) {
    LevelMeter meter;
    EXPECT_FALSE(meter.Update(48000, 2, Block{0, 9000, 0, 9000, 5000}));  // stray last sample
    EXPECT_EQ(meter.Level(), 0.0f);
    EXPECT_TRUE(meter.Update(16000, 1, Block{-1000}));
    EXPECT_FLOAT_EQ(meter.Level(), 1000.0f * (1.0f - meter.Factor()));

    Block stereo;
    for (int i = 0; i < 480; ++i) {
        stereo.insert(stereo.end(), {-16000, 32767});
    }
    meter.Update(48000, 2, stereo);
    EXPECT_NEAR(meter.Level(), 16000.0f, 1.0f);
    EXPECT_TRUE(meter.Exceeds(48));   // 15728.64
    EXPECT_FALSE(meter.Exceeds(49));  // 16056.32
}

TEST(LevelMeterTest, PercentageLimitsAndSilence) {
    LevelMeter meter;
    meter.Update(16000, 1, Block(1000, -32768));
    EXPECT_FLOAT_EQ(meter.Level(), 32768.0f);
    EXPECT_FALSE(meter.Exceeds(100));  // full scale is never exceeded
    EXPECT_TRUE(meter.Exceeds(99));
    // Silence brings the level to exactly 0 at every rate (the smoothing alone would stick
    // at the smallest denormal), so a 0 % trigger lets go; any sound exceeds 0 % again.
    for (int rate : {22050, 44100, 48000, 96000, 192000}) {
        meter.Update(rate, 1, Block(500, 20000));
        EXPECT_FALSE(meter.Update(rate, 1, Block(static_cast<std::size_t>(rate / 10), 0)));
        EXPECT_EQ(meter.Level(), 0.0f) << rate;
        EXPECT_FALSE(meter.Exceeds(0)) << rate;
        meter.Update(rate, 1, Block{1});
        EXPECT_TRUE(meter.Exceeds(0)) << rate;
    }
}

}  // namespace
}  // namespace hushwell
