#include "ui/MeterDelegate.h"

#include <QPainter>
#include <algorithm>
#include <array>

#include "detection/ScoreBoard.h"
#include "ui/TriggerListModel.h"

namespace hushwell {

namespace {

constexpr int kMargin = 3;
constexpr int kThresholdMarkWidth = 2;
constexpr int kPreferredEms = 7;
const QColor kTrack(225, 225, 225);
const QColor kThresholdMark(40, 40, 40);
// By stage: none, below, candidate, verified, fired.
const std::array<QColor, 5> kStageColours = {QColor(0, 0, 0, 0), QColor(70, 130, 180),
                                             QColor(230, 160, 0), QColor(40, 160, 60),
                                             QColor(200, 40, 40)};

}  // namespace

MeterDelegate::MeterDelegate(QObject* parent) : QStyledItemDelegate(parent) {}

double MeterDelegate::Fill(double score) {
    return std::clamp((score - kLowestShown) / (1.0 - kLowestShown), 0.0, 1.0);
}

void MeterDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                          const QModelIndex& index) const {
    QStyledItemDelegate::paint(painter, option, index);  // selection background
    const QVariant stageData = index.data(TriggerListModel::kStageRole);
    if (!stageData.isValid()) {
        return;  // not a sound row
    }
    const QRect track = option.rect.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    painter->save();
    painter->fillRect(track, kTrack);
    const int stage = std::clamp(stageData.toInt(), 0, static_cast<int>(kStageColours.size()) - 1);
    if (stage != static_cast<int>(ScoreBoard::Stage::None)) {
        const double score = index.data(TriggerListModel::kScoreRole).toDouble();
        const double threshold = index.data(TriggerListModel::kThresholdRole).toDouble();
        QRect bar = track;
        bar.setWidth(static_cast<int>(track.width() * Fill(score)));
        painter->fillRect(bar, kStageColours[static_cast<std::size_t>(stage)]);
        const int markX = track.left() + static_cast<int>(track.width() * Fill(threshold));
        painter->fillRect(QRect(markX - kThresholdMarkWidth / 2, option.rect.top() + 1,
                                kThresholdMarkWidth, option.rect.height() - 2),
                          kThresholdMark);
    }
    painter->restore();
}

QSize MeterDelegate::sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setWidth(option.fontMetrics.horizontalAdvance(QLatin1Char('m')) * kPreferredEms);
    return size;
}

}  // namespace hushwell
