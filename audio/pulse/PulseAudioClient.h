#pragma once

#include <memory>

#include "audio/AudioClient.h"

namespace hushwell {

class PulseClientState;

// An audio client on a sink of the PulseAudio backend; the work is done by its state, which
// its services share. Threads: any thread.
class PulseAudioClient final : public AudioClient {
public:
    explicit PulseAudioClient(std::shared_ptr<PulseClientState> state);

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
    std::shared_ptr<PulseClientState> state_;
};

}  // namespace hushwell
