#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "analysis/LevelMeter.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TelephoneBandDetector.h"
#include "audio/CaptureBlock.h"
#include "base/Event.h"
#include "base/ProgramPaths.h"
#include "detection/ReferenceSet.h"
#include "detection/RunState.h"
#include "detection/ScoreBoard.h"
#include "detection/SilenceWakeUps.h"
#include "triggers/TriggerList.h"
#include "wav/WaveData.h"

namespace hushwell {

class AudioBackend;
class VolumeManager;
class LoopbackCapture;
class Clock;
class CommandOpener;
class DetectionStep;
class EngineTimers;
class FiringSink;
class ProgramStreamWatcher;
class ProgramVolumeManager;
class RunnerList;
class TimeTriggerStep;

// Ties detection together: the live trigger list and its reference set, the loopback capture
// (driven by the CaptureRunner thread), the detection queue that the capture thread fills from
// its feed as packets arrive, the DetectionThread that runs the block step on the queued
// blocks, the control runners the steps start, and the timers of the time-trigger step and the
// runner housekeeping. Nothing runs on a clock while nothing happens: the capture thread wakes
// when the sound server delivers audio and wakes the detection thread once per delivery.
//
// While detection runs and "program" triggers are active, the ProgramStreamWatcher runs
// detection on each program's own stream of the default output besides it.
//
// States: running (detection thread alive, feed moved into the queue, timers 100 and 300
// active, controls allowed) and paused (no detection thread, no timers, no runners, controls
// blocked). Capture runs in both; while paused (and while detection is stopped for a rebuild)
// its feed fills up to its own 40-second cap.
//
// Capture keeps itself alive: when there is no default output, when following a new default
// output failed, or when the sound server went away, the CaptureRunner runs the capture
// owner's sequence again every two seconds. It logs one line when capture stops working and
// one when it runs again, however many attempts lie between.
//
// Lock order where two are held: the capture lock before the capture object's queue lock and
// before the queue lock; the feed lock before the capture object's queue lock and before the
// queue lock; the runner-list lock before the program-wide runner lock; the trigger list's
// lock before a trigger's lock. The detection and capture threads never take the capture
// lock, which the user interface holds while it works with the capture object.
//
// Threads: the methods under "control thread" belong to the thread that owns the engine (the
// user-interface thread in the program; one test thread in tests) and must not be called
// concurrently. OnEngineTimer comes from the host's timers, on the control thread in the
// program; on ThreadEngineTimers' own thread in tests and headless hosts, where it may run
// while the control thread calls the others.
class DetectionEngine {
public:
    // Timer ids and periods.
    static constexpr int kTimeTriggerTimerId = 100;
    static constexpr std::chrono::milliseconds kTimeTriggerPeriod{3000};
    static constexpr int kRunnerTimerId = 300;
    static constexpr std::chrono::milliseconds kRunnerPeriod{1000};

    // At most this many blocks wait for the detection thread; further audio is dropped.
    static constexpr std::size_t kMaxQueuedBlocks = 257;
    // Start-up waits this long at most for capture to start.
    static constexpr std::chrono::milliseconds kCaptureStartWait{30000};
    // Pause between the CaptureRunner's attempts while capture is not running.
    static constexpr std::chrono::milliseconds kCaptureRetryInterval{2000};

    using RunState = hushwell::RunState;

    // Everything InitEngine needs from the program. The objects must outlive the engine; the
    // timers at least until ShutdownEngine has returned (a host that destroys its timers
    // first calls ShutdownEngine itself). After ShutdownEngine no timer of the engine runs and
    // no handler call is in progress.
    struct Setup {
        AudioBackend* backend = nullptr;
        const Clock* clock = nullptr;
        VolumeManager* volume = nullptr;
        CommandOpener* opener = nullptr;
        EngineTimers* timers = nullptr;
        // The program's paths: the trigger list file and the sound folder are used, and the
        // data folder holds the unnamed file of the prepared references' rarely read part.
        ProgramPaths paths;
        // The log page, or a tool that reports firings; may be null.
        FiringSink* firings = nullptr;
        // Where controls on one program go ("program" targets); without it such triggers are
        // heard and logged, but carry nothing out.
        ProgramVolumeManager* programVolume = nullptr;
        std::chrono::milliseconds captureStartWait = kCaptureStartWait;
        std::chrono::milliseconds captureRetryInterval = kCaptureRetryInterval;
        // Called on the detection thread with every block before its step (diagnostics and
        // tests); may be empty.
        std::function<void(const WaveData&)> blockHook;
    };

