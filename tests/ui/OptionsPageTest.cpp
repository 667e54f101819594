#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>
#include <vector>

#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "persistence/ConfigFile.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "triggers/VolumeManager.h"
#include "ui/ConfigurationOwner.h"
#include "ui/LogonShortcut.h"
#include "ui/OptionsPage.h"

namespace hushwell {

namespace {

using Combination = std::pair<int, int>;

template <typename T>
T& Control(QWidget& page, const char* name) {
    T* control = page.findChild<T*>(QString::fromLatin1(name));
    if (control == nullptr) {
        qFatal("no control %s", name);
    }
    return *control;
}

QStringList Items(QComboBox& list) {
    QStringList items;
    for (int i = 0; i < list.count(); ++i) {
        items << list.itemText(i);
    }
    return items;
}

// What a user's choice in a drop-down list does.
void Choose(QComboBox& list, const QString& text) {
    const int index = list.findText(text);
    QVERIFY2(index >= 0, qPrintable(text));
    list.setCurrentIndex(index);
    emit list.activated(index);
}

void TypeInto(QLineEdit& box, const QString& text) {
    box.clear();
    QTest::keyClicks(&box, text);
}

}  // namespace

class OptionsPageTest : public QObject {
    Q_OBJECT
private slots:
    void init() {
        folder_ = std::make_unique<QTemporaryDir>();
        grabber_ = FakeHotkeyGrabber{};
        verifications_.clear();
        MakePage();
    }

    void cleanup() { page_.reset(); }

    void startRegistersTheFourHotkeysAndShowsNothingChanged() {
        QCOMPARE(grabber_.registered.size(), std::size_t{4});
        QCOMPARE(grabber_.registered[HotkeyList::kRecordSoundId], Combination(7, 123));
        QCOMPARE(grabber_.registered[HotkeyList::kRegisterId], Combination(3, 40));
        QVERIFY(!Control<QToolButton>(*page_, "apply").isEnabled());
        QVERIFY(!Control<QToolButton>(*page_, "cancel").isEnabled());
        QCOMPARE(volume_.UpIntervalMs(), 200);  // no rates in the (missing) file
    }

    void modifierChangeEnablesApplyAndCancelAndCancelRestoresEveryHotkey() {
        Select(OptionsPage::kRecordItem);
        QVERIFY(Control<QCheckBox>(*page_, "shift").isChecked());
        Control<QCheckBox>(*page_, "shift").click();
        QVERIFY(Control<QToolButton>(*page_, "apply").isEnabled());
        QVERIFY(Control<QToolButton>(*page_, "cancel").isEnabled());
        QCOMPARE(grabber_.registered[HotkeyList::kRecordSoundId],
                 Combination(3, 123));  // registered at once

        Control<QToolButton>(*page_, "cancel").click();
        QVERIFY(!Control<QToolButton>(*page_, "apply").isEnabled());
        QVERIFY(!Control<QToolButton>(*page_, "cancel").isEnabled());
        QVERIFY(Control<QCheckBox>(*page_, "shift").isChecked());
        QCOMPARE(page_->Edited().hotkeys.Records()[Settings::kRecordSound].modifiers, 7);
        // All four hold their applied combinations again, not only the selected one.
        const std::map<int, Combination> applied = {{HotkeyList::kRecordSoundId, {7, 123}},
                                                    {HotkeyList::kStopStartThisId, {7, 122}},
                                                    {HotkeyList::kRecordSaveId, {3, 38}},
                                                    {HotkeyList::kRegisterId, {3, 40}}};
        QCOMPARE(grabber_.registered, applied);
    }

