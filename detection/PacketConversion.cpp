#include "detection/PacketConversion.h"

#include <cstring>
#include <vector>

#include "audio/MixFormat.h"

namespace hushwell {

namespace {

// Detection blocks carry one or two channels; AssignPcm16 and AssignScaledFloat take no more.
constexpr std::uint16_t kMaxBlockChannels = 2;
// Captured float samples are scaled to the 16-bit range before the saturating conversion.
constexpr float kFloatToPcm16Scale = 32767.0f;

}  // namespace

std::unique_ptr<WaveData> ConvertCapturePacket(std::span<const std::uint8_t> payload,
                                               const WaveFormat& format, bool silent) {
    MixSampleType samples;
    if (!MixSampleTypeOf(format, samples) || format.channels < 1 ||
        format.channels > kMaxBlockChannels) {
        return nullptr;
    }
    const std::size_t sampleBytes = samples == MixSampleType::Pcm16 ? 2 : 4;
    const std::size_t frameSize = sampleBytes * format.channels;
    const std::size_t frames = payload.size() / frameSize;
    const std::size_t count = frames * format.channels;
    if (frames == 0) {
        return nullptr;
    }
    const int rate = static_cast<int>(format.sampleRate);
    const int channels = format.channels;

    auto data = std::make_unique<WaveData>();
    if (samples == MixSampleType::Pcm16) {
        std::vector<std::int16_t> pcm(count);
        std::memcpy(pcm.data(), payload.data(), count * sampleBytes);
        data->AssignPcm16(rate, channels, static_cast<int>(frames), pcm);
    } else if (silent) {
        // Zero bytes are 0.0f, which converts to 0: nothing to scale or round.
        data->AssignPcm16(rate, channels, static_cast<int>(frames),
                          std::vector<std::int16_t>(count));
    } else {
        std::vector<float> scaled(count);
        std::memcpy(scaled.data(), payload.data(), count * sampleBytes);
        for (float& value : scaled) {
            value *= kFloatToPcm16Scale;
        }
        data->AssignScaledFloat(rate, channels, static_cast<int>(frames), scaled);
    }
    return data;
}

}  // namespace hushwell
