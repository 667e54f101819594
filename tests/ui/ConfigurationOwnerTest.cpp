#include "ui/ConfigurationOwner.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <memory>
#include <thread>
#include <vector>

#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "persistence/ConfigFile.h"
#include "tests/ui/FakeHotkeyGrabber.h"
#include "triggers/VolumeManager.h"

namespace hushwell {

namespace {

// A grabber that keeps the handler of late answers, so a test can answer as a desktop
// portal would.
class SettlingGrabber final : public HotkeyGrabber {
public:
    bool Register(int id, int modifiers, int virtualKey) override {
        return inner.Register(id, modifiers, virtualKey);
    }
    void Unregister(int id) override { inner.Unregister(id); }
    void SetSettledHandler(SettledFunction handler) override { settled = std::move(handler); }

    FakeHotkeyGrabber inner;
    SettledFunction settled;
};

}  // namespace

// The owner of the configuration, without any page: what it loads, registers, applies and
// writes.
class ConfigurationOwnerTest : public QObject {
    Q_OBJECT
private slots:
    void init() { folder_ = std::make_unique<QTemporaryDir>(); }

    void loadsTheFileRegistersItsHotkeysAndSetsItsRates() {
        Settings stored;
        stored.hotkeys[Settings::kRegister].active = "_";
        stored.filenameFormatType = 1;
        stored.volumeUpRate = "100";
        stored.volumeDownRate = "25";
        QVERIFY(ConfigFile::Save(stored, ConfigPath()));

        ConfigurationOwner owner({&grabber_, &volume_, ConfigPath(), {}});
        QCOMPARE(owner.DateOrder(), 1);
        QCOMPARE(grabber_.inner.registered.size(), std::size_t{3});
        QCOMPARE(grabber_.inner.registered.count(HotkeyList::kRegisterId), std::size_t{0});
        QCOMPARE(owner.HotkeyActionFor(HotkeyList::kRecordSaveId), HotkeyAction::RecordSave);
        QCOMPARE(volume_.UpIntervalMs(), 100);
        QCOMPARE(volume_.DownIntervalMs(), 400);
    }

    // A combination another program holds is off in the configuration in force.
    void aHotkeyRefusedAtStartIsOff() {
        grabber_.inner.taken.insert({3, 38});  // Alt+Ctrl+Up, the default of "RecordSave"
        ConfigurationOwner owner({&grabber_, nullptr, ConfigPath(), {}});
        QCOMPARE(owner.Applied().hotkeys.Records()[Settings::kRecordSave].active, std::string("_"));
        QCOMPARE(owner.HotkeyActionFor(HotkeyList::kRecordSoundId), HotkeyAction::RecordSound);
    }

    void applyPutsTheEditedCopyInForceAndWritesIt() {
        ConfigurationOwner owner({&grabber_, &volume_, ConfigPath(), {}});
        Configuration edited = owner.Applied();
        edited.settings.preRecordingLengthInSec = 7;
        edited.settings.filenameFormatType = 0;
        edited.settings.volumeDownRate = "100";
        owner.Apply(edited);
        QCOMPARE(owner.Applied().settings.preRecordingLengthInSec, 7);
        QCOMPARE(owner.DateOrder(), 0);
        QCOMPARE(volume_.DownIntervalMs(), 100);
        Settings saved;
        QVERIFY(ConfigFile::Load(saved, ConfigPath()));
        QCOMPARE(saved.preRecordingLengthInSec, 7);
        QCOMPARE(saved.volumeDownRate, std::string("100"));
    }

    // Window state is kept with the configuration and written by Save only.
    void storedWindowStateIsWrittenBySave() {
        ConfigurationOwner owner({&grabber_, nullptr, ConfigPath(), {}});
        owner.StoreTab(3);
        owner.StoreLogColumnWidths({120, 300});
        owner.StoreTriggerListView({10, 20, 30}, true);
        QVERIFY(!QFile::exists(QString::fromStdString(ConfigPath())));
        owner.Save();
        Settings saved;
        QVERIFY(ConfigFile::Load(saved, ConfigPath()));
        QCOMPARE(saved.placement.tab, 3);
        QCOMPARE(saved.logListColumnWidths[1], 300);
        QCOMPARE(saved.triggerListColumnWidths[2], 30);
        QCOMPARE(saved.groupView, std::string("v"));
    }

