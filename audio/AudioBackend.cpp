#include "audio/AudioBackend.h"

#include <utility>

#include "audio/AudioEndpoint.h"

namespace hushwell {

AudioResult AudioBackend::GetAudioEndpoint(const std::string& deviceId,
                                           std::shared_ptr<AudioEndpoint>& endpoint) {
    std::shared_ptr<AudioEndpoint> current;
    if (AudioResult found = GetDefaultAudioEndpoint(current); found != AudioResult::Ok) {
        return found;
    }
    if (!current || current->GetId() != deviceId) {
        return AudioResult::NotFound;
    }
    endpoint = std::move(current);
    return AudioResult::Ok;
}

AudioResult AudioBackend::ListPlaybackStreams(std::vector<PlaybackStream>&) {
    return AudioResult::Unsupported;
}

AudioResult AudioBackend::ActivateStreamVolume(std::uint32_t, std::unique_ptr<EndpointVolume>&) {
    return AudioResult::Unsupported;
}

AudioResult AudioBackend::ActivateStreamCapture(const PlaybackStream&,
                                                std::unique_ptr<AudioClient>&) {
    return AudioResult::Unsupported;
}

AudioResult AudioBackend::GiveBackRememberedState(const StreamChange&) {
    return AudioResult::Unsupported;
}

}  // namespace hushwell
