#include "audio/pulse/PulseAudioClient.h"

#include <utility>

#include "audio/pulse/PulseCaptureClient.h"
#include "audio/pulse/PulseClientState.h"
#include "audio/pulse/PulseRenderClient.h"
#include "audio/pulse/PulseSessionControl.h"

namespace hushwell {

namespace {

// The device period the backend paces render events by: 10 ms.
constexpr std::int64_t kDevicePeriod100ns = 10 * kHundredNsPerMs;

}  // namespace

PulseAudioClient::PulseAudioClient(std::shared_ptr<PulseClientState> state)
    : state_(std::move(state)) {}

AudioResult PulseAudioClient::GetMixFormat(WaveFormat& format) {
    return state_->MixFormat(format);
}

AudioResult PulseAudioClient::Initialize(std::uint32_t streamFlags,
                                         std::int64_t bufferDuration100ns,
                                         const WaveFormat& format) {
    return state_->Initialize(streamFlags, bufferDuration100ns, format);
}

AudioResult PulseAudioClient::GetBufferSize(std::uint32_t& frames) {
    return state_->BufferSize(frames);
}

AudioResult PulseAudioClient::SetEventHandle(std::shared_ptr<Event> event) {
    return state_->SetEvent(std::move(event));
}

AudioResult PulseAudioClient::GetDevicePeriod(std::int64_t& defaultPeriod100ns) {
    defaultPeriod100ns = kDevicePeriod100ns;
    return AudioResult::Ok;
}

AudioResult PulseAudioClient::GetCurrentPadding(std::uint32_t& frames) {
    return state_->Padding(frames);
}

AudioResult PulseAudioClient::GetCaptureClient(std::unique_ptr<CaptureClient>& capture) {
    const AudioResult result = state_->CheckKind(PulseClientState::Kind::Capture);
    if (result == AudioResult::Ok) {
        capture = std::make_unique<PulseCaptureClient>(state_);
    }
    return result;
}

AudioResult PulseAudioClient::GetRenderClient(std::unique_ptr<RenderClient>& render) {
    const AudioResult result = state_->CheckKind(PulseClientState::Kind::Render);
    if (result == AudioResult::Ok) {
        render = std::make_unique<PulseRenderClient>(state_);
    }
    return result;
}

AudioResult PulseAudioClient::GetSessionControl(std::unique_ptr<AudioSessionControl>& session) {
    AudioResult result = state_->CheckKind(PulseClientState::Kind::SessionOnly);
    if (result == AudioResult::Unsupported) {
        result = AudioResult::Ok;  // every initialised client has a session
    }
    if (result == AudioResult::Ok) {
        session = std::make_unique<PulseSessionControl>(state_);
    }
    return result;
}

AudioResult PulseAudioClient::Start() {
    return state_->Start();
}

AudioResult PulseAudioClient::Stop() {
    return state_->Stop();
}

}  // namespace hushwell
