#include "audio/DefaultOutputFollower.h"

#include <utility>

#include "audio/AudioBackend.h"
#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioSessionControl.h"

namespace hushwell {

DefaultOutputFollower::DefaultOutputFollower(AudioBackend& backend,
                                             std::shared_ptr<AudioEndpoint> endpoint,
                                             FollowedStream& stream)
    : backend_(backend), stream_(stream), endpoint_(std::move(endpoint)) {}

DefaultOutputFollower::~DefaultOutputFollower() {
    // The stream is being destroyed around this object: only this object's own part is released.
    UnregisterEndpointCallback();
    ReleaseClient();
}

// ---- owner's thread

bool DefaultOutputFollower::OpenClient(const std::function<bool(const WaveFormat&)>& acceptFormat) {
    std::unique_ptr<AudioClient> client;
    if (!endpoint_ || !Succeeded(endpoint_->ActivateAudioClient(client))) {
        return false;
    }
    WaveFormat format;
    if (!Succeeded(client->GetMixFormat(format)) || !acceptFormat(format)) {
        return false;
    }
    std::lock_guard lock(clientMutex_);
    audioClient_ = std::move(client);
    return true;
}

bool DefaultOutputFollower::Follow() {
    if (!RegisterSessionEvents()) {
        return false;
    }
    if (!Succeeded(backend_.RegisterEndpointNotificationCallback(this))) {
        return false;
    }
    endpointCallbackRegistered_ = true;
    return true;
}

void DefaultOutputFollower::Close() {
    UnregisterEndpointCallback();
    ReleaseStream();
}

void DefaultOutputFollower::UnregisterEndpointCallback() {
    if (endpointCallbackRegistered_) {
        backend_.UnregisterEndpointNotificationCallback(this);
        endpointCallbackRegistered_ = false;
    }
}

// ---- owner's and stream's threads

bool DefaultOutputFollower::RegisterSessionEvents() {
    std::unique_ptr<AudioSessionControl> session;
    if (!audioClient_ || !Succeeded(audioClient_->GetSessionControl(session)) ||
        !Succeeded(session->RegisterAudioSessionNotification(this))) {
        return false;
    }
    std::lock_guard lock(clientMutex_);
    sessionControl_ = std::move(session);
    return true;
}

void DefaultOutputFollower::ReleaseStream() {
    stream_.ReleaseStreamService();
    ReleaseClient();
}

void DefaultOutputFollower::ReleaseClient() {
    std::unique_ptr<AudioSessionControl> session;
    std::unique_ptr<AudioClient> client;
    std::shared_ptr<AudioEndpoint> endpoint;
    {
        std::lock_guard lock(clientMutex_);
        session = std::move(sessionControl_);
        client = std::move(audioClient_);
        endpoint = std::move(endpoint_);
    }
    // Unregistering waits for a callback in progress, so it runs outside the client lock.
    if (session) {
        session->UnregisterAudioSessionNotification(this);
    }
}

// ---- any thread

void DefaultOutputFollower::WithClient(const std::function<void(AudioClient*)>& use) const {
    std::lock_guard lock(clientMutex_);
    use(audioClient_.get());
}

bool DefaultOutputFollower::IsSwitching() const {
    return inSwitch_.load();
}

std::string DefaultOutputFollower::EndpointId() const {
    std::lock_guard lock(clientMutex_);
    return endpoint_ ? endpoint_->GetId() : std::string();
}

// ---- notification thread

void DefaultOutputFollower::OnSessionDisconnected(DisconnectReason reason) {
    if (reason == DisconnectReason::DeviceRemoval) {
        SignalSwitch();
    } else if (reason == DisconnectReason::FormatChanged) {
        // The device stays the default: nothing else will tell the switch that it may go on.
        SignalSwitch();
        switchCompleteEvent_.Set();
    }
}

void DefaultOutputFollower::OnDefaultDeviceChanged(DataFlow flow, Role role,
                                                   const std::string& /*deviceId*/) {
    if (flow != DataFlow::Render || role != kFollowedRole) {
        return;
    }
    // A removal already asked for a switch; the new default only lets that switch go on.
    if (!inSwitch_.load()) {
        SignalSwitch();
    }
    switchCompleteEvent_.Set();
}

void DefaultOutputFollower::SignalSwitch() {
    // Counted first, so that a switch ending meanwhile sees it and keeps the flag set.
    switchRequests_.fetch_add(1);
    inSwitch_.store(true);
    switchEvent_.Set();
}

// ---- stream's thread

bool DefaultOutputFollower::SwitchToDefaultEndpoint() {
    if (!inSwitch_.load()) {
        return true;  // an extra signal for a switch that has already been made
    }
    const std::uint64_t requestsSeen = switchRequests_.load();
    if (!audioClient_ || !Succeeded(audioClient_->Stop())) {
        return FailSwitch();
    }
    ReleaseStream();
    // The first switch never waits (the event starts set). Later ones give the server a moment
    // to name the new default; if it names none in time, the current default is taken as it is.
    switchCompleteEvent_.Wait(kSwitchCompleteTimeout);
    for (int attempt = 1; !OpenDefaultEndpoint(); ++attempt) {
        // While the server settles it may name a default that is already gone; the default it
        // names next sets the event again and earns another attempt.
        if (attempt == kSwitchAttempts || !switchCompleteEvent_.Wait(kSwitchCompleteTimeout)) {
            return FailSwitch();
        }
    }
    switchCompleteEvent_.Reset();
    if (!Succeeded(audioClient_->Start())) {
        return FailSwitch();
    }
    inSwitch_.store(false);
    // A removal or format change reported while this switch ran still needs its own switch.
    if (switchRequests_.load() != requestsSeen) {
        inSwitch_.store(true);
    }
    return true;
}

bool DefaultOutputFollower::OpenDefaultEndpoint() {
    // Cleared first, so that a default named while this attempt runs is noticed.
    switchCompleteEvent_.Reset();
    std::shared_ptr<AudioEndpoint> endpoint;
    std::unique_ptr<AudioClient> client;
    WaveFormat format;
    if (!Succeeded(backend_.GetDefaultAudioEndpoint(endpoint)) || !endpoint ||
        !Succeeded(endpoint->ActivateAudioClient(client)) ||
        !Succeeded(client->GetMixFormat(format)) || !stream_.AcceptSwitchFormat(format)) {
        return false;
    }
    {
        std::lock_guard lock(clientMutex_);
        endpoint_ = std::move(endpoint);
        audioClient_ = std::move(client);
    }
    if (!stream_.ConfigureStream(*audioClient_) || !RegisterSessionEvents()) {
        ReleaseStream();
        return false;
    }
    return true;
}

bool DefaultOutputFollower::FailSwitch() {
    inSwitch_.store(false);
    return false;
}

}  // namespace hushwell
