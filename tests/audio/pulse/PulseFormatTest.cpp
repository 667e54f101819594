// The stream format the PulseAudio backend chooses for a sink (built only with libpulse).
#ifdef HUSHWELL_HAVE_PULSE

#include "audio/pulse/PulseFormat.h"

#include <gtest/gtest.h>

#include <initializer_list>

#include "audio/MixFormat.h"

namespace hushwell {
namespace {

pa_sample_spec SampleSpecOf(pa_sample_format_t format, std::uint32_t rate, std::uint8_t channels) {
    return pa_sample_spec{format, rate, channels};
}

pa_channel_map Map(std::initializer_list<pa_channel_position_t> positions) {
    pa_channel_map map;
    pa_channel_map_init(&map);
    for (pa_channel_position_t position : positions) {
        map.map[map.channels++] = position;
    }
    return map;
}

TEST(PulseFormatTest, SampleTypeAndRateAreOnesTheProgramTakes) {
    const pa_channel_map stereo =
        Map({PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT});
    auto pcm = ChooseStreamFormat(SampleSpecOf(PA_SAMPLE_S16LE, 44100, 2), stereo);
    EXPECT_EQ(pcm.format, MakeMixFormat(MixSampleType::Pcm16, 44100, 2));
    EXPECT_EQ(pcm.sampleSpec.format, PA_SAMPLE_S16LE);

    auto deep = ChooseStreamFormat(SampleSpecOf(PA_SAMPLE_S24LE, 88200, 2), stereo);
    EXPECT_EQ(deep.format, MakeMixFormat(MixSampleType::Float32, 48000, 2));
    EXPECT_EQ(deep.sampleSpec.format, PA_SAMPLE_FLOAT32LE);
    EXPECT_EQ(deep.sampleSpec.rate, 48000u);
    EXPECT_TRUE(IsSupportedMixFormat(deep.format));
}

TEST(PulseFormatTest, SurroundChannelsAreReorderedToMatchTheirSpeakerMask) {
    // The server's usual 5.1 order puts the centre and LFE last; the wave order does not.
    const pa_channel_map serverOrder =
        Map({PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT,
             PA_CHANNEL_POSITION_REAR_LEFT, PA_CHANNEL_POSITION_REAR_RIGHT,
             PA_CHANNEL_POSITION_FRONT_CENTER, PA_CHANNEL_POSITION_LFE});
    auto chosen = ChooseStreamFormat(SampleSpecOf(PA_SAMPLE_FLOAT32LE, 48000, 6), serverOrder);
    EXPECT_EQ(chosen.format.formatTag, kWaveTagExtensible);
    EXPECT_EQ(chosen.format.subFormat, kSubFormatIeeeFloat);
    EXPECT_EQ(chosen.format.channelMask, 0x3Fu);
    const pa_channel_map expected =
        Map({PA_CHANNEL_POSITION_FRONT_LEFT, PA_CHANNEL_POSITION_FRONT_RIGHT,
             PA_CHANNEL_POSITION_FRONT_CENTER, PA_CHANNEL_POSITION_LFE,
             PA_CHANNEL_POSITION_REAR_LEFT, PA_CHANNEL_POSITION_REAR_RIGHT});
    EXPECT_TRUE(pa_channel_map_equal(&chosen.map, &expected));
}

TEST(PulseFormatTest, UnusualLayoutsFallBackToTheUsualOnes) {
    // Channels without a speaker position get the usual layout for their count.
    auto aux = ChooseStreamFormat(SampleSpecOf(PA_SAMPLE_S16LE, 48000, 4),
                                  Map({PA_CHANNEL_POSITION_AUX0, PA_CHANNEL_POSITION_AUX1,
                                       PA_CHANNEL_POSITION_AUX2, PA_CHANNEL_POSITION_AUX3}));
    EXPECT_EQ(aux.format, MakeMixFormat(MixSampleType::Pcm16, 48000, 4));
    EXPECT_EQ(aux.sampleSpec.channels, 4);
    EXPECT_TRUE(pa_channel_map_valid(&aux.map));

    // More than six channels are mixed down to stereo by the server.
    pa_channel_map eight;
    pa_channel_map_init_auto(&eight, 8, PA_CHANNEL_MAP_DEFAULT);
    auto wide = ChooseStreamFormat(SampleSpecOf(PA_SAMPLE_FLOAT32LE, 48000, 8), eight);
    EXPECT_EQ(wide.format, MakeMixFormat(MixSampleType::Float32, 48000, 2));
    EXPECT_TRUE(pa_channel_map_compatible(&wide.map, &wide.sampleSpec));
}

}  // namespace
}  // namespace hushwell

#endif  // HUSHWELL_HAVE_PULSE
