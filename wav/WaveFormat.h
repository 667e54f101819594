#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace hushwell {

// A 16-byte format GUID in its in-memory and on-disk order (first three fields
// little-endian on disk).
struct WaveGuid {
    std::uint32_t data1 = 0;
    std::uint16_t data2 = 0;
    std::uint16_t data3 = 0;
    std::array<std::uint8_t, 8> data4{};

    friend bool operator==(const WaveGuid&, const WaveGuid&) = default;
};
static_assert(sizeof(WaveGuid) == 16);

// Sub-formats an extensible format record may name.
inline constexpr WaveGuid kSubFormatPcm{
    0x00000001, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
inline constexpr WaveGuid kSubFormatIeeeFloat{
    0x00000003, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// Format tags.
inline constexpr std::uint16_t kWaveTagPcm = 0x0001;
inline constexpr std::uint16_t kWaveTagIeeeFloat = 0x0003;
inline constexpr std::uint16_t kWaveTagExtensible = 0xFFFE;

// The audio format record, byte for byte the 40-byte extensible wave format layout used by
// WAV files and by the audio layer's mix format. The first 18 bytes are the basic format;
// validBitsPerSample, channelMask and subFormat mean something only for kWaveTagExtensible.
// A plain value: copy it freely, any thread.
struct WaveFormat {
    std::uint16_t formatTag = 0;
    std::uint16_t channels = 0;
    std::uint32_t sampleRate = 0;  // Hz
    std::uint32_t byteRate = 0;    // bytes per second
    std::uint16_t blockAlign = 0;  // bytes per frame
    std::uint16_t bitsPerSample = 0;
    std::uint16_t cbSize = 0;  // extension bytes after the basic 18
    std::uint16_t validBitsPerSample = 0;
    std::uint32_t channelMask = 0;
    WaveGuid subFormat{};

    friend bool operator==(const WaveFormat&, const WaveFormat&) = default;
};

// Size of the basic part that precedes the extension, and of the extension the record holds.
inline constexpr std::size_t kWaveFormatBasicSize = 18;
inline constexpr std::size_t kWaveFormatExtensionSize = 22;

static_assert(sizeof(WaveFormat) == 40);
static_assert(offsetof(WaveFormat, sampleRate) == 4);
static_assert(offsetof(WaveFormat, byteRate) == 8);
static_assert(offsetof(WaveFormat, blockAlign) == 12);
static_assert(offsetof(WaveFormat, bitsPerSample) == 14);
static_assert(offsetof(WaveFormat, cbSize) == 16);
static_assert(offsetof(WaveFormat, validBitsPerSample) == kWaveFormatBasicSize);
static_assert(offsetof(WaveFormat, channelMask) == 20);
static_assert(offsetof(WaveFormat, subFormat) == 24);
static_assert(kWaveFormatBasicSize + kWaveFormatExtensionSize == sizeof(WaveFormat));

}  // namespace hushwell
