#pragma once

#include <string>
#include <string_view>

namespace hushwell {

// The small steps every file the program replaces atomically is written with: all bytes to a
// descriptor, then, after the rename, the folder flushed so the rename itself survives a power
// cut. Any thread.

// Writes every byte of `data` to `fd`, going on after interrupted writes; false on an error.
bool WriteAll(int fd, std::string_view data);

// Flushes the folder's entries to the disk; a folder that cannot be opened or synced is no
// error (the file itself is already on the disk).
void SyncFolder(const std::string& folder);

// The folder part of a path: "." for a bare name, "/" for a file in the root.
std::string FolderOf(const std::string& path);

}  // namespace hushwell
