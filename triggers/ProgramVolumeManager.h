#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <vector>

#include "audio/PlaybackStream.h"
#include "triggers/Vocabulary.h"

namespace hushwell {

class AudioBackend;

// The one place that changes the mute and volume of single programs: every playback stream of
// the program (same process binary and application name) on any output, including the
// streams it opens while a control holds it, and nothing else.
//
// Controls place holds (Apply) and take them away (Undo). A program is muted while a "mute"
// hold is on it, unmuted while only "unmute" holds are, and its streams' volumes are moved
// by the sum of its "down"/"up" holds, in 1 % of the full scale, from each stream's own
// volume when the program was first held (limited to 0 and 100 %).
//
// Undoing gives back exactly what was changed, stream by stream: the worker remembers per
// stream the mute and volume it found and the ones it set. At undo it restores a stream's mute
// only when the stream still has the mute it set, and its volume only when the stream is still
// within half a step of the level it set; a stream whose mute or volume the user changed
// meanwhile keeps the user's choice. A stream the user changes while the hold lasts is not
// changed back either. Streams that end meanwhile are forgotten without a word. A stream the
// program opens while held that arrives with the mute or volume set on its siblings got it
// from the server's memory of the program: what it had before is what they had. Such a stream
// that appears only after the hold has ended (between two looks) is given back with them.
//
// Sound servers remember a program's mute and volume for its next stream. A stream that ends
// while changed leaves its change there; once the program is no longer held, the manager
// gives that memory back too (AudioBackend::GiveBackRememberedState), so that the program's
// next stream, later that day or the next, does not start muted or lowered.
//
// Given a record function (SetRecordFunction), the worker hands it every change not yet given
// back (of streams still playing, and of ended streams whose program's memory is still to be
// given back) before it makes a change, and again once changes have been given back, so that
// the next start can give back what a killed run left (VolumeRestoreRecord).
//
// The worker thread does every call to the sound server. While any program is held, or any
// change is still to be undone, it looks at the list of streams every FollowInterval (new
// streams of a held program are changed then); otherwise it sleeps until a request comes.
//
// Threads: every public method may be called from any thread.
class ProgramVolumeManager {
public:
    static constexpr std::chrono::milliseconds kDefaultFollowInterval{250};
    // One volume step on a stream's master scalar.
    static constexpr float kStepLevel = 0.01f;
    // A stream within this of the level set still has it (the server rounds the level).
    static constexpr float kSameLevel = 0.005f;

    using Token = std::uint64_t;

    // The backend must outlive the manager.
    explicit ProgramVolumeManager(
        AudioBackend& backend, std::chrono::milliseconds followInterval = kDefaultFollowInterval);
    // Undoes what every hold still on changed (when the server answers), then ends the worker.
    ~ProgramVolumeManager();
    ProgramVolumeManager(const ProgramVolumeManager&) = delete;
    ProgramVolumeManager& operator=(const ProgramVolumeManager&) = delete;

    // Places a hold of the control (mute, unmute, down or up by `steps` 1 % steps) on the
    // program; its token undoes it. Other kinds, and an unknown program (no binary and no
    // application name: its streams cannot be told from others'), place nothing: token 0.
    Token Apply(const ProgramIdentity& program, ControlKind kind, int steps);
    // Takes the hold away; the program's streams are given back once no hold is left on them.
    // Unknown tokens and 0 are ignored.
    void Undo(Token token);

    // Called on the worker thread with the changes not yet given back; false when they could
    // not be recorded (the change is made all the same). Set before the first Apply.
    using RecordFunction = std::function<bool(const std::vector<StreamChange>&)>;
    void SetRecordFunction(RecordFunction record);

    // The programs held now (for tests and diagnostics).
    std::vector<ProgramIdentity> HeldPrograms() const;
    // Waits until the worker has carried out every request made so far. False on time-out.
    bool WaitUntilIdle(std::chrono::milliseconds timeout) const;

private:
    struct Hold {
        ProgramIdentity program;
        ControlKind kind = ControlKind::Undefined;
        int steps = 0;
    };
    // What the holds on one program want.
    struct Wanted {
        std::optional<bool> mute;
        int steps = 0;
    };

    // --- Worker thread ---
    void WorkerMain();
    void Reconcile(const std::vector<Hold>& holds);
    void ApplyTo(const PlaybackStream& stream, const Wanted& wanted);
    std::vector<const StreamChange*> EarlierChangesOf(const PlaybackStream& stream) const;
    std::optional<StreamChange> InheritedChange(const PlaybackStream& stream) const;
    void NoteBefore(const PlaybackStream& stream, StreamChange& change, bool mute,
                    bool volume) const;
    void UndoMute(const PlaybackStream& stream, StreamChange& change);
    void UndoVolume(const PlaybackStream& stream, StreamChange& change);
    void KeepEnded(const std::set<std::uint32_t>& present);
    void GiveBackEnded(const std::vector<Hold>& holds);
    void Record();
    void SetStreamMute(std::uint32_t index, bool mute);
    void SetStreamVolume(std::uint32_t index, float level);
    static std::map<std::uint32_t, Wanted> WantedByStream(
        const std::vector<Hold>& holds, const std::vector<PlaybackStream>& streams);

    AudioBackend& backend_;
    const std::chrono::milliseconds followInterval_;

    // State lock: the holds, the request bookkeeping and the quit flag.
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    mutable std::condition_variable idle_;
    std::map<Token, Hold> holds_;
    Token nextToken_ = 1;
    std::uint64_t requestSerial_ = 0;
    std::uint64_t doneSerial_ = 0;
    bool quit_ = false;

    // Record lock: the record function.
    std::mutex recordMutex_;
    RecordFunction record_;

    // Worker thread only: the changes on streams that play (by stream index), those of ended
    // streams whose program's remembered state is still to be given back (one per program),
    // and what was last handed to the record function.
    std::map<std::uint32_t, StreamChange> touched_;
    std::vector<StreamChange> ended_;
    std::vector<StreamChange> recorded_;
    std::set<std::uint32_t> createdThisPass_;  // streams first changed in this pass

    std::thread worker_;  // last: starts once everything above exists
};

}  // namespace hushwell
