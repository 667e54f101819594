#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "audio/AudioSessionEvents.h"
#include "audio/CapturePacketQueue.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class Event;

// The state of one simulated audio client, shared by the client and its services and kept
// in its device's list. Plain data: SimulatedCore reads and changes it under its lock.
struct SimulatedStream {
    enum class Kind { Uninitialized, Capture, Render, SessionOnly };

    // The device as it was when the client was activated; the stream is invalid once the
    // device is gone or has changed its format.
    std::string deviceId;
    std::uint64_t deviceInstance = 0;
    std::uint64_t formatVersion = 0;

    Kind kind = Kind::Uninitialized;
    WaveFormat format{};
    std::uint32_t bufferFrames = 0;
    bool started = false;
    std::shared_ptr<Event> event;

    // Pacing by the clock: frames of device time that passed while started.
    std::uint64_t runStartTick = 0;     // tick of the last Start
    std::uint64_t framesBeforeRun = 0;  // device frames that passed before the last Start
    std::uint64_t framesDone = 0;       // capture: frames packetised; render: frames accounted
    std::uint64_t framesAtSignal = 0;   // render: device frames at the last event signal

    // Capture.
    std::unique_ptr<CapturePacketQueue> packets;
    std::deque<std::uint8_t> pendingInput;  // played into the device, not yet packetised

    // Render.
    std::uint64_t framesWritten = 0;
    std::uint64_t framesPlayed = 0;
    std::vector<std::uint8_t> renderScratch;
    std::uint32_t heldRenderFrames = 0;
    bool renderHeld = false;

    // Session listeners with the session control object that registered each.
    std::vector<std::pair<const void*, AudioSessionEvents*>> listeners;
};

}  // namespace hushwell
