#pragma once

#include "audio/AudioResult.h"

namespace hushwell {

// Mute and master volume of one output endpoint (AudioEndpoint::ActivateEndpointVolume). It
// stays bound to that endpoint, also when another one becomes the default; once the endpoint
// is gone the calls give NotFound.
//
// The master scalar is 0.0 to 1.0: on the PulseAudio backend the largest channel volume
// divided by the normal volume (the percentage a volume slider shows, / 100), clamped to 1.
// Setting it scales every channel alike, so the balance between channels is kept, also across
// a trip through 0. Levels that lie on a whole percent are set exactly to that percent.
//
// Threads: any thread (in the program, the volume manager's worker); calls block until the
// server has answered, at most the layer's time-out.
class EndpointVolume {
public:
    virtual ~EndpointVolume() = default;

    virtual AudioResult SetMute(bool mute) = 0;
    virtual AudioResult GetMasterVolumeLevelScalar(float& level) = 0;
    // Levels outside 0..1 (or not a number) give InvalidArgument.
    virtual AudioResult SetMasterVolumeLevelScalar(float level) = 0;
};

}  // namespace hushwell
