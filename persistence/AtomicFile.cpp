#include "persistence/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace hushwell {

namespace {

constexpr int kNameAttempts = 100;
constexpr mode_t kNewFileMode = 0666;  // narrowed by the process's umask

std::atomic<unsigned> tempCounter{0};

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        const ssize_t written = ::write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// Makes the rename itself durable; a folder that cannot be synced is not an error.
void SyncFolder(const std::string& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() {
    Discard();
}

std::string AtomicFile::FolderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

void AtomicFile::Discard() {
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    prepared_ = false;
}

bool AtomicFile::Prepare(std::string_view contents) {
    Discard();
    if (path_.empty()) {
        return false;
    }
    int fd = -1;
    for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
        tempPath_ = path_ + ".tmp" + std::to_string(::getpid()) + "-" +
                    std::to_string(tempCounter.fetch_add(1));
        fd = ::open(tempPath_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kNewFileMode);
        if (fd < 0 && errno != EEXIST) {
            break;
        }
    }
    if (fd < 0) {
        tempPath_.clear();
        return false;
    }
    // A replaced file keeps its permissions.
    struct stat existing {};
    if (::stat(path_.c_str(), &existing) == 0) {
        ::fchmod(fd, existing.st_mode & 07777);
    }
    const bool written = WriteAll(fd, contents) && ::fsync(fd) == 0;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        Discard();
        return false;
    }
    prepared_ = true;
    return true;
}

bool AtomicFile::Commit() {
    if (!prepared_) {
        return false;
    }
    if (::rename(tempPath_.c_str(), path_.c_str()) != 0) {
        Discard();
        return false;
    }
    tempPath_.clear();
    prepared_ = false;
    SyncFolder(FolderOf(path_));
    return true;
}

bool AtomicFile::Write(const std::string& path, std::string_view contents) {
    AtomicFile file(path);
    return file.Prepare(contents) && file.Commit();
}

}  // namespace hushwell
