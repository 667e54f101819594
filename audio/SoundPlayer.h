#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

#include "wav/WaveData.h"

namespace hushwell {

class AudioBackend;
class StreamRenderer;
class RenderBufferBuilder;

// The sound editor's player: plays a sound, or the selected part of it, on the default output,
// with pause, resume and stop. Each play runs on the player thread: it opens a StreamRenderer
// on the default output, converts the whole range to play into render buffers of one device
// period in the output's mix format (RenderBufferBuilder), hands them to the renderer and waits
// until they have been played, or the play is paused or stopped.
//
// Play positions are frames of the sound. The selection [start, end] is inclusive. A play
// starts at the resume frame when it lies inside [start, end), else at the selection start; the
// play base is that frame, and the cursor counts the frames played from it. Pausing leaves the
// resume frame at the first frame not yet heard (when it lies before the selection end), so the
// next play continues there; stopping, or playing to the end, sets it back to the start, and
// a new selection or sound (Rewind) sets it to the new selection's start.
//
// Threads: the user-interface calls (Play, Pause, Stop and the observers) return at once; they
// only hand requests to the player thread and signal the renderer. A play asked for while
// the previous one is still winding down (after a pause or stop) starts when that one has
// ended. `onEnded` runs on the player thread after each play, with its outcome, once the
// positions are final and the player is idle (unless a next play was already asked for).
class SoundPlayer {
public:
    // How a play ended.
    enum class PlayEnd {
        Finished,    // every frame of the range was played
        Paused,      // Pause
        Stopped,     // Stop
        DeviceLost,  // the output went away, or the new default output has another mix format
        Refused,     // the sound's samples or the output's mix format cannot be played
        Failed,      // no default output, or the stream could not be opened or started
    };

    // The resume frame after a stop while idle: the next play starts at its selection start.
    static constexpr std::uint32_t kNoResumeFrame = UINT32_MAX;

    // The backend must outlive the player.
    explicit SoundPlayer(AudioBackend& backend, std::function<void(PlayEnd)> onEnded = {});
    // Stops a play in progress and waits for the player thread to end.
    ~SoundPlayer();
    SoundPlayer(const SoundPlayer&) = delete;
    SoundPlayer& operator=(const SoundPlayer&) = delete;

    // --- User-interface thread; each returns at once ---

    // Asks for a play of the selection [selectionStart, selectionEnd] of `sound` (cut to the
    // sound's frames). False when a play is already asked for or running and not ending.
    bool Play(std::shared_ptr<const WaveData> sound, std::uint32_t selectionStart,
              std::uint32_t selectionEnd);
    // Ends the running play, keeping its position for the next play. Nothing while idle.
    void Pause();
    // Ends the running play (or cancels one not yet started); the next play starts at the
    // selection start.
    void Stop();
    // A new selection or a new sound: the resume frame and the play base become `frame` (the
    // new selection's start), also when a paused play is still winding down.
    void Rewind(std::uint32_t frame);

    // From the start of the stream until the play's end.
    bool IsPlaying() const;
    // A play asked for, running or winding down.
    bool IsBusy() const;
    // Frames played since the play base: while playing, the frames handed to the output; after
    // a play, where it ended.
    std::uint32_t Cursor() const;
    std::uint32_t PlayBase() const;
    std::uint32_t ResumeFrame() const;
    // How the last play ended; none before the first.
    std::optional<PlayEnd> LastEnd() const;

    // Waits until no play is asked for or running; false at the time-out (tests, shutdown).
    bool WaitUntilIdle(std::chrono::milliseconds timeout);

private:
    struct Request {
        std::shared_ptr<const WaveData> sound;
        std::uint32_t selectionStart = 0;
        std::uint32_t selectionEnd = 0;
    };
    enum class EndRequest { None, Pause, Stop };

    // --- Player thread ---
    void PlayerThread();
    PlayEnd PlayOnce(const Request& request);
    PlayEnd RunRenderer(StreamRenderer& renderer, const RenderBufferBuilder& builder,
                        const Request& request);
    bool StartRange(const Request& request, std::uint32_t soundFrames);
    bool EndRequested() const;
    PlayEnd FinishPlay(const Request& request, bool exhausted, std::uint32_t played);
    // The end's outcome, with the resume frame it leaves; called with the lock held.
    PlayEnd SetResumeFrameAtEnd(const Request& request, bool exhausted);
    void Publish(StreamRenderer* renderer, const RenderBufferBuilder* builder);

    AudioBackend& backend_;
    const std::function<void(PlayEnd)> onEnded_;

    // Guards everything below; held only briefly, never while the player thread waits.
    mutable std::mutex mutex_;
    std::condition_variable changed_;
    bool quit_ = false;
    std::optional<Request> pending_;
    bool active_ = false;  // the player thread is carrying out a play
    EndRequest endRequest_ = EndRequest::None;
    bool playing_ = false;
    // The running play's renderer and converter, for the cursor and for pause and stop.
    StreamRenderer* renderer_ = nullptr;
    const RenderBufferBuilder* builder_ = nullptr;
    std::uint32_t resumeFrame_ = kNoResumeFrame;
    bool rewound_ = false;  // Rewind came while a play was ending: its end keeps resumeFrame_
    std::uint32_t playBase_ = 0;
    std::uint32_t playFrames_ = 0;
    std::uint32_t cursor_ = 0;
    std::optional<PlayEnd> lastEnd_;

    // Last: started once the state above exists.
    std::thread thread_;
};

}  // namespace hushwell
