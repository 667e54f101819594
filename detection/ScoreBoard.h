#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace hushwell {

// Where the detection thread leaves each sound trigger's recent scores for the live meter of
// the trigger list: per trigger (by its serial id, which the editor's copy of the list shares
// with the engine's whatever their order) the best score of the last two seconds, the threshold it
// is held against and how far it got (below the threshold, a candidate verification turned down,
// verified and fired, fired on the score alone).
//
// Every value is one atomic word, written by the detection thread alone and read by the
// user-interface thread without a lock, so neither can hold the other up. While nobody
// watches (SetWatched(false), the state at construction) the detection thread writes nothing.
//
// Threads: Record* and IsWatched on the detection thread; SetWatched and Read on any thread.
class ScoreBoard {
public:
    enum class Stage : std::uint8_t { None = 0, Below = 1, Candidate = 2, Verified = 3, Fired = 4 };

    struct Reading {
        float score = 0.0f;
        float threshold = 0.0f;
        Stage stage = Stage::None;  // None: nothing scored in the last two seconds
    };

    // How far back a reading reaches: two buckets of this length.
    static constexpr std::uint64_t kBucketMs = 1000;

    explicit ScoreBoard(std::size_t capacity);
    ScoreBoard(const ScoreBoard&) = delete;
    ScoreBoard& operator=(const ScoreBoard&) = delete;

    std::size_t Capacity() const { return capacity_; }
    void SetWatched(bool on) { watched_.store(on, std::memory_order_relaxed); }
    bool IsWatched() const { return watched_.load(std::memory_order_relaxed); }

    // A trigger's score in a pass at tick (ms), with the threshold it is held against and
    // the stage it reached; the bucket keeps the best score and the furthest stage. Triggers
    // share a slot when their serial ids are a multiple of the capacity apart: the latest to
    // record owns it.
    void Record(std::uint32_t serialId, std::uint64_t tick, float score, float threshold,
                Stage stage);
    // The best of the bucket of now and of the one before it.
    Reading Read(std::uint32_t serialId, std::uint64_t now) const;
    // Forgets every value.
    void Clear();

private:
    struct Slot {
        std::atomic<std::uint32_t> owner;  // the serial id recorded last
        // Per bucket: [bucket number: 32][stage: 8][unused: 8][score in 1/65535: 16].
        std::atomic<std::uint64_t> buckets[2];
        std::atomic<float> threshold;
    };

    static std::uint64_t Pack(std::uint64_t bucket, Stage stage, float score);
    Slot& SlotOf(std::uint32_t serialId) const { return slots_[serialId % capacity_]; }

    std::size_t capacity_;
    std::unique_ptr<Slot[]> slots_;
    std::atomic<bool> watched_{false};
};

}  // namespace hushwell
