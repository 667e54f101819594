#pragma once

#include <cstdint>
#include <vector>

#include "ui/WaveformGeometry.h"
#include "wav/WaveData.h"

namespace hushwell {

// What the waveform view reads from a sound: its first channel in full-scale units (16-bit
// samples over 32768, 32-bit integers over 2^31, floats as they are), its amplitude range and
// its per-column extremes. Pure functions, any thread.

// Frames the sound holds samples for (0 for an empty sound or one of no sample kind it draws).
std::int64_t DrawableFrames(const WaveData& sound);

// The amplitude range [-r, r] around the first channel's peak: r = peak x 1.16, at most 1.0;
// 1.0 when the sound is empty or (nearly) silent. Non-finite float samples are left out.
struct AmplitudeRange {
    double yMin = -1.0;
    double yMax = 1.0;
};
AmplitudeRange AmplitudeRangeOf(const WaveData& sound);

// The first channel's values of the frames in view, one per frame (for views of no more
// frames than columns).
std::vector<float> FrameValues(const WaveData& sound, const FrameSpan& view);

// The smallest and largest first-channel value of the frames one column covers: column c of
// `columns` covers frames from trunc(c x N / columns) up to, not including,
// trunc((c + 1) x N / columns) of the N frames in view (at least one frame each).
struct ColumnExtent {
    float min = 0.0f;
    float max = 0.0f;
};
std::vector<ColumnExtent> ColumnExtents(const WaveData& sound, const FrameSpan& view, int columns);

}  // namespace hushwell
