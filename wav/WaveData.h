#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "wav/SampleFormatRule.h"
#include "wav/WaveFormat.h"

namespace hushwell {

// An audio block or sound: a format record, the extension bytes read from a file, a sample
// kind and an owned, interleaved sample buffer. 16-bit formats keep their samples as int16;
// 32-bit formats keep the raw 32-bit words (integer PCM or float bit patterns, see
// SampleConversion.h). Anything else holds no samples.
//
// Threads: no lock of its own. Whichever thread owns the object (reader, queue, editor) may
// call every method; hand it over whole between threads.
class WaveData {
public:
    WaveData() = default;

    const WaveFormat& Format() const { return format_; }
    WaveFormat& Format() { return format_; }
    SampleKind Kind() const { return kind_; }
    // Samples over all channels (frames x channels). After a successful read or assignment
    // it equals the number of samples held; after a failed read it is what the header gave.
    std::int32_t SampleCount() const { return sampleCount_; }
    std::span<const std::uint8_t> Extension() const { return extension_; }

    std::span<const std::int16_t> Samples16() const { return samples16_; }
    std::span<const std::uint32_t> Samples32() const { return samples32_; }
    // The held samples as bytes, in the order a WAV data chunk stores them.
    std::span<const std::byte> SampleBytes() const;

    // Sets Kind() from the format record by AcceptedSampleKind; true when the format is taken.
    bool ClassifySampleKind();

    // Replace the contents with a 16-bit PCM block of channels x frames samples. Nothing
    // happens unless rate >= 0, 0 <= channels <= 2, frames >= 0 and samples are given (holding at
    // least channels x frames values). An empty block clears the whole format record.
    void AssignPcm16(int rate, int channels, int frames, std::span<const std::int16_t> samples);
    // As AssignPcm16, from float samples already multiplied by 32767; each is rounded and
    // saturated by ScaledFloatToPcm16.
    void AssignScaledFloat(int rate, int channels, int frames, std::span<const float> samples);

    // Used by the WAV reader.
    void SetExtension(std::span<const std::uint8_t> bytes);
    void SetSampleCount(std::int32_t count) { sampleCount_ = count; }
    // Release the sample buffer (the count is left alone).
    void ClearSamples();
    // Take over a buffer; the sample count becomes its size.
    void SetSamples16(std::vector<std::int16_t> samples);
    void SetSamples32(std::vector<std::uint32_t> samples);

private:
    template <typename Sample, typename Convert>
    void Assign16(int rate, int channels, int frames, std::span<const Sample> samples,
                  Convert convert);

    WaveFormat format_{};
    std::vector<std::uint8_t> extension_;
    SampleKind kind_ = SampleKind::Unsupported;
    std::int32_t sampleCount_ = 0;
    std::vector<std::int16_t> samples16_;
    std::vector<std::uint32_t> samples32_;
};

}  // namespace hushwell
