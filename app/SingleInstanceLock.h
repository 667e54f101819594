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

    // $XDG_RUNTIME_DIR when it names a folder, otherwise the given data folder.
    static std::string LockFolder(const std::string& dataFolder);

    // True when this process now holds the lock on kFileName in the folder; false when
    // another process holds it or the file cannot be opened.
    bool TryAcquire(const std::string& folder);
    bool Held() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

}  // namespace hushwell
