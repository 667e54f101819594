#include "app/InstanceMessenger.h"

#include <sys/socket.h>
#include <unistd.h>

#include <QLocalSocket>
#include <QTimer>
#include <filesystem>

namespace hushwell {

namespace {

// A request or an answer is one short line; a client that sends more without a line end is
// cut off.
constexpr qint64 kMaxLineLength = 64;

int Milliseconds(std::chrono::milliseconds duration) {
    return static_cast<int>(duration.count());
}

// Whether the process at the other end of the connection runs as this process's user.
bool PeerIsThisUser(const QLocalSocket& client) {
    ucred peer{};
    socklen_t size = sizeof(peer);
    const auto fd = static_cast<int>(client.socketDescriptor());
    return fd >= 0 && ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 &&
           size == sizeof(peer) && peer.uid == ::geteuid();
}

QByteArray LineOf(std::string_view text) {
    return QByteArray(text.data(), static_cast<qsizetype>(text.size())) + '\n';
}

}  // namespace

InstanceMessenger::InstanceMessenger(QObject* parent) : QObject(parent) {
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    connect(&server_, &QLocalServer::newConnection, this, &InstanceMessenger::OnNewConnection);
}

InstanceMessenger::~InstanceMessenger() = default;

std::string InstanceMessenger::SocketPathIn(const std::string& lockFolder) {
    return (std::filesystem::path(lockFolder) / kFileName).string();
}

bool InstanceMessenger::Listen(const std::string& socketPath) {
    const QString path = QString::fromStdString(socketPath);
    QLocalServer::removeServer(path);
    return server_.listen(path);
}

void InstanceMessenger::OnNewConnection() {
    while (QLocalSocket* client = server_.nextPendingConnection()) {
        connect(client, &QLocalSocket::disconnected, client, &QObject::deleteLater);
        if (!PeerIsThisUser(*client)) {
            client->abort();
            continue;
        }
        connect(client, &QLocalSocket::readyRead, this, [this, client] { ReadRequest(client); });
        // A client that never finishes its line does not keep the connection.
        QTimer::singleShot(kRequestTimeout, client, [client] { client->abort(); });
        ReadRequest(client);
    }
}

void InstanceMessenger::ReadRequest(QLocalSocket* client) {
    if (!client->canReadLine()) {
        if (client->bytesAvailable() > kMaxLineLength) {
            client->abort();
        }
        return;
    }
    QByteArray line = client->readLine(kMaxLineLength + 1);
    if (!line.endsWith('\n')) {
        client->abort();
        return;
    }
    line.chop(1);
    const ProgramCommand command =
        ProgramCommandLine::CommandOfRequest(std::string_view(line.constData(), line.size()));
    if (command == ProgramCommand::Run) {
        client->disconnectFromServer();
        return;
    }
    const std::string reply = handler_ ? handler_(command) : std::string(kDefaultReply);
    // One request per connection; the answer goes out before the connection closes.
    client->write(LineOf(reply));
    client->flush();
    client->disconnectFromServer();
    if (command == ProgramCommand::Show) {
        emit ShowRequested();
    }
}

InstanceMessenger::Answer InstanceMessenger::Send(const std::string& socketPath,
                                                  std::string_view request,
                                                  std::chrono::milliseconds timeout) {
    Answer answer;
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath));
    if (!socket.waitForConnected(Milliseconds(timeout))) {
        return answer;
    }
    answer.outcome = Outcome::NotTaken;
    socket.write(LineOf(request));
    if (!socket.waitForBytesWritten(Milliseconds(timeout))) {
        return answer;
    }
    while (!socket.canReadLine() && socket.state() == QLocalSocket::ConnectedState &&
           socket.waitForReadyRead(Milliseconds(timeout))) {
    }
    if (!socket.canReadLine()) {
        return answer;
    }
    QByteArray line = socket.readLine(kMaxLineLength + 1);
    if (!line.endsWith('\n')) {
        return answer;
    }
    line.chop(1);
    answer.outcome = Outcome::Answered;
    answer.reply = line.toStdString();
    return answer;
}

bool InstanceMessenger::RequestShow(const std::string& socketPath,
                                    std::chrono::milliseconds timeout) {
    return Send(socketPath, kShowRequest, timeout).outcome == Outcome::Answered;
}

}  // namespace hushwell
