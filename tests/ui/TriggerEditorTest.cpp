#include <sys/resource.h>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListView>
#include <QMimeData>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <QToolButton>
#include <QTreeView>
#include <QUrl>
#include <csignal>
#include <filesystem>
#include <vector>

#include "detection/DetectionEngine.h"
#include "persistence/ConfigFile.h"
#include "persistence/TriggerListFile.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "ui/EngineListHandOff.h"
#include "ui/ProgramFileFilter.h"
#include "ui/ReplaceOrMergeDialog.h"
#include "ui/SettingsWindow.h"
#include "ui/TriggerEditor.h"
#include "ui/TriggerForm.h"
#include "ui/TriggerListModel.h"
#include "wav/WaveFile.h"

namespace hushwell {

namespace {

Trigger Sound(const char* name, const char* file) {
    Trigger record;
    record.SetActive(true);
    record.name = name;
    record.triggerFile = file;
    return record;
}

Trigger Time(const char* name, int hour, int minute) {
    Trigger record;
    record.SetActive(true);
    record.name = name;
    record.triggerKind = "time";
    record.timeOfDay = TriggerTime(hour, minute, 0);
    return record;
}

Trigger Level(const char* name, int level) {
    Trigger record;
    record.SetActive(true);
    record.name = name;
    record.triggerKind = "level";
    record.level = level;
    return record;
}

// A page with two sound, two time and one level trigger, whose dialogs are answered by the
// test and whose engine hand-offs are counted.
struct Page {
    QTemporaryDir folder;
    TriggerEditor page;
    QStringList errors;
    QString chosenFile;
    int answer = ReplaceOrMergeDialog::kReplace;
    int handOvers = 0;
    std::vector<std::uint32_t> cancelled;

    Page() {
        page.SetPaths(ProgramPaths::ForDataFolder(folder.path().toStdString()));
        TriggerEditor::Dialogs dialogs;
        dialogs.error = [this](const QString& text) { errors.push_back(text); };
        dialogs.replaceOrMerge = [this] { return answer; };
        dialogs.openFile = [this](const QString&, const QString&, const QString&) {
            return chosenFile;
        };
        dialogs.saveFile = dialogs.openFile;
        dialogs.openProgram = [this](const QString&) { return chosenFile; };
        page.SetDialogs(std::move(dialogs));
        page.SetEngineLink({[this](const TriggerList&) { ++handOvers; },
                            [this](std::uint32_t serial) { cancelled.push_back(serial); }});
        TriggerList list;
        for (const Trigger& record :
             {Sound("bell", "bell.wav"), Sound("horn", "horn.wav"), Time("noon", 12, 0),
              Time("night", 22, 30), Level("loud", 80)}) {
            list.Add(record);
        }
        page.CopyList(list);
    }

    QString ListFile() const { return QString::fromStdString(page.ListPath()); }

    QStringList Names() {
        QStringList names;
        TriggerListModel& model = page.Model();
        for (int position = 0; position < model.PositionCount(); ++position) {
            names.push_back(model.RowAt(position).name);
        }
        return names;
    }

    template <typename T>
    T* Field(const char* name) {
        return page.Form().findChild<T*>(QString::fromLatin1(name));
    }
};

QByteArray ReadAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool WriteText(const QString& path, const QByteArray& text) {
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size();
}

}  // namespace

class TriggerEditorTest : public QObject {
    Q_OBJECT
private slots:
    void AddingTheSameTriggerTwiceLeavesOneRow() {
        Page p;
        p.page.Form().ShowRecord(Sound("door", "door.wav"));
        p.page.Add();
        p.page.Add();
        QCOMPARE(p.Names(), QStringList({"bell", "horn", "door", "noon", "night", "loud"}));
        QCOMPARE(p.page.SelectedRows(), std::vector<int>{2});
        QCOMPARE(p.handOvers, 1);
        // Added rows are saved at once; the unsaved flag is clear again.
        QVERIFY(ReadAll(p.ListFile()).contains("door.wav"));
        QVERIFY(!p.page.IsModified());
        QVERIFY(!p.page.AddButton().isEnabled());
        QVERIFY(p.page.DeleteButton().isEnabled());
        // The next save keeps the previous file as the first backup.
        p.page.Form().ShowRecord(Sound("gong", "gong.wav"));
        p.page.Add();
        const QByteArray backup =
            ReadAll(QString::fromStdString(TriggerListFile::BackupPath(p.page.ListPath(), 1)));
        QVERIFY(backup.contains("door.wav") && !backup.contains("gong.wav"));
    }

