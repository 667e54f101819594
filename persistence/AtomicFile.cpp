#include "persistence/AtomicFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>

#include "base/DurableWrite.h"
#include "base/SafeFileOpen.h"

namespace hushwell {

namespace {

constexpr int kMaxLinkHops = 40;       // as the kernel follows at most 40 links
constexpr mode_t kNewFileMode = 0644;  // narrowed further by the process's umask

bool IsLink(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode);
}

}  // namespace

AtomicFile::AtomicFile(std::string path) : path_(std::move(path)) {}

AtomicFile::~AtomicFile() {
    Discard();
}

std::string AtomicFile::FolderOf(const std::string& path) {
    return hushwell::FolderOf(path);
}

std::string AtomicFile::ResolveLinks(const std::string& path) {
    std::string target = path;
    for (int hop = 0; hop < kMaxLinkHops; ++hop) {
        if (!IsLink(target)) {
            return target;
        }
        std::error_code ec;
        const std::string link = std::filesystem::read_symlink(target, ec).string();
        if (ec || link.empty()) {
            return target;
        }
        // A relative link is relative to the folder holding it.
        target =
            link.front() == '/' ? link : (std::filesystem::path(FolderOf(target)) / link).string();
    }
    return {};
}

void AtomicFile::Discard() {
    if (!tempPath_.empty()) {
        ::unlink(tempPath_.c_str());
        tempPath_.clear();
    }
    prepared_ = false;
}

bool AtomicFile::Fail() {
    error_ = std::error_code(errno, std::generic_category());
    Discard();
    return false;
}

bool AtomicFile::Prepare(std::string_view contents) {
    Discard();
    error_.clear();
    errno = ENOENT;
    if (path_.empty()) {
        return Fail();
    }
    target_ = ResolveLinks(path_);
    if (target_.empty()) {
        errno = ELOOP;
        return Fail();
    }
    const int fd = CreateTemporaryBeside(target_, kNewFileMode, tempPath_);
    if (fd < 0) {
        return Fail();
    }
    // A replaced file keeps its permissions.
    struct stat existing {};
    if (::stat(target_.c_str(), &existing) == 0) {
        ::fchmod(fd, existing.st_mode & 07777);
    }
    const bool written = WriteAll(fd, contents) && ::fsync(fd) == 0;
    const int writeError = errno;
    const bool closed = ::close(fd) == 0;
    if (!written || !closed) {
        if (!written) {
            errno = writeError;
        }
        return Fail();
    }
    prepared_ = true;
    return true;
}

bool AtomicFile::Commit() {
    if (!prepared_) {
        if (!error_) {
            error_ = std::make_error_code(std::errc::invalid_argument);
        }
        return false;
    }
    if (::rename(tempPath_.c_str(), target_.c_str()) != 0) {
        return Fail();
    }
    tempPath_.clear();
    prepared_ = false;
    SyncFolder(FolderOf(target_));
    return true;
}

bool AtomicFile::Write(const std::string& path, std::string_view contents, std::error_code* error) {
    AtomicFile file(path);
    const bool written = file.Prepare(contents) && file.Commit();
    if (error != nullptr) {
        *error = file.Error();
    }
    return written;
}

}  // namespace hushwell
