#include "audio/pulse/PulseEndpoint.h"

#include <utility>

#include "audio/pulse/PulseAudioClient.h"
#include "audio/pulse/PulseClientState.h"
#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseEndpointVolume.h"

namespace hushwell {

PulseEndpoint::PulseEndpoint(std::shared_ptr<PulseConnection> connection, std::string sinkName)
    : connection_(std::move(connection)), sinkName_(std::move(sinkName)) {}

std::string PulseEndpoint::GetId() const {
    return sinkName_;
}

AudioResult PulseEndpoint::ActivateAudioClient(std::unique_ptr<AudioClient>& client) {
    PulseSinkInfo sink;
    {
        PulseLock lock(connection_->Mainloop());
        if (AudioResult found = connection_->QuerySinkLocked(sinkName_, sink);
            found != AudioResult::Ok) {
            return found;
        }
    }
    client =
        std::make_unique<PulseAudioClient>(std::make_shared<PulseClientState>(connection_, sink));
    return AudioResult::Ok;
}

AudioResult PulseEndpoint::ActivateEndpointVolume(std::unique_ptr<EndpointVolume>& volume) {
    PulseSinkInfo sink;
    {
        PulseLock lock(connection_->Mainloop());
        if (AudioResult found = connection_->QuerySinkLocked(sinkName_, sink);
            found != AudioResult::Ok) {
            return found;
        }
    }
    volume = std::make_unique<PulseEndpointVolume>(connection_, sinkName_);
    return AudioResult::Ok;
}

}  // namespace hushwell
