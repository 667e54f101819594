#include "base/SpilledBytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <utility>
#include <vector>

#include "tests/support/TempFolder.h"

namespace hushwell {
namespace {

using testing::TempFolder;

std::vector<std::uint8_t> Counting(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), std::uint8_t{7});
    return bytes;
}

TEST(SpilledBytesTest, HoldsTheBytesInAFileNobodyCanName) {
    TempFolder folder;
    // More than a page, not a whole number of pages.
    const std::vector<std::uint8_t> bytes = Counting(3 * 4096 + 5);
    SpilledBytes spilled = SpilledBytes::Spill(folder.Path(), bytes);
    ASSERT_TRUE(spilled.IsMapped());
    EXPECT_EQ(std::vector<std::uint8_t>(spilled.Bytes().begin(), spilled.Bytes().end()), bytes);
    EXPECT_EQ(folder.EntryCount(), 0u);

    // Moving hands the mapping over; the moved-from owner is empty.
    SpilledBytes moved = std::move(spilled);
    EXPECT_FALSE(spilled.IsMapped());
    EXPECT_TRUE(spilled.Bytes().empty());
    ASSERT_TRUE(moved.IsMapped());
    EXPECT_EQ(moved.Bytes()[4096], bytes[4096]);
    moved = SpilledBytes::Spill(folder.Path(), Counting(10));
    ASSERT_TRUE(moved.IsMapped());
    EXPECT_EQ(moved.Bytes().size(), 10u);
}

TEST(SpilledBytesTest, FailsWithoutAUsableFolderOrRoom) {
    TempFolder folder;
    const std::vector<std::uint8_t> bytes = Counting(64 * 1024);
    EXPECT_FALSE(SpilledBytes::Spill(folder.File("missing"), bytes).IsMapped());
    EXPECT_FALSE(SpilledBytes::Spill("", bytes).IsMapped());
    testing::WriteFile(folder.File("a-file"), "x");
    EXPECT_FALSE(SpilledBytes::Spill(folder.File("a-file"), bytes).IsMapped());
    EXPECT_FALSE(SpilledBytes::Spill(folder.Path(), {}).IsMapped());
    {
        // A disk that fills up half-way: no mapping of a partial file.
        testing::FileSizeLimit limit(16 * 1024);
        EXPECT_FALSE(SpilledBytes::Spill(folder.Path(), bytes).IsMapped());
    }
    EXPECT_EQ(folder.EntryCount(), 1u);  // only "a-file"
}

TEST(SpilledBytesTest, WriterKeepsWholePiecesWhenTheDiskFillsUp) {
    TempFolder folder;
    const std::vector<std::uint8_t> piece = Counting(10 * 1024);
    SpilledBytes::Writer writer(folder.Path());
    ASSERT_TRUE(writer.IsOpen());
    {
        testing::FileSizeLimit limit(25 * 1024);
        EXPECT_TRUE(writer.Append(piece));
        EXPECT_TRUE(writer.Append(piece));
        EXPECT_FALSE(writer.Append(piece));  // only half of it fits
    }
    EXPECT_FALSE(writer.Append(piece));  // nothing more after a failure
    EXPECT_EQ(writer.Size(), 2 * piece.size());
    std::vector<std::uint8_t> back(writer.Size());
    ASSERT_TRUE(writer.ReadBack(back));
    EXPECT_TRUE(std::equal(back.begin(), back.begin() + 10 * 1024, piece.begin()));
    EXPECT_TRUE(std::equal(back.begin() + 10 * 1024, back.end(), piece.begin()));
    std::vector<std::uint8_t> tooMuch(writer.Size() + 1);
    EXPECT_FALSE(writer.ReadBack(tooMuch));

    const SpilledBytes mapped = writer.Map();
    ASSERT_TRUE(mapped.IsMapped());
    EXPECT_EQ(mapped.Bytes().size(), 2 * piece.size());
    EXPECT_EQ(mapped.Bytes()[10 * 1024 + 7], piece[7]);
    EXPECT_FALSE(SpilledBytes::Writer(folder.File("missing")).IsOpen());
    EXPECT_EQ(folder.EntryCount(), 0u);
}

}  // namespace
}  // namespace hushwell
