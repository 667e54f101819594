#include <gtest/gtest.h>

#include <set>
#include <thread>

#include "triggers/TriggerList.h"

namespace hushwell {
namespace {

Trigger Record(std::string_view kind, std::string_view name, bool active = true) {
    Trigger t;
    t.triggerKind = kind;
    t.name = name;
    if (active) {
        t.SetActive(true);
    }
    return t;
}

TEST(TriggerListTest, AddNumbersRecordsAndRespectsLimitsOfActiveRecords) {
    TriggerList list;
    list.SetLimits(2, 200, 50);
    list.Add(Record("sound", "a"));
    list.Add(Record("sound", "hidden", false));  // inactive records do not use up the limit
    list.Add(Record("sound", "b"));
    list.Add(Record("sound", "c"));  // over the limit: dropped silently
    list.Add(Record("colour", "d"));
    EXPECT_EQ(list.CountSound(), 2);
    EXPECT_EQ(list.StoredCount(TriggerKind::Sound), 3);
    EXPECT_EQ(list.GetSound(1)->name, "b");
    EXPECT_EQ(list.GetSound(1)->serialId, 3u);
    EXPECT_EQ(list.GetSound(2), nullptr);
    EXPECT_EQ(list.GetSound(-1), nullptr);
}

TEST(TriggerListTest, InactiveRecordsAreInvisibleExceptToFindSameAndSetActive) {
    TriggerList list;
    list.Add(Record("time", "off", false));
    list.Add(Record("time", "on"));
    const Trigger off = Record("time", "off", false);
    EXPECT_EQ(list.CountTime(), 1);
    EXPECT_EQ(list.GetTime(0)->name, "on");
    EXPECT_EQ(list.IndexOfSame(off), -1);
    ASSERT_NE(list.FindSame(off), nullptr);
    EXPECT_EQ(list.FindSame(off)->name, "off");
    list.SetActive(TriggerKind::Time, 0, true);  // vector position, inactive ones included
    EXPECT_EQ(list.CountTime(), 2);
    EXPECT_EQ(list.GetTime(0)->name, "off");
    list.SetActive(TriggerKind::Time, 5, true);  // out of range: nothing happens
    EXPECT_EQ(list.RemoveTime(2), 1);
}

TEST(TriggerListTest, PositionsRunOverAllKindsInOrder) {
    TriggerList list;
    list.Add(Record("level", "L"));
    list.Add(Record("sound", "S0"));
    list.Add(Record("sound", "S-off", false));
    list.Add(Record("sound", "S1"));
    list.Add(Record("time", "T"));
    EXPECT_EQ(list.IndexOfSame(Record("sound", "S1")), 1);
    EXPECT_EQ(list.IndexOfSame(Record("time", "T")), 2);
    EXPECT_EQ(list.IndexOfSame(Record("level", "L")), 3);
    EXPECT_EQ(list.IndexOfSame(Record("colour", "L")), -1);

    auto sel = list.MapSelection(1);
    EXPECT_EQ(sel.sound, 2);
    EXPECT_EQ(sel.time + sel.level, 0);
    EXPECT_EQ(list.MapSelection(3).level, 1);
    for (int outside : {4, -1}) {
        sel = list.MapSelection(outside);
        EXPECT_EQ(sel.sound + sel.time + sel.level, 0);
    }
}

TEST(TriggerListTest, MergeAddsOnlyRecordsWithoutAnEqual) {
    TriggerList list;
    list.Add(Record("sound", "same"));
    TriggerList other;
    other.Add(Record("sound", "same"));
    other.Add(Record("sound", "new"));
    other.Add(Record("level", "asleep", false));
    list.Merge(other);
    list.Merge(other);  // again: nothing new
    EXPECT_EQ(list.StoredCount(TriggerKind::Sound), 2);
    EXPECT_EQ(list.StoredCount(TriggerKind::Level), 1);
    list.Merge(list);
    EXPECT_EQ(list.StoredCount(TriggerKind::Sound), 2);
}

TEST(TriggerListTest, AssignCopiesRecordsAndKeepsSerialIdsUnique) {
    TriggerList source;
    for (int i = 0; i < 5; ++i) {
        source.Add(Record("sound", "s" + std::to_string(i)));
    }
    TriggerList copy;
    copy.Add(Record("time", "to be replaced"));
    copy.Assign(source);
    EXPECT_EQ(copy.CountTime(), 0);
    ASSERT_EQ(copy.CountSound(), 5);
    copy.Add(Record("sound", "later"));
    std::set<std::uint32_t> ids;
    for (int i = 0; i < copy.CountSound(); ++i) {
        ids.insert(copy.GetSound(i)->serialId);
    }
    EXPECT_EQ(ids.size(), 6u);
}

TEST(TriggerListTest, ConcurrentAddsAreAllCountedWithDistinctIds) {
    TriggerList list;
    constexpr int kEach = 500;
    auto adder = [&list](const char* prefix) {
        for (int i = 0; i < kEach; ++i) {
            list.Add(Record("sound", prefix + std::to_string(i)));
            list.CountSound();
        }
    };
    std::thread a(adder, "a");
    std::thread b(adder, "b");
    a.join();
    b.join();
    std::lock_guard guard(list.Mutex());
    ASSERT_EQ(list.CountSound(), 2 * kEach);
    std::set<std::uint32_t> ids;
    for (const Trigger* record : list.ActiveRecords(TriggerKind::Sound)) {
        ids.insert(record->serialId);
    }
    EXPECT_EQ(ids.size(), static_cast<std::size_t>(2 * kEach));
}

}  // namespace
}  // namespace hushwell
