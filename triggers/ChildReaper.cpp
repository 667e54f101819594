#include "triggers/ChildReaper.h"

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>

namespace hushwell {

namespace {

// A descriptor that becomes readable when the process ends, or -1 where the kernel (or a
// sandbox) does not offer one.
int OpenPidFd(pid_t pid) {
#ifdef SYS_pidfd_open
    long fd = syscall(SYS_pidfd_open, pid, 0);
    return fd >= 0 ? static_cast<int>(fd) : -1;
#else
    (void)pid;
    return -1;
#endif
}

// True when the child has ended and was collected now, or can never be collected by us
// (ECHILD: someone else reaped it, or SIGCHLD is ignored and the kernel did).
bool TryReap(pid_t pid) {
    int status = 0;
    pid_t rc = waitpid(pid, &status, WNOHANG);
    while (rc < 0 && errno == EINTR) {
        rc = waitpid(pid, &status, WNOHANG);
    }
    return rc == pid || (rc < 0 && errno == ECHILD);
}

}  // namespace

ChildReaper::ChildReaper(Watch watch) : watch_(watch), thread_([this] { Run(); }) {}

ChildReaper::~ChildReaper() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.Set();
    thread_.join();
    ReapEnded();
    for (const Child& child : children_) {
        if (child.pidfd >= 0) {
            close(child.pidfd);
        }
    }
}

void ChildReaper::Adopt(pid_t pid) {
    if (pid <= 0) {
        return;
    }
    const int pidfd = watch_ == Watch::PidFds ? OpenPidFd(pid) : -1;
    {
        std::lock_guard lock(mutex_);
        children_.push_back(Child{pid, pidfd});
    }
    wake_.Set();
}

std::size_t ChildReaper::PendingCount() const {
    std::lock_guard lock(mutex_);
    return children_.size();
}

bool ChildReaper::WaitUntilAllReaped(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return reaped_.wait_for(lock, timeout, [this] { return children_.empty(); });
}

void ChildReaper::Run() {
    std::vector<pollfd> fds;
    for (;;) {
        bool anyWithoutPidFd = false;
        fds.assign(1, pollfd{wake_.Fd(), POLLIN, 0});
        {
            std::lock_guard lock(mutex_);
            if (stopping_) {
                return;
            }
            for (const Child& child : children_) {
                if (child.pidfd >= 0) {
                    fds.push_back(pollfd{child.pidfd, POLLIN, 0});
                } else {
                    anyWithoutPidFd = true;
                }
            }
        }
        const int timeout = anyWithoutPidFd ? static_cast<int>(kPollInterval.count()) : -1;
        poll(fds.data(), fds.size(), timeout);
        wake_.TryTake();
        ReapEnded();
    }
}

void ChildReaper::ReapEnded() {
    std::lock_guard lock(mutex_);
    std::erase_if(children_, [](const Child& child) {
        if (!TryReap(child.pid)) {
            return false;
        }
        if (child.pidfd >= 0) {
            close(child.pidfd);
        }
        return true;
    });
    if (children_.empty()) {
        reaped_.notify_all();
    }
}

}  // namespace hushwell
