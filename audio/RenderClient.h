#pragma once

#include <cstdint>

#include "audio/AudioResult.h"

namespace hushwell {

// Writes audio into an event-paced render stream (AudioClient::GetRenderClient), in the
// stream's format. The free space is GetBufferSize − GetCurrentPadding frames.
//
// Threads: meant for one writing thread (the render thread, and the player before Start);
// calls are serialised inside the layer.
class RenderClient {
public:
    virtual ~RenderClient() = default;

    // A writable area for `frames` frames, valid until ReleaseBuffer. More frames than are
    // free gives InvalidArgument; asking again before ReleaseBuffer gives WrongState.
    virtual AudioResult GetBuffer(std::uint32_t frames, std::uint8_t*& data) = 0;

    // Queues the first `frames` frames written (at most what GetBuffer asked for); with
    // kBufferFlagSilent (see CaptureClient.h) they are queued as zeros whatever was written.
    virtual AudioResult ReleaseBuffer(std::uint32_t frames, std::uint32_t flags) = 0;
};

}  // namespace hushwell
