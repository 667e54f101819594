#pragma once

#include <QLocalServer>
#include <QObject>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "app/ProgramCommandLine.h"

class QLocalSocket;

namespace hushwell {

// Lets a second start, and the program's command options, reach the running instance. The
// running instance listens on a local socket beside its single-instance lock; a client sends
// one request line ("show", "record", "status", ... as ProgramCommandLine names them), the
// running instance carries it out through its handler, answers with one line (the handler's
// reply, "ok" without one) and closes the connection. Any other line is closed without an
// answer.
//
// Only the holder of the single-instance lock listens, so a socket file found at the path
// is left over from a run that ended without removing it, and Listen replaces it. The socket
// is accessible to its owner only, and a connection from a process of another user (as the
// kernel reports the peer) is closed unanswered, whatever the file's permissions.
//
// Main thread only: the server side works in the event loop; Send and RequestShow block.
class InstanceMessenger final : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kFileName = "Hushwell.sock";
    static constexpr const char* kShowRequest = "show";
    static constexpr const char* kDefaultReply = "ok";
    // How long a client waits for the running instance at each step.
    static constexpr std::chrono::milliseconds kRequestTimeout{2000};

    // Carries out a command on the running instance; returns the answer line (no line end).
    using Handler = std::function<std::string(ProgramCommand command)>;

    // How a request ended, on the client's side.
    enum class Outcome {
        Answered,    // the instance took the request and answered
        NotRunning,  // nobody listens at the path
        NotTaken,    // connected, but closed without an answer or too slow
    };
    struct Answer {
        Outcome outcome = Outcome::NotRunning;
        std::string reply;
    };

    explicit InstanceMessenger(QObject* parent = nullptr);
    ~InstanceMessenger() override;

    // The socket's path in the folder of the single-instance lock.
    static std::string SocketPathIn(const std::string& lockFolder);

    // Running instance: listens at the path, replacing a left-over socket file; false when
    // that fails (the program then runs without it).
    bool Listen(const std::string& socketPath);
    void SetHandler(Handler handler) { handler_ = std::move(handler); }

    // Client: sends the request line to the instance listening at the path and waits for its
    // answer.
    static Answer Send(const std::string& socketPath, std::string_view request,
                       std::chrono::milliseconds timeout = kRequestTimeout);
    // Second start: asks the instance to show itself; false when no instance took it in time.
    static bool RequestShow(const std::string& socketPath,
                            std::chrono::milliseconds timeout = kRequestTimeout);

signals:
    // A "show" request came (after the handler, when there is one).
    void ShowRequested();

private:
    void OnNewConnection();
    void ReadRequest(QLocalSocket* client);

    QLocalServer server_;
    Handler handler_;
};

}  // namespace hushwell
