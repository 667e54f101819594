#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/AudioResult.h"
#include "audio/DefaultOutputFollower.h"
#include "audio/RenderBuffer.h"
#include "base/Event.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class AudioBackend;
class AudioClient;
class AudioEndpoint;
class RenderClient;

// Plays a list of RenderBuffers, already converted to the output's mix format, through an
// event-paced shared-mode render stream with a 50 ms buffer. BeginPlayback pre-rolls as many
// whole buffers as the stream holds; the render thread then writes, at each event of the
// stream, every whole buffer that fits into the free part of the stream's buffer (buffers are
// never split, and each must fit into the stream's buffer on its own), until the list is
// empty, the shutdown event is signalled, or the stream fails. Like the capture object it
// follows the default output: when the output is removed or another output becomes the
// default, the render thread reopens the stream on the default output and goes on with the
// list; an output whose mix format differs from the one the list was converted for ends the
// playback instead.
//
// Calling order (the player thread): constructor, OpenStream, BeginPlayback, WaitForRenderEnd,
// (WaitUntilPlayedOut), StopPlayback, CloseStream, destructor.
//
// Following the default output is DefaultOutputFollower's part; this object is the stream it
// reopens (it accepts only an output with the same mix format and takes the new render client).
//
// Lock order: the follower's client lock, the stream lock, the list lock and the position lock
// are never held together, except the list lock with the position lock inside it (pre-roll and
// render thread, while writing).
class StreamRenderer final : private FollowedStream {
public:
    // The stream's buffer.
    static constexpr std::chrono::milliseconds kEngineLatency{50};
    // How long a switch waits for the default output to settle after the first switch.
    static constexpr std::chrono::milliseconds kSwitchCompleteTimeout =
        DefaultOutputFollower::kSwitchCompleteTimeout;

    // Why the render thread ended.
    enum class EndReason {
        Running,       // not started yet, or still rendering
        Exhausted,     // every buffer of the list was written
        Shutdown,      // RequestShutdown (stop or pause)
        SwitchFailed,  // following the default output failed, or its format differs
        StreamFailed,  // writing into the stream failed
    };

    // --- Player thread ---

    // The backend must outlive the object. `endpoint` is the output to play on (the default
    // output when the player looked).
    StreamRenderer(AudioBackend& backend, std::shared_ptr<AudioEndpoint> endpoint);
    // Ends the render thread if it still runs and releases what OpenStream acquired.
    ~StreamRenderer();
    StreamRenderer(const StreamRenderer&) = delete;
    StreamRenderer& operator=(const StreamRenderer&) = delete;

    // Opens the render stream in the endpoint's mix format and registers for session and
    // default-output notifications. False at the first failing step, and for a mix format that
    // is neither 16-bit integer nor 32-bit float PCM.
    bool OpenStream();
    // Takes over the list (which may be empty) and pre-rolls the buffers that fit into the
    // stream (an empty list pre-rolls one stream buffer of silence), starts the stream and the
    // render thread. False
    // when a step fails; the list is then freed and no thread runs.
    bool BeginPlayback(std::unique_ptr<RenderBuffer> list);
    // Waits without time-out for the render thread to end (at once if it never started).
    void WaitForRenderEnd();
    // After the list was exhausted: waits until the stream has played what it holds, the
    // shutdown event is signalled, or the time-out passes. True when it played out.
    bool WaitUntilPlayedOut(std::chrono::milliseconds timeout);
    // Stops the stream and frees every buffer still in the list.
    void StopPlayback();
    // Ends the render thread (shutdown event) if it runs, and releases the stream and the
    // notifications. Calling it twice is harmless.
    void CloseStream();

    // The mix format, its frame size (block align) and the stream's buffer in frames; valid
    // after OpenStream.
    WaveFormat MixFormat() const;
    std::uint32_t FrameSize() const;
    std::uint32_t EngineBufferFrames() const;
    // The stream's default device period in 100 ns units; 0 when it cannot be had.
    std::int64_t DevicePeriod100ns() const;

    // --- Any thread (the player, the user-interface thread) ---

    // Frames handed to the stream since BeginPlayback.
    std::uint32_t FramesWritten() const;
    // Frames handed to the stream and already played: FramesWritten less what the stream
    // still holds (FramesWritten when that cannot be read).
    std::uint32_t FramesPlayed() const;
    // Set from BeginPlayback until the render thread finds the list empty.
    bool IsRunning() const;
    EndReason RenderEndReason() const;
    // Signals the shutdown event: the render thread leaves at its next wait. Returns at once.
    void RequestShutdown();
    // True from a notification that asks for a switch until the render thread has made it.
    bool IsSwitching() const;
    // The id of the output being played on (it changes with a switch).
    std::string EndpointId() const;

private:
    // --- The followed stream: player thread (OpenStream) and render thread (switch) ---
    bool AcceptSwitchFormat(const WaveFormat& format) override;
    bool ConfigureStream(AudioClient& client) override;
    void ReleaseStreamService() override;
    bool AcceptOpenFormat(const WaveFormat& format);

    // --- Player thread (pre-roll) and render thread, under the list lock ---
    bool PreRoll();
    bool FitsEngineBuffer(const RenderBuffer& buffer) const;
    AudioResult WriteFittingBuffersLocked(std::uint64_t freeBytes);
    AudioResult WriteBuffer(const RenderBuffer& buffer);

    // --- Render thread ---
    void RenderThread();
    bool WriteWhatFits();
    void SetRunning(bool running);

    // The output, its audio client and the switch to a new default output. The client is set
    // by the player before the render thread starts and replaced only by the render thread
    // during a switch; the follower's client lock lets other threads use it meanwhile.
    DefaultOutputFollower follower_;

    // Stream lock: the render client taken from the follower's client (replaced with it) and
    // the stream's figures.
    mutable std::mutex streamMutex_;
    std::unique_ptr<RenderClient> renderClient_;
    // Fixed by OpenStream: a switch keeps them or fails.
    WaveFormat mixFormat_{};
    std::uint32_t frameSize_ = 0;
    std::uint32_t engineBufferFrames_ = 0;

    std::thread renderThread_;
    Event shutdownEvent_{Event::Mode::AutoReset};
    std::shared_ptr<Event> samplesReadyEvent_ = std::make_shared<Event>(Event::Mode::AutoReset);
    std::atomic<EndReason> endReason_{EndReason::Running};

    // List lock (the stop lock): the buffers not yet written.
    std::mutex listMutex_;
    std::unique_ptr<RenderBuffer> list_;

    // Position lock: frames written.
    mutable std::mutex positionMutex_;
    std::uint32_t framesWritten_ = 0;

    // Running lock: the running flag.
    mutable std::mutex runningMutex_;
    bool running_ = false;
};

}  // namespace hushwell
