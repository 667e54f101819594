#include <QCheckBox>
#include <QDoubleSpinBox>
#include <QImage>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>
#include <cmath>

#include "base/Clock.h"
#include "detection/ScoreBoard.h"
#include "ui/MeterDelegate.h"
#include "ui/TriggerEditor.h"
#include "ui/TriggerForm.h"
#include "ui/TriggerListModel.h"
#include "ui/TriggerMeter.h"
#include "wav/WaveFile.h"

namespace hushwell {

namespace {

constexpr int kDeadlineMs = 10000;
constexpr std::uint64_t kStartTick = 1000000;
const QColor kBelowColour(70, 130, 180);
const QColor kFiredColour(200, 40, 40);

Trigger Sound(const std::string& name) {
    Trigger trigger;
    trigger.SetActive(true);
    trigger.name = name;
    trigger.triggerKind = "sound";
    trigger.triggerFile = name + ".wav";
    return trigger;
}

// A sound of the given length at 48 kHz: its length gives min(0.98, 0.85 + 0.03 / seconds).
bool WriteSound(const QString& path, double seconds) {
    constexpr int kRate = 48000;
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * kRate), 1000);
    WaveData sound;
    sound.AssignPcm16(kRate, 1, static_cast<int>(samples.size()), samples);
    return WriteWaveFile(path.toStdString(), sound.SampleBytes(), sound.Format());
}

}  // namespace

class TriggerMeterTest : public QObject {
    Q_OBJECT
private:
    QVariant MeterData(TriggerEditor& editor, int position, int role) {
        TriggerListModel& model = editor.Model();
        return model.data(model.IndexOfPosition(position, TriggerListModel::kMeterColumn), role);
    }
    // The colour drawn a share of the way into a row's meter cell.
    QColor MeterColourAt(TriggerEditor& editor, int position, double share) {
        QTreeView& view = editor.List();
        const QRect cell = view.visualRect(
            editor.Model().IndexOfPosition(position, TriggerListModel::kMeterColumn));
        const QImage image = view.viewport()->grab().toImage();
        const qreal ratio = image.devicePixelRatio();
        const QPoint at(static_cast<int>((cell.left() + cell.width() * share) * ratio),
                        static_cast<int>(cell.center().y() * ratio));
        return image.pixelColor(at);
    }

private slots:
    // A scripted feed: the bars follow the scores the board holds, as text too, and go when
    // the two seconds pass; hidden, the page stops reading and the board is not watched.
    void theMeterFollowsTheScoresWhileShownAndCostsNothingHidden() {
        TriggerList list;
        list.Add(Sound("Ad jingle"));
        list.Add(Sound("Doorbell"));
        Trigger noon;
        noon.SetActive(true);
        noon.name = "Noon";
        noon.triggerKind = "time";
        list.Add(noon);
        ScoreBoard board(64);
        ManualClock clock(kStartTick, LocalTime{});
        TriggerEditor editor;
        editor.CopyList(list);
        editor.AttachMeter(board, clock);
        QVERIFY(!board.IsWatched());
        QVERIFY(!editor.Meter().IsRunning());
        editor.resize(900, 600);
        editor.show();
        QVERIFY(QTest::qWaitForWindowExposed(&editor));
        QVERIFY(board.IsWatched());
        QVERIFY(editor.Meter().IsRunning());

        const std::uint32_t jingle = editor.Model().RowAt(0).serialId;
        const std::uint32_t doorbell = editor.Model().RowAt(1).serialId;
        board.Record(jingle, clock.TickMs(), 0.8123f, 0.9f, ScoreBoard::Stage::Below);
        QTRY_VERIFY_WITH_TIMEOUT(
            std::abs(MeterData(editor, 0, TriggerListModel::kScoreRole).toDouble() - 0.8123) < 1e-4,
            kDeadlineMs);
        QCOMPARE(MeterData(editor, 0, Qt::ToolTipRole).toString(),
                 QStringLiteral("Score 0.8123, threshold 0.9000"));
        QCOMPARE(MeterData(editor, 0, Qt::AccessibleTextRole).toString(),
                 MeterData(editor, 0, Qt::ToolTipRole).toString());
        QCOMPARE(MeterData(editor, 1, Qt::ToolTipRole).toString(),
                 QStringLiteral("No score in the last two seconds"));
        QVERIFY(!MeterData(editor, 2, Qt::ToolTipRole).isValid());  // a time trigger: no meter
        // The bar reaches (0.8123 - 0.5) / 0.5 of the cell in the colour of "below".
        QTRY_COMPARE_WITH_TIMEOUT(MeterColourAt(editor, 0, 0.3), kBelowColour, kDeadlineMs);
        QVERIFY(MeterColourAt(editor, 0, 0.45) == kBelowColour);
        QVERIFY(MeterColourAt(editor, 0, 0.75) != kBelowColour);

        board.Record(doorbell, clock.TickMs(), 0.97f, 0.93f, ScoreBoard::Stage::Fired);
        QTRY_COMPARE_WITH_TIMEOUT(MeterData(editor, 1, TriggerListModel::kStageRole).toInt(),
                                  static_cast<int>(ScoreBoard::Stage::Fired), kDeadlineMs);
        QCOMPARE(MeterData(editor, 1, Qt::ToolTipRole).toString(),
                 QStringLiteral("Score 0.9700, threshold 0.9300: fired"));
        QTRY_COMPARE_WITH_TIMEOUT(MeterColourAt(editor, 1, 0.5), kFiredColour, kDeadlineMs);

        // Two seconds later both readings are gone.
        clock.AdvanceMs(2 * ScoreBoard::kBucketMs + 1);
        QTRY_COMPARE_WITH_TIMEOUT(MeterData(editor, 1, TriggerListModel::kStageRole).toInt(),
                                  static_cast<int>(ScoreBoard::Stage::None), kDeadlineMs);
        QCOMPARE(MeterData(editor, 0, Qt::ToolTipRole).toString(),
                 QStringLiteral("No score in the last two seconds"));

        editor.hide();
        QVERIFY(!board.IsWatched());
        QVERIFY(!editor.Meter().IsRunning());
        board.Record(jingle, clock.TickMs(), 0.99f, 0.9f, ScoreBoard::Stage::Fired);
        QCoreApplication::processEvents();
        QCOMPARE(MeterData(editor, 0, TriggerListModel::kStageRole).toInt(),
                 static_cast<int>(ScoreBoard::Stage::None));
        // Shown again, it reads at once.
        editor.show();
        QVERIFY(board.IsWatched());
        QCOMPARE(MeterData(editor, 0, TriggerListModel::kStageRole).toInt(),
                 static_cast<int>(ScoreBoard::Stage::Fired));
        QCOMPARE(MeterDelegate::Fill(0.4), 0.0);
        QCOMPARE(MeterDelegate::Fill(1.2), 1.0);
    }

