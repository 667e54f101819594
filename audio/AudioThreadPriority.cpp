#include "audio/AudioThreadPriority.h"

#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

namespace hushwell {

namespace {

// A low real-time priority: above every normal thread, below the sound server's own threads.
constexpr int kRealTimePriority = 5;
// The nice value used where real-time scheduling is not allowed.
constexpr int kRaisedNice = -11;

int ThisThreadId() {
    return static_cast<int>(syscall(SYS_gettid));
}

}  // namespace

AudioThreadPriority::AudioThreadPriority() {
    sched_param old{};
    if (pthread_getschedparam(pthread_self(), &oldPolicy_, &old) == 0) {
        oldPriority_ = old.sched_priority;
        sched_param raised{};
        raised.sched_priority = kRealTimePriority;
        if (pthread_setschedparam(pthread_self(), SCHED_RR | SCHED_RESET_ON_FORK, &raised) == 0) {
            realTime_ = true;
            joined_ = true;
            return;
        }
    }
    // Linux keeps a nice value per thread; getpriority can return -1 legitimately.
    errno = 0;
    const int nice = getpriority(PRIO_PROCESS, static_cast<id_t>(ThisThreadId()));
    if (errno != 0) {
        return;
    }
    oldNice_ = nice;
    joined_ = setpriority(PRIO_PROCESS, static_cast<id_t>(ThisThreadId()), kRaisedNice) == 0;
}

AudioThreadPriority::~AudioThreadPriority() {
    if (!joined_) {
        return;
    }
    if (realTime_) {
        sched_param old{};
        old.sched_priority = oldPriority_;
        pthread_setschedparam(pthread_self(), oldPolicy_, &old);
        return;
    }
    setpriority(PRIO_PROCESS, static_cast<id_t>(ThisThreadId()), oldNice_);
}

}  // namespace hushwell
