// Cost of the matching passes on synthetic references, as CPU time per second of audio.
//
// Each iteration is one call for the passes of some 10 ms blocks of live audio: 2 or 3 new
// live frames per block (2.5 on average, 250 per second), one matching pass per new frame, and
// the oldest 128 frames trimmed when the history is full, as the detection step does. The
// counter core_per_audio_second is the CPU time per second of audio as a fraction of one core
// (100 blocks make one second). One block per call scores each 10 ms block on its own; five
// blocks per call score all blocks of one 50 ms transfer together (12 or 13 passes per call).
// The counter bytes_per_reference is the memory one prepared reference occupies in the kernel
// (MatchKernel::ReferenceBytes() per reference); for the plain correlation, the feature
// sequence it reads (32 single-precision values per frame).
//
// Arguments: reference count, reference length in seconds, method (0: the plain correlation
// per reference and pass, the baseline; 1: the kernel on portable code; 2: the kernel on the
// best instruction set of this processor; 3: as 2 for firing decisions against each
// reference's match threshold, so that references which cannot fire are estimated from the
// high halves of their values. Random features score about 0.75, below every threshold, as
// most references do most of the time; a reference that comes near its threshold costs what it
// costs in method 2 on top), blocks per call.

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <random>
#include <span>
#include <utility>
#include <vector>

#include "analysis/MatchKernel.h"

namespace hushwell {
namespace {

constexpr double kBlocksPerSecond = 100.0;
constexpr std::size_t kReferenceHop = 512;          // samples at 16 kHz per reference frame
constexpr std::size_t kInternalRate = 16000;        // Hz
constexpr std::size_t kInitialLongestFrames = 128;  // history needed before matching starts
constexpr std::size_t kTrimFrames = 128;

enum Method { kPlain = 0, kPortable = 1, kBest = 2, kBestForDecisions = 3 };

using Frames = std::vector<float>;

Frames RandomFrames(std::size_t frames, std::mt19937& rng) {
    std::uniform_real_distribution<float> value(0.0f, 1000.0f);
    Frames values(frames * kFeatureBands);
    for (float& v : values) {
        v = value(rng);
    }
    return values;
}

// Frames of a reference sound of the given length, as reference analysis yields them.
std::size_t ReferenceFrames(std::size_t seconds) {
    return (seconds * kInternalRate - kReferenceHop) / kReferenceHop + 1;
}

// The match threshold reference analysis gives a sound of this length.
float MatchThreshold(std::size_t seconds) {
    return std::min(0.98f, 0.85f + 0.03f / static_cast<float>(seconds));
}

struct Workload {
    std::vector<Frames> references;
    Frames liveSource;       // frames fed to the live history block by block
    std::size_t trimAt = 0;  // history length (frames) at which 128 frames are trimmed
};

const Workload& SyntheticWorkload(std::size_t count, std::size_t seconds) {
    static std::map<std::pair<std::size_t, std::size_t>, std::unique_ptr<Workload>> cache;
    auto& slot = cache[{count, seconds}];
    if (!slot) {
        std::mt19937 rng(1234);
        slot = std::make_unique<Workload>();
        const std::size_t frames = ReferenceFrames(seconds);
        for (std::size_t r = 0; r < count; ++r) {
            slot->references.push_back(RandomFrames(frames, rng));
        }
        const std::size_t longest = std::max(frames, kInitialLongestFrames);
        slot->trimAt = kLiveFramesPerReferenceFrame * longest + kTrimFrames - 1;
        slot->liveSource = RandomFrames(4 * slot->trimAt, rng);
    }
    return *slot;
}

void BM_MatchPasses(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0));
    const auto seconds = static_cast<std::size_t>(state.range(1));
    const auto method = static_cast<Method>(state.range(2));
    const auto blocksPerCall = static_cast<std::size_t>(state.range(3));
    const Workload& work = SyntheticWorkload(count, seconds);

    MatchKernel kernel(method == kPortable ? MatchKernel::InstructionSet::Portable
                                           : MatchKernel::BestInstructionSet());
    if (method != kPlain) {
        for (const Frames& reference : work.references) {
            kernel.AddReference(reference);
        }
    }
    const std::span<const float> source(work.liveSource);
    const std::size_t sourceFrames = source.size() / kFeatureBands;
    // Start with a full history, so that every block runs its passes.
    Frames live(source.begin(), source.begin() + work.trimAt * kFeatureBands);
    std::size_t nextSourceFrame = work.trimAt;
    std::vector<std::uint32_t> all(count);
    for (std::size_t r = 0; r < count; ++r) {
        all[r] = static_cast<std::uint32_t>(r);
    }
    const std::vector<float> thresholds(count, MatchThreshold(seconds));
    MatchKernel::Scores scores;
    std::size_t block = 0;
    float best = 0.0f;

    for (auto _ : state) {
        std::size_t added = 0;
        for (std::size_t b = 0; b < blocksPerCall; ++b) {
            added += block++ % 2 == 0 ? 2 : 3;
        }
        if (nextSourceFrame + added > sourceFrames) {
            nextSourceFrame = 0;
        }
        const auto from = source.begin() + nextSourceFrame * kFeatureBands;
        live.insert(live.end(), from, from + added * kFeatureBands);
        nextSourceFrame += added;
        const std::size_t frames = live.size() / kFeatureBands;
        const std::size_t firstEnd = frames - added + 1;

        if (method == kPlain) {
            for (std::size_t p = 0; p < added; ++p) {
                const auto seen =
                    std::span<const float>(live).first((firstEnd + p) * kFeatureBands);
                for (const Frames& reference : work.references) {
                    best = std::max(best, CorrelateReference(reference, seen));
                }
            }
        } else if (method == kBestForDecisions) {
            kernel.ScoreAgainst(live, firstEnd, added, all, thresholds, scores);
            best = std::max(best, scores.At(0, 0));
        } else {
            kernel.Score(live, firstEnd, added, scores);
            best = std::max(best, scores.At(0, 0));
        }

        if (frames >= work.trimAt) {
            live.erase(live.begin(), live.begin() + kTrimFrames * kFeatureBands);
            kernel.DropOldestLiveFrames(kTrimFrames);
        }
    }
    benchmark::DoNotOptimize(best);
    const std::size_t plainBytes = ReferenceFrames(seconds) * kFeatureBands * sizeof(float);
    state.counters["bytes_per_reference"] = static_cast<double>(
        method == kPlain ? plainBytes : kernel.ReferenceBytes() / std::max<std::size_t>(1, count));
    state.counters["core_per_audio_second"] = benchmark::Counter(
        static_cast<double>(state.iterations() * blocksPerCall) / kBlocksPerSecond,
        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

BENCHMARK(BM_MatchPasses)
    ->ArgNames({"refs", "seconds", "method", "blocks"})
    ->Args({2000, 7, kPlain, 1})
    ->Args({2000, 7, kBestForDecisions, 5})
    ->Args({2000, 7, kBest, 5})
    ->Args({2000, 7, kBestForDecisions, 1})
    ->Args({2000, 7, kBest, 1})
    ->Args({2000, 7, kPortable, 1})
    ->Args({50, 3, kBestForDecisions, 1})
    ->Args({50, 3, kBest, 1})
    ->Args({50, 3, kPortable, 1})
    ->Args({50, 3, kPlain, 1})
    ->Unit(benchmark::kMicrosecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace hushwell
