#pragma once

#include <cstddef>
#include <cstdint>

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

// True when the processor and the operating system support AVX2, FMA and the 16-bit float
// conversions (F16C). The functions below are only to be called then.
bool Avx2FmaAvailable();

void SweepAvx2Fma(const float* reference, std::size_t frames, const float* live,
                  std::ptrdiff_t liveStep, std::size_t passStep, std::size_t passes, float* out);

// The same sweep over a reference stored as IEEE half-precision values (24 per frame).
void SweepHalvesAvx2Fma(const std::uint16_t* reference, std::size_t frames, const float* live,
                        std::ptrdiff_t liveStep, std::size_t passStep, std::size_t passes,
                        float* out);

// out[n] = values[n] * factor rounded to the nearest half-precision value.
void ToHalvesAvx2(const float* values, std::size_t count, float factor, std::uint16_t* out);

}  // namespace hushwell::match_sweeps
