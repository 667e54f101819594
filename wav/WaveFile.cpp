#include "wav/WaveFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cerrno>
#include <chrono>
#include <fstream>
#include <istream>
#include <limits>
#include <new>
#include <optional>
#include <string>
#include <vector>

#include "base/DurableWrite.h"

namespace hushwell {

// Samples are read and written as their in-memory bytes; WAV data is little-endian.
static_assert(std::endian::native == std::endian::little);

namespace {

using ChunkTag = std::array<char, 4>;
constexpr ChunkTag kRiffTag{'R', 'I', 'F', 'F'};
constexpr ChunkTag kWaveTag{'W', 'A', 'V', 'E'};
constexpr ChunkTag kListTag{'L', 'I', 'S', 'T'};
constexpr ChunkTag kFmtChunkTag{'f', 'm', 't', ' '};
constexpr ChunkTag kDataTag{'d', 'a', 't', 'a'};

// Basic format fields without cbSize, as the fmt chunk's first bytes.
constexpr std::uint32_t kBasicFormatFieldsSize = 16;
constexpr std::uint16_t kMaxExtensionSize = 256;
constexpr int kMinCountedBits = 8;
constexpr int kMaxCountedBits = 64;
constexpr int kBitsPerByte = 8;
// The sample widths the program reads.
constexpr std::uint16_t kBits16 = 16;
constexpr std::uint16_t kBits32 = 32;

// Sample data is read in pieces of this size, so memory follows what the file really holds.
constexpr std::size_t kReadPieceBytes = std::size_t{4} << 20;

// ---- Little-endian reads from memory and from the stream. ----

std::uint16_t LoadU16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t LoadU32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

// Each stream read returns false on a short read.
bool ReadRaw(std::istream& in, void* destination, std::size_t size) {
    in.read(static_cast<char*>(destination), static_cast<std::streamsize>(size));
    return static_cast<std::size_t>(in.gcount()) == size;
}

bool ReadU16(std::istream& in, std::uint16_t& value) {
    std::array<std::uint8_t, 2> bytes{};
    if (!ReadRaw(in, bytes.data(), bytes.size())) {
        return false;
    }
    value = LoadU16(bytes.data());
    return true;
}

bool ReadU32(std::istream& in, std::uint32_t& value) {
    std::array<std::uint8_t, 4> bytes{};
    if (!ReadRaw(in, bytes.data(), bytes.size())) {
        return false;
    }
    value = LoadU32(bytes.data());
    return true;
}

bool ReadTag(std::istream& in, const ChunkTag& expected) {
    ChunkTag tag{};
    return ReadRaw(in, tag.data(), tag.size()) && tag == expected;
}

// ---- Header steps. ----

// Skips one "LIST" chunk if the next four bytes name one; otherwise leaves the position.
void SkipOptionalList(std::istream& in) {
    const std::istream::pos_type start = in.tellg();
    if (ReadTag(in, kListTag)) {
        std::uint32_t size = 0;
        if (ReadU32(in, size)) {
            in.seekg(static_cast<std::streamoff>(size), std::ios::cur);
        }
        return;
    }
    in.clear();
    in.seekg(start);
}

bool ReadBasicFormat(std::istream& in, WaveFormat& format) {
    return ReadU16(in, format.formatTag) && ReadU16(in, format.channels) &&
           ReadU32(in, format.sampleRate) && ReadU32(in, format.byteRate) &&
           ReadU16(in, format.blockAlign) && ReadU16(in, format.bitsPerSample);
}

// The 22 extension bytes of an extensible format: valid bits, channel mask, sub-format.
void StoreExtensibleFields(const std::vector<std::uint8_t>& bytes, WaveFormat& format) {
    const std::uint8_t* p = bytes.data();
    format.validBitsPerSample = LoadU16(p);
    format.channelMask = LoadU32(p + 2);
    format.subFormat.data1 = LoadU32(p + 6);
    format.subFormat.data2 = LoadU16(p + 10);
    format.subFormat.data3 = LoadU16(p + 12);
    std::copy_n(p + 14, format.subFormat.data4.size(), format.subFormat.data4.begin());
}

// cbSize and the extension bytes. An extension that would run past the end of the fmt chunk
// is refused: it can only be a damaged or hostile header.
int ReadFormatExtension(std::istream& in, std::uint32_t formatChunkSize, WaveData& wave) {
    WaveFormat& format = wave.Format();
    if (!ReadU16(in, format.cbSize) || format.cbSize > kMaxExtensionSize ||
        kWaveFormatBasicSize + format.cbSize > formatChunkSize) {
        return kWaveBadExtension;
    }
    std::vector<std::uint8_t> extension(format.cbSize);
    if (!ReadRaw(in, extension.data(), extension.size())) {
        return kWaveBadExtension;
    }
    if (extension.size() == kWaveFormatExtensionSize) {
        StoreExtensibleFields(extension, format);
    }
    wave.SetExtension(extension);
    return kWaveOk;
}

int CountSamples(std::uint32_t dataSize, WaveData& wave) {
    const int bits = wave.Format().bitsPerSample;
    if (bits < kMinCountedBits || bits > kMaxCountedBits) {
        wave.SetSampleCount(0);
        return kWaveNoDataChunk;
    }
    const std::uint32_t count = dataSize / static_cast<std::uint32_t>(bits / kBitsPerByte);
    wave.SetSampleCount(static_cast<std::int32_t>(
        std::min<std::uint32_t>(count, std::numeric_limits<std::int32_t>::max())));
    return kWaveOk;
}

// ---- Samples. ----

// rate x seconds x channels, computed in single precision and truncated; never negative.
std::int32_t SampleLimit(const WaveFormat& format, float maxSeconds) {
    const float limit =
        static_cast<float>(format.sampleRate) * maxSeconds * static_cast<float>(format.channels);
    if (!(limit > 0.0f)) {
        return 0;
    }
    if (limit >= 2147483648.0f) {
        return std::numeric_limits<std::int32_t>::max();
    }
    return static_cast<std::int32_t>(limit);
}

// Bytes between the read position and the end of the stream, when the stream can tell.
std::optional<std::uint64_t> BytesRemaining(std::istream& in) {
    const std::istream::pos_type here = in.tellg();
    if (here == std::istream::pos_type(-1)) {
        return std::nullopt;
    }
    in.seekg(0, std::ios::end);
    const std::istream::pos_type end = in.tellg();
    in.clear();
    in.seekg(here);
    if (end == std::istream::pos_type(-1)) {
        return std::nullopt;
    }
    return end > here ? static_cast<std::uint64_t>(end - here) : 0;
}

// Reads up to wanted values; fewer when the stream ends first. The buffer never grows past
// what the stream holds: by its known size, or one bounded piece at a time.
template <typename Word>
std::vector<Word> ReadSamples(std::istream& in, std::size_t wanted) {
    constexpr std::size_t kPieceWords = kReadPieceBytes / sizeof(Word);
    if (const auto remaining = BytesRemaining(in)) {
        wanted =
            static_cast<std::size_t>(std::min<std::uint64_t>(wanted, *remaining / sizeof(Word)));
    }
    std::vector<Word> words;
    while (words.size() < wanted) {
        const std::size_t held = words.size();
        const std::size_t piece = std::min(wanted - held, kPieceWords);
        words.resize(held + piece);
        in.read(reinterpret_cast<char*>(words.data() + held),
                static_cast<std::streamsize>(piece * sizeof(Word)));
        const std::size_t got = static_cast<std::size_t>(in.gcount()) / sizeof(Word);
        words.resize(held + got);
        if (got < piece) {
            break;
        }
    }
    return words;
}

// ---- Writing. ----

void AppendBytes(std::vector<std::byte>& out, const void* data, std::size_t size) {
    const auto* bytes = static_cast<const std::byte*>(data);
    out.insert(out.end(), bytes, bytes + size);
}

void AppendU16(std::vector<std::byte>& out, std::uint16_t value) {
    out.push_back(static_cast<std::byte>(value & 0xFF));
    out.push_back(static_cast<std::byte>(value >> 8));
}

void AppendU32(std::vector<std::byte>& out, std::uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) {
        out.push_back(static_cast<std::byte>((value >> shift) & 0xFF));
    }
}

// The format record as the fmt chunk stores it: all 40 bytes, little-endian.
std::vector<std::byte> SerializeFormat(const WaveFormat& format) {
    std::vector<std::byte> out;
    out.reserve(sizeof(WaveFormat));
    AppendU16(out, format.formatTag);
    AppendU16(out, format.channels);
    AppendU32(out, format.sampleRate);
    AppendU32(out, format.byteRate);
    AppendU16(out, format.blockAlign);
    AppendU16(out, format.bitsPerSample);
    AppendU16(out, format.cbSize);
    AppendU16(out, format.validBitsPerSample);
    AppendU32(out, format.channelMask);
    AppendU32(out, format.subFormat.data1);
    AppendU16(out, format.subFormat.data2);
    AppendU16(out, format.subFormat.data3);
    AppendBytes(out, format.subFormat.data4.data(), format.subFormat.data4.size());
    return out;
}

// A name beside target that no other writer uses at the same moment.
std::filesystem::path TemporaryPathFor(const std::filesystem::path& target, unsigned attempt) {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    // Appended piece by piece: GCC 12 warns falsely (-Wrestrict) on "." + std::string&&.
    std::string name = ".";
    name += target.filename().string();
    name += ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + "-" +
            std::to_string(stamp) + "-" + std::to_string(attempt);
    return target.parent_path() / name;
}

// Writes bytes to a fresh temporary file in target's folder, flushes it to disk and renames it
// over target. On failure the temporary file is removed and target is untouched.
bool ReplaceFileContents(const std::filesystem::path& target, std::span<const std::byte> bytes) {
    constexpr unsigned kAttempts = 16;
    constexpr mode_t kFileMode = 0666;  // narrowed by the umask, as for any new file
    for (unsigned attempt = 0; attempt < kAttempts; ++attempt) {
        const std::filesystem::path temporary = TemporaryPathFor(target, attempt);
        const int fd =
            ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kFileMode);
        if (fd < 0) {
            if (errno == EEXIST) {
                continue;
            }
            return false;
        }
        const bool written = WriteAll(fd, bytes) && ::fsync(fd) == 0;
        const bool closed = ::close(fd) == 0;
        if (written && closed && ::rename(temporary.c_str(), target.c_str()) == 0) {
            return true;
        }
        ::unlink(temporary.c_str());
        return false;
    }
    return false;
}

}  // namespace