    void keyListOffersTheCurrentKeyThenOffThenEveryFreeKey() {
        grabber_.taken.insert({7, 112});  // Alt+Ctrl+Shift+F1 belongs to someone else
        Select(OptionsPage::kStopStartItem);
        const QStringList keys = Items(Control<QComboBox>(*page_, "keyList"));
        QCOMPARE(keys.mid(0, 2), QStringList({"F11", "---"}));
        // With Shift: no digits, letters or numeric-pad digits; F11 and F12 are our own
        // hotkeys' with these modifiers, F1 is taken.
        QCOMPARE(keys.size(), 2 + 69 - 46 - 3);
        QVERIFY(!keys.mid(2).contains("F11") && !keys.contains("F12"));
        QVERIFY(!keys.contains("F1") && !keys.contains("A") && keys.contains("F2"));

        Control<QCheckBox>(*page_, "shift").click();
        QVERIFY(Items(Control<QComboBox>(*page_, "keyList")).contains("A"));
    }

    void choosingNoKeyDisablesAHotkeyAcrossARestart() {
        Select(OptionsPage::kRegisterItem);
        Choose(Control<QComboBox>(*page_, "keyList"), "---");
        QCOMPARE(grabber_.registered.count(HotkeyList::kRegisterId), std::size_t{0});
        QCOMPARE(Control<QComboBox>(*page_, "keyList").itemText(0), QStringLiteral("---"));
        Control<QToolButton>(*page_, "apply").click();
        QVERIFY(!Control<QToolButton>(*page_, "apply").isEnabled());

        page_.reset();
        grabber_ = FakeHotkeyGrabber{};
        MakePage();
        QCOMPARE(page_->Applied().hotkeys.Records()[Settings::kRegister].active, std::string("_"));
        QCOMPARE(grabber_.registered.count(HotkeyList::kRegisterId), std::size_t{0});
        Select(OptionsPage::kRegisterItem);
        QCOMPARE(Control<QComboBox>(*page_, "keyList").currentText(), QStringLiteral("---"));

        // Choosing a key switches it on again.
        Choose(Control<QComboBox>(*page_, "keyList"), "F5");
        QCOMPARE(grabber_.registered[HotkeyList::kRegisterId], Combination(3, 116));
        QCOMPARE(Control<QComboBox>(*page_, "keyList").itemText(0), QStringLiteral("F5"));
    }

    void applyTurnsARefusedHotkeyOffInEitherPair() {
        for (const auto item : {OptionsPage::kRecordSaveItem, OptionsPage::kStopStartItem}) {
            const Settings::HotkeyIndex index = OptionsPage::RecordOfItem(item);
            Select(item);
            Choose(Control<QComboBox>(*page_, "keyList"), "F9");
            const int id = page_->Edited().hotkeys.Records()[index].id;
            // Another program takes the combination before Apply.
            grabber_.taken.insert(grabber_.registered[id]);
            Control<QToolButton>(*page_, "apply").click();
            QCOMPARE(page_->Applied().hotkeys.Records()[index].active, std::string("_"));
            QCOMPARE(Control<QComboBox>(*page_, "keyList").itemText(0), QStringLiteral("---"));
            QCOMPARE(grabber_.registered.count(id), std::size_t{0});
        }
        Settings saved;
        QVERIFY(ConfigFile::Load(saved, ConfigPath()));
        QCOMPARE(saved.hotkeys[Settings::kRecordSave].active, std::string("_"));
        QCOMPARE(saved.hotkeys[Settings::kStopStartThis].active, std::string("_"));
        QCOMPARE(saved.hotkeys[Settings::kRecordSound].active, std::string("v"));
    }

    void rateBoxesAreCorrectedWhileTypingAndApplySetsTheRamp() {
        QLineEdit& up = Control<QLineEdit>(*page_, "upRate");
        QLineEdit& down = Control<QLineEdit>(*page_, "downRate");
        TypeInto(up, "0");
        QCOMPARE(up.text(), QStringLiteral("1"));
        TypeInto(up, "500");
        QCOMPARE(up.text(), QStringLiteral("300"));
        TypeInto(up, "x");
        QCOMPARE(up.text(), QString());

        TypeInto(up, "100");
        TypeInto(down, "25");
        Control<QToolButton>(*page_, "apply").click();
        QCOMPARE(volume_.UpIntervalMs(), 100);
        QCOMPARE(volume_.DownIntervalMs(), 400);
        TypeInto(up, "50");
        TypeInto(down, "50");
        Control<QToolButton>(*page_, "apply").click();
        QCOMPARE(volume_.UpIntervalMs(), 200);
        QCOMPARE(volume_.DownIntervalMs(), 200);
        QCOMPARE(page_->Applied().settings.volumeUpRate, std::string("50"));
    }

