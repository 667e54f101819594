#include "audio/simulated/SimulatedEndpoint.h"

#include <utility>

#include "audio/simulated/SimulatedAudioClient.h"
#include "audio/simulated/SimulatedCore.h"
#include "audio/simulated/SimulatedEndpointVolume.h"

namespace hushwell {

SimulatedEndpoint::SimulatedEndpoint(std::shared_ptr<SimulatedCore> core, std::string id,
                                     std::uint64_t instance)
    : core_(std::move(core)), id_(std::move(id)), instance_(instance) {}

std::string SimulatedEndpoint::GetId() const {
    return id_;
}

AudioResult SimulatedEndpoint::ActivateAudioClient(std::unique_ptr<AudioClient>& client) {
    std::shared_ptr<SimulatedStream> stream;
    const AudioResult result = core_->CreateStream(id_, instance_, stream);
    if (result != AudioResult::Ok) {
        return result;
    }
    client = std::make_unique<SimulatedAudioClient>(core_, std::move(stream));
    return AudioResult::Ok;
}

AudioResult SimulatedEndpoint::ActivateEndpointVolume(std::unique_ptr<EndpointVolume>& volume) {
    const AudioResult result = core_->CheckDevice(id_, instance_);
    if (result != AudioResult::Ok) {
        return result;
    }
    volume = std::make_unique<SimulatedEndpointVolume>(core_, id_, instance_);
    return AudioResult::Ok;
}

}  // namespace hushwell
