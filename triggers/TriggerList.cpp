#include "triggers/TriggerList.h"

#include <algorithm>

#include "triggers/StorableText.h"

namespace hushwell {

namespace {

constexpr std::array<TriggerKind, 3> kKindOrder = {TriggerKind::Sound, TriggerKind::Time,
                                                   TriggerKind::Level};

}  // namespace

TriggerList::TriggerList()
    : limits_{kDefaultMaxSound, kDefaultMaxTime, kDefaultMaxLevel}, baseDir_(kDefaultBaseDir) {}

int TriggerList::Slot(TriggerKind kind) {
    switch (kind) {
        case TriggerKind::Sound:
            return 0;
        case TriggerKind::Time:
            return 1;
        case TriggerKind::Level:
            return 2;
        case TriggerKind::Other:
            break;
    }
    return -1;
}

void TriggerList::SetLimits(std::int32_t maxSound, std::int32_t maxTime, std::int32_t maxLevel) {
    std::lock_guard guard(lock_);
    limits_ = {maxSound, maxTime, maxLevel};
}

std::int32_t TriggerList::Limit(TriggerKind kind) const {
    std::lock_guard guard(lock_);
    const int slot = Slot(kind);
    return slot < 0 ? 0 : limits_[slot];
}

void TriggerList::SetBaseDir(std::string_view baseDir) {
    std::lock_guard guard(lock_);
    const std::string storable = StorableText(baseDir);
    baseDir_ = WithoutSurroundingSpace(storable);
}

std::string TriggerList::BaseDir() const {
    std::lock_guard guard(lock_);
    return baseDir_;
}

std::uint32_t TriggerList::SerialCounter() const {
    std::lock_guard guard(lock_);
    return serialCounter_;
}

std::uint32_t TriggerList::NextSerialId() {
    std::lock_guard guard(lock_);
    return ++serialCounter_;
}

void TriggerList::Add(const Trigger& record) {
    std::lock_guard guard(lock_);
    const int slot = Slot(record.GetTriggerKind());
    if (slot < 0 || !HasRoom(slot)) {
        return;
    }
    ++serialCounter_;
    records_[slot].push_back(record);
    records_[slot].back().serialId = serialCounter_;
}

// Counting the active records is needed only when the vector, inactive records included,
// is not already below the limit; this keeps loading a full list linear.
bool TriggerList::HasRoom(int slot) const {
    const auto stored = static_cast<std::int64_t>(records_[slot].size());
    return stored < limits_[slot] || Count(kKindOrder[slot]) < limits_[slot];
}

int TriggerList::Count(TriggerKind kind) const {
    std::lock_guard guard(lock_);
    const int slot = Slot(kind);
    if (slot < 0) {
        return 0;
    }
    return static_cast<int>(std::count_if(records_[slot].begin(), records_[slot].end(),
                                          [](const Trigger& r) { return r.IsActive(); }));
}

int TriggerList::VectorIndexOfActive(int slot, int n) const {
    if (slot < 0 || n < 0) {
        return -1;
    }
    const std::vector<Trigger>& records = records_[slot];
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (records[i].IsActive() && n-- == 0) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

Trigger* TriggerList::Get(TriggerKind kind, int n) {
    std::lock_guard guard(lock_);
    const int slot = Slot(kind);
    const int index = VectorIndexOfActive(slot, n);
    return index < 0 ? nullptr : &records_[slot][index];
}

const Trigger* TriggerList::Get(TriggerKind kind, int n) const {
    return const_cast<TriggerList*>(this)->Get(kind, n);
}

std::vector<const Trigger*> TriggerList::ActiveRecords(TriggerKind kind) const {
    std::lock_guard guard(lock_);
    std::vector<const Trigger*> active;
    const int slot = Slot(kind);
    if (slot >= 0) {
        for (const Trigger& record : records_[slot]) {
            if (record.IsActive()) {
                active.push_back(&record);
            }
        }
    }
    return active;
}

Trigger* TriggerList::FindSame(const Trigger& record) {
    std::lock_guard guard(lock_);
    const int slot = Slot(record.GetTriggerKind());
    if (slot < 0) {
        return nullptr;
    }
    for (Trigger& candidate : records_[slot]) {
        if (candidate.IsSame(record)) {
            return &candidate;
        }
    }
    return nullptr;
}

int TriggerList::IndexOfSame(const Trigger& record) const {
    std::lock_guard guard(lock_);
    const int slot = Slot(record.GetTriggerKind());
    if (slot < 0) {
        return -1;
    }
    int offset = 0;
    for (int earlier = 0; earlier < slot; ++earlier) {
        offset += Count(kKindOrder[earlier]);
    }
    int position = 0;
    for (const Trigger& candidate : records_[slot]) {
        if (!candidate.IsActive()) {
            continue;
        }
        if (candidate.IsSame(record)) {
            return offset + position;
        }
        ++position;
    }
    return -1;
}

int TriggerList::Remove(TriggerKind kind, int n) {
    std::lock_guard guard(lock_);
    const int slot = Slot(kind);
    const int index = VectorIndexOfActive(slot, n);
    if (index < 0) {
        return 1;
    }
    records_[slot].erase(records_[slot].begin() + index);
    return 0;
}

void TriggerList::SetActive(TriggerKind kind, int i, bool on) {
    std::lock_guard guard(lock_);
    const int slot = Slot(kind);
    if (slot < 0 || i < 0 || i >= static_cast<int>(records_[slot].size())) {
        return;
    }
    records_[slot][i].SetActive(on);
}

int TriggerList::StoredCount(TriggerKind kind) const {
    std::lock_guard guard(lock_);
    const int slot = Slot(kind);
    return slot < 0 ? 0 : static_cast<int>(records_[slot].size());
}

void TriggerList::ClearKind(TriggerKind kind) {
    std::lock_guard guard(lock_);
    const int slot = Slot(kind);
    if (slot >= 0) {
        records_[slot].clear();
    }
}

void TriggerList::Merge(const TriggerList& other) {
    if (&other == this) {
        return;  // every record already has itself as its equal
    }
    std::scoped_lock both(other.lock_, lock_);
    for (const std::vector<Trigger>& records : other.records_) {
        for (const Trigger& record : records) {
            if (FindSame(record) == nullptr) {
                Add(record);
            }
        }
    }
}

void TriggerList::Assign(const TriggerList& other) {
    if (&other == this) {
        return;
    }
    std::scoped_lock both(other.lock_, lock_);
    records_ = other.records_;
    // The copies keep their serial ids; later additions must not reuse one of them.
    serialCounter_ = std::max(serialCounter_, other.serialCounter_);
}

TriggerList::Selection TriggerList::MapSelection(int position) const {
    std::lock_guard guard(lock_);
    const int sound = CountSound();
    const int time = CountTime();
    const int level = CountLevel();
    Selection selection;
    if (position < 0) {
        return selection;
    }
    if (position < sound) {
        selection.sound = position + 1;
    } else if (position < sound + time) {
        selection.time = position - sound + 1;
    } else if (position < sound + time + level) {
        selection.level = position - sound - time + 1;
    }
    return selection;
}

}  // namespace hushwell
