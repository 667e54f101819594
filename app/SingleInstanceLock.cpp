#include "app/SingleInstanceLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

namespace hushwell {

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

bool SingleInstanceLock::TryAcquire(const std::string& folder) {
    if (fd_ >= 0) {
        return true;
    }
    const std::string path = (std::filesystem::path(folder) / kFileName).string();
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
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
