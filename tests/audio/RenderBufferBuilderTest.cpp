#include "audio/RenderBufferBuilder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "audio/MixFormat.h"
#include "audio/RenderBuffer.h"
#include "tests/audio/RenderTestSupport.h"

namespace hushwell {
namespace {

using test::AsFloats;
using test::AsPcm16;

const WaveFormat kFloatStereo = MakeMixFormat(MixSampleType::Float32, 48000, 2);
const WaveFormat kPcm16Mono = MakeMixFormat(MixSampleType::Pcm16, 48000, 1);

// Every byte of a list, in order, and the number of nodes.
std::vector<std::uint8_t> Concatenate(const RenderBuffer* node, std::size_t& nodes) {
    std::vector<std::uint8_t> bytes;
    nodes = 0;
    for (; node != nullptr; node = node->next.get()) {
        bytes.insert(bytes.end(), node->Bytes(), node->Bytes() + node->ByteLength());
        ++nodes;
    }
    return bytes;
}

std::vector<std::uint8_t> BuildAll(const WaveData& sound, const WaveFormat& mix,
                                   std::uint32_t framesPerBuffer = 480) {
    RenderBufferBuilder builder(sound, mix);
    EXPECT_TRUE(builder.Usable());
    std::uint32_t buffers = 0;
    auto list = builder.Build(0, builder.SoundFrames(), framesPerBuffer, buffers);
    std::size_t nodes = 0;
    auto bytes = Concatenate(list.get(), nodes);
    EXPECT_EQ(nodes, buffers);
    return bytes;
}

TEST(RenderBufferBuilderTest, Pcm16MonoPlaysOnTheFirstChannelOfAFloatOutput) {
    std::vector<std::int16_t> samples(1000);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(i * 97 - 32768);
    }
    samples[0] = -32768;
    samples[1] = 32767;
    const auto sound = test::Pcm16Sound(48000, 1, samples);
    RenderBufferBuilder builder(*sound, kFloatStereo);
    std::uint32_t buffers = 0;
    // 1000 frames in buffers of 480: three buffers, the last one 440 frames of silence.
    auto list = builder.Build(0, 1000, 480, buffers);
    std::size_t nodes = 0;
    const auto out = AsFloats(Concatenate(list.get(), nodes));
    ASSERT_EQ(buffers, 3u);
    ASSERT_EQ(out.size(), 3u * 480 * 2);
    EXPECT_EQ(out[0], -1.0f);  // -32768 / 32767 is below -1
    EXPECT_EQ(out[2], 1.0f);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        ASSERT_EQ(out[2 * i], std::max(static_cast<float>(samples[i] / 32767.0), -1.0f)) << i;
        ASSERT_EQ(out[2 * i + 1], 0.0f) << i;
    }
    for (std::size_t i = 2 * samples.size(); i < out.size(); ++i) {
        ASSERT_EQ(out[i], 0.0f) << i;
    }
}

TEST(RenderBufferBuilderTest, FloatToPcm16ClampsTruncatesAndTakesTheFirstChannel) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // Stereo frames; only the left samples reach the mono output.
    const auto sound = test::FloatSound(
        48000, 2, {1.5f, 9.0f, -1.5f, 9.0f, -0.5f, 9.0f, 0.25f, 9.0f, nan, 9.0f, 1.0f, 9.0f});
    const auto out = AsPcm16(BuildAll(*sound, kPcm16Mono, 6));
    EXPECT_EQ(out, (std::vector<std::int16_t>{32767, -32767, -16383, 8191, 0, 32767}));
}

TEST(RenderBufferBuilderTest, Pcm32KeepsItsScaleOnBothOutputs) {
    const auto sound = test::Pcm32Sound(
        48000, 1, {std::numeric_limits<std::int32_t>::min(), 0x40000000, -65536, 0x7FFF0000, -1});
    EXPECT_EQ(AsPcm16(BuildAll(*sound, kPcm16Mono, 5)),
              (std::vector<std::int16_t>{-32768, 16384, -1, 32767, -1}));
    const auto floats = AsFloats(BuildAll(*sound, kFloatStereo, 5));
    EXPECT_EQ(floats[0], -1.0f);
    EXPECT_FLOAT_EQ(floats[2], 0.5f);
    EXPECT_EQ(floats[3], 0.0f);
}

