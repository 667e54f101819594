#pragma once

#include <cstdint>
#include <span>

namespace hushwell {

// Follows the loudness of the output: a one-pole smoothing of the magnitude of the first
// channel's samples, with a factor set by the block rate so that the level follows the signal
// within a few samples. Level triggers compare the value after a block's last sample with a
// percentage of full scale.
//
// Owned by the detection engine; Update and every reader run on the detection thread. The
// level persists across blocks and across stops and starts of detection.
class LevelMeter {
public:
    // Full scale of 16-bit samples; a percentage p of it is p x 327.68.
    static constexpr double kFullScale = 32768.0;

    // Smoothing factor for a block rate in Hz: 1 - 1 / (0.1 x (rate / 1000)) with the division
    // by 1000 in integers: 0.375 at 16000 Hz, 0.7917 at 48000 Hz. Rates below 11000 Hz would
    // give a factor of 0 or less (or divide by zero); they get 0, the level then follows the
    // magnitude directly.
    static float SmoothingFactor(int rate);

    // Detection thread. Smooths over the first-channel samples (indices 0, channels,
    // 2 x channels, ...) of the whole frames of an interleaved 16-bit block. Stores the block's
    // smoothing factor. A level that has decayed below 1e-6 after the block becomes 0, so that
    // silence reads as 0. Returns true when any first-channel sample is non-zero.
    bool Update(int rate, int channels, std::span<const std::int16_t> samples);

    // Detection thread. True when the level exceeds `percent` % of full scale (compared in
    // double precision): 100 % is never exceeded, 0 % by any sound.
    bool Exceeds(int percent) const;

    float Level() const { return level_; }
    float Factor() const { return factor_; }

private:
    float level_ = 0.0f;
    float factor_ = 0.0f;
};

}  // namespace hushwell
