#include "base/SpilledBytes.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <utility>
#include <vector>

#include "base/DurableWrite.h"

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

}  // namespace

SpilledBytes SpilledBytes::Spill(const std::string& folder, std::span<const std::uint8_t> bytes) {
    if (bytes.empty()) {
        return {};
    }
    Writer writer(folder);
    if (!writer.Append(bytes)) {
        return {};
    }
    return writer.Map();
}

SpilledBytes::Writer::Writer(const std::string& folder)
    : fd_(folder.empty() ? -1 : CreateUnnamedFile(folder)) {}

SpilledBytes::Writer::~Writer() {
    if (fd_ >= 0) {
        ::close(fd_);
    }
}

bool SpilledBytes::Writer::Append(std::span<const std::uint8_t> bytes) {
    if (fd_ < 0 || failed_) {
        return false;
    }
    if (!WriteAll(fd_, std::as_bytes(bytes))) {
        // The part of these bytes that was written lies past Size(): neither ReadBack nor Map
        // reaches it. Further appends would follow it, so the writer takes no more.
        failed_ = true;
        return false;
    }
    size_ += bytes.size();
    return true;
}

bool SpilledBytes::Writer::ReadBack(std::span<std::uint8_t> out) const {
    if (fd_ < 0 || out.size() > size_) {
        return false;
    }
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t got =
            ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(done));
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(got);
    }
    return true;
}

SpilledBytes SpilledBytes::Writer::Map() {
    if (fd_ < 0 || size_ == 0) {
        return {};
    }
    void* mapped = ::mmap(nullptr, size_, PROT_READ, MAP_SHARED, fd_, 0);
    if (mapped == MAP_FAILED) {
        return {};
    }
    ::close(fd_);  // the mapping keeps the file
    fd_ = -1;
    return SpilledBytes(static_cast<const std::uint8_t*>(mapped), size_);
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
