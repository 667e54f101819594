#pragma once

#include <string>

namespace hushwell {

// Direction of an audio device; the program only uses output (Render) devices.
enum class DataFlow : int { Render = 0, Capture = 1 };

// The role a default device is default for; the program follows Console.
enum class Role : int { Console = 0, Multimedia = 1, Communications = 2 };

// Receives device notifications from an AudioBackend it is registered with
// (AudioBackend::RegisterEndpointNotificationCallback).
//
// Threads: called on the audio layer's notification thread, one notification at a time and in
// the order they happened; never on a thread of the caller and never while a layer lock is
// held, so the callback may call back into the layer. It should only set flags and signal
// events; a callback that takes long delays the notifications queued behind it.
class EndpointNotificationClient {
public:
    virtual ~EndpointNotificationClient() = default;

    // The default device for (flow, role) is now the device with the given id. The layer
    // reports every change of the default output as (Render, Console); a simulated backend
    // can report any pair.
    virtual void OnDefaultDeviceChanged(DataFlow flow, Role role, const std::string& deviceId) = 0;
};

}  // namespace hushwell
