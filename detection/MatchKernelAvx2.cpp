// The AVX2/FMA sweep. This file is compiled for the baseline processor like every other; only
// the functions below carry the AVX2/FMA target, and MatchKernel calls them only after
// Avx2FmaAvailable() said yes.
#include "detection/MatchKernelSweeps.h"

#if defined(__x86_64__) || defined(__i386__)

#include <immintrin.h>

#define HUSHWELL_AVX2_FMA __attribute__((target("avx2,fma")))

namespace hushwell::match_sweeps {
namespace {

// Bands 0..23 of one frame are three vectors of eight.
constexpr std::size_t kVectorsPerFrame = 3;
constexpr std::size_t kLanes = 8;

HUSHWELL_AVX2_FMA inline float HorizontalSum(__m256 v) {
    const __m128 halves = _mm_add_ps(_mm256_castps256_ps128(v), _mm256_extractf128_ps(v, 1));
    const __m128 pairs = _mm_add_ps(halves, _mm_movehl_ps(halves, halves));
    const __m128 single = _mm_add_ss(pairs, _mm_shuffle_ps(pairs, pairs, 1));
    return _mm_cvtss_f32(single);
}

// Passes is a compile-time count so that the accumulators stay in registers.
template <std::size_t Passes>
HUSHWELL_AVX2_FMA void SweepFixed(const float* reference, std::size_t frames, const float* live,
                                  std::ptrdiff_t liveStep, std::size_t passStep, float* out) {
    __m256 sums[Passes][kVectorsPerFrame];
#pragma GCC unroll 4
    for (std::size_t p = 0; p < Passes; ++p) {
#pragma GCC unroll 3
        for (std::size_t v = 0; v < kVectorsPerFrame; ++v) {
            sums[p][v] = _mm256_setzero_ps();
        }
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const float* r = reference + i * kVectorsPerFrame * kLanes;
        const __m256 r0 = _mm256_loadu_ps(r);
        const __m256 r1 = _mm256_loadu_ps(r + kLanes);
        const __m256 r2 = _mm256_loadu_ps(r + 2 * kLanes);
        const float* l = live + static_cast<std::ptrdiff_t>(i) * liveStep;
#pragma GCC unroll 4
        for (std::size_t p = 0; p < Passes; ++p) {
            const float* lp = l + p * passStep;
            sums[p][0] = _mm256_fmadd_ps(r0, _mm256_loadu_ps(lp), sums[p][0]);
            sums[p][1] = _mm256_fmadd_ps(r1, _mm256_loadu_ps(lp + kLanes), sums[p][1]);
            sums[p][2] = _mm256_fmadd_ps(r2, _mm256_loadu_ps(lp + 2 * kLanes), sums[p][2]);
        }
    }
#pragma GCC unroll 4
    for (std::size_t p = 0; p < Passes; ++p) {
        out[p] = HorizontalSum(_mm256_add_ps(_mm256_add_ps(sums[p][0], sums[p][1]), sums[p][2]));
    }
}

}  // namespace

bool Avx2FmaAvailable() {
    return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
}

void SweepAvx2Fma(const float* reference, std::size_t frames, const float* live,
                  std::ptrdiff_t liveStep, std::size_t passStep, std::size_t passes, float* out) {
    switch (passes) {
        case 1:
            SweepFixed<1>(reference, frames, live, liveStep, passStep, out);
            break;
        case 2:
            SweepFixed<2>(reference, frames, live, liveStep, passStep, out);
            break;
        case 3:
            SweepFixed<3>(reference, frames, live, liveStep, passStep, out);
            break;
        case kMaxPasses:
            SweepFixed<kMaxPasses>(reference, frames, live, liveStep, passStep, out);
            break;
        default:
            break;
    }
}

}  // namespace hushwell::match_sweeps

#else

namespace hushwell::match_sweeps {

bool Avx2FmaAvailable() {
    return false;
}

void SweepAvx2Fma(const float*, std::size_t, const float*, std::ptrdiff_t, std::size_t, std::size_t,
                  float*) {}

}  // namespace hushwell::match_sweeps

#endif
