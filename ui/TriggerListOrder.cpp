#include "ui/TriggerListOrder.h"

#include <QString>
#include <algorithm>
#include <mutex>
#include <numeric>
#include <vector>

#include "triggers/TriggerList.h"
#include "ui/TriggerListModel.h"

namespace hushwell {

namespace {

constexpr std::array<TriggerKind, 3> kKinds = {TriggerKind::Sound, TriggerKind::Time,
                                               TriggerKind::Level};

// What one record is sorted by: a text, or a number for times and levels.
struct SortKey {
    QString text;
    std::int64_t number = 0;
};

SortKey KeyOf(const Trigger& record, int column) {
    std::lock_guard guard(record.Mutex());
    switch (column) {
        case TriggerListModel::kNameColumn:
            return {TriggerListModel::NameText(record), 0};
        case TriggerListModel::kTriggerColumn:
            switch (record.GetTriggerKind()) {
                case TriggerKind::Time:
                    return {{}, record.timeOfDay.Seconds()};
                case TriggerKind::Level:
                    return {{}, record.level};
                default:
                    return {QString::fromStdString(record.triggerFile), 0};
            }
        default:
            return {TriggerListModel::ActionText(record), 0};
    }
}

bool KeyLess(const SortKey& a, const SortKey& b) {
    const int byText = QString::compare(a.text, b.text, Qt::CaseSensitive);
    return byText != 0 ? byText < 0 : a.number < b.number;
}

// Writes the records back into the active places of a kind, in the given order. The places
// are found once (Get would search from the start for each).
void WriteBack(TriggerList& list, TriggerKind kind, const std::vector<Trigger>& records,
               const std::vector<std::size_t>& order) {
    // The list is ours to change: ActiveRecords only hands out its places as const.
    const std::vector<const Trigger*> places = list.ActiveRecords(kind);
    for (std::size_t place = 0; place < order.size() && place < places.size(); ++place) {
        *const_cast<Trigger*>(places[place]) = records[order[place]];
    }
}

std::vector<Trigger> CopyActive(const TriggerList& list, TriggerKind kind) {
    std::vector<Trigger> records;
    const std::vector<const Trigger*> active = list.ActiveRecords(kind);
    records.reserve(active.size());
    for (const Trigger* record : active) {
        records.push_back(*record);
    }
    return records;
}

}  // namespace

void TriggerListOrder::SortByColumn(TriggerList& list, int column, Direction direction) {
    std::lock_guard guard(list.Mutex());
    for (const TriggerKind kind : kKinds) {
        const std::vector<Trigger> records = CopyActive(list, kind);
        std::vector<SortKey> keys;
        keys.reserve(records.size());
        for (const Trigger& record : records) {
            keys.push_back(KeyOf(record, column));
        }
        std::vector<std::size_t> order(records.size());
        std::iota(order.begin(), order.end(), std::size_t{0});
        std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
            return direction == Direction::Ascending ? KeyLess(keys[a], keys[b])
                                                     : KeyLess(keys[b], keys[a]);
        });
        WriteBack(list, kind, records, order);
    }
}

void TriggerListOrder::MoveWithinKind(TriggerList& list, TriggerKind kind, int from, int to) {
    std::lock_guard guard(list.Mutex());
    const int count = list.Count(kind);
    if (from < 0 || to < 0 || from >= count || to >= count || from == to) {
        return;
    }
    const std::vector<Trigger> records = CopyActive(list, kind);
    std::vector<std::size_t> order(records.size());
    std::iota(order.begin(), order.end(), std::size_t{0});
    const auto first = order.begin();
    if (from < to) {
        std::rotate(first + from, first + from + 1, first + to + 1);
    } else {
        std::rotate(first + to, first + from, first + from + 1);
    }
    WriteBack(list, kind, records, order);
}

}  // namespace hushwell
