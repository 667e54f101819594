#include "audio/pulse/PulseRenderClient.h"

#include <utility>

#include "audio/pulse/PulseClientState.h"

namespace hushwell {

PulseRenderClient::PulseRenderClient(std::shared_ptr<PulseClientState> state)
    : state_(std::move(state)) {}

AudioResult PulseRenderClient::GetBuffer(std::uint32_t frames, std::uint8_t*& data) {
    return state_->GetRenderBuffer(frames, data);
}

AudioResult PulseRenderClient::ReleaseBuffer(std::uint32_t frames, std::uint32_t flags) {
    return state_->ReleaseRenderBuffer(frames, flags);
}

}  // namespace hushwell
