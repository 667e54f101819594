#include "analysis/SpectralAnalyzer.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "analysis/MatchKernel.h"
#include "analysis/ResamplerDesigns.h"
#include "analysis/SoundReference.h"

namespace hushwell {

namespace {

// Reference thresholds: a short sound needs a closer match, so it is not mistaken for a
// fragment of something longer.
constexpr float kThresholdBase = 0.85f;
constexpr float kThresholdPerSecondInverse = 0.03f;
constexpr float kThresholdLimit = 0.98f;

// Live band values are compressed powers; the offset keeps silence finite and non-zero.
constexpr float kLivePowerOffset = 0.0001f;
constexpr double kLivePowerExponent = 0.55;

// The live band value of a frame with no energy: the offset alone, raised to the exponent.
float SilentLiveBand() {
    static const float value =
        static_cast<float>(std::pow(static_cast<double>(kLivePowerOffset), kLivePowerExponent));
    return value;
}

// One decimation-in-frequency stage over length complex values held as separate real and
// imaginary runs: butterflies of span 2 half, twiddle j for the j-th pair of every group.
template <int Half, int Length>
void ButterflyStage(float* __restrict re, float* __restrict im, const float* twiddleRe,
                    const float* twiddleIm) {
    for (int group = 0; group < Length; group += 2 * Half) {
        for (int j = 0; j < Half; ++j) {
            const int t = group + j, b = t + Half;
            const float ar = re[t], ai = im[t], cr = re[b], ci = im[b];
            re[t] = ar + cr;
            im[t] = ai + ci;
            const float dr = ar - cr, di = ai - ci;
            re[b] = dr * twiddleRe[j] - di * twiddleIm[j];
            im[b] = dr * twiddleIm[j] + di * twiddleRe[j];
        }
    }
}

// The stages of halves Half, Half / 2, ... down to 4 (span 8), their twiddles one run after
// the other; spans 4 and 2 are left to the caller.
template <int Half, int Length>
void ButterflyStages(float* re, float* im, const float* twiddleRe, const float* twiddleIm) {
    ButterflyStage<Half, Length>(re, im, twiddleRe, twiddleIm);
    if constexpr (Half > 4) {
        ButterflyStages<Half / 2, Length>(re, im, twiddleRe + Half, twiddleIm + Half);
    }
}

constexpr int kUpFactor44100 = 4;
constexpr int kUpFactor22050 = 8;

}  // namespace

SpectralAnalyzer::SpectralAnalyzer() {
    const ResamplerDesign* design = FindResamplerDesign(kInitialInputRate);
    resampler_.Load(design->coefficients, design->upFactor, design->downFactor);
    ComputeTwiddles();
    ComputeBitReversal();
    ComputeWindow();
    ComputeBandTables();
}

void SpectralAnalyzer::ComputeTwiddles() {
    const double step = 2.0 * std::numbers::pi / kFrameLength;
    double angle = 0.0;
    for (auto& w : twiddles_) {
        w = Complex(static_cast<float>(std::cos(angle)), static_cast<float>(-std::sin(angle)));
        angle += step;
    }
}

void SpectralAnalyzer::ComputeBitReversal() {
    for (std::uint32_t i = 0; i < kFrameLength; ++i) {
        std::uint32_t r = 0;
        for (std::uint32_t bit = 1; bit < kFrameLength; bit <<= 1) {
            r = (r << 1) | ((i & bit) != 0 ? 1u : 0u);
        }
        bitReversal_[i] = r;
    }
}

void SpectralAnalyzer::ComputeWindow() {
    // Symmetric Hann window: zero at both ends.
    for (int i = 0; i < kFrameLength; ++i) {
        const double phase = 2.0 * std::numbers::pi * i / (kFrameLength - 1);
        window_[i] = static_cast<float>((1.0 - std::cos(phase)) / 2.0);
    }
}

void SpectralAnalyzer::ComputeBandTables() {
    for (int m = 0; m < kFrameLength / 2; ++m) {
        firstTwiddleRe_[m] = twiddles_[m].real();
        firstTwiddleIm_[m] = twiddles_[m].imag();
    }
    for (int j = 0; j < kBandSpan; ++j) {
        thirdTwiddleRe_[j] = twiddles_[4 * j].real();
        thirdTwiddleIm_[j] = twiddles_[4 * j].imag();
    }
    int at = 0;
    for (int span = kBandSpan, stride = kFrameLength / kBandSpan; span > 4;
         span /= 2, stride *= 2) {
        for (int j = 0; j < span / 2; ++j, ++at) {
            innerTwiddleRe_[at] = twiddles_[j * stride].real();
            innerTwiddleIm_[at] = twiddles_[j * stride].imag();
        }
    }
    // The transform leaves bin k at position bitReversal_[k]; bins 5 mod 8 fill the band block.
    for (int b = 0; b < kBandCount; ++b) {
        bandSlot_[b] = static_cast<int>(bitReversal_[BandBin(b)]) - kBandBlock;
    }
}

int SpectralAnalyzer::SetInputRate(int rate) {
    if (resampler_.DownFactor() * kInternalRate == rate) {
        return 0;
    }
    const ResamplerDesign* design = FindResamplerDesign(rate);
    if (design == nullptr ||
        !resampler_.Load(design->coefficients, design->upFactor, design->downFactor)) {
        return 1;
    }
    historyStart_ += liveHistory_.size();
    liveHistory_.clear();
    historyZerosFrom_ = 0;
    return 0;
}

int SpectralAnalyzer::UpFactorForRate(int rate) {
    if (rate == 44100) {
        return kUpFactor44100;
    }
    if (rate == 22050) {
        return kUpFactor22050;
    }
    return 1;
}

void SpectralAnalyzer::ConfigureFor(int rate) {
    // An unsupported rate keeps the previous filter; the rate is stored all the same.
    if (rate != inputRate_) {
        SetInputRate(rate);
    }
    inputRate_ = rate;
}

void SpectralAnalyzer::TransformBands(const float* start) {
    // The windowed frame is real. Stage span N: the bottom half (odd bins) is
    // (x[m] - x[m + N/2]) w^m; with no imaginary component the products with it are left out, which
    // changes at most the sign of a zero. Stage span N/2 keeps its top half (bins 1 mod 4):
    // sums of values m and m + N/4. Stage span N/4 keeps its bottom half (bins 5 mod 8):
    // differences of the sums j and j + N/8, times w^(4 j).
    constexpr int kHalf = kFrameLength / 2;
    constexpr int kQuarter = kFrameLength / 4;
    const float* win = window_.data();
    auto firstStage = [&](int m, float& re, float& im) {
        const float d = start[m] * win[m] - start[m + kHalf] * win[m + kHalf];
        re = d * firstTwiddleRe_[m];
        im = d * firstTwiddleIm_[m];
    };
    for (int j = 0; j < kBandSpan; ++j) {
        float ar, ai, br, bi, cr, ci, er, ei;
        firstStage(j, ar, ai);
        firstStage(j + kQuarter, br, bi);
        firstStage(j + kBandSpan, cr, ci);
        firstStage(j + kQuarter + kBandSpan, er, ei);
        const float topR = ar + br, topI = ai + bi;
        const float bottomR = cr + er, bottomI = ci + ei;
        const float dr = topR - bottomR, di = topI - bottomI;
        const float wr = thirdTwiddleRe_[j], wi = thirdTwiddleIm_[j];
        bandRe_[j] = dr * wr - di * wi;
        bandIm_[j] = dr * wi + di * wr;
    }

    // The remaining stages on the band block, as ForwardFft does them.
    float* re = bandRe_.data();
    float* im = bandIm_.data();
    const float* twiddleRe = innerTwiddleRe_.data();
    const float* twiddleIm = innerTwiddleIm_.data();
    ButterflyStages<kBandSpan / 2, kBandSpan>(re, im, twiddleRe, twiddleIm);
    for (int q = 0; q < kBandSpan; q += 4) {
        const float r0 = re[q] + re[q + 2], i0 = im[q] + im[q + 2];
        const float r2 = re[q] - re[q + 2], i2 = im[q] - im[q + 2];
        const float r1 = re[q + 1] + re[q + 3], i1 = im[q + 1] + im[q + 3];
        const float r3 = im[q + 1] - im[q + 3], i3 = re[q + 3] - re[q + 1];
        re[q] = r0 + r1;
        im[q] = i0 + i1;
        re[q + 1] = r0 - r1;
        im[q + 1] = i0 - i1;
        re[q + 2] = r2 + r3;
        im[q + 2] = i2 + i3;
        re[q + 3] = r2 - r3;
        im[q + 3] = i2 - i3;
    }
}

float SpectralAnalyzer::BandPower(int band) const {
    const int slot = bandSlot_[band];
    return bandRe_[slot] * bandRe_[slot] + bandIm_[slot] * bandIm_[slot];
}

int SpectralAnalyzer::ExtractReferenceFeatures(int rate, int channels,
                                               std::span<const std::int16_t> samples) {
    if (channels < 1 || samples.empty()) {
        return 1;
    }
    ConfigureFor(rate);
    resampled_.clear();
    const std::size_t n =
        resampler_.ProcessPcm16(samples, channels, UpFactorForRate(rate), resampled_);

    features_.clear();
    for (std::size_t p = 0; p + kFrameLength <= n; p += kReferenceHop) {
        TransformBands(resampled_.data() + p);
        for (int b = 0; b < kBandCount; ++b) {
            features_.push_back(std::sqrt(BandPower(b)));
        }
    }

    matchThreshold_ = ThresholdForLength(samples.size() / static_cast<std::size_t>(channels), rate);
    return 0;
}

// min(0.98, 0.85 + 0.03 / duration in seconds); a sound of no whole input frame is as short
// as it gets.
float SpectralAnalyzer::ThresholdForLength(std::size_t frames, int rate) {
    if (frames == 0) {
        return kThresholdLimit;
    }
    const double perDuration =
        kThresholdPerSecondInverse * static_cast<float>(rate) / static_cast<double>(frames);
    return std::min(kThresholdLimit, static_cast<float>(kThresholdBase + perDuration));
}

void SpectralAnalyzer::ResampleLiveBlock(int channels, std::span<const std::int16_t> samples,
                                         int upFactor) {
    const std::size_t stride = static_cast<std::size_t>(channels);
    const std::size_t frames = samples.size() / stride;
    bool silent = true;
    for (std::size_t f = 0; f < frames && silent; ++f) {
        silent = samples[f * stride] == 0;
    }
    silentBlocks_ = silent ? std::min(silentBlocks_ + 1, kSilentBlockCountLimit) : 0;
    if (silentBlocks_ >= kSilentBlocksBeforeBypass) {
        // Long silence: the filter is bypassed and its state stays as it was.
        const std::size_t zeros = frames * static_cast<std::size_t>(upFactor) /
                                  static_cast<std::size_t>(resampler_.DownFactor());
        liveHistory_.insert(liveHistory_.end(), zeros, 0.0f);
        return;
    }
    const std::size_t before = liveHistory_.size();
    if (silent) {
        resampler_.ProcessSilence(frames, liveHistory_);
    } else {
        resampler_.ProcessPcm16(samples, channels, upFactor, liveHistory_);
    }
    // Note where the zeros at the end now begin.
    const auto newest = liveHistory_.rbegin();
    const auto oldestNew = liveHistory_.rend() - static_cast<std::ptrdiff_t>(before);
    const auto last = std::find_if(newest, oldestNew, [](float x) { return x != 0.0f; });
    if (last != oldestNew) {
        historyZerosFrom_ = static_cast<std::size_t>(liveHistory_.rend() - last);
    }
}

int SpectralAnalyzer::ExtractLiveFeatures(int rate, int channels,
                                          std::span<const std::int16_t> samples) {
    if (channels < 1) {
        return 0;
    }
    ConfigureFor(rate);
    const std::size_t before = liveHistory_.size();
    ResampleLiveBlock(channels, samples, UpFactorForRate(rate));
    KeepRecent(before);

    // A frame is taken only when at least one sample follows it, so frame k always starts at
    // stream sample 64 k however the stream is cut into blocks.
    std::size_t p = 0;
    for (; p + kFrameLength < liveHistory_.size(); p += kLiveHop) {
        const float* start = liveHistory_.data() + p;
        if (p >= historyZerosFrom_ ||
            std::all_of(start, start + kFrameLength, [](float x) { return x == 0.0f; })) {
            // The spectrum of silence is exactly zero: skip the transform, as an idle output
            // otherwise costs 250 transforms a second for nothing.
            features_.insert(features_.end(), kBandCount, SilentLiveBand());
            continue;
        }
        TransformBands(start);
        for (int b = 0; b < kBandCount; ++b) {
            const float power = BandPower(b) + kLivePowerOffset;
            features_.push_back(
                static_cast<float>(std::pow(static_cast<double>(power), kLivePowerExponent)));
        }
    }
    if (p > 0) {
        newestFrameStart_ = historyStart_ + p - kLiveHop;
    }
    liveHistory_.erase(liveHistory_.begin(), liveHistory_.begin() + static_cast<std::ptrdiff_t>(p));
    historyStart_ += p;
    historyZerosFrom_ -= std::min(historyZerosFrom_, p);
    return 0;
}

void SpectralAnalyzer::KeepRecentSamples(std::size_t count) {
    recentCapacity_ = count;
    recent_.clear();
    recent_.shrink_to_fit();
    recentEnd_ = historyStart_ + liveHistory_.size();
}

// The samples just resampled (liveHistory_ from `before` on) join the recent samples; the
// oldest go in bulk once twice the capacity is held, so that a block costs one copy.
void SpectralAnalyzer::KeepRecent(std::size_t before) {
    if (recentCapacity_ == 0) {
        return;
    }
    recent_.insert(recent_.end(), liveHistory_.begin() + static_cast<std::ptrdiff_t>(before),
                   liveHistory_.end());
    recentEnd_ = historyStart_ + liveHistory_.size();
    if (recent_.size() >= 2 * recentCapacity_) {
        recent_.erase(recent_.begin(),
                      recent_.end() - static_cast<std::ptrdiff_t>(recentCapacity_));
    }
}

bool SpectralAnalyzer::RecentSamplesBefore(std::uint64_t end, std::size_t count,
                                           std::vector<float>& out) const {
    const std::uint64_t oldest = recentEnd_ - recent_.size();
    if (end > recentEnd_ || end < oldest + count) {
        return false;
    }
    const auto first = recent_.begin() + static_cast<std::ptrdiff_t>(end - count - oldest);
    out.assign(first, first + static_cast<std::ptrdiff_t>(count));
    return true;
}

std::uint64_t SpectralAnalyzer::FrameStartSample(std::size_t frame) const {
    const std::size_t newer = FrameCount() - 1 - std::min(frame, FrameCount() - 1);
    return newestFrameStart_ - std::min<std::uint64_t>(newestFrameStart_, newer * kLiveHop);
}

void SpectralAnalyzer::TrimFrontFrames(std::size_t n) {
    const std::size_t values = std::min(n, FrameCount()) * kBandCount;
    features_.erase(features_.begin(), features_.begin() + static_cast<std::ptrdiff_t>(values));
}

float SpectralAnalyzer::Correlate(const SoundReference& reference) const {
    return CorrelateReference(reference.Features(), features_);
}

void SpectralAnalyzer::ForwardFft(std::span<Complex, kFrameLength> data) const {
    // Complex values are worked on as (re, im) float pairs, which std::complex guarantees.
    float* x = reinterpret_cast<float*>(data.data());
    const float* w = reinterpret_cast<const float*>(twiddles_.data());
    // Decimation in frequency: butterflies of span s with twiddle stride N / s. Spans 4 and 2
    // have the constant twiddles 1 and -i and are done without table look-ups.
    int stride = 1;
    for (int span = kFrameLength; span > 4; span /= 2, stride *= 2) {
        const int half = span / 2;
        for (int group = 0; group < kFrameLength; group += span) {
            float* top = x + 2 * group;
            float* bottom = top + 2 * half;
            for (int j = 0; j < half; ++j) {
                const float wr = w[2 * j * stride];
                const float wi = w[2 * j * stride + 1];
                const float ar = top[2 * j], ai = top[2 * j + 1];
                const float cr = bottom[2 * j], ci = bottom[2 * j + 1];
                top[2 * j] = ar + cr;
                top[2 * j + 1] = ai + ci;
                const float dr = ar - cr, di = ai - ci;
                bottom[2 * j] = dr * wr - di * wi;
                bottom[2 * j + 1] = dr * wi + di * wr;
            }
        }
    }
    for (float* q = x; q < x + 2 * kFrameLength; q += 8) {
        // Span 4: (q0, q2) with twiddle 1, (q1, q3) with twiddle -i.
        const float r0 = q[0] + q[4], i0 = q[1] + q[5];
        const float r2 = q[0] - q[4], i2 = q[1] - q[5];
        const float r1 = q[2] + q[6], i1 = q[3] + q[7];
        const float r3 = q[3] - q[7], i3 = q[6] - q[2];
        // Span 2: twiddle 1.
        q[0] = r0 + r1;
        q[1] = i0 + i1;
        q[2] = r0 - r1;
        q[3] = i0 - i1;
        q[4] = r2 + r3;
        q[5] = i2 + i3;
        q[6] = r2 - r3;
        q[7] = i2 - i3;
    }
    for (std::uint32_t i = 0; i < kFrameLength; ++i) {
        if (i < bitReversal_[i]) {
            std::swap(data[i], data[bitReversal_[i]]);
        }
    }
}

}  // namespace hushwell
