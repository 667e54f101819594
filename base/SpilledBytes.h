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

    // Spills bytes piece by piece, so that they never need to be in memory all at once: a new
    // unnamed file in the folder, appended to and then mapped. Whatever fails, the bytes
    // written so far can be read back. One thread at a time.
    class Writer {
    public:
        // Not open (IsOpen false) when the file cannot be made.
        explicit Writer(const std::string& folder);
        ~Writer();
        Writer(const Writer&) = delete;
        Writer& operator=(const Writer&) = delete;

        bool IsOpen() const { return fd_ >= 0; }
        // Bytes appended so far.
        std::size_t Size() const { return size_; }
        // False, with nothing of these bytes counted, when the writer is not open or the
        // write fails (a full disk); after a failure it takes nothing more, but stays open
        // for ReadBack and Map.
        bool Append(std::span<const std::uint8_t> bytes);
        // The bytes appended so far, read back from the file; false on a read error.
        bool ReadBack(std::span<std::uint8_t> out) const;
        // Maps everything appended and closes the file; empty when nothing was appended or
        // the mapping fails (read back first, then).
        SpilledBytes Map();

    private:
        int fd_ = -1;
        std::size_t size_ = 0;
        bool failed_ = false;
    };

private:
    SpilledBytes(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    void Unmap();

    const std::uint8_t* data_ = nullptr;
    std::size_t size_ = 0;
};

}  // namespace hushwell
