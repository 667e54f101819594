#include "audio/CaptureBlock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <utility>
#include <vector>

namespace hushwell {
namespace {

TEST(CaptureBlockTest, LengthFieldIsLittleEndianAndPayloadFollowsIt) {
    const std::vector<std::uint8_t> packet{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const CaptureBlock block =
        CaptureBlock::CopyOf(packet.data(), static_cast<std::uint32_t>(packet.size()));
    ASSERT_TRUE(block);
    const std::vector<std::uint8_t> bytes(block.Bytes(), block.Bytes() + block.TotalSize());
    std::vector<std::uint8_t> expected{12, 0, 0, 0};
    expected.insert(expected.end(), packet.begin(), packet.end());
    EXPECT_EQ(bytes, expected);

    const CaptureBlock large = CaptureBlock::Allocate(0x010203);
    ASSERT_TRUE(large);
    EXPECT_EQ(std::vector<std::uint8_t>(large.Bytes(), large.Bytes() + 4),
              (std::vector<std::uint8_t>{0x03, 0x02, 0x01, 0x00}));
    EXPECT_EQ(large.PayloadSize(), 0x010203u);
}

TEST(CaptureBlockTest, SilentCopiesAreZerosAndImpossibleSizesGiveNull) {
    const CaptureBlock silent = CaptureBlock::CopyOf(nullptr, 64);
    ASSERT_TRUE(silent);
    EXPECT_EQ(std::vector<std::uint8_t>(silent.Payload(), silent.Payload() + 64),
              std::vector<std::uint8_t>(64, 0));

    EXPECT_FALSE(CaptureBlock::Allocate(CaptureBlock::kMaxPayloadSize + 1));
    EXPECT_EQ(CaptureBlock().PayloadSize(), 0u);
    EXPECT_EQ(CaptureBlock().Payload(), nullptr);

    CaptureBlock moved = CaptureBlock::Allocate(8);
    CaptureBlock target = std::move(moved);
    EXPECT_TRUE(target);
    EXPECT_FALSE(moved);  // NOLINT(bugprone-use-after-move): a moved-from block is null
}

}  // namespace
}  // namespace hushwell
