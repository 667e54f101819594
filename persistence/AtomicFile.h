#pragma once

#include <string>
#include <string_view>
#include <system_error>

namespace hushwell {

// Replaces a file without ever leaving it truncated: the new content goes to a temporary
// file in the same folder, is flushed to the disk, and is renamed over the target only by
// Commit. Until then the target is untouched; a temporary file that is never committed is
// removed by the destructor. Used by one thread at a time.
//
// A path that is a symbolic link (or a chain of them) writes the file the link points to,
// with the temporary file in that file's folder, so the link stays a link. A replaced file
// keeps its permissions; a new file gets at most rw-r--r--, narrowed by the umask.
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
    // Why the last Prepare or Commit failed.
    std::error_code Error() const { return error_; }

    // Prepare and Commit in one step; error (if given) receives why it failed.
    static bool Write(const std::string& path, std::string_view contents,
                      std::error_code* error = nullptr);

    // The folder part of a path ("." when it has none).
    static std::string FolderOf(const std::string& path);
    // The file a path names once symbolic links are followed: the path itself when it is
    // not a link or does not exist, the link's target otherwise (which need not exist yet).
    // Empty for a chain of links that does not end.
    static std::string ResolveLinks(const std::string& path);

private:
    void Discard();
    bool Fail();  // keeps errno as the error, discards the temporary file, returns false

    std::string path_;
    std::string target_;  // path_ with links followed; set by Prepare
    std::string tempPath_;
    bool prepared_ = false;
    std::error_code error_;
};

}  // namespace hushwell
