#include <sys/stat.h>
#include <QTemporaryDir>
#include <QTest>

#include <filesystem>
#include <functional>

#include "app/SingleInstanceLock.h"
#include "base/ProgramPaths.h"

namespace hushwell {

class StartupPathsTest : public QObject {
    Q_OBJECT

    static void Touch(const std::string& path) {
        QFile file(QString::fromStdString(path));
        QVERIFY(file.open(QIODevice::WriteOnly));
    }

private slots:
    void programNameAndManualFollowTheProgramPath() {
        QCOMPARE(ProgramPaths::ProgramNameOf("/usr/bin/hushwell"), std::string("hushwell"));
        QCOMPARE(ProgramPaths::ProgramNameOf("/opt/a.b/hushwell.bin"), std::string("hushwell"));
        QCOMPARE(ProgramPaths::ProgramNameOf("hushwell"), std::string());
        QCOMPARE(ProgramPaths::ManualPathOf("/usr/bin/hushwell"),
                 std::string("/usr/bin/hushwell.html"));
        QCOMPARE(ProgramPaths::ManualPathOf(""), std::string());
    }

    void anInstalledProgramFindsItsManualUnderShareDoc() {
        QTemporaryDir prefix;
        const std::string root = prefix.path().toStdString();
        const std::string program = root + "/bin/hushwell";
        const std::string installed = root + "/share/doc/hushwell/hushwell.html";
        const std::string beside = root + "/bin/hushwell.html";
        QVERIFY(ProgramPaths::EnsureFolder(root + "/bin"));
        QVERIFY(ProgramPaths::EnsureFolder(root + "/share/doc/hushwell"));
        QCOMPARE(ProgramPaths::ManualPathOf(program), beside);  // neither exists
        Touch(installed);
        QCOMPARE(ProgramPaths::ManualPathOf(program), installed);
        Touch(beside);  // the build tree's copy comes first
        QCOMPARE(ProgramPaths::ManualPathOf(program), beside);
    }

    void triggerFolderIsJoinedWithOneSlash() {
        QCOMPARE(ProgramPaths::SoundFolderOf("/d/Hushwell"), std::string("/d/Hushwell/triggers"));
        QCOMPARE(ProgramPaths::SoundFolderOf("/d/Hushwell/"), std::string("/d/Hushwell/triggers"));
    }

    void missingFoldersAreCreatedAndAFileInTheWayFails() {
        QTemporaryDir dir;
        const std::string nested = dir.path().toStdString() + "/a/b";
        QVERIFY(ProgramPaths::EnsureFolder(nested));
        QVERIFY(std::filesystem::is_directory(nested));
        QVERIFY(ProgramPaths::EnsureFolder(nested));
        const std::string file = dir.path().toStdString() + "/file";
        QVERIFY(QFile(QString::fromStdString(file)).open(QIODevice::WriteOnly));
        QVERIFY(!ProgramPaths::EnsureFolder(file + "/sub"));
        std::string problem;
        QVERIFY(!ProgramPaths::EnsureFolder(file, &problem));
        QCOMPARE(problem, std::string("is a file, not a folder"));
        QVERIFY(!ProgramPaths::EnsureFolder(file + "/sub", &problem));
        QVERIFY(problem.starts_with("cannot be created ("));
    }

    // A FIFO (whose blocking open would wait for ever), a link or a folder at the lock's name
    // is not used, says why, and creates nothing where a link points.
    void aLockFileThatIsNotARegularFileIsRefusedWithTheReason() {
        QTemporaryDir dir;
        QTemporaryDir elsewhere;
        const std::string folder = dir.path().toStdString();
        const std::string path = SingleInstanceLock::PathIn(folder);
        const struct {
            std::function<void()> make;
            std::string problem;
        } cases[] = {
            {[&] { QCOMPARE(::mkfifo(path.c_str(), 0600), 0); }, "is not a regular file"},
            {[&] {
                 std::filesystem::create_symlink(elsewhere.path().toStdString() + "/lock", path);
             },
             "is a symbolic link"},
            {[&] { std::filesystem::create_directory(path); }, "is a folder"},
        };
        for (const auto& c : cases) {
            c.make();
            SingleInstanceLock lock;
            QVERIFY(!lock.TryAcquire(folder));
            QCOMPARE(lock.Problem(), c.problem);
            std::filesystem::remove(path);
        }
        QVERIFY(std::filesystem::is_empty(elsewhere.path().toStdString()));
    }

    void onlyOneHolderOfTheInstanceLockAtATime() {
        QTemporaryDir dir;
        const std::string folder = dir.path().toStdString();
        {
            SingleInstanceLock first;
            SingleInstanceLock second;
            QVERIFY(first.TryAcquire(folder));
            QVERIFY(!second.TryAcquire(folder));
            QVERIFY(!second.Held());
            QCOMPARE(second.Problem(), std::string());  // held elsewhere: nothing wrong
        }
        SingleInstanceLock after;  // released with its holder
        QVERIFY(after.TryAcquire(folder));
        SingleInstanceLock nowhere;
        QVERIFY(!nowhere.TryAcquire(folder + "/missing"));
    }
};

}  // namespace hushwell

QTEST_GUILESS_MAIN(hushwell::StartupPathsTest)
#include "StartupPathsTest.moc"
