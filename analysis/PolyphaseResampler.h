#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace hushwell {

// Rational-rate FIR resampler: zero-stuffs the input by L, low-pass filters it with a
// linear-phase design and keeps every M-th sample, computing only the outputs it keeps.
// The filter state (the last P - 1 input samples, P = taps / L, and the decimation phase) is
// carried from call to call.
//
// Coefficients are stored reversed and padded with zeros after the last design coefficient up
// to a multiple of L, so that phase r of the filter is every L-th stored coefficient from r.
// Each call appends its input to the remembered samples, so the window of every output is one
// contiguous run; outputs are computed four at a time, each as four partial sums.
//
// Threads: no lock; used by the thread that owns its analyzer.
class PolyphaseResampler {
public:
    // Designs longer than this are refused.
    static constexpr std::size_t kMaxDesignTaps = 1500;

    // An identity filter (one coefficient 1.0, L = M = 1).
    PolyphaseResampler();

    // Loads a design with factors L (up) and M (down): clears the filter memory; the decimation
    // phase is kept. Returns false, changing nothing, for an empty or too long design or factors
    // below 1.
    bool Load(std::span<const double> design, int upFactor, int downFactor);

    // Resamples input and appends the outputs to output; returns how many were appended.
    std::size_t Process(std::span<const float> input, std::vector<float>& output);

    // The same for the first channel of interleaved 16-bit samples (channels >= 1), each taken
    // times gain; the frame count is samples.size() / channels.
    std::size_t ProcessPcm16(std::span<const std::int16_t> samples, int channels, int gain,
                             std::vector<float>& output);

    // The same for count zero samples. While the filter memory holds only zeros the outputs are
    // exactly zero, and they are appended without filtering.
    std::size_t ProcessSilence(std::size_t count, std::vector<float>& output);

    // True when every sample the next output still reads from the past is zero.
    bool MemoryIsSilent() const;

    int Taps() const { return static_cast<int>(coefficients_.size()); }
    int TapsPerPhase() const { return tapsPerPhase_; }
    int UpFactor() const { return upFactor_; }
    int DownFactor() const { return downFactor_; }
    // The stored (reversed, padded) coefficients.
    const std::vector<float>& Coefficients() const { return coefficients_; }

private:
    // How many outputs the next count input samples produce from the current decimation phase.
    std::size_t OutputsFor(std::size_t count) const;
    // Filters the count samples appended to the memory, then keeps only the last P - 1.
    std::size_t Drain(std::size_t count, std::vector<float>& output);

    std::vector<float> coefficients_;
    std::vector<float> phaseCoefficients_;  // phase r, tap k at r P + k
    // The last P - 1 input samples, oldest first, followed by the samples of the current call.
    std::vector<float> line_;
    int tapsPerPhase_ = 1;  // P
    int decimationPhase_ = 0;
    int upFactor_ = 1;
    int downFactor_ = 1;
};

}  // namespace hushwell