    // Cancel puts back every control the user changed, not only the hotkeys.
    void cancelRestoresTheListsTheRatesAndTheLogonBox() {
        Select(OptionsPage::kRecordSaveItem);
        QComboBox& pre = Control<QComboBox>(*page_, "preRecording");
        QComboBox& length = Control<QComboBox>(*page_, "triggerSoundLength");
        QComboBox& format = Control<QComboBox>(*page_, "filenameFormat");
        QLineEdit& up = Control<QLineEdit>(*page_, "upRate");
        QLineEdit& down = Control<QLineEdit>(*page_, "downRate");
        QCheckBox& logon = Control<QCheckBox>(*page_, "launchAtLogon");
        const QStringList before = {pre.currentText(), length.currentText(), format.currentText(),
                                    up.text(), down.text()};
        const bool logonBefore = logon.isChecked();
        Choose(pre, pre.currentText() == "1" ? "2" : "1");
        Choose(length, length.currentText() == "3" ? "4" : "3");
        Choose(format, format.currentText() == "mmddyy" ? "ddmmyy" : "mmddyy");
        TypeInto(up, "123");
        TypeInto(down, "7");
        logon.click();
        Select(OptionsPage::kRegisterItem);
        QComboBox& action = Control<QComboBox>(*page_, "action");
        const int actionBefore = action.currentIndex();
        action.setCurrentIndex(actionBefore == 21 ? 22 : 21);
        QVERIFY(page_->Edited().settings.preRecordingLengthInSec !=
                page_->Applied().settings.preRecordingLengthInSec);

        Control<QToolButton>(*page_, "cancel").click();
        QCOMPARE(QStringList({pre.currentText(), length.currentText(), format.currentText(),
                              up.text(), down.text()}),
                 before);
        QCOMPARE(logon.isChecked(), logonBefore);
        QCOMPARE(action.currentIndex(), actionBefore);
        const Settings& edited = page_->Edited().settings;
        const Settings& applied = page_->Applied().settings;
        QCOMPARE(edited.preRecordingLengthInSec, applied.preRecordingLengthInSec);
        QCOMPARE(edited.triggerSoundLengthInSec, applied.triggerSoundLengthInSec);
        QCOMPARE(edited.filenameFormatType, applied.filenameFormatType);
        QCOMPARE(edited.volumeUpRate, applied.volumeUpRate);
        QCOMPARE(edited.volumeDownRate, applied.volumeDownRate);
        QCOMPARE(edited.launchAtLogon, applied.launchAtLogon);
        QCOMPARE(edited.defaultAction, applied.defaultAction);
        QVERIFY(!Control<QToolButton>(*page_, "apply").isEnabled());
        QVERIFY(!QFile::exists(folder_->path() + QStringLiteral("/autostart/hushwell.desktop")));
        QCOMPARE(volume_.UpIntervalMs(), 200);
    }

    void launchAtLogonCreatesAndRemovesAValidAutostartEntry() {
        const QString entry = folder_->path() + QStringLiteral("/autostart/hushwell.desktop");
        QCheckBox& logon = Control<QCheckBox>(*page_, "launchAtLogon");
        logon.click();
        Control<QToolButton>(*page_, "apply").click();
        QVERIFY(QFile::exists(entry));
        QCOMPARE(page_->Applied().settings.launchAtLogon, std::string("v"));
        QFile file(entry);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("\nExec=\"/opt/Hush well/100%%/hushwell\"\n"));
        ValidateDesktopEntry(entry);

