#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

#include "wav/WaveData.h"

namespace hushwell::scan {

// Reads a recording block by block as 16-bit samples, without holding the whole file: 16-bit
// PCM as it is, 32-bit PCM or float samples brought to 16 bits the way the program brings its
// sounds there. Only sample formats the WAV reader takes are opened.
//
// Threads: the owning thread only.
class RecordingReader {
public:
    // Detection takes blocks of at most this many channels.
    static constexpr int kMaxChannels = 2;

    // Opens the file and checks that it is a WAV file detection can take. On failure returns
    // false and sets error to a message naming the file.
    bool Open(const std::string& path, std::string& error);

    const WaveFormat& Format() const { return header_.Format(); }
    int Rate() const { return static_cast<int>(header_.Format().sampleRate); }
    int Channels() const { return header_.Format().channels; }
    // The length the file's data chunk claims.
    double ClaimedSeconds() const;

    // Reads up to `frames` frames into samples (interleaved). Returns the frames read, 0 at
    // the end of the data.
    std::size_t ReadBlock(std::size_t frames, std::vector<std::int16_t>& samples);
    // True when the file ended before the data its header claims.
    bool EndedEarly() const { return endedEarly_; }

private:
    std::ifstream in_;
    WaveData header_;
    std::uint64_t samplesLeft_ = 0;
    bool endedEarly_ = false;
    std::vector<std::uint32_t> words_;
};

}  // namespace hushwell::scan