    // The form shows the threshold the sound's length gives; only a changed value becomes the
    // trigger's own, and it comes back when the trigger is shown again.
    void theSensitivityStartsAtTheLengthsThresholdAndOnlyAChangeIsKept() {
        QTemporaryDir folder;
        QVERIFY(WriteSound(folder.filePath(QStringLiteral("chime.wav")), 0.5));
        ProgramPaths paths;
        paths.soundFolder = folder.path().toStdString();
        TriggerEditor editor;
        editor.SetPaths(paths);
        editor.SetWriter({[](const TriggerList&, const std::string&) { return 0; },
                          [](const TriggerList&, const std::string&) { return 0; }});
        TriggerForm& form = editor.Form();
        auto* own = form.findChild<QCheckBox*>(QStringLiteral("ownThreshold"));
        auto* value = form.findChild<QDoubleSpinBox*>(QStringLiteral("threshold"));
        QVERIFY(own != nullptr && value != nullptr);
        QCOMPARE(own->accessibleName(), QStringLiteral("Own threshold"));
        QVERIFY(!value->accessibleName().isEmpty() && !value->toolTip().isEmpty());

        form.SetSoundFile(QStringLiteral("chime.wav"), QStringLiteral("Chime"));
        QCOMPARE(form.LengthThreshold(), 0.91f);
        QCOMPARE(value->value(), 0.91);
        QVERIFY(!value->isEnabled());
        QVERIFY(!form.BuildRecord().HasOwnMatchThreshold());
        // Ticked but left at the starting point: nothing of its own.
        form.SetOwnThreshold(true, 0.91);
        QVERIFY(value->isEnabled());
        QVERIFY(!form.BuildRecord().HasOwnMatchThreshold());

        form.SetOwnThreshold(true, 0.87);
        editor.Add();
        QCOMPARE(editor.WorkingList().CountSound(), 1);
        QCOMPARE(editor.WorkingList().Get(TriggerKind::Sound, 0)->matchThreshold, 0.87f);
        editor.SelectRows({});
        form.ShowReset();
        QVERIFY(!own->isChecked());
        editor.SelectRows({0});
        QTRY_VERIFY(own->isChecked());
        QCOMPARE(value->value(), 0.87);
        // Another kind has no sensitivity.
        form.SetKind(TriggerKind::Time);
        QVERIFY(!own->isEnabled() && !value->isEnabled());
    }
};

}  // namespace hushwell

QTEST_MAIN(hushwell::TriggerMeterTest)
#include "TriggerMeterTest.moc"
