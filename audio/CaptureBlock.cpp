#include "audio/CaptureBlock.h"

#include <cstring>
#include <new>

namespace hushwell {

CaptureBlock CaptureBlock::Allocate(std::uint32_t payloadSize) noexcept {
    if (payloadSize > kMaxPayloadSize) {
        return {};
    }
    const std::size_t total = kHeaderSize + payloadSize;
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[total]());
    if (!bytes) {
        return {};
    }
    // The length field is little-endian whatever the machine.
    for (std::size_t i = 0; i < kHeaderSize; ++i) {
        bytes[i] = static_cast<std::uint8_t>(payloadSize >> (8 * i));
    }
    return CaptureBlock(std::move(bytes));
}

CaptureBlock CaptureBlock::CopyOf(const std::uint8_t* bytes, std::uint32_t size) noexcept {
    CaptureBlock block = Allocate(size);
    if (block && bytes != nullptr && size > 0) {
        std::memcpy(block.Payload(), bytes, size);
    }
    return block;
}

std::uint32_t CaptureBlock::PayloadSize() const {
    if (!bytes_) {
        return 0;
    }
    std::uint32_t size = 0;
    for (std::size_t i = 0; i < kHeaderSize; ++i) {
        size |= static_cast<std::uint32_t>(bytes_[i]) << (8 * i);
    }
    return size;
}

std::uint8_t* CaptureBlock::Payload() {
    return bytes_ ? bytes_.get() + kHeaderSize : nullptr;
}

const std::uint8_t* CaptureBlock::Payload() const {
    return bytes_ ? bytes_.get() + kHeaderSize : nullptr;
}

std::size_t CaptureBlock::TotalSize() const {
    return bytes_ ? kHeaderSize + PayloadSize() : 0;
}

}  // namespace hushwell