TEST(RenderBufferBuilderTest, SameKindIsCopiedAndExtraChannelsAreSilent) {
    const std::vector<float> stereo{0.1f, -0.2f, 1.5f, -3.0f};
    const auto floats = AsFloats(BuildAll(*test::FloatSound(48000, 2, stereo),
                                          MakeMixFormat(MixSampleType::Float32, 48000, 4), 2));
    EXPECT_EQ(floats, (std::vector<float>{0.1f, -0.2f, 0, 0, 1.5f, -3.0f, 0, 0}));
    const std::vector<std::int16_t> pcm{-32768, 32767, 5, -5};
    EXPECT_EQ(AsPcm16(BuildAll(*test::Pcm16Sound(48000, 1, pcm), kPcm16Mono, 4)), pcm);
}

TEST(RenderBufferBuilderTest, ASoundAtAnotherRateKeepsItsSpeed) {
    // 24 kHz on a 48 kHz output: twice the frames, the new ones halfway between neighbours.
    const auto sound = test::Pcm16Sound(24000, 1, {0, 1000, 3000, -3000});
    RenderBufferBuilder builder(*sound, kPcm16Mono);
    EXPECT_EQ(builder.MixFramesFor(4), 8u);
    EXPECT_EQ(builder.SoundFramesFor(5), 2u);
    EXPECT_EQ(AsPcm16(BuildAll(*sound, kPcm16Mono, 8)),
              (std::vector<std::int16_t>{0, 500, 1000, 2000, 3000, 0, -3000, -3000}));
    // 44.1 kHz: a second of sound is a second of output.
    const auto cd = test::Pcm16Sound(44100, 1, std::vector<std::int16_t>(44100));
    EXPECT_EQ(RenderBufferBuilder(*cd, kPcm16Mono).MixFramesFor(44100), 48000u);
}

TEST(RenderBufferBuilderTest, RefusesWhatItCannotConvert) {
    // 24-bit samples, and a sound claiming samples it does not hold.
    auto pcm24 = test::MakeSound(kWaveTagPcm, 24, 48000, 1);
    pcm24->SetSamples32({1, 2, 3});
    EXPECT_FALSE(RenderBufferBuilder(*pcm24, kFloatStereo).Usable());
    auto empty = test::MakeSound(kWaveTagPcm, 16, 48000, 2);
    empty->SetSampleCount(1000000);
    EXPECT_FALSE(RenderBufferBuilder(*empty, kFloatStereo).Usable());
    // Output formats other than 16-bit integer and 32-bit float.
    const auto sound = test::Pcm16Sound(48000, 1, {1, 2, 3});
    WaveFormat pcm24Out = kPcm16Mono;
    pcm24Out.bitsPerSample = 24;
    pcm24Out.blockAlign = 3;
    EXPECT_FALSE(RenderBufferBuilder(*sound, pcm24Out).Usable());
    WaveFormat badAlign = kFloatStereo;
    badAlign.blockAlign = 4;
    EXPECT_FALSE(RenderBufferBuilder(*sound, badAlign).Usable());
    // Empty ranges and buffers; a range running past the end is cut.
    RenderBufferBuilder builder(*sound, kPcm16Mono);
    std::uint32_t buffers = 7;
    EXPECT_EQ(builder.Build(3, 1, 480, buffers), nullptr);
    EXPECT_EQ(buffers, 0u);
    EXPECT_EQ(builder.Build(0, 3, 0, buffers), nullptr);
    EXPECT_NE(builder.Build(2, 100, 1, buffers), nullptr);
    EXPECT_EQ(buffers, 1u);
}

TEST(RenderBufferBuilderTest, ALongListIsFreedWithoutRecursion) {
    std::unique_ptr<RenderBuffer> list;
    for (int i = 0; i < 1000000; ++i) {
        auto node = RenderBuffer::Allocate(0);
        ASSERT_NE(node, nullptr);
        node->next = std::move(list);
        list = std::move(node);
    }
    list.reset();  // a recursive destructor would overflow the stack here
    SUCCEED();
}

}  // namespace
}  // namespace hushwell
