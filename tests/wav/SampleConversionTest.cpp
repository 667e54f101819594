#include "wav/SampleConversion.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <limits>
#include <vector>

#include "wav/WaveData.h"

namespace hushwell {
namespace {

std::vector<std::int16_t> Held(const WaveData& wave) {
    return {wave.Samples16().begin(), wave.Samples16().end()};
}

TEST(SampleConversionTest, ScaledFloatAddsHalfTruncatesAndSaturates) {
    struct Case {
        float scaled;
        std::int16_t expected;
    };
    const Case cases[] = {
        {0.0f, 0},
        {0.5f, 1},
        {-0.5f, 0},
        {-2.5f, -2},
        {32767.4f, 32767},
        {-32768.0f, -32767},
        {-32769.0f, -32768},
        {-40000.0f, -32768},
        {std::numeric_limits<float>::infinity(), 32767},
        {-std::numeric_limits<float>::infinity(), -32768},
        {std::numeric_limits<float>::quiet_NaN(), 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ScaledFloatToPcm16(c.scaled), c.expected) << c.scaled;
    }
}

TEST(SampleConversionTest, FullScaleFloatAndInt32) {
    EXPECT_EQ(FloatSampleToPcm16(0.5f), 16384);  // 16383.5 rounds up
    // Negative samples truncate toward zero after adding 0.5, so -1.0 lands one step short.
    EXPECT_EQ(FloatSampleToPcm16(-1.0f), -32766);
    EXPECT_EQ(FloatSampleToPcm16(1.5f), 32767);    // clipped, not wrapped negative
    EXPECT_EQ(FloatSampleToPcm16(-1.5f), -32768);  // clipped, not wrapped positive
    // 32-bit integers keep their high sixteen bits.
    EXPECT_EQ(Int32SampleToPcm16(std::numeric_limits<std::int32_t>::min()), -32768);
    EXPECT_EQ(Int32SampleToPcm16(0x0000FFFF), 0);
    EXPECT_EQ(Int32SampleToPcm16(-0x00010001), -2);
}

TEST(SampleConversionTest, SoundsOfEachWidthBecomePcm16) {
    WaveData pcm;
    pcm.SetSamples16({1, -2, 3});
    EXPECT_EQ(SoundSamplesToPcm16(pcm), (std::vector<std::int16_t>{1, -2, 3}));

    WaveData floats;
    floats.Format().formatTag = kWaveTagIeeeFloat;
    floats.Format().bitsPerSample = 32;
    ASSERT_TRUE(floats.ClassifySampleKind());
    floats.SetSamples32({std::bit_cast<std::uint32_t>(0.5f), std::bit_cast<std::uint32_t>(-2.0f),
                         std::bit_cast<std::uint32_t>(0.0f)});
    EXPECT_EQ(SoundSamplesToPcm16(floats), (std::vector<std::int16_t>{16384, -32768, 0}));

    WaveData ints;
    ints.Format().formatTag = kWaveTagPcm;
    ints.Format().bitsPerSample = 32;
    ints.ClassifySampleKind();
    ints.SetSamples32({0x7FFF0000u, 0x80000000u, 0xFFFFFFFFu});
    EXPECT_EQ(SoundSamplesToPcm16(ints), (std::vector<std::int16_t>{32767, -32768, -1}));

    EXPECT_TRUE(SoundSamplesToPcm16(WaveData{}).empty());
}

TEST(WaveDataAssignTest, BuildsA16BitPcmRecordAndScaledFloatsSaturate) {
    WaveData wave;
    const std::vector<std::int16_t> samples{1, 2, 3, 4, 5, 6};
    wave.AssignPcm16(44100, 2, 3, samples);
    EXPECT_EQ(wave.Format(), (WaveFormat{.formatTag = kWaveTagPcm,
                                         .channels = 2,
                                         .sampleRate = 44100,
                                         .byteRate = 176400,
                                         .blockAlign = 4,
                                         .bitsPerSample = 16}));
    EXPECT_EQ(Held(wave), samples);
    // Only the first channels x frames values are taken.
    wave.AssignPcm16(16000, 1, 2, samples);
    EXPECT_EQ(Held(wave), (std::vector<std::int16_t>{1, 2}));

    const std::vector<float> scaled{32767.4f, -1.6f, 40000.0f, -40000.0f};
    wave.AssignScaledFloat(48000, 2, 2, scaled);
    EXPECT_EQ(Held(wave), (std::vector<std::int16_t>{32767, -1, 32767, -32768}));
}

TEST(WaveDataAssignTest, RefusedArgumentsLeaveTheContents) {
    WaveData wave;
    const std::vector<std::int16_t> kept{9, 9};
    wave.AssignPcm16(16000, 2, 1, kept);
    const std::vector<std::int16_t> six(6, 1);

    wave.AssignPcm16(48000, 3, 2, six);  // more than two channels cannot be held
    wave.AssignPcm16(-1, 2, 1, six);
    wave.AssignPcm16(48000, -1, -6, six);
    wave.AssignPcm16(48000, 2, 4, six);  // fewer samples than claimed
    wave.AssignPcm16(48000, 2, 0, {});   // no samples given
    EXPECT_EQ(Held(wave), kept);
    EXPECT_EQ(wave.Format().sampleRate, 16000u);

    // An empty block clears the record.
    wave.AssignPcm16(48000, 2, 0, kept);
    EXPECT_EQ(wave.Format(), WaveFormat{});
    EXPECT_TRUE(wave.SampleBytes().empty());
    EXPECT_EQ(wave.Kind(), SampleKind::Unsupported);
}

}  // namespace
}  // namespace hushwell
