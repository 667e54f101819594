#include "detection/SilenceWakeUps.h"

#include <gtest/gtest.h>

#include <cstddef>

namespace hushwell {
namespace {

constexpr std::size_t kDelivery = 5;  // 10 ms blocks of one 50 ms transfer

// Wake-ups over `deliveries` deliveries of the same kind.
std::size_t WakeUps(SilenceWakeUps& policy, std::size_t deliveries, bool heard) {
    std::size_t wakeUps = 0;
    for (std::size_t n = 0; n < deliveries; ++n) {
        wakeUps += policy.OnDelivery(kDelivery, heard) ? 1 : 0;
    }
    return wakeUps;
}

TEST(SilenceWakeUpsTest, SoundAndTheFirstSecondOfSilenceWakeForEveryDelivery) {
    SilenceWakeUps policy;
    EXPECT_EQ(WakeUps(policy, 40, true), 40u);
    // Twenty deliveries make the first second of silence: the passes matching the end of the
    // sound look into it.
    EXPECT_EQ(WakeUps(policy, 20, false), 20u);
    EXPECT_FALSE(policy.OnDelivery(0, true));  // nothing queued, nothing to wake for
}

TEST(SilenceWakeUpsTest, LongSilenceWakesEveryHalfSecondAndSoundAtOnce) {
    SilenceWakeUps policy;
    WakeUps(policy, 20, false);  // the first second
    // Then one wake-up per 50 blocks: two a second instead of twenty.
    EXPECT_EQ(WakeUps(policy, 100, false), 10u);
    EXPECT_FALSE(policy.OnDelivery(kDelivery, false));
    EXPECT_TRUE(policy.OnDelivery(kDelivery, true));  // sound: at once, with the silence before
    EXPECT_EQ(WakeUps(policy, 20, false), 20u);       // and a new first second after it
    EXPECT_FALSE(policy.OnDelivery(kDelivery, false));
}

TEST(SilenceWakeUpsTest, ARestartTreatsTheNextSilenceAsFollowingSound) {
    SilenceWakeUps policy;
    WakeUps(policy, 60, false);
    policy.Restart();
    EXPECT_EQ(WakeUps(policy, 20, false), 20u);
    // A delivery larger than the group (a backlog) wakes at once.
    EXPECT_TRUE(policy.OnDelivery(SilenceWakeUps::kBlocksPerWakeUp, false));
}

}  // namespace
}  // namespace hushwell
