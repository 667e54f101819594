#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <thread>

#include "audio/CaptureBlock.h"
#include "audio/DefaultOutputFollower.h"
#include "base/Event.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class AudioBackend;
class AudioClient;
class AudioEndpoint;
class CaptureClient;

// Records everything the default output plays, through a loopback stream on it, and keeps it
// in two first-in first-out queues of CaptureBlocks:
// - the detector feed, which the owner drains (PopFeedBlock), told by the feed listener
//   whenever packets were added to it, and
// - the history, a rolling window of the last 40 seconds that the sound editor freezes (hold)
//   and copies out into the owner's snapshot buffer (snapshot request). It is kept in the
//   history format: 16-bit samples when the mix format is float (as a recording is saved
//   anyway, at half the memory), otherwise the mix format itself.
// Its own capture thread sleeps until the stream signals that packets have arrived (an
// event-driven stream), then drains every packet waiting; it wakes for nothing else than
// packets, a snapshot request, a switch and the shutdown. When the output is removed, changes
// its format or another output becomes the default, the thread reopens the stream on the
// default output; the queues survive the switch (unless the new output's format differs, in
// which case audio in the old format is dropped so that every block in the queues is in the
// current mix format).
//
// Calling order (the owner's runner thread; RunCaptureSession in CaptureOwnerSequence.h runs
// the whole sequence): constructor, OpenStream, BeginCapture, WaitForCaptureEnd (returns once
// RequestShutdown was called or capture ended on its own), CloseStream, destructor.
//
// Following the default output is DefaultOutputFollower's part; this object is the stream it
// reopens (it adopts the new output's format and takes the new capture client).
//
// Lock order: the owner's capture lock, then the queue lock, then at most the flag locks
// (which are only ever taken inside the queue lock by the capture thread, and never while
// taking the queue lock). The follower's client lock and the capture client lock are never
// held together with another lock of this object.
class LoopbackCapture final : private FollowedStream {
public:
    // The history window, and the snapshot buffer the owner allocates (in seconds of audio).
    static constexpr std::uint32_t kHistorySeconds = 40;
    static constexpr std::uint32_t kSnapshotSeconds = 60;
    // The stream's requested buffer.
    static constexpr std::chrono::milliseconds kEngineLatency{100};
    // How long a switch waits for the default output to settle after the first switch.
    static constexpr std::chrono::milliseconds kSwitchCompleteTimeout =
        DefaultOutputFollower::kSwitchCompleteTimeout;

    // The sample types DetectSampleType finds (the numbers are those the editor compares).
    static constexpr int kSampleTypeFloat32 = 0;
    static constexpr int kSampleTypePcm16 = 1;

    // Why the capture thread ended.
    enum class EndReason {
        Running,       // not started yet, or still capturing
        Shutdown,      // RequestShutdown
        SwitchFailed,  // following the default output failed (none, unacceptable format, ...)
    };

    // --- Owner's runner thread ---

    // The backend must outlive the object. `endpoint` is the output to capture (the default
    // output when the owner looked); with `streamSwitching` the object follows default-output
    // changes, device removal and format changes.
    LoopbackCapture(AudioBackend& backend, std::shared_ptr<AudioEndpoint> endpoint,
                    bool streamSwitching);
    // Ends the capture thread if it still runs and releases what OpenStream acquired.
    ~LoopbackCapture();
    LoopbackCapture(const LoopbackCapture&) = delete;
    LoopbackCapture& operator=(const LoopbackCapture&) = delete;

    // Opens the loopback stream (event-driven, 100 ms buffer, the endpoint's mix format) and,
    // with stream switching, registers for session and default-output notifications. Clears
    // hold, request and ready. False at the first failing step.
    bool OpenStream();
    // Called on the capture thread after each wake-up that added packets to the detector feed,
    // once for all of them, outside the object's locks. It may pop the feed (PopFeedBlock) and
    // must not wait for anything that waits for capture. Set it before BeginCapture.
    void SetFeedListener(std::function<void()> listener);
    // Starts the stream and the capture thread. The snapshot buffer stays the owner's; it must
    // outlive the capture thread and hold at least the history cap (40 s of the history
    // format), otherwise BeginCapture fails. The owner allocates kSnapshotSeconds of the
    // history format.
    bool BeginCapture(std::span<std::uint8_t> snapshotBuffer);
    // Waits without time-out for the capture thread to end (at once if it never started).
    void WaitForCaptureEnd();
    // Releases the stream and unregisters the notifications. The capture thread must have
    // ended (WaitForCaptureEnd); calling it twice is harmless.
    void CloseStream();

    // --- Any thread (the owner under its capture lock) ---

    // Signals the shutdown event and stops the stream; the capture thread leaves its loop at
    // its next wait and frees both queues.
    void RequestShutdown();
    EndReason CaptureEndReason() const;
    // True from a notification that asks for a switch until the capture thread has made it.
    bool IsSwitching() const;
    // The id of the output being captured (it changes with a switch).
    std::string EndpointId() const;

    // --- The feed's reader: the feed listener, or the owner under its capture lock ---

    // Removes and returns the oldest block of the detector feed; a null block when it is empty.
    // The caller owns the block. The second form also gives the mix format the block is in,
    // read under the same lock, so a switch in between cannot mismatch the two.
    CaptureBlock PopFeedBlock();
    CaptureBlock PopFeedBlock(WaveFormat& blockFormat);
    // The current mix format and its frame size (bytes per sample x channels).
    WaveFormat MixFormat() const;
    std::uint32_t FrameSize() const;
    // The format the history and the snapshot are kept in, and its frame size.
    WaveFormat HistoryFormat() const;
    std::uint32_t HistoryFrameSize() const;
    static WaveFormat HistoryFormatOf(const WaveFormat& mixFormat);

