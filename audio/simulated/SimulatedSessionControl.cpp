#include "audio/simulated/SimulatedSessionControl.h"

#include <utility>

#include "audio/simulated/SimulatedCore.h"

namespace hushwell {

SimulatedSessionControl::SimulatedSessionControl(std::shared_ptr<SimulatedCore> core,
                                                 std::shared_ptr<SimulatedStream> stream)
    : core_(std::move(core)), stream_(std::move(stream)) {}

SimulatedSessionControl::~SimulatedSessionControl() {
    core_->RemoveSessionListeners(*stream_, this);
}

AudioResult SimulatedSessionControl::RegisterAudioSessionNotification(
    AudioSessionEvents* listener) {
    return core_->AddSessionListener(*stream_, this, listener);
}

AudioResult SimulatedSessionControl::UnregisterAudioSessionNotification(
    AudioSessionEvents* listener) {
    return core_->RemoveSessionListener(*stream_, this, listener);
}

}  // namespace hushwell
