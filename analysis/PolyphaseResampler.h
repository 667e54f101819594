#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace hushwell {

// Rational-rate FIR resampler: zero-stuffs the input by L, low-pass filters it with a
// linear-phase design and keeps every M-th sample, computing only the outputs it keeps.
// The filter state (delay line, write position, decimation phase) is carried from call to call.
//
// Coefficients are stored reversed and padded with zeros after the last design coefficient up
// to a multiple of L, so that phase r of the filter is every L-th stored coefficient from r.
// Every input sample is written twice into a delay line of 2 P values (P = taps / L), so the P
// newest samples are always one contiguous run.
//
// Threads: no lock; used by the thread that owns its analyzer.
class PolyphaseResampler {
public:
    // Designs longer than this are refused.
    static constexpr std::size_t kMaxDesignTaps = 1500;

    // An identity filter (one coefficient 1.0, L = M = 1).
    PolyphaseResampler();

    // Loads a design with factors L (up) and M (down): clears the delay line and the write
    // position; the decimation phase is kept. Returns false, changing nothing, for an empty or
    // too long design or factors below 1.
    bool Load(std::span<const double> design, int upFactor, int downFactor);

    // Resamples input and appends the outputs to output; returns how many were appended.
    std::size_t Process(std::span<const float> input, std::vector<float>& output);

    int Taps() const { return static_cast<int>(coefficients_.size()); }
    int TapsPerPhase() const { return tapsPerPhase_; }
    int UpFactor() const { return upFactor_; }
    int DownFactor() const { return downFactor_; }
    // The stored (reversed, padded) coefficients.
    const std::vector<float>& Coefficients() const { return coefficients_; }

private:
    float PhaseOutput(int phase) const;

    std::vector<float> coefficients_;
    std::vector<float> phaseCoefficients_;  // phase r, tap k at r P + k
    std::vector<float> delay_;
    int tapsPerPhase_ = 1;  // P
    int writeIndex_ = 0;
    int decimationPhase_ = 0;
    int upFactor_ = 1;
    int downFactor_ = 1;
};

}  // namespace hushwell
