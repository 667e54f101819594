#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "ui/CaptureSelection.h"
#include "wav/WaveData.h"

namespace hushwell {

class LoopbackCapture;

// The capture page's recording, without its widgets. A recording holds the loopback capture's
// history; a stop asks the capture for its snapshot, which is copied out under the capture lock
// and converted into a sound off it. A record-and-save keeps the options it read at its start,
// whether a new sound came since, and the window of that sound it saves.
//
// The session has no timer of its own: its owner polls it (Poll) after the delay the last
// answer named, and carries out what the answer says. It also keeps the start of the recording
// for the page's elapsed-time clock.
//
// --- One thread, the owner's (the user-interface thread): everything. The capture object is
// only used inside the capture access (the owner's capture lock), for the hold and snapshot
// flags and to copy the snapshot out.
class RecordingSession {
public:
    // Runs the function with the capture object under the owner's capture lock (nullptr when
    // capture is not running).
    using CaptureAccess = std::function<void(const std::function<void(LoopbackCapture*)>&)>;

    // While recording the capture is asked this often for a snapshot it made by itself.
    static constexpr int kRecordingPollMs = 300;
    // After a stop the snapshot is awaited this often, this many times.
    static constexpr int kStopWaitMs = 100;
    static constexpr int kStopWaitTries = 100;

    // The options page's values that a recording uses.
    struct Settings {
        int preRecordingSec = 4;
        int triggerSoundSec = 5;
        int filenameFormatType = 2;
    };

    // The snapshot as copied out under the capture lock, ready for conversion off the lock.
    struct Snapshot {
        bool usable = false;
        bool pcm16 = false;
        WaveFormat format{};
        std::uint32_t frames = 0;
        std::vector<std::uint8_t> bytes;
    };

    // What the owner does after a poll.
    enum class Step {
        Idle,           // nothing to wait for: polling ends
        PollLater,      // poll again after `delayMs`
        SnapshotReady,  // convert `snapshot` (Convert, off this thread) and show it
        GaveUp,         // the stop's snapshot never came: the recording ends with the old sound
    };
    struct Next {
        Step step = Step::Idle;
        int delayMs = 0;
        Snapshot snapshot;
    };

    // The clock must outlive the session.
    explicit RecordingSession(const Clock& clock) : clock_(clock) {}

    void SetCaptureAccess(CaptureAccess capture) { capture_ = std::move(capture); }
    // Runs `use` with the capture object under the capture lock, or with nullptr.
    void WithCapture(const std::function<void(LoopbackCapture*)>& use) const;

    // Starts a recording: the capture holds its history, and the elapsed time starts at 0.
    // The owner polls after kRecordingPollMs.
    void Start();
    // Asks the capture for the snapshot of the recording (one it made by itself is taken as it
    // is). True when the owner polls at once for it; false when there is no capture, and the
    // recording has ended with nothing new (the owner calls Finish).
    bool Stop();
    // Looks for a snapshot: while recording, one the capture forced; after a stop, the one
    // asked for, counting the tries down.
    Next Poll();
    // The snapshot is being converted: the session stays busy until Finish.
    void MarkConverting();
    // The end of every recording.
    void Finish();

    // From Start until Finish.
    bool IsRecording() const { return recording_; }
    // From a stop that asked for a snapshot until Finish.
    bool IsStopping() const { return stopWaitsLeft_ > 0; }

    // The elapsed time since the recording started, "HH:MM:SS" (hours wrap at 100).
    std::string ElapsedText() const;
    static std::string ClockText(std::uint64_t elapsedMs);

    // ---- record-and-save
    // Begins one with the options read now; returns the wait in milliseconds before its stop
    // (T - P seconds, at least 0, and a little more).
    int BeginRecordAndSave(Settings settings);
    const Settings& RecordAndSaveSettings() const { return recordSettings_; }
    // A new sound arrived from a snapshot since the record-and-save began.
    void NoteNewSound() { recordedNew_ = true; }
    bool RecordedNew() const { return recordedNew_; }
    // The save waits for the stop's snapshot; TakeSaveAfterStop answers once.
    void SaveAfterStop() { saveAfterStop_ = true; }
    bool IsSaveAfterStop() const { return saveAfterStop_; }
    bool TakeSaveAfterStop();
    // What the record-and-save keeps of `sound` (see RecordAndSaveWindow).
    std::optional<TimeWindow> WindowOf(const WaveData& sound) const;

    // A recording's file in `folder`: the time stamp of `formatType` and ".wav"; when that file
    // exists already "_2", "_3", ... go before ".wav", so a second recording in the same second
    // never replaces the first.
    static std::filesystem::path RecordingPath(const std::filesystem::path& folder, int formatType,
                                               const Clock& clock);

    // 16-bit sounds from the snapshot's samples; float samples are scaled to 16 bits
    // (saturating). Null when the snapshot is unusable or empty. Any thread.
    static std::shared_ptr<WaveData> Convert(const Snapshot& snapshot);

private:
    std::optional<Snapshot> TakeSnapshotIfReady();
    static Snapshot CopySnapshot(LoopbackCapture& capture);

    const Clock& clock_;
    CaptureAccess capture_;
    bool recording_ = false;
    int stopWaitsLeft_ = 0;  // a stop is waiting for its snapshot
    std::uint64_t startTick_ = 0;

    bool saveAfterStop_ = false;  // record-and-save goes on when the stop has ended
    bool recordedNew_ = false;    // a snapshot came since record-and-save began
    Settings recordSettings_;     // P and T as read by the last record-and-save
};

}  // namespace hushwell