int ParseWaveHeader(WaveData& wave, std::istream& in) {
    WaveFormat& format = wave.Format();
    format = WaveFormat{};
    wave.SetExtension({});
    wave.ClearSamples();
    wave.SetSampleCount(0);
    wave.ClassifySampleKind();

    if (!ReadTag(in, kRiffTag)) {
        return kWaveNotRiff;
    }
    std::uint32_t riffSize = 0;  // not checked: many writers get it wrong
    if (!ReadU32(in, riffSize) || !ReadTag(in, kWaveTag)) {
        return kWaveNotWave;
    }
    SkipOptionalList(in);
    if (!ReadTag(in, kFmtChunkTag)) {
        return kWaveNoFormatChunk;
    }
    std::uint32_t formatChunkSize = 0;
    if (!ReadU32(in, formatChunkSize) || formatChunkSize < kBasicFormatFieldsSize ||
        !ReadBasicFormat(in, format)) {
        return kWaveShortFormatChunk;
    }
    if (formatChunkSize > kBasicFormatFieldsSize) {
        if (const int result = ReadFormatExtension(in, formatChunkSize, wave); result != kWaveOk) {
            return result;
        }
    }
    wave.ClassifySampleKind();
    SkipOptionalList(in);
    std::uint32_t dataSize = 0;
    if (!ReadTag(in, kDataTag) || !ReadU32(in, dataSize)) {
        return kWaveNoDataChunk;
    }
    return CountSamples(dataSize, wave);
}

