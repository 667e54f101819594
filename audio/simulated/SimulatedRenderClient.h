#pragma once

#include <memory>

#include "audio/RenderClient.h"

namespace hushwell {

class SimulatedCore;
struct SimulatedStream;

// Writes into a simulated render stream. Threads: as RenderClient.
class SimulatedRenderClient final : public RenderClient {
public:
    SimulatedRenderClient(std::shared_ptr<SimulatedCore> core,
                          std::shared_ptr<SimulatedStream> stream);

    AudioResult GetBuffer(std::uint32_t frames, std::uint8_t*& data) override;
    AudioResult ReleaseBuffer(std::uint32_t frames, std::uint32_t flags) override;

private:
    std::shared_ptr<SimulatedCore> core_;
    std::shared_ptr<SimulatedStream> stream_;
};

}  // namespace hushwell