    // The setup the program runs the engine with: the system clock and the default start
    // wait and retry interval; the objects must outlive the engine, as above. The one place
    // where a real engine's setup is filled in (the program and the end-to-end host).
    static Setup ProgramSetup(AudioBackend& backend, VolumeManager& volume, CommandOpener& opener,
                              EngineTimers& timers, ProgramPaths paths, FiringSink* firings);

    // Counters for diagnostics and tests; any thread.
    struct Stats {
        std::size_t queuedBlocks = 0;       // waiting in the detection queue now
        std::uint64_t processedBlocks = 0;  // blocks the detection thread has run the step on
        std::uint64_t processedSamples = 0;
        std::uint64_t droppedBlocks = 0;     // packets dropped because the queue was full
        std::uint64_t discardedPackets = 0;  // packets in a format detection cannot take
        std::uint64_t staleBlocks = 0;       // packets captured while paused, discarded
        std::uint64_t captureSessions = 0;   // capture sessions that started
        std::uint64_t captureFailures = 0;   // attempts that ended without capture, or ended it
    };

    DetectionEngine();
    // Shuts the engine down if InitEngine ran and ShutdownEngine did not.
    ~DetectionEngine();
    DetectionEngine(const DetectionEngine&) = delete;
    DetectionEngine& operator=(const DetectionEngine&) = delete;

    // --- Control thread ---

    // Once, at start-up: loads the trigger list file of the paths into the live
    // list, builds the reference set, starts detection, starts the CaptureRunner and waits up
    // to setup.captureStartWait for capture to start (less when its first attempt fails).
    // Without every object of the setup, nothing happens and the engine stays inert.
    void InitEngine(Setup setup);

    // Start and stop the detection thread and the engine timers. StartDetection makes every
    // trigger eligible at once (hold-offs cleared) and allows controls again.
    void StartDetection();
    void StopDetection();

    // Pause stops detection and destroys every runner (undoing its control); Resume discards
    // the audio captured while paused and starts detection again. Each does nothing in the
    // state it leads to.
    void Pause();
    void Resume();
    RunState State() const;
    bool IsPaused() const { return State() == RunState::Paused; }

    // Rebuilds the reference set from the live list, after replacing the list by a copy of
    // `replacement` when one is given. Detection is stopped around it unless paused. Returns
    // the number of active sound and time triggers.
    int RebuildReferences(const TriggerList* replacement = nullptr);

    // "Verify matches": on (the default), a match fires only when verification agrees; off,
    // the correlation's threshold alone decides. Detection is stopped around a change unless
    // paused. User-interface thread.
    void SetVerification(bool on);
    bool Verification() const { return verification_; }

    // Destroys the runners of one trigger (undoing their controls); the others keep their
    // order.
    void CancelRunnersOf(std::uint32_t serialId);
    // Destroys every runner and blocks new controls until detection starts again.
    void StopAllRunners();

    // Stops capture and waits for the CaptureRunner to end; stops detection unless paused.
    void StopCapture();
    // At exit: StopCapture, StopAllRunners, frees the queued audio. The engine then ignores
    // every timer and command.
    void ShutdownEngine();

    // The host's timers: 100 runs the time-trigger step, 300 destroys finished runners and
    // rechecks the others. Any other id, and every id once the engine is shut down, changes
    // nothing.
    void OnEngineTimer(int id);

    // --- Capture thread (and tests) ---

    // Converts one capture packet in the given mix format to a 16-bit block and queues it for
    // the detection thread, then wakes that thread. 16-bit integer and 32-bit float samples
    // (plain tags or the extensible tag with the matching sub-format) of one or two channels
    // are taken; any other format delivers nothing. With kMaxQueuedBlocks waiting the packet is
    // dropped and the thread is not woken. The capture's feed listener queues every packet of
    // a delivery this way and wakes the thread once for all of them.
    void EnqueueCaptureBlock(CaptureBlock block, const WaveFormat& mixFormat);

    // --- Any thread ---

    // The capture lock and the capture slot it guards: the capture object while a capture
    // session runs, otherwise null. Read and use the slot only while holding the lock.
    std::recursive_mutex& CaptureMutex() const { return captureMutex_; }
    LoopbackCapture* CaptureObject() const { return capture_; }

    // The live trigger list (the editor copies it; change it only through RebuildReferences).
    TriggerList& Triggers() { return triggers_; }
    // Valid while detection is stopped, or from the detection thread.
    const ReferenceSet& References() const { return references_; }
    // The runners; null before InitEngine.
    RunnerList* Runners() { return runners_.get(); }
    // The sound triggers' recent scores, for the live meter (see ScoreBoard for its threads).
    ScoreBoard& Scores() { return scores_; }
    // The detection on programs' own streams; null before InitEngine.
    ProgramStreamWatcher* ProgramStreams() { return programStreams_.get(); }

