#pragma once

#include <cstdint>
#include <memory>

#include "audio/EndpointVolume.h"

namespace hushwell {

class SimulatedPlaybackStreams;

// Mute and volume of one simulated playback stream; the level is kept exactly as set.
// Threads: any thread.
class SimulatedStreamVolume final : public EndpointVolume {
public:
    SimulatedStreamVolume(std::shared_ptr<SimulatedPlaybackStreams> streams, std::uint32_t index);

    AudioResult SetMute(bool mute) override;
    AudioResult GetMasterVolumeLevelScalar(float& level) override;
    AudioResult SetMasterVolumeLevelScalar(float level) override;

private:
    std::shared_ptr<SimulatedPlaybackStreams> streams_;
    std::uint32_t index_;
};

}  // namespace hushwell
