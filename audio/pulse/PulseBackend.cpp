#include "audio/pulse/PulseBackend.h"

#include <string>
#include <utility>
#include <vector>

#include "audio/PlaybackStream.h"
#include "audio/pulse/PulseAudioClient.h"
#include "audio/pulse/PulseClientState.h"
#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseEndpoint.h"
#include "audio/pulse/PulsePlaybackStreams.h"

namespace hushwell {
namespace {

// What pipewire-pulse names as the default sink to a client that knows of none.
constexpr const char* kNoDefaultPlaceholder = "@DEFAULT_SINK@";

}  // namespace

PulseBackend::PulseBackend(PulseBackendOptions options)
    : connection_(PulseConnection::Create(std::move(options))) {}

PulseBackend::~PulseBackend() = default;

AudioResult PulseBackend::GetDefaultAudioEndpoint(std::shared_ptr<AudioEndpoint>& endpoint) {
    if (!connection_->Mainloop().Valid()) {
        return AudioResult::NoServer;
    }
    PulseLock lock(connection_->Mainloop());
    std::string defaultSink, serverName;
    if (AudioResult server = connection_->QueryServerLocked(defaultSink, serverName);
        server != AudioResult::Ok) {
        return server;
    }
    if (defaultSink == kNoDefaultPlaceholder) {
        // This client's view on the server may be stale (see RenewContextLocked): a new
        // context asks again. A server that truly has no default answers the same way.
        std::vector<std::string> sinks;
        if (connection_->QuerySinkNamesLocked(sinks) == AudioResult::Ok && !sinks.empty() &&
            connection_->RenewContextLocked() == AudioResult::Ok) {
            connection_->QueryServerLocked(defaultSink, serverName);
        }
    }
    if (defaultSink.empty()) {
        return AudioResult::NotFound;
    }
    // The server may answer with an alias of the default; the endpoint keeps the real name.
    PulseSinkInfo sink;
    if (AudioResult found = connection_->QuerySinkLocked(defaultSink, sink);
        found != AudioResult::Ok) {
        return found;
    }
    endpoint = std::make_shared<PulseEndpoint>(connection_, sink.name);
    return AudioResult::Ok;
}

AudioResult PulseBackend::EnumAudioEndpoints(std::vector<std::string>& deviceIds) {
    if (!connection_->Mainloop().Valid()) {
        return AudioResult::NoServer;
    }
    PulseLock lock(connection_->Mainloop());
    return connection_->QuerySinkNamesLocked(deviceIds);
}

AudioResult PulseBackend::GetAudioEndpoint(const std::string& deviceId,
                                           std::shared_ptr<AudioEndpoint>& endpoint) {
    if (!connection_->Mainloop().Valid()) {
        return AudioResult::NoServer;
    }
    PulseLock lock(connection_->Mainloop());
    PulseSinkInfo sink;
    if (AudioResult found = connection_->QuerySinkLocked(deviceId, sink);
        found != AudioResult::Ok) {
        return found;
    }
    endpoint = std::make_shared<PulseEndpoint>(connection_, sink.name);
    return AudioResult::Ok;
}

AudioResult PulseBackend::RegisterEndpointNotificationCallback(EndpointNotificationClient* client) {
    return connection_->AddEndpointClient(client);
}

AudioResult PulseBackend::UnregisterEndpointNotificationCallback(
    EndpointNotificationClient* client) {
    return connection_->RemoveEndpointClient(client);
}

AudioResult PulseBackend::QueryServerName(std::string& name) {
    if (!connection_->Mainloop().Valid()) {
        return AudioResult::NoServer;
    }
    PulseLock lock(connection_->Mainloop());
    std::string defaultSink;
    return connection_->QueryServerLocked(defaultSink, name);
}

AudioResult PulseBackend::ListPlaybackStreams(std::vector<PlaybackStream>& streams) {
    if (!connection_->Mainloop().Valid()) {
        return AudioResult::NoServer;
    }
    PulseLock lock(connection_->Mainloop());
    return ListPlaybackStreamsLocked(*connection_, streams);
}

AudioResult PulseBackend::GiveBackRememberedState(const StreamChange& change) {
    if (!connection_->Mainloop().Valid()) {
        return AudioResult::NoServer;
    }
    PulseLock lock(connection_->Mainloop());
    return GiveBackRememberedStateLocked(*connection_, change);
}

AudioResult PulseBackend::ActivateStreamVolume(std::uint32_t streamIndex,
                                               std::unique_ptr<EndpointVolume>& volume) {
    if (!connection_->Mainloop().Valid()) {
        return AudioResult::NoServer;
    }
    volume = std::make_unique<PulseStreamVolume>(connection_, streamIndex);
    return AudioResult::Ok;
}

AudioResult PulseBackend::ActivateStreamCapture(const PlaybackStream& stream,
                                                std::unique_ptr<AudioClient>& client) {
    if (!connection_->Mainloop().Valid()) {
        return AudioResult::NoServer;
    }
    PulseSinkInfo sink;
    {
        PulseLock lock(connection_->Mainloop());
        if (AudioResult found = connection_->QuerySinkLocked(stream.outputId, sink);
            found != AudioResult::Ok) {
            return found;
        }
    }
    client = std::make_unique<PulseAudioClient>(
        std::make_shared<PulseClientState>(connection_, sink, stream.index));
    return AudioResult::Ok;
}

}  // namespace hushwell
