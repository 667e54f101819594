#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace hushwell {

// The small steps every file the program replaces atomically is written with: all bytes to a
// descriptor, then, after the rename, the folder flushed so the rename itself survives a power
// cut. WriteAll also serves every other writer that must get a whole buffer out (the event
// log, spilled bytes). Any thread.

// Writes every byte to `fd`, going on after interrupted and short writes. False on an error,
// with errno set; a write that takes no byte at all counts as a full disk (ENOSPC), so that a
// descriptor that never takes the bytes cannot keep the caller looping.
bool WriteAll(int fd, std::span<const std::byte> bytes);
bool WriteAll(int fd, std::string_view data);

// Flushes the folder's entries to the disk; a folder that cannot be opened or synced is no
// error (the file itself is already on the disk).
void SyncFolder(const std::string& folder);

// The folder part of a path: "." for a bare name, "/" for a file in the root.
std::string FolderOf(const std::string& path);

}  // namespace hushwell
