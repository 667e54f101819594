#pragma once

#include <memory>

#include "audio/AudioSessionControl.h"

namespace hushwell {

class PulseClientState;

// The session of an audio client on the PulseAudio backend. Threads: as AudioSessionControl.
class PulseSessionControl final : public AudioSessionControl {
public:
    explicit PulseSessionControl(std::shared_ptr<PulseClientState> state);
    ~PulseSessionControl() override;
    PulseSessionControl(const PulseSessionControl&) = delete;
    PulseSessionControl& operator=(const PulseSessionControl&) = delete;

    AudioResult RegisterAudioSessionNotification(AudioSessionEvents* listener) override;
    AudioResult UnregisterAudioSessionNotification(AudioSessionEvents* listener) override;

private:
    std::shared_ptr<PulseClientState> state_;
};

}  // namespace hushwell
