// Cost of spectral analysis.
//
// Live: one iteration analyses one second of stereo 16-bit audio delivered in 10 ms blocks, as
// the detection thread receives it, and trims the frames it produced (the detection step keeps
// the live history short). The counter audio_seconds_per_cpu_second is how many seconds of
// audio one core analyses per second of CPU time. Argument: input rate (48000, or 44100 for
// the upsampling path).
//  - BM_LiveAnalysis: SpectralAnalyzer on something like music.
//  - BM_LiveSilence: SpectralAnalyzer on all-zero audio. The process-wide silence gate is reset
//    every second, so the timed blocks are those before the gate engages (the gate bypasses the
//    filter from the 100th silent block on); they take the path of a filter whose memory is all
//    zero.
//  - BM_PlainLiveAnalysis, BM_PlainLiveSilence: the baseline, the same live analysis written
//    plainly below (first channel converted, zero-stuffed into a direct-form filter evaluated at
//    the kept outputs, every frame windowed and put through a textbook radix-2 transform, each
//    band the compressed power of its bin). Its frames are checked against SpectralAnalyzer's
//    before timing.
//
// Reference: one iteration analyses a 7-second 44.1 kHz mono sound, the longest reference the
// reference set keeps.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include "analysis/ResamplerDesigns.h"
#include "analysis/SpectralAnalyzer.h"

namespace hushwell {
namespace {

constexpr int kBlocksPerSecond = 100;
constexpr int kChannels = 2;

// Something like music: a few tones over noise, different on both channels.
std::vector<std::int16_t> MakeAudio(int rate, int channels, double seconds) {
    std::mt19937 rng(42);
    std::normal_distribution<double> noise(0.0, 1500.0);
    const auto frames = static_cast<std::size_t>(seconds * rate);
    std::vector<std::int16_t> samples(frames * static_cast<std::size_t>(channels));
    for (std::size_t f = 0; f < frames; ++f) {
        const double t = static_cast<double>(f) / rate;
        for (int c = 0; c < channels; ++c) {
            const double v = 5000 * std::sin(2 * std::numbers::pi * (220.0 + 110 * c) * t) +
                             3000 * std::sin(2 * std::numbers::pi * 1760.0 * t) +
                             2000 * std::sin(2 * std::numbers::pi * 4400.0 * t) + noise(rng);
            samples[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(c)] =
                static_cast<std::int16_t>(std::lround(v));
        }
    }
    return samples;
}

// The baseline: the live analysis as a textbook would write it.
class PlainLiveAnalysis {
public:
    static constexpr int N = SpectralAnalyzer::kFrameLength;

    explicit PlainLiveAnalysis(int rate)
        : design_(*FindResamplerDesign(rate)),
          stuffed_(design_.coefficients.size(), 0.0f),
          window_(N) {
        for (int i = 0; i < N; ++i) {
            window_[i] =
                static_cast<float>((1.0 - std::cos(2.0 * std::numbers::pi * i / (N - 1))) / 2.0);
        }
    }

    void Process(std::span<const std::int16_t> samples, int channels,
                 std::vector<float>& features) {
        const std::size_t taps = design_.coefficients.size();
        for (std::size_t f = 0; f + 1 <= samples.size() / channels; ++f) {
            const float x = static_cast<float>(samples[f * channels] * design_.upFactor);
            for (int i = 0; i < design_.upFactor; ++i) {
                // Zero-stuffing: the sample, then L - 1 zeros.
                stuffed_.push_back(i == 0 ? x : 0.0f);
                if (position_++ % design_.downFactor == 0) {
                    float y = 0.0f;
                    for (std::size_t j = 0; j < taps; ++j) {
                        y += static_cast<float>(design_.coefficients[j]) *
                             stuffed_[stuffed_.size() - 1 - j];
                    }
                    resampled_.push_back(y);
                }
            }
        }
        stuffed_.erase(stuffed_.begin(), stuffed_.end() - static_cast<std::ptrdiff_t>(taps));

        std::size_t p = 0;
        for (; p + N < resampled_.size(); p += SpectralAnalyzer::kLiveHop) {
            std::vector<std::complex<float>> frame(N);
            for (int i = 0; i < N; ++i) {
                frame[i] = resampled_[p + i] * window_[i];
            }
            Fft(frame);
            for (int b = 0; b < SpectralAnalyzer::kBandCount; ++b) {
                const float power = std::norm(frame[SpectralAnalyzer::BandBin(b)]) + 0.0001f;
                features.push_back(static_cast<float>(std::pow(power, 0.55)));
            }
        }
        resampled_.erase(resampled_.begin(), resampled_.begin() + static_cast<std::ptrdiff_t>(p));
    }

private:
    // Iterative radix-2 decimation in time: bit-reversed copy, then butterflies.
    static void Fft(std::vector<std::complex<float>>& a) {
        const std::size_t n = a.size();
        for (std::size_t i = 1, j = 0; i < n; ++i) {
            std::size_t bit = n >> 1;
            for (; j & bit; bit >>= 1) {
                j ^= bit;
            }
            j ^= bit;
            if (i < j) {
                std::swap(a[i], a[j]);
            }
        }
        for (std::size_t len = 2; len <= n; len <<= 1) {
            const auto step = std::polar(1.0f, static_cast<float>(-2.0 * std::numbers::pi / len));
            for (std::size_t i = 0; i < n; i += len) {
                std::complex<float> w(1.0f);
                for (std::size_t j = 0; j < len / 2; ++j) {
                    const std::complex<float> u = a[i + j], v = a[i + j + len / 2] * w;
                    a[i + j] = u + v;
                    a[i + j + len / 2] = u - v;
                    w *= step;
                }
            }
        }
    }

