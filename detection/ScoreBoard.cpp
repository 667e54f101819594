#include "detection/ScoreBoard.h"

#include <algorithm>

namespace hushwell {

namespace {

constexpr float kScoreScale = 65535.0f;
constexpr std::uint64_t kScoreMask = 0xffff;
constexpr int kStageShift = 24;
constexpr std::uint64_t kStageMask = 0xff;
constexpr int kBucketShift = 32;
constexpr std::uint64_t kBucketMask = 0xffffffff;

std::uint64_t BucketOf(std::uint64_t word) {
    return word >> kBucketShift;
}

ScoreBoard::Stage StageOf(std::uint64_t word) {
    return static_cast<ScoreBoard::Stage>((word >> kStageShift) & kStageMask);
}

float ScoreOf(std::uint64_t word) {
    return static_cast<float>(word & kScoreMask) / kScoreScale;
}

}  // namespace

ScoreBoard::ScoreBoard(std::size_t capacity)
    : capacity_(capacity), slots_(std::make_unique<Slot[]>(capacity)) {
    Clear();
}

std::uint64_t ScoreBoard::Pack(std::uint64_t bucket, Stage stage, float score) {
    const float limited = std::clamp(score, 0.0f, 1.0f);
    const auto fixed = static_cast<std::uint64_t>(limited * kScoreScale + 0.5f);
    return ((bucket & kBucketMask) << kBucketShift) |
           (static_cast<std::uint64_t>(stage) << kStageShift) | fixed;
}

void ScoreBoard::Record(std::uint32_t serialId, std::uint64_t tick, float score, float threshold,
                        Stage stage) {
    if (capacity_ == 0) {
        return;
    }
    Slot& slot = SlotOf(serialId);
    if (slot.owner.load(std::memory_order_relaxed) != serialId) {
        // Taken over: the buckets of the trigger before are not this one's.
        slot.buckets[0].store(0, std::memory_order_relaxed);
        slot.buckets[1].store(0, std::memory_order_relaxed);
        slot.owner.store(serialId, std::memory_order_release);
    }
    // Bucket numbers start at 1 so that a zero word always means "nothing".
    const std::uint64_t bucket = (tick / kBucketMs + 1) & kBucketMask;
    std::atomic<std::uint64_t>& word = slot.buckets[bucket & 1];
    const std::uint64_t old = word.load(std::memory_order_relaxed);
    if (BucketOf(old) == bucket) {
        score = std::max(score, ScoreOf(old));
        stage = std::max(stage, StageOf(old));
    }
    slot.threshold.store(threshold, std::memory_order_relaxed);
    word.store(Pack(bucket, stage, score), std::memory_order_release);
}

ScoreBoard::Reading ScoreBoard::Read(std::uint32_t serialId, std::uint64_t now) const {
    Reading reading;
    if (capacity_ == 0) {
        return reading;
    }
    const Slot& slot = SlotOf(serialId);
    if (slot.owner.load(std::memory_order_acquire) != serialId) {
        return reading;
    }
    const std::uint64_t current = (now / kBucketMs + 1) & kBucketMask;
    for (const auto& bucket : slot.buckets) {
        const std::uint64_t word = bucket.load(std::memory_order_acquire);
        const std::uint64_t number = BucketOf(word);
        if (number == 0 || (number != current && number + 1 != current)) {
            continue;  // empty, or older than the bucket before the current one
        }
        reading.score = std::max(reading.score, ScoreOf(word));
        reading.stage = std::max(reading.stage, StageOf(word));
    }
    if (reading.stage == Stage::None || slot.owner.load(std::memory_order_acquire) != serialId) {
        return Reading{};  // nothing, or the slot changed hands while it was read
    }
    reading.threshold = slot.threshold.load(std::memory_order_relaxed);
    return reading;
}

void ScoreBoard::Clear() {
    for (std::size_t i = 0; i < capacity_; ++i) {
        slots_[i].owner.store(0, std::memory_order_relaxed);
        slots_[i].buckets[0].store(0, std::memory_order_relaxed);
        slots_[i].buckets[1].store(0, std::memory_order_relaxed);
        slots_[i].threshold.store(0.0f, std::memory_order_relaxed);
    }
}

}  // namespace hushwell
