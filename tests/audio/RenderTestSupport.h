#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "wav/WaveData.h"
#include "wav/WaveFormat.h"

namespace hushwell::test {

// A sound as the editor holds it: 16-bit samples, or 32-bit words (integer or float bits).
inline std::shared_ptr<WaveData> MakeSound(std::uint16_t tag, std::uint16_t bits,
                                           std::uint32_t rate, std::uint16_t channels) {
    auto sound = std::make_shared<WaveData>();
    WaveFormat& format = sound->Format();
    format.formatTag = tag;
    format.channels = channels;
    format.sampleRate = rate;
    format.bitsPerSample = bits;
    format.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    format.byteRate = rate * format.blockAlign;
    sound->ClassifySampleKind();
    return sound;
}

inline std::shared_ptr<WaveData> Pcm16Sound(std::uint32_t rate, std::uint16_t channels,
                                            std::vector<std::int16_t> samples) {
    auto sound = MakeSound(kWaveTagPcm, 16, rate, channels);
    sound->SetSamples16(std::move(samples));
    return sound;
}

inline std::shared_ptr<WaveData> FloatSound(std::uint32_t rate, std::uint16_t channels,
                                            const std::vector<float>& samples) {
    auto sound = MakeSound(kWaveTagIeeeFloat, 32, rate, channels);
    std::vector<std::uint32_t> words(samples.size());
    std::memcpy(words.data(), samples.data(), samples.size() * sizeof(float));
    sound->SetSamples32(std::move(words));
    return sound;
}

inline std::shared_ptr<WaveData> Pcm32Sound(std::uint32_t rate, std::uint16_t channels,
                                            const std::vector<std::int32_t> samples) {
    auto sound = MakeSound(kWaveTagPcm, 32, rate, channels);
    sound->SetSamples32(std::vector<std::uint32_t>(samples.begin(), samples.end()));
    return sound;
}

// Interleaved samples of rendered bytes.
inline std::vector<float> AsFloats(const std::vector<std::uint8_t>& bytes) {
    std::vector<float> samples(bytes.size() / sizeof(float));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(float));
    return samples;
}

inline std::vector<std::int16_t> AsPcm16(const std::vector<std::uint8_t>& bytes) {
    std::vector<std::int16_t> samples(bytes.size() / sizeof(std::int16_t));
    std::memcpy(samples.data(), bytes.data(), samples.size() * sizeof(std::int16_t));
    return samples;
}

}  // namespace hushwell::test
