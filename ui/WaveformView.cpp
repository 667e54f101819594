#include "ui/WaveformView.h"

#include <algorithm>
#include <cmath>

#include <QApplication>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QSizePolicy>
#include <utility>

namespace hushwell {

namespace {

const QSize kPreferredSize(480, 300);
const QSize kSmallestSize(200, 120);
constexpr QColor kCursorColour{255, 255, 255};
// Marks: firings red, rejected candidates amber, labels on a light ground.
constexpr QColor kFiredMarkColour{220, 40, 40};
constexpr QColor kRejectedMarkColour{235, 160, 0};
constexpr QColor kMarkLabelBackground{255, 255, 255, 210};
constexpr int kMarkTextDarker = 160;
constexpr int kMarkWidth = 2;
constexpr int kMarkLabelPad = 6;
// Labels use at most this share of the plot's height (1/n).
constexpr int kMarkRowShare = 2;

}  // namespace

WaveformView::WaveformView(QWidget* parent)
    : QWidget(parent), plot_(QApplication::font()), clock_(&SystemClock::Instance()) {
    setObjectName(QStringLiteral("waveformView"));
    setAccessibleName(QStringLiteral("Waveform"));
    setAccessibleDescription(QStringLiteral(
        "The current sound's waveform with its time and amplitude axes. Drag to select a "
        "stretch, double-click to select the whole sound."));
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
    // Every pixel comes from the overlay layer, so nothing needs erasing first.
    setAttribute(Qt::WA_OpaquePaintEvent);

    dragCatchUp_.setSingleShot(true);
    dragCatchUp_.setInterval(static_cast<int>(DragRedrawThrottle::kIntervalMs));
    connect(&dragCatchUp_, &QTimer::timeout, this, [this] {
        dragThrottle_.Due(clock_->TickMs());
        RedrawOverlay();
    });
    cursorTimer_.setInterval(kCursorIntervalMs);
    connect(&cursorTimer_, &QTimer::timeout, this, [this] {
        if (playPositionSource_) {
            SetPlayPosition(playPositionSource_());
        }
    });
}

WaveformView::~WaveformView() = default;

QSize WaveformView::sizeHint() const {
    return kPreferredSize;
}

QSize WaveformView::minimumSizeHint() const {
    return kSmallestSize;
}

void WaveformView::SetSound(std::shared_ptr<const WaveData> sound, const QString& fileName) {
    sound_ = std::move(sound);
    fileName_ = fileName;
    marks_.clear();
    frames_ = sound_ ? DrawableFrames(*sound_) : 0;
    range_ = frames_ > 0 ? AmplitudeRangeOf(*sound_) : AmplitudeRange{};
    if (frames_ > 0) {
        a_ = 0.0f;
        b_ = 1.0f;
    } else {
        a_ = b_ = kNoSelection;
    }
    view_ = {0, frames_ - 1};
    RecomputeSelection();
    playPosition_ = 0;
    finished_ = true;
    pressedInside_ = dragging_ = false;
    RedrawAll();
    emit SelectionChanged();
}

void WaveformView::SetFileName(const QString& fileName) {
    fileName_ = fileName;
    RedrawAll();
}

void WaveformView::SetSelection(float a, float b) {
    if (frames_ <= 0 || playing_) {
        return;
    }
    a_ = std::clamp(a, 0.0f, 1.0f);
    b_ = std::clamp(b, 0.0f, 1.0f);
    RecomputeSelection();
    playPosition_ = selection_.first;
    finished_ = true;
    pressedInside_ = dragging_ = false;
    RedrawOverlay();
    emit SelectionChanged();
}

void WaveformView::Zoom() {
    if (frames_ <= 0) {
        return;
    }
    const int channels = sound_->Format().channels;
    const auto rate = static_cast<int>(sound_->Format().sampleRate);
    if (const auto view = ZoomedView(a_, b_, frames_ * channels, channels, rate)) {
        view_ = *view;
        RedrawAll();
    }
}

void WaveformView::ZoomOut() {
    if (frames_ <= 0) {
        return;
    }
    const FrameSpan wider = ZoomedOutView(view_, frames_);
    if (wider != view_) {
        view_ = wider;
        RedrawAll();
    }
}

void WaveformView::SetPlayPosition(std::int64_t p) {
    playPosition_ = p;
    const std::optional<int> before = cursorX_;
    UpdateCursorColumn();
    if (before == cursorX_) {
        return;
    }
    // Only the two columns change: the overlay's column comes back where the cursor was.
    if (before) {
        update(CursorRect(*before));
    }
    if (cursorX_) {
        update(CursorRect(*cursorX_));
    }
}

void WaveformView::StartPlayback(std::function<std::int64_t()> position) {
    playing_ = true;
    playPositionSource_ = std::move(position);
    cursorTimer_.start();
}

void WaveformView::StopPlayback() {
    cursorTimer_.stop();
    if (playPositionSource_) {
        SetPlayPosition(playPositionSource_());
    }
    playPositionSource_ = nullptr;
    playing_ = false;
}

void WaveformView::paintEvent(QPaintEvent* event) {
    RedrawLayersIfDirty();
    QPainter painter(this);
    const QImage& overlay = plot_.Overlay();
    const qreal ratio = overlay.devicePixelRatio();
    for (const QRect& rect : event->region()) {
        const QRectF source(rect.x() * ratio, rect.y() * ratio, rect.width() * ratio,
                            rect.height() * ratio);
        painter.drawImage(QRectF(rect), overlay, source);
    }
    PaintMarks(painter);
    if (cursorX_) {
        painter.fillRect(CursorRect(*cursorX_), kCursorColour);
    }
}

void WaveformView::SetMarks(std::vector<Mark> marks) {
    marks_ = std::move(marks);
    update();
}

std::optional<int> WaveformView::MarkX(const Mark& mark) const {
    if (!sound_ || frames_ <= 0) {
        return std::nullopt;
    }
    const double frame = mark.seconds * sound_->Format().sampleRate;
    if (frame < static_cast<double>(view_.first) || frame > static_cast<double>(view_.last + 1)) {
        return std::nullopt;
    }
    return static_cast<int>(std::lround(XOfFrame(frame, view_, Plot())));
}

// A line across the plot at each mark, its label at the top; labels of marks close together
// go on successive rows so that they stay readable.
void WaveformView::PaintMarks(QPainter& painter) const {
    const PlotBox& plot = Plot();
    const int rowHeight = fontMetrics().height();
    const int rows = std::max(1, plot.Height() / std::max(1, rowHeight) / kMarkRowShare);
    int row = 0;
    std::optional<int> lastX;
    for (const Mark& mark : marks_) {
        const std::optional<int> x = MarkX(mark);
        if (!x) {
            continue;
        }
        const QColor colour = mark.fired ? kFiredMarkColour : kRejectedMarkColour;
        painter.fillRect(QRect(*x, plot.top + 1, kMarkWidth, plot.Height() - 1), colour);
        const int labelWidth = fontMetrics().horizontalAdvance(mark.label) + kMarkLabelPad;
        row = lastX && *x - *lastX < labelWidth ? (row + 1) % rows : 0;
        lastX = x;
        const QRect label(*x + kMarkWidth + 1, plot.top + 1 + row * rowHeight, labelWidth,
                          rowHeight);
        painter.fillRect(label, kMarkLabelBackground);
        painter.setPen(colour.darker(kMarkTextDarker));
        painter.drawText(label, Qt::AlignLeft | Qt::AlignVCenter, mark.label);
    }
}

void WaveformView::mousePressEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() != Qt::LeftButton || playing_ || frames_ <= 0 ||
        !Plot().StrictlyContains(at.x(), at.y())) {
        return;
    }
    a_ = b_ = static_cast<float>(FractionAt(at.x()));
    RecomputeSelection();
    playPosition_ = selection_.first;
    pressedInside_ = true;
    finished_ = false;
    dragging_ = false;
    RedrawOverlay();
    emit SelectionChanged();
}

