#include "audio/pulse/PulseBackend.h"

#include <utility>

#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseEndpoint.h"

namespace hushwell {

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

}  // namespace hushwell
