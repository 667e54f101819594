#include "audio/pulse/PulseFormat.h"

#include <algorithm>
#include <array>
#include <utility>
#include <vector>

#include "audio/MixFormat.h"

namespace hushwell {

namespace {

constexpr std::uint8_t kMaxStreamChannels = 6;
constexpr std::uint32_t kFallbackRate = 48000;
constexpr std::array<std::uint32_t, 7> kSupportedRates = {16000, 22050, 32000, 44100,
                                                          48000, 96000, 192000};

// The wave speaker bit of a server channel position, 0 when it has none.
std::uint32_t SpeakerBit(pa_channel_position_t position) {
    switch (position) {
        case PA_CHANNEL_POSITION_MONO:
        case PA_CHANNEL_POSITION_FRONT_CENTER:
            return 0x4;
        case PA_CHANNEL_POSITION_FRONT_LEFT:
            return 0x1;
        case PA_CHANNEL_POSITION_FRONT_RIGHT:
            return 0x2;
        case PA_CHANNEL_POSITION_LFE:
            return 0x8;
        case PA_CHANNEL_POSITION_REAR_LEFT:
            return 0x10;
        case PA_CHANNEL_POSITION_REAR_RIGHT:
            return 0x20;
        case PA_CHANNEL_POSITION_FRONT_LEFT_OF_CENTER:
            return 0x40;
        case PA_CHANNEL_POSITION_FRONT_RIGHT_OF_CENTER:
            return 0x80;
        case PA_CHANNEL_POSITION_REAR_CENTER:
            return 0x100;
        case PA_CHANNEL_POSITION_SIDE_LEFT:
            return 0x200;
        case PA_CHANNEL_POSITION_SIDE_RIGHT:
            return 0x400;
        case PA_CHANNEL_POSITION_TOP_CENTER:
            return 0x800;
        case PA_CHANNEL_POSITION_TOP_FRONT_LEFT:
            return 0x1000;
        case PA_CHANNEL_POSITION_TOP_FRONT_CENTER:
            return 0x2000;
        case PA_CHANNEL_POSITION_TOP_FRONT_RIGHT:
            return 0x4000;
        case PA_CHANNEL_POSITION_TOP_REAR_LEFT:
            return 0x8000;
        case PA_CHANNEL_POSITION_TOP_REAR_CENTER:
            return 0x10000;
        case PA_CHANNEL_POSITION_TOP_REAR_RIGHT:
            return 0x20000;
        default:
            return 0;
    }
}

// The sink's positions sorted into wave order with their mask; false when a position has no
// wave speaker or appears twice.
bool WaveOrderedMap(const pa_channel_map& sinkMap, pa_channel_map& map, std::uint32_t& mask) {
    std::vector<std::pair<std::uint32_t, pa_channel_position_t>> speakers;
    mask = 0;
    for (std::uint8_t i = 0; i < sinkMap.channels; ++i) {
        const std::uint32_t bit = SpeakerBit(sinkMap.map[i]);
        if (bit == 0 || (mask & bit) != 0) {
            return false;
        }
        mask |= bit;
        speakers.emplace_back(bit, sinkMap.map[i]);
    }
    std::sort(speakers.begin(), speakers.end());
    map.channels = sinkMap.channels;
    for (std::size_t i = 0; i < speakers.size(); ++i) {
        map.map[i] = speakers[i].second;
    }
    return true;
}

// The channel map of the usual speaker layout for a count, in wave order.
pa_channel_map UsualMap(std::uint8_t channels) {
    pa_channel_map map;
    pa_channel_map_init(&map);
    if (channels == 1) {
        pa_channel_map_init_mono(&map);
        return map;
    }
    const std::uint32_t mask = DefaultChannelMask(channels);
    for (int position = 0; position < PA_CHANNEL_POSITION_MAX; ++position) {
        const auto candidate = static_cast<pa_channel_position_t>(position);
        const std::uint32_t bit = SpeakerBit(candidate);
        if (candidate != PA_CHANNEL_POSITION_MONO && (mask & bit) != 0) {
            map.map[map.channels++] = candidate;
        }
    }
    // Positions are listed in wave order when sorted by their bit.
    std::sort(map.map, map.map + map.channels,
              [](auto a, auto b) { return SpeakerBit(a) < SpeakerBit(b); });
    return map;
}

}  // namespace

PulseStreamFormat ChooseStreamFormat(const pa_sample_spec& sinkSpec,
                                     const pa_channel_map& sinkMap) {
    PulseStreamFormat chosen;
    const bool pcm16 = sinkSpec.format == PA_SAMPLE_S16LE || sinkSpec.format == PA_SAMPLE_S16BE;
    chosen.sampleSpec.format = pcm16 ? PA_SAMPLE_S16LE : PA_SAMPLE_FLOAT32LE;
    const bool rateSupported = std::find(kSupportedRates.begin(), kSupportedRates.end(),
                                         sinkSpec.rate) != kSupportedRates.end();
    chosen.sampleSpec.rate = rateSupported ? sinkSpec.rate : kFallbackRate;

    std::uint32_t mask = 0;
    const bool mapUsable = sinkMap.channels == sinkSpec.channels && sinkSpec.channels >= 1 &&
                           sinkSpec.channels <= kMaxStreamChannels;
    if (mapUsable && sinkSpec.channels <= 2) {
        chosen.map = sinkMap;  // mono or a pair: the basic format has no speaker mask
    } else if (!mapUsable || !WaveOrderedMap(sinkMap, chosen.map, mask)) {
        const std::uint8_t channels =
            sinkSpec.channels >= 1 && sinkSpec.channels <= kMaxStreamChannels ? sinkSpec.channels
                                                                              : 2;
        chosen.map = UsualMap(channels);
        mask = 0;  // MakeMixFormat fills in the usual mask for the count
    }
    chosen.sampleSpec.channels = chosen.map.channels;
    chosen.format = MakeMixFormat(pcm16 ? MixSampleType::Pcm16 : MixSampleType::Float32,
                                  chosen.sampleSpec.rate, chosen.sampleSpec.channels, mask);
    return chosen;
}

}  // namespace hushwell
