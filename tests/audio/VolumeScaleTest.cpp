#include "audio/VolumeScale.h"

#include <gtest/gtest.h>

#include <cmath>

namespace hushwell {
namespace {

// The percentage pactl prints for a server volume.
unsigned PactlPercent(std::uint32_t volume) {
    return static_cast<unsigned>((static_cast<std::uint64_t>(volume) * 100 + kNormVolume / 2) /
                                 kNormVolume);
}

TEST(VolumeScaleTest, OnePercentStepsLandOnWholePercentsWithoutDrift) {
    // Down from 100 % and back up, always reading the level back as the volume manager does.
    std::uint32_t volume = kNormVolume;
    for (int percent = 99; percent >= 0; --percent) {
        volume = ScalarToVolume(VolumeToScalar(volume) - 0.01f);
        ASSERT_EQ(PactlPercent(volume), static_cast<unsigned>(percent));
        ASSERT_EQ(volume, (kNormVolume * static_cast<std::uint32_t>(percent) + 50) / 100);
    }
    for (int percent = 1; percent <= 100; ++percent) {
        volume = ScalarToVolume(VolumeToScalar(volume) + 0.01f);
        ASSERT_EQ(PactlPercent(volume), static_cast<unsigned>(percent));
    }
    EXPECT_EQ(volume, kNormVolume);
}

TEST(VolumeScaleTest, ScalarsAndVolumesOutOfRangeAreClamped) {
    EXPECT_FLOAT_EQ(VolumeToScalar(kNormVolume / 2), 0.5f);
    EXPECT_FLOAT_EQ(VolumeToScalar(kNormVolume * 3 / 2), 1.0f);  // boosted above 100 %
    EXPECT_EQ(ScalarToVolume(0.505f), static_cast<std::uint32_t>(std::lround(0.505 * kNormVolume)));
    EXPECT_EQ(ScalarToVolume(-0.2f), 0u);
    EXPECT_EQ(ScalarToVolume(std::nanf("")), 0u);
    EXPECT_EQ(ScalarToVolume(1.7f), kNormVolume);
}

}  // namespace
}  // namespace hushwell
