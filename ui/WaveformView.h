#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "base/Clock.h"
#include "ui/DragRedrawThrottle.h"
#include "ui/WaveformGeometry.h"
#include "ui/WaveformPlot.h"
#include "wav/WaveData.h"

class QPainter;

namespace hushwell {

// The sound editor's waveform: the current sound's first channel with its amplitude and time
// axes and its file name as the title. A mouse drag inside the plot selects a stretch, a
// double click selects the whole sound, Zoom shows the selection (with 3 % around it) and
// ZoomOut widens the view threefold. During playback a white play cursor moves across the
// selection, redrawn every 50 ms without drawing the waveform again.
//
// The selection is kept as two fractions a and b of the whole sound in the order the mouse
// made them (kNoSelection when there is none) and as the frames they give. The editor hears
// of every new selection through SelectionChanged and sets its play positions from it.
//
// User-interface thread only. The play position callback is called on this thread; it takes
// whatever locks the editor's play position needs.
class WaveformView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kCursorIntervalMs = 50;

    // A mark on the sound: where a trigger fired (or a candidate of it was turned down), drawn
    // as a line at that time with its label.
    struct Mark {
        double seconds = 0.0;
        QString label;
        bool fired = false;
    };

    explicit WaveformView(QWidget* parent = nullptr);
    ~WaveformView() override;

    // Shows a new sound (nullptr for none) with its file name as the title, the whole sound
    // in view and selected, the play position at 0. Emits SelectionChanged.
    void SetSound(std::shared_ptr<const WaveData> sound, const QString& fileName);
    // A new title for the same sound (after it was saved under a name).
    void SetFileName(const QString& fileName);
    // Marks on the current sound (a new sound clears them).
    void SetMarks(std::vector<Mark> marks);
    const std::vector<Mark>& Marks() const { return marks_; }
    // The x coordinate of a mark in the last drawing; nothing when it is out of view.
    std::optional<int> MarkX(const Mark& mark) const;

    float SelectionA() const { return a_; }
    float SelectionB() const { return b_; }
    // Both ends set (save is possible when they also differ).
    bool HasSelection() const { return IsSelectionSet(a_, b_); }
    FrameSpan Selection() const { return selection_; }
    FrameSpan View() const { return view_; }
    std::int64_t Frames() const { return frames_; }
    // The plot rectangle of the last drawing, in widget coordinates.
    const PlotBox& Plot() const { return plot_.Plot(); }
    const AmplitudeRange& Range() const { return range_; }

    // Selects [a, b] (fractions of the whole sound, in that order) as if the mouse had made it:
    // the play position moves to its start. Ignored without a sound or while playing. Emits
    // SelectionChanged.
    void SetSelection(float a, float b);

    // Shows the selection with 3 % around it, unless that would show less than 0.02 s.
    void Zoom();
    // Widens the view by its own width on each side, within the sound.
    void ZoomOut();

    // Moves the play cursor to play position p (frames from the start of the sound); only the
    // columns of the old and the new cursor are painted again.
    void SetPlayPosition(std::int64_t p);
    std::optional<int> CursorX() const { return cursorX_; }
    // While playing, the selection cannot be changed with the mouse and the cursor follows
    // position() every 50 ms. Stopping keeps the cursor where it is.
    void StartPlayback(std::function<std::int64_t()> position);
    void StopPlayback();
    bool IsPlaying() const { return playing_; }

    // The clock that spaces drag redraws; the system clock unless a test sets another, which
    // must outlive the view.
    void SetClock(const Clock& clock) { clock_ = &clock; }
    // How often the overlay was composed (tests and benchmarks watch redraw work with it).
    int OverlayCompositions() const { return overlayCompositions_; }
    int WaveformDrawings() const { return waveformDrawings_; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // A new selection was made: by SetSound, a click, the end of a drag or a double click.
    void SelectionChanged();

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    void RedrawLayersIfDirty();
    void UpdateCursorColumn();
    void RecomputeSelection();
    void RedrawAll();
    void RedrawOverlay();
    double FractionAt(int x) const;
    QRect CursorRect(int x) const;

    void PaintMarks(QPainter& painter) const;

    std::shared_ptr<const WaveData> sound_;
    QString fileName_;
    std::vector<Mark> marks_;
    std::int64_t frames_ = 0;
    AmplitudeRange range_;  // of the sound, which never changes while shown
    WaveformPlot plot_;

    float a_ = kNoSelection;
    float b_ = kNoSelection;
    FrameSpan selection_{0, 0};
    FrameSpan view_{0, -1};
    std::int64_t playPosition_ = 0;
    std::optional<ColumnSpan> selectionColumns_;
    std::optional<int> cursorX_;

    bool waveformDirty_ = true;
    bool overlayDirty_ = true;
    // The size and scale the layers were drawn for; a change of either redraws them.
    qreal layerRatio_ = 0.0;
    QSize layerSize_;

    // Mouse state: pressed inside the plot, selection finished, dragging.
    bool pressedInside_ = false;
    bool finished_ = true;
    bool dragging_ = false;
    DragRedrawThrottle dragThrottle_;
    QTimer dragCatchUp_;  // shows the last drag position when the mouse stops
    const Clock* clock_;

    bool playing_ = false;
    std::function<std::int64_t()> playPositionSource_;
    QTimer cursorTimer_;

    int overlayCompositions_ = 0;
    int waveformDrawings_ = 0;
};

}  // namespace hushwell
