#include "triggers/ControlWorkerShutdown.h"

#include "audio/AudioBackend.h"
#include "triggers/ControlRunner.h"
#include "triggers/EventLog.h"
#include "triggers/VolumeManager.h"

namespace hushwell {

namespace {

constexpr const char* kWorkersLeftMessage =
    "A control was still running at exit; the output connection was left open for it.";

}  // namespace

bool ReleaseAfterControlWorkers(std::unique_ptr<VolumeManager>& volumeManager,
                                std::unique_ptr<AudioBackend>& backend,
                                std::chrono::milliseconds timeout) {
    if (!ControlRunner::WaitForAllWorkers(timeout)) {
        WriteLogLine(kWorkersLeftMessage);
        // Deliberately not destroyed: the process ends with them, the worker never sees them go.
        static_cast<void>(volumeManager.release());
        static_cast<void>(backend.release());
        return false;
    }
    volumeManager.reset();
    backend.reset();
    return true;
}

}  // namespace hushwell
