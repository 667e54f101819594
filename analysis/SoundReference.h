#pragma once

#include <cstddef>
#include <vector>

namespace hushwell {

// One analysed reference sound: its feature frames (32 band magnitudes per frame, frame-major,
// one frame per 512 samples at the 16 kHz internal rate, at most 7 seconds of sound) and the
// score a live correlation must exceed for the sound to count as heard.
//
// Built on the user-interface thread while the reference set is rebuilt; afterwards read only
// (by the detection thread), so it needs no lock.
class SoundReference {
public:
    static constexpr std::size_t kBandsPerFrame = 32;

    SoundReference() = default;
    SoundReference(std::vector<float> features, float matchThreshold);

    const std::vector<float>& Features() const { return features_; }
    float MatchThreshold() const { return matchThreshold_; }
    // Whole frames held; a sound shorter than one frame has none and never matches.
    std::size_t FrameCount() const { return features_.size() / kBandsPerFrame; }
    bool IsEmpty() const { return features_.empty(); }

private:
    std::vector<float> features_;
    float matchThreshold_ = 1.0f;
};

}  // namespace hushwell
