#pragma once

#include <span>

namespace hushwell {

// One row of the resampler's rate table: the input rate it serves, the factors L (up) and
// M (down), and the low-pass design that runs at L x inputRate. Designs are symmetric, sum to 1
// and are stored in design order (first coefficient first).
struct ResamplerDesign {
    int inputRate;
    int upFactor;
    int downFactor;
    std::span<const double> coefficients;
};

// The seven supported input rates: 16000 (identity), 32000, 48000, 96000, 192000 (decimated to
// 16000 Hz) and 44100, 22050 (upsampled to 176400 Hz, decimated by 11 to about 16036 Hz; both
// share one 499-tap design). Constant data: any thread.
std::span<const ResamplerDesign> ResamplerDesignTable();

// The row for inputRate, or nullptr for a rate the table does not list.
const ResamplerDesign* FindResamplerDesign(int inputRate);

}  // namespace hushwell
