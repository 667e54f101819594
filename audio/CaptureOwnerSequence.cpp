#include "audio/CaptureOwnerSequence.h"

#include <cstdint>
#include <memory>
#include <new>
#include <span>

#include "audio/AudioBackend.h"
#include "audio/AudioEndpoint.h"
#include "audio/LoopbackCapture.h"

namespace hushwell {

namespace {

// Opens and starts the published object; returns how the session went once capture ended.
CaptureSessionEnd Capture(LoopbackCapture& capture, std::unique_ptr<std::uint8_t[]>& buffer,
                          const CaptureOwnerHooks& hooks) {
    if (!capture.OpenStream()) {
        return CaptureSessionEnd::OpenFailed;
    }
    const WaveFormat format = capture.HistoryFormat();
    const std::uint64_t size = static_cast<std::uint64_t>(format.sampleRate) *
                               capture.HistoryFrameSize() * LoopbackCapture::kSnapshotSeconds;
    if (size == 0 || size > UINT32_MAX) {
        return CaptureSessionEnd::BeginFailed;
    }
    // Not zeroed: its pages cost nothing until a recording fills them.
    buffer.reset(new (std::nothrow) std::uint8_t[size]);
    if (!buffer || !capture.BeginCapture(std::span(buffer.get(), size))) {
        return CaptureSessionEnd::BeginFailed;
    }
    if (hooks.started) {
        hooks.started();
    }
    capture.WaitForCaptureEnd();
    return capture.CaptureEndReason() == LoopbackCapture::EndReason::Shutdown
               ? CaptureSessionEnd::Stopped
               : CaptureSessionEnd::CaptureEnded;
}

}  // namespace

const char* CaptureSessionEndText(CaptureSessionEnd end) {
    switch (end) {
        case CaptureSessionEnd::NoEndpoint:
            return "no default output";
        case CaptureSessionEnd::OpenFailed:
            return "the capture stream could not be opened";
        case CaptureSessionEnd::BeginFailed:
            return "capture could not be started";
        case CaptureSessionEnd::Refused:
            return "capture was being stopped";
        case CaptureSessionEnd::Stopped:
            return "capture stopped";
        case CaptureSessionEnd::CaptureEnded:
            return "capture ended: the default output could not be followed";
    }
    return "unknown";
}

CaptureSessionEnd RunCaptureSession(AudioBackend& backend, const CaptureOwnerHooks& hooks) {
    std::shared_ptr<AudioEndpoint> endpoint;
    if (!Succeeded(backend.GetDefaultAudioEndpoint(endpoint)) || !endpoint) {
        return CaptureSessionEnd::NoEndpoint;
    }
    // Declared before the object, so that it outlives the capture thread that writes it.
    std::unique_ptr<std::uint8_t[]> snapshotBuffer;
    auto capture = std::make_unique<LoopbackCapture>(backend, std::move(endpoint), true);
    if (!hooks.publish(capture.get())) {
        return CaptureSessionEnd::Refused;
    }
    const CaptureSessionEnd end = Capture(*capture, snapshotBuffer, hooks);
    hooks.publish(nullptr);
    capture->CloseStream();
    capture.reset();
    return end;
}

}  // namespace hushwell
