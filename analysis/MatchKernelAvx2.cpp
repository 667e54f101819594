// The AVX2/FMA sweeps. This file is compiled for the baseline processor like every other; only
// the functions below carry the AVX2/FMA target, and MatchKernel calls them only after
// Avx2FmaAvailable() said yes.
#include "analysis/MatchKernelSweeps.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define HUSHWELL_AVX2_FMA __attribute__((target("avx2,fma")))

namespace hushwell::match_sweeps {
namespace {

// Bands 0..23 of one frame are three vectors of eight.
constexpr std::size_t kVectorsPerFrame = 3;
constexpr std::size_t kLanes = 8;
constexpr std::size_t kValuesPerFrame = kVectorsPerFrame * kLanes;

// Enough independent accumulators to cover the latency of the fused multiply-adds: with few
// passes each (reference, pass) pair keeps one accumulator per band vector. The count depends
// on the passes only, so that a reference sums the same alone and in a pair.
constexpr std::size_t kWantedAccumulators = 12;

HUSHWELL_AVX2_FMA inline float HorizontalSum(__m256 v) {
    const __m128 halves = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    const __m128 pairs = _mm_add_ps(halves, _mm_movehl_ps(halves, halves));
    const __m128 single = _mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1));
    return _mm_cvtss_f32(single);
}

// Byte shuffle that moves the eight 16-bit values of a 128-bit load (present in both halves of
// the register) into the upper halves of eight 32-bit lanes, zeroing the lower halves.
HUSHWELL_AVX2_FMA inline __m256i HighHalfSpread() {
    return _mm256_setr_epi8(-1, -1, 0, 1, -1, -1, 2, 3, -1, -1, 4, 5, -1, -1, 6, 7,  //
                            -1, -1, 8, 9, -1, -1, 10, 11, -1, -1, 12, 13, -1, -1, 14, 15);
}

HUSHWELL_AVX2_FMA inline __m256i LoadHighHalves(const std::uint16_t* values, __m256i spread) {
    const __m128i halves = _mm_loadu_si128(reinterpret_cast<const __m128i*>(values));
    return _mm256_shuffle_epi8(_mm256_broadcastsi128_si256(halves), spread);
}

// Eight values rebuilt bit for bit from both halves.
struct ExactValues {
    HUSHWELL_AVX2_FMA static __m256 Load(const SplitValues& values, std::size_t offset,
                                         __m256i spread) {
        const __m256i high = LoadHighHalves(values.high + offset, spread);
        const __m256i low = _mm256_cvtepu16_epi32(
            _mm_loadu_si128(reinterpret_cast<const __m128i*>(values.low + offset)));
        return _mm256_castsi256_ps(_mm256_or_si256(high, low));
    }
};

// Eight values truncated to their high halves.
struct EstimatedValues {
    HUSHWELL_AVX2_FMA static __m256 Load(const SplitValues& values, std::size_t offset,
                                         __m256i spread) {
        return _mm256_castsi256_ps(LoadHighHalves(values.high + offset, spread));
    }
};

// Keeps a loaded vector in a register: both references then multiply it, where the compiler
// would otherwise fold the load into each multiply-add and load it twice.
HUSHWELL_AVX2_FMA inline void KeepInRegister(__m256& v) {
    asm("" : "+x"(v));
}

