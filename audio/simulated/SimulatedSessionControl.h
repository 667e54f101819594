#pragma once

#include <memory>

#include "audio/AudioSessionControl.h"

namespace hushwell {

class SimulatedCore;
struct SimulatedStream;

// The session of a simulated audio client. Threads: as AudioSessionControl.
class SimulatedSessionControl final : public AudioSessionControl {
public:
    SimulatedSessionControl(std::shared_ptr<SimulatedCore> core,
                            std::shared_ptr<SimulatedStream> stream);
    ~SimulatedSessionControl() override;
    SimulatedSessionControl(const SimulatedSessionControl&) = delete;
    SimulatedSessionControl& operator=(const SimulatedSessionControl&) = delete;

    AudioResult RegisterAudioSessionNotification(AudioSessionEvents* listener) override;
    AudioResult UnregisterAudioSessionNotification(AudioSessionEvents* listener) override;

private:
    std::shared_ptr<SimulatedCore> core_;
    std::shared_ptr<SimulatedStream> stream_;
};

}  // namespace hushwell
