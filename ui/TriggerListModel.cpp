#include "ui/TriggerListModel.h"

#include <QFont>
#include <QMimeData>
#include <QUrl>
#include <mutex>

#include "triggers/TriggerList.h"

namespace hushwell {

namespace {

constexpr std::array<const char*, TriggerListModel::kColumnCount> kColumnTitles = {
    "Name", "Trigger", "Action"};
constexpr std::array<const char*, TriggerListModel::kKindCount> kGroupTitles = {
    "Sound triggers", "Time triggers", "Level triggers"};
constexpr std::array<TriggerKind, TriggerListModel::kKindCount> kKinds = {
    TriggerKind::Sound, TriggerKind::Time, TriggerKind::Level};
constexpr const char* kLevelPrefix = "level > 0.";
constexpr const char* kEveryPrefix = "+";
constexpr int kMeterDecimals = 4;  // as the scan tool prints scores

int Slot(TriggerKind kind) {
    return static_cast<int>(kind);
}

QString FromUtf8(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

}  // namespace

TriggerListModel::TriggerListModel(QObject* parent) : QAbstractItemModel(parent) {}

QString TriggerListModel::NameText(const Trigger& record) {
    return FromUtf8(record.name);
}

QString TriggerListModel::TriggerText(const Trigger& record) {
    switch (record.GetTriggerKind()) {
        case TriggerKind::Sound:
            return FromUtf8(record.triggerFile);
        case TriggerKind::Time: {
            const QString time = QString::fromStdString(record.timeOfDay.Formatted());
            return record.every ? QString::fromLatin1(kEveryPrefix) + time : time;
        }
        case TriggerKind::Level:
            return QString::fromLatin1(kLevelPrefix) +
                   QString::number(static_cast<std::uint32_t>(record.level));
        case TriggerKind::Other:
            break;
    }
    return {};
}

// An exec control shows the program's file name: the text after its last "/", or the whole
// text when there is none or it ends with one.
QString TriggerListModel::ActionText(const Trigger& record) {
    if (record.GetControlKind() != ControlKind::Exec) {
        return FromUtf8(record.control);
    }
    const QString command = FromUtf8(record.command);
    const qsizetype slash = command.lastIndexOf(QLatin1Char('/'));
    if (slash < 0 || slash == command.size() - 1) {
        return command;
    }
    return command.mid(slash + 1);
}

std::vector<TriggerListModel::Row> TriggerListModel::RowsOf(const TriggerList& list) {
    std::vector<Row> rows;
    std::lock_guard guard(list.Mutex());
    for (const TriggerKind kind : kKinds) {
        for (const Trigger* record : list.ActiveRecords(kind)) {
            std::lock_guard recordGuard(record->Mutex());
            rows.push_back({NameText(*record), TriggerText(*record), ActionText(*record), kind,
                            record->serialId});
        }
    }
    return rows;
}

void TriggerListModel::SetRows(std::vector<Row> rows) {
    beginResetModel();
    rows_ = std::move(rows);
    meter_.clear();
    counts_.fill(0);
    for (const Row& row : rows_) {
        ++counts_[static_cast<std::size_t>(Slot(row.kind))];
    }
    groups_.clear();
    for (const TriggerKind kind : kKinds) {
        if (counts_[static_cast<std::size_t>(Slot(kind))] > 0) {
            groups_.push_back(kind);
        }
    }
    endResetModel();
}

void TriggerListModel::SetGroupView(bool on) {
    if (on == groupView_) {
        return;
    }
    beginResetModel();
    groupView_ = on;
    endResetModel();
}

void TriggerListModel::SetHeaderIcon(int column, const QIcon& icon) {
    if (column < 0 || column >= kColumnCount) {
        return;
    }
    headerIcons_[static_cast<std::size_t>(column)] = icon;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

int TriggerListModel::FirstPosition(TriggerKind kind) const {
    int first = 0;
    for (int slot = 0; slot < Slot(kind); ++slot) {
        first += counts_[static_cast<std::size_t>(slot)];
    }
    return first;
}

int TriggerListModel::PositionOf(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != this || index.internalId() == kGroupNode) {
        return -1;
    }
    return static_cast<int>(index.internalId() - 1);
}

QModelIndex TriggerListModel::IndexOfPosition(int position, int column) const {
    if (position < 0 || position >= PositionCount() || column < 0 || column >= kShownColumnCount) {
        return {};
    }
    const auto id = static_cast<quintptr>(position) + 1;
    if (!groupView_) {
        return createIndex(position, column, id);
    }
    const TriggerKind kind = RowAt(position).kind;
    return createIndex(position - FirstPosition(kind), column, id);
}

QModelIndex TriggerListModel::GroupIndex(TriggerKind kind) const {
    if (!groupView_) {
        return {};
    }
    const std::vector<TriggerKind>& groups = VisibleGroups();
    for (std::size_t i = 0; i < groups.size(); ++i) {
        if (groups[i] == kind) {
            return createIndex(static_cast<int>(i), 0, kGroupNode);
        }
    }
    return {};
}

QModelIndex TriggerListModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column < 0 || column >= kShownColumnCount) {
        return {};
    }
    if (!groupView_) {
        return parent.isValid() ? QModelIndex() : IndexOfPosition(row, column);
    }
    if (!parent.isValid()) {
        const std::vector<TriggerKind>& groups = VisibleGroups();
        return row < static_cast<int>(groups.size()) ? createIndex(row, column, kGroupNode)
                                                     : QModelIndex();
    }
    if (parent.internalId() != kGroupNode) {
        return {};
    }
    const std::vector<TriggerKind>& groups = VisibleGroups();
    const TriggerKind kind = groups[static_cast<std::size_t>(parent.row())];
    if (row >= counts_[static_cast<std::size_t>(Slot(kind))]) {
        return {};
    }
    return IndexOfPosition(FirstPosition(kind) + row, column);
}

