#pragma once

#include <memory>

#include "audio/RenderClient.h"

namespace hushwell {

class PulseClientState;

// Writes into a render stream of the PulseAudio backend. Threads: as RenderClient.
class PulseRenderClient final : public RenderClient {
public:
    explicit PulseRenderClient(std::shared_ptr<PulseClientState> state);

    AudioResult GetBuffer(std::uint32_t frames, std::uint8_t*& data) override;
    AudioResult ReleaseBuffer(std::uint32_t frames, std::uint32_t flags) override;

private:
    std::shared_ptr<PulseClientState> state_;
};

}  // namespace hushwell
