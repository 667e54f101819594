#include "ui/WaveformGeometry.h"

#include <algorithm>
#include <cmath>

namespace hushwell {

namespace {

constexpr double kZoomMargin = 0.03;  // of the selection's length, on each side
constexpr double kShortestZoomSeconds = 0.02;

double ViewFraction(std::int64_t frame, const FrameSpan& view) {
    return std::clamp(static_cast<double>(frame - view.first) / static_cast<double>(view.Count()),
                      0.0, 1.0);
}

}  // namespace

FrameSpan SelectionFrames(float a, float b, std::int64_t frames) {
    const double last = static_cast<double>(std::max<std::int64_t>(frames - 1, 0));
    return {static_cast<std::int64_t>(last * std::min(a, b)),
            static_cast<std::int64_t>(last * std::max(a, b))};
}

double FractionAtX(int x, const PlotBox& plot, const FrameSpan& view, std::int64_t frames) {
    if (plot.InnerWidth() <= 0 || frames <= 0) {
        return 0.0;
    }
    const double inView = static_cast<double>(x - plot.left - 1) / plot.InnerWidth();
    const double f =
        (inView * static_cast<double>(view.Count()) + static_cast<double>(view.first)) /
        static_cast<double>(frames);
    return std::clamp(f, 0.0, 1.0);
}

int ClampToInner(int x, const PlotBox& plot) {
    return std::clamp(x, plot.left + 1, std::max(plot.left + 1, plot.right - 1));
}

std::optional<FrameSpan> ZoomedView(float a, float b, std::int64_t samples, int channels,
                                    int rate) {
    if (channels <= 0 || rate <= 0 || samples < channels) {
        return std::nullopt;
    }
    const double lo = std::min(a, b);
    const double hi = std::max(a, b);
    const double margin = (hi - lo) * kZoomMargin;
    const double newLo = std::max(0.0, lo - margin);
    const double newHi = std::min(1.0, hi + margin);
    if (!(0.0 <= newLo && newLo < newHi && newHi <= 1.0)) {
        return std::nullopt;
    }
    const std::int64_t lastFrame = samples / channels - 1;
    const FrameSpan view{static_cast<std::int64_t>(static_cast<double>(samples) * newLo / channels),
                         std::min(lastFrame, static_cast<std::int64_t>(
                                                 static_cast<double>(samples) * newHi / channels))};
    if (static_cast<double>(view.last - view.first) / rate < kShortestZoomSeconds) {
        return std::nullopt;
    }
    return view;
}

FrameSpan ZoomedOutView(const FrameSpan& view, std::int64_t frames) {
    const std::int64_t width = view.Count();
    const std::int64_t first = view.first < width ? 0 : view.first - width;
    return {first, std::min(first + 3 * width - 1, frames - 1)};
}

std::optional<ColumnSpan> SelectionColumns(const FrameSpan& selection, const FrameSpan& view,
                                           const PlotBox& plot) {
    if (view.Count() <= 0) {
        return std::nullopt;
    }
    const double f1 = ViewFraction(selection.first, view);
    const double f2 = ViewFraction(selection.last, view);
    if (!(f1 < 1.0 && f2 > 0.0)) {
        return std::nullopt;
    }
    const double inner = plot.InnerWidth();
    return ColumnSpan{static_cast<int>(f1 * inner + plot.left + 1),
                      static_cast<int>(f2 * inner + plot.left + 1 + 0.5)};
}

std::optional<int> CursorColumn(std::int64_t p, const FrameSpan& selection, const FrameSpan& view,
                                const ColumnSpan& columns) {
    if (!(view.first < p && p < view.last - 1)) {
        return std::nullopt;
    }
    const std::int64_t from = std::max(view.first, selection.first);
    const std::int64_t to = std::min(view.last, selection.last);
    const std::int64_t length = std::max<std::int64_t>(to - from + 1, 1);
    const std::int64_t width = columns.x2 - columns.x1;
    const std::int64_t offset = std::max<std::int64_t>(p - from, 0) * (width + 1) / length;
    return columns.x1 + static_cast<int>(std::min(offset, width));
}

double XOfFrame(double frame, const FrameSpan& view, const PlotBox& plot) {
    return plot.left + 1 +
           (frame - static_cast<double>(view.first)) / static_cast<double>(view.Count()) *
               plot.InnerWidth();
}

}  // namespace hushwell
