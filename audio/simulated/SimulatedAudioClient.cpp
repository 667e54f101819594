#include "audio/simulated/SimulatedAudioClient.h"

#include <utility>

#include "audio/simulated/SimulatedCaptureClient.h"
#include "audio/simulated/SimulatedCore.h"
#include "audio/simulated/SimulatedRenderClient.h"
#include "audio/simulated/SimulatedSessionControl.h"

namespace hushwell {

namespace {

// The simulated device period: 10 ms.
constexpr std::int64_t kDevicePeriod100ns = 10 * kHundredNsPerMs;

}  // namespace

SimulatedAudioClient::SimulatedAudioClient(std::shared_ptr<SimulatedCore> core,
                                           std::shared_ptr<SimulatedStream> stream)
    : core_(std::move(core)), stream_(std::move(stream)) {}

AudioResult SimulatedAudioClient::GetMixFormat(WaveFormat& format) {
    return core_->MixFormat(*stream_, format);
}

AudioResult SimulatedAudioClient::Initialize(std::uint32_t streamFlags,
                                             std::int64_t bufferDuration100ns,
                                             const WaveFormat& format) {
    return core_->Initialize(*stream_, streamFlags, bufferDuration100ns, format);
}

AudioResult SimulatedAudioClient::GetBufferSize(std::uint32_t& frames) {
    return core_->BufferSize(*stream_, frames);
}

AudioResult SimulatedAudioClient::SetEventHandle(std::shared_ptr<Event> event) {
    return core_->SetEvent(*stream_, std::move(event));
}

AudioResult SimulatedAudioClient::GetDevicePeriod(std::int64_t& defaultPeriod100ns) {
    defaultPeriod100ns = kDevicePeriod100ns;
    return AudioResult::Ok;
}

AudioResult SimulatedAudioClient::GetCurrentPadding(std::uint32_t& frames) {
    return core_->Padding(*stream_, frames);
}

AudioResult SimulatedAudioClient::GetCaptureClient(std::unique_ptr<CaptureClient>& capture) {
    const AudioResult result = core_->CheckKind(*stream_, SimulatedStream::Kind::Capture);
    if (result == AudioResult::Ok) {
        capture = std::make_unique<SimulatedCaptureClient>(core_, stream_);
    }
    return result;
}

AudioResult SimulatedAudioClient::GetRenderClient(std::unique_ptr<RenderClient>& render) {
    const AudioResult result = core_->CheckKind(*stream_, SimulatedStream::Kind::Render);
    if (result == AudioResult::Ok) {
        render = std::make_unique<SimulatedRenderClient>(core_, stream_);
    }
    return result;
}

AudioResult SimulatedAudioClient::GetSessionControl(std::unique_ptr<AudioSessionControl>& session) {
    AudioResult result = core_->CheckKind(*stream_, SimulatedStream::Kind::SessionOnly);
    if (result == AudioResult::Unsupported) {
        result = AudioResult::Ok;  // every initialised client has a session
    }
    if (result == AudioResult::Ok) {
        session = std::make_unique<SimulatedSessionControl>(core_, stream_);
    }
    return result;
}

AudioResult SimulatedAudioClient::Start() {
    return core_->Start(*stream_);
}

AudioResult SimulatedAudioClient::Stop() {
    return core_->Stop(*stream_);
}

}  // namespace hushwell
