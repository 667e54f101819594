// Cost of spectral analysis.
//
// Live: one iteration analyses one second of stereo 16-bit audio delivered in 10 ms blocks, as
// the detection thread receives it, and trims the frames it produced (the detection step keeps
// the live history short). The counter audio_seconds_per_cpu_second is how many seconds of
// audio one core analyses per second of CPU time. Argument: input rate (48000, or 44100 for
// the upsampling path).
//
// Reference: one iteration analyses a 7-second 44.1 kHz mono sound, the longest reference the
// reference set keeps.

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <span>
#include <vector>

#include "analysis/SpectralAnalyzer.h"

namespace hushwell {
namespace {

constexpr int kBlocksPerSecond = 100;

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

void BM_LiveAnalysis(benchmark::State& state) {
    const int rate = static_cast<int>(state.range(0));
    constexpr int kChannels = 2;
    const std::vector<std::int16_t> second = MakeAudio(rate, kChannels, 1.0);
    const std::size_t blockSamples = static_cast<std::size_t>(rate / kBlocksPerSecond) * kChannels;

    SpectralAnalyzer::ResetSilentBlockCount();
    SpectralAnalyzer analyzer;
    for (auto _ : state) {
        for (std::size_t at = 0; at + blockSamples <= second.size(); at += blockSamples) {
            analyzer.ExtractLiveFeatures(rate, kChannels,
                                         std::span(second).subspan(at, blockSamples));
        }
        benchmark::DoNotOptimize(analyzer.Features().data());
        analyzer.TrimFrontFrames(analyzer.FrameCount());
    }
    state.counters["audio_seconds_per_cpu_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LiveAnalysis)->Arg(48000)->Arg(44100);

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
