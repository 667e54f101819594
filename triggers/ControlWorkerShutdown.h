#pragma once

#include <chrono>
#include <memory>

namespace hushwell {

class AudioBackend;
class VolumeManager;

// The last step of the program's exit: the volume manager and the sound server connection
// beneath it go only once every control worker has ended. A runner that could not stop its
// worker within its own end wait leaves the worker to finish alone, and that worker may still
// post an undo into the volume manager.
//
// Waits at most `timeout` for the workers. When they have ended, destroys the manager, then
// the backend, and returns true. When a worker is still running (stuck in a program it opens,
// say), both are kept alive for the rest of the process rather than destroyed under the worker,
// one log line says so, and the result is false.
//
// Main thread, after the engine and every runner it owned are gone.
bool ReleaseAfterControlWorkers(std::unique_ptr<VolumeManager>& volumeManager,
                                std::unique_ptr<AudioBackend>& backend,
                                std::chrono::milliseconds timeout);

}  // namespace hushwell
