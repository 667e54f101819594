#include "wav/WaveData.h"

#include <limits>
#include <utility>

#include "wav/SampleConversion.h"

namespace hushwell {

namespace {

constexpr int kMaxAssignedChannels = 2;
constexpr std::uint16_t kPcm16Bits = 16;
constexpr std::uint32_t kPcm16Bytes = 2;

}  // namespace

std::span<const std::byte> WaveData::SampleBytes() const {
    if (!samples16_.empty()) {
        return std::as_bytes(std::span(samples16_));
    }
    return std::as_bytes(std::span(samples32_));
}

bool WaveData::ClassifySampleKind() {
    kind_ = AcceptedSampleKind(format_);
    return kind_ != SampleKind::Unsupported;
}

template <typename Sample, typename Convert>
void WaveData::Assign16(int rate, int channels, int frames, std::span<const Sample> samples,
                        Convert convert) {
    if (rate < 0 || channels < 0 || channels > kMaxAssignedChannels || frames < 0 ||
        samples.data() == nullptr) {
        return;
    }
    // At most 2 x INT32_MAX, so the product is computed in 64 bits and checked.
    const std::int64_t count = std::int64_t{channels} * frames;
    if (count > std::numeric_limits<std::int32_t>::max() ||
        samples.size() < static_cast<std::size_t>(count)) {
        return;
    }

    format_ = WaveFormat{};
    format_.formatTag = kWaveTagPcm;
    format_.channels = static_cast<std::uint16_t>(channels);
    format_.sampleRate = static_cast<std::uint32_t>(rate);
    format_.blockAlign = static_cast<std::uint16_t>(kPcm16Bytes * channels);
    format_.bitsPerSample = kPcm16Bits;
    format_.byteRate = static_cast<std::uint32_t>(rate) * format_.blockAlign;
    extension_.clear();
    sampleCount_ = static_cast<std::int32_t>(count);
    ClearSamples();

    if (sampleCount_ > 0) {
        samples16_.reserve(static_cast<std::size_t>(sampleCount_));
        for (const Sample sample : samples.first(static_cast<std::size_t>(sampleCount_))) {
            samples16_.push_back(convert(sample));
        }
    } else {
        format_ = WaveFormat{};
    }
    ClassifySampleKind();
}

void WaveData::AssignPcm16(int rate, int channels, int frames,
                           std::span<const std::int16_t> samples) {
    Assign16(rate, channels, frames, samples, [](std::int16_t sample) { return sample; });
}

void WaveData::AssignScaledFloat(int rate, int channels, int frames,
                                 std::span<const float> samples) {
    Assign16(rate, channels, frames, samples, ScaledFloatToPcm16);
}

void WaveData::SetExtension(std::span<const std::uint8_t> bytes) {
    extension_.assign(bytes.begin(), bytes.end());
}

void WaveData::ClearSamples() {
    samples16_ = {};
    samples32_ = {};
}

void WaveData::SetSamples16(std::vector<std::int16_t> samples) {
    samples32_ = {};
    samples16_ = std::move(samples);
    sampleCount_ = static_cast<std::int32_t>(samples16_.size());
}

void WaveData::SetSamples32(std::vector<std::uint32_t> samples) {
    samples16_ = {};
    samples32_ = std::move(samples);
    sampleCount_ = static_cast<std::int32_t>(samples32_.size());
}

}  // namespace hushwell
