#pragma once

#include <memory>
#include <string>

#include "audio/AudioResult.h"

namespace hushwell {

class AudioClient;
class EndpointVolume;

// One output device, as AudioBackend::GetDefaultAudioEndpoint found it. It names a fixed
// device (on PulseAudio, a sink by name); it does not follow later default changes.
//
// Threads: any thread; each caller activates its own objects on it.
class AudioEndpoint {
public:
    virtual ~AudioEndpoint() = default;

    // The device's id (the sink name on PulseAudio), as OnDefaultDeviceChanged reports it.
    virtual std::string GetId() const = 0;

    // A new, uninitialised audio client on this device. NotFound when the device is gone.
    virtual AudioResult ActivateAudioClient(std::unique_ptr<AudioClient>& client) = 0;
    // The mute and master volume of this device. NotFound when the device is gone.
    virtual AudioResult ActivateEndpointVolume(std::unique_ptr<EndpointVolume>& volume) = 0;
};

}  // namespace hushwell
