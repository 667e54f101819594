#include "app/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "base/SafeFileOpen.h"

namespace hushwell {

namespace {

constexpr mode_t kFileMode = 0600;

}  // namespace

SingleInstanceLock::~SingleInstanceLock() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

std::string SingleInstanceLock::LockFolder(const std::string& dataFolder) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::error_code error;
    if (runtime != nullptr && *runtime == '/' && std::filesystem::is_directory(runtime, error)) {
        return runtime;
    }
    return dataFolder;
}

std::string SingleInstanceLock::PathIn(const std::string& folder) {
    return (std::filesystem::path(folder) / kFileName).string();
}

bool SingleInstanceLock::TryAcquire(const std::string& folder) {
    if (fd_ >= 0) {
        return true;
    }
    const std::string path = PathIn(folder);
    problem_.clear();
    const int fd = OpenRegularFile(path, O_RDWR | O_CREAT, kFileMode, true, &problem_);
    if (fd < 0) {
        return false;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return false;
    }
    fd_ = fd;
    return true;
}

}  // namespace hushwell
