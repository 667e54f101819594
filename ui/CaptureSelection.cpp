#include "ui/CaptureSelection.h"

#include <algorithm>
#include <cmath>

namespace hushwell {

SampleRange SelectionSamples(std::int64_t samples, int channels, float a, float b) {
    if (channels <= 0 || samples <= 0) {
        return {};
    }
    const auto frameAt = [&](float fraction) {
        return static_cast<std::int64_t>(static_cast<double>(samples) * fraction / channels);
    };
    return {frameAt(std::min(a, b)) * channels, frameAt(std::max(a, b)) * channels};
}

bool IsLongEnoughForTrigger(const SampleRange& range, std::uint32_t rate, int channels) {
    const double minimum = static_cast<double>(rate) * kMinSelectionSeconds * channels;
    return static_cast<double>(range.first) + minimum <= static_cast<double>(range.end);
}

std::optional<TimeWindow> RecordAndSaveWindow(std::int64_t frames, std::uint32_t rate,
                                              int preRecordingSec, int triggerSoundSec) {
    if (rate == 0 || frames <= 0) {
        return std::nullopt;
    }
    const float duration = static_cast<float>(frames) / static_cast<float>(rate);
    TimeWindow window;
    window.start = std::max(0.0f, duration - static_cast<float>(preRecordingSec));
    window.end = std::min(duration, window.start + static_cast<float>(triggerSoundSec));
    if (window.end - window.start < kMinSelectionSeconds) {
        return std::nullopt;
    }
    return window;
}

std::int64_t FramesOf(const WaveData& sound) {
    const int channels = sound.Format().channels;
    return channels > 0 ? sound.SampleCount() / channels : 0;
}

std::span<const std::byte> FrameBytes(const WaveData& sound, std::int64_t firstFrame,
                                      std::int64_t frameCount) {
    const std::span<const std::byte> all = sound.SampleBytes();
    const std::int64_t frameSize =
        static_cast<std::int64_t>(sound.Format().bitsPerSample) * sound.Format().channels / 8;
    if (frameSize <= 0 || firstFrame < 0 || frameCount <= 0) {
        return {};
    }
    const auto total = static_cast<std::int64_t>(all.size());
    const std::int64_t offset = std::min(total, firstFrame * frameSize);
    const std::int64_t length = std::min(total - offset, frameCount * frameSize);
    return all.subspan(static_cast<std::size_t>(offset), static_cast<std::size_t>(length));
}

}  // namespace hushwell
