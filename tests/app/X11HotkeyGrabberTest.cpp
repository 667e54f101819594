#include <QTest>
#include <cstdlib>
#include <string>

#include "app/X11HotkeyGrabber.h"
#include "ui/HotkeyList.h"
#include "ui/VirtualKeyTable.h"

namespace hushwell {

namespace {

constexpr int kAltControlShift =
    HotkeyGrabber::kAlt | HotkeyGrabber::kControl | HotkeyGrabber::kShift;

void NoPress(int /*id*/) {}

}  // namespace

// Runs against the X display in DISPLAY (ctest starts it under a virtual X server); the
// display-less case runs everywhere.
class X11HotkeyGrabberTest : public QObject {
    Q_OBJECT
private slots:
    void everyTableKeyHasAKeySymbol() {
        for (const VirtualKey& key : VirtualKeyTable::Keys()) {
            QVERIFY2(X11HotkeyGrabber::KeySymOf(key.code) != 0, std::string(key.name).c_str());
        }
        QCOMPARE(X11HotkeyGrabber::KeySymOf(0), 0UL);
    }

    void withoutADisplayEveryRegistrationFailsAndRecordsTurnInactive() {
        const QByteArray display = qgetenv("DISPLAY");
        qputenv("DISPLAY", ":9999");  // no such server
        {
            X11HotkeyGrabber grabber(NoPress);
            QVERIFY(!grabber.Available());
            HotkeyList list;
            list.RegisterHotkeys(grabber);
            for (const HotkeyRecord& record : list.Records()) {
                QCOMPARE(record.active, std::string("_"));
            }
            QVERIFY(HotkeyList::BuildKeyList(grabber, HotkeyGrabber::kAlt).empty());
        }
        qputenv("DISPLAY", display);
    }

    void aCombinationHeldByAnotherClientIsRefused() {
        X11HotkeyGrabber first(NoPress);
        if (!first.Available()) {
            QSKIP("no X display");
        }
        X11HotkeyGrabber second(NoPress);
        QVERIFY(first.Register(HotkeyList::kStopStartThisId, kAltControlShift, 122));
        QVERIFY(!second.Register(HotkeyList::kStopStartThisId, kAltControlShift, 122));
        // Another modifier set on the same key is a different combination.
        QVERIFY(second.Register(HotkeyList::kStopStartThisId, HotkeyGrabber::kAlt, 122));
        // Released, the combination can be had by the other client.
        first.Unregister(HotkeyList::kStopStartThisId);
        QVERIFY(second.Register(HotkeyList::kRecordSoundId, kAltControlShift, 122));
    }

    void keyListOffersWhatIsFreeAndReleasesTheProbe() {
        X11HotkeyGrabber grabber(NoPress);
        if (!grabber.Available()) {
            QSKIP("no X display");
        }
        X11HotkeyGrabber other(NoPress);
        QVERIFY(other.Register(1, HotkeyGrabber::kControl, 112));  // Ctrl+F1 taken
        const auto keys = HotkeyList::BuildKeyList(grabber, HotkeyGrabber::kControl);
        QCOMPARE(keys.size(), std::size_t{VirtualKeyTable::kKeyCount - 1});
        // Every probe was released: the keys are still free for another client.
        X11HotkeyGrabber third(NoPress);
        QVERIFY(third.Register(2, HotkeyGrabber::kControl, 113));
    }
};

}  // namespace hushwell

QTEST_GUILESS_MAIN(hushwell::X11HotkeyGrabberTest)
#include "X11HotkeyGrabberTest.moc"