        logon.click();
        Control<QToolButton>(*page_, "apply").click();
        QVERIFY(!QFile::exists(entry));
        QCOMPARE(page_->Applied().settings.launchAtLogon, std::string());
    }

    void verifyMatchesIsOnByDefaultAndHandedOnWhenApplied() {
        // Handed on as applied at start, on when the file does not say.
        QCOMPARE(verifications_, std::vector<bool>{true});
        QCheckBox& verify = Control<QCheckBox>(*page_, "verifyMatches");
        QVERIFY(verify.isChecked());
        QCOMPARE(verify.accessibleName(), QStringLiteral("Verify matches"));
        QVERIFY(!verify.toolTip().isEmpty());

        verify.click();
        QVERIFY(Control<QToolButton>(*page_, "apply").isEnabled());
        QCOMPARE(verifications_.size(), std::size_t{1});  // nothing before Apply
        Control<QToolButton>(*page_, "apply").click();
        QCOMPARE(verifications_, (std::vector<bool>{true, false}));
        QVERIFY(!Control<QToolButton>(*page_, "apply").isEnabled());

        // Saved off, it starts off next time.
        verifications_.clear();
        page_.reset();
        MakePage();
        QCOMPARE(verifications_, std::vector<bool>{false});
        QVERIFY(!Control<QCheckBox>(*page_, "verifyMatches").isChecked());
    }

    void execArgumentsAreQuotedAndEscaped() {
        QCOMPARE(LogonShortcut::ExecArgument("/usr/bin/hushwell"),
                 std::string("/usr/bin/hushwell"));
        QCOMPARE(LogonShortcut::ExecArgument("/a b/$x\"`\\"),
                 std::string("\"/a b/\\$x\\\"\\`\\\\\""));
        // The Exec value escapes the backslashes once more.
        QVERIFY(LogonShortcut::EntryText("/a\\b").find("\nExec=\"/a\\\\\\\\b\"\n") !=
                std::string::npos);
        QVERIFY(!LogonShortcut("", "hushwell", "/x").Create());
    }

    void storedValuesShowAsFarAsTheListsReach() {
        Settings settings;
        settings.preRecordingLengthInSec = 15;
        settings.triggerSoundLengthInSec = 9;
        settings.filenameFormatType = 0;
        settings.defaultAction = 40;
        QVERIFY(ConfigFile::Save(settings, ConfigPath()));
        page_.reset();
        MakePage();
        QCOMPARE(Control<QComboBox>(*page_, "preRecording").currentText(), QStringLiteral("10"));
        QCOMPARE(Control<QComboBox>(*page_, "triggerSoundLength").currentText(),
                 QStringLiteral("7"));
        QCOMPARE(Control<QComboBox>(*page_, "filenameFormat").currentText(),
                 QStringLiteral("mmddyy"));
        QCOMPARE(Control<QComboBox>(*page_, "action").currentIndex(), -1);
        QCOMPARE(page_->DateOrder(), 0);

        Select(OptionsPage::kRegisterItem);  // enables the action list
        QVERIFY(Control<QComboBox>(*page_, "action").isEnabled());
        QVERIFY(!Control<QComboBox>(*page_, "preRecording").isEnabled());
        Control<QComboBox>(*page_, "action").setCurrentIndex(21);
        QCOMPARE(page_->Edited().settings.defaultAction, 21);
        QVERIFY(Control<QToolButton>(*page_, "apply").isEnabled());
    }

