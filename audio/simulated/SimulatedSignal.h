#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "wav/WaveFormat.h"

namespace hushwell {

// Test and demo audio in a mix format (16-bit or float, any channel count): a sine tone of
// the given peak amplitude (0..1 of full scale) on every channel, starting at phase 0.
// Any thread.
std::vector<std::uint8_t> MakeToneBytes(const WaveFormat& format, double frequencyHz,
                                        double amplitude, std::uint32_t frames);

// One sample of interleaved mix-format bytes as a float of full scale 1.0 (16-bit samples are
// divided by 32768). Reading beyond the bytes gives 0.
float SampleAt(const WaveFormat& format, const std::uint8_t* bytes, std::size_t size,
               std::size_t frame, std::uint16_t channel);

}  // namespace hushwell
