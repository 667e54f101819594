#include "base/FormatTimeStamp.h"

#include <gtest/gtest.h>

#include "base/Clock.h"

namespace hushwell {
namespace {

TEST(FormatTimeStampTest, DateOrderFollowsTheTypeAndTheClocksLocalTimeIsRead) {
    const LocalTime t{2026, 12, 5, 14, 3, 9, 6};
    EXPECT_EQ(FormatTimeStamp(0, false, t), "120526_140309");
    EXPECT_EQ(FormatTimeStamp(1, true, t), "051226_14:03:09");
    EXPECT_EQ(FormatTimeStamp(2, false, t), "261205_140309");
    EXPECT_EQ(FormatTimeStamp(3, false, t), "");
    EXPECT_EQ(FormatTimeStamp(-1, true, t), "");

    ManualClock clock(0, LocalTime{2000, 1, 2, 3, 4, 5, 0});
    clock.AdvanceMs(61000);
    EXPECT_EQ(FormatTimeStamp(2, true, clock), "000102_03:05:06");
}

}  // namespace
}  // namespace hushwell
