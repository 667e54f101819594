#include "audio/pulse/PulseSessionControl.h"

#include <utility>

#include "audio/pulse/PulseClientState.h"

namespace hushwell {

PulseSessionControl::PulseSessionControl(std::shared_ptr<PulseClientState> state)
    : state_(std::move(state)) {}

PulseSessionControl::~PulseSessionControl() {
    state_->RemoveListeners(this);
}

AudioResult PulseSessionControl::RegisterAudioSessionNotification(AudioSessionEvents* listener) {
    return state_->AddListener(this, listener);
}

AudioResult PulseSessionControl::UnregisterAudioSessionNotification(AudioSessionEvents* listener) {
    return state_->RemoveListener(this, listener);
}

}  // namespace hushwell