    Stats GetStats() const;
    bool IsDetectionRunning() const { return detectionRunning_.load(); }
    bool IsCapturing() const;

private:
    // --- Control thread ---
    void LoadTriggerList();
    void StartCaptureRunner();
    void WaitForCaptureStart();
    void StartEngineTimers();
    void StopEngineTimers();
    static void ReturnFreedMemory();
    void FreeQueuedBlocks();
    void DiscardCaptureFeed();

    // --- Timer handlers ---
    void RunTimeTriggerStep();
    void HouseKeepRunners();
    void RestartTimer(int id, std::chrono::milliseconds period);

    // --- DetectionThread ---
    void DetectionThread();
    void DrainQueue();
    std::deque<std::unique_ptr<WaveData>> TakeQueuedBlocks();

    // --- Capture thread: the capture object's feed listener ---
    void OnCaptureFeed(LoopbackCapture& capture);
    // `silent`: every byte of the block is zero (IsDigitalSilence), found once by the caller.
    bool QueueCaptureBlock(CaptureBlock block, const WaveFormat& mixFormat, bool silent);

    // --- CaptureRunner thread ---
    void CaptureRunner();
    bool PublishCapture(LoopbackCapture* capture);
    void OnCaptureStarted();
    bool WaitBeforeRetry();

    // Converts a packet; an empty block when the format cannot be taken.
    std::unique_ptr<WaveData> ConvertPacket(const CaptureBlock& block, const WaveFormat& format,
                                            bool silent);

    Setup setup_;
    std::atomic<bool> initialised_{false};
    // Set when shutdown begins, under the handler lock: from then on timers change nothing.
    std::atomic<bool> quitting_{false};
    // Held by every timer handler, so that shutdown can wait for one in progress.
    std::mutex handlerMutex_;

    // Control-thread state.
    RunState state_ = RunState::Running;
    mutable std::mutex stateMutex_;

    // The live list, the reference set (with its reference analyzer), the live analyzer and the
    // detection thread's other companions.
    TriggerList triggers_;
    ReferenceSet references_;
    SpectralAnalyzer liveAnalyzer_;
    LevelMeter level_;
    TelephoneBandDetector telephone_;
    std::unique_ptr<RunnerList> runners_;
    std::unique_ptr<DetectionStep> step_;
    ScoreBoard scores_{static_cast<std::size_t>(TriggerList::kDefaultMaxSound)};
    // After the runners, which its streams' firings go to: destroyed before them.
    std::unique_ptr<ProgramStreamWatcher> programStreams_;
    bool verification_ = true;  // user-interface thread
    std::unique_ptr<TimeTriggerStep> timeStep_;

    // Engine timers: whether they may run; the timer lock keeps a handler's restart from
    // overtaking StopDetection.
    std::mutex timerMutex_;
    bool timersEnabled_ = false;

    // DetectionThread and its events (auto-reset). Its stop flag is the step's stop request.
    std::thread detectionThread_;
    std::atomic<bool> detectionRunning_{false};
    Event detectionStarted_;
    Event dataEvent_;
    Event stopEvent_;

    // Feed lock: whether the capture thread moves its feed into the detection queue (while the
    // detection thread runs). StopDetection clears it before ending the thread, and so waits for
    // a move in progress.
    std::mutex feedMutex_;
    bool feedToDetection_ = false;
    SilenceWakeUps silenceWakeUps_;

    // DetectionQueue with its lock; oldest first.
    mutable std::mutex queueMutex_;
    std::deque<std::unique_ptr<WaveData>> queue_;

    // Capture lock and what it guards: the capture slot and the request to end capture.
    mutable std::recursive_mutex captureMutex_;
    LoopbackCapture* capture_ = nullptr;
    bool captureRunning_ = false;  // the object in the slot has started capturing
    bool captureQuit_ = false;
    std::thread captureRunner_;
    Event captureStarted_{Event::Mode::ManualReset};
    // Set once the CaptureRunner's first attempt has ended without starting capture.
    Event firstCaptureAttemptFailed_{Event::Mode::ManualReset};
    Event captureRetryWake_;
    // A failure has been logged and capture has not run since (CaptureRunner thread).
    bool captureFailureLogged_ = false;

    // Counters.
    std::atomic<std::uint64_t> processedBlocks_{0};
    std::atomic<std::uint64_t> processedSamples_{0};
    std::atomic<std::uint64_t> droppedBlocks_{0};
    std::atomic<std::uint64_t> discardedPackets_{0};
    std::atomic<std::uint64_t> staleBlocks_{0};
    std::atomic<std::uint64_t> captureSessions_{0};
    std::atomic<std::uint64_t> captureFailures_{0};
};

}  // namespace hushwell
