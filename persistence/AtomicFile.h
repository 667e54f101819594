#pragma once

#include <string>
#include <string_view>

namespace hushwell {

// Replaces a file without ever leaving it truncated: the new content goes to a temporary
// file in the same folder, is flushed to the disk, and is renamed over the target only by
// Commit. Until then the target is untouched; a temporary file that is never committed is
// removed by the destructor. Used by one thread at a time.
class AtomicFile {
public:
    explicit AtomicFile(std::string path);
    ~AtomicFile();
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    // Writes and flushes the whole content to the temporary file. False on any failure
    // (full disk, file-size limit, read-only folder); the target is then unchanged.
    bool Prepare(std::string_view contents);
    // Renames the prepared temporary file over the target.
    bool Commit();

    // Prepare and Commit in one step.
    static bool Write(const std::string& path, std::string_view contents);

    // The folder part of a path ("." when it has none).
    static std::string FolderOf(const std::string& path);

private:
    void Discard();

    std::string path_;
    std::string tempPath_;
    bool prepared_ = false;
};

}  // namespace hushwell
