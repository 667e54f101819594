#pragma once

#include <QStyledItemDelegate>

namespace hushwell {

// Draws the meter column of the trigger list: a bar for the score of the last two seconds
// from kLowestShown (left edge) to 1 (right edge), a mark at the threshold, and the bar's
// colour by how far the trigger got (below, candidate, verified, fired). Cells without a
// reading are left empty.
//
// User-interface thread only.
class MeterDelegate final : public QStyledItemDelegate {
    Q_OBJECT
public:
    // Scores below this are drawn as an empty bar: unrelated sounds score around 0.5.
    static constexpr double kLowestShown = 0.5;

    explicit MeterDelegate(QObject* parent = nullptr);

    // The share of the bar's width a score fills (0..1).
    static double Fill(double score);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

}  // namespace hushwell
