#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <cstring>
#include <vector>

#include "app/InstanceMessenger.h"

namespace hushwell {

namespace {

constexpr int kDeadlineMs = 30000;

// Runs the client program as a second process and returns its exit code (-1 when it did not
// end in time). The event loop runs meanwhile, so the listening side can answer.
int RequestShowFromAnotherProcess(const std::string& socketPath) {
    QProcess client;
    client.start(QStringLiteral(HUSHWELL_MESSENGER_CLIENT), {QString::fromStdString(socketPath)});
    if (!QTest::qWaitFor([&client] { return client.state() == QProcess::NotRunning; },
                         kDeadlineMs)) {
        client.kill();
        client.waitForFinished();
        return -1;
    }
    return client.exitStatus() == QProcess::NormalExit ? client.exitCode() : -1;
}

// Sends bytes from this process and waits until the listening side closes the connection.
bool SendUntilClosed(const std::string& socketPath, const QByteArray& bytes) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath));
    if (!socket.waitForConnected(kDeadlineMs)) {
        return false;
    }
    socket.write(bytes);
    socket.flush();
    return QTest::qWaitFor([&socket] { return socket.state() == QLocalSocket::UnconnectedState; },
                           kDeadlineMs);
}

// A socket file with nobody listening, as a crashed run leaves it.
bool MakeLeftOverSocket(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
    ::close(fd);
    return bound;
}

mode_t ModeOf(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mode : 0;
}

}  // namespace

class InstanceMessengerTest : public QObject {
    Q_OBJECT
private slots:
    void aSecondProcessAsksTheFirstToShowItself() {
        QTemporaryDir folder;
        const std::string path = InstanceMessenger::SocketPathIn(folder.path().toStdString());
        InstanceMessenger messenger;
        QSignalSpy shows(&messenger, &InstanceMessenger::ShowRequested);
        QVERIFY(messenger.Listen(path));
        QVERIFY(S_ISSOCK(ModeOf(path)));
        QCOMPARE(ModeOf(path) & (S_IRWXG | S_IRWXO), mode_t{0});

        QCOMPARE(RequestShowFromAnotherProcess(path), 0);
        QCOMPARE(shows.count(), 1);
        QCOMPARE(RequestShowFromAnotherProcess(path), 0);
        QCOMPARE(shows.count(), 2);
    }

    void aLeftOverSocketIsReplaced() {
        QTemporaryDir folder;
        const std::string path = InstanceMessenger::SocketPathIn(folder.path().toStdString());
        QVERIFY(MakeLeftOverSocket(path));
        // Nobody listens yet: the request fails at once instead of hanging.
        QCOMPARE(RequestShowFromAnotherProcess(path), 1);

        InstanceMessenger messenger;
        QSignalSpy shows(&messenger, &InstanceMessenger::ShowRequested);
        QVERIFY(messenger.Listen(path));
        QCOMPARE(RequestShowFromAnotherProcess(path), 0);
        QCOMPARE(shows.count(), 1);
    }

    // Each command reaches the handler, whose answer goes back to the client; a line that
    // names no command gets no answer.
    void commandsAreCarriedOutAndAnswered() {
        QTemporaryDir folder;
        const std::string path = InstanceMessenger::SocketPathIn(folder.path().toStdString());
        InstanceMessenger messenger;
        std::vector<ProgramCommand> carried;
        messenger.SetHandler([&carried](ProgramCommand command) {
            carried.push_back(command);
            return command == ProgramCommand::Status ? std::string("stopped, 2 active triggers")
                                                     : std::string("ok");
        });
        QVERIFY(messenger.Listen(path));
        QProcess client;
        client.start(QStringLiteral(HUSHWELL_MESSENGER_CLIENT),
                     {QString::fromStdString(path), QStringLiteral("status")});
        QVERIFY(QTest::qWaitFor([&client] { return client.state() == QProcess::NotRunning; },
                                kDeadlineMs));
        QCOMPARE(client.exitCode(), 0);
        QCOMPARE(client.readAllStandardOutput(), QByteArray("stopped, 2 active triggers\n"));
        QCOMPARE(carried, std::vector<ProgramCommand>{ProgramCommand::Status});

        client.start(QStringLiteral(HUSHWELL_MESSENGER_CLIENT),
                     {QString::fromStdString(path), QStringLiteral("toggle")});
        QVERIFY(QTest::qWaitFor([&client] { return client.state() == QProcess::NotRunning; },
                                kDeadlineMs));
        QCOMPARE(client.readAllStandardOutput(), QByteArray("ok\n"));
        client.start(QStringLiteral(HUSHWELL_MESSENGER_CLIENT),
                     {QString::fromStdString(path), QStringLiteral("frobnicate")});
        QVERIFY(QTest::qWaitFor([&client] { return client.state() == QProcess::NotRunning; },
                                kDeadlineMs));
        QCOMPARE(client.exitCode(), 1);  // closed without an answer
        QCOMPARE(carried,
                 (std::vector<ProgramCommand>{ProgramCommand::Status, ProgramCommand::Toggle}));
    }

    void anythingButTheShowLineIsIgnored() {
        QTemporaryDir folder;
        const std::string path = InstanceMessenger::SocketPathIn(folder.path().toStdString());
        InstanceMessenger messenger;
        QSignalSpy shows(&messenger, &InstanceMessenger::ShowRequested);
        QVERIFY(messenger.Listen(path));

        QVERIFY(SendUntilClosed(path, "hello\n"));
        QVERIFY(SendUntilClosed(path, "shows\n"));
        QVERIFY(SendUntilClosed(path, " show\n"));
        QVERIFY(SendUntilClosed(path, QByteArray(4096, 's')));  // no line end: cut off
        QCOMPARE(shows.count(), 0);
        QVERIFY(SendUntilClosed(path, "show\n"));
        QCOMPARE(shows.count(), 1);
    }
};

}  // namespace hushwell

QTEST_GUILESS_MAIN(hushwell::InstanceMessengerTest)
#include "InstanceMessengerTest.moc"
