#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace hushwell {

// Bytes that are rarely read, kept in an unnamed file instead of the process's own memory and
// mapped read-only: the system reads the pages of the file back as they are touched and may
// drop them again under memory pressure, since they are clean. The file has no name (it is
// created unlinked, or unlinked at once where the file system cannot do that), so nothing else
// can open it, and it disappears with the mapping.
//
// A move-only owner of the mapping. Any thread may read the bytes; nothing writes them.
class SpilledBytes {
public:
    SpilledBytes() = default;
    ~SpilledBytes();
    SpilledBytes(SpilledBytes&& other) noexcept;
    SpilledBytes& operator=(SpilledBytes&& other) noexcept;
    SpilledBytes(const SpilledBytes&) = delete;
    SpilledBytes& operator=(const SpilledBytes&) = delete;

    // Writes `bytes` to a new unnamed file in `folder` and maps it. An empty result (check with
    // IsMapped) when the folder is unusable, the disk is full or the mapping fails; the caller
    // then keeps the bytes in memory. Any thread.
    static SpilledBytes Spill(const std::string& folder, std::span<const std::uint8_t> bytes);

    bool IsMapped() const { return data_ != nullptr; }
    std::span<const std::uint8_t> Bytes() const { return {data_, size_}; }

private:
    SpilledBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    void Unmap();

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace hushwell
