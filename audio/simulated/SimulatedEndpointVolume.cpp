#include "audio/simulated/SimulatedEndpointVolume.h"

#include <utility>

#include "audio/simulated/SimulatedCore.h"

namespace hushwell {

SimulatedEndpointVolume::SimulatedEndpointVolume(std::shared_ptr<SimulatedCore> core,
                                                 std::string id, std::uint64_t instance)
    : core_(std::move(core)), id_(std::move(id)), instance_(instance) {}

AudioResult SimulatedEndpointVolume::SetMute(bool mute) {
    return core_->SetMute(id_, instance_, mute);
}

AudioResult SimulatedEndpointVolume::GetMasterVolumeLevelScalar(float& level) {
    return core_->GetVolume(id_, instance_, level);
}

AudioResult SimulatedEndpointVolume::SetMasterVolumeLevelScalar(float level) {
    return core_->SetVolume(id_, instance_, level);
}

}  // namespace hushwell