    void ATimeTriggerMadeALevelTriggerMovesToTheEndOfTheLevels() {
        Page p;
        const std::uint32_t oldSerial = p.page.WorkingList().Get(TriggerKind::Time, 0)->serialId;
        p.page.SelectRows({2});
        QCOMPARE(p.page.Form().Kind(), TriggerKind::Time);
        p.page.Form().SetKind(TriggerKind::Level);
        QVERIFY(p.page.ApplyButton().isEnabled());
        p.page.Apply();
        QCOMPARE(p.Names(), QStringList({"bell", "horn", "night", "loud", "noon"}));
        QCOMPARE(p.page.SelectedRows(), std::vector<int>{4});
        QCOMPARE(p.cancelled, std::vector<std::uint32_t>{oldSerial});
        const Trigger* moved = p.page.WorkingList().Get(TriggerKind::Level, 1);
        QVERIFY(moved->serialId != oldSerial);
        QCOMPARE(moved->level, 50);  // the level list starts at "0.50"
        QVERIFY(moved->timeOfDay.SameValue(TriggerTime()));
        QCOMPARE(p.handOvers, 1);
    }

    void ApplyKeepsASoundTriggersMonitoringTime() {
        Page p;
        p.page.SelectRows({0});
        p.Field<QTimeEdit>("startTime")->setTime(QTime(8, 0, 0));
        p.page.Apply();
        const Trigger* bell = p.page.WorkingList().Get(TriggerKind::Sound, 0);
        QVERIFY(bell->startTime.SameValue(TriggerTime(8, 0, 0)));
    }

    void ApplyIntoAFullKindLosesNothing() {
        Page p;
        TriggerList full;
        full.SetLimits(2000, 200, 1);
        full.Add(Time("noon", 12, 0));
        full.Add(Level("loud", 80));
        p.page.CopyList(full);
        // The copy keeps the page's limits (2000, 200, 50); fill the level kind to them.
        TriggerList levels;
        for (int i = 0; i < 60; ++i) {
            levels.Add(Level(QByteArray::number(i).constData(), 20 + i % 70));
        }
        levels.Add(Time("noon", 12, 0));
        p.page.CopyList(levels);
        QCOMPARE(p.page.WorkingList().CountLevel(), 50);
        p.page.SelectRows({0});
        QCOMPARE(p.page.Form().Kind(), TriggerKind::Time);
        p.page.Form().SetKind(TriggerKind::Level);
        p.page.Apply();
        QCOMPARE(p.page.WorkingList().CountTime(), 1);
        QCOMPARE(p.page.WorkingList().CountLevel(), 50);
        QCOMPARE(p.errors.size(), 1);
    }

