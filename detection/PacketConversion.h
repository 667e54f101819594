#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "wav/WaveData.h"
#include "wav/WaveFormat.h"

namespace hushwell {

// Converts one captured packet in the given mix format to a 16-bit block for detection.
// 16-bit integer and 32-bit float samples (plain tags or the extensible tag with the matching
// sub-format) of one or two channels are taken; any other format, or a packet without a whole
// frame, gives null. `silent`: every byte of the packet is zero. Pure function; any thread.
std::unique_ptr<WaveData> ConvertCapturePacket(std::span<const std::uint8_t> payload,
                                               const WaveFormat& format, bool silent);

}  // namespace hushwell
