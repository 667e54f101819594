#pragma once

#include <QAbstractItemModel>
#include <QIcon>
#include <QString>
#include <array>
#include <functional>
#include <vector>

#include "detection/ScoreBoard.h"
#include "triggers/Vocabulary.h"

namespace hushwell {

class Trigger;
class TriggerList;

// The rows of the trigger list editor: one row per active record, sound records first, then
// time, then level, each kind in vector order (the all-kinds numbering of TriggerList). With
// the group view on, the rows hang under one header row per non-empty kind ("Sound triggers",
// "Time triggers", "Level triggers"); with it off they form a flat list in the same order.
//
// The model holds display texts only, built once per rebuild, so a list at the limits scrolls
// and repaints without touching the records. A fourth column shows each sound trigger's live
// meter (TriggerMeter feeds it; MeterDelegate draws it). Rows dragged within the list and list
// files dropped on it are reported through the two callbacks; the model itself changes nothing.
//
// User-interface thread only.
class TriggerListModel final : public QAbstractItemModel {
    Q_OBJECT
public:
    // The three text columns (sortable, their widths stored), then the meter of sound rows.
    enum Column {
        kNameColumn = 0,
        kTriggerColumn = 1,
        kActionColumn = 2,
        kColumnCount = 3,
        kMeterColumn = 3
    };
    static constexpr int kShownColumnCount = 4;
    // The meter column's data: the score and threshold (float) and the stage (int, a
    // ScoreBoard::Stage) of the last two seconds.
    static constexpr int kScoreRole = Qt::UserRole + 1;
    static constexpr int kThresholdRole = Qt::UserRole + 2;
    static constexpr int kStageRole = Qt::UserRole + 3;
    static constexpr int kKindCount = 3;
    static constexpr const char* kRowMimeType = "application/x-hushwell-trigger-row";

    struct Row {
        QString name;
        QString trigger;
        QString action;
        TriggerKind kind = TriggerKind::Sound;
        std::uint32_t serialId = 0;
    };

    explicit TriggerListModel(QObject* parent = nullptr);

    // The texts of a record's three columns.
    static QString NameText(const Trigger& record);
    static QString TriggerText(const Trigger& record);
    static QString ActionText(const Trigger& record);
    // Every active record of the list, in all-kinds order (takes the list's lock).
    static std::vector<Row> RowsOf(const TriggerList& list);

    void SetRows(std::vector<Row> rows);
    // The meter readings of the sound rows, by position (the first sound rows); the rest
    // show none. Only the meter cells that changed are reported to the view.
    void SetMeterReadings(const std::vector<ScoreBoard::Reading>& readings);
    // The text a meter cell gives as its tool tip and accessible name.
    static QString MeterText(const ScoreBoard::Reading& reading);
    int SoundRowCount() const { return counts_[0]; }
    void SetGroupView(bool on);
    bool GroupView() const { return groupView_; }
    // The image shown in a column's header (the column's sort state).
    void SetHeaderIcon(int column, const QIcon& icon);

    int PositionCount() const { return static_cast<int>(rows_.size()); }
    const Row& RowAt(int position) const { return rows_[static_cast<std::size_t>(position)]; }
    // All-kinds position of an index, or -1 for a group header or an invalid index.
    int PositionOf(const QModelIndex& index) const;
    // The index of a position's row in the given column (invalid when out of range).
    QModelIndex IndexOfPosition(int position, int column = 0) const;
    // The group header rows (invalid when the group view is off or the kind has no row).
    QModelIndex GroupIndex(TriggerKind kind) const;

    // Called with (source position, target position) when a row is dropped onto a row.
    std::function<void(int, int)> onRowDropped;
    // Called with the local paths of files dropped on the list.
    std::function<void(const QStringList&)> onFilesDropped;

    QModelIndex index(int row, int column,
                      const QModelIndex& parent = QModelIndex()) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    Qt::DropActions supportedDropActions() const override;
    Qt::DropActions supportedDragActions() const override;
    QStringList mimeTypes() const override;
    QMimeData* mimeData(const QModelIndexList& indexes) const override;
    bool canDropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                         const QModelIndex& parent) const override;
    bool dropMimeData(const QMimeData* data, Qt::DropAction action, int row, int column,
                      const QModelIndex& parent) override;

private:
    // internalId of an index: kGroupNode for a header, else 1 + the position of the row.
    static constexpr quintptr kGroupNode = 0;
    // The kinds that have rows, in order; the group rows of the group view.
    const std::vector<TriggerKind>& VisibleGroups() const { return groups_; }
    int FirstPosition(TriggerKind kind) const;
    int DropTarget(int row, const QModelIndex& parent) const;

    QVariant MeterData(int position, int role) const;
    void ReportMeterChange(int first, int last);

    std::vector<Row> rows_;
    std::vector<ScoreBoard::Reading> meter_;  // per sound row
    std::array<int, kKindCount> counts_{};
    std::vector<TriggerKind> groups_;
    bool groupView_ = false;
    std::array<QIcon, kColumnCount> headerIcons_;
};

}  // namespace hushwell
