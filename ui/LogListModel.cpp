#include "ui/LogListModel.h"

#include <QColor>
#include <iterator>

namespace hushwell {

namespace {

// Rows are drawn on a lighter grey than the empty part of the list.
const QColor kRowBackground(240, 240, 240);

QString ToolTip(const QString& text, const QString& why) {
    return why.isEmpty() ? text : text + QLatin1Char('\n') + why;
}

}  // namespace

LogListModel::LogListModel(QObject* parent) : QAbstractTableModel(parent) {}

void LogListModel::AddNewest(std::vector<Row> rows) {
    if (rows.empty()) {
        return;
    }
    // Of a batch larger than the list, only the newest rows could ever be shown.
    auto first = rows.begin();
    if (rows.size() > static_cast<std::size_t>(kMaxRows)) {
        first = std::prev(rows.end(), kMaxRows);
    }
    const int added = static_cast<int>(std::distance(first, rows.end()));
    beginInsertRows(QModelIndex(), 0, added - 1);
    for (auto row = first; row != rows.end(); ++row) {
        rows_.push_front(std::move(*row));
    }
    endInsertRows();
    DropOldestBeyondLimit();
}

void LogListModel::DropOldestBeyondLimit() {
    const int count = static_cast<int>(rows_.size());
    if (count <= kMaxRows) {
        return;
    }
    beginRemoveRows(QModelIndex(), kMaxRows, count - 1);
    rows_.resize(kMaxRows);
    endRemoveRows();
}

int LogListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int LogListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : kColumnCount;
}

QVariant LogListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount()) {
        return {};
    }
    const Row& row = rows_[static_cast<std::size_t>(index.row())];
    switch (role) {
        case Qt::DisplayRole:
            return index.column() == kDateTimeColumn ? row.dateTime : row.name;
        case Qt::ToolTipRole:  // the whole text of a cell too narrow for it, and why it fired
            return ToolTip(index.column() == kDateTimeColumn ? row.dateTime : row.name, row.why);
        case Qt::BackgroundRole:
            return kRowBackground;
        default:
            return {};
    }
}

QVariant LogListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole) {
        return {};
    }
    switch (section) {
        case kDateTimeColumn:
            return QStringLiteral("date_time");
        case kNameColumn:
            return QStringLiteral("control name");
        default:
            return {};
    }
}

}  // namespace hushwell
