#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <system_error>
#include <thread>
#include <vector>

#include "audio/AudioSessionEvents.h"
#include "audio/EndpointNotificationClient.h"
#include "base/Event.h"
#include "triggers/VolumeRestoreRecord.h"

namespace hushwell {

class AudioBackend;
class AudioClient;
class AudioEndpoint;
class AudioSessionControl;
class EndpointVolume;

// The one place that changes the mute state and the master volume of the default output.
// Controls only post requests; the manager's own worker thread carries them out on the
// endpoint, ramps the volume in 1 % steps at a configurable pace, and follows the user when
// the default output changes: it asks every running control to undo itself on the old device
// (suspend events), re-binds to the new one, and asks them to apply themselves again (resume
// events).
//
// The program makes one instance at start-up and hands it to whoever posts requests; tests
// make their own on a simulated backend. The worker starts in the constructor and ends in the
// destructor, after carrying out the volume steps still pending.
//
// Volume steps that cannot be taken because the volume is already at 100 % or 0 % are counted
// as unapplied and folded into the next request, so "down n" followed by "up n" always returns
// to the starting volume.
//
// Given a record file (SetRestoreRecordPath), the worker notes there what it is about to change
// before it changes it (VolumeRestoreRecord: the output, whether it muted it, the net steps and
// the volume before the first change), and removes the file once everything is undone. The
// file is written only when that state changes: before a mute or before a ramp that goes
// further, and after an unmute or a ramp back has ended; never per step. A manager that ends
// without its changes undone leaves the file for the next start to undo. A record that cannot
// be written (or removed) does not hold a control back: the change is made all the same, and
// the failure is reported once per cause (the program's log and standard error by default),
// saying that a crash now would leave the output changed; each later change tries again.
class VolumeManager final : private AudioSessionEvents, private EndpointNotificationClient {
public:
    // Waits on the worker thread between volume steps and during a device switch. The real
    // one sleeps; tests pass one that advances a ManualClock instead.
    using SleepFunction = std::function<void(std::chrono::milliseconds)>;
    static void RealSleep(std::chrono::milliseconds duration);

    // Pace of the volume ramps: the options page's value r (1 to 300, "(ticks/sec.)x10")
    // gives 10000 / r milliseconds before each 1 % step.
    static constexpr int kMinRate = 1;
    static constexpr int kMaxRate = 300;
    static constexpr int kRateScale = 10000;
    static constexpr int kDefaultIntervalMs = 200;
    // One 1 % volume step on the master scalar.
    static constexpr double kStepLevel = 0.01;

    // The backend must outlive the manager. Returns once the worker thread runs; it binds to
    // the default output on its own, and requests made before that are carried out then.
    explicit VolumeManager(AudioBackend& backend, SleepFunction sleep = RealSleep);
    // Stops the worker after it has carried out the pending volume steps.
    ~VolumeManager() override;
    VolumeManager(const VolumeManager&) = delete;
    VolumeManager& operator=(const VolumeManager&) = delete;

    // --- Any thread ---

    // Asks for the output to be muted or unmuted. Does nothing when that is already the
    // wanted state, so repeated requests wake the worker once.
    void RequestMute(bool mute);
    // Asks for n 1 % volume steps (negative = down), folding in the unapplied steps.
    void RequestVolumeSteps(int steps);

    // A running control's suspend and resume events, signalled around a default-device switch.
    // The events must stay alive until RemoveControlEvents has returned; after that the
    // manager no longer touches them. Remove takes out every occurrence of the two events.
    void AddControlEvents(Event* suspend, Event* resume);
    void RemoveControlEvents(const Event* suspend, const Event* resume);

    // Keeps the record of the changes not yet undone in this file from now on; empty keeps
    // none. Set by the one running instance, after it has undone what an earlier run left.
    void SetRestoreRecordPath(std::string path);
    // Where a record that cannot be kept is reported; by default one log line and one line on
    // standard error. Called on the worker thread.
    using RecordFailureReport = std::function<void(std::string_view)>;
    void SetRecordFailureReport(RecordFailureReport report);
    static constexpr std::string_view kRecordFailureConsequence =
        ": a crash now would leave the output changed";
    // The program streams' changes not yet given back (ProgramVolumeManager), kept in the same
    // record file beside the output's: the file is rewritten at once with both. False when it
    // could not be written (reported as above).
    bool RecordProgramChanges(std::vector<StreamChange> changes);

