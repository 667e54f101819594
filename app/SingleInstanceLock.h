#pragma once

#include <string>

namespace hushwell {

// The single-instance test: an exclusive lock on a file, held for the whole run. The system
// releases it when the process ends in any way, so a crash never leaves a stale lock.
// Main thread only.
class SingleInstanceLock {
public:
    static constexpr const char* kFileName = "Hushwell.lock";

    SingleInstanceLock() = default;
    ~SingleInstanceLock();
    SingleInstanceLock(const SingleInstanceLock&) = delete;
    SingleInstanceLock& operator=(const SingleInstanceLock&) = delete;

    // The lock file in a folder.
    static std::string PathIn(const std::string& folder);
    // $XDG_RUNTIME_DIR when it names a folder, otherwise the given data folder.
    static std::string LockFolder(const std::string& dataFolder);

    // True when this process now holds the lock on kFileName in the folder; false when
    // another process holds it, or when the file cannot be used: then Problem says why. Only a
    // regular file is used (opening never blocks, never follows a link).
    bool TryAcquire(const std::string& folder);
    bool Held() const { return fd_ >= 0; }
    // Why the lock file could not be used, in words ("is a folder", ...); empty when the lock
    // is held here or by another process.
    const std::string& Problem() const { return problem_; }

private:
    int fd_ = -1;
    std::string problem_;
};

}  // namespace hushwell
