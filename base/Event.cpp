#include "base/Event.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <stdexcept>

namespace hushwell {

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until the deadline for poll(), -1 for no deadline.
int PollTimeout(std::optional<Clock::time_point> deadline) {
    if (!deadline) {
        return -1;
    }
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

}  // namespace

Event::Event(Mode mode, bool initiallySet)
    : mode_(mode), fd_(eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC)) {
    if (fd_ < 0) {
        throw std::runtime_error("eventfd failed");
    }
    if (initiallySet) {
        Set();
    }
}

Event::~Event() {
    close(fd_);
}

void Event::Set() {
    const std::uint64_t one = 1;
    // The counter only matters as zero or non-zero; a full counter (EAGAIN) is still set.
    ssize_t ignored = write(fd_, &one, sizeof one);
    (void)ignored;
}

void Event::Reset() {
    std::uint64_t value = 0;
    ssize_t ignored = read(fd_, &value, sizeof value);
    (void)ignored;
}

bool Event::IsSet() const {
    pollfd p{fd_, POLLIN, 0};
    return poll(&p, 1, 0) == 1 && (p.revents & POLLIN) != 0;
}

bool Event::TryTake() {
    if (mode_ == Mode::ManualReset) {
        return IsSet();
    }
    // Reading clears the counter atomically, so exactly one waiter takes the signal.
    std::uint64_t value = 0;
    return read(fd_, &value, sizeof value) == static_cast<ssize_t>(sizeof value);
}

bool Event::Wait(std::chrono::milliseconds timeout) {
    return WaitForAny({this}, timeout).has_value();
}

void Event::Wait() {
    WaitForAny({this}, kWaitForever);
}

std::optional<std::size_t> WaitForAny(const std::vector<Event*>& events,
                                      std::chrono::milliseconds timeout) {
    std::optional<Clock::time_point> deadline;
    if (timeout.count() >= 0) {
        deadline = Clock::now() + timeout;
    }
    std::vector<pollfd> fds;
    fds.reserve(events.size());
    for (Event* e : events) {
        fds.push_back(pollfd{e->Fd(), POLLIN, 0});
    }
    for (;;) {
        // One poll shows every set event; the first of them in priority order is taken. Only
        // that one is read, so a wait costs one poll and one read. Another waiter may have
        // taken an auto-reset one between poll and read, in which case we poll again.
        const int left = PollTimeout(deadline);
        const int rc = poll(fds.data(), fds.size(), left);
        if (rc < 0 && errno != EINTR) {
            return std::nullopt;
        }
        for (std::size_t i = 0; rc > 0 && i < events.size(); ++i) {
            if ((fds[i].revents & POLLIN) != 0 && events[i]->TryTake()) {
                return i;
            }
        }
        if (rc == 0 && left >= 0 && PollTimeout(deadline) == 0) {
            return std::nullopt;
        }
    }
}

}  // namespace hushwell
