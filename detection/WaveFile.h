#pragma once

#include <cstddef>
#include <filesystem>
#include <iosfwd>
#include <span>

#include "detection/WaveData.h"
#include "detection/WaveFormat.h"

namespace hushwell {

// Reading, checking and writing RIFF/WAVE files.
//
// Threads: every function here is reentrant and may be called from any thread, on WaveData
// objects that thread owns. The program does its file work on the user-interface thread.

// Result codes of ReadWaveFile and ParseWaveHeader; 0 is success.
inline constexpr int kWaveOk = 0;
inline constexpr int kWaveCannotOpen = 1;
inline constexpr int kWaveNotRiff = 2;
inline constexpr int kWaveNotWave = 3;
inline constexpr int kWaveNoFormatChunk = 4;
inline constexpr int kWaveShortFormatChunk = 5;
inline constexpr int kWaveBadExtension = 6;
inline constexpr int kWaveNoDataChunk = 7;
inline constexpr int kWaveUnsupportedBits = 10;
inline constexpr int kWaveShortRead16 = 11;
inline constexpr int kWaveShortRead32 = 12;

// Longest stretch read, in seconds, for each use of a WAV file.
inline constexpr float kReferenceMaxSeconds = 7.0f;
inline constexpr float kEditorCheckMaxSeconds = 20.0f;
inline constexpr float kEditorOpenMaxSeconds = 60.0f;

// Reads the header and at most maxSeconds of samples (rate x maxSeconds x channels samples)
// into wave. A data chunk that ends early keeps the samples that are there and gives the
// short-read code; nothing is allocated beyond what the file actually holds. After a failure
// wave keeps the format as far as it was parsed.
int ReadWaveFile(WaveData& wave, const std::filesystem::path& path, float maxSeconds);

// ReadWaveFile on an already open binary stream (positioned at the start of the file).
int ReadWaveStream(WaveData& wave, std::istream& in, float maxSeconds);

// Parses the chunks up to the start of the sample data: "RIFF", "WAVE", an optional "LIST",
// "fmt ", an optional "LIST", "data". Sets the format record, extension bytes, sample kind
// and the sample count the data chunk claims; releases any earlier samples. Returns 0 or 2..7.
// Any other chunk (a "fact" chunk, say) makes the parse fail.
int ParseWaveHeader(WaveData& wave, std::istream& in);

// Acceptance test of a format: 0 when acceptable, otherwise the sum of the failed checks.
inline constexpr int kFormatBadChannels = 20;  // channels not 1..6
inline constexpr int kFormatBadRate = 80;      // not one of the supported rates
inline constexpr int kFormatBadBits = 80;      // bits per sample neither 16 nor 32
int CheckAudioFormat(const WaveFormat& format);

// Whether a sound file chosen in the trigger list editor is usable: reads up to
// kEditorCheckMaxSeconds and checks the format. The caller shows the message.
inline constexpr int kEditorFileOk = 0;
inline constexpr int kEditorFileBadFormat = 1;
inline constexpr int kEditorFileUnreadable = 2;
int CheckEditorWaveFile(const std::filesystem::path& path);

// Writes a WAV file holding the format's first 18 + cbSize bytes and the sample bytes as
// they are. The file is built in memory, written to a temporary file in the same folder and
// renamed over path, so a failure never leaves a partial file behind. Returns false (and
// writes nothing) when cbSize exceeds 22, the file would pass 4 GiB, or any step fails.
bool WriteWaveFile(const std::filesystem::path& path, std::span<const std::byte> sampleBytes,
                   const WaveFormat& format);

}  // namespace hushwell
