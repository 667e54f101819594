#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace hushwell {

// One captured packet on the heap: a single allocation of 4 + N bytes, the payload length N as
// an unsigned 32-bit little-endian number followed by the N payload bytes (interleaved samples
// in the capture's mix format, exactly as the sound server delivered them, or zeros for a
// packet flagged silent).
//
// A move-only owner of that allocation; a default-constructed or moved-from block is null.
// Whoever holds the block owns it, and it is freed when the holder lets it go.
//
// Threads: a block belongs to one thread at a time; handing it over (through a queue) needs the
// lock of that queue.
class CaptureBlock {
public:
    // Size of the length field in front of the payload.
    static constexpr std::size_t kHeaderSize = 4;
    // Largest payload a block may carry (the length must fit the 32-bit field with the header).
    static constexpr std::uint32_t kMaxPayloadSize = 0xFFFFFFFFu - kHeaderSize;

    CaptureBlock() = default;
    CaptureBlock(CaptureBlock&&) noexcept = default;
    CaptureBlock& operator=(CaptureBlock&&) noexcept = default;
    CaptureBlock(const CaptureBlock&) = delete;
    CaptureBlock& operator=(const CaptureBlock&) = delete;

    // A block with a zero-filled payload of `payloadSize` bytes, or a null block when the
    // allocation fails or the size is above kMaxPayloadSize. Never throws.
    static CaptureBlock Allocate(std::uint32_t payloadSize) noexcept;
    // A block holding a copy of `size` bytes (zeros when `bytes` is null); null on failure.
    static CaptureBlock CopyOf(const std::uint8_t* bytes, std::uint32_t size) noexcept;

    explicit operator bool() const { return bytes_ != nullptr; }

    // The length field as stored in the block; 0 for a null block.
    std::uint32_t PayloadSize() const;
    // The payload bytes; null for a null block.
    std::uint8_t* Payload();
    const std::uint8_t* Payload() const;
    // The whole allocation, length field first, and its size (kHeaderSize + PayloadSize()).
    const std::uint8_t* Bytes() const { return bytes_.get(); }
    std::size_t TotalSize() const;

private:
    explicit CaptureBlock(std::unique_ptr<std::uint8_t[]> bytes) : bytes_(std::move(bytes)) {}

    std::unique_ptr<std::uint8_t[]> bytes_;
};

}  // namespace hushwell
