#include "app/DetectionEngineHost.h"

#include <utility>

namespace hushwell {

DetectionEngineHost::DetectionEngineHost(AudioBackend& backend, VolumeManager& volume,
                                         EngineTimers& timers, ProgramPaths paths,
                                         FiringSink* firings, ProgramVolumeManager* programVolume)
    : backend_(backend),
      volume_(volume),
      timers_(timers),
      paths_(std::move(paths)),
      firings_(firings),
      programVolume_(programVolume) {}

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
    DetectionEngine::Setup setup =
        DetectionEngine::ProgramSetup(backend_, volume_, launcher_, timers_, paths_, firings_);
    setup.programVolume = programVolume_;
    engine_.InitEngine(std::move(setup));
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