// References and passes are compile-time counts so that the accumulators stay in registers.
// Band vector v of a frame adds into accumulator set v % Sets.
template <class Values, std::size_t Refs, std::size_t Passes>
HUSHWELL_AVX2_FMA void SweepFixed(const SplitValues* references, std::size_t frames,
                                  const float* live, std::ptrdiff_t liveStep, float* out) {
    constexpr std::size_t kByLatency = kWantedAccumulators / (kMaxReferences * Passes);
    constexpr std::size_t Sets =
        kByLatency < 1 ? 1 : (kByLatency > kVectorsPerFrame ? kVectorsPerFrame : kByLatency);
    constexpr std::size_t kSums = Sets * Refs * Passes;
    const __m256i spread = HighHalfSpread();
    __m256 sums[kSums];
#pragma GCC unroll 12
    for (std::size_t n = 0; n < kSums; ++n) {
        sums[n] = _mm256_setzero_ps();
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const float* l = live + static_cast<std::ptrdiff_t>(i) * liveStep;
#pragma GCC unroll 3
        for (std::size_t v = 0; v < kVectorsPerFrame; ++v) {
            __m256* set = sums + (v % Sets) * Refs * Passes;
            __m256 r[Refs];
#pragma GCC unroll 2
            for (std::size_t c = 0; c < Refs; ++c) {
                r[c] = Values::Load(references[c], i * kValuesPerFrame + v * kLanes, spread);
            }
#pragma GCC unroll 6
            for (std::size_t p = 0; p < Passes; ++p) {
                __m256 lv = _mm256_loadu_ps(l + p * kValuesPerFrame + v * kLanes);
                if constexpr (Refs > 1) {
                    KeepInRegister(lv);
                }
#pragma GCC unroll 2
                for (std::size_t c = 0; c < Refs; ++c) {
                    set[c * Passes + p] = _mm256_fmadd_ps(r[c], lv, set[c * Passes + p]);
                }
            }
        }
    }
#pragma GCC unroll 2
    for (std::size_t c = 0; c < Refs; ++c) {
#pragma GCC unroll 6
        for (std::size_t p = 0; p < Passes; ++p) {
            __m256 total = sums[c * Passes + p];
#pragma GCC unroll 3
            for (std::size_t s = 1; s < Sets; ++s) {
                total = _mm256_add_ps(total, sums[(s * Refs + c) * Passes + p]);
            }
            out[c * Passes + p] = HorizontalSum(total);
        }
    }
}

template <class Values, std::size_t Refs>
void SweepReferences(const SplitValues* references, std::size_t frames, const float* live,
                     std::ptrdiff_t liveStep, std::size_t passes, float* out) {
    switch (passes) {
        case 1:
            SweepFixed<Values, Refs, 1>(references, frames, live, liveStep, out);
            break;
        case 2:
            SweepFixed<Values, Refs, 2>(references, frames, live, liveStep, out);
            break;
        case 3:
            SweepFixed<Values, Refs, 3>(references, frames, live, liveStep, out);
            break;
        case 4:
            SweepFixed<Values, Refs, 4>(references, frames, live, liveStep, out);
            break;
        case 5:
            SweepFixed<Values, Refs, 5>(references, frames, live, liveStep, out);
            break;
        case kMaxPasses:
            SweepFixed<Values, Refs, kMaxPasses>(references, frames, live, liveStep, out);
            break;
        default:
            break;
    }
}

template <class Values>
void Sweep(const SplitValues* references, std::size_t count, std::size_t frames, const float* live,
           std::ptrdiff_t liveStep, std::size_t passes, float* out) {
    if (count == kMaxReferences) {
        SweepReferences<Values, kMaxReferences>(references, frames, live, liveStep, passes, out);
    } else if (count == 1) {
        SweepReferences<Values, 1>(references, frames, live, liveStep, passes, out);
    }
}

}  // namespace

bool Avx2FmaAvailable() {
    static const bool available = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return available;
}

void SweepExactAvx2Fma(const SplitValues* references, std::size_t count, std::size_t frames,
                       const float* live, std::ptrdiff_t liveStep, std::size_t passes, float* out) {
    Sweep<ExactValues>(references, count, frames, live, liveStep, passes, out);
}

void SweepEstimateAvx2Fma(const SplitValues* references, std::size_t count, std::size_t frames,
                          const float* live, std::ptrdiff_t liveStep, std::size_t passes,
                          float* out) {
    Sweep<EstimatedValues>(references, count, frames, live, liveStep, passes, out);
}

}  // namespace hushwell::match_sweeps

#else

namespace hushwell::match_sweeps {

bool Avx2FmaAvailable() {
    return false;
}

void SweepExactAvx2Fma(const SplitValues*, std::size_t, std::size_t, const float*, std::ptrdiff_t,
                       std::size_t, std::size_t, float*) {}

void SweepEstimateAvx2Fma(const SplitValues*, std::size_t, std::size_t, const float*,
                          std::ptrdiff_t, std::size_t, float*) {}

}  // namespace hushwell::match_sweeps

#endif
