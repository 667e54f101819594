// The AVX2/FMA sweeps. This file is compiled for the baseline processor like every other; only
// the functions below carry the AVX2/FMA target, and MatchKernel calls them only after
// Avx2FmaAvailable() said yes.
#include "analysis/MatchKernelSweeps.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#define HUSHWELL_AVX2_FMA __attribute__((target("avx2,fma,f16c")))

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

// Reference frames stored as single-precision values.
struct SingleFrames {
    using Value = float;
    HUSHWELL_AVX2_FMA static __m256 Load(const float* values) { return _mm256_loadu_ps(values); }
};

// Reference frames stored as half-precision values, widened on loading.
struct HalfFrames {
    using Value = std::uint16_t;
    HUSHWELL_AVX2_FMA static __m256 Load(const std::uint16_t* values) {
        return _mm256_cvtph_ps(_mm_loadu_si128(reinterpret_cast<const __m128i*>(values)));
    }
};

// Passes is a compile-time count so that the accumulators stay in registers.
template <class Frames, std::size_t Passes>
HUSHWELL_AVX2_FMA void SweepFixed(const typename Frames::Value* reference, std::size_t frames,
                                  const float* live, std::ptrdiff_t liveStep, std::size_t passStep,
                                  float* out) {
    __m256 sums[Passes][kVectorsPerFrame];
#pragma GCC unroll 4
    for (std::size_t p = 0; p < Passes; ++p) {
#pragma GCC unroll 3
        for (std::size_t v = 0; v < kVectorsPerFrame; ++v) {
            sums[p][v] = _mm256_setzero_ps();
        }
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const typename Frames::Value* r = reference + i * kVectorsPerFrame * kLanes;
        const __m256 r0 = Frames::Load(r);
        const __m256 r1 = Frames::Load(r + kLanes);
        const __m256 r2 = Frames::Load(r + 2 * kLanes);
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

template <class Frames>
void Sweep(const typename Frames::Value* reference, std::size_t frames, const float* live,
           std::ptrdiff_t liveStep, std::size_t passStep, std::size_t passes, float* out) {
    switch (passes) {
        case 1:
            SweepFixed<Frames, 1>(reference, frames, live, liveStep, passStep, out);
            break;
        case 2:
            SweepFixed<Frames, 2>(reference, frames, live, liveStep, passStep, out);
            break;
        case 3:
            SweepFixed<Frames, 3>(reference, frames, live, liveStep, passStep, out);
            break;
        case kMaxPasses:
            SweepFixed<Frames, kMaxPasses>(reference, frames, live, liveStep, passStep, out);
            break;
        default:
            break;
    }
}

bool HasHalfConversions() {
    unsigned eax = 0;
    unsigned ebx = 0;
    unsigned ecx = 0;
    unsigned edx = 0;
    return __get_cpuid(1, &eax, &ebx, &ecx, &edx) != 0 && (ecx & bit_F16C) != 0;
}

}  // namespace

bool Avx2FmaAvailable() {
    static const bool available =
        __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma") && HasHalfConversions();
    return available;
}

void SweepAvx2Fma(const float* reference, std::size_t frames, const float* live,
                  std::ptrdiff_t liveStep, std::size_t passStep, std::size_t passes, float* out) {
    Sweep<SingleFrames>(reference, frames, live, liveStep, passStep, passes, out);
}

void SweepHalvesAvx2Fma(const std::uint16_t* reference, std::size_t frames, const float* live,
                        std::ptrdiff_t liveStep, std::size_t passStep, std::size_t passes,
                        float* out) {
    Sweep<HalfFrames>(reference, frames, live, liveStep, passStep, passes, out);
}

HUSHWELL_AVX2_FMA void ToHalvesAvx2(const float* values, std::size_t count, float factor,
                                    std::uint16_t* out) {
    const __m256 scale = _mm256_set1_ps(factor);
    float tail[kLanes] = {};
    for (std::size_t n = 0; n < count; n += kLanes) {
        const std::size_t lanes = count - n < kLanes ? count - n : kLanes;
        for (std::size_t k = 0; k < lanes; ++k) {
            tail[k] = values[n + k];
        }
        const __m128i halves =
            _mm256_cvtps_ph(_mm256_mul_ps(_mm256_loadu_ps(tail), scale), _MM_FROUND_TO_NEAREST_INT);
        std::uint16_t converted[kLanes];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(converted), halves);
        for (std::size_t k = 0; k < lanes; ++k) {
            out[n + k] = converted[k];
        }
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
