#include "audio/RenderBufferBuilder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#include "audio/MixFormat.h"
#include "audio/RenderBuffer.h"

namespace hushwell {

namespace {

constexpr double kPcm16FullScale = 32767.0;
constexpr double kPcm32FullScale = 2147483647.0;
constexpr double kPcm16Min = -32768.0;
constexpr double kPcm16Max = 32767.0;
// The high 16 bits of a 32-bit sample are the sample divided by this, rounded down.
constexpr double kPcm32ToPcm16Divisor = 65536.0;

std::int16_t ClampToPcm16(double value) {
    return static_cast<std::int16_t>(std::clamp(value, kPcm16Min, kPcm16Max));
}

// Samples of a kind the builder converts that the sound really holds.
std::uint32_t HeldSamples(const WaveData& sound) {
    switch (sound.Kind()) {
        case SampleKind::Pcm16:
            return static_cast<std::uint32_t>(sound.Samples16().size());
        case SampleKind::Pcm32:
        case SampleKind::IeeeFloat:
            return static_cast<std::uint32_t>(sound.Samples32().size());
        case SampleKind::Unsupported:
            break;
    }
    return 0;
}

}  // namespace

RenderBufferBuilder::RenderBufferBuilder(const WaveData& sound, const WaveFormat& mixFormat)
    : sound_(sound), mixFormat_(mixFormat) {
    const WaveFormat& format = sound.Format();
    soundChannels_ = format.channels;
    soundRate_ = format.sampleRate;
    switch (sound.Kind()) {
        case SampleKind::Pcm16:
            source_ = Source::Pcm16;
            break;
        case SampleKind::Pcm32:
            source_ = Source::Pcm32;
            break;
        case SampleKind::IeeeFloat:
            source_ = Source::Float;
            break;
        case SampleKind::Unsupported:
            return;
    }
    if (soundChannels_ == 0 || soundRate_ == 0) {
        return;
    }
    soundFrames_ = FramesHeld(sound);

    MixSampleType mixType;
    if (!MixSampleTypeOf(mixFormat, mixType) || mixFormat.channels == 0 ||
        mixFormat.sampleRate == 0 ||
        mixFormat.blockAlign != mixFormat.channels * (mixFormat.bitsPerSample / 8)) {
        return;
    }
    mixFloat_ = mixType == MixSampleType::Float32;
    usable_ = soundFrames_ > 0;
}

std::uint32_t RenderBufferBuilder::FramesHeld(const WaveData& sound) {
    const std::uint16_t channels = sound.Format().channels;
    return channels == 0 ? 0 : HeldSamples(sound) / channels;
}

std::uint64_t RenderBufferBuilder::MixFramesFor(std::uint32_t soundFrames) const {
    if (!usable_) {
        return 0;
    }
    if (soundRate_ == mixFormat_.sampleRate) {
        return soundFrames;
    }
    const std::uint64_t scaled = static_cast<std::uint64_t>(soundFrames) * mixFormat_.sampleRate;
    return (scaled + soundRate_ - 1) / soundRate_;
}

std::uint32_t RenderBufferBuilder::SoundFramesFor(std::uint64_t mixFrames) const {
    if (!usable_) {
        return 0;
    }
    if (soundRate_ == mixFormat_.sampleRate) {
        return static_cast<std::uint32_t>(std::min<std::uint64_t>(mixFrames, soundFrames_));
    }
    const std::uint64_t frames = mixFrames * soundRate_ / mixFormat_.sampleRate;
    return static_cast<std::uint32_t>(std::min<std::uint64_t>(frames, soundFrames_));
}

std::unique_ptr<RenderBuffer> RenderBufferBuilder::Build(std::uint32_t first, std::uint32_t count,
                                                         std::uint32_t framesPerBuffer,
                                                         std::uint32_t& buffers) const {
    buffers = 0;
    if (!usable_ || first >= soundFrames_ || framesPerBuffer == 0) {
        return nullptr;
    }
    count = std::min(count, soundFrames_ - first);
    const std::uint64_t bufferBytes =
        static_cast<std::uint64_t>(framesPerBuffer) * mixFormat_.blockAlign;
    if (count == 0 || bufferBytes > UINT32_MAX) {
        return nullptr;
    }
    const std::uint64_t total = MixFramesFor(count);
    std::unique_ptr<RenderBuffer> list;
    std::unique_ptr<RenderBuffer>* tail = &list;
    std::uint32_t built = 0;
    for (std::uint64_t done = 0; done < total; done += framesPerBuffer) {
        std::unique_ptr<RenderBuffer> node =
            RenderBuffer::Allocate(static_cast<std::uint32_t>(bufferBytes));
        if (!node) {
            return nullptr;  // frees what was built
        }
        const auto frames =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(framesPerBuffer, total - done));
        Convert(first, count, done, frames, node->Bytes());
        *tail = std::move(node);
        tail = &(*tail)->next;
        ++built;
    }
    buffers = built;
    return list;
}

