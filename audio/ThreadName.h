#pragma once

namespace hushwell {

// Names the calling thread for the system's process views (/proc/PID/task/TID/comm, top -H,
// debuggers), so that each of the program's threads can be told apart when measuring it.
// Names longer than the system allows (15 bytes) are cut. Failure is ignored.
void NameThisThread(const char* name);

}  // namespace hushwell
