#pragma once

#include <cstdint>

#include "wav/WaveFormat.h"

namespace hushwell {

// The two sample types the audio layer delivers.
enum class MixSampleType { Pcm16, Float32 };

// Builds the format record of a stream: tag 1 (16-bit) or 3 (float) for one or two channels,
// the extensible tag with the matching sub-format, valid bits and a channel mask for more
// (channelMask 0 takes the usual speaker layout for that count). Any thread.
WaveFormat MakeMixFormat(MixSampleType type, std::uint32_t sampleRate, std::uint16_t channels,
                         std::uint32_t channelMask = 0);

// The usual speaker mask for 1 to 8 channels (mono, stereo, 2.1, quad, 4.1, 5.1, 6.1, 7.1).
std::uint32_t DefaultChannelMask(std::uint16_t channels);

// The sample type a format record carries, if it is one the layer delivers: the program's
// sample-format rule narrowed to 16-bit integers and 32-bit floats.
bool MixSampleTypeOf(const WaveFormat& format, MixSampleType& type);

// True for the formats the layer's backends can run: 16-bit or float, 1 to 6 channels, and a
// rate of 16000, 22050, 32000, 44100, 48000, 96000 or 192000 Hz, with consistent sizes.
bool IsSupportedMixFormat(const WaveFormat& format);

}  // namespace hushwell
