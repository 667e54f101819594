#pragma once

#include <cstdint>
#include <optional>

namespace hushwell {

// The waveform view's arithmetic between selection fractions, frames and pixel columns.
// Pure functions, any thread. Frames count per channel; 64-bit products keep a 60-second
// 192 kHz sound times a wide plot exact.

// A stretch of frames, both ends included.
struct FrameSpan {
    std::int64_t first = 0;
    std::int64_t last = -1;

    std::int64_t Count() const { return last - first + 1; }
    friend bool operator==(const FrameSpan&, const FrameSpan&) = default;
};

// The plot rectangle in the widget's coordinates; right and bottom lie just outside it. The
// frames of the view are spread over its InnerWidth() columns from left + 1; column right - 1
// (the frame) stands for the end of the last frame.
struct PlotBox {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    int InnerWidth() const { return right - left - 2; }
    bool StrictlyContains(int x, int y) const {
        return x > left && x < right && y > top && y < bottom;
    }
};

// No selection: both fractions are this.
inline constexpr float kNoSelection = -1.0f;

inline bool IsSelectionSet(float a, float b) {
    return a != kNoSelection && b != kNoSelection;
}

// The selection's frames: (frames - 1) times the smaller and the larger fraction, truncated.
FrameSpan SelectionFrames(float a, float b, std::int64_t frames);

// The fraction of the whole sound under column x of the plot, clamped to [0, 1].
double FractionAtX(int x, const PlotBox& plot, const FrameSpan& view, std::int64_t frames);

// x moved between the plot's first inner column and the end of the last frame.
int ClampToInner(int x, const PlotBox& plot);

// The view that zooming to the selection [a, b] gives: the selection widened by 3 % of its
// length on each side, within the sound; nothing when the selection is empty or the new view
// would last less than 0.02 s. The last frame never passes the sound's last frame.
std::optional<FrameSpan> ZoomedView(float a, float b, std::int64_t samples, int channels, int rate);

// The view after zooming out: one view width added on each side, within the sound (at the
// start the width triples to the right).
FrameSpan ZoomedOutView(const FrameSpan& view, std::int64_t frames);

// The columns x1..x2 the selection covers in the plot, or nothing when none of it is in view.
struct ColumnSpan {
    int x1 = 0;
    int x2 = 0;
};
std::optional<ColumnSpan> SelectionColumns(const FrameSpan& selection, const FrameSpan& view,
                                           const PlotBox& plot);

// The play cursor's column for play position p (frames from the start of the sound), moving
// from x1 to x2 across the part of the selection in view; nothing outside the view.
std::optional<int> CursorColumn(std::int64_t p, const FrameSpan& selection, const FrameSpan& view,
                                const ColumnSpan& columns);

// The x coordinate (fractional) of a time in frames in the plot's inner columns.
double XOfFrame(double frame, const FrameSpan& view, const PlotBox& plot);

}  // namespace hushwell
