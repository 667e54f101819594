#include "audio/MixFormat.h"

#include <algorithm>
#include <array>

#include "wav/SampleFormatRule.h"

namespace hushwell {

namespace {

constexpr std::uint16_t kMaxMixChannels = 6;
constexpr std::array<std::uint32_t, 7> kMixRates = {16000, 22050, 32000, 44100,
                                                    48000, 96000, 192000};
// Speaker masks for 1..8 channels: FC; FL FR; FL FR LFE; FL FR BL BR; FL FR LFE BL BR;
// FL FR FC LFE BL BR; FL FR FC LFE BC SL SR; FL FR FC LFE BL BR SL SR.
constexpr std::array<std::uint32_t, 9> kChannelMasks = {0,    0x4,  0x3,   0xB,  0x33,
                                                        0x3B, 0x3F, 0x70F, 0x63F};

}  // namespace

std::uint32_t DefaultChannelMask(std::uint16_t channels) {
    return channels < kChannelMasks.size() ? kChannelMasks[channels] : 0;
}

WaveFormat MakeMixFormat(MixSampleType type, std::uint32_t sampleRate, std::uint16_t channels,
                         std::uint32_t channelMask) {
    const bool isFloat = type == MixSampleType::Float32;
    WaveFormat format;
    format.channels = channels;
    format.sampleRate = sampleRate;
    format.bitsPerSample = isFloat ? 32 : 16;
    format.blockAlign = static_cast<std::uint16_t>(channels * (format.bitsPerSample / 8));
    format.byteRate = sampleRate * format.blockAlign;
    if (channels <= 2) {
        format.formatTag = isFloat ? kWaveTagIeeeFloat : kWaveTagPcm;
        return format;
    }
    format.formatTag = kWaveTagExtensible;
    format.cbSize = static_cast<std::uint16_t>(kWaveFormatExtensionSize);
    format.validBitsPerSample = format.bitsPerSample;
    format.channelMask = channelMask != 0 ? channelMask : DefaultChannelMask(channels);
    format.subFormat = isFloat ? kSubFormatIeeeFloat : kSubFormatPcm;
    return format;
}

bool MixSampleTypeOf(const WaveFormat& format, MixSampleType& type) {
    // The program's one rule for sample formats, narrowed to the two the live path carries.
    switch (AcceptedSampleKind(format)) {
        case SampleKind::Pcm16:
            type = MixSampleType::Pcm16;
            return true;
        case SampleKind::IeeeFloat:
            type = MixSampleType::Float32;
            return true;
        default:
            return false;
    }
}

bool IsSupportedMixFormat(const WaveFormat& format) {
    MixSampleType type;
    if (!MixSampleTypeOf(format, type)) {
        return false;
    }
    if (format.channels < 1 || format.channels > kMaxMixChannels) {
        return false;
    }
    if (std::find(kMixRates.begin(), kMixRates.end(), format.sampleRate) == kMixRates.end()) {
        return false;
    }
    return format.blockAlign == format.channels * (format.bitsPerSample / 8) &&
           format.byteRate == format.sampleRate * format.blockAlign;
}

}  // namespace hushwell
