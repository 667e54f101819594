#include "tools/scan/RecordingReader.h"

#include <algorithm>
#include <bit>

#include "tools/scan/InputMessages.h"
#include "wav/SampleConversion.h"
#include "wav/WaveFile.h"

namespace hushwell::scan {

static_assert(std::endian::native == std::endian::little,
              "WAV samples are read straight into memory");

bool RecordingReader::Open(const std::string& path, std::string& error) {
    if (error = InputMessages::FileProblem(path); !error.empty()) {
        return false;
    }
    in_.open(path, std::ios::binary);
    if (!in_.is_open()) {
        error = InputMessages::ReadFailure(path, kWaveCannotOpen, header_);
        return false;
    }
    if (const int code = ReadWaveHeader(header_, in_); code != kWaveOk) {
        error = InputMessages::ReadFailure(path, code, header_);
        return false;
    }
    // Detection takes at most two channels: the program's live audio path cannot carry more.
    if (error = InputMessages::FormatProblems(path, header_.Format(), kMaxChannels, "recordings");
        !error.empty()) {
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
    if (header_.Kind() == SampleKind::Pcm16) {
        in_.read(reinterpret_cast<char*>(samples.data()),
                 static_cast<std::streamsize>(wanted * sizeof(std::int16_t)));
        got = static_cast<std::size_t>(in_.gcount()) / sizeof(std::int16_t);
    } else {
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
