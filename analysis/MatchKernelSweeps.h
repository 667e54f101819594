#pragma once

#include <cstddef>
#include <cstdint>

namespace hushwell::match_sweeps {

// The dot-product sweeps behind MatchKernel, one per instruction set.
//
// A reference's values (24 per frame) are stored split: the high 16 bits of each
// single-precision value (its bfloat16 truncation) in one array, the low 16 bits in another.
// An exact sweep rebuilds every value bit for bit from both halves; an estimating sweep reads
// the high halves only, as values truncated towards zero to 8 significant bits.
//
// A sweep takes `count` references (1 or 2) of `frames` frames each and computes, for passes
// p < passes (at most kMaxPasses),
//   out[c * passes + p] = sum over i < frames, k < 24 of value_c[24 i + k]
//                         * live[i * liveStep + 24 p + k]
// with single-precision lane sums added up at the end. Each live value loaded serves both
// references. Any thread; no state.
inline constexpr std::size_t kMaxPasses = 6;
inline constexpr std::size_t kMaxReferences = 2;

struct SplitValues {
    const std::uint16_t* high = nullptr;
    const std::uint16_t* low = nullptr;  // not read by estimating sweeps
};

using SweepFunction = void (*)(const SplitValues* references, std::size_t count, std::size_t frames,
                               const float* live, std::ptrdiff_t liveStep, std::size_t passes,
                               float* out);

void SweepExactPortable(const SplitValues* references, std::size_t count, std::size_t frames,
                        const float* live, std::ptrdiff_t liveStep, std::size_t passes, float* out);

// True when the processor and the operating system support AVX2 and FMA. The functions below
// are only to be called then.
bool Avx2FmaAvailable();

void SweepExactAvx2Fma(const SplitValues* references, std::size_t count, std::size_t frames,
                       const float* live, std::ptrdiff_t liveStep, std::size_t passes, float* out);

void SweepEstimateAvx2Fma(const SplitValues* references, std::size_t count, std::size_t frames,
                          const float* live, std::ptrdiff_t liveStep, std::size_t passes,
                          float* out);

}  // namespace hushwell::match_sweeps
