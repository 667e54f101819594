#include "detection/LevelMeter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace hushwell {
namespace {

TEST(LevelMeterTest, SmoothingFactorsOfTheSupportedRates) {
    EXPECT_NEAR(LevelMeter::SmoothingFactor(16000), 0.375f, 1e-4);
    EXPECT_NEAR(LevelMeter::SmoothingFactor(22050), 0.5455f, 1e-4);
    EXPECT_NEAR(LevelMeter::SmoothingFactor(32000), 0.6875f, 1e-4);
    EXPECT_NEAR(LevelMeter::SmoothingFactor(44100), 0.7727f, 1e-4);
    EXPECT_NEAR(LevelMeter::SmoothingFactor(48000), 0.7917f, 1e-4);
    EXPECT_NEAR(LevelMeter::SmoothingFactor(96000), 0.8958f, 1e-4);
    EXPECT_NEAR(LevelMeter::SmoothingFactor(192000), 0.9479f, 1e-4);
}

TEST(LevelMeterTest, LowAndInvalidRatesDoNotProduceAnUnstableFactor) {
    for (int rate : {-48000, 0, 999, 8000, 10999}) {
        EXPECT_EQ(LevelMeter::SmoothingFactor(rate), 0.0f) << rate;
    }
    LevelMeter meter;
    std::vector<std::int16_t> block = {1000, -2000, 3000};
    meter.Update(8000, 1, block);
    EXPECT_EQ(meter.Level(), 3000.0f);  // follows the magnitude directly
}

TEST(LevelMeterTest, FollowsTheFirstChannelMagnitudeOnly) {
    LevelMeter meter;
    // Stereo: the second channel is loud but must not count.
    std::vector<std::int16_t> block;
    for (int i = 0; i < 480; ++i) {
        block.push_back(-16000);
        block.push_back(32767);
    }
    EXPECT_TRUE(meter.Update(48000, 2, block));
    EXPECT_NEAR(meter.Level(), 16000.0f, 1.0f);
    EXPECT_NEAR(meter.Factor(), 0.7917f, 1e-4);
    EXPECT_TRUE(meter.Exceeds(48));   // 15728.64
    EXPECT_FALSE(meter.Exceeds(49));  // 16056.32
}

TEST(LevelMeterTest, OneSampleStepIsTheFormula) {
    LevelMeter meter;
    std::vector<std::int16_t> one = {-1000};
    meter.Update(16000, 1, one);
    EXPECT_FLOAT_EQ(meter.Level(), 1000.0f * (1.0f - 0.375f));
    std::vector<std::int16_t> zero = {0};
    EXPECT_FALSE(meter.Update(16000, 1, zero));
    EXPECT_FLOAT_EQ(meter.Level(), 0.375f * 625.0f);
}

TEST(LevelMeterTest, LevelPersistsAcrossBlocksAndDecaysInSilence) {
    LevelMeter meter;
    std::vector<std::int16_t> loud(441, 20000);
    meter.Update(44100, 1, loud);
    EXPECT_NEAR(meter.Level(), 20000.0f, 1.0f);
    std::vector<std::int16_t> silence(4, 0);
    EXPECT_FALSE(meter.Update(44100, 1, silence));
    EXPECT_LT(meter.Level(), 20000.0f * 0.36f);
    EXPECT_GT(meter.Level(), 0.0f);
    // Long silence brings the level to exactly 0 at every rate (the smoothing alone would
    // get stuck at the smallest denormal), so a 0 % trigger lets go.
    for (int rate : {22050, 44100, 48000, 96000, 192000}) {
        std::vector<std::int16_t> longSilence(static_cast<std::size_t>(rate / 10), 0);
        meter.Update(rate, 1, loud);
        meter.Update(rate, 1, longSilence);
        EXPECT_EQ(meter.Level(), 0.0f) << rate;
        EXPECT_FALSE(meter.Exceeds(0)) << rate;
    }
}

TEST(LevelMeterTest, PercentageLimits) {
    LevelMeter meter;
    std::vector<std::int16_t> fullScale(1000, -32768);
    meter.Update(16000, 1, fullScale);
    EXPECT_FLOAT_EQ(meter.Level(), 32768.0f);
    EXPECT_FALSE(meter.Exceeds(100));  // full scale can never be exceeded
    EXPECT_TRUE(meter.Exceeds(99));

    LevelMeter quiet;
    std::vector<std::int16_t> tiny = {0, 0, 1};
    quiet.Update(16000, 1, tiny);
    EXPECT_TRUE(quiet.Exceeds(0));  // any sound exceeds 0 %
}

TEST(LevelMeterTest, PartialFramesAndBadChannelCountsAreIgnored) {
    LevelMeter meter;
    std::vector<std::int16_t> block = {0, 0, 0, 0, 5000};  // two stereo frames and a stray sample
    EXPECT_FALSE(meter.Update(48000, 2, block));
    EXPECT_EQ(meter.Level(), 0.0f);
    EXPECT_FALSE(meter.Update(48000, 0, block));
    EXPECT_EQ(meter.Level(), 0.0f);
}

}  // namespace
}  // namespace hushwell