    // A late refusal reaches the listener; the applied hotkey goes off only when it is the
    // refused combination. Released, the owner no longer listens and holds no hotkey.
    void lateAnswersReachTheListenerUntilRelease() {
        ConfigurationOwner owner({&grabber_, nullptr, ConfigPath(), {}});
        QVERIFY(grabber_.settled);
        std::vector<int> heard;
        owner.SetSettledListener([&heard](int id, bool) { heard.push_back(id); });
        grabber_.settled(HotkeyList::kRegisterId, false);
        QCOMPARE(heard, std::vector<int>{HotkeyList::kRegisterId});

        HotkeyRecord other = owner.Applied().hotkeys.Records()[Settings::kRegister];
        other.virtualKey += 1;
        owner.TurnOffRefused(Settings::kRegister, other);
        QCOMPARE(owner.Applied().hotkeys.Records()[Settings::kRegister].active, std::string("v"));
        owner.TurnOffRefused(Settings::kRegister,
                             owner.Applied().hotkeys.Records()[Settings::kRegister]);
        QCOMPARE(owner.Applied().hotkeys.Records()[Settings::kRegister].active, std::string("_"));

        owner.ReleaseHotkeys();
        QVERIFY(!grabber_.settled);
        QVERIFY(grabber_.inner.registered.empty());
        grabber_.inner.unregistered.clear();
        owner.ReleaseHotkeys();
        QVERIFY(grabber_.inner.unregistered.empty());
    }

    // The notifications setting reaches the tray at once and on every Apply.
    void theNotificationsSettingIsHandedOnAsApplied() {
        Settings off;
        off.notifications.clear();
        QVERIFY(ConfigFile::Save(off, ConfigPath()));
        ConfigurationOwner owner({&grabber_, nullptr, ConfigPath(), {}});
        std::vector<bool> heard;
        owner.SetNotificationsListener([&heard](bool on) { heard.push_back(on); });
        QCOMPARE(heard, std::vector<bool>{false});
        Configuration edited = owner.Applied();
        edited.settings.notifications = "v";
        owner.Apply(edited);
        QCOMPARE(heard, (std::vector<bool>{false, true}));
        QCOMPARE(owner.Applied().settings.notifications, std::string("v"));
    }

    // The log page asks the date order on the detection thread while the options page
    // applies on the user-interface thread (a data race the thread sanitizer would see).
    void dateOrderMayBeAskedFromAnotherThread() {
        ConfigurationOwner owner({&grabber_, nullptr, ConfigPath(), {}});
        std::atomic<bool> stop{false};
        std::atomic<bool> outOfRange{false};
        std::thread reader([&] {
            while (!stop.load()) {
                const int order = owner.DateOrder();
                if (order < 0 || order > 2) {
                    outOfRange = true;
                }
            }
        });
        Configuration edited = owner.Applied();
        for (int i = 0; i < 200; ++i) {
            edited.settings.filenameFormatType = i % 3;
            owner.Apply(edited);
        }
        stop = true;
        reader.join();
        QVERIFY(!outOfRange.load());
        QCOMPARE(owner.DateOrder(), 199 % 3);
    }

private:
    std::string ConfigPath() const { return ConfigFile::PathIn(folder_->path().toStdString()); }

    std::unique_ptr<QTemporaryDir> folder_;
    ManualClock clock_;
    SimulatedBackend backend_{clock_};
    VolumeManager volume_{backend_};
    SettlingGrabber grabber_;
};

}  // namespace hushwell

QTEST_GUILESS_MAIN(hushwell::ConfigurationOwnerTest)
#include "ConfigurationOwnerTest.moc"
