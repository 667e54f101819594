#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "wav/WaveData.h"

namespace hushwell {

// The sound editor's arithmetic for saving: which samples a selection stands for, whether it
// is long enough to be a trigger, and which stretch record-and-save keeps. Pure functions, any
// thread.

// The shortest selection that may be saved, in seconds.
inline constexpr float kMinSelectionSeconds = 0.5f;

// Samples over all channels, first included, end excluded; both on frame boundaries.
struct SampleRange {
    std::int64_t first = 0;
    std::int64_t end = 0;
    friend bool operator==(const SampleRange&, const SampleRange&) = default;
};

// The selection [min(a, b), max(a, b)] of a sound of `samples` samples: frame = trunc(samples
// x fraction / channels), times channels.
SampleRange SelectionSamples(std::int64_t samples, int channels, float a, float b);

// At least kMinSelectionSeconds of audio.
bool IsLongEnoughForTrigger(const SampleRange& range, std::uint32_t rate, int channels);

// Seconds from the start of the recording.
struct TimeWindow {
    float start = 0.0f;
    float end = 0.0f;
};

// What record-and-save keeps of a recording of `frames` frames: the T seconds starting P
// seconds before its end (start = max(0, D - P), end = min(D, start + T)); nothing when that
// is shorter than kMinSelectionSeconds or the sound has no rate.
std::optional<TimeWindow> RecordAndSaveWindow(std::int64_t frames, std::uint32_t rate,
                                              int preRecordingSec, int triggerSoundSec);

// The sample bytes of `frameCount` frames from `firstFrame`, cut to what the sound holds.
std::span<const std::byte> FrameBytes(const WaveData& sound, std::int64_t firstFrame,
                                      std::int64_t frameCount);

// Frames of a sound (samples / channels); 0 without channels.
std::int64_t FramesOf(const WaveData& sound);

}  // namespace hushwell
