#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QRect>
#include <QSize>
#include <QString>
#include <algorithm>
#include <cmath>
#include <optional>

#include "ui/WaveformGeometry.h"
#include "ui/WaveformSamples.h"
#include "wav/WaveData.h"

class QPainter;

namespace hushwell {

// The waveform view's two off-screen layers and what is drawn into them. The waveform layer
// holds the plot: fill, trace of the first channel, frame, middle line, amplitude and time
// axes and the title. The overlay layer is a copy of it with the selection lightened (its
// pixels ORed with a grey), so a changed selection or play cursor never draws the trace again.
//
// Layers are images of the region's size in device pixels and carry the device pixel ratio,
// so they are drawn 1:1 at any scale; the trace is drawn one column per device pixel.
//
// User-interface thread only (it draws text).
class WaveformPlot {
public:
    static constexpr QColor kFill{200, 200, 197};
    static constexpr QColor kInk{32, 32, 32};         // frame, axes, labels, float trace
    static constexpr QColor kPcm16Trace{16, 16, 16};  // trace of 16-bit sounds
    static constexpr QColor kSelectionOr{159, 159, 159};
    static constexpr double kAxisPointSize = 10.0;
    static constexpr double kTitlePointSize = 12.0;

    // The fonts are the given user-interface font at the axis and title sizes.
    explicit WaveformPlot(const QFont& baseFont);

    // Where the plot rectangle lies in a region of this size (margins from the fonts).
    PlotBox LayOut(QSize region, int logicalDpi) const;

    // Redraws the waveform layer for a region of the given size: the frames of view of the
    // sound in the amplitude range (AmplitudeRangeOf the sound, computed once per sound), titled
    // when the title is not empty. nullptr or an empty sound draws the empty plot with the
    // range [-1, 1]. Recomputes the plot rectangle.
    void DrawWaveformLayer(const WaveData* sound, const AmplitudeRange& range,
                           const FrameSpan& view, const QString& title, QSize region,
                           qreal devicePixelRatio, int logicalDpi);

    // Copies the waveform layer into the overlay and lightens the selection's columns.
    void ComposeOverlay(const std::optional<ColumnSpan>& selection);

    const QImage& WaveformLayer() const { return waveform_; }
    const QImage& Overlay() const { return overlay_; }
    const PlotBox& Plot() const { return plot_; }
    const AmplitudeRange& Range() const { return range_; }

private:
    // The trace's row for a value, in a trace of the given height: yMax at the top, yMin at
    // the bottom, clamped into the trace.
    struct TraceScale {
        double middle;
        double pixelsPerUnit;
        int bottom;

        int Y(float value) const {
            const double y = middle - static_cast<double>(value) * pixelsPerUnit;
            return static_cast<int>(std::clamp(std::trunc(y), 0.0, static_cast<double>(bottom)));
        }
    };
    TraceScale ScaleFor(int rows) const;
    static QColor TraceColour(const WaveData& sound);
    // The trace inside area (device pixels of the waveform layer).
    void DrawFrameTrace(QPainter& painter, const WaveData& sound, const FrameSpan& view,
                        const QRect& area) const;
    void DrawColumnTrace(const WaveData& sound, const FrameSpan& view, const QRect& area);
    void DrawFrame(QPainter& painter) const;
    void DrawAmplitudeAxis(QPainter& painter) const;
    void DrawTimeAxis(QPainter& painter, const WaveData* sound, const FrameSpan& view,
                      int regionWidth) const;
    void DrawTitle(QPainter& painter, const QString& title, int regionWidth) const;

    QFont axisFont_;
    QFont titleFont_;
    AmplitudeRange range_;
    PlotBox plot_;
    QImage waveform_;
    QImage overlay_;
};

}  // namespace hushwell
