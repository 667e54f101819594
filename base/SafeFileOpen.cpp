#include "base/SafeFileOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace hushwell {

namespace {

constexpr int kNameAttempts = 100;
constexpr const char* kTemporaryInfix = ".tmp";

std::atomic<unsigned> temporaryCounter{0};

void SetProblem(std::string* problem, const char* text) {
    if (problem != nullptr) {
        *problem = text;
    }
}

}  // namespace

int OpenRegularFile(const std::string& path, int flags, mode_t mode, bool noFollow,
                    std::string* problem) {
    const int fd =
        ::open(path.c_str(), flags | O_CLOEXEC | O_NONBLOCK | (noFollow ? O_NOFOLLOW : 0), mode);
    if (fd < 0) {
        const int error = errno;
        struct stat info {};
        if (error == ENOENT) {
            SetProblem(problem, "does not exist");
        } else if (noFollow && error == ELOOP && ::lstat(path.c_str(), &info) == 0 &&
                   S_ISLNK(info.st_mode)) {
            SetProblem(problem, "is a symbolic link");
        } else if (error == EISDIR) {
            SetProblem(problem, "is a folder");
        } else if (error == ENXIO) {
            // A FIFO opened for writing without a reader, or a socket.
            SetProblem(problem, "is not a regular file");
        } else {
            SetProblem(problem, std::strerror(error));
        }
        errno = error;
        return -1;
    }
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        SetProblem(problem, std::strerror(error));
        ::close(fd);
        errno = error;
        return -1;
    }
    if (!S_ISREG(info.st_mode)) {
        const bool folder = S_ISDIR(info.st_mode);
        SetProblem(problem, folder ? "is a folder" : "is not a regular file");
        ::close(fd);
        errno = folder ? EISDIR : EINVAL;
        return -1;
    }
    return fd;
}

int CreateTemporaryBeside(const std::string& target, mode_t mode, std::string& tempPath) {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        tempPath = target + kTemporaryInfix + std::to_string(::getpid()) + "-" +
                   std::to_string(temporaryCounter.fetch_add(1));
        const int fd =
            ::open(tempPath.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) {
            if (fd < 0) {
                tempPath.clear();
            }
            return fd;
        }
    }
    tempPath.clear();
    errno = EEXIST;
    return -1;
}

}  // namespace hushwell
