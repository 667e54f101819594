#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "analysis/PolyphaseResampler.h"

namespace hushwell {

class SoundReference;

// Turns 16-bit PCM at one of seven input rates into spectral feature frames on an internal
// rate of about 16 kHz: each frame is 32 band magnitudes read from a 512-point FFT of a
// Hann-windowed stretch of the resampled signal.
//
// Two modes:
//  - reference mode analyses one whole sound per call with a hop of 512 samples, replaces the
//    feature sequence and derives the sound's match threshold from its duration;
//  - live mode analyses a stream block by block with a hop of 64 samples and appends frames;
//    frame k of the stream always starts at internal sample 64 k, whatever the block sizes.
//
// Only the 32 band bins of each transform are read, so a frame computes just the butterflies
// of the transform that lead to them (bins 5 mod 8), with the same operations in the same order as
// the whole transform. Silence is cheap in live mode: an all-zero block whose filter memory is
// all zero too yields zeros without filtering, and frames of zeros take the band value of
// silence without a transform; both give exactly what the full path gives.
//
// Threads: no lock of its own. The engine's reference analyzer is used only while the
// reference set is rebuilt with detection stopped; its live analyzer is used only by the
// detection thread. Every method belongs to whichever of those threads owns the object.
class SpectralAnalyzer {
public:
    static constexpr int kInternalRate = 16000;
    static constexpr int kFrameLength = 512;  // N
    static constexpr int kLog2FrameLength = 9;
    static constexpr int kReferenceHop = 512;
    static constexpr int kLiveHop = 64;
    static constexpr int kBandCount = 32;  // B
    static constexpr int kInitialInputRate = 48000;

    // Silence gate: live mode skips the resampler from this many consecutive all-zero blocks on,
    // appending frames x L / M zeros and leaving the filter state as it was.
    static constexpr int kSilentBlocksBeforeBypass = 100;
    static constexpr int kSilentBlockCountLimit = 1000;

    using Complex = std::complex<float>;

    // Configured for 48000 Hz input; twiddles, bit-reversal table and window computed.
    SpectralAnalyzer();

    // Loads the filter for rate unless the current decimation already matches it.
    // Returns 0, or 1 for a rate the table does not list (nothing changes then).
    int SetInputRate(int rate);

    // Analyses one whole sound (interleaved; only the first channel is used; the frame count
    // is samples.size() / channels). Replaces the feature sequence and sets the match
    // threshold. Returns 0, or 1 when channels < 1 or there are no samples (nothing changes).
    int ExtractReferenceFeatures(int rate, int channels, std::span<const std::int16_t> samples);

    // Analyses the next block of the live stream and appends its frames. Returns 0. A block
    // with channels < 1 is ignored.
    int ExtractLiveFeatures(int rate, int channels, std::span<const std::int16_t> samples);

    // The feature sequence: frame-major, kBandCount floats per frame.
    const std::vector<float>& Features() const { return features_; }
    std::size_t FrameCount() const { return features_.size() / kBandCount; }
    // Drops the oldest n frames (all of them when n exceeds the count).
    void TrimFrontFrames(std::size_t n);

    float MatchThreshold() const { return matchThreshold_; }
    // The match threshold a sound of this many frames at this rate gets (its length decides).
    static float ThresholdForLength(std::size_t frames, int rate);

    // Live mode: the score of a reference against the newest live frames, the cosine
    // similarity of their band patterns over bands 0..23 (CorrelateReference). The detection
    // step scores many references at once through MatchKernel with the same result.
    float Correlate(const SoundReference& reference) const;

    // Reference mode: the sound as resampled to the internal rate by the last call.
    std::span<const float> ReferenceSamples() const { return resampled_; }

    // Live mode keeps the newest `count` resampled samples (at least) for a closer look at a
    // match; 0, the default, keeps none. Samples are numbered from the start of the stream.
    void KeepRecentSamples(std::size_t count);
    // Copies the `count` samples before stream sample `end`; false when they are not all kept.
    bool RecentSamplesBefore(std::uint64_t end, std::size_t count, std::vector<float>& out) const;
    // The stream sample just past the newest sample resampled (kept or not).
    std::uint64_t RecentEnd() const { return historyStart_ + liveHistory_.size(); }
    // The stream sample at which live frame `frame` of the feature sequence starts.
    std::uint64_t FrameStartSample(std::size_t frame) const;

