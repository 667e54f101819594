#pragma once

#include <cstdint>

#include "audio/AudioResult.h"

namespace hushwell {

// Flags that GetBuffer reports with a packet.
inline constexpr std::uint32_t kBufferFlagDataDiscontinuity = 0x1;  // packets were lost before
inline constexpr std::uint32_t kBufferFlagSilent = 0x2;  // treat the packet's data as zeros

// Reads the packets of a loopback capture stream (AudioClient::GetCaptureClient), in the
// stream's format (AudioClient::GetMixFormat). The stream keeps the packets that arrived
// since the last read, up to its buffer (at least two seconds); older ones are dropped and the
// next packet carries kBufferFlagDataDiscontinuity.
//
// Threads: meant for one reading thread (polling, or woken by the stream's event). Calls are
// serialised inside the layer, so the owner may Stop the audio client from another thread
// while the reader runs.
class CaptureClient {
public:
    virtual ~CaptureClient() = default;

    // Frames in the next packet, 0 when none is waiting.
    virtual AudioResult GetNextPacketSize(std::uint32_t& frames) = 0;

    // Hands out the next packet: data stays valid until ReleaseBuffer. With no packet waiting
    // the result is Ok with frames = 0 and data = nullptr. A packet flagged kBufferFlagSilent
    // still has frames × block-align readable bytes, all zero. Calling GetBuffer again before
    // ReleaseBuffer gives WrongState.
    virtual AudioResult GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                                  std::uint32_t& flags) = 0;

    // Ends the read of the packet from GetBuffer: framesRead must be the packet's frame count
    // (the packet is consumed) or 0 (it stays and is handed out again). Anything else gives
    // InvalidArgument and keeps the packet. Releasing 0 frames with no packet held is Ok.
    virtual AudioResult ReleaseBuffer(std::uint32_t framesRead) = 0;
};

}  // namespace hushwell
