#pragma once

#include <cstdint>
#include <deque>
#include <mutex>
#include <vector>

#include "audio/AudioResult.h"

namespace hushwell {

// Every capture stream keeps at least this much audio for a late reader before dropping.
inline constexpr std::uint32_t kMinCaptureBacklogMs = 2000;

// The packets of one capture stream between the backend that receives them and the thread
// that reads them (GetNextPacketSize / GetBuffer / ReleaseBuffer, as CaptureClient describes).
// It holds at most `capacityFrames` frames: when more arrive, the oldest packets that are not
// being read are dropped, and the packet that follows the gap is flagged as a discontinuity.
//
// Threads: any thread; the producer (the backend) and the consumer (the capture thread) may
// run at once. The data that GetBuffer hands out stays valid until ReleaseBuffer.
class CapturePacketQueue {
public:
    CapturePacketQueue(std::uint32_t frameBytes, std::uint32_t capacityFrames);

    // Producer side. A null `data` or `silent` queues a packet flagged silent, of zeros.
    void Push(const std::uint8_t* data, std::uint32_t frames, bool silent);
    // Drops every packet except one being read.
    void Clear();
    // Audio was lost before the next packet pushed: that packet carries the discontinuity flag.
    void MarkGap();
    std::uint64_t QueuedFrames() const;

    // Consumer side.
    AudioResult GetNextPacketSize(std::uint32_t& frames) const;
    AudioResult GetBuffer(const std::uint8_t*& data, std::uint32_t& frames, std::uint32_t& flags);
    AudioResult ReleaseBuffer(std::uint32_t framesRead);

private:
    struct Packet {
        std::vector<std::uint8_t> bytes;
        std::uint32_t frames = 0;
        std::uint32_t flags = 0;
    };

    void DropOldestBeyondCapacity();
    void FlagFirstUnreadPacket(std::uint32_t flag);

    const std::uint32_t frameBytes_;
    const std::uint32_t capacityFrames_;
    mutable std::mutex mutex_;
    // GetBuffer hands out a packet's own heap buffer, which stays put when packets move.
    std::deque<Packet> packets_;
    std::uint64_t queuedFrames_ = 0;
    bool frontHeld_ = false;   // GetBuffer handed out the front packet
    bool gapPending_ = false;  // the next pushed packet follows lost audio
};

}  // namespace hushwell
