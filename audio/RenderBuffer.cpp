#include "audio/RenderBuffer.h"

#include <new>

namespace hushwell {

std::unique_ptr<RenderBuffer> RenderBuffer::Allocate(std::uint32_t byteLength) noexcept {
    std::unique_ptr<std::uint8_t[]> bytes(new (std::nothrow) std::uint8_t[byteLength]());
    if (!bytes) {
        return nullptr;
    }
    return std::unique_ptr<RenderBuffer>(new (std::nothrow)
                                             RenderBuffer(byteLength, std::move(bytes)));
}

RenderBuffer::~RenderBuffer() {
    // Unlink the rest first, so each node dies with an empty tail.
    std::unique_ptr<RenderBuffer> rest = std::move(next);
    while (rest) {
        rest = std::move(rest->next);
    }
}

std::unique_ptr<RenderBuffer> PopRenderBuffer(std::unique_ptr<RenderBuffer>& list) {
    std::unique_ptr<RenderBuffer> first = std::move(list);
    if (first) {
        list = std::move(first->next);
    }
    return first;
}

}  // namespace hushwell
