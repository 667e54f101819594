#include <QCheckBox>
#include <QListWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/X11HotkeyGrabber.h"
#include "persistence/ConfigFile.h"
#include "ui/ConfigurationOwner.h"
#include "ui/OptionsPage.h"

namespace hushwell {

namespace {

void NoPress(int /*id*/) {}

}  // namespace

// The options page on real X11 grabs (ctest runs it under a virtual X server): after a
// modifier edit and Cancel, all four default hotkeys are grabbed again, so another client is
// refused every one of them.
class OptionsPageX11Test : public QObject {
    Q_OBJECT
private slots:
    void cancelLeavesAllFourHotkeysGrabbed() {
        X11HotkeyGrabber grabber(NoPress);
        if (!grabber.Available()) {
            QSKIP("no X display");
        }
        QTemporaryDir folder;
        ConfigurationOwner configuration(
            {&grabber, nullptr, ConfigFile::PathIn(folder.path().toStdString()), {}});
        OptionsPage page(configuration, {});
        page.findChild<QListWidget*>(QStringLiteral("hotkeyList"))
            ->setCurrentRow(OptionsPage::kStopStartItem);
        page.findChild<QCheckBox*>(QStringLiteral("alt"))->click();
        QToolButton* cancel = page.findChild<QToolButton*>(QStringLiteral("cancel"));
        QVERIFY(cancel->isEnabled());
        cancel->click();
        QVERIFY(!cancel->isEnabled());

        X11HotkeyGrabber other(NoPress);
        for (const HotkeyRecord& record : page.Applied().hotkeys.Records()) {
            QCOMPARE(record.active, std::string("v"));
            QVERIFY2(!other.Register(1, record.modifiers, record.virtualKey), record.name.c_str());
        }
    }
};

}  // namespace hushwell

QTEST_MAIN(hushwell::OptionsPageX11Test)
#include "OptionsPageX11Test.moc"
