#pragma once

#include <cstddef>

namespace hushwell::match_sweeps {

// The dot-product sweeps behind MatchKernel, one per instruction set. Each computes, for
// passes p < passes (at most kMaxPasses),
//   out[p] = sum over i < frames, k < 24 of reference[24 i + k] * live[i * liveStep + p * passStep
//   + k]
// with single-precision lane sums added up at the end. The reference is read once for all
// passes. Any thread; no state.
inline constexpr std::size_t kMaxPasses = 4;

void SweepPortable(const float* reference, std::size_t frames, const float* live,
                   std::ptrdiff_t liveStep, std::size_t passStep, std::size_t passes, float* out);

// True when the processor and the operating system support AVX2 and FMA.
bool Avx2FmaAvailable();
// Only to be called when Avx2FmaAvailable().
void SweepAvx2Fma(const float* reference, std::size_t frames, const float* live,
                  std::ptrdiff_t liveStep, std::size_t passStep, std::size_t passes, float* out);

}  // namespace hushwell::match_sweeps
