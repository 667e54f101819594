#pragma once

#include <QLocalServer>
#include <QObject>
#include <chrono>
#include <string>

class QLocalSocket;

namespace hushwell {

// Lets a second start reach the running instance. The running instance listens on a local
// socket beside its single-instance lock; a second start sends the one-line request "show"
// and the running instance emits ShowRequested, on which it shows its settings window. Any
// other line is ignored.
//
// Only the holder of the single-instance lock listens, so a socket file found at the path
// is left over from a run that ended without removing it, and Listen replaces it. The socket
// is accessible to its owner only.
//
// Main thread only: the server side works in the event loop; RequestShow blocks.
class InstanceMessenger final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kFileName = "Hushwell.sock";
    static constexpr const char* kShowRequest = "show";
    // How long a second start waits for the running instance at each step.
    static constexpr std::chrono::milliseconds kRequestTimeout{2000};

    explicit InstanceMessenger(QObject* parent = nullptr);
    ~InstanceMessenger() override;

    // The socket's path in the folder of the single-instance lock.
    static std::string SocketPathIn(const std::string& lockFolder);

    // Running instance: listens at the path, replacing a left-over socket file; false when
    // that fails (the program then runs without it).
    bool Listen(const std::string& socketPath);

    // Second start: asks the instance listening at the path to show itself and waits until
    // it has taken the request; false when no instance took it in time.
    static bool RequestShow(const std::string& socketPath,
                            std::chrono::milliseconds timeout = kRequestTimeout);

signals:
    void ShowRequested();

private:
    void OnNewConnection();
    void ReadRequest(QLocalSocket* client);

    QLocalServer server_;
};

}  // namespace hushwell
