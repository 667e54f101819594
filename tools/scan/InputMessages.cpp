#include "tools/scan/InputMessages.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <vector>

#include "wav/WaveFile.h"

namespace hushwell::scan {

namespace {

namespace fs = std::filesystem;

const char* const kSaveAsPcm16 = "save it as a 16-bit PCM WAV file";

// The format fields a WAV parse must have read before it gives kWaveNoDataChunk: bits outside
// this range count no samples.
constexpr int kMinCountedBits = 8;
constexpr int kMaxCountedBits = 64;

std::string Hex4(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

std::string EncodingOf(const WaveFormat& format) {
    switch (format.formatTag) {
        case kWaveTagPcm:
            return "PCM";
        case kWaveTagIeeeFloat:
            return "float";
        case kWaveTagExtensible:
            if (format.subFormat == kSubFormatPcm) {
                return "PCM";
            }
            if (format.subFormat == kSubFormatIeeeFloat) {
                return "float";
            }
            return "extensible format of an unknown sub-format";
        default:
            return "format tag " + Hex4(format.formatTag);
    }
}

// The chunk that stands between the format and the data, which the reader does not read.
std::string UnreadChunkBeforeData(const std::vector<std::string>& chunks) {
    for (const std::string& id : chunks) {
        if (id != "LIST" && id != "fmt " && id != "data") {
            return id;
        }
    }
    return {};
}

// kWaveNoDataChunk stands for three faults: no data chunk, a chunk the reader does not read
// before it, and a sample width that counts no samples. The file's chunk list tells them apart.
std::string ExplainNoData(const std::string& path, const WaveData& header) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<std::string> chunks = ListWaveChunks(in);
    if (std::find(chunks.begin(), chunks.end(), "data") == chunks.end()) {
        return "has no audio data (no \"data\" chunk)";
    }
    const int bits = header.Format().bitsPerSample;
    if (bits < kMinCountedBits || bits > kMaxCountedBits) {
        return "claims samples of " + std::to_string(bits) + " bits; 16 or 32 are read";
    }
    const std::string unread = UnreadChunkBeforeData(chunks);
    if (unread == "fact") {
        return "has a \"fact\" chunk before its audio data, which this program does not read "
               "(programs write one into float and extensible-format files); " +
               std::string(kSaveAsPcm16);
    }
    if (!unread.empty()) {
        return "has a \"" + unread +
               "\" chunk before its audio data, which this program "
               "does not read; " +
               kSaveAsPcm16;
    }
    return "has bytes this program does not read between its format and its audio data; " +
           std::string(kSaveAsPcm16);
}

std::string ChannelsTaken(int maxChannels) {
    return maxChannels == 2 ? "1 or 2" : "1 to " + std::to_string(maxChannels);
}

std::string RatesTaken() {
    std::string text;
    for (std::size_t i = 0; i < kAcceptedSampleRates.size(); ++i) {
        text += (i == 0                                 ? ""
                 : i + 1 == kAcceptedSampleRates.size() ? " or "
                                                        : ", ") +
                std::to_string(kAcceptedSampleRates[i]);
    }
    return text + " Hz";
}

// Takes flag out of the remaining sum of CheckAudioFormat, largest flag first.
bool TakeFlag(int& remaining, int flag) {
    if (remaining >= flag) {
        remaining -= flag;
        return true;
    }
    return false;
}

}  // namespace

std::string InputMessages::FileProblem(const std::string& path) {
    std::error_code error;
    const fs::file_status status = fs::status(path, error);
    if (status.type() == fs::file_type::not_found) {
        return path + ": no such file";
    }
    if (error) {
        return path + ": cannot be examined (" + error.message() + ")";
    }
    if (status.type() == fs::file_type::directory) {
        return path + ": is a folder, not a file";
    }
    if (status.type() != fs::file_type::regular) {
        return path + ": is not a regular file (a device, FIFO or socket cannot be read)";
    }
    return {};
}

std::string InputMessages::ReadFailure(const std::string& path, int code, const WaveData& header) {
    const WaveFormat& format = header.Format();
    std::string what;
    switch (code) {
        case kWaveCannotOpen:
            what = "cannot be opened";
            break;
        case kWaveNotRiff:
        case kWaveNotWave:
            what = "is not a WAV file";
            break;
        case kWaveNoFormatChunk:
            what = "has no format chunk (\"fmt \") where a WAV file has one";
            break;
        case kWaveShortFormatChunk:
            what = "has a damaged format chunk, shorter than a format description";
            break;
        case kWaveBadExtension:
            what = "has a damaged format chunk: its extension is too long or cut off";
            break;
        case kWaveNoDataChunk:
            what = ExplainNoData(path, header);
            break;
        case kWaveUnsupportedBits:
            what = "holds samples of " + std::to_string(format.bitsPerSample) +
                   " bits; 16 or 32 are read";
            break;
        case kWaveUnsupportedSampleFormat:
            what = "holds " + std::to_string(format.bitsPerSample) + "-bit " + EncodingOf(format) +
                   " audio, which this program does not read (it reads 16- or 32-bit PCM and "
                   "32-bit float); " +
                   kSaveAsPcm16;
            break;
        case kWaveShortRead16:
        case kWaveShortRead32:
            what = "ends before its audio data does";
            break;
        default:
            what = "cannot be read (code " + std::to_string(code) + ")";
            break;
    }
    return path + ": " + what;
}

std::string InputMessages::FormatProblems(const std::string& path, const WaveFormat& format,
                                          int maxChannels, const std::string& use) {
    int remaining = CheckAudioFormat(format);
    const bool badBits = TakeFlag(remaining, kFormatBadBits);
    const bool badRate = TakeFlag(remaining, kFormatBadRate);
    const bool badChannels = TakeFlag(remaining, kFormatBadChannels) || format.channels < 1 ||
                             format.channels > maxChannels;
    std::vector<std::string> problems;
    if (badChannels) {
        problems.push_back(std::to_string(format.channels) + " channels, where " + use + " have " +
                           ChannelsTaken(maxChannels));
    }
    if (badRate) {
        problems.push_back(std::to_string(format.sampleRate) + " Hz, where " + use + " have " +
                           RatesTaken());
    }
    if (badBits) {
        problems.push_back(std::to_string(format.bitsPerSample) + " bits per sample, where " + use +
                           " have 16 or 32");
    }
    if (problems.empty()) {
        return {};
    }
    std::string message = path + ": audio format not acceptable: ";
    for (std::size_t i = 0; i < problems.size(); ++i) {
        message += (i == 0 ? "" : "; ") + problems[i];
    }
    return message;
}

std::string InputMessages::Format(const WaveFormat& format) {
    return std::to_string(format.sampleRate) + " Hz, " + std::to_string(format.channels) +
           (format.channels == 1 ? " channel, " : " channels, ") +
           std::to_string(format.bitsPerSample) + " bits";
}

}  // namespace hushwell::scan
