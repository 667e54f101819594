#include "app/ShutdownSignals.h"

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>

namespace hushwell {

namespace {

constexpr std::array<int, 3> kSignals = {SIGTERM, SIGINT, SIGHUP};
std::array<int, 2> gPipe = {-1, -1};

extern "C" void WriteSignalToPipe(int signalNumber) {
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    const int savedErrno = errno;
    [[maybe_unused]] const ssize_t written = ::write(gPipe[1], &byte, 1);
    errno = savedErrno;
}

}  // namespace

ShutdownSignals::ShutdownSignals(QObject* parent) : QObject(parent) {
    if (::pipe2(gPipe.data(), O_CLOEXEC | O_NONBLOCK) != 0) {
        gPipe = {-1, -1};
        return;
    }
    notifier_ = std::make_unique<QSocketNotifier>(gPipe[0], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, &ShutdownSignals::OnReadable);
    struct sigaction action = {};
    action.sa_handler = WriteSignalToPipe;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signalNumber : kSignals) {
        ::sigaction(signalNumber, &action, nullptr);
    }
}

ShutdownSignals::~ShutdownSignals() {
    if (gPipe[0] < 0) {
        return;
    }
    for (int signalNumber : kSignals) {
        ::signal(signalNumber, SIG_DFL);
    }
    notifier_.reset();
    ::close(gPipe[0]);
    ::close(gPipe[1]);
    gPipe = {-1, -1};
}

void ShutdownSignals::OnReadable() {
    unsigned char byte = 0;
    while (::read(gPipe[0], &byte, 1) == 1) {
        emit Requested(byte);
    }
}

}  // namespace hushwell
