#pragma once

#include <memory>

#include "audio/AudioClient.h"

namespace hushwell {

class SimulatedCore;
struct SimulatedStream;

// An audio client on a simulated device; its services share its stream state.
// Threads: any thread (SimulatedCore serialises).
class SimulatedAudioClient final : public AudioClient {
public:
    SimulatedAudioClient(std::shared_ptr<SimulatedCore> core,
                         std::shared_ptr<SimulatedStream> stream);

    AudioResult GetMixFormat(WaveFormat& format) override;
    AudioResult Initialize(std::uint32_t streamFlags, std::int64_t bufferDuration100ns,
                           const WaveFormat& format) override;
    AudioResult GetBufferSize(std::uint32_t& frames) override;
    AudioResult SetEventHandle(std::shared_ptr<Event> event) override;
    AudioResult GetDevicePeriod(std::int64_t& defaultPeriod100ns) override;
    AudioResult GetCurrentPadding(std::uint32_t& frames) override;
    AudioResult GetCaptureClient(std::unique_ptr<CaptureClient>& capture) override;
    AudioResult GetRenderClient(std::unique_ptr<RenderClient>& render) override;
    AudioResult GetSessionControl(std::unique_ptr<AudioSessionControl>& session) override;
    AudioResult Start() override;
    AudioResult Stop() override;

private:
    std::shared_ptr<SimulatedCore> core_;
    std::shared_ptr<SimulatedStream> stream_;
};

}  // namespace hushwell
