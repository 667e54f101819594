#include "app/DetectionEngineHost.h"

namespace hushwell {

DetectionEngineHost::DetectionEngineHost(AudioBackend& backend, VolumeManager& volume,
                                         EngineTimers& timers, ProgramPaths paths,
                                         FiringSink* firings)
    : backend_(backend),
      volume_(volume),
      timers_(timers),
      paths_(std::move(paths)),
      firings_(firings) {}

DetectionEngineHost::~DetectionEngineHost() {
    Shutdown();
}

void DetectionEngineHost::Start() {
    if (shutDown_) {
        return;
    }
    if (initialised_) {
        engine_.Resume();
        return;
    }
    engine_.InitEngine(
        DetectionEngine::ProgramSetup(backend_, volume_, launcher_, timers_, paths_, firings_));
    initialised_ = true;
}

void DetectionEngineHost::Stop() {
    if (initialised_ && !shutDown_) {
        engine_.Pause();
    }
}

void DetectionEngineHost::Shutdown() {
    if (shutDown_) {
        return;
    }
    shutDown_ = true;
    if (initialised_) {
        engine_.ShutdownEngine();
    }
}

void DetectionEngineHost::OnEngineTimer(int id) {
    if (initialised_ && !shutDown_) {
        engine_.OnEngineTimer(id);
    }
}

}  // namespace hushwell
