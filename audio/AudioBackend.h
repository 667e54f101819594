#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioResult.h"

namespace hushwell {

class AudioClient;
class AudioEndpoint;
class EndpointNotificationClient;
class EndpointVolume;
struct PlaybackStream;
struct ProgramIdentity;
struct StreamChange;

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

    // --- Programs' own playback streams (Unsupported unless the backend offers them) ---

    // Every playback stream on every output, in the server's order.
    virtual AudioResult ListPlaybackStreams(std::vector<PlaybackStream>& streams);
    // The mute and volume of one playback stream (the master scalar as on an output). The
    // object stays bound to that stream; once the stream has ended its calls give NotFound.
    virtual AudioResult ActivateStreamVolume(std::uint32_t streamIndex,
                                             std::unique_ptr<EndpointVolume>& volume);
    // A new, uninitialised audio client that records what this one playback stream plays
    // (before the output's volume and mute), initialised as a loopback capture in its mix
    // format. Its session is disconnected (DeviceRemoval) when the stream ends.
    virtual AudioResult ActivateStreamCapture(const PlaybackStream& stream,
                                              std::unique_ptr<AudioClient>& client);
    // What the server remembers of the program's mute and volume for its next stream
    // (PulseAudio's stream-restore, WirePlumber's stream state): where it still holds the
    // mute or volume `change` set (the volume within half a step), it is put back to the one
    // found before. Ok also when it remembers nothing of the program.
    virtual AudioResult GiveBackRememberedState(const StreamChange& change);
};

}  // namespace hushwell