    void RepeatIntervalExamples() {
        const std::vector<std::pair<QTime, QTime>> examples = {
            {QTime(0, 0), QTime(1, 0)},     {QTime(0, 14), QTime(0, 10)},
            {QTime(0, 11), QTime(0, 15)},   {QTime(0, 13), QTime(0, 15)},
            {QTime(2, 30), QTime(0, 30)},   {QTime(0, 58), QTime(1, 0)},
            {QTime(1, 58, 40), QTime(1, 0)}};
        Page p;
        p.page.Form().SetKind(TriggerKind::Time);
        auto* picker = p.Field<QTimeEdit>("triggerTime");
        auto* every = p.page.Form().findChild<QCheckBox*>();
        for (const auto& [typed, interval] : examples) {
            every->setChecked(false);
            picker->setTime(typed);
            every->setChecked(true);  // ticking normalises
            QCOMPARE(picker->time(), interval);
        }
        // Ticking "every" changes no button, even when it corrects the time.
        p.page.SelectRows({0});
        QVERIFY(!p.page.AddButton().isEnabled() && !p.page.ApplyButton().isEnabled());
        p.page.Form().SetKind(TriggerKind::Time);  // a kind change is an edit
        p.page.AddButton().setEnabled(false);
        p.page.ApplyButton().setEnabled(false);
        every->setChecked(false);
        picker->setTime(QTime(0, 0, 20));
        QVERIFY(p.page.AddButton().isEnabled());  // the user's own change of the time is one
        p.page.AddButton().setEnabled(false);
        p.page.ApplyButton().setEnabled(false);
        every->setChecked(true);
        QCOMPARE(picker->time(), QTime(1, 0));  // 00:00:20 corrected
        QVERIFY(!p.page.AddButton().isEnabled() && !p.page.ApplyButton().isEnabled());
        // While ticked, every change of the picker is normalised at once.
        picker->setTime(QTime(0, 22));
        QCOMPARE(picker->time(), QTime(0, 25));
        QVERIFY(p.page.Form().BuildRecord().every);
    }

    void DeletingThreeRows() {
        Page p;
        p.page.SelectRows({1, 2, 4});
        p.page.DeleteSelected();
        QCOMPARE(p.Names(), QStringList({"bell", "night"}));
        QCOMPARE(p.cancelled.size(), std::size_t{3});
        // The deletions took rows 1, 1 and 2: the row now at 2 does not exist, so the last.
        QCOMPARE(p.page.SelectedRows(), std::vector<int>{1});
        QVERIFY(!ReadAll(p.ListFile()).contains("horn"));

        Page q;
        q.page.SelectRows({0, 1, 2});
        q.page.DeleteSelected();
        QCOMPARE(q.Names(), QStringList({"night", "loud"}));
        QCOMPARE(q.page.SelectedRows(), std::vector<int>{0});
    }

    void DraggingWithinAKindOnly() {
        Page p;
        p.page.MoveRow(0, 2);  // a sound row onto a time row
        QCOMPARE(p.Names(), QStringList({"bell", "horn", "noon", "night", "loud"}));
        QVERIFY(!p.page.IsModified());
        p.page.MoveRow(3, 2);
        QCOMPARE(p.Names(), QStringList({"bell", "horn", "night", "noon", "loud"}));
        QCOMPARE(p.page.SelectedRows(), std::vector<int>{2});
        QVERIFY(p.page.IsModified());
        QCOMPARE(p.handOvers, 0);  // reordering is neither handed over nor saved
        QVERIFY(!QFile::exists(p.ListFile()));
        p.page.SaveIfModified();  // the settings window's close
        QVERIFY(ReadAll(p.ListFile()).indexOf("night") < ReadAll(p.ListFile()).indexOf("noon"));
    }

    // What the list view does on a drop: rows and files arrive through the model and are
    // carried out from the event loop, after the view has finished its drop.
    void DropsOnTheList() {
        Page p;
        TriggerListModel& model = p.page.Model();
        std::unique_ptr<QMimeData> row(model.mimeData({model.IndexOfPosition(4)}));
        model.dropMimeData(row.get(), Qt::MoveAction, -1, 0, model.IndexOfPosition(3));
        QCOMPARE(p.Names().size(), 5);
        QCoreApplication::processEvents();  // the queued move runs, and changes nothing
        QCOMPARE(p.Names(), QStringList({"bell", "horn", "noon", "night", "loud"}));  // level
        row.reset(model.mimeData({model.IndexOfPosition(1)}));
        model.dropMimeData(row.get(), Qt::MoveAction, -1, 0, model.IndexOfPosition(0));
        QTRY_COMPARE_WITH_TIMEOUT(p.Names()[0], QString("horn"), 30000);

        TriggerList other;
        other.Add(Level("quiet", 30));
        const QString file = p.folder.filePath("more.xml");
        QCOMPARE(TriggerListFile::Save(other, file.toStdString()), 0);
        p.answer = ReplaceOrMergeDialog::kMerge;
        QMimeData files;
        files.setUrls({QUrl::fromLocalFile(file)});
        model.dropMimeData(&files, Qt::CopyAction, -1, 0, QModelIndex());
        QTRY_COMPARE_WITH_TIMEOUT(p.Names().size(), 6, 30000);
        QCOMPARE(p.Names().back(), QString("quiet"));
    }

