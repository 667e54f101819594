#include "audio/CapturePacketQueue.h"

#include <algorithm>

#include "audio/CaptureClient.h"

namespace hushwell {

CapturePacketQueue::CapturePacketQueue(std::uint32_t frameBytes, std::uint32_t capacityFrames)
    : frameBytes_(frameBytes), capacityFrames_(capacityFrames) {}

void CapturePacketQueue::Push(const std::uint8_t* data, std::uint32_t frames, bool silent) {
    if (frames == 0) {
        return;
    }
    Packet packet;
    packet.frames = frames;
    const std::size_t size = static_cast<std::size_t>(frames) * frameBytes_;
    if (silent || data == nullptr) {
        packet.bytes.assign(size, 0);
        packet.flags = kBufferFlagSilent;
    } else {
        packet.bytes.assign(data, data + size);
    }
    std::lock_guard lock(mutex_);
    if (gapPending_) {
        packet.flags |= kBufferFlagDataDiscontinuity;
        gapPending_ = false;
    }
    packets_.push_back(std::move(packet));
    queuedFrames_ += frames;
    DropOldestBeyondCapacity();
}

void CapturePacketQueue::DropOldestBeyondCapacity() {
    bool dropped = false;
    // The packet being read stays; the oldest of the others go first. The newest always stays.
    const std::size_t firstDroppable = frontHeld_ ? 1 : 0;
    while (queuedFrames_ > capacityFrames_ && packets_.size() > firstDroppable + 1) {
        auto oldest = packets_.begin() + static_cast<std::ptrdiff_t>(firstDroppable);
        queuedFrames_ -= oldest->frames;
        packets_.erase(oldest);
        dropped = true;
    }
    if (dropped) {
        FlagFirstUnreadPacket(kBufferFlagDataDiscontinuity);
    }
}

void CapturePacketQueue::FlagFirstUnreadPacket(std::uint32_t flag) {
    const std::size_t first = frontHeld_ ? 1 : 0;
    if (packets_.size() > first) {
        packets_[first].flags |= flag;
    }
}

void CapturePacketQueue::Clear() {
    std::lock_guard lock(mutex_);
    const std::size_t kept = frontHeld_ ? 1 : 0;
    while (packets_.size() > kept) {
        queuedFrames_ -= packets_.back().frames;
        packets_.pop_back();
    }
}

void CapturePacketQueue::MarkGap() {
    std::lock_guard lock(mutex_);
    gapPending_ = true;
}

std::uint64_t CapturePacketQueue::QueuedFrames() const {
    std::lock_guard lock(mutex_);
    return queuedFrames_;
}

AudioResult CapturePacketQueue::GetNextPacketSize(std::uint32_t& frames) const {
    std::lock_guard lock(mutex_);
    frames = packets_.empty() ? 0 : packets_.front().frames;
    return AudioResult::Ok;
}

AudioResult CapturePacketQueue::GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                                          std::uint32_t& flags) {
    std::lock_guard lock(mutex_);
    data = nullptr;
    frames = 0;
    flags = 0;
    if (frontHeld_) {
        return AudioResult::WrongState;
    }
    if (packets_.empty()) {
        return AudioResult::Ok;
    }
    const Packet& front = packets_.front();
    data = front.bytes.data();
    frames = front.frames;
    flags = front.flags;
    frontHeld_ = true;
    return AudioResult::Ok;
}

AudioResult CapturePacketQueue::ReleaseBuffer(std::uint32_t framesRead) {
    std::lock_guard lock(mutex_);
    if (!frontHeld_) {
        return framesRead == 0 ? AudioResult::Ok : AudioResult::WrongState;
    }
    if (framesRead == 0) {
        frontHeld_ = false;
        return AudioResult::Ok;
    }
    if (framesRead != packets_.front().frames) {
        return AudioResult::InvalidArgument;
    }
    queuedFrames_ -= framesRead;
    packets_.pop_front();
    frontHeld_ = false;
    return AudioResult::Ok;
}

}  // namespace hushwell
