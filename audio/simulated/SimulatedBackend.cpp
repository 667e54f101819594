#include "audio/simulated/SimulatedBackend.h"

#include "audio/simulated/SimulatedCore.h"
#include "audio/simulated/SimulatedEndpoint.h"
#include "audio/simulated/SimulatedPlaybackStreams.h"
#include "audio/simulated/SimulatedStreamVolume.h"

namespace hushwell {

SimulatedBackend::SimulatedBackend(const Clock& clock)
    : core_(std::make_shared<SimulatedCore>(clock)),
      playbackStreams_(std::make_shared<SimulatedPlaybackStreams>()) {}

SimulatedBackend::~SimulatedBackend() {
    core_->StopRealTimePump();
}

AudioResult SimulatedBackend::GetDefaultAudioEndpoint(std::shared_ptr<AudioEndpoint>& endpoint) {
    std::string id;
    std::uint64_t instance = 0;
    const AudioResult result = core_->DefaultDevice(id, instance);
    if (result == AudioResult::Ok) {
        endpoint = std::make_shared<SimulatedEndpoint>(core_, id, instance);
    }
    return result;
}

AudioResult SimulatedBackend::EnumAudioEndpoints(std::vector<std::string>& deviceIds) {
    return core_->DeviceIds(deviceIds);
}

AudioResult SimulatedBackend::GetAudioEndpoint(const std::string& deviceId,
                                               std::shared_ptr<AudioEndpoint>& endpoint) {
    std::uint64_t instance = 0;
    const AudioResult result = core_->FindDevice(deviceId, instance);
    if (result == AudioResult::Ok) {
        endpoint = std::make_shared<SimulatedEndpoint>(core_, deviceId, instance);
    }
    return result;
}

AudioResult SimulatedBackend::RegisterEndpointNotificationCallback(
    EndpointNotificationClient* client) {
    return core_->AddEndpointClient(client);
}

AudioResult SimulatedBackend::UnregisterEndpointNotificationCallback(
    EndpointNotificationClient* client) {
    return core_->RemoveEndpointClient(client);
}

AudioResult SimulatedBackend::QueryServerName(std::string& name) {
    if (!core_->ServerAvailable()) {
        return AudioResult::NoServer;
    }
    name = "Simulated";
    return AudioResult::Ok;
}

bool SimulatedBackend::AddDevice(const std::string& id, const WaveFormat& mixFormat) {
    return core_->AddDevice(id, mixFormat);
}

bool SimulatedBackend::SetDefaultDevice(const std::string& id) {
    return core_->SetDefaultDevice(id);
}

bool SimulatedBackend::RemoveDevice(const std::string& id) {
    return core_->RemoveDevice(id);
}

bool SimulatedBackend::ChangeDeviceFormat(const std::string& id, const WaveFormat& mixFormat) {
    return core_->ChangeDeviceFormat(id, mixFormat);
}

std::string SimulatedBackend::DefaultDeviceId() const {
    return core_->DefaultDeviceId();
}

void SimulatedBackend::NotifyDefaultDeviceChanged(DataFlow flow, Role role, const std::string& id) {
    core_->NotifyDefaultDeviceChanged(flow, role, id);
}

bool SimulatedBackend::DisconnectSessions(const std::string& id, DisconnectReason reason) {
    return core_->DisconnectSessions(id, reason);
}

bool SimulatedBackend::Play(const std::string& id, const std::vector<std::uint8_t>& bytes) {
    return core_->Play(id, bytes);
}

bool SimulatedBackend::PlayOnDefault(const std::vector<std::uint8_t>& bytes) {
    return core_->Play(core_->DefaultDeviceId(), bytes);
}

std::vector<std::uint8_t> SimulatedBackend::TakeRenderedBytes(const std::string& id) {
    return core_->TakeRenderedBytes(id);
}

bool SimulatedBackend::IsMuted(const std::string& id) const {
    return core_->IsMuted(id);
}

float SimulatedBackend::Volume(const std::string& id) const {
    return core_->Volume(id);
}

int SimulatedBackend::MuteCalls(const std::string& id) const {
    return core_->MuteCalls(id);
}

int SimulatedBackend::VolumeSetCalls(const std::string& id) const {
    return core_->VolumeSetCalls(id);
}

bool SimulatedBackend::SetDeviceVolume(const std::string& id, float level) {
    return core_->SetDeviceVolume(id, level);
}

bool SimulatedBackend::SetDeviceMute(const std::string& id, bool mute) {
    return core_->SetDeviceMute(id, mute);
}

void SimulatedBackend::SetMuteCallObserver(MuteCallObserver observer) {
    core_->SetMuteCallObserver(std::move(observer));
}

void SimulatedBackend::SetServerAvailable(bool available) {
    core_->SetServerAvailable(available);
}

void SimulatedBackend::SetVolumeSetsFail(bool fail) {
    core_->SetVolumeSetsFail(fail);
}

void SimulatedBackend::Pump() {
    core_->Pump();
}

void SimulatedBackend::StartRealTimePump() {
    core_->StartRealTimePump();
}

bool SimulatedBackend::WaitUntil(const std::function<bool()>& condition,
                                 std::chrono::milliseconds timeout) {
    return core_->WaitUntil(condition, timeout);
}

bool SimulatedBackend::WaitForNotifications(std::chrono::milliseconds timeout) {
    return core_->WaitForNotifications(timeout);
}

AudioResult SimulatedBackend::ListPlaybackStreams(std::vector<PlaybackStream>& streams) {
    return playbackStreams_->List(streams);
}

AudioResult SimulatedBackend::GiveBackRememberedState(const StreamChange& change) {
    return playbackStreams_->GiveBackRemembered(change);
}

AudioResult SimulatedBackend::ActivateStreamVolume(std::uint32_t streamIndex,
                                                   std::unique_ptr<EndpointVolume>& volume) {
    if (!playbackStreams_->Find(streamIndex)) {
        return AudioResult::NotFound;
    }
    volume = std::make_unique<SimulatedStreamVolume>(playbackStreams_, streamIndex);
    return AudioResult::Ok;
}

}  // namespace hushwell