    void controlsCarryTheirTextsAndAccessibleNames() {
        QStringList labels;
        for (const QLabel* label : page_->findChildren<QLabel*>()) {
            labels << label->text();
        }
        for (const char* text :
             {"Pre-recording length (sec.):", "Trigger sound length (sec.):", "Filename format:",
              "_hhmmss.wav", "Action:", "Volume-up rate (ticks/sec.)x10 (1-300):",
              "Volume-down rate(ticks/sec.)x10(1-300):"}) {
            QVERIFY2(labels.contains(QString::fromLatin1(text)), text);
        }
        QCOMPARE(Control<QCheckBox>(*page_, "launchAtLogon").text(),
                 QStringLiteral(" Launch at logon."));
        QToolButton& apply = Control<QToolButton>(*page_, "apply");
        QToolButton& cancel = Control<QToolButton>(*page_, "cancel");
        QCOMPARE(apply.toolTip(), QStringLiteral("apply changes"));
        QCOMPARE(apply.accessibleName(), QStringLiteral("apply changes"));
        QCOMPARE(cancel.toolTip(), QStringLiteral("cancel changes"));
        QCOMPARE(cancel.accessibleName(), QStringLiteral("cancel changes"));

        QListWidget& hotkeys = Control<QListWidget>(*page_, "hotkeyList");
        QStringList rows;
        for (int i = 0; i < hotkeys.count(); ++i) {
            rows << hotkeys.item(i)->text();
            QVERIFY(!hotkeys.item(i)->icon().isNull());
        }
        QCOMPARE(rows, QStringList({"Capture/Rec. & Save", "Capture/Register", "Capture/Record",
                                    "SystemTray/Stop,Start"}));
        const QStringList actions = Items(Control<QComboBox>(*page_, "action"));
        QCOMPARE(actions.size(), 32);
        QCOMPARE(actions.mid(0, 3), QStringList({"exec", "mute", "down 100"}));
        QCOMPARE(actions.mid(11, 2), QStringList({"down 10", "down 9"}));
        QCOMPARE(actions.mid(20, 3), QStringList({"down 1", "unmute", "up 1"}));
        QCOMPARE(actions.last(), QStringLiteral("up 10"));

        for (const QWidget* widget : page_->findChildren<QWidget*>()) {
            if (widget->focusPolicy() != Qt::NoFocus &&
                !widget->inherits("QComboBoxPrivateContainer")) {
                QVERIFY2(!widget->accessibleName().isEmpty(), widget->metaObject()->className());
            }
        }
    }

private:
    std::string ConfigPath() const { return ConfigFile::PathIn(folder_->path().toStdString()); }

    void MakePage() {
        page_.reset();
        configuration_.reset();  // its destructor releases its ids: before the new one
        configuration_ = std::make_unique<ConfigurationOwner>(ConfigurationOwner::Setup{
            &grabber_, &volume_, ConfigPath(), [this](bool on) { verifications_.push_back(on); }});
        OptionsPage::Setup setup;
        setup.startupFolder = (folder_->path() + QStringLiteral("/autostart")).toStdString();
        setup.programPath = "/opt/Hush well/100%/hushwell";
        setup.programName = "hushwell";
        page_ = std::make_unique<OptionsPage>(*configuration_, std::move(setup));
    }

    void Select(int item) { Control<QListWidget>(*page_, "hotkeyList").setCurrentRow(item); }

    static void ValidateDesktopEntry(const QString& path) {
        const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
        if (validator.isEmpty()) {
            qWarning(
                "desktop-file-validate is missing (package desktop-file-utils): the "
                "autostart entry is not checked against the format");
            return;
        }
        QProcess process;
        process.start(validator, {path});
        QVERIFY(process.waitForFinished());
        const QByteArray complaints =
            process.readAllStandardOutput() + process.readAllStandardError();
        QVERIFY2(process.exitCode() == 0 && complaints.isEmpty(), complaints.constData());
    }

    std::unique_ptr<QTemporaryDir> folder_;
    ManualClock clock_;
    SimulatedBackend backend_{clock_};
    VolumeManager volume_{backend_};
    FakeHotkeyGrabber grabber_;
    std::unique_ptr<ConfigurationOwner> configuration_;
    std::unique_ptr<OptionsPage> page_;
    std::vector<bool> verifications_;  // what the owner handed on for "Verify matches"
};

}  // namespace hushwell

QTEST_MAIN(hushwell::OptionsPageTest)
#include "OptionsPageTest.moc"
