// Feeds arbitrary bytes to the WAV reader as if they were a file, with the longest time limit
// the program uses, then runs the conversions a caller would apply to what was read, and the
// chunk listing that explains a refused header.
#include <cstddef>
#include <cstdint>
#include <sstream>
#include <string>

#include "wav/SampleConversion.h"
#include "wav/WaveFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::istringstream stream(bytes, std::ios::binary);
    hushwell::WaveData wave;
    const int result = hushwell::ReadWaveStream(wave, stream, hushwell::kEditorOpenMaxSeconds);
    hushwell::CheckAudioFormat(wave.Format());
    if (result == hushwell::kWaveOk) {
        hushwell::SoundSamplesToPcm16(wave);
    }
    std::istringstream again(bytes, std::ios::binary);
    hushwell::ListWaveChunks(again);
    return 0;
}
