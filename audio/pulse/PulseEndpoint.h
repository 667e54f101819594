#pragma once

#include <memory>
#include <string>

#include "audio/AudioEndpoint.h"

namespace hushwell {

class PulseConnection;

// A sink of the PulseAudio backend, named by its sink name. Threads: any thread.
class PulseEndpoint final : public AudioEndpoint {
public:
    PulseEndpoint(std::shared_ptr<PulseConnection> connection, std::string sinkName);

    std::string GetId() const override;
    AudioResult ActivateAudioClient(std::unique_ptr<AudioClient>& client) override;
    AudioResult ActivateEndpointVolume(std::unique_ptr<EndpointVolume>& volume) override;

private:
    std::shared_ptr<PulseConnection> connection_;
    std::string sinkName_;
};

}  // namespace hushwell
