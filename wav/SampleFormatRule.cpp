#include "wav/SampleFormatRule.h"

namespace hushwell {

namespace {

constexpr std::uint16_t kPcm16Bits = 16;
constexpr std::uint16_t kPcm32Bits = 32;
constexpr std::uint16_t kFloatBits = 32;

enum class Encoding { Other, Pcm, IeeeFloat };

// The encoding a record names: its tag, or for the extensible tag the sub-format, which only
// counts when the record really holds the extension.
Encoding EncodingOf(const WaveFormat& format) {
    switch (format.formatTag) {
        case kWaveTagPcm:
            return Encoding::Pcm;
        case kWaveTagIeeeFloat:
            return Encoding::IeeeFloat;
        case kWaveTagExtensible:
            if (format.cbSize < kWaveFormatExtensionSize) {
                return Encoding::Other;
            }
            if (format.subFormat == kSubFormatPcm) {
                return Encoding::Pcm;
            }
            if (format.subFormat == kSubFormatIeeeFloat) {
                return Encoding::IeeeFloat;
            }
            return Encoding::Other;
        default:
            return Encoding::Other;
    }
}

}  // namespace

SampleKind AcceptedSampleKind(const WaveFormat& format) {
    switch (EncodingOf(format)) {
        case Encoding::Pcm:
            if (format.bitsPerSample == kPcm16Bits) {
                return SampleKind::Pcm16;
            }
            return format.bitsPerSample == kPcm32Bits ? SampleKind::Pcm32 : SampleKind::Unsupported;
        case Encoding::IeeeFloat:
            return format.bitsPerSample == kFloatBits ? SampleKind::IeeeFloat
                                                      : SampleKind::Unsupported;
        case Encoding::Other:
            break;
    }
    return SampleKind::Unsupported;
}

}  // namespace hushwell
