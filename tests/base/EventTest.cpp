#include "base/Event.h"

#include <gtest/gtest.h>

#include <atomic>
#include <optional>
#include <thread>
#include <tuple>
#include <vector>

#include "base/Clock.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;

TEST(EventTest, AutoResetWakesOnceManualResetStaysSetUntilReset) {
    Event automatic(Event::Mode::AutoReset);
    EXPECT_FALSE(automatic.Wait(0ms));
    automatic.Set();
    automatic.Set();  // two signals before a wait still count as one
    EXPECT_TRUE(automatic.Wait(0ms));
    EXPECT_FALSE(automatic.Wait(0ms));

    Event manual(Event::Mode::ManualReset, true);
    EXPECT_TRUE(manual.Wait(0ms));
    EXPECT_TRUE(manual.Wait(0ms));
    manual.Reset();
    EXPECT_FALSE(manual.Wait(0ms));
}

TEST(EventTest, WaitForAnyPrefersLowestIndexAndConsumesOnlyIt) {
    Event end(Event::Mode::AutoReset), data(Event::Mode::AutoReset);
    data.Set();
    end.Set();
    EXPECT_EQ(WaitForAny({&end, &data}, 0ms), std::optional<std::size_t>(0));
    EXPECT_EQ(WaitForAny({&end, &data}, 0ms), std::optional<std::size_t>(1));
    EXPECT_FALSE(WaitForAny({&end, &data}, 0ms).has_value());
}

TEST(EventTest, AutoResetSignalWakesExactlyOneOfManyWaitersOnOtherThreads) {
    Event e;
    std::atomic<int> woken{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 4; ++i) {
        waiters.emplace_back([&] { woken += e.Wait(2s) ? 1 : 0; });
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
    const LocalTime t = clock.Now();
    EXPECT_EQ(std::tuple(t.year, t.month, t.day, t.hour, t.minute, t.second),
              std::tuple(2027, 1, 1, 0, 0, 0));
    EXPECT_EQ(t.weekday, 5);  // 2027-01-01 is a Friday
    EXPECT_EQ(clock.TickMs(), 7500u);
}

}  // namespace
}  // namespace hushwell
