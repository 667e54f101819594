#include "audio/simulated/SimulatedCaptureClient.h"

#include <utility>

#include "audio/simulated/SimulatedCore.h"

namespace hushwell {

SimulatedCaptureClient::SimulatedCaptureClient(std::shared_ptr<SimulatedCore> core,
                                               std::shared_ptr<SimulatedStream> stream)
    : core_(std::move(core)), stream_(std::move(stream)) {}

AudioResult SimulatedCaptureClient::GetNextPacketSize(std::uint32_t& frames) {
    frames = 0;
    CapturePacketQueue* queue = nullptr;
    const AudioResult result = core_->CaptureQueue(*stream_, queue);
    return result == AudioResult::Ok ? queue->GetNextPacketSize(frames) : result;
}

AudioResult SimulatedCaptureClient::GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                                              std::uint32_t& flags) {
    data = nullptr;
    frames = 0;
    flags = 0;
    CapturePacketQueue* queue = nullptr;
    const AudioResult result = core_->CaptureQueue(*stream_, queue);
    return result == AudioResult::Ok ? queue->GetBuffer(data, frames, flags) : result;
}

AudioResult SimulatedCaptureClient::ReleaseBuffer(std::uint32_t framesRead) {
    CapturePacketQueue* queue = nullptr;
    const AudioResult result = core_->CaptureQueue(*stream_, queue);
    return result == AudioResult::Ok ? queue->ReleaseBuffer(framesRead) : result;
}

}  // namespace hushwell
