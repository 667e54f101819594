#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/RadixTwoFft.h"

namespace hushwell {

// Tuning of the tonal tracks (TonalTracks). Samples are at the internal rate of 16 kHz.
struct TonalTrackConstants {
    static constexpr int kLength = 2048;  // samples (128 ms) of a Hann-windowed transform
    static constexpr int kLog2Length = 11;
    static constexpr int kHop = 512;  // samples (32 ms) between frames, live and reference
    static constexpr int kInternalRate = 16000;  // Hz; a bin is 7.8 Hz
    static constexpr int kFirstBin = 19;         // about 150 Hz
    static constexpr int kLastBin = 768;         // about 6 kHz
    static constexpr int kBinCount = kLastBin - kFirstBin + 1;
    // A bin's prominence is its level less the mean level (dB) of the bins this far each side.
    static constexpr int kAround = 24;
    // Live prominence is read as the largest within this share of a bin's frequency (and at
    // least kMinToleranceBins each side): a sound played 1 % fast keeps its tracks.
    static constexpr float kTolerance = 0.015f;
    static constexpr int kMinToleranceBins = 2;
    // Prominence is kept in steps of half a dB from 0 to kMostDb.
    static constexpr float kStepsPerDb = 2.0f;
    static constexpr float kMostDb = 40.0f;
    // A reference keeps up to kMaxTracks bins, kMinTrackDistance bins apart at least, that stand
    // out by kMinTrackDb somewhere in its last frames and are no more than kTrackRangeDb below
    // its loudest bin.
    static constexpr std::size_t kMaxTracks = 12;
    static constexpr int kMinTrackDistance = 4;
    static constexpr float kMinTrackDb = 10.0f;
    static constexpr float kTrackRangeDb = 30.0f;
    // Reference frames compared at most: the last 1.5 s of a reference.
    static constexpr std::size_t kMaxPatternFrames = 47;
};

// A reference's tonal tracks: the bins it keeps and, frame by frame, their prominence.
struct TonalPattern {
    std::vector<std::uint16_t> bins;   // transform bins, increasing
    std::vector<std::uint8_t> values;  // frames x bins.size(), the oldest frame first
    std::size_t Frames() const { return bins.empty() ? 0 : values.size() / bins.size(); }
    bool IsEmpty() const { return values.empty(); }
};

// How far each bin of a sound stands out from the bins around it, frame by frame, at fine
// resolution (2048-point transforms every 32 ms): a tone, a chime's partials or a voice's
// harmonics stand out as tracks; a bed of noise or talk raises the bins around a track as
// much as the track itself, so it barely changes how far the track stands out.
//  - A reference keeps its most prominent bins over its last 1.5 s and their prominence in
//    each of its frames (ReferencePattern).
//  - Live, each frame keeps every bin's prominence widened to the largest within the
//    tolerance around it, so that a reference's bin reads the live track nearest to it.
//
// Threads: no lock. A live object belongs to the detection thread; ReferencePattern may run on
// any thread that owns the object.
class TonalTracks {
public:
    using Constants = TonalTrackConstants;

    TonalTracks();

    // The pattern of a sound at the internal rate, over the frames ending at every multiple of
    // kHop from its last whole hop back (at most kMaxPatternFrames; a frame that reaches
    // before the sound's start has zeros there). Empty when no bin qualifies.
    TonalPattern ReferencePattern(std::span<const float> sound);

    // --- Live (detection thread) ---

    // The bins live frames are read at (the bins of every pattern scored against them), so that
    // only those are widened; other bins read 0. Empty, the default: every bin.
    void SetReadBins(std::vector<std::uint16_t> bins);
    // Forgets the live frames; the next sample appended is stream sample `origin`.
    void Reset(std::uint64_t origin);
    // Appends the next samples of the stream and makes every frame they complete.
    void Append(std::span<const float> samples);
    // The number of the newest frame ending at or before stream sample `end`, and the stream
    // sample it ends at; false when there is none.
    bool NewestFrameBy(std::uint64_t end, std::uint64_t& frame, std::uint64_t& frameEnd) const;
    // The widened prominence of live frame `frame` (kBinCount values from kFirstBin); null when
    // the frame is no longer (or not yet) kept.
    const std::uint8_t* LiveFrame(std::uint64_t frame) const;

private:
    // The prominence (dB) of bins [kFirstBin - widest tolerance, kLastBin + widest tolerance]
    // of the frame of kLength samples at `start`, and the bins' levels when asked.
    void ProminenceOf(const float* start, std::vector<float>& prominence,
                      std::vector<float>* levels);
    void MakeLiveFrame(const float* start);
    void DropOldFrames();

    // The power of bins [0, bins) of the windowed frame at `start`, into power_: the real
    // frame is transformed as kLength / 2 complex values (even samples real, odd imaginary)
    // and the halves are separated afterwards, half the work of a complex transform.
    void PowerSpectrum(const float* start, int bins);

    RadixTwoFft halfFft_{Constants::kLog2Length - 1};
    std::vector<std::complex<float>> splitTwiddles_;  // e^(-2 pi i k / kLength), k < kLength / 2
    std::array<float, Constants::kLength> window_{};
    std::array<std::complex<float>, Constants::kLength / 2> packed_{};
    std::vector<float> power_;
    std::vector<float> levels_;      // dB per bin, scratch
    std::vector<float> prominence_;  // scratch
    std::vector<float> frameScratch_;
    std::vector<double> sums_;  // running sums of the levels, scratch

    // Live state.
    std::uint64_t origin_ = 0;
    std::uint64_t firstFrame_ = 0;  // number of the oldest frame in live_
    std::uint64_t madeFrames_ = 0;
    std::vector<float> pending_;
    std::vector<std::uint8_t> live_;  // kBinCount values per frame
    std::vector<std::uint16_t> readBins_;
};

}  // namespace hushwell
