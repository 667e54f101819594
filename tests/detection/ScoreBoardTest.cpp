#include "detection/ScoreBoard.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace hushwell {
namespace {

using Stage = ScoreBoard::Stage;

constexpr std::uint64_t kSecond = ScoreBoard::kBucketMs;

TEST(ScoreBoardTest, AReadingIsTheBestScoreAndFurthestStageOfTheLastTwoSeconds) {
    ScoreBoard board(4);
    board.Record(1, 10 * kSecond + 100, 0.40f, 0.90f, Stage::Below);
    board.Record(1, 10 * kSecond + 200, 0.95f, 0.90f, Stage::Candidate);
    board.Record(1, 10 * kSecond + 300, 0.60f, 0.90f, Stage::Below);
    board.Record(1, 11 * kSecond + 100, 0.70f, 0.90f, Stage::Below);

    const ScoreBoard::Reading now = board.Read(1, 11 * kSecond + 500);
    EXPECT_NEAR(now.score, 0.95f, 1e-4f);
    EXPECT_FLOAT_EQ(now.threshold, 0.90f);
    EXPECT_EQ(now.stage, Stage::Candidate);

    // A second later the candidate's bucket is gone; the later score remains.
    const ScoreBoard::Reading later = board.Read(1, 12 * kSecond + 500);
    EXPECT_NEAR(later.score, 0.70f, 1e-4f);
    EXPECT_EQ(later.stage, Stage::Below);

    // Two seconds without a score: nothing.
    EXPECT_EQ(board.Read(1, 13 * kSecond + 1).stage, Stage::None);
    // Other triggers saw nothing at all.
    EXPECT_EQ(board.Read(0, 11 * kSecond).stage, Stage::None);
}

TEST(ScoreBoardTest, ABucketReusedAfterTwoSecondsStartsAfresh) {
    ScoreBoard board(1);
    board.Record(0, 2 * kSecond, 0.99f, 0.9f, Stage::Fired);
    // Same bucket slot (even second), two seconds on: the old firing must not carry over.
    board.Record(0, 4 * kSecond, 0.30f, 0.9f, Stage::Below);
    const ScoreBoard::Reading reading = board.Read(0, 4 * kSecond + 10);
    EXPECT_NEAR(reading.score, 0.30f, 1e-4f);
    EXPECT_EQ(reading.stage, Stage::Below);
}

TEST(ScoreBoardTest, ScoresOutsideZeroToOneAreLimitedAndASharedSlotHasOneOwner) {
    ScoreBoard board(4);
    board.Record(0, kSecond, 1.7f, 0.9f, Stage::Below);
    board.Record(2, kSecond, -3.0f, 0.9f, Stage::Below);
    EXPECT_FLOAT_EQ(board.Read(0, kSecond).score, 1.0f);
    EXPECT_FLOAT_EQ(board.Read(2, kSecond).score, 0.0f);
    EXPECT_EQ(board.Read(2, kSecond).stage, Stage::Below);

    // Serial ids 1 and 5 share a slot: the one that recorded last owns it, and the other's
    // firing does not show under its name.
    board.Record(1, kSecond, 0.99f, 0.9f, Stage::Fired);
    board.Record(5, kSecond, 0.20f, 0.8f, Stage::Below);
    EXPECT_EQ(board.Read(1, kSecond).stage, Stage::None);
    const ScoreBoard::Reading five = board.Read(5, kSecond);
    EXPECT_EQ(five.stage, Stage::Below);
    EXPECT_NEAR(five.score, 0.20f, 1e-4f);
    EXPECT_FLOAT_EQ(five.threshold, 0.8f);

    board.Clear();
    EXPECT_EQ(board.Read(0, kSecond).stage, Stage::None);
}

// The reader never blocks the writer and never sees a value nobody wrote: every score the
// writer records lies on the grid it writes, whatever the interleaving.
TEST(ScoreBoardTest, AReaderOnAnotherThreadSeesOnlyWrittenValues) {
    ScoreBoard board(1);
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (std::uint64_t tick = 0; tick < 200000; ++tick) {
            const float score = static_cast<float>(tick % 8) / 8.0f;
            board.Record(0, tick, score, 0.5f, score > 0.5f ? Stage::Candidate : Stage::Below);
        }
        done.store(true);
    });
    std::uint64_t reads = 0;
    bool allOnGrid = true;
    while (!done.load()) {
        const ScoreBoard::Reading reading = board.Read(0, reads++ % 200000);
        const float eighths = reading.score * 8.0f;
        allOnGrid = allOnGrid && std::abs(eighths - std::round(eighths)) < 1e-3f;
    }
    writer.join();
    EXPECT_TRUE(allOnGrid);
}

}  // namespace
}  // namespace hushwell
