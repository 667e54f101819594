#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/AudioResult.h"

namespace hushwell {

class AudioEndpoint;
class EndpointNotificationClient;

// The entry to a platform audio backend: the device enumerator. The program makes one backend
// (PulseBackend, in pulse/; tests make a SimulatedBackend, in simulated/) and hands it to
// every audio user; nothing in the layer is a hidden global.
//
// Everything obtained from a backend (endpoints, clients, volumes) keeps what it needs alive,
// so those objects may outlive the backend object; their calls then fail cleanly.
//
// Threads: every method may be called from any thread. Calls that need the sound server fail
// with NoServer or TimedOut within the backend's time-out when it does not answer.
class AudioBackend {
public:
    virtual ~AudioBackend() = default;

    // The default output device (render flow, console role). NotFound when there is none.
    virtual AudioResult GetDefaultAudioEndpoint(std::shared_ptr<AudioEndpoint>& endpoint) = 0;

    // The ids of the active output devices.
    virtual AudioResult EnumAudioEndpoints(std::vector<std::string>& deviceIds) = 0;

    // The output device with this id, default or not. NotFound when there is none. Backends
    // that cannot look a device up by id find it only while it is the default.
    virtual AudioResult GetAudioEndpoint(const std::string& deviceId,
                                         std::shared_ptr<AudioEndpoint>& endpoint);

    // Default-device notifications go to every registered client (see
    // EndpointNotificationClient for the thread). The client must stay alive until
    // Unregister returns; after that it is not being called and never will be again (from
    // inside the client's own callback, only the latter). Registering twice is one
    // registration; unregistering an unknown client gives NotFound.
    virtual AudioResult RegisterEndpointNotificationCallback(
        EndpointNotificationClient* client) = 0;
    virtual AudioResult UnregisterEndpointNotificationCallback(
        EndpointNotificationClient* client) = 0;

    // The sound server's own name, e.g. "pulseaudio" or "PulseAudio (on PipeWire 0.3.65)";
    // see SoundServerKind.h to tell the two apart.
    virtual AudioResult QueryServerName(std::string& name) = 0;
};

}  // namespace hushwell
