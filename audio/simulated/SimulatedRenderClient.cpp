#include "audio/simulated/SimulatedRenderClient.h"

#include <utility>

#include "audio/simulated/SimulatedCore.h"

namespace hushwell {

SimulatedRenderClient::SimulatedRenderClient(std::shared_ptr<SimulatedCore> core,
                                             std::shared_ptr<SimulatedStream> stream)
    : core_(std::move(core)), stream_(std::move(stream)) {}

AudioResult SimulatedRenderClient::GetBuffer(std::uint32_t frames, std::uint8_t*& data) {
    return core_->RenderGetBuffer(*stream_, frames, data);
}

AudioResult SimulatedRenderClient::ReleaseBuffer(std::uint32_t frames, std::uint32_t flags) {
    return core_->RenderReleaseBuffer(*stream_, frames, flags);
}

}  // namespace hushwell
