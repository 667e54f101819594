#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace hushwell {

// An in-place forward transform of a power-of-two length, X[k] = sum x[n] e^(-2 pi i k n / N),
// by radix-2 decimation in time on the bit-reversed input. Tables are computed once.
//
// Threads: immutable after construction; any thread may transform its own data.
class RadixTwoFft {
public:
    // A transform of 2^log2Length points.
    explicit RadixTwoFft(int log2Length);

    std::size_t Length() const { return bitReversal_.size(); }
    // data.size() must be Length().
    void Transform(std::span<std::complex<float>> data) const;

private:
    std::vector<std::complex<float>> twiddles_;
    std::vector<std::uint32_t> bitReversal_;
};

}  // namespace hushwell
