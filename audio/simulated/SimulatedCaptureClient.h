#pragma once

#include <memory>

#include "audio/CaptureClient.h"

namespace hushwell {

class SimulatedCore;
struct SimulatedStream;

// Reads a simulated loopback capture; each call first brings the stream up to the clock.
// Threads: as CaptureClient.
class SimulatedCaptureClient final : public CaptureClient {
public:
    SimulatedCaptureClient(std::shared_ptr<SimulatedCore> core,
                           std::shared_ptr<SimulatedStream> stream);

    AudioResult GetNextPacketSize(std::uint32_t& frames) override;
    AudioResult GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                          std::uint32_t& flags) override;
    AudioResult ReleaseBuffer(std::uint32_t framesRead) override;

private:
    std::shared_ptr<SimulatedCore> core_;
    std::shared_ptr<SimulatedStream> stream_;
};

}  // namespace hushwell
