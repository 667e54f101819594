#include "audio/pulse/PulseCaptureClient.h"

#include <utility>

#include "audio/pulse/PulseClientState.h"

namespace hushwell {

PulseCaptureClient::PulseCaptureClient(std::shared_ptr<PulseClientState> state)
    : state_(std::move(state)) {}

AudioResult PulseCaptureClient::GetNextPacketSize(std::uint32_t& frames) {
    return state_->NextPacketSize(frames);
}

AudioResult PulseCaptureClient::GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                                          std::uint32_t& flags) {
    return state_->GetCaptureBuffer(data, frames, flags);
}

AudioResult PulseCaptureClient::ReleaseBuffer(std::uint32_t framesRead) {
    return state_->ReleaseCaptureBuffer(framesRead);
}

}  // namespace hushwell
