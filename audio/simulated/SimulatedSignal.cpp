#include "audio/simulated/SimulatedSignal.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "audio/MixFormat.h"

namespace hushwell {

namespace {

constexpr double kPcm16FullScale = 32767.0;
constexpr double kPcm16ReadScale = 32768.0;

}  // namespace

std::vector<std::uint8_t> MakeToneBytes(const WaveFormat& format, double frequencyHz,
                                        double amplitude, std::uint32_t frames) {
    MixSampleType type;
    if (!MixSampleTypeOf(format, type) || format.channels == 0 || format.sampleRate == 0) {
        return {};
    }
    std::vector<std::uint8_t> bytes(static_cast<std::size_t>(frames) * format.blockAlign);
    const double step = 2.0 * std::numbers::pi * frequencyHz / format.sampleRate;
    std::uint8_t* out = bytes.data();
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        const double value = amplitude * std::sin(step * frame);
        for (std::uint16_t channel = 0; channel < format.channels; ++channel) {
            if (type == MixSampleType::Float32) {
                const float sample = static_cast<float>(value);
                std::memcpy(out, &sample, sizeof sample);
                out += sizeof sample;
            } else {
                const auto sample = static_cast<std::int16_t>(std::lround(value * kPcm16FullScale));
                std::memcpy(out, &sample, sizeof sample);
                out += sizeof sample;
            }
        }
    }
    return bytes;
}

float SampleAt(const WaveFormat& format, const std::uint8_t* bytes, std::size_t size,
               std::size_t frame, std::uint16_t channel) {
    MixSampleType type;
    if (!MixSampleTypeOf(format, type) || channel >= format.channels) {
        return 0.0f;
    }
    const std::size_t bytesPerSample = format.bitsPerSample / 8;
    const std::size_t offset = frame * format.blockAlign + channel * bytesPerSample;
    if (bytes == nullptr || offset + bytesPerSample > size) {
        return 0.0f;
    }
    if (type == MixSampleType::Float32) {
        float sample;
        std::memcpy(&sample, bytes + offset, sizeof sample);
        return sample;
    }
    std::int16_t sample;
    std::memcpy(&sample, bytes + offset, sizeof sample);
    return static_cast<float>(sample / kPcm16ReadScale);
}

}  // namespace hushwell
