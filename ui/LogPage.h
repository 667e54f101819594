#pragma once

#include <QString>
#include <QWidget>
#include <array>
#include <functional>
#include <vector>

#include "base/Clock.h"

class QTableView;

namespace hushwell {

class LogListModel;

// One fired trigger on its way to the log page: when it fired, the trigger's name and why
// it fired (the row's tool tip; empty for entries without a score).
struct LogPageEntry {
    LocalTime at;
    QString text;
    QString why;
};

// The "Logs" page of the settings window: the triggers that fired during this run, newest
// first, in two columns, "date_time" and "control name"; at most 10000 rows, not saved. The
// date is written in the configured date order (the options page's file name format type),
// read at every addition; an unknown order leaves the date-time text empty. A row's tool tip
// says why the trigger fired (its score and threshold): a tool tip rather than a third
// column, so that the page keeps the two columns whose widths the configuration stores.
//
// User-interface thread only. Firings from the detection thread reach it through a
// LogPageFeed, which queues them and adds them here on this thread.
class LogPage : public QWidget {
    Q_OBJECT
public:
    // Column widths used when the configured width is below 1: 15 times the width of "0" in
    // the list's font for the date-time, and this for the name.
    static constexpr int kDefaultDateTimeDigits = 15;
    static constexpr int kDefaultNameWidth = 250;

    explicit LogPage(std::function<int()> dateOrder, QWidget* parent = nullptr);
    ~LogPage() override;

    // Adds one row at the top, stamped with the page's clock now.
    void AddLogEntry(const QString& text);
    // Adds rows stamped when they fired, oldest first.
    void AddLogEntries(const std::vector<LogPageEntry>& entries);

    std::array<int, 2> ColumnWidths() const;
    // A width below 1 gives that column its default width.
    void SetColumnWidths(int first, int second);

    // The clock AddLogEntry stamps rows with; the system clock unless a test sets another,
    // which must outlive the page.
    void SetClock(const Clock& clock) { clock_ = &clock; }

private:
    void BuildList();
    int DefaultDateTimeWidth() const;

    std::function<int()> dateOrder_;
    const Clock* clock_;
    LogListModel* model_;
    QTableView* list_;
};

}  // namespace hushwell
