#include "analysis/PolyphaseResampler.h"

#include <algorithm>
#include <cstring>
#include <numeric>

namespace hushwell {

namespace {

constexpr double kIdentity[] = {1.0};

// Four floats worked on together; lane i holds partial sum i.
using Float4 = float __attribute__((vector_size(16)));
constexpr int kLanes = 4;
// Outputs computed side by side, so that their additions do not wait on each other.
constexpr std::size_t kOutputsPerGroup = 4;

Float4 Load4(const float* values) {
    Float4 v;
    std::memcpy(&v, values, sizeof v);
    return v;
}

// The sum over k of coef[k] samples[k] for each of the Count windows, as four partial sums:
// partial sum i takes the products k = i, i + 4, ... of the whole blocks of four, partial sum 0
// also the products after them; the result is (s0 + s1) + (s2 + s3). The windows share one
// coefficient run, which is loaded once for all of them.
template <std::size_t Count>
void DotProducts(const float* coef, const float* const (&samples)[Count], int length,
                 float* const (&out)[Count]) {
    Float4 sums[Count] = {};
    int k = 0;
    for (; k + kLanes <= length; k += kLanes) {
        const Float4 c = Load4(coef + k);
        for (std::size_t j = 0; j < Count; ++j) {
            sums[j] += c * Load4(samples[j] + k);
        }
    }
    for (std::size_t j = 0; j < Count; ++j) {
        float s0 = sums[j][0];
        for (int t = k; t < length; ++t) {
            s0 += coef[t] * samples[j][t];
        }
        *out[j] = (s0 + sums[j][1]) + (sums[j][2] + sums[j][3]);
    }
}

// out[f] = samples[f stride] gain, for frames values.
void ConvertFirstChannel(const std::int16_t* samples, std::size_t frames, std::size_t stride,
                         int gain, float* out) {
    for (std::size_t f = 0; f < frames; ++f) {
        out[f] = static_cast<float>(static_cast<int>(samples[f * stride]) * gain);
    }
}

template <std::size_t Stride>
void ConvertFirstChannel(const std::int16_t* samples, std::size_t frames, int gain, float* out) {
    ConvertFirstChannel(samples, frames, Stride, gain, out);
}

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
    line_.assign(static_cast<std::size_t>(tapsPerPhase_ - 1), 0.0f);
    upFactor_ = upFactor;
    downFactor_ = downFactor;
    // The decimation phase is deliberately kept: it counts upsampled positions of the stream.
    return true;
}

std::size_t PolyphaseResampler::Process(std::span<const float> input, std::vector<float>& output) {
    line_.insert(line_.end(), input.begin(), input.end());
    return Drain(input.size(), output);
}

std::size_t PolyphaseResampler::ProcessPcm16(std::span<const std::int16_t> samples, int channels,
                                             int gain, std::vector<float>& output) {
    const std::size_t stride = static_cast<std::size_t>(std::max(channels, 1));
    const std::size_t frames = samples.size() / stride;
    const std::size_t history = line_.size();
    line_.resize(history + frames);
    float* in = line_.data() + history;
    // Mono and stereo get loops of a fixed stride, which the compiler turns into vector code.
    switch (stride) {
        case 1:
            ConvertFirstChannel<1>(samples.data(), frames, gain, in);
            break;
        case 2:
            ConvertFirstChannel<2>(samples.data(), frames, gain, in);
            break;
        default:
            ConvertFirstChannel(samples.data(), frames, stride, gain, in);
            break;
    }
    return Drain(frames, output);
}

std::size_t PolyphaseResampler::ProcessSilence(std::size_t count, std::vector<float>& output) {
    if (!MemoryIsSilent()) {
        line_.insert(line_.end(), count, 0.0f);
        return Drain(count, output);
    }
    // Every window of these outputs holds only zeros, and so does the memory afterwards.
    const std::size_t outputs = OutputsFor(count);
    output.insert(output.end(), outputs, 0.0f);
    const std::size_t positions = count * static_cast<std::size_t>(upFactor_);
    decimationPhase_ = static_cast<int>((static_cast<std::size_t>(decimationPhase_) + positions) %
                                        static_cast<std::size_t>(downFactor_));
    return outputs;
}

bool PolyphaseResampler::MemoryIsSilent() const {
    return std::all_of(line_.begin(), line_.end(), [](float x) { return x == 0.0f; });
}

std::size_t PolyphaseResampler::OutputsFor(std::size_t count) const {
    // Upsampled position u of the call (0 for the newest phase of its first sample) is kept
    // when (decimation phase + u) is a multiple of M.
    const std::size_t down = static_cast<std::size_t>(downFactor_);
    const std::size_t positions = count * static_cast<std::size_t>(upFactor_);
    const std::size_t first = (down - static_cast<std::size_t>(decimationPhase_)) % down;
    return first < positions ? (positions - first - 1) / down + 1 : 0;
}

std::size_t PolyphaseResampler::Drain(std::size_t count, std::vector<float>& output) {
    const std::size_t up = static_cast<std::size_t>(upFactor_);
    const std::size_t down = static_cast<std::size_t>(downFactor_);
    const std::size_t taps = static_cast<std::size_t>(tapsPerPhase_);
    const std::size_t outputs = OutputsFor(count);
    const std::size_t first = (down - static_cast<std::size_t>(decimationPhase_)) % down;

    // Output j sits at upsampled position u = first + j M = L sample + offset: its window
    // starts at line_[sample] and it uses phase L - 1 - offset. Outputs j and j + period are
    // spacing samples apart with the same phase, so they are computed in groups that share it.
    const std::size_t period = up / std::gcd(up, down);
    const std::size_t spacing = period * down / up;
    const std::size_t before = output.size();
    output.resize(before + outputs);
    float* out = output.data() + before;
    const float* line = line_.data();
    std::size_t sample = first / up;
    std::size_t offset = first % up;
    auto phaseRun = [&] { return phaseCoefficients_.data() + (up - 1 - offset) * taps; };
    auto nextOutput = [&] {
        sample += down / up;
        offset += down % up;
        if (offset >= up) {
            offset -= up;
            ++sample;
        }
    };
    constexpr std::size_t kGroup = kOutputsPerGroup;
    std::size_t done = 0;
    for (; done + kGroup * period <= outputs; done += kGroup * period) {
        for (std::size_t j = done; j < done + period; ++j) {
            const float* const windows[kGroup] = {line + sample, line + sample + spacing,
                                                  line + sample + 2 * spacing,
                                                  line + sample + 3 * spacing};
            float* const results[kGroup] = {out + j, out + j + period, out + j + 2 * period,
                                            out + j + 3 * period};
            DotProducts(phaseRun(), windows, tapsPerPhase_, results);
            nextOutput();
        }
        // From output done + period on to done + 4 period.
        sample += (kGroup - 1) * spacing;
    }
    for (std::size_t j = done; j < outputs; ++j) {
        const float* const windows[1] = {line + sample};
        float* const results[1] = {out + j};
        DotProducts(phaseRun(), windows, tapsPerPhase_, results);
        nextOutput();
    }

    decimationPhase_ =
        static_cast<int>((static_cast<std::size_t>(decimationPhase_) + count * up) % down);
    line_.erase(line_.begin(), line_.begin() + static_cast<std::ptrdiff_t>(count));
    return outputs;
}

}  // namespace hushwell
