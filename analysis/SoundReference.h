#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "analysis/SpectralPeaks.h"
#include "analysis/TonalTracks.h"

namespace hushwell {

// One analysed reference sound: its feature frames (32 band magnitudes per frame, frame-major,
// one frame per 512 samples at the 16 kHz internal rate, at most 7 seconds of sound) and the
// score a live correlation must exceed for the sound to count as heard.
//
// Built on the user-interface thread while the reference set is rebuilt; afterwards read only
// (by the detection thread), so it needs no lock. Once the detection step has prepared its own
// copy of the features, ReleaseFeatures frees them; the counts and the threshold stay.
class SoundReference {
public:
    static constexpr std::size_t kBandsPerFrame = 32;

    SoundReference() = default;
    SoundReference(std::vector<float> features, float matchThreshold);

    // Empty once released.
    const std::vector<float>& Features() const { return features_; }
    float MatchThreshold() const { return matchThreshold_; }
    // Feature values as analysed, also after a release.
    std::size_t FeatureCount() const { return featureCount_; }
    // Whole frames held; a sound shorter than one frame has none and never matches.
    std::size_t FrameCount() const { return featureCount_ / kBandsPerFrame; }
    bool IsEmpty() const { return featureCount_ == 0; }

    // The tonal peaks of the sound's last second, for verifying a match; none when not found.
    const SpectralPeaks& Peaks() const { return peaks_; }
    void SetPeaks(SpectralPeaks peaks) { peaks_ = std::move(peaks); }

    // The tonal tracks of the sound's last 1.5 s (TonalTracks::ReferencePattern), for finding
    // it under a bed; freed with the features.
    const TonalPattern& Tracks() const { return tracks_; }
    void SetTracks(TonalPattern tracks) { tracks_ = std::move(tracks); }

    void ReleaseFeatures();
    bool FeaturesReleased() const { return features_.size() != featureCount_; }

private:
    std::vector<float> features_;
    std::size_t featureCount_ = 0;
    float matchThreshold_ = 1.0f;
    SpectralPeaks peaks_;
    TonalPattern tracks_;
};

}  // namespace hushwell