    // Ramp pace from the options page; rates outside kMinRate..kMaxRate are ignored.
    void SetUpRate(int rate);
    void SetDownRate(int rate);
    int UpIntervalMs() const;
    int DownIntervalMs() const;

    // Observations for tests, tools and diagnostics.
    bool WantedMute() const;
    int PendingSteps() const;
    int UnappliedSteps() const;
    // The id of the output the worker is bound to; empty while it has none.
    std::string BoundDeviceId() const;
    // Waits until the worker has carried out every request made so far and is waiting for
    // the next. False on time-out.
    bool WaitUntilIdle(std::chrono::milliseconds timeout) const;

private:
    // --- Audio layer notification thread: only set flags and signal events ---
    void OnSessionDisconnected(DisconnectReason reason) override;
    void OnDefaultDeviceChanged(DataFlow flow, Role role, const std::string& deviceId) override;

    // --- Worker thread ---
    void WorkerMain();
    void WaitAndHandleRequests();
    bool OpenDefaultEndpoint();
    void ReleaseEndpoint();
    void ApplyWantedMute();
    void ApplyPendingSteps();
    void RampVolume(int steps);
    void StepUp(int intervalMs);
    void StepDown(int intervalMs);
    bool VerifyLevel(float target);
    void SwitchDefaultEndpoint();
    void SignalControls(const std::vector<Event*>& events);
    void RebindDefaultEndpoint();
    void PublishIdleIfNothingWaits();
    void AddUnapplied(int steps);
    void PlanMute(bool mute);
    void PlanSteps(int steps);
    void StartPlanUnlessUnderWay();
    void SaveRecordCoveringPlan();
    void SaveRecordOfPlan();
    void SaveRecord(const VolumeRestoreRecord& record);
    // Under the record file lock.
    bool WriteRecordLocked(const VolumeRestoreRecord& record);
    void ReportRecordFailure(const std::string& path, const std::error_code& error);

    AudioBackend& backend_;
    const SleepFunction sleep_;

    // State lock: wanted mute, step counters, the idle bookkeeping and the bound device id.
    mutable std::mutex stateMutex_;
    mutable std::condition_variable idleChanged_;
    bool wantedMute_ = false;
    int pendingSteps_ = 0;
    int unappliedSteps_ = 0;
    std::uint64_t requestSerial_ = 0;  // counts requests that signalled the worker
    std::uint64_t idleSerial_ = 0;     // the last serial the worker finished with
    bool workerWaiting_ = false;
    std::string boundDeviceId_;

    // List lock: the controls' events.
    std::mutex listMutex_;
    std::vector<Event*> suspendEvents_;
    std::vector<Event*> resumeEvents_;

    // Record lock: the record file's path and where its failures go.
    std::mutex recordPathMutex_;
    std::string recordPath_;
    RecordFailureReport recordFailureReport_;

    // Rate lock: the ramp intervals.
    mutable std::mutex rateMutex_;
    int upIntervalMs_ = kDefaultIntervalMs;
    int downIntervalMs_ = kDefaultIntervalMs;

    Event started_{Event::Mode::ManualReset};
    Event muteEvent_;
    Event volumeEvent_;
    Event quitEvent_;
    Event deviceChangedEvent_;
    // Set by every default-device report; a re-bind after a lost device waits briefly for it.
    Event defaultDeviceGate_{Event::Mode::ManualReset, true};
    std::atomic<bool> deviceChanged_{false};

    // Owned by the worker thread.
    std::shared_ptr<AudioEndpoint> endpoint_;
    std::unique_ptr<EndpointVolume> volume_;
    std::unique_ptr<AudioClient> client_;  // never started; only the session's source
    std::unique_ptr<AudioSessionControl> session_;
    bool sessionRegistered_ = false;
    bool endpointNotificationsRegistered_ = false;
    // What the changes made and under way will have changed once made (planned_), and what
    // the record file says (saved_): the plan, or more while changes are being undone.
    VolumeRestoreRecord planned_;
    // Record file lock: the output's part as the file says it (written by the worker alone,
    // which may read it without the lock), the program streams' part, the cause last
    // reported (cleared by a success), and the writing of the file.
    std::mutex recordFileMutex_;
    VolumeRestoreRecord saved_;
    std::vector<StreamChange> programStreams_;
    std::error_code reportedRecordFailure_;

    std::thread worker_;  // last: starts once everything above exists
};

}  // namespace hushwell