int ReadWaveHeader(WaveData& wave, std::istream& in) {
    if (const int result = ParseWaveHeader(wave, in); result != kWaveOk) {
        return result;
    }
    const std::uint16_t bits = wave.Format().bitsPerSample;
    if (bits != kBits16 && bits != kBits32) {
        return kWaveUnsupportedBits;
    }
    return wave.Kind() == SampleKind::Unsupported ? kWaveUnsupportedSampleFormat : kWaveOk;
}

int ReadWaveStream(WaveData& wave, std::istream& in, float maxSeconds) {
    if (const int result = ReadWaveHeader(wave, in); result != kWaveOk) {
        return result;
    }
    const std::int32_t count = std::min(wave.SampleCount(), SampleLimit(wave.Format(), maxSeconds));
    wave.SetSampleCount(count);
    const auto wanted = static_cast<std::size_t>(count);
    if (wave.Kind() == SampleKind::Pcm16) {
        wave.SetSamples16(ReadSamples<std::int16_t>(in, wanted));
        return wave.Samples16().size() == wanted ? kWaveOk : kWaveShortRead16;
    }
    wave.SetSamples32(ReadSamples<std::uint32_t>(in, wanted));
    return wave.Samples32().size() == wanted ? kWaveOk : kWaveShortRead32;
}

