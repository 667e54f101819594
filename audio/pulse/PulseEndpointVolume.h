#pragma once

#include <pulse/volume.h>

#include <memory>
#include <string>

#include "audio/EndpointVolume.h"

namespace hushwell {

class PulseConnection;

// Mute and master volume of one sink, by its name. The channel balance seen before the volume
// went to 0 is remembered, so that raising it again restores the balance (the server keeps
// none at 0).
//
// Threads: any thread; each call waits for the server's answer (at most the call time-out).
class PulseEndpointVolume final : public EndpointVolume {
public:
    PulseEndpointVolume(std::shared_ptr<PulseConnection> connection, std::string sinkName);

    AudioResult SetMute(bool mute) override;
    AudioResult GetMasterVolumeLevelScalar(float& level) override;
    AudioResult SetMasterVolumeLevelScalar(float level) override;

private:
    std::shared_ptr<PulseConnection> connection_;
    std::string sinkName_;
    // Under the main loop's lock.
    pa_cvolume balance_{};
    bool haveBalance_ = false;
};

}  // namespace hushwell
