#include "ui/WaveformPlot.h"

#include <QFontMetrics>
#include <QLine>
#include <QPainter>
#include <QPoint>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "ui/WaveformAxes.h"

namespace hushwell {

namespace {

// Margins around the plot rectangle, in widths and heights of "M" in the axis font and of
// "H" in the title font.
constexpr double kLabelColumnEms = 3.0;
constexpr double kRightMarginEms = 0.8;
constexpr double kTitleLines = 1.3;
constexpr double kTimeLabelLines = 1.3;
constexpr int kMarginPixels = 2;

constexpr int kAmplitudeMark = 3;
constexpr int kMajorTimeTick = 3;
constexpr int kMinorTimeTick = 2;
constexpr int kLabelGap = 4;  // pixels kept free between neighbouring time labels

constexpr double kMetresPerInch = 0.0254;

QFont FontAt(const QFont& base, double pointSize) {
    QFont font(base);
    font.setPointSizeF(pointSize);
    return font;
}

// A paint device whose only job is to give font metrics the plot's resolution.
QImage MetricsDevice(int logicalDpi) {
    QImage device(1, 1, QImage::Format_RGB32);
    const int dotsPerMetre = static_cast<int>(std::lround(logicalDpi / kMetresPerInch));
    device.setDotsPerMeterX(dotsPerMetre);
    device.setDotsPerMeterY(dotsPerMetre);
    return device;
}

}  // namespace

WaveformPlot::WaveformPlot(const QFont& baseFont)
    : axisFont_(FontAt(baseFont, kAxisPointSize)), titleFont_(FontAt(baseFont, kTitlePointSize)) {}

PlotBox WaveformPlot::LayOut(QSize region, int logicalDpi) const {
    QImage device = MetricsDevice(logicalDpi);
    const QFontMetrics axis(axisFont_, &device);
    const QFontMetrics title(titleFont_, &device);
    const int wm = axis.horizontalAdvance(QLatin1Char('M'));
    const int hm = axis.height();
    const int ht = title.height();
    return {static_cast<int>(kLabelColumnEms * wm) + kMarginPixels,
            static_cast<int>(kTitleLines * ht) + kMarginPixels,
            region.width() - static_cast<int>(kRightMarginEms * wm) - kMarginPixels,
            static_cast<int>(region.height() - kMarginPixels - kTimeLabelLines * hm)};
}

void WaveformPlot::DrawWaveformLayer(const WaveData* sound, const AmplitudeRange& range,
                                     const FrameSpan& view, const QString& title, QSize region,
                                     qreal devicePixelRatio, int logicalDpi) {
    const bool hasFrames = sound != nullptr && DrawableFrames(*sound) > 0;
    range_ = hasFrames ? range : AmplitudeRange{};
    plot_ = LayOut(region, logicalDpi);

    const QSize devicePixels = region * devicePixelRatio;
    if (waveform_.size() != devicePixels) {
        waveform_ = QImage(devicePixels, QImage::Format_RGB32);
    }
    const int dotsPerMetre = static_cast<int>(std::lround(logicalDpi / kMetresPerInch));
    waveform_.setDotsPerMeterX(dotsPerMetre);
    waveform_.setDotsPerMeterY(dotsPerMetre);
    waveform_.setDevicePixelRatio(devicePixelRatio);
    waveform_.fill(kFill);
    if (plot_.InnerWidth() < 1 || plot_.Height() < 3) {
        return;  // too small to hold a plot
    }

    // The trace goes straight into the layer's pixels inside the frame, one column per device
    // pixel; everything else is drawn over it with a painter.
    const QRect inner(plot_.left + 1, plot_.top + 1, plot_.InnerWidth(), plot_.Height() - 2);
    const QRect traceArea =
        QRect(QPoint(static_cast<int>(std::lround(inner.left() * devicePixelRatio)),
                     static_cast<int>(std::lround(inner.top() * devicePixelRatio))),
              QPoint(static_cast<int>(std::lround((inner.right() + 1) * devicePixelRatio)) - 1,
                     static_cast<int>(std::lround((inner.bottom() + 1) * devicePixelRatio)) - 1))
            .intersected(waveform_.rect());
    const bool manyFrames = hasFrames && view.Count() > traceArea.width();
    if (manyFrames) {
        DrawColumnTrace(*sound, view, traceArea);
    }

    QPainter painter(&waveform_);
    if (hasFrames && !manyFrames) {
        DrawFrameTrace(painter, *sound, view, traceArea);
    }
    DrawFrame(painter);
    DrawAmplitudeAxis(painter);
    if (hasFrames) {
        DrawTimeAxis(painter, sound, view, region.width());
    }
    DrawTitle(painter, title, region.width());
}

QColor WaveformPlot::TraceColour(const WaveData& sound) {
    return sound.Kind() == SampleKind::Pcm16 ? kPcm16Trace : kInk;
}

WaveformPlot::TraceScale WaveformPlot::ScaleFor(int rows) const {
    return {rows / 2.0, (rows - 1) / (range_.yMax - range_.yMin), rows - 1};
}

void WaveformPlot::DrawFrameTrace(QPainter& painter, const WaveData& sound, const FrameSpan& view,
                                  const QRect& area) const {
    // Few frames: a polyline through every one, spread over the whole width.
    const std::vector<float> values = FrameValues(sound, view);
    const auto n = static_cast<std::int64_t>(values.size());
    const int columns = area.width();
    const TraceScale scale = ScaleFor(area.height());
    std::vector<QPoint> points;
    points.reserve(values.size());
    for (std::int64_t i = 0; i < n; ++i) {
        const std::int64_t x = n > 1 ? i * (columns - 1) / (n - 1) : 0;
        points.emplace_back(area.left() + static_cast<int>(x),
                            area.top() + scale.Y(values[static_cast<std::size_t>(i)]));
    }
    // Drawn in device pixels, whatever the layer's scale.
    painter.save();
    painter.resetTransform();
    painter.scale(1.0 / waveform_.devicePixelRatio(), 1.0 / waveform_.devicePixelRatio());
    painter.setClipRect(area);
    // One pixel of the user interface wide: two device pixels at 200 %.
    painter.setPen(
        QPen(TraceColour(sound), std::max(1.0, std::round(waveform_.devicePixelRatio()))));
    painter.drawPolyline(points.data(), static_cast<int>(points.size()));
    painter.restore();
}

void WaveformPlot::DrawColumnTrace(const WaveData& sound, const FrameSpan& view,
                                   const QRect& area) {
    // Many frames: each column spans its frames' minimum to maximum, and neighbouring
    // columns' mid points are joined (each column reaching halfway to its neighbour's), so a
    // quiet stretch still reads as one line.
    const std::vector<ColumnExtent> extents = ColumnExtents(sound, view, area.width());
    const TraceScale scale = ScaleFor(area.height());
    const std::size_t columns = extents.size();
    std::vector<int> top(columns);
    std::vector<int> bottom(columns);
    int previousMid = scale.Y(FrameValues(sound, {view.first, view.first}).front());
    for (std::size_t c = 0; c < columns; ++c) {
        top[c] = scale.Y(extents[c].max);
        bottom[c] = scale.Y(extents[c].min);
        const int mid = (top[c] + bottom[c]) / 2;
        const int junction = (previousMid + mid) / 2;
        top[c] = std::min(top[c], junction);
        bottom[c] = std::max(bottom[c], junction);
        if (c > 0) {
            top[c - 1] = std::min(top[c - 1], junction);
            bottom[c - 1] = std::max(bottom[c - 1], junction);
        }
        previousMid = mid;
    }

    // Row by row, so the writes run along memory.
    const QRgb ink = TraceColour(sound).rgb();
    for (int y = 0; y < area.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(waveform_.scanLine(area.top() + y)) + area.left();
        for (std::size_t c = 0; c < columns; ++c) {
            row[c] = top[c] <= y && y <= bottom[c] ? ink : row[c];
        }
    }
}

void WaveformPlot::DrawFrame(QPainter& painter) const {
    const int w = plot_.Width();
    const int h = plot_.Height();
    painter.fillRect(plot_.left, plot_.top, w, 1, kInk);
    painter.fillRect(plot_.left, plot_.bottom - 1, w, 1, kInk);
    painter.fillRect(plot_.left, plot_.top, 1, h, kInk);
    painter.fillRect(plot_.right - 1, plot_.top, 1, h, kInk);
    painter.fillRect(plot_.left, plot_.top + 1 + (h - 2) / 2, w, 1, kInk);
}

void WaveformPlot::DrawAmplitudeAxis(QPainter& painter) const {
    painter.setFont(axisFont_);
    painter.setPen(kInk);
    const QFontMetrics metrics(axisFont_, painter.device());
    const double innerHeight = plot_.Height() - 2;
    const double middle = plot_.top + 1 + innerHeight / 2.0;
    const double pixelsPerUnit = (innerHeight - 1) / (range_.yMax - range_.yMin);
    for (const AmplitudeTick& tick : AmplitudeTicks(range_.yMin, range_.yMax)) {
        const int y = static_cast<int>(std::lround(middle - tick.value * pixelsPerUnit));
        if (tick.mark) {
            painter.fillRect(plot_.left - kAmplitudeMark, y, kAmplitudeMark, 1, kInk);
        }
        const QRect box(0, y - metrics.height() / 2, plot_.left - 1, metrics.height());
        painter.drawText(box, Qt::AlignRight | Qt::AlignVCenter,
                         QString::fromStdString(tick.label));
    }
}

void WaveformPlot::DrawTimeAxis(QPainter& painter, const WaveData* sound, const FrameSpan& view,
                                int regionWidth) const {
    const double rate = sound->Format().sampleRate;
    if (rate <= 0) {
        return;
    }
    painter.setFont(axisFont_);
    painter.setPen(kInk);
    const QFontMetrics metrics(axisFont_, painter.device());
    const TimeScale scale = ChooseTimeScale(static_cast<double>(view.Count()) / rate);
    const double first = static_cast<double>(view.first) / rate;
    const double end = static_cast<double>(view.last + 1) / rate;
    int freeFrom = 0;  // labels never overlap: the next one starts at or after this x
    for (const TimeTick& tick : TimeTicks(scale, first, end)) {
        const int x =
            std::min(plot_.right - 1,
                     static_cast<int>(std::lround(XOfFrame(tick.seconds * rate, view, plot_))));
        painter.fillRect(x, plot_.bottom, 1, tick.major ? kMajorTimeTick : kMinorTimeTick, kInk);
        if (!tick.major) {
            continue;
        }
        const QString label = QString::fromStdString(tick.label);
        const int width = metrics.horizontalAdvance(label);
        const int left = std::clamp(x - width / 2, 0, std::max(0, regionWidth - width));
        if (left < freeFrom) {
            continue;
        }
        painter.drawText(QRect(left, plot_.bottom + kMajorTimeTick, width, metrics.height()),
                         Qt::AlignCenter, label);
        freeFrom = left + width + kLabelGap;
    }
}

void WaveformPlot::DrawTitle(QPainter& painter, const QString& title, int regionWidth) const {
    if (title.isEmpty()) {
        return;
    }
    painter.setFont(titleFont_);
    painter.setPen(kInk);
    const QRect above(0, 0, regionWidth, plot_.top - 1);
    const QFontMetrics metrics(titleFont_, painter.device());
    painter.drawText(above, Qt::AlignHCenter | Qt::AlignVCenter,
                     metrics.elidedText(title, Qt::ElideMiddle, regionWidth));
}

void WaveformPlot::ComposeOverlay(const std::optional<ColumnSpan>& selection) {
    if (overlay_.size() == waveform_.size() && overlay_.format() == waveform_.format()) {
        std::memcpy(overlay_.bits(), waveform_.constBits(),
                    static_cast<std::size_t>(waveform_.sizeInBytes()));
    } else {
        overlay_ = waveform_.copy();
    }
    overlay_.setDevicePixelRatio(waveform_.devicePixelRatio());
    if (!selection || selection->x2 <= selection->x1) {
        return;
    }
    QPainter painter(&overlay_);
    painter.setCompositionMode(QPainter::RasterOp_SourceOrDestination);
    painter.fillRect(
        QRect(selection->x1, plot_.top + 1, selection->x2 - selection->x1, plot_.Height() - 2),
        kSelectionOr);
}

}  // namespace hushwell
