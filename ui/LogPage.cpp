#include "ui/LogPage.h"

#include <QHeaderView>
#include <QTableView>
#include <QVBoxLayout>

#include "base/FormatTimeStamp.h"
#include "ui/LogListModel.h"

namespace hushwell {

namespace {

// The list's colours: the empty part of the list, and the grid between cells (the rows
// themselves come from the model).
const QColor kListBackground(230, 230, 230);
const QColor kGridLines(200, 200, 200);

}  // namespace

LogPage::LogPage(std::function<int()> dateOrder, QWidget* parent)
    : QWidget(parent),
      dateOrder_(std::move(dateOrder)),
      clock_(&SystemClock::Instance()),
      model_(new LogListModel(this)),
      list_(new QTableView(this)) {
    BuildList();
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(list_);
    SetColumnWidths(0, 0);
}

LogPage::~LogPage() = default;

void LogPage::BuildList() {
    list_->setObjectName(QStringLiteral("logList"));
    list_->setAccessibleName(QStringLiteral("Fired triggers"));
    list_->setAccessibleDescription(
        QStringLiteral("The triggers that fired during this run, newest first"));
    list_->setModel(model_);
    list_->setSelectionBehavior(QAbstractItemView::SelectRows);
    list_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    list_->setShowGrid(true);
    list_->setWordWrap(false);
    list_->setStyleSheet(
        QStringLiteral("QTableView { gridline-color: %1; }").arg(kGridLines.name()));
    QPalette palette = list_->palette();
    palette.setColor(QPalette::Base, kListBackground);
    list_->setPalette(palette);

    // Every row has the same height and no row header, so thousands of rows stay cheap.
    QHeaderView* rows = list_->verticalHeader();
    rows->hide();
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(list_->fontMetrics().height() + 4);
    list_->horizontalHeader()->setStretchLastSection(false);
    list_->horizontalHeader()->setHighlightSections(false);
}

void LogPage::AddLogEntry(const QString& text) {
    AddLogEntries({LogPageEntry{clock_->Now(), text, {}}});
}

void LogPage::AddLogEntries(const std::vector<LogPageEntry>& entries) {
    const int order = dateOrder_ ? dateOrder_() : -1;
    std::vector<LogListModel::Row> rows;
    rows.reserve(entries.size());
    for (const LogPageEntry& entry : entries) {
        rows.push_back({QString::fromStdString(FormatTimeStamp(order, true, entry.at)), entry.text,
                        entry.why});
    }
    model_->AddNewest(std::move(rows));
}

std::array<int, 2> LogPage::ColumnWidths() const {
    return {list_->columnWidth(LogListModel::kDateTimeColumn),
            list_->columnWidth(LogListModel::kNameColumn)};
}

void LogPage::SetColumnWidths(int first, int second) {
    list_->setColumnWidth(LogListModel::kDateTimeColumn,
                          first >= 1 ? first : DefaultDateTimeWidth());
    list_->setColumnWidth(LogListModel::kNameColumn, second >= 1 ? second : kDefaultNameWidth);
}

int LogPage::DefaultDateTimeWidth() const {
    return kDefaultDateTimeDigits * list_->fontMetrics().horizontalAdvance(QLatin1Char('0'));
}

}  // namespace hushwell
