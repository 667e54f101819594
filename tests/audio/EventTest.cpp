#include "audio/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "audio/Clock.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;

TEST(EventTest, AutoResetWakesOnceAndClears) {
    Event e(Event::Mode::AutoReset);
    EXPECT_FALSE(e.Wait(0ms));
    e.Set();
    e.Set();  // two signals before a wait still count as one
    EXPECT_TRUE(e.Wait(0ms));
    EXPECT_FALSE(e.Wait(0ms));
}

TEST(EventTest, ManualResetStaysSetUntilReset) {
    Event e(Event::Mode::ManualReset, true);
    EXPECT_TRUE(e.Wait(0ms));
    EXPECT_TRUE(e.Wait(0ms));
    e.Reset();
    EXPECT_FALSE(e.Wait(0ms));
}

TEST(EventTest, WaitForAnyPrefersLowestIndexAndConsumesOnlyIt) {
    Event end(Event::Mode::AutoReset), data(Event::Mode::AutoReset);
    data.Set();
    end.Set();
    auto first = WaitForAny({&end, &data}, 0ms);
    ASSERT_TRUE(first.has_value());
    EXPECT_EQ(*first, 0u);
    auto second = WaitForAny({&end, &data}, 0ms);
    ASSERT_TRUE(second.has_value());
    EXPECT_EQ(*second, 1u);
    EXPECT_FALSE(WaitForAny({&end, &data}, 0ms).has_value());
}

TEST(EventTest, WakesAWaiterOnAnotherThread) {
    Event e;
    std::atomic<bool> woke{false};
    std::thread waiter([&] { woke = e.Wait(30s); });
    e.Set();
    waiter.join();
    EXPECT_TRUE(woke);
}

TEST(EventTest, AutoResetSignalGoesToExactlyOneOfManyWaiters) {
    Event e;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] {
            if (e.Wait(2s)) {
                ++woken;
            }
        });
    }
    e.Set();
    for (auto& t : waiters) {
        t.join();
    }
    EXPECT_EQ(woken.load(), 1);
}

TEST(ClockTest, ManualClockCarriesLocalTimeAcrossMidnightAndYear) {
    ManualClock clock(5000, LocalTime{2026, 12, 31, 23, 59, 58, 4});
    clock.AdvanceMs(2500);
    LocalTime t = clock.Now();
    EXPECT_EQ(t.year, 2027);
    EXPECT_EQ(t.month, 1);
    EXPECT_EQ(t.day, 1);
    EXPECT_EQ(t.hour, 0);
    EXPECT_EQ(t.second, 0);
    EXPECT_EQ(t.weekday, 5);  // 2027-01-01 is a Friday
    EXPECT_EQ(clock.TickMs(), 7500u);
}

}  // namespace
}  // namespace hushwell
