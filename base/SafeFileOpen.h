#pragma once

#include <sys/types.h>

#include <string>

namespace hushwell {

// Opening the files of the data folder, which a hostile or broken folder may hold as FIFOs,
// folders, devices or symbolic links. Any thread.

// Opens `path` with `flags` (O_CLOEXEC and O_NONBLOCK added, so that a FIFO never waits for
// its other end) and keeps it only when it is a regular file. With O_CREAT, `mode` is the new
// file's mode. noFollow adds O_NOFOLLOW: a symbolic link at the path is refused rather than
// followed. Returns the descriptor, or -1 with errno set and `problem` (when given) saying in
// words what is wrong: "does not exist", "is a folder", "is not a regular file", "is a symbolic
// link" or the system's reason.
int OpenRegularFile(const std::string& path, int flags, mode_t mode, bool noFollow,
                    std::string* problem = nullptr);

// Creates a new, empty temporary file in the folder of `target`, named after it, exclusively
// (O_EXCL with O_NOFOLLOW: nothing already there, link or file, is ever followed or reused),
// with `mode` narrowed by the umask. Returns the descriptor opened for writing and sets
// tempPath, or -1 with errno set.
int CreateTemporaryBeside(const std::string& target, mode_t mode, std::string& tempPath);

}  // namespace hushwell
