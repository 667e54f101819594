#pragma once

#include <QAbstractTableModel>
#include <QString>
#include <deque>
#include <vector>

namespace hushwell {

// The rows of the log page, newest first: the date-time text and the fired trigger's name.
// At most kMaxRows rows; adding beyond that drops the oldest. Additions come in batches so
// that a burst of firings costs one insertion and at most one removal in the view.
//
// User-interface thread only.
class LogListModel final : public QAbstractTableModel {
    Q_OBJECT
public:
    static constexpr int kMaxRows = 10000;
    enum Column { kDateTimeColumn = 0, kNameColumn = 1, kColumnCount = 2 };

    struct Row {
        QString dateTime;
        QString name;
        QString why;  // score and threshold, shown with the cell's text in its tool tip
    };

    explicit LogListModel(QObject* parent = nullptr);

    // Adds the rows, oldest first, above the present ones.
    void AddNewest(std::vector<Row> rows);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    void DropOldestBeyondLimit();

    std::deque<Row> rows_;  // index 0 is the newest
};

}  // namespace hushwell