    // --- User-interface thread (the sound editor), under the owner's capture lock ---

    // Classifies the mix format: 16-bit integer PCM (plain or extensible) gives
    // kSampleTypePcm16, 32-bit float (plain or extensible) kSampleTypeFloat32, and true;
    // anything else false (the sample type is then left as it was).
    bool DetectSampleType();
    int SampleType() const;

    // Snapshot handshake. Hold stops the trimming of the history, so it grows while the user
    // records; a request wakes the capture thread, which copies the whole history (oldest
    // first, as much as fits) into the snapshot buffer, clears request and hold, and
    // then publish the frame count and the ready flag. A history that outgrows the snapshot
    // buffer forces a snapshot by itself.
    // SetHold(true) also clears the frame count and then the ready flag; RequestSnapshot(true)
    // also clears the ready flag and then the frame count.
    void SetHold(bool on);
    void RequestSnapshot(bool on);
    void SetSnapshotReady(bool ready);
    bool IsSnapshotReady() const;
    std::uint32_t SnapshotFrameCount() const;
    bool IsHolding() const;
    bool IsSnapshotRequested() const;
    // The snapshot buffer given to BeginCapture; read it only after IsSnapshotReady was seen
    // true, and only while the object is in the owner's capture slot.
    std::span<const std::uint8_t> SnapshotBuffer() const;
    // The format of the samples in the last published snapshot (the history format).
    WaveFormat SnapshotFormat() const;

    // --- Observations (any thread; diagnostics and tests) ---

    std::uint64_t FeedBytes() const;
    std::uint64_t HistoryBytes() const;
    std::size_t FeedBlockCount() const;
    std::size_t HistoryBlockCount() const;
    // nSamplesPerSec x the history's frame size x 40, fixed at BeginCapture.
    std::uint64_t HistoryCap() const;
    // Frames of every packet processed since the capture thread started.
    std::uint64_t CapturedFrames() const;

private:
    // --- The followed stream: owner's runner thread (OpenStream) and capture thread (switch) ---
    bool AcceptSwitchFormat(const WaveFormat& format) override;
    bool ConfigureStream(AudioClient& client) override;
    void ReleaseStreamService() override;
    bool AcceptOpenFormat(const WaveFormat& format);

    // --- Capture thread ---
    void CaptureThread();
    bool DrainPackets();
    bool ProcessPacket(const std::uint8_t* data, std::uint32_t frames, std::uint32_t flags);
    void ServeIdleSnapshotRequest();
    bool AdoptMixFormat(const WaveFormat& format);
    void ClearQueuesLocked();
    void SetMixFormatLocked(const WaveFormat& format);
    CaptureBlock HistoryBlockOf(const std::uint8_t* source, std::uint32_t size) const;
    // Snapshot steps, run for every packet inside the queue lock.
    void ForceSnapshotIfHistoryFull();
    std::uint64_t CopySnapshotIfRequested();
    void TrimHistory();
    void TrimFeed();
    void PublishSnapshot(std::uint64_t bytesCopied);

    const bool streamSwitching_;

    // The output, its audio client and the switch to a new default output. The client is
    // replaced by the capture thread during a switch; the follower's client lock lets
    // RequestShutdown stop it from another thread.
    DefaultOutputFollower follower_;
    // The capture client taken from the follower's client (replaced with it).
    mutable std::mutex captureClientMutex_;
    std::unique_ptr<CaptureClient> captureClient_;
    std::uint32_t engineBufferFrames_ = 0;  // as the stream reported it; informational

    std::thread captureThread_;
    std::function<void()> feedListener_;  // set before the thread starts, read by it only
    Event shutdownEvent_{Event::Mode::AutoReset};
    // Signalled by the stream when packets have arrived; shared with every stream the object
    // opens (a stream left behind by a switch may still signal it, which costs one empty drain).
    const std::shared_ptr<Event> packetEvent_ = std::make_shared<Event>(Event::Mode::AutoReset);
    // Signalled by RequestSnapshot(true), so that a request is served without new packets.
    Event snapshotEvent_{Event::Mode::AutoReset};
    std::atomic<EndReason> endReason_{EndReason::Running};

    // Queue lock: both queues, their byte totals, the mix format and everything derived from
    // it, the history cap, the snapshot buffer and the counters.
    mutable std::mutex queueMutex_;
    WaveFormat mixFormat_{};
    std::uint32_t frameSize_ = 0;
    int sampleType_ = kSampleTypeFloat32;
    WaveFormat historyFormat_{};
    std::uint32_t historyFrameSize_ = 0;
    bool historyConverts_ = false;  // float packets become 16-bit samples in the history
    std::uint64_t historyCap_ = 0;
    std::uint64_t feedCap_ = 0;  // the same 40 s, in the mix format
    std::span<std::uint8_t> snapshotBuffer_;
    std::deque<CaptureBlock> history_;
    std::uint64_t historyBytes_ = 0;
    std::deque<CaptureBlock> feed_;
    std::uint64_t feedBytes_ = 0;
    std::uint64_t capturedFrames_ = 0;
    WaveFormat snapshotFormat_{};

    // The snapshot flags, each under its own lock (taken inside the queue lock by the capture
    // thread; alone by the user-interface thread).
    mutable std::mutex holdMutex_;
    bool hold_ = false;
    mutable std::mutex requestMutex_;
    bool snapshotRequest_ = false;
    mutable std::mutex readyMutex_;
    bool snapshotReady_ = false;
    mutable std::mutex frameCountMutex_;
    std::uint32_t snapshotFrameCount_ = 0;
};

}  // namespace hushwell
