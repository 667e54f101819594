#pragma once

#include <QObject>
#include <QTimer>
#include <vector>

#include "detection/ScoreBoard.h"

namespace hushwell {

class Clock;
class TriggerListModel;

// The live meter of the Controls page: about ten times a second, while the page is shown, it
// reads every sound row's recent score from the detection engine's score board (without a
// lock) and hands the readings to the list model. While the page is hidden its timer is
// stopped and the board is not watched, so the detection thread writes nothing and nothing
// wakes.
//
// User-interface thread only. The board and the clock must outlive the meter.
class TriggerMeter final : public QObject {
    Q_OBJECT
public:
    static constexpr int kPeriodMs = 100;

    explicit TriggerMeter(TriggerListModel& model, QObject* parent = nullptr);
    ~TriggerMeter() override;

    // The board to read and the clock its ticks come from (the engine's). Null: no meter.
    void SetSource(ScoreBoard* board, const Clock* clock);
    // The page became visible or hidden.
    void SetShown(bool shown);
    bool IsRunning() const { return timer_.isActive(); }
    // Reads the board once now.
    void Refresh();

private:
    void Update();

    TriggerListModel& model_;
    ScoreBoard* board_ = nullptr;
    const Clock* clock_ = nullptr;
    bool shown_ = false;
    QTimer timer_;
    std::vector<ScoreBoard::Reading> readings_;
};

}  // namespace hushwell