void RenderBufferBuilder::Convert(std::uint32_t first, std::uint32_t count, std::uint64_t mixFirst,
                                  std::uint32_t frames, std::uint8_t* out) const {
    const std::uint32_t sampleBytes = mixFormat_.bitsPerSample / 8;
    for (std::uint32_t frame = 0; frame < frames; ++frame) {
        for (std::uint16_t channel = 0; channel < mixFormat_.channels; ++channel) {
            // Channels the sound does not have stay silent.
            const double value = channel < soundChannels_
                                     ? InterpolatedValue(first, count, mixFirst + frame, channel)
                                     : 0.0;
            WriteSample(value, out);
            out += sampleBytes;
        }
    }
}

double RenderBufferBuilder::InterpolatedValue(std::uint32_t first, std::uint32_t count,
                                              std::uint64_t mixFrame, std::uint16_t channel) const {
    const std::uint64_t position = mixFrame * soundRate_;
    const std::uint64_t index =
        std::min<std::uint64_t>(position / mixFormat_.sampleRate, count - 1);
    const std::uint64_t remainder = position % mixFormat_.sampleRate;
    const double current = SourceValue(first + index, channel);
    if (remainder == 0 || index + 1 >= count) {
        return current;
    }
    const double next = SourceValue(first + index + 1, channel);
    return current + (next - current) * static_cast<double>(remainder) / mixFormat_.sampleRate;
}

double RenderBufferBuilder::SourceValue(std::uint64_t frame, std::uint16_t channel) const {
    const std::size_t index = static_cast<std::size_t>(frame * soundChannels_ + channel);
    switch (source_) {
        case Source::Pcm16:
            return sound_.Samples16()[index];
        case Source::Pcm32:
            return static_cast<std::int32_t>(sound_.Samples32()[index]);
        case Source::Float:
            return std::bit_cast<float>(sound_.Samples32()[index]);
    }
    return 0.0;
}

void RenderBufferBuilder::WriteSample(double value, std::uint8_t* out) const {
    if (mixFloat_) {
        float sample = 0.0f;
        switch (source_) {
            case Source::Pcm16:
                sample = static_cast<float>(std::max(value / kPcm16FullScale, -1.0));
                break;
            case Source::Pcm32:
                sample = static_cast<float>(std::max(value / kPcm32FullScale, -1.0));
                break;
            case Source::Float:
                sample = static_cast<float>(value);
                break;
        }
        std::memcpy(out, &sample, sizeof sample);
        return;
    }
    std::int16_t sample = 0;
    switch (source_) {
        case Source::Pcm16:
            sample = ClampToPcm16(std::round(value));
            break;
        case Source::Pcm32:
            sample = ClampToPcm16(std::floor(value / kPcm32ToPcm16Divisor));
            break;
        case Source::Float:
            // NaN compares false everywhere and would survive the clamp: it plays as silence.
            if (!std::isnan(value)) {
                sample = static_cast<std::int16_t>(
                    std::trunc(std::clamp(value * kPcm16FullScale, -kPcm16Max, kPcm16Max)));
            }
            break;
    }
    std::memcpy(out, &sample, sizeof sample);
}

}  // namespace hushwell
