#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "wav/WaveData.h"

namespace hushwell {

// The program's conversions to signed 16-bit samples. Pure functions, any thread.
//
// Every float-to-16-bit conversion goes through ScaledFloatToPcm16, so loud input clips at
// full scale instead of wrapping around to a spike of the opposite sign.

// A float already multiplied by 32767: add 0.5, truncate toward zero, saturate to
// -32768..32767 (NaN gives 0). 32767.4 -> 32767, -1.6 -> -1, 40000.0 -> 32767.
std::int16_t ScaledFloatToPcm16(float scaled);

// A float sample in full-scale units (-1..1): multiplied by 32767, then ScaledFloatToPcm16.
// The live path converts captured float packets with this.
std::int16_t FloatSampleToPcm16(float sample);

// A 32-bit integer PCM sample: its high 16 bits.
std::int16_t Int32SampleToPcm16(std::int32_t sample);

// The samples of a sound as 16-bit PCM for the analyzer: 16-bit samples as they are; 32-bit
// samples as IEEE float (kind IeeeFloat) or as 32-bit integers (any other kind). Empty when
// the sound holds no samples of either width.
std::vector<std::int16_t> SoundSamplesToPcm16(const WaveData& sound);

}  // namespace hushwell
