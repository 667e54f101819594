#pragma once

#include <cstdint>

#include "wav/WaveFormat.h"

namespace hushwell {

// How the samples of a format record are to be interpreted.
enum class SampleKind : std::int32_t {
    Unsupported = 0,
    Pcm16 = 1,      // 16-bit signed integer PCM
    Pcm32 = 2,      // 32-bit signed integer PCM
    IeeeFloat = 3,  // 32-bit IEEE float
};

// The one rule for which sample formats the program takes, for files and for live audio alike:
// integer PCM of 16 or 32 bits and IEEE float of 32 bits, under their own tags or under the
// extensible tag with the extension present and naming that sub-format. Everything else
// (compressed tags such as 0x55, an unknown sub-format, float of other widths) is refused.
// Places that take fewer kinds (the live path takes Pcm16 and IeeeFloat) narrow the answer.
//
// Pure functions, any thread.

// The kind of samples the format carries when it is one the program takes, else Unsupported.
SampleKind AcceptedSampleKind(const WaveFormat& format);

inline bool IsAcceptedSampleFormat(const WaveFormat& format) {
    return AcceptedSampleKind(format) != SampleKind::Unsupported;
}

}  // namespace hushwell
