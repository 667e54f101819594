#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/EndpointVolume.h"

namespace hushwell {

class SimulatedCore;

// Mute and volume of one simulated device; the level is kept exactly as set.
// Threads: any thread.
class SimulatedEndpointVolume final : public EndpointVolume {
public:
    SimulatedEndpointVolume(std::shared_ptr<SimulatedCore> core, std::string id,
                            std::uint64_t instance);

    AudioResult SetMute(bool mute) override;
    AudioResult GetMasterVolumeLevelScalar(float& level) override;
    AudioResult SetMasterVolumeLevelScalar(float level) override;

private:
    std::shared_ptr<SimulatedCore> core_;
    std::string id_;
    std::uint64_t instance_;
};

}  // namespace hushwell
