#pragma once

#include <memory>

#include "audio/CaptureClient.h"

namespace hushwell {

class PulseClientState;

// Reads the packets of a loopback capture on the PulseAudio backend. Threads: as
// CaptureClient.
class PulseCaptureClient final : public CaptureClient {
public:
    explicit PulseCaptureClient(std::shared_ptr<PulseClientState> state);

    AudioResult GetNextPacketSize(std::uint32_t& frames) override;
    AudioResult GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                          std::uint32_t& flags) override;
    AudioResult ReleaseBuffer(std::uint32_t framesRead) override;

private:
    std::shared_ptr<PulseClientState> state_;
};

}  // namespace hushwell
