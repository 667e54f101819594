#include "audio/simulated/SimulatedStreamVolume.h"

#include <utility>

#include "audio/simulated/SimulatedPlaybackStreams.h"

namespace hushwell {

SimulatedStreamVolume::SimulatedStreamVolume(std::shared_ptr<SimulatedPlaybackStreams> streams,
                                             std::uint32_t index)
    : streams_(std::move(streams)), index_(index) {}

AudioResult SimulatedStreamVolume::SetMute(bool mute) {
    return streams_->SetMute(index_, mute);
}

AudioResult SimulatedStreamVolume::GetMasterVolumeLevelScalar(float& level) {
    return streams_->GetVolume(index_, level);
}

AudioResult SimulatedStreamVolume::SetMasterVolumeLevelScalar(float level) {
    return streams_->SetVolume(index_, level);
}

}  // namespace hushwell
