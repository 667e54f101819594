#include "audio/CapturePacketQueue.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "audio/CaptureClient.h"

namespace hushwell {
namespace {

constexpr std::uint32_t kFrameBytes = 4;

std::vector<std::uint8_t> Bytes(std::uint32_t frames, std::uint8_t value) {
    return std::vector<std::uint8_t>(frames * kFrameBytes, value);
}

TEST(CapturePacketQueueTest, ReadProtocolHandsOutOnePacketAtATime) {
    CapturePacketQueue queue(kFrameBytes, 1000);
    const std::uint8_t* data = nullptr;
    std::uint32_t frames = 99, flags = 99;
    EXPECT_EQ(queue.GetBuffer(data, frames, flags), AudioResult::Ok);  // empty: Ok, nothing
    EXPECT_EQ(frames, 0u);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(queue.ReleaseBuffer(0), AudioResult::Ok);
    EXPECT_EQ(queue.ReleaseBuffer(5), AudioResult::WrongState);

    auto first = Bytes(10, 7);
    queue.Push(first.data(), 10, false);
    queue.Push(Bytes(20, 8).data(), 20, false);
    std::uint32_t next = 0;
    queue.GetNextPacketSize(next);
    EXPECT_EQ(next, 10u);

    ASSERT_EQ(queue.GetBuffer(data, frames, flags), AudioResult::Ok);
    EXPECT_EQ(frames, 10u);
    EXPECT_EQ(flags, 0u);
    EXPECT_EQ(data[0], 7);
    EXPECT_EQ(queue.GetBuffer(data, frames, flags), AudioResult::WrongState);
    // A wrong count keeps the packet held; 0 gives it back unread.
    EXPECT_EQ(queue.ReleaseBuffer(3), AudioResult::InvalidArgument);
    EXPECT_EQ(queue.ReleaseBuffer(0), AudioResult::Ok);
    ASSERT_EQ(queue.GetBuffer(data, frames, flags), AudioResult::Ok);
    EXPECT_EQ(frames, 10u);
    EXPECT_EQ(queue.ReleaseBuffer(10), AudioResult::Ok);
    queue.GetNextPacketSize(next);
    EXPECT_EQ(next, 20u);
    EXPECT_EQ(queue.QueuedFrames(), 20u);
}

TEST(CapturePacketQueueTest, SilentPacketsAreReadableZeros) {
    CapturePacketQueue queue(kFrameBytes, 1000);
    queue.Push(nullptr, 8, false);
    auto loud = Bytes(8, 0x55);
    queue.Push(loud.data(), 8, true);
    for (int i = 0; i < 2; ++i) {
        const std::uint8_t* data = nullptr;
        std::uint32_t frames = 0, flags = 0;
        ASSERT_EQ(queue.GetBuffer(data, frames, flags), AudioResult::Ok);
        EXPECT_EQ(flags, kBufferFlagSilent);
        ASSERT_EQ(frames, 8u);
        EXPECT_EQ(std::vector<std::uint8_t>(data, data + 8 * kFrameBytes), Bytes(8, 0));
        queue.ReleaseBuffer(frames);
    }
}

TEST(CapturePacketQueueTest, OverflowDropsOldestButNeverThePacketBeingRead) {
    CapturePacketQueue queue(kFrameBytes, 30);
    queue.Push(Bytes(10, 1).data(), 10, false);
    const std::uint8_t* held = nullptr;
    std::uint32_t frames = 0, flags = 0;
    ASSERT_EQ(queue.GetBuffer(held, frames, flags), AudioResult::Ok);
    for (std::uint8_t value = 2; value <= 6; ++value) {
        queue.Push(Bytes(10, value).data(), 10, false);
    }
    // The held packet's bytes are intact, the queue is back within its capacity.
    EXPECT_EQ(held[0], 1);
    EXPECT_EQ(held[10 * kFrameBytes - 1], 1);
    EXPECT_EQ(queue.QueuedFrames(), 30u);
    ASSERT_EQ(queue.ReleaseBuffer(10), AudioResult::Ok);
    // Packets 2..4 went; the first one after the gap says so, the next one does not.
    const std::uint8_t* data = nullptr;
    ASSERT_EQ(queue.GetBuffer(data, frames, flags), AudioResult::Ok);
    EXPECT_EQ(data[0], 5);
    EXPECT_EQ(flags, kBufferFlagDataDiscontinuity);
    queue.ReleaseBuffer(frames);
    ASSERT_EQ(queue.GetBuffer(data, frames, flags), AudioResult::Ok);
    EXPECT_EQ(data[0], 6);
    EXPECT_EQ(flags, 0u);
}

TEST(CapturePacketQueueTest, ClearKeepsAHeldPacketAndAGapFlagsTheNextPush) {
    CapturePacketQueue queue(kFrameBytes, 100);
    queue.Push(Bytes(5, 1).data(), 5, false);
    queue.Push(Bytes(5, 2).data(), 5, false);
    const std::uint8_t* held = nullptr;
    std::uint32_t frames = 0, flags = 0;
    ASSERT_EQ(queue.GetBuffer(held, frames, flags), AudioResult::Ok);
    queue.Clear();
    queue.MarkGap();
    EXPECT_EQ(queue.QueuedFrames(), 5u);
    EXPECT_EQ(held[0], 1);
    EXPECT_EQ(queue.ReleaseBuffer(5), AudioResult::Ok);
    queue.Push(Bytes(5, 3).data(), 5, false);
    const std::uint8_t* data = nullptr;
    ASSERT_EQ(queue.GetBuffer(data, frames, flags), AudioResult::Ok);
    EXPECT_EQ(data[0], 3);
    EXPECT_EQ(flags, kBufferFlagDataDiscontinuity);
}

}  // namespace
}  // namespace hushwell