    void EnterMovesTheFocusOn() {
        Page p;
        p.page.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.page));
        auto* name = p.Field<QLineEdit>("name");
        name->setFocus();
        QTest::keyClick(name, Qt::Key_Return);
        QVERIFY(!name->hasFocus());
    }

    void TheHeadersThreeSortStates() {
        Page p;
        const QStringList original = p.Names();
        p.page.ClickHeader(TriggerListModel::kNameColumn);
        QCOMPARE(p.Names(), original);
        QCOMPARE(p.page.SortState(0), 1);
        p.page.ClickHeader(TriggerListModel::kNameColumn);
        QCOMPARE(p.Names(), QStringList({"horn", "bell", "noon", "night", "loud"}));
        p.page.ClickHeader(TriggerListModel::kNameColumn);
        QCOMPARE(p.Names(), QStringList({"bell", "horn", "night", "noon", "loud"}));
        p.page.ClickHeader(TriggerListModel::kNameColumn);
        QCOMPARE(p.Names(), QStringList({"bell", "horn", "night", "noon", "loud"}));
        QCOMPARE(p.page.SortState(0), 1);
        // "Tools & Settings" clears the unsaved flag without losing the sorted order.
        QVERIFY(p.page.IsModified());
        p.page.ClearUnsavedFlag();
        QVERIFY(!p.page.IsModified());
        QVERIFY(ReadAll(p.ListFile()).indexOf("night") < ReadAll(p.ListFile()).indexOf("noon"));
        // The trigger column sorts times by their value.
        p.page.ClickHeader(TriggerListModel::kTriggerColumn);
        p.page.ClickHeader(TriggerListModel::kTriggerColumn);
        QCOMPARE(p.Names().mid(2, 2), QStringList({"night", "noon"}));
        QCOMPARE(p.handOvers, 0);
    }

    void GroupViewOnAndOff() {
        Page p;
        TriggerListModel& model = p.page.Model();
        p.page.SetGroupView(true);
        QCOMPARE(model.rowCount(), 3);
        QCOMPARE(model.index(1, 0).data().toString(), QString("Time triggers"));
        QCOMPARE(model.rowCount(model.index(0, 0)), 2);
        QVERIFY(p.page.GroupViewAction().isChecked());
        p.page.SetGroupView(false);
        QCOMPARE(model.rowCount(), 5);
        QStringList shown;
        for (int row = 0; row < model.rowCount(); ++row) {
            shown.push_back(model.index(row, 0).data().toString());
        }
        QCOMPARE(shown, QStringList({"bell", "horn", "noon", "night", "loud"}));
        QCOMPARE(model.index(2, 1).data().toString(), QString("12:00:00"));
        QCOMPARE(model.index(4, 1).data().toString(), QString("level > 0.80"));
    }

    void AFailedSaveKeepsEverything() {
        Page p;
        p.page.Form().ShowRecord(Sound("door", "door.wav"));
        p.page.Add();
        const QByteArray saved = ReadAll(p.ListFile());
        p.page.SetWriter({[](const TriggerList&, const std::string&) { return 11; },
                          [](const TriggerList&, const std::string&) { return 11; }});
        p.page.SelectRows({0});
        p.page.DeleteSelected();
        QCOMPARE(p.errors, QStringList({"Failed to save the control list"}));
        QCOMPARE(p.Names().size(), 5);  // the deletion itself stands in the working list
        QVERIFY(p.page.IsModified());   // and closing the window will try again
        QCOMPARE(ReadAll(p.ListFile()), saved);

        // A real failure: the file size limit stops the save-as half-way.
        const QString target = p.folder.filePath("copy.xml");
        QVERIFY(WriteText(target, "old"));
        p.page.SetWriter({&TriggerListFile::Save, &TriggerListFile::SaveWithBackups});
        p.chosenFile = target;
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
        rlimit tiny = old;
        tiny.rlim_cur = 64;
        setrlimit(RLIMIT_FSIZE, &tiny);
        p.page.SaveAs();
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previousHandler);
        QCOMPARE(p.errors.size(), 2);
        QCOMPARE(ReadAll(target), QByteArray("old"));
        QCOMPARE(p.Names().size(), 5);
    }

    void OpeningAndDroppingBadFiles() {
        Page p;
        const QString bad = p.folder.filePath("bad.xml");
        QVERIFY(WriteText(bad, "<root><TriggerList><Sound><baseDir>x</baseDir>"));
        p.chosenFile = bad;
        p.page.Open();
        QCOMPARE(p.errors, QStringList({"Failed to open the control list."}));
        QCOMPARE(p.Names().size(), 5);
        // A drop skips what is not a list and merges what is.
        TriggerList other;
        other.Add(Sound("whistle", "whistle.wav"));
        other.Add(Sound("bell", "bell.wav"));
        const QString good = p.folder.filePath("good.xml");
        QCOMPARE(TriggerListFile::Save(other, good.toStdString()), 0);
        p.answer = ReplaceOrMergeDialog::kMerge;
        p.page.DropFiles({bad, p.folder.filePath("missing.xml"), good});
        QCOMPARE(p.errors.size(), 1);
        QCOMPARE(p.Names(), QStringList({"bell", "horn", "whistle", "noon", "night", "loud"}));
        p.answer = ReplaceOrMergeDialog::kReplace;
        p.page.DropFiles({good});
        QCOMPARE(p.Names(), QStringList({"whistle", "bell"}));
        QCOMPARE(p.handOvers, 2);
    }

    void ChoosingASoundFile() {
        Page p;
        const QString sounds = QString::fromStdString(p.page.SoundFolder().toStdString());
        QVERIFY(QDir().mkpath(sounds));
        const QString broken = sounds + "/broken.wav";
        QVERIFY(WriteText(broken, "RIFF0000WAVEnothing"));
        p.page.Form().SetSoundFile("keep.wav", "keep");
        p.chosenFile = broken;
        p.page.ChooseSoundFile();
        QCOMPARE(p.errors, QStringList({"audio format not acceptable"}));
        QCOMPARE(p.Field<QLineEdit>("soundFile")->text(), QString("keep.wav"));
        QCOMPARE(p.Field<QLineEdit>("name")->text(), QString("keep"));

        WaveFormat format;
        format.formatTag = kWaveTagPcm;
        format.channels = 1;
        format.sampleRate = 16000;
        format.bitsPerSample = 16;
        format.blockAlign = 2;
        format.byteRate = 32000;
        const std::vector<std::byte> samples(3200);
        QVERIFY(WriteWaveFile((sounds + "/chime.WAV").toStdString(), samples, format));
        p.chosenFile = sounds + "/chime.WAV";
        p.page.ChooseSoundFile();
        QCOMPARE(p.Field<QLineEdit>("soundFile")->text(), QString("chime.WAV"));
        QCOMPARE(p.Field<QLineEdit>("name")->text(), QString("chime"));
        QVERIFY(p.page.AddButton().isEnabled());
    }

    void FormEnablingByKindAndAction() {
        Page p;
        auto* target = p.Field<QComboBox>("target");
        auto* command = p.Field<QLineEdit>("command");
        auto* duration = p.Field<QTimeEdit>("duration");
        target->setCurrentIndex(1);
        p.page.Form().SetKind(TriggerKind::Level);
        QCOMPARE(target->currentIndex(), 0);
        QVERIFY(!target->isEnabled());
        QVERIFY(p.Field<QComboBox>("level")->isEnabled());
        QVERIFY(!p.Field<QLineEdit>("soundFile")->isEnabled());
        p.page.Form().SetKind(TriggerKind::Sound);
        QVERIFY(target->isEnabled() && duration->isEnabled() && !command->isEnabled());
        p.page.Form().SelectAction(0);  // "exec"
        QVERIFY(!target->isEnabled() && !duration->isEnabled() && command->isEnabled());
        command->setText("/usr/bin/notify");
        p.page.Add();
        QCOMPARE(p.page.Model().RowAt(2).action, QString("notify"));
        QCOMPARE(TriggerForm::ActionTexts().size(), 32);
        QCOMPARE(TriggerForm::ActionTexts()[12], QString("down 9"));
        QCOMPARE(TriggerForm::LevelEntryFor(100), 0);
        QCOMPARE(TriggerForm::LevelEntryFor(52), 9);
    }

    // The user picks "program" from the target list with the keyboard; the saved trigger
    // carries it, and a time trigger can neither keep nor choose it.
    void TheProgramTargetIsOfferedForSoundsOnly() {
        Page p;
        auto* target = p.Field<QComboBox>("target");
        p.page.Form().ShowRecord(Sound("ad", "ad.wav"));
        target->setFocus();
        QTest::keyClick(target, Qt::Key_End);
        QCOMPARE(target->currentText(), QString("program"));
        p.page.Add();
        const Trigger* added = p.page.WorkingList().Get(TriggerKind::Sound, 2);
        QCOMPARE(added->target, std::string("program"));
        QVERIFY(ReadAll(p.ListFile()).contains("target=\"program\""));
        p.page.Form().ShowRecord(*added);
        QCOMPARE(target->currentText(), QString("program"));

        p.page.Form().SetKind(TriggerKind::Time);
        QCOMPARE(target->currentText(), QString("whole"));
        QTest::keyClick(target, Qt::Key_End);
        QCOMPARE(target->currentText(), QString("telephone"));  // the disabled entry is skipped
        p.page.Form().SetKind(TriggerKind::Sound);
        QTest::keyClick(target, Qt::Key_End);
        QCOMPARE(target->currentText(), QString("program"));
    }

    void TheCapturePageRegistersASound() {
        Page p;
        const QString file = p.page.SoundFolder() + "/20240305_140709.wav";
        const TriggerTime duration(0, 0, 30);
        QVERIFY(p.page.AddSoundTrigger(file, 1, &duration));
        const Trigger* added = p.page.WorkingList().Get(TriggerKind::Sound, 2);
        QCOMPARE(added->triggerFile, std::string("20240305_140709.wav"));
        QCOMPARE(added->name, std::string("20240305_140709"));
        QCOMPARE(added->control, std::string("mute"));
        QVERIFY(added->duration.SameValue(duration));
        QVERIFY(!p.page.AddSoundTrigger(file, 1, &duration));  // the same again
    }

    // The page in a tab of the settings window at its default size, 480 x 465 (run at 100 %
    // and 200 %): nothing is squeezed below its minimum.
    void FitsTheDefaultWindow() {
        QWidget window;
        window.resize(480, 465);
        auto* tabs = new QTabWidget(&window);
        auto* page = new TriggerEditor;
        tabs->addTab(page, "Controls");
        tabs->setGeometry(window.contentsRect().marginsRemoved(QMargins(9, 9, 9, 9)));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        qInfo() << "page" << page->size() << "needs" << page->minimumSizeHint();
        QVERIFY(page->width() >= page->minimumSizeHint().width());
        QVERIFY(page->height() >= page->minimumSizeHint().height());
    }

    // The settings window keeps the column widths and the group view in the configuration,
    // and its close saves what sorting left unsaved.
    void TheSettingsWindowKeepsTheViewAndSavesOnClose() {
        QTemporaryDir folder;
        FakeHotkeyGrabber grabber;
        const std::string configPath = ConfigFile::PathIn(folder.path().toStdString());
        std::unique_ptr<ConfigurationOwner> configuration;
        auto makeWindow = [&] {
            configuration.reset();  // its destructor releases its ids: before the new one
            configuration = std::make_unique<ConfigurationOwner>(
                ConfigurationOwner::Setup{&grabber, nullptr, configPath, {}});
            SettingsWindow::Setup setup;
            setup.paths = ProgramPaths::ForDataFolder(folder.path().toStdString());
            return std::make_unique<SettingsWindow>(*configuration, std::move(setup));
        };
        auto window = makeWindow();
        TriggerEditor& page = window->ControlsPage();
        QVERIFY(!page.GroupView());
        page.SetColumnWidths({100, 90, 80});
        page.GroupViewAction().trigger();
        page.Form().ShowRecord(Sound("door", "door.wav"));
        page.Add();
        page.Form().ShowRecord(Sound("bell", "bell.wav"));
        page.Add();
        page.ClickHeader(0);
        page.ClickHeader(0);
        QVERIFY(page.IsModified());
        window->close();
        QVERIFY(!page.IsModified());
        const QByteArray saved =
            ReadAll(QString::fromStdString(TriggerListFile::PathIn(folder.path().toStdString())));
        QVERIFY(saved.indexOf("door") < saved.indexOf("bell"));  // descending
        window.reset();
        window = makeWindow();
        QVERIFY(window->ControlsPage().GroupView());
        QCOMPARE(window->ControlsPage().ColumnWidths(), (std::array<int, 3>{100, 90, 80}));
    }

    // OPEN: Replace takes the file's kinds and base folder; Merge keeps the page's base folder
    // and adds what is new.
    void OpenReplacesOrMerges() {
        Page p;
        TriggerList other;
        other.SetBaseDir("/srv/sounds");
        other.Add(Sound("whistle", "whistle.wav"));
        other.Add(Time("dawn", 6, 0));
        const QString file = p.folder.filePath("other.xml");
        QCOMPARE(TriggerListFile::Save(other, file.toStdString()), 0);
        p.chosenFile = file;

        p.answer = ReplaceOrMergeDialog::kMerge;
        p.page.Open();
        QCOMPARE(p.Names(),
                 QStringList({"bell", "horn", "whistle", "noon", "night", "dawn", "loud"}));
        QCOMPARE(p.page.WorkingList().BaseDir(), std::string(TriggerList::kDefaultBaseDir));

        p.answer = ReplaceOrMergeDialog::kReplace;
        p.page.Open();
        QCOMPARE(p.Names(), QStringList({"whistle", "dawn"}));
        QCOMPARE(p.page.WorkingList().BaseDir(), std::string("/srv/sounds"));
        QVERIFY(ReadAll(p.ListFile()).contains("<baseDir>/srv/sounds</baseDir>"));
        QCOMPARE(p.handOvers, 2);
        QVERIFY(p.errors.isEmpty());
    }

    // The replace-or-merge question closed with Escape merges.
    void EscapeInTheReplaceQuestionMerges() {
        ReplaceOrMergeDialog dialog;
        QTimer::singleShot(0, &dialog, [&dialog] { QTest::keyClick(&dialog, Qt::Key_Escape); });
        QCOMPARE(dialog.Ask(), int{ReplaceOrMergeDialog::kMerge});
    }

    // The live list's base folder survives the editor: an Apply saves it and hands it back,
    // and a list opened with Replace brings its own to detection.
    void TheBaseFolderGoesBothWays() {
        QTemporaryDir data;
        DetectionEngine engine;
        engine.Triggers().SetBaseDir("/home/someone/Sounds");
        engine.Triggers().Add(Sound("bell", "bell.wav"));
        TriggerEditor page;
        page.SetPaths(ProgramPaths::ForDataFolder(data.path().toStdString()));
        page.AttachEngine(engine);
        QCOMPARE(page.SoundFolder(), QString("/home/someone/Sounds"));

        page.SelectRows({0});
        page.Form().ShowRecord(Sound("door bell", "bell.wav"));
        page.Apply();
        QVERIFY(ReadAll(QString::fromStdString(page.ListPath()))
                    .contains("<baseDir>/home/someone/Sounds</baseDir>"));
        QTRY_COMPARE_WITH_TIMEOUT(engine.Triggers().Get(TriggerKind::Sound, 0)->name,
                                  std::string("door bell"), 30000);
        QCOMPARE(engine.Triggers().BaseDir(), std::string("/home/someone/Sounds"));

        TriggerList other;
        other.SetBaseDir("/srv/sounds");
        other.Add(Sound("whistle", "whistle.wav"));
        const QString file = data.filePath("other.xml");
        QCOMPARE(TriggerListFile::Save(other, file.toStdString()), 0);
        TriggerEditor::Dialogs dialogs;
        dialogs.error = [](const QString& text) { QFAIL(qPrintable(text)); };
        dialogs.replaceOrMerge = [] { return int{ReplaceOrMergeDialog::kReplace}; };
        dialogs.openFile = [&file](const QString&, const QString&, const QString&) { return file; };
        page.SetDialogs(std::move(dialogs));
        page.Open();
        QTRY_COMPARE_WITH_TIMEOUT(engine.Triggers().BaseDir(), std::string("/srv/sounds"), 30000);
        QCOMPARE(engine.Triggers().Get(TriggerKind::Sound, 0)->name, std::string("whistle"));
    }

    // The program chooser shows the programs first; a file that cannot run is refused.
    void ChoosingAProgram() {
        Page p;
        p.page.Form().SelectAction(0);  // "exec"
        const QString notes = p.folder.filePath("notes.txt");
        QVERIFY(WriteText(notes, "text"));
        p.chosenFile = notes;
        p.page.ChooseCommand();
        QCOMPARE(p.errors.size(), 1);
        QVERIFY(p.errors.front().contains("not executable"));
        QVERIFY(p.Field<QLineEdit>("command")->text().isEmpty());

        const QString tool = p.folder.filePath("tool");
        QVERIFY(WriteText(tool, "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(tool, QFile::permissions(tool) | QFile::ExeOwner));
        p.chosenFile = tool;
        p.page.ChooseCommand();
        QCOMPARE(p.errors.size(), 1);
        QCOMPARE(p.Field<QLineEdit>("command")->text(), tool);
    }

    void TheProgramChoosersList() {
        QTemporaryDir folder;
        const QString tool = folder.filePath("tool");
        QVERIFY(WriteText(tool, "#!/bin/sh\n"));
        QVERIFY(QFile::setPermissions(tool, QFile::permissions(tool) | QFile::ExeOwner));
        QVERIFY(WriteText(folder.filePath("notes.txt"), "text"));
        QVERIFY(QDir(folder.path()).mkdir("bin"));

        QFileDialog dialog;
        ProgramFileFilter::Install(dialog);
        dialog.setDirectory(folder.path());
        QCOMPARE(dialog.nameFilters(), QStringList({"Programs (*)", "All Files (*)"}));
        QCOMPARE(dialog.selectedNameFilter(), QString("Programs (*)"));
        auto* list = dialog.findChild<QListView*>("listView");
        QVERIFY(list != nullptr);
        const auto shown = [list] {
            QStringList names;
            const QModelIndex root = list->rootIndex();
            for (int row = 0; row < list->model()->rowCount(root); ++row) {
                names << list->model()->index(row, 0, root).data().toString();
            }
            names.sort();
            return names;
        };
        QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringList({"bin", "tool"}), 30000);
        dialog.selectNameFilter("All Files (*)");
        emit dialog.filterSelected("All Files (*)");
        QTRY_COMPARE_WITH_TIMEOUT(shown(), QStringList({"bin", "notes.txt", "tool"}), 30000);
    }

    void TheEngineTakesOverTheLatestList() {
        DetectionEngine engine;
        TriggerEditor page;
        page.AttachEngine(engine);
        page.Form().ShowRecord(Time("a", 1, 0));
        page.Add();
        page.Form().ShowRecord(Time("b", 2, 0));
        page.Add();
        QCOMPARE(engine.Triggers().CountTime(), 0);  // queued, not done inside the edit
        QTRY_COMPARE_WITH_TIMEOUT(engine.Triggers().CountTime(), 2, 30000);
    }
};

}  // namespace hushwell

QTEST_MAIN(hushwell::TriggerEditorTest)
#include "TriggerEditorTest.moc"
