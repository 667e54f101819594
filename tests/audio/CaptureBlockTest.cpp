#include "audio/CaptureBlock.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace hushwell {
namespace {

TEST(CaptureBlockTest, LittleEndianLengthThenPayloadZerosWhenSilentNullWhenImpossible) {
    const std::vector<std::uint8_t> packet{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
    const CaptureBlock block =
        CaptureBlock::CopyOf(packet.data(), static_cast<std::uint32_t>(packet.size()));
    ASSERT_TRUE(block);
    std::vector<std::uint8_t> expected{12, 0, 0, 0};
    expected.insert(expected.end(), packet.begin(), packet.end());
    EXPECT_EQ(std::vector<std::uint8_t>(block.Bytes(), block.Bytes() + block.TotalSize()),
              expected);

    const CaptureBlock silent = CaptureBlock::CopyOf(nullptr, 0x010203);
    ASSERT_TRUE(silent);
    EXPECT_EQ(std::vector<std::uint8_t>(silent.Bytes(), silent.Bytes() + 4),
              (std::vector<std::uint8_t>{0x03, 0x02, 0x01, 0x00}));
    EXPECT_EQ(std::vector<std::uint8_t>(silent.Payload(), silent.Payload() + 0x010203),
              std::vector<std::uint8_t>(0x010203, 0));

    EXPECT_FALSE(CaptureBlock::Allocate(CaptureBlock::kMaxPayloadSize + 1));
}

}  // namespace
}  // namespace hushwell
