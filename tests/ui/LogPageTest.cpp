#include <QAbstractItemModel>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <chrono>
#include <future>
#include <thread>

#include "base/FormatTimeStamp.h"
#include "ui/LogPage.h"
#include "ui/LogPageFeed.h"

namespace hushwell {

namespace {

constexpr int kMaxRows = 10000;
constexpr std::chrono::seconds kDeadline{30};
const LocalTime kFifthOfMarch{2024, 3, 5, 14, 7, 9, 2};

QAbstractItemModel& Rows(LogPage& page) {
    return *page.findChild<QTableView*>()->model();
}

QString Cell(LogPage& page, int row, int column) {
    QAbstractItemModel& rows = Rows(page);
    return rows.data(rows.index(row, column)).toString();
}

Firing FiringOf(const QString& name) {
    Firing firing;
    firing.triggerName = name.toStdString();
    return firing;
}

}  // namespace

class LogPageTest : public QObject {
    Q_OBJECT
private slots:
    void theNewestTenThousandRowsStayNewestFirst() {
        LogPage page([] { return kTimeStampYearMonthDay; });
        for (int i = 0; i <= kMaxRows; ++i) {
            page.AddLogEntry(QString::number(i));
        }
        QCOMPARE(Rows(page).rowCount(), kMaxRows);
        QCOMPARE(Cell(page, 0, 1), QStringLiteral("10000"));
        QCOMPARE(Cell(page, kMaxRows - 1, 1), QStringLiteral("1"));

        // A batch larger than the list keeps its own newest rows only.
        std::vector<LogPageEntry> batch;
        for (int i = 0; i <= kMaxRows; ++i) {
            batch.push_back({kFifthOfMarch, QStringLiteral("b%1").arg(i), {}});
        }
        page.AddLogEntries(batch);
        QCOMPARE(Rows(page).rowCount(), kMaxRows);
        QCOMPARE(Cell(page, 0, 1), QStringLiteral("b10000"));
        QCOMPARE(Cell(page, kMaxRows - 1, 1), QStringLiteral("b1"));
        QCOMPARE(Rows(page).headerData(0, Qt::Horizontal).toString(), QStringLiteral("date_time"));
        QCOMPARE(Rows(page).headerData(1, Qt::Horizontal).toString(),
                 QStringLiteral("control name"));
    }

    void theDateFollowsTheOrderConfiguredAtEachAddition() {
        ManualClock clock(1000, kFifthOfMarch);
        int order = kTimeStampYearMonthDay;
        LogPage page([&order] { return order; });
        page.SetClock(clock);
        page.AddLogEntry(QStringLiteral("Chime"));
        QCOMPARE(Cell(page, 0, 0), QStringLiteral("240305_14:07:09"));
        QCOMPARE(Cell(page, 0, 1), QStringLiteral("Chime"));
        order = kTimeStampMonthDayYear;
        page.AddLogEntry(QStringLiteral("Chime"));
        QCOMPARE(Cell(page, 0, 0), QStringLiteral("030524_14:07:09"));
        order = kTimeStampDayMonthYear;
        page.AddLogEntry(QStringLiteral("Chime"));
        QCOMPARE(Cell(page, 0, 0), QStringLiteral("050324_14:07:09"));
        order = 3;
        page.AddLogEntry(QStringLiteral("Chime"));
        QCOMPARE(Cell(page, 0, 0), QString());
        QCOMPARE(Cell(page, 0, 1), QStringLiteral("Chime"));
    }

    // A row's tool tip gives the score and the threshold; the columns stay two and the event
    // log's line is not touched (it is written by the detection step, not the page).
    void aRowsToolTipSaysWhyItFired() {
        LogPage page([] { return kTimeStampYearMonthDay; });
        LogPageFeed feed;
        feed.SetPage(&page);
        Firing sound = FiringOf(QStringLiteral("Ad jingle"));
        sound.score = 0.93126f;
        sound.threshold = 0.9f;
        sound.verified = true;
        sound.agreement = 0.75f;
        Firing unverified = sound;
        unverified.verified = false;
        Firing level = FiringOf(QStringLiteral("Loud"));
        level.kind = TriggerKind::Level;
        level.score = 16384.0f;
        level.threshold = 13107.2f;
        Firing time = FiringOf(QStringLiteral("Noon"));
        time.kind = TriggerKind::Time;
        for (const Firing& firing : {sound, unverified, level, time}) {
            feed.OnFiring(firing);
        }
        QTRY_COMPARE(Rows(page).rowCount(), 4);
        QAbstractItemModel& rows = Rows(page);
        const auto tip = [&rows](int row, int column) {
            return rows.data(rows.index(row, column), Qt::ToolTipRole).toString();
        };
        QCOMPARE(tip(3, 1), QStringLiteral("Ad jingle\nscore 0.9313 over threshold 0.9000, "
                                           "75 % of its tonal peaks found"));
        QVERIFY(
            tip(3, 0).endsWith(QStringLiteral("\nscore 0.9313 over threshold 0.9000, "
                                              "75 % of its tonal peaks found")));
        QCOMPARE(tip(2, 1), QStringLiteral("Ad jingle\nscore 0.9313 over threshold 0.9000"));
        QCOMPARE(tip(1, 1), QStringLiteral("Loud\nlevel 50.0 % over 40.0 %"));
        QCOMPARE(tip(0, 1), QStringLiteral("Noon"));
        QCOMPARE(Cell(page, 3, 1), QStringLiteral("Ad jingle"));
        QCOMPARE(rows.columnCount(), 2);
    }

