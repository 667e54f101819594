#include "app/DetectionEngineHost.h"

#include "audio/Clock.h"

namespace hushwell {

DetectionEngineHost::DetectionEngineHost(AudioBackend& backend, CVolumeManager& volume,
                                         EngineTimers& timers, std::string applicationDataFolder,
                                         FiringSink* firings)
    : backend_(backend),
      volume_(volume),
      timers_(timers),
      applicationDataFolder_(std::move(applicationDataFolder)),
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
    DetectionEngine::Setup setup;
    setup.backend = &backend_;
    setup.clock = &SystemClock::Instance();
    setup.volume = &volume_;
    setup.opener = &launcher_;
    setup.timers = &timers_;
    setup.applicationDataFolder = applicationDataFolder_;
    setup.firings = firings_;
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
