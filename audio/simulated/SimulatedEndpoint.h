#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/AudioEndpoint.h"

namespace hushwell {

class SimulatedCore;

// A simulated output device as found at one moment; it stays bound to that device (a device
// removed and added again under the same id is a different one). Threads: any thread.
class SimulatedEndpoint final : public AudioEndpoint {
public:
    SimulatedEndpoint(std::shared_ptr<SimulatedCore> core, std::string id, std::uint64_t instance);

    std::string GetId() const override;
    AudioResult ActivateAudioClient(std::unique_ptr<AudioClient>& client) override;
    AudioResult ActivateEndpointVolume(std::unique_ptr<EndpointVolume>& volume) override;

private:
    std::shared_ptr<SimulatedCore> core_;
    std::string id_;
    std::uint64_t instance_;
};

}  // namespace hushwell
