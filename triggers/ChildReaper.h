#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>
#include <vector>

#include "base/Event.h"

namespace hushwell {

// Waits for the child processes this program started so that none is left behind as a
// zombie. Each child is waited for by its own pid: other parts of the program may start and
// wait for children of their own, so this never waits for "any child" and never changes how
// SIGCHLD is handled.
//
// A small thread of its own sleeps on a pidfd per child (woken the moment a child ends);
// where pidfds are not available it looks at its children every kPollInterval instead.
// Every method may be called from any thread.
class ChildReaper {
public:
    static constexpr std::chrono::milliseconds kPollInterval{200};

    enum class Watch {
        PidFds,   // a pidfd per child where the kernel offers one (the normal way)
        Polling,  // look at every child each kPollInterval
    };

    explicit ChildReaper(Watch watch = Watch::PidFds);
    // Stops the thread. Children still running then are no longer waited for.
    ~ChildReaper();
    ChildReaper(const ChildReaper&) = delete;
    ChildReaper& operator=(const ChildReaper&) = delete;

    // Hands over a child started by this process.
    void Adopt(pid_t pid);
    // Children handed over and not yet reaped.
    std::size_t PendingCount() const;
    // Waits until every child handed over so far has been reaped. False on time-out.
    bool WaitUntilAllReaped(std::chrono::milliseconds timeout);

private:
    struct Child {
        pid_t pid;
        int pidfd;  // -1 when the kernel gave none; the child is then polled
    };

    void Run();
    void ReapEnded();

    const Watch watch_;
    mutable std::mutex mutex_;
    std::condition_variable reaped_;
    std::vector<Child> children_;
    bool stopping_ = false;
    Event wake_;
    std::thread thread_;
};

}  // namespace hushwell