    void aWidthBelowOneFallsBackToTheDefault() {
        LogPage page([] { return kTimeStampYearMonthDay; });
        const QTableView& list = *page.findChild<QTableView*>();
        const int dateDefault = LogPage::kDefaultDateTimeDigits *
                                list.fontMetrics().horizontalAdvance(QLatin1Char('0'));
        QVERIFY(!list.accessibleName().isEmpty());
        QCOMPARE(page.ColumnWidths(),
                 (std::array<int, 2>{dateDefault, LogPage::kDefaultNameWidth}));
        page.SetColumnWidths(120, 300);
        QCOMPARE(page.ColumnWidths(), (std::array<int, 2>{120, 300}));
        page.SetColumnWidths(0, -4);
        QCOMPARE(page.ColumnWidths(),
                 (std::array<int, 2>{dateDefault, LogPage::kDefaultNameWidth}));
    }

    // The user-interface thread is held up (it waits for the producer without running its
    // event loop) while another thread fires 10000 times: the producer finishes all the same,
    // and the page then takes the whole burst in one insertion.
    void aBurstOfFiringsNeverWaitsForThePage() {
        LogPage page([] { return kTimeStampYearMonthDay; });
        LogPageFeed feed;
        feed.SetPage(&page);
        QSignalSpy insertions(&Rows(page), &QAbstractItemModel::rowsInserted);

        auto producer = std::async(std::launch::async, [&feed] {
            for (int i = 0; i < kMaxRows; ++i) {
                feed.OnFiring(FiringOf(QString::number(i)));
            }
        });
        QCOMPARE(producer.wait_for(kDeadline), std::future_status::ready);
        QCOMPARE(Rows(page).rowCount(), 0);
        QCOMPARE(feed.PendingCount(), static_cast<std::size_t>(kMaxRows));

        QTRY_COMPARE_WITH_TIMEOUT(Rows(page).rowCount(), kMaxRows, 30000);
        QCOMPARE(insertions.count(), 1);
        QCOMPARE(Cell(page, 0, 1), QStringLiteral("9999"));
        QCOMPARE(Cell(page, kMaxRows - 1, 1), QStringLiteral("0"));
        QCOMPARE(feed.PendingCount(), std::size_t{0});
    }

    // Firings before the page exists wait for it, stamped with the time they fired.
    void firingsWaitForThePageWithTheirOwnTime() {
        ManualClock clock(1000, kFifthOfMarch);
        LogPageFeed feed(clock);
        feed.OnFiring(FiringOf(QStringLiteral("Early")));
        feed.OnFiring(FiringOf(QStringLiteral("Later")));
        QCoreApplication::processEvents();
        QCOMPARE(feed.PendingCount(), std::size_t{2});

        clock.AdvanceMs(3'600'000);
        {
            LogPage page([] { return kTimeStampYearMonthDay; });
            feed.SetPage(&page);
            QCOMPARE(Rows(page).rowCount(), 2);
            QCOMPARE(Cell(page, 0, 1), QStringLiteral("Later"));
            QCOMPARE(Cell(page, 0, 0), QStringLiteral("240305_14:07:09"));
        }
        // The page is gone: firings wait again, the newest 10000 of them.
        for (int i = 0; i <= kMaxRows; ++i) {
            feed.OnFiring(FiringOf(QString::number(i)));
        }
        QCoreApplication::processEvents();
        QCOMPARE(feed.PendingCount(), static_cast<std::size_t>(kMaxRows));
        LogPage next([] { return kTimeStampYearMonthDay; });
        feed.SetPage(&next);
        QCOMPARE(Cell(next, kMaxRows - 1, 1), QStringLiteral("1"));
        QCOMPARE(Cell(next, 0, 0), QStringLiteral("240305_15:07:09"));
    }
};

}  // namespace hushwell

QTEST_MAIN(hushwell::LogPageTest)
#include "LogPageTest.moc"
