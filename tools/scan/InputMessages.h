#pragma once

#include <string>

#include "wav/WaveData.h"
#include "wav/WaveFormat.h"

namespace hushwell::scan {

// The tool's messages about its input files, each naming the file and saying what is wrong
// with it. Empty texts mean nothing is wrong.
//
// Threads: any; pure functions apart from looking at the named file.
class InputMessages {
public:
    // Whether path names a regular file that can be read. Never opens it, so a FIFO named like
    // a recording is reported instead of blocking the tool.
    static std::string FileProblem(const std::string& path);

    // Why the WAV reader refused the file with code; header is what it parsed of it.
    static std::string ReadFailure(const std::string& path, int code, const WaveData& header);

    // What CheckAudioFormat and the channel limit of the use (1 to maxChannels) refuse about
    // the format, naming each value that is wrong and what is taken instead. `use` names
    // what the file is for ("recordings", "sounds").
    static std::string FormatProblems(const std::string& path, const WaveFormat& format,
                                      int maxChannels, const std::string& use);

    // "48000 Hz, 2 channels, 16 bits".
    static std::string Format(const WaveFormat& format);
};

}  // namespace hushwell::scan
