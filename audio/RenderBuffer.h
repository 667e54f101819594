#pragma once

#include <cstdint>
#include <memory>

namespace hushwell {

// One node of the list of converted audio that StreamRenderer plays: a whole number of frames
// of interleaved samples in the render stream's mix format. The list owns its nodes through
// `next`; destroying a node destroys the nodes after it, one after the other (not
// recursively, so a long list cannot exhaust the stack).
//
// Threads: a list belongs to one thread at a time (the player builds it, the renderer takes it
// over whole in BeginPlayback).
class RenderBuffer {
public:
    // A node of `byteLength` zero bytes, or null when the allocation fails. Never throws.
    static std::unique_ptr<RenderBuffer> Allocate(std::uint32_t byteLength) noexcept;

    ~RenderBuffer();
    RenderBuffer(const RenderBuffer&) = delete;
    RenderBuffer& operator=(const RenderBuffer&) = delete;

    std::uint32_t ByteLength() const { return byteLength_; }
    std::uint8_t* Bytes() { return bytes_.get(); }
    const std::uint8_t* Bytes() const { return bytes_.get(); }

    std::unique_ptr<RenderBuffer> next;

private:
    RenderBuffer(std::uint32_t byteLength, std::unique_ptr<std::uint8_t[]> bytes)
        : byteLength_(byteLength), bytes_(std::move(bytes)) {}

    std::uint32_t byteLength_;
    std::unique_ptr<std::uint8_t[]> bytes_;
};

// Removes and returns the first node of a list; null when the list is empty.
std::unique_ptr<RenderBuffer> PopRenderBuffer(std::unique_ptr<RenderBuffer>& list);

}  // namespace hushwell
