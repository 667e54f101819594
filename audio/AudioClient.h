#pragma once

#include <cstdint>
#include <memory>

#include "audio/AudioResult.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class AudioSessionControl;
class CaptureClient;
class Event;
class RenderClient;

// Stream flags for AudioClient::Initialize; the values are those the callers' logic names.
inline constexpr std::uint32_t kStreamFlagLoopback = 0x00020000;       // capture the output
inline constexpr std::uint32_t kStreamFlagEventCallback = 0x00040000;  // event-paced rendering
inline constexpr std::uint32_t kStreamFlagNoPersist = 0x00080000;      // accepted, no effect

// Buffer durations and device periods are counted in units of 100 ns.
inline constexpr std::int64_t kHundredNsPerMs = 10000;
inline constexpr std::int64_t kHundredNsPerSecond = 10000000;

// One shared-mode stream on an endpoint (AudioEndpoint::ActivateAudioClient).
//
// Initialize decides what the client is:
// - with kStreamFlagLoopback: a loopback capture of everything the endpoint plays, read through
//   GetCaptureClient. With kStreamFlagEventCallback as well it is event-driven: the event given
//   to SetEventHandle is signalled whenever packets have arrived (once for several that arrive
//   together), so that its reader sleeps until there is something to read. Without the flag,
//   or without an event, the stream is polled.
// - with kStreamFlagEventCallback: a render stream paced by the event given to
//   SetEventHandle, written through GetRenderClient; the event is signalled whenever the
//   stream can take more data (at least once per device period while started).
// - with neither: a session without a stream, only for GetSessionControl (the volume manager
//   uses it to learn that its device went away); Start gives WrongState.
//
// Call order: GetMixFormat, Initialize (the format must equal the mix format; a buffer
// duration of 0 picks the layer's default), then the services, then Start / Stop as often as
// needed. Calls before Initialize give WrongState; after the endpoint was removed or changed
// format they give DeviceInvalidated.
//
// Threads: any thread; calls are serialised inside the layer, so one thread may Stop while
// another is reading or writing. The services (capture, render and session objects) may
// outlive the client; their calls then give DeviceInvalidated.
class AudioClient {
public:
    virtual ~AudioClient() = default;

    // The format the stream carries: 16-bit integer (tag 1) or 32-bit float (tag 3) samples,
    // or the extensible tag with the matching sub-format for more than two channels.
    virtual AudioResult GetMixFormat(WaveFormat& format) = 0;

    virtual AudioResult Initialize(std::uint32_t streamFlags, std::int64_t bufferDuration100ns,
                                   const WaveFormat& format) = 0;

    // The stream's buffer in frames (the render stream's whole queue; for capture, the size
    // that Initialize asked for).
    virtual AudioResult GetBufferSize(std::uint32_t& frames) = 0;

    // The event that paces an event-callback render stream, or tells an event-driven capture
    // that packets have arrived. Kept until the client is gone.
    virtual AudioResult SetEventHandle(std::shared_ptr<Event> event) = 0;

    // The default device period, in 100 ns units.
    virtual AudioResult GetDevicePeriod(std::int64_t& defaultPeriod100ns) = 0;

    // Render: frames written but not yet played. Capture: frames waiting to be read.
    virtual AudioResult GetCurrentPadding(std::uint32_t& frames) = 0;

    // The services of an initialised client; Unsupported when the client is of the other kind.
    virtual AudioResult GetCaptureClient(std::unique_ptr<CaptureClient>& capture) = 0;
    virtual AudioResult GetRenderClient(std::unique_ptr<RenderClient>& render) = 0;
    virtual AudioResult GetSessionControl(std::unique_ptr<AudioSessionControl>& session) = 0;

    // Start and stop the stream; starting a started or stopping a stopped stream is Ok.
    // Stopping a client whose device is gone is Ok as well (nothing is left running), so that
    // an owner tearing down after a removal does not fail at its first step.
    virtual AudioResult Start() = 0;
    virtual AudioResult Stop() = 0;
};

}  // namespace hushwell
