#include "base/SpilledBytes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

namespace hushwell {

namespace {

constexpr mode_t kOwnerOnly = 0600;
constexpr const char* kFallbackName = "/.hushwell-spill-XXXXXX";

// An unnamed file in folder, opened for reading and writing; -1 on failure.
int CreateUnnamedFile(const std::string& folder) {
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_EXCL | O_CLOEXEC, kOwnerOnly);
    if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) {
        return fd;
    }
    // A file system without unnamed files: a new file of a unique name (mkstemp creates it
    // exclusively), unlinked at once.
    std::string path = folder + kFallbackName;
    std::vector<char> name(path.begin(), path.end());
    name.push_back('\0');
    fd = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd >= 0) {
        ::unlink(name.data());
    }
    return fd;
}

bool WriteAll(int fd, std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        bytes = bytes.subspan(static_cast<std::size_t>(written));
    }
    return true;
}

}  // namespace

SpilledBytes SpilledBytes::Spill(const std::string& folder, std::span<const std::uint8_t> bytes) {
    if (folder.empty() || bytes.empty()) {
        return {};
    }
    const int fd = CreateUnnamedFile(folder);
    if (fd < 0) {
        return {};
    }
    void* mapped = MAP_FAILED;
    if (WriteAll(fd, bytes)) {
        mapped = ::mmap(nullptr, bytes.size(), PROT_READ, MAP_SHARED, fd, 0);
    }
    ::close(fd);  // the mapping keeps the file
    if (mapped == MAP_FAILED) {
        return {};
    }
    return SpilledBytes(static_cast<const std::uint8_t*>(mapped), bytes.size());
}

SpilledBytes::~SpilledBytes() {
    Unmap();
}

SpilledBytes::SpilledBytes(SpilledBytes&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

SpilledBytes& SpilledBytes::operator=(SpilledBytes&& other) noexcept {
    if (this != &other) {
        Unmap();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

void SpilledBytes::Unmap() {
    if (data_ != nullptr) {
        ::munmap(const_cast<std::uint8_t*>(data_), size_);
        data_ = nullptr;
        size_ = 0;
    }
}

}  // namespace hushwell