QModelIndex TriggerListModel::parent(const QModelIndex& child) const {
    const int position = PositionOf(child);
    if (!groupView_ || position < 0) {
        return {};
    }
    return GroupIndex(RowAt(position).kind);
}

int TriggerListModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid()) {
        return groupView_ ? static_cast<int>(VisibleGroups().size()) : PositionCount();
    }
    if (!groupView_ || parent.internalId() != kGroupNode || parent.column() != 0) {
        return 0;
    }
    const TriggerKind kind = VisibleGroups()[static_cast<std::size_t>(parent.row())];
    return counts_[static_cast<std::size_t>(Slot(kind))];
}

int TriggerListModel::columnCount(const QModelIndex&) const {
    return kShownColumnCount;
}

QVariant TriggerListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid()) {
        return {};
    }
    if (index.internalId() == kGroupNode) {
        if (role == Qt::DisplayRole && index.column() == 0) {
            const TriggerKind kind = VisibleGroups()[static_cast<std::size_t>(index.row())];
            return QString::fromLatin1(kGroupTitles[static_cast<std::size_t>(Slot(kind))]);
        }
        if (role == Qt::FontRole) {
            QFont bold;
            bold.setBold(true);
            return bold;
        }
        return {};
    }
    if (index.column() == kMeterColumn) {
        return MeterData(PositionOf(index), role);
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    const Row& row = RowAt(PositionOf(index));
    switch (index.column()) {
        case kNameColumn:
            return row.name;
        case kTriggerColumn:
            return row.trigger;
        case kActionColumn:
            return row.action;
        default:
            return {};
    }
}

QVariant TriggerListModel::MeterData(int position, int role) const {
    if (position < 0 || position >= SoundRowCount()) {
        return {};  // time and level triggers have no meter
    }
    const auto slot = static_cast<std::size_t>(position);
    const ScoreBoard::Reading reading = slot < meter_.size() ? meter_[slot] : ScoreBoard::Reading{};
    switch (role) {
        case Qt::ToolTipRole:
        case Qt::AccessibleTextRole:
            return MeterText(reading);
        case kScoreRole:
            return reading.score;
        case kThresholdRole:
            return reading.threshold;
        case kStageRole:
            return static_cast<int>(reading.stage);
        default:
            return {};
    }
}

QString TriggerListModel::MeterText(const ScoreBoard::Reading& reading) {
    if (reading.stage == ScoreBoard::Stage::None) {
        return QStringLiteral("No score in the last two seconds");
    }
    const QString numbers = QStringLiteral("Score %1, threshold %2")
                                .arg(reading.score, 0, 'f', kMeterDecimals)
                                .arg(reading.threshold, 0, 'f', kMeterDecimals);
    switch (reading.stage) {
        case ScoreBoard::Stage::Candidate:
            return numbers + QStringLiteral(": a candidate, not verified");
        case ScoreBoard::Stage::Verified:
            return numbers + QStringLiteral(": verified, fired");
        case ScoreBoard::Stage::Fired:
            return numbers + QStringLiteral(": fired");
        default:
            return numbers;
    }
}

