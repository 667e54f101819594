#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/RadixTwoFft.h"

namespace hushwell {

// Tuning of the band levels that a steady or slowly changing bed cannot swamp (WhitenedBands).
// Samples are at the internal rate of 16 kHz.
struct WhitenedBandConstants {
    static constexpr int kFrameLength = 512;  // samples (32 ms), Hann-windowed
    static constexpr int kLog2FrameLength = 9;
    static constexpr int kLiveHop = 256;       // samples (16 ms) between live frames
    static constexpr int kReferenceHop = 512;  // samples between a reference's frames
    static constexpr int kLiveFramesPerReferenceFrame = kReferenceHop / kLiveHop;
    static constexpr int kBandCount = 24;         // bands, spaced evenly in log frequency
    static constexpr float kLowestHz = 150.0f;    // lower edge of the lowest band
    static constexpr float kHighestHz = 7000.0f;  // upper edge of the highest band
    static constexpr int kInternalRate = 16000;   // Hz
    // dB a second the running floor of a live band may rise; it falls at once.
    static constexpr float kFloorRiseDbPerSecond = 3.0f;
    // A reference's cell counts from this far below its loudest cell (dB); quieter cells are 0,
    // and a band without any cell that loud carries no weight.
    static constexpr float kReferenceRangeDb = 30.0f;
    // Values are kept in steps of half a dB, live levels up to 63.5 dB above their floor.
    static constexpr float kStepsPerDb = 2.0f;
    static constexpr int kMaxLiveValue = 127;
    // The level of a band in digital silence (dB of power in 16-bit sample units).
    static constexpr float kSilentDb = -100.0f;
    // Reference frames compared at most: the last 1.5 s of a reference.
    static constexpr std::size_t kMaxPatternFrames = 47;
};

// The newest live frames a reference pattern is compared with: every kLiveFramesPerReferenceFrame
// -th frame, the oldest first, and per band the sums of the values and of their squares over
// the newest k of them (k = 0 .. frames), so that a pattern of any length finds its sums at once.
struct WhitenedWindow {
    std::size_t frames = 0;                   // gathered; at most kMaxPatternFrames
    std::uint64_t end = 0;                    // stream sample at which the newest frame ends
    std::vector<std::uint8_t> values;         // frames x kBandCount, oldest frame first
    std::vector<std::int32_t> newestSums;     // (k, band) -> sum over the newest k frames
    std::vector<std::int32_t> newestSquares;  // the same for the squares
};

// Band levels of a signal at the internal rate, in dB, for matching under a bed:
//  - a reference's pattern: the level of each band in each frame of its last 1.5 s, counted
//    from kReferenceRangeDb below its loudest cell, so that only what the sound itself makes
//    loud carries weight;
//  - live: each band's level above its running floor (which follows the band down at once and
//    up only slowly), so that a steady bed reads as nothing and the sound on top of it as
//    itself.
// Each frame is a Hann-windowed 512-point transform; a band's level is the power of its bins.
//
// Threads: no lock. A live object belongs to the detection thread; ReferencePattern may run on
// any thread.
class WhitenedBands {
public:
    using Constants = WhitenedBandConstants;

    WhitenedBands();

    // The pattern of a sound at the internal rate: the frames ending at every multiple of
    // kReferenceHop from the sound's last whole frame back, at most kMaxPatternFrames of them,
    // the oldest first, kBandCount values each. Empty for a sound without a whole frame or
    // without any sound in it.
    std::vector<std::uint8_t> ReferencePattern(std::span<const float> sound);

    // --- Live (detection thread) ---

    // Forgets the live frames and floors; the next sample appended is stream sample `origin`.
    void Reset(std::uint64_t origin);
    // Appends the next samples of the stream and makes every frame they complete.
    void Append(std::span<const float> samples);
    // The newest frames (at most `frames`, at the reference hop) ending at or before stream
    // sample `end`. False when no frame ends by then.
    bool Window(std::uint64_t end, std::size_t frames, WhitenedWindow& out) const;
    std::size_t LiveFrameCount() const { return liveValues_.size() / Constants::kBandCount; }

private:
    // Band levels (dB) of the frame starting at `start`.
    void LevelsOf(const float* start, std::array<float, Constants::kBandCount>& levels);
    void MakeLiveFrame(const float* start);
    void DropOldFrames();

    RadixTwoFft fft_{Constants::kLog2FrameLength};
    std::array<float, Constants::kFrameLength> window_{};
    std::array<int, Constants::kBandCount + 1> bandEdges_{};  // first bin of each band, and end
    std::array<std::complex<float>, Constants::kFrameLength> scratch_{};

    // Live state.
    std::uint64_t origin_ = 0;      // stream sample of pending_[0] when no frame is made
    std::uint64_t firstFrame_ = 0;  // number of the oldest frame in liveValues_
    std::uint64_t madeFrames_ = 0;  // frames made since the reset
    std::vector<float> pending_;    // samples not yet past by a hop
    std::vector<std::uint8_t> liveValues_;
    std::array<float, Constants::kBandCount> floors_{};
    bool floorsSet_ = false;
};

}  // namespace hushwell
