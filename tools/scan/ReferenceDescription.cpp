#include "tools/scan/ReferenceDescription.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <ostream>

#include "analysis/SpectralAnalyzer.h"
#include "detection/ReferenceSet.h"
#include "tools/scan/ScanTriggers.h"
#include "wav/SampleConversion.h"
#include "wav/WaveFile.h"

namespace hushwell::scan {

namespace {

std::string Fixed(double value, int decimals) {
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

double Seconds(std::int64_t samples, const WaveFormat& format) {
    return static_cast<double>(samples) / format.channels / format.sampleRate;
}

// The whole samples from the stream's position to the end of the file.
std::int64_t SamplesLeftIn(std::istream& in, const WaveFormat& format) {
    const std::streamoff start = in.tellg();
    in.seekg(0, std::ios::end);
    const std::streamoff end = in.tellg();
    const std::int64_t bytesPerSample = std::max(1, format.bitsPerSample / 8);
    if (start < 0 || end < start) {
        return 0;
    }
    return static_cast<std::int64_t>(end - start) / bytesPerSample;
}

}  // namespace

bool ReferenceDescription::Describe(const std::string& path, std::ostream& out,
                                    std::string& error) {
    if (error = ScanTriggers::CheckReferenceFile(path); !error.empty()) {
        return false;
    }
    // The whole length the file holds (its header may claim more), the analysed part as the
    // reference set reads it.
    WaveData header;
    std::ifstream in(path, std::ios::binary);
    ParseWaveHeader(header, in);
    const std::int64_t claimed = header.SampleCount();
    const std::int64_t held = std::min(claimed, SamplesLeftIn(in, header.Format()));
    WaveData sound;
    ReadWaveFile(sound, path, ReferenceSet::kMaxReferenceSeconds);
    const WaveFormat& format = sound.Format();
    const int rate = static_cast<int>(format.sampleRate);

    SpectralAnalyzer analyzer;
    analyzer.SetInputRate(rate);
    analyzer.ExtractReferenceFeatures(rate, format.channels, SoundSamplesToPcm16(sound));

    out << path << '\n'
        << "  rate: " << format.sampleRate << " Hz\n"
        << "  channels: " << format.channels << '\n'
        << "  bits per sample: " << format.bitsPerSample << '\n'
        << "  duration: " << Fixed(Seconds(held, format), 3) << " s\n"
        << "  analysed: " << Fixed(Seconds(sound.SampleCount(), format), 3)
        << " s (sounds are cut to their first 7 s)\n"
        << "  feature frames: " << analyzer.FrameCount() << '\n'
        << "  match threshold: " << Fixed(analyzer.MatchThreshold(), 4) << '\n';
    if (held < claimed) {
        out << "  warning: the header claims " << Fixed(Seconds(claimed, format), 3)
            << " s; the file holds only the " << Fixed(Seconds(held, format), 3) << " s above\n";
    }
    if (analyzer.FrameCount() == 0) {
        out << "  (shorter than one frame of 32 ms: it can never match)\n";
    }
    return true;
}

}  // namespace hushwell::scan