void WaveformView::mouseMoveEvent(QMouseEvent* event) {
    if (!(event->buttons() & Qt::LeftButton) || !pressedInside_ || finished_) {
        return;
    }
    b_ = static_cast<float>(FractionAt(ClampToInner(event->position().toPoint().x(), Plot())));
    RecomputeSelection();
    dragging_ = true;
    if (dragThrottle_.Due(clock_->TickMs())) {
        dragCatchUp_.stop();
        RedrawOverlay();
    } else if (!dragCatchUp_.isActive()) {
        dragCatchUp_.start();
    }
}

void WaveformView::mouseReleaseEvent(QMouseEvent* event) {
    pressedInside_ = false;
    if (!dragging_) {
        return;
    }
    b_ = static_cast<float>(FractionAt(ClampToInner(event->position().toPoint().x(), Plot())));
    RecomputeSelection();
    finished_ = true;
    dragging_ = false;
    dragCatchUp_.stop();
    RedrawOverlay();
    emit SelectionChanged();
}

void WaveformView::mouseDoubleClickEvent(QMouseEvent* event) {
    const QPoint at = event->position().toPoint();
    if (event->button() != Qt::LeftButton || playing_ || frames_ <= 0 ||
        !Plot().StrictlyContains(at.x(), at.y())) {
        return;
    }
    a_ = 0.0f;
    b_ = 1.0f;
    RecomputeSelection();
    playPosition_ = 0;
    finished_ = true;
    pressedInside_ = dragging_ = false;
    RedrawAll();
    emit SelectionChanged();
}

void WaveformView::RedrawLayersIfDirty() {
    const qreal ratio = devicePixelRatioF();
    if (ratio != layerRatio_ || size() != layerSize_) {
        waveformDirty_ = true;
    }
    if (waveformDirty_) {
        plot_.DrawWaveformLayer(sound_.get(), range_, view_, fileName_, size(), ratio,
                                logicalDpiY());
        layerRatio_ = ratio;
        layerSize_ = size();
        ++waveformDrawings_;
    }
    if (waveformDirty_ || overlayDirty_) {
        selectionColumns_ = HasSelection() && frames_ > 0
                                ? SelectionColumns(selection_, view_, Plot())
                                : std::nullopt;
        plot_.ComposeOverlay(selectionColumns_);
        ++overlayCompositions_;
        UpdateCursorColumn();
    }
    waveformDirty_ = overlayDirty_ = false;
}

void WaveformView::UpdateCursorColumn() {
    cursorX_ = selectionColumns_
                   ? CursorColumn(playPosition_, selection_, view_, *selectionColumns_)
                   : std::nullopt;
}

void WaveformView::RecomputeSelection() {
    selection_ = HasSelection() ? SelectionFrames(a_, b_, frames_) : FrameSpan{0, 0};
}

void WaveformView::RedrawAll() {
    waveformDirty_ = true;
    overlayDirty_ = true;
    update();
}

void WaveformView::RedrawOverlay() {
    overlayDirty_ = true;
    update();
}

double WaveformView::FractionAt(int x) const {
    return FractionAtX(x, Plot(), view_, frames_);
}

QRect WaveformView::CursorRect(int x) const {
    return {x, Plot().top + 1, 1, Plot().Height() - 2};
}

}  // namespace hushwell
