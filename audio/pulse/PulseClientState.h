#pragma once

#include <pulse/channelmap.h>
#include <pulse/sample.h>
#include <pulse/stream.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "audio/AudioResult.h"
#include "audio/AudioSessionEvents.h"
#include "audio/CapturePacketQueue.h"
#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseFormat.h"
#include "audio/pulse/PulseSinkWatcher.h"
#include "audio/pulse/PulseStream.h"
#include "audio/pulse/PulseTimer.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class Event;

// The state of one audio client on the PulseAudio backend, shared by the client and its
// services: the sink it was activated on, its stream (a record stream on the sink's monitor,
// a playback stream on the sink, or none for a session-only client), the packets captured,
// the render buffer, and the session listeners. Registered with the connection, which tells
// it when its sink goes away or changes format, or the server is lost.
//
// Threads: the public operations from any thread (each takes the main loop's lock, except the
// capture reads, which take only the packet queue's); the *Locked ones with the lock held; the
// stream callbacks run on the loop thread.
class PulseClientState final : public PulseSinkWatcher,
                               public std::enable_shared_from_this<PulseClientState> {
public:
    enum class Kind { Uninitialized, Capture, Render, SessionOnly };

    // monitoredStream: the index of one playback stream of the sink that a capture records
    // alone; PA_INVALID_INDEX records everything the sink plays.
    PulseClientState(std::shared_ptr<PulseConnection> connection, const PulseSinkInfo& sink,
                     std::uint32_t monitoredStream = PA_INVALID_INDEX);
    ~PulseClientState();
    PulseClientState(const PulseClientState&) = delete;
    PulseClientState& operator=(const PulseClientState&) = delete;

    // The audio client's operations (see AudioClient).
    AudioResult MixFormat(WaveFormat& format);
    AudioResult Initialize(std::uint32_t flags, std::int64_t bufferDuration100ns,
                           const WaveFormat& format);
    AudioResult BufferSize(std::uint32_t& frames);
    AudioResult SetEvent(std::shared_ptr<Event> event);
    AudioResult Padding(std::uint32_t& frames);
    AudioResult Start();
    AudioResult Stop();
    AudioResult CheckKind(Kind kind);

    // Capture (see CaptureClient).
    AudioResult NextPacketSize(std::uint32_t& frames);
    AudioResult GetCaptureBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                                 std::uint32_t& flags);
    AudioResult ReleaseCaptureBuffer(std::uint32_t frames);

    // Render (see RenderClient).
    AudioResult GetRenderBuffer(std::uint32_t frames, std::uint8_t*& data);
    AudioResult ReleaseRenderBuffer(std::uint32_t frames, std::uint32_t flags);

    // Session listeners, each with the session control that registered it.
    AudioResult AddListener(const void* owner, AudioSessionEvents* listener);
    AudioResult RemoveListener(const void* owner, AudioSessionEvents* listener);
    void RemoveListeners(const void* owner);

    // For the connection, with the lock held.
    std::uint32_t SinkIndex() const override { return sinkIndex_; }
    bool HasSinkFormat(const pa_sample_spec& sampleSpec, const pa_channel_map& map) const override;
    // Ends the client for good and tells its session listeners, once.
    void InvalidateLocked(DisconnectReason reason) override;

private:
    using Listener = std::pair<const void*, AudioSessionEvents*>;

    AudioResult UsableLocked() const;
    AudioResult CaptureUsable() const;
    AudioResult ConnectRecordLocked(std::int64_t bufferDuration100ns);
    AudioResult ConnectPlaybackLocked(std::int64_t bufferDuration100ns);
    AudioResult AwaitStreamReadyLocked(const char* call);
    AudioResult CorkLocked(bool cork);
    AudioResult RenderPaddingLocked(std::uint32_t& frames);
    void ArmPeriodTimerLocked();
    void OnStreamState();
    void OnReadable();
    bool PushReadableLocked();
    void OnWritable();
    bool IsListener(const Listener& listener);

    static void StreamStateCallback(pa_stream* stream, void* userdata);
    static void ReadCallback(pa_stream* stream, std::size_t bytes, void* userdata);
    static void WriteCallback(pa_stream* stream, std::size_t bytes, void* userdata);

    const std::shared_ptr<PulseConnection> connection_;
    // Fixed at activation.
    const std::string sinkName_;
    const std::uint32_t sinkIndex_;
    const pa_sample_spec sinkSpec_;
    const pa_channel_map sinkMap_;
    const std::string monitorName_;
    const std::uint32_t monitoredStream_;
    const PulseStreamFormat streamFormat_;

    // Changed under the main loop's lock; atomic, so that the capture reads may look at them
    // without it (see CaptureUsable).
    std::atomic<Kind> kind_{Kind::Uninitialized};
    std::atomic<bool> invalid_{false};
    // Under the main loop's lock.
    bool started_ = false;
    const char* connectCall_ = "";  // the pa_ call that connected the stream, for warnings
    PulseStream stream_;
    std::uint32_t bufferFrames_ = 0;
    std::shared_ptr<Event> event_;  // render: paces the writer; capture: packets arrived
    PulseTimer periodTimer_;        // render: signals the event every device period
    std::unique_ptr<CapturePacketQueue> packets_;
    std::vector<std::uint8_t> partialFrame_;  // captured bytes short of a whole frame
    std::vector<std::uint8_t> renderScratch_;
    std::uint32_t heldRenderFrames_ = 0;
    bool renderHeld_ = false;

    // Under listenersMutex_ (taken after the main loop's lock, never before it).
    std::mutex listenersMutex_;
    std::vector<Listener> listeners_;
};

}  // namespace hushwell
