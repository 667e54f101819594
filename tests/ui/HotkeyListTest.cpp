#include <QTest>
#include <algorithm>

#include "tests/ui/FakeHotkeyGrabber.h"
#include "ui/HotkeyList.h"
#include "ui/VirtualKeyTable.h"

namespace hushwell {

class HotkeyListTest : public QObject {
    Q_OBJECT
private slots:
    void keyListWithoutShiftOffersEveryFreeKey() {
        FakeHotkeyGrabber grabber;
        grabber.taken.insert({HotkeyGrabber::kAlt, 112});  // Alt+F1 belongs to someone else
        const auto keys = HotkeyList::BuildKeyList(grabber, HotkeyGrabber::kAlt);
        QCOMPARE(keys.size(), std::size_t{VirtualKeyTable::kKeyCount - 1});
        QCOMPARE(keys.front().name, std::string("Back"));
        QVERIFY(std::none_of(keys.begin(), keys.end(),
                             [](const KeyChoice& k) { return k.code == 112; }));
        // The probe registrations are all released again.
        QVERIFY(grabber.registered.empty());
        QVERIFY(std::all_of(grabber.unregistered.begin(), grabber.unregistered.end(),
                            [](int id) { return id == HotkeyList::kProbeId; }));
    }

    void keyListWithShiftLeavesOutDigitsLettersAndNumPad() {
        FakeHotkeyGrabber grabber;
        const auto keys =
            HotkeyList::BuildKeyList(grabber, HotkeyGrabber::kShift | HotkeyGrabber::kControl);
        QCOMPARE(keys.size(), std::size_t{VirtualKeyTable::kKeyCount - 10 - 26 - 10});
        for (const KeyChoice& key : keys) {
            QVERIFY2(!(key.code >= 48 && key.code <= 57), key.name.c_str());
            QVERIFY2(!(key.code >= 65 && key.code <= 90), key.name.c_str());
            QVERIFY2(!(key.code >= 96 && key.code <= 105), key.name.c_str());
        }
        QCOMPARE(keys.back().name, std::string("F12"));
    }

    void registrationMarksRefusedRecordsInactive() {
        FakeHotkeyGrabber grabber;
        grabber.taken.insert({7, 122});  // Alt+Ctrl+Shift+F11 taken
        HotkeyList list;
        list.Record(Settings::kRegister).active = "_";
        list.RegisterHotkeys(grabber);
        QCOMPARE(list.Records()[Settings::kStopStartThis].active, std::string("_"));
        QCOMPARE(list.Records()[Settings::kRecordSound].active, std::string("v"));
        QCOMPARE(grabber.registered.size(), std::size_t{2});
        QVERIFY(grabber.registered.count(HotkeyList::kRecordSoundId) == 1);
        QVERIFY(grabber.registered.count(HotkeyList::kRecordSaveId) == 1);
    }

    void keysOutsideTheCodeRangeAreNotRegistered() {
        FakeHotkeyGrabber grabber;
        HotkeyList list;
        list.Record(Settings::kRecordSound).virtualKey = 0;
        list.Record(Settings::kStopStartThis).virtualKey = 255;
        list.RegisterHotkeys(grabber);
        QCOMPARE(grabber.registered.size(), std::size_t{2});
        QCOMPARE(list.Records()[Settings::kRecordSound].active, std::string("v"));
    }

    void unregisteringReleasesEveryGrabEvenOfRecordsSwitchedOff() {
        FakeHotkeyGrabber grabber;
        HotkeyList list;
        list.RegisterHotkeys(grabber);
        list.Record(Settings::kRecordSave).active = "_";
        list.UnregisterHotkeys(grabber);
        QVERIFY(grabber.registered.empty());
    }

    void configurationRoundTripKeepsRecordsAndNamesKeys() {
        Settings settings;
        settings.hotkeys[Settings::kRegister] = {"Register", "_", 1, 65};
        HotkeyList list;
        list.LoadFrom(settings);
        const HotkeyRecord& record = list.Records()[Settings::kRegister];
        QCOMPARE(record.keyName, std::string("A"));
        QCOMPARE(record.label, std::string("Capture/Register"));
        QCOMPARE(record.id, HotkeyList::kRegisterId);
        Settings written;
        list.StoreTo(written);
        QCOMPARE(written.hotkeys[Settings::kRegister].active, std::string("_"));
        QCOMPARE(written.hotkeys[Settings::kRegister].modifier, 1);
        QCOMPARE(written.hotkeys[Settings::kRegister].virtualKey, 65);
        QCOMPARE(written.hotkeys[Settings::kRecordSound].virtualKey, 123);
    }

    void actionsFollowRecordIds() {
        HotkeyList list;
        QCOMPARE(list.ActionFor(HotkeyList::kRecordSoundId), HotkeyAction::RecordSound);
        QCOMPARE(list.ActionFor(HotkeyList::kStopStartThisId), HotkeyAction::StopStartThis);
        QCOMPARE(list.ActionFor(HotkeyList::kRecordSaveId), HotkeyAction::RecordSave);
        QCOMPARE(list.ActionFor(HotkeyList::kRegisterId), HotkeyAction::Register);
        QCOMPARE(list.ActionFor(HotkeyList::kProbeId), HotkeyAction::None);
    }
};

}  // namespace hushwell

QTEST_GUILESS_MAIN(hushwell::HotkeyListTest)
#include "HotkeyListTest.moc"
