#include "ui/TriggerMeter.h"

#include "base/Clock.h"
#include "ui/TriggerListModel.h"

namespace hushwell {

TriggerMeter::TriggerMeter(TriggerListModel& model, QObject* parent)
    : QObject(parent), model_(model) {
    timer_.setInterval(kPeriodMs);
    connect(&timer_, &QTimer::timeout, this, &TriggerMeter::Refresh);
}

TriggerMeter::~TriggerMeter() {
    if (board_ != nullptr) {
        board_->SetWatched(false);
    }
}

void TriggerMeter::SetSource(ScoreBoard* board, const Clock* clock) {
    if (board_ != nullptr && board_ != board) {
        board_->SetWatched(false);
    }
    board_ = clock != nullptr ? board : nullptr;
    clock_ = clock;
    Update();
}

void TriggerMeter::SetShown(bool shown) {
    shown_ = shown;
    Update();
}

void TriggerMeter::Update() {
    const bool run = shown_ && board_ != nullptr;
    if (board_ != nullptr) {
        board_->SetWatched(run);
    }
    if (run && !timer_.isActive()) {
        Refresh();
        timer_.start();
    } else if (!run) {
        timer_.stop();
    }
}

void TriggerMeter::Refresh() {
    if (board_ == nullptr) {
        return;
    }
    const std::uint64_t now = clock_->TickMs();
    const int count = model_.SoundRowCount();
    readings_.resize(static_cast<std::size_t>(count));
    for (int position = 0; position < count; ++position) {
        readings_[static_cast<std::size_t>(position)] =
            board_->Read(model_.RowAt(position).serialId, now);
    }
    model_.SetMeterReadings(readings_);
}

}  // namespace hushwell
