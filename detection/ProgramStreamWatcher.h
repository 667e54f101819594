#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/Event.h"
#include "detection/ReferenceSet.h"
#include "triggers/TriggerList.h"

namespace hushwell {

class AudioBackend;
class Clock;
class ControlLauncher;
class FiringSink;
class ProgramStreamDetector;

// Detection on each program's own stream, for the "program" triggers: while there are any and
// it runs, a thread of its own looks at the playback streams every follow interval and keeps
// one ProgramStreamDetector for every stream that plays on the default output (not paused,
// of a program the server names), starting one for a new stream and ending it when the stream
// ends, is paused or moves to another output. Without "program" triggers it runs no thread
// and asks the sound server nothing, so the whole output's detection is all there is.
//
// A stream whose recording ends while the stream still plays (a server may refuse to record a
// stream it has only just set up) is tried again at the next look, up to kMaxCaptureAttempts
// times in all, and then left alone while it lasts.
//
// Threads: SetTriggers, Start and Stop on the control thread (the detection engine's owner),
// SetTriggers only while stopped; WatchedStreams from any thread. The backend, the launcher,
// the clock and the firing sink must outlive the watcher.
class ProgramStreamWatcher {
public:
    static constexpr std::chrono::milliseconds kDefaultFollowInterval{500};
    static constexpr int kMaxCaptureAttempts = 6;

    ProgramStreamWatcher(AudioBackend& backend, ControlLauncher& launcher, const Clock& clock,
                         FiringSink* firings,
                         std::chrono::milliseconds followInterval = kDefaultFollowInterval);
    // Stops.
    ~ProgramStreamWatcher();
    ProgramStreamWatcher(const ProgramStreamWatcher&) = delete;
    ProgramStreamWatcher& operator=(const ProgramStreamWatcher&) = delete;

    // Takes a copy of the active sound triggers of target "program" (with their serial ids)
    // and analyses their sounds, found as the engine finds them (soundFolder: the program's
    // sound folder). Returns how many there are.
    int SetTriggers(const TriggerList& live, const std::string& soundFolder, bool verification);
    // Starts following the streams when there are "program" triggers; nothing otherwise.
    void Start();
    // Ends following and the detection of every stream.
    void Stop();
    bool IsFollowing() const { return thread_.joinable(); }

    // The indices of the streams detection runs on now.
    std::vector<std::uint32_t> WatchedStreams() const;

private:
    void FollowThread();
    void Follow();

    AudioBackend& backend_;
    ControlLauncher& launcher_;
    const Clock& clock_;
    FiringSink* firings_;
    const std::chrono::milliseconds followInterval_;

    // Set while stopped; read by the follow thread while it runs.
    TriggerList triggers_;
    ReferenceSet references_;
    int programTriggers_ = 0;
    bool verification_ = true;

    // Detector lock: the detectors (the follow thread changes them, anyone may look).
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<ProgramStreamDetector>> detectors_;
    // The follow thread's own: the streams whose recording ended while they played, with the
    // number of times it did.
    std::map<std::uint32_t, int> failed_;

    Event quit_;
    std::thread thread_;
};

}  // namespace hushwell
