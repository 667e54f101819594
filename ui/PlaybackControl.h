#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "audio/SoundPlayer.h"
#include "wav/WaveData.h"

namespace hushwell {

class AudioBackend;

// The capture page's playing, without its widgets: one SoundPlayer on the page's backend, and
// whether a play is under way from the play command until its end was reported. A pause
// before the stream has started stops the play instead, since the player ignores it and
// nothing has been heard yet.
//
// The player reports a play's end on its own thread through the end report; the owner hands
// that to its own thread and calls Ended there.
//
// --- One thread, the owner's (the user-interface thread): everything but the end report,
// which the player's thread calls.
class PlaybackControl {
public:
    // Called on the player's thread when a play has ended.
    using EndReport = std::function<void(SoundPlayer::PlayEnd)>;

    PlaybackControl() = default;
    // The player's thread ends first: it reports to the owner.
    ~PlaybackControl() { Detach(); }
    PlaybackControl(const PlaybackControl&) = delete;
    PlaybackControl& operator=(const PlaybackControl&) = delete;

    // A new player on `backend` (which must outlive it), replacing the old one; none for null.
    void Attach(AudioBackend* backend, EndReport report);
    // Ends the player and waits for its thread.
    void Detach();
    bool HasPlayer() const { return player_ != nullptr; }

    // Plays the frames [first, last] of `sound`; false when the player refuses (or there is
    // none).
    bool Play(std::shared_ptr<const WaveData> sound, std::uint32_t first, std::uint32_t last);
    // Pauses the play (one not yet started is stopped). True when the play ended at once: it
    // was cancelled before it began, and no end will be reported.
    bool Pause();
    // Stops the play; the next starts at its selection start.
    void Stop();
    // The player's report of a play's end, on the owner's thread. False when a next play has
    // been asked for meanwhile (its own end will come); true when playing has ended.
    bool Ended();
    // A new selection or sound: the next play starts at `frame`, also after a pause.
    void Rewind(std::uint32_t frame);

    bool IsPlaying() const { return playing_; }
    // The frame of the sound being played (play base plus cursor); 0 without a player.
    std::int64_t Position() const;

private:
    std::unique_ptr<SoundPlayer> player_;
    bool playing_ = false;  // from Play until its end was reported
};

}  // namespace hushwell