std::vector<std::string> ListWaveChunks(std::istream& in) {
    std::vector<std::string> ids;
    if (!ReadTag(in, kRiffTag) || !in.ignore(sizeof(std::uint32_t)) || !ReadTag(in, kWaveTag)) {
        return ids;
    }
    ChunkTag id{};
    std::uint32_t size = 0;
    while (ids.size() < kMaxListedChunks && ReadRaw(in, id.data(), id.size()) &&
           ReadU32(in, size)) {
        ids.emplace_back(id.begin(), id.end());
        if (id == kDataTag) {
            break;
        }
        // Chunks of odd size are followed by a pad byte.
        in.seekg(static_cast<std::streamoff>(size) + (size & 1U), std::ios::cur);
    }
    return ids;
}

int ReadWaveFile(WaveData& wave, const std::filesystem::path& path, float maxSeconds) {
    // Only regular files: a folder cannot be read, and opening a FIFO would block.
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) {
        return kWaveCannotOpen;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in.is_open()) {
        return kWaveCannotOpen;
    }
    return ReadWaveStream(wave, in, maxSeconds);
}

int CheckAudioFormat(const WaveFormat& format) {
    int result = 0;
    if (format.channels == 0 || format.channels > kMaxFormatChannels) {
        result += kFormatBadChannels;
    }
    if (std::find(kAcceptedSampleRates.begin(), kAcceptedSampleRates.end(), format.sampleRate) ==
        kAcceptedSampleRates.end()) {
        result += kFormatBadRate;
    }
    if (format.bitsPerSample != kBits16 && format.bitsPerSample != kBits32) {
        result += kFormatBadBits;
    }
    return result;
}

int CheckEditorWaveFile(const std::filesystem::path& path) {
    WaveData wave;
    if (ReadWaveFile(wave, path, kEditorCheckMaxSeconds) != kWaveOk) {
        return kEditorFileUnreadable;
    }
    if (CheckAudioFormat(wave.Format()) != 0) {
        return kEditorFileBadFormat;
    }
    return kEditorFileOk;
}

bool WriteWaveFile(const std::filesystem::path& path, std::span<const std::byte> sampleBytes,
                   const WaveFormat& format) {
    constexpr std::uint32_t kFixedBytesAfterRiffSize = 38;  // "WAVE", fmt header, 18, data header
    constexpr std::uint32_t kRiffHeaderBytes = 8;
    if (format.cbSize > kWaveFormatExtensionSize) {
        return false;
    }
    const std::uint32_t formatBytes = kWaveFormatBasicSize + format.cbSize;
    const std::uint64_t riffSize =
        std::uint64_t{sampleBytes.size()} + kFixedBytesAfterRiffSize + format.cbSize;
    if (riffSize > std::numeric_limits<std::uint32_t>::max() - kRiffHeaderBytes) {
        return false;
    }

    std::vector<std::byte> file;
    try {
        file.reserve(kRiffHeaderBytes + riffSize);
    } catch (const std::bad_alloc&) {
        return false;
    }
    AppendBytes(file, kRiffTag.data(), kRiffTag.size());
    AppendU32(file, static_cast<std::uint32_t>(riffSize));
    AppendBytes(file, kWaveTag.data(), kWaveTag.size());
    AppendBytes(file, kFmtChunkTag.data(), kFmtChunkTag.size());
    AppendU32(file, formatBytes);
    AppendBytes(file, SerializeFormat(format).data(), formatBytes);
    AppendBytes(file, kDataTag.data(), kDataTag.size());
    AppendU32(file, static_cast<std::uint32_t>(sampleBytes.size()));
    AppendBytes(file, sampleBytes.data(), sampleBytes.size());
    return ReplaceFileContents(path, file);
}

}  // namespace hushwell