    ResamplerDesign design_;
    std::vector<float> stuffed_;
    std::vector<float> resampled_;
    std::vector<float> window_;
    std::uint64_t position_ = 0;
};

void FeedSecond(SpectralAnalyzer& analyzer, int rate, const std::vector<std::int16_t>& second) {
    const std::size_t blockSamples = static_cast<std::size_t>(rate / kBlocksPerSecond) * kChannels;
    for (std::size_t at = 0; at + blockSamples <= second.size(); at += blockSamples) {
        analyzer.ExtractLiveFeatures(rate, kChannels, std::span(second).subspan(at, blockSamples));
    }
}

void FeedSecond(PlainLiveAnalysis& plain, int rate, const std::vector<std::int16_t>& second,
                std::vector<float>& features) {
    const std::size_t blockSamples = static_cast<std::size_t>(rate / kBlocksPerSecond) * kChannels;
    for (std::size_t at = 0; at + blockSamples <= second.size(); at += blockSamples) {
        plain.Process(std::span(second).subspan(at, blockSamples), kChannels, features);
    }
}

// True when the baseline's frames of one second agree with the analyzer's to within rounding:
// every band within 0.1 % of the loudest band of its frame (the transforms round differently).
bool PlainAgrees(int rate, const std::vector<std::int16_t>& second) {
    constexpr int B = SpectralAnalyzer::kBandCount;
    SpectralAnalyzer analyzer;
    FeedSecond(analyzer, rate, second);
    PlainLiveAnalysis plain(rate);
    std::vector<float> features;
    FeedSecond(plain, rate, second, features);
    const std::vector<float>& want = analyzer.Features();
    if (features.size() != want.size()) {
        return false;
    }
    for (std::size_t frame = 0; frame < want.size(); frame += B) {
        const float loudest =
            *std::max_element(want.begin() + static_cast<std::ptrdiff_t>(frame),
                              want.begin() + static_cast<std::ptrdiff_t>(frame + B));
        for (std::size_t i = frame; i < frame + B; ++i) {
            if (std::abs(features[i] - want[i]) > 1e-3f * loudest) {
                return false;
            }
        }
    }
    return true;
}

void SetRate(benchmark::State& state) {
    state.counters["audio_seconds_per_cpu_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void RunAnalyzer(benchmark::State& state, const std::vector<std::int16_t>& second) {
    const int rate = static_cast<int>(state.range(0));
    SpectralAnalyzer analyzer;
    for (auto _ : state) {
        analyzer.ResetSilentBlockCount();
        FeedSecond(analyzer, rate, second);
        benchmark::DoNotOptimize(analyzer.Features().data());
        analyzer.TrimFrontFrames(analyzer.FrameCount());
    }
    SetRate(state);
}

void RunPlain(benchmark::State& state, const std::vector<std::int16_t>& second) {
    const int rate = static_cast<int>(state.range(0));
    if (!PlainAgrees(rate, second)) {
        state.SkipWithError("the plain analysis disagrees with SpectralAnalyzer");
        return;
    }
    PlainLiveAnalysis plain(rate);
    std::vector<float> features;
    for (auto _ : state) {
        FeedSecond(plain, rate, second, features);
        benchmark::DoNotOptimize(features.data());
        features.clear();
    }
    SetRate(state);
}

std::vector<std::int16_t> Silence(int rate) {
    return std::vector<std::int16_t>(static_cast<std::size_t>(rate) * kChannels, 0);
}

void BM_LiveAnalysis(benchmark::State& state) {
    RunAnalyzer(state, MakeAudio(static_cast<int>(state.range(0)), kChannels, 1.0));
}
BENCHMARK(BM_LiveAnalysis)->Arg(48000)->Arg(44100);

void BM_PlainLiveAnalysis(benchmark::State& state) {
    RunPlain(state, MakeAudio(static_cast<int>(state.range(0)), kChannels, 1.0));
}
BENCHMARK(BM_PlainLiveAnalysis)->Arg(48000)->Arg(44100);

void BM_LiveSilence(benchmark::State& state) {
    RunAnalyzer(state, Silence(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_LiveSilence)->Arg(48000);

void BM_PlainLiveSilence(benchmark::State& state) {
    RunPlain(state, Silence(static_cast<int>(state.range(0))));
}
BENCHMARK(BM_PlainLiveSilence)->Arg(48000);

void BM_ReferenceExtraction(benchmark::State& state) {
    constexpr int kRate = 44100;
    constexpr double kSeconds = 7.0;
    const std::vector<std::int16_t> sound = MakeAudio(kRate, 1, kSeconds);
    SpectralAnalyzer analyzer;
    for (auto _ : state) {
        analyzer.ExtractReferenceFeatures(kRate, 1, sound);
        benchmark::DoNotOptimize(analyzer.Features().data());
    }
    state.counters["audio_seconds_per_cpu_second"] = benchmark::Counter(
        kSeconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ReferenceExtraction)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace hushwell
