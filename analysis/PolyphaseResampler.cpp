#include "analysis/PolyphaseResampler.h"

namespace hushwell {

namespace {
constexpr double kIdentity[] = {1.0};
}  // namespace

PolyphaseResampler::PolyphaseResampler() {
    Load(kIdentity, 1, 1);
}

bool PolyphaseResampler::Load(std::span<const double> design, int upFactor, int downFactor) {
    if (design.empty() || design.size() > kMaxDesignTaps || upFactor < 1 || downFactor < 1) {
        return false;
    }
    // Round the length up to whole phases; the zeros go after the last design coefficient,
    // which is the front of the reversed array.
    const std::size_t phases = static_cast<std::size_t>(upFactor);
    const std::size_t padded = (design.size() + phases - 1) / phases * phases;
    coefficients_.assign(padded - design.size(), 0.0f);
    for (auto it = design.rbegin(); it != design.rend(); ++it) {
        coefficients_.push_back(static_cast<float>(*it));
    }
    tapsPerPhase_ = static_cast<int>(padded / phases);
    // The same coefficients grouped by phase, so each output reads one contiguous run.
    phaseCoefficients_.resize(padded);
    for (std::size_t r = 0; r < phases; ++r) {
        for (std::size_t k = 0; k < padded / phases; ++k) {
            phaseCoefficients_[r * (padded / phases) + k] = coefficients_[r + k * phases];
        }
    }
    delay_.assign(2 * static_cast<std::size_t>(tapsPerPhase_), 0.0f);
    writeIndex_ = 0;
    upFactor_ = upFactor;
    downFactor_ = downFactor;
    // The decimation phase is deliberately kept: it counts upsampled positions of the stream.
    return true;
}

float PolyphaseResampler::PhaseOutput(int phase) const {
    // delay_[writeIndex_ + 1] is the oldest of the P newest samples, delay_[writeIndex_ + P]
    // the newest; coefficient phase + k L weighs the k-th of them. Four partial sums keep the
    // additions from waiting on each other.
    const float* samples = delay_.data() + writeIndex_ + 1;
    const float* coef = phaseCoefficients_.data() + static_cast<std::size_t>(phase) * tapsPerPhase_;
    float sum[4] = {0.0f, 0.0f, 0.0f, 0.0f};
    int k = 0;
    for (; k + 4 <= tapsPerPhase_; k += 4) {
        sum[0] += coef[k] * samples[k];
        sum[1] += coef[k + 1] * samples[k + 1];
        sum[2] += coef[k + 2] * samples[k + 2];
        sum[3] += coef[k + 3] * samples[k + 3];
    }
    for (; k < tapsPerPhase_; ++k) {
        sum[0] += coef[k] * samples[k];
    }
    return (sum[0] + sum[1]) + (sum[2] + sum[3]);
}

std::size_t PolyphaseResampler::Process(std::span<const float> input, std::vector<float>& output) {
    const std::size_t before = output.size();
    for (const float x : input) {
        delay_[writeIndex_] = x;
        delay_[writeIndex_ + tapsPerPhase_] = x;
        // The L upsampled positions of this input sample, oldest first; only every M-th
        // position of the stream is computed.
        for (int phase = upFactor_ - 1; phase >= 0; --phase) {
            if (decimationPhase_ == 0) {
                output.push_back(PhaseOutput(phase));
            }
            decimationPhase_ = (decimationPhase_ + 1) % downFactor_;
        }
        if (++writeIndex_ == tapsPerPhase_) {
            writeIndex_ = 0;
        }
    }
    return output.size() - before;
}

}  // namespace hushwell
