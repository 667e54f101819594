#include "tools/scan/RecordingReader.h"

#include <algorithm>
#include <bit>
#include <filesystem>

#include "detection/SampleConversion.h"
#include "detection/WaveFile.h"

namespace hushwell::scan {

static_assert(std::endian::native == std::endian::little,
              "WAV samples are read straight into memory");

namespace {

constexpr int kBits16 = 16;
constexpr int kBits32 = 32;

}  // namespace

std::string RecordingReader::DescribeReadFailure(int code) {
    switch (code) {
        case kWaveCannotOpen:
            return "cannot be opened";
        case kWaveNotRiff:
        case kWaveNotWave:
            return "is not a WAV file";
        case kWaveNoFormatChunk:
        case kWaveShortFormatChunk:
        case kWaveBadExtension:
            return "has no usable format description";
        case kWaveNoDataChunk:
            return "has no audio data (or chunks this program does not read)";
        case kWaveUnsupportedBits:
            return "holds samples of neither 16 nor 32 bits";
        case kWaveShortRead16:
        case kWaveShortRead32:
            return "ends before its audio data does";
        default:
            return "cannot be read (code " + std::to_string(code) + ")";
    }
}

std::string RecordingReader::DescribeFormat(const WaveFormat& format) {
    return std::to_string(format.sampleRate) + " Hz, " + std::to_string(format.channels) +
           (format.channels == 1 ? " channel, " : " channels, ") +
           std::to_string(format.bitsPerSample) + " bits";
}

bool RecordingReader::Open(const std::string& path, std::string& error) {
    std::error_code ignored;
    if (!std::filesystem::is_regular_file(path, ignored)) {
        error = path + ": no such file";
        return false;
    }
    in_.open(path, std::ios::binary);
    if (!in_.is_open()) {
        error = path + ": " + DescribeReadFailure(kWaveCannotOpen);
        return false;
    }
    if (const int code = ParseWaveHeader(header_, in_); code != kWaveOk) {
        error = path + ": " + DescribeReadFailure(code);
        return false;
    }
    const WaveFormat& format = header_.Format();
    if (CheckAudioFormat(format) != 0) {
        error = path + ": audio format not acceptable (" + DescribeFormat(format) +
                "); WAV files of 16 or 32 bits, 1 to 6 channels, at 16000, 22050, 32000, "
                "44100, 48000, 96000 or 192000 Hz are";
        return false;
    }
    if (format.channels > kMaxChannels) {
        error = path + " has " + std::to_string(format.channels) +
                " channels: detection takes at most two, as the program's live audio path "
                "cannot take more";
        return false;
    }
    if (header_.SampleCount() <= 0) {
        error = path + ": holds no audio";
        return false;
    }
    samplesLeft_ = static_cast<std::uint64_t>(header_.SampleCount());
    endedEarly_ = false;
    return true;
}

double RecordingReader::ClaimedSeconds() const {
    const WaveFormat& format = header_.Format();
    if (format.sampleRate == 0 || format.channels == 0) {
        return 0.0;
    }
    return static_cast<double>(header_.SampleCount()) / format.channels / format.sampleRate;
}

std::size_t RecordingReader::ReadBlock(std::size_t frames, std::vector<std::int16_t>& samples) {
    const auto channels = static_cast<std::size_t>(Channels());
    const std::size_t wanted =
        static_cast<std::size_t>(std::min<std::uint64_t>(frames * channels, samplesLeft_));
    samples.resize(wanted);
    std::size_t got = 0;
    if (header_.Format().bitsPerSample == kBits16) {
        in_.read(reinterpret_cast<char*>(samples.data()),
                 static_cast<std::streamsize>(wanted * sizeof(std::int16_t)));
        got = static_cast<std::size_t>(in_.gcount()) / sizeof(std::int16_t);
    } else if (header_.Format().bitsPerSample == kBits32) {
        words_.resize(wanted);
        in_.read(reinterpret_cast<char*>(words_.data()),
                 static_cast<std::streamsize>(wanted * sizeof(std::uint32_t)));
        got = static_cast<std::size_t>(in_.gcount()) / sizeof(std::uint32_t);
        const bool isFloat = header_.Kind() == SampleKind::IeeeFloat;
        for (std::size_t i = 0; i < got; ++i) {
            samples[i] = isFloat ? FloatSampleToPcm16(std::bit_cast<float>(words_[i]))
                                 : Int32SampleToPcm16(std::bit_cast<std::int32_t>(words_[i]));
        }
    }
    if (got < wanted) {
        endedEarly_ = true;
        samplesLeft_ = 0;
    } else {
        samplesLeft_ -= got;
    }
    const std::size_t whole = got / channels;
    samples.resize(whole * channels);
    return whole;
}

}  // namespace hushwell::scan
