#include "audio/ThreadName.h"

#include <pthread.h>

#include <cstring>

namespace hushwell {

namespace {

// The system's limit, without the terminating zero.
constexpr std::size_t kMaxNameLength = 15;

}  // namespace

void NameThisThread(const char* name) {
    char cut[kMaxNameLength + 1] = {};
    std::strncpy(cut, name, kMaxNameLength);
    pthread_setname_np(pthread_self(), cut);
}

}  // namespace hushwell
