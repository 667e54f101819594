#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "wav/WaveData.h"
#include "wav/WaveFormat.h"

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
inline constexpr int kWaveUnsupportedSampleFormat = 13;  // 16 or 32 bits, but not PCM or float

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

// What ReadWaveStream checks before it reads samples, for readers that stream the samples
// themselves: ParseWaveHeader, then whether the samples are ones the program takes. Returns
// 0, 2..7, kWaveUnsupportedBits (neither 16 nor 32 bits) or kWaveUnsupportedSampleFormat
// (refused by AcceptedSampleKind: a compressed tag, an unknown sub-format, 16-bit float).
// On success the stream is at the first sample.
int ReadWaveHeader(WaveData& wave, std::istream& in);

// Parses the chunks up to the start of the sample data: "RIFF", "WAVE", an optional "LIST",
// "fmt ", an optional "LIST", "data". Sets the format record, extension bytes, sample kind
// and the sample count the data chunk claims; releases any earlier samples. Returns 0 or 2..7.
// A fmt chunk shorter than the 16 bytes of the basic format gives kWaveShortFormatChunk. Any
// other chunk (a "fact" chunk, say) makes the parse fail with kWaveNoDataChunk.
int ParseWaveHeader(WaveData& wave, std::istream& in);

// The ids of the chunks after "WAVE", in file order, up to and including "data" (at most
// kMaxListedChunks; empty when the stream is not RIFF/WAVE). For explaining a refused header,
// e.g. a "fact" chunk before the data; the parse itself does not use it.
inline constexpr std::size_t kMaxListedChunks = 64;
std::vector<std::string> ListWaveChunks(std::istream& in);

// Acceptance test of a format: 0 when acceptable, otherwise the sum of the failed checks. No
// value equals a sum of the others, so every combination of failures can be told apart. The
// format tag is not examined (AcceptedSampleKind does that).
inline constexpr int kFormatBadChannels = 20;  // channels not 1..kMaxFormatChannels
inline constexpr int kFormatBadRate = 80;      // not one of kAcceptedSampleRates
inline constexpr int kFormatBadBits = 160;     // bits per sample neither 16 nor 32
inline constexpr std::uint16_t kMaxFormatChannels = 6;
inline constexpr std::array<std::uint32_t, 7> kAcceptedSampleRates{16000, 22050, 32000, 44100,
                                                                   48000, 96000, 192000};
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