    // The rate passed with the last extraction (48000 before any).
    int InputRate() const { return inputRate_; }
    int DecimationFactor() const { return resampler_.DownFactor(); }
    int FrameLength() const { return kFrameLength; }
    int LiveHop() const { return kLiveHop; }
    int BandCount() const { return kBandCount; }
    const PolyphaseResampler& Resampler() const { return resampler_; }

    // In-place forward DFT of kFrameLength values, X[k] = sum x[n] e^(-2 pi i k n / N).
    void ForwardFft(std::span<Complex, kFrameLength> data) const;

    // The FFT bin read for band b: 8 b + 5 for N = 512, B = 32 (about 156 Hz to 7.9 kHz).
    static constexpr int BandBin(int band) {
        return ((kFrameLength / (2 * kBandCount)) * (2 * band + 1) + 2) / 2;
    }

    // The count of consecutive all-zero live blocks of this analyzer's stream (written only by
    // live mode, hence only by the thread that feeds it). Each live stream has its own: the
    // whole output's and each program's stream are silent at different times.
    int SilentBlockCount() const { return silentBlocks_; }
    void ResetSilentBlockCount() { silentBlocks_ = 0; }

private:
    // Upsampling factor L used for the samples of a given input rate.
    static int UpFactorForRate(int rate);
    void ConfigureFor(int rate);
    // Resamples the block onto the end of liveHistory_.
    void ResampleLiveBlock(int channels, std::span<const std::int16_t> samples, int upFactor);
    // Windows the frame starting at start and computes its band bins into bandRe_, bandIm_.
    void TransformBands(const float* start);
    // The squared magnitude of band b's bin after TransformBands.
    float BandPower(int band) const;
    void KeepRecent(std::size_t before);
    void ComputeTwiddles();
    void ComputeBitReversal();
    void ComputeWindow();
    void ComputeBandTables();

    std::vector<float> features_;
    PolyphaseResampler resampler_;
    int inputRate_ = kInitialInputRate;
    std::vector<float> liveHistory_;
    // liveHistory_ holds only zeros from this index on.
    std::size_t historyZerosFrom_ = 0;
    int silentBlocks_ = 0;
    float matchThreshold_ = 1.0f;
    // The stream sample liveHistory_ starts at, and that of the newest live frame.
    std::uint64_t historyStart_ = 0;
    std::uint64_t newestFrameStart_ = 0;
    // The newest resampled live samples, ending at stream sample recentEnd_, when kept.
    std::size_t recentCapacity_ = 0;
    std::vector<float> recent_;
    std::uint64_t recentEnd_ = 0;

    // Tables computed once at construction.
    std::array<Complex, kFrameLength / 2 + 1> twiddles_{};
    std::array<std::uint32_t, kFrameLength> bitReversal_{};
    std::array<float, kFrameLength> window_{};

    // The band stages of the transform: after the first three stages (spans N, N / 2, N / 4)
    // only the kBandSpan values at kBandBlock lead to bins 5 mod 8, which hold the band bins.
    static constexpr int kBandSpan = kFrameLength / 8;
    static constexpr int kBandBlock = kFrameLength / 2 + kFrameLength / 8;
    // Twiddles as separate real and imaginary runs: the first stage's (w^m, m < N / 2), the
    // third stage's (w^(4 j), j < N / 8) and then those of spans N / 8 down to 8, each from j = 0.
    std::array<float, kFrameLength / 2> firstTwiddleRe_{}, firstTwiddleIm_{};
    std::array<float, kBandSpan> thirdTwiddleRe_{}, thirdTwiddleIm_{};
    std::array<float, kBandSpan> innerTwiddleRe_{}, innerTwiddleIm_{};
    // Where band b's bin lies within the band block after the last stage.
    std::array<int, kBandCount> bandSlot_{};

    // Scratch kept between calls so that the steady state allocates nothing.
    std::vector<float> resampled_;
    std::array<float, kBandSpan> bandRe_{}, bandIm_{};
};

}  // namespace hushwell
