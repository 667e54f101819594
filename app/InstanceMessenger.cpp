#include "app/InstanceMessenger.h"

#include <QLocalSocket>
#include <QTimer>
#include <filesystem>

namespace hushwell {

namespace {

// A request is one short line; a client that sends more without a line end is cut off.
constexpr qint64 kMaxRequestLength = 64;

QByteArray ShowLine() {
    return QByteArray(InstanceMessenger::kShowRequest) + '\n';
}

int Milliseconds(std::chrono::milliseconds duration) {
    return static_cast<int>(duration.count());
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
        connect(client, &QLocalSocket::readyRead, this, [this, client] { ReadRequest(client); });
        // A client that never finishes its line does not keep the connection.
        QTimer::singleShot(kRequestTimeout, client, [client] { client->abort(); });
        ReadRequest(client);
    }
}

void InstanceMessenger::ReadRequest(QLocalSocket* client) {
    if (!client->canReadLine()) {
        if (client->bytesAvailable() > kMaxRequestLength) {
            client->abort();
        }
        return;
    }
    const QByteArray line = client->readLine(kMaxRequestLength + 1);
    // One request per connection; closing tells the sender it was taken.
    client->disconnectFromServer();
    if (line == ShowLine()) {
        emit ShowRequested();
    }
}

bool InstanceMessenger::RequestShow(const std::string& socketPath,
                                    std::chrono::milliseconds timeout) {
    QLocalSocket socket;
    socket.connectToServer(QString::fromStdString(socketPath));
    if (!socket.waitForConnected(Milliseconds(timeout))) {
        return false;
    }
    socket.write(ShowLine());
    if (!socket.waitForBytesWritten(Milliseconds(timeout))) {
        return false;
    }
    return socket.state() == QLocalSocket::UnconnectedState ||
           socket.waitForDisconnected(Milliseconds(timeout));
}

}  // namespace hushwell
