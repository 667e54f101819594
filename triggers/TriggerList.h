#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "triggers/Trigger.h"
#include "triggers/Vocabulary.h"

namespace hushwell {

// Every trigger of a running system (or of the editor's working copy): the base folder of
// the sound files and three vectors of records, sound, time and level. Inactive records stay
// in their vector but are invisible to counting, positions, detection and the file writer.
//
// One re-entrant lock guards the vectors and counters; every operation takes it, and those
// that read a record's active text also take that record's lock. Any thread may call them.
// Lock order: this list before its records; Assign and Merge take the other list's lock
// before their own. Pointers returned by Get* and FindSame stay valid only until a record
// of that kind is added or removed; hold Mutex() while using them when other threads may
// change the list.
class TriggerList {
public:
    static constexpr std::int32_t kDefaultMaxSound = 2000;
    static constexpr std::int32_t kDefaultMaxTime = 200;
    static constexpr std::int32_t kDefaultMaxLevel = 50;
    static constexpr const char* kDefaultBaseDir = "./triggers";

    // 1-based positions within each kind for one all-kinds position; at most one is not 0.
    struct Selection {
        int sound = 0;
        int time = 0;
        int level = 0;
    };

    TriggerList();
    TriggerList(const TriggerList&) = delete;
    TriggerList& operator=(const TriggerList&) = delete;

    std::recursive_mutex& Mutex() const { return lock_; }

    // Start-up values: limits of active records per kind, and the base folder. The base
    // folder text is kept as given, less what a file cannot hold: what StorableText drops,
    // then the white space at either end, which a reader of the file takes for layout.
    // LocalPath interprets the text when sound files are looked up.
    void SetLimits(std::int32_t maxSound, std::int32_t maxTime, std::int32_t maxLevel);
    std::int32_t Limit(TriggerKind kind) const;
    void SetBaseDir(std::string_view baseDir);
    std::string BaseDir() const;
    std::uint32_t SerialCounter() const;
    // Advances the serial counter and returns the new value: a fresh serial id for a record
    // that is changed in place (the editor's Apply).
    std::uint32_t NextSerialId();

    // Appends a copy with the next serial id when the kind's active count is below its
    // limit; otherwise (limit reached, or not one of the three kinds) adds nothing.
    void Add(const Trigger& record);

    int CountSound() const { return Count(TriggerKind::Sound); }
    int CountTime() const { return Count(TriggerKind::Time); }
    int CountLevel() const { return Count(TriggerKind::Level); }
    int Count(TriggerKind kind) const;

    // The n-th active record of a kind (from 0), or nullptr.
    Trigger* GetSound(int n) { return Get(TriggerKind::Sound, n); }
    Trigger* GetTime(int n) { return Get(TriggerKind::Time, n); }
    Trigger* GetLevel(int n) { return Get(TriggerKind::Level, n); }
    Trigger* Get(TriggerKind kind, int n);
    const Trigger* Get(TriggerKind kind, int n) const;

    // The active records of a kind in vector order; valid while the caller holds Mutex()
    // and the kind is not changed.
    std::vector<const Trigger*> ActiveRecords(TriggerKind kind) const;

    // First record of the same kind, active or not, for which IsSame holds; or nullptr.
    Trigger* FindSame(const Trigger& record);
    // Position of the first active same record in the all-kinds numbering, or -1.
    int IndexOfSame(const Trigger& record) const;

    // Erase the n-th active record of a kind: 0, or 1 when there is no such record.
    int RemoveSound(int n) { return Remove(TriggerKind::Sound, n); }
    int RemoveTime(int n) { return Remove(TriggerKind::Time, n); }
    int RemoveLevel(int n) { return Remove(TriggerKind::Level, n); }
    int Remove(TriggerKind kind, int n);

    // Sets the active text of the i-th record of the kind's vector, counting inactive ones.
    void SetActive(TriggerKind kind, int i, bool on);
    // Number of records of a kind, inactive ones included.
    int StoredCount(TriggerKind kind) const;
    // Empties a kind's vector, inactive records included (used by the file reader).
    void ClearKind(TriggerKind kind);

    // Adds every record of the other list that has no IsSame equal here.
    void Merge(const TriggerList& other);
    // Replaces the three vectors by copies of the other's.
    void Assign(const TriggerList& other);

    // Maps an all-kinds position (sound, then time, then level) to per-kind 1-based indices.
    Selection MapSelection(int position) const;

private:
    static constexpr int kKinds = 3;
    static int Slot(TriggerKind kind);  // 0..2, or -1 for any other kind
    bool HasRoom(int slot) const;       // fewer active records than the limit
    // The vector index of the n-th active record of a slot, or -1.
    int VectorIndexOfActive(int slot, int n) const;

    std::array<std::int32_t, kKinds> limits_;
    std::uint32_t serialCounter_ = 0;
    std::string baseDir_;
    std::array<std::vector<Trigger>, kKinds> records_;
    mutable std::recursive_mutex lock_;
};

}  // namespace hushwell