void TriggerListModel::SetMeterReadings(const std::vector<ScoreBoard::Reading>& readings) {
    const std::size_t count = static_cast<std::size_t>(SoundRowCount());
    meter_.resize(count);
    int first = -1;
    int last = -1;
    for (std::size_t p = 0; p < count; ++p) {
        const ScoreBoard::Reading reading =
            p < readings.size() ? readings[p] : ScoreBoard::Reading{};
        ScoreBoard::Reading& shown = meter_[p];
        if (reading.score == shown.score && reading.threshold == shown.threshold &&
            reading.stage == shown.stage) {
            continue;
        }
        shown = reading;
        first = first < 0 ? static_cast<int>(p) : first;
        last = static_cast<int>(p);
    }
    ReportMeterChange(first, last);
}

// Sound rows are consecutive in both views (one group in the group view).
void TriggerListModel::ReportMeterChange(int first, int last) {
    if (first < 0) {
        return;
    }
    emit dataChanged(
        IndexOfPosition(first, kMeterColumn), IndexOfPosition(last, kMeterColumn),
        {Qt::ToolTipRole, Qt::AccessibleTextRole, kScoreRole, kThresholdRole, kStageRole});
}

QVariant TriggerListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && section == kMeterColumn) {
        if (role == Qt::DisplayRole) {
            return QStringLiteral("Heard");
        }
        if (role == Qt::ToolTipRole) {
            return QStringLiteral(
                "Each sound trigger's best score of the last two seconds against its threshold");
        }
        return {};
    }
    if (orientation != Qt::Horizontal || section < 0 || section >= kColumnCount) {
        return {};
    }
    if (role == Qt::DisplayRole) {
        return QString::fromLatin1(kColumnTitles[static_cast<std::size_t>(section)]);
    }
    if (role == Qt::DecorationRole) {
        return headerIcons_[static_cast<std::size_t>(section)];
    }
    return {};
}

Qt::ItemFlags TriggerListModel::flags(const QModelIndex& index) const {
    if (!index.isValid()) {
        return Qt::ItemIsDropEnabled;
    }
    if (index.internalId() == kGroupNode) {
        return Qt::ItemIsEnabled | Qt::ItemIsDropEnabled;
    }
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsDragEnabled | Qt::ItemIsDropEnabled;
}

Qt::DropActions TriggerListModel::supportedDropActions() const {
    return Qt::MoveAction | Qt::CopyAction;
}

Qt::DropActions TriggerListModel::supportedDragActions() const {
    return Qt::MoveAction;
}

QStringList TriggerListModel::mimeTypes() const {
    return {QString::fromLatin1(kRowMimeType), QStringLiteral("text/uri-list")};
}

QMimeData* TriggerListModel::mimeData(const QModelIndexList& indexes) const {
    for (const QModelIndex& index : indexes) {
        const int position = PositionOf(index);
        if (position >= 0) {
            auto* data = new QMimeData;
            data->setData(QString::fromLatin1(kRowMimeType), QByteArray::number(position));
            return data;
        }
    }
    return nullptr;
}

// A row dropped onto a row lands at that row's position; dropped between rows, at the
// position of the row below the gap.
int TriggerListModel::DropTarget(int row, const QModelIndex& parent) const {
    if (row < 0) {
        return PositionOf(parent);
    }
    return PositionOf(index(row, 0, parent));
}

bool TriggerListModel::canDropMimeData(const QMimeData* data, Qt::DropAction, int, int,
                                       const QModelIndex&) const {
    return data != nullptr &&
           (data->hasFormat(QString::fromLatin1(kRowMimeType)) || data->hasUrls());
}

bool TriggerListModel::dropMimeData(const QMimeData* data, Qt::DropAction action, int row,
                                    int column, const QModelIndex& parent) {
    if (!canDropMimeData(data, action, row, column, parent)) {
        return false;
    }
    if (data->hasFormat(QString::fromLatin1(kRowMimeType))) {
        bool ok = false;
        const int source = data->data(QString::fromLatin1(kRowMimeType)).toInt(&ok);
        const int target = DropTarget(row, parent);
        if (ok && target >= 0 && onRowDropped) {
            onRowDropped(source, target);
        }
        // The editor rebuilds the rows itself; the view must not remove the dragged one.
        return false;
    }
    QStringList paths;
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            paths.push_back(url.toLocalFile());
        }
    }
    if (!paths.isEmpty() && onFilesDropped) {
        onFilesDropped(paths);
    }
    return false;
}

}  // namespace hushwell
