#include "triggers/VolumeManager.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <optional>
#include <utility>

#include "audio/AudioBackend.h"
#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioSessionControl.h"
#include "audio/EndpointVolume.h"
#include "triggers/EventLog.h"

namespace hushwell {

namespace {

using std::chrono::milliseconds;

constexpr int kMaxStepsPerChunk = 3;               // steps between looks for new requests
constexpr double kVerifyTolerance = 0.002;         // a read-back further off is a step not taken
constexpr milliseconds kAtLimitPause{20};          // pause for a step that cannot be taken
constexpr milliseconds kPerControlPause{10};       // after signalling each control's event
constexpr milliseconds kControlsSettlePause{100};  // for the controls to post their requests
constexpr milliseconds kDefaultDeviceGateWait{500};
constexpr std::int64_t kSessionBufferMs = 100;
constexpr Role kWatchedRole = Role::Console;

// The volume in whole percent, rounded to the nearest: the scale the user sees. Levels on
// a 1/65536 scale land a hair below a whole percent (1 % reads 0.99945 %), which truncation
// would take for the percent below.
int WholePercent(float level) {
    return static_cast<int>(level * 100.0 + 0.5);
}

}  // namespace

void VolumeManager::RealSleep(milliseconds duration) {
    std::this_thread::sleep_for(duration);
}

VolumeManager::VolumeManager(AudioBackend& backend, SleepFunction sleep)
    : backend_(backend), sleep_(std::move(sleep)) {
    worker_ = std::thread([this] { WorkerMain(); });
    started_.Wait();
}

VolumeManager::~VolumeManager() {
    quitEvent_.Set();
    worker_.join();
}

// ---- requests (any thread)

void VolumeManager::RequestMute(bool mute) {
    std::lock_guard lock(stateMutex_);
    if (mute == wantedMute_) {
        return;
    }
    wantedMute_ = mute;
    ++requestSerial_;
    muteEvent_.Set();
}

void VolumeManager::RequestVolumeSteps(int steps) {
    std::lock_guard lock(stateMutex_);
    pendingSteps_ += unappliedSteps_ + steps;
    unappliedSteps_ = 0;
    ++requestSerial_;
    volumeEvent_.Set();
}

void VolumeManager::AddControlEvents(Event* suspend, Event* resume) {
    std::lock_guard lock(listMutex_);
    if (suspend != nullptr) {
        suspendEvents_.push_back(suspend);
    }
    if (resume != nullptr) {
        resumeEvents_.push_back(resume);
    }
}

void VolumeManager::RemoveControlEvents(const Event* suspend, const Event* resume) {
    std::lock_guard lock(listMutex_);
    std::erase(suspendEvents_, suspend);
    std::erase(resumeEvents_, resume);
}

void VolumeManager::SetRestoreRecordPath(std::string path) {
    std::lock_guard lock(recordPathMutex_);
    recordPath_ = std::move(path);
}

void VolumeManager::SetRecordFailureReport(RecordFailureReport report) {
    std::lock_guard lock(recordPathMutex_);
    recordFailureReport_ = std::move(report);
}

void VolumeManager::SetUpRate(int rate) {
    if (rate < kMinRate || rate > kMaxRate) {
        return;
    }
    std::lock_guard lock(rateMutex_);
    upIntervalMs_ = kRateScale / rate;
}

void VolumeManager::SetDownRate(int rate) {
    if (rate < kMinRate || rate > kMaxRate) {
        return;
    }
    std::lock_guard lock(rateMutex_);
    downIntervalMs_ = kRateScale / rate;
}

int VolumeManager::UpIntervalMs() const {
    std::lock_guard lock(rateMutex_);
    return upIntervalMs_;
}

int VolumeManager::DownIntervalMs() const {
    std::lock_guard lock(rateMutex_);
    return downIntervalMs_;
}

bool VolumeManager::WantedMute() const {
    std::lock_guard lock(stateMutex_);
    return wantedMute_;
}

int VolumeManager::PendingSteps() const {
    std::lock_guard lock(stateMutex_);
    return pendingSteps_;
}

int VolumeManager::UnappliedSteps() const {
    std::lock_guard lock(stateMutex_);
    return unappliedSteps_;
}

std::string VolumeManager::BoundDeviceId() const {
    std::lock_guard lock(stateMutex_);
    return boundDeviceId_;
}

bool VolumeManager::WaitUntilIdle(milliseconds timeout) const {
    std::unique_lock lock(stateMutex_);
    return idleChanged_.wait_for(lock, timeout, [this] {
        return workerWaiting_ && idleSerial_ == requestSerial_ && !deviceChanged_;
    });
}

// ---- notifications (the audio layer's notification thread)

void VolumeManager::OnSessionDisconnected(DisconnectReason reason) {
    if (reason != DisconnectReason::DeviceRemoval) {
        return;
    }
    deviceChanged_ = true;
    deviceChangedEvent_.Set();
}

void VolumeManager::OnDefaultDeviceChanged(DataFlow flow, Role role, const std::string&) {
    if (flow != DataFlow::Render || role != kWatchedRole) {
        return;
    }
    if (!deviceChanged_.exchange(true)) {
        deviceChangedEvent_.Set();
    }
    defaultDeviceGate_.Set();
}

// ---- worker thread

void VolumeManager::WorkerMain() {
    started_.Set();
    // Registered before the first binding, so a switch during it is not missed. Without an
    // output the worker keeps waiting: requests accumulate and the next default-device report
    // binds it.
    endpointNotificationsRegistered_ =
        Succeeded(backend_.RegisterEndpointNotificationCallback(this));
    OpenDefaultEndpoint();
    WaitAndHandleRequests();
    if (endpointNotificationsRegistered_) {
        backend_.UnregisterEndpointNotificationCallback(this);
    }
    ReleaseEndpoint();
}

void VolumeManager::WaitAndHandleRequests() {
    enum Wakeup : std::size_t { kMute, kVolume, kQuit, kDeviceChanged };
    const std::vector<Event*> events{&muteEvent_, &volumeEvent_, &quitEvent_, &deviceChangedEvent_};
    for (;;) {
        PublishIdleIfNothingWaits();
        std::optional<std::size_t> woken = WaitForAny(events, kWaitForever);
        {
            std::lock_guard lock(stateMutex_);
            workerWaiting_ = false;
        }
        if (!woken) {
            continue;
        }
        switch (*woken) {
            case kMute:
                ApplyWantedMute();
                break;
            case kVolume:
                ApplyPendingSteps();
                break;
            case kQuit:
                ApplyPendingSteps();
                return;
            case kDeviceChanged:
                SwitchDefaultEndpoint();
                break;
        }
    }
}

// Marks the worker idle when no request is waiting for it. Requests count themselves and
// signal under the state lock, so an event that is not set here has been handled.
void VolumeManager::PublishIdleIfNothingWaits() {
    std::lock_guard lock(stateMutex_);
    workerWaiting_ = true;
    if (!muteEvent_.IsSet() && !volumeEvent_.IsSet()) {
        idleSerial_ = requestSerial_;
    }
    idleChanged_.notify_all();
}

bool VolumeManager::OpenDefaultEndpoint() {
    if (!Succeeded(backend_.GetDefaultAudioEndpoint(endpoint_)) || !endpoint_ ||
        !Succeeded(endpoint_->ActivateEndpointVolume(volume_)) || !volume_) {
        ReleaseEndpoint();
        return false;
    }
    {
        std::lock_guard lock(stateMutex_);
        boundDeviceId_ = endpoint_->GetId();
    }
    // The client is never started: it exists only for its session, which reports the
    // output going away. Without it the volume still works; only removals go unnoticed.
    WaveFormat mixFormat{};
    if (Succeeded(endpoint_->ActivateAudioClient(client_)) && client_ &&
        Succeeded(client_->GetMixFormat(mixFormat)) &&
        Succeeded(client_->Initialize(kStreamFlagNoPersist, kSessionBufferMs * kHundredNsPerMs,
                                      mixFormat)) &&
        Succeeded(client_->GetSessionControl(session_)) && session_) {
        sessionRegistered_ = Succeeded(session_->RegisterAudioSessionNotification(this));
    }
    return true;
}

void VolumeManager::ReleaseEndpoint() {
    if (session_ && sessionRegistered_) {
        session_->UnregisterAudioSessionNotification(this);
    }
    sessionRegistered_ = false;
    session_.reset();
    client_.reset();
    volume_.reset();
    endpoint_.reset();
    std::lock_guard lock(stateMutex_);
    boundDeviceId_.clear();
}

void VolumeManager::ApplyWantedMute() {
    bool mute;
    {
        std::lock_guard lock(stateMutex_);
        mute = wantedMute_;
    }
    if (!volume_) {
        return;
    }
    PlanMute(mute);
    SaveRecordCoveringPlan();
    volume_->SetMute(mute);
    SaveRecordOfPlan();
}

// Carries out the pending steps at most kMaxStepsPerChunk at a time, so that requests
// arriving during a ramp are folded in between chunks. Without an output the steps stay
// pending for the next one.
void VolumeManager::ApplyPendingSteps() {
    if (!volume_) {
        return;
    }
    int carry = 0;
    for (;;) {
        int taken;
        {
            std::lock_guard lock(stateMutex_);
            taken = std::exchange(pendingSteps_, 0);
        }
        if (taken != 0) {
            PlanSteps(taken);
            SaveRecordCoveringPlan();
        }
        const int total = carry + taken;
        if (total == 0) {
            break;
        }
        const int chunk = std::clamp(total, -kMaxStepsPerChunk, kMaxStepsPerChunk);
        RampVolume(chunk);
        carry = total - chunk;
        if (carry == 0) {
            break;
        }
    }
    SaveRecordOfPlan();
}

void VolumeManager::RampVolume(int steps) {
    int upMs;
    int downMs;
    {
        std::lock_guard lock(rateMutex_);
        upMs = upIntervalMs_;
        downMs = downIntervalMs_;
    }
    for (int i = 0; i < steps; ++i) {
        StepUp(upMs);
    }
    for (int i = 0; i < -steps; ++i) {
        StepDown(downMs);
    }
}

void VolumeManager::StepUp(int intervalMs) {
    float level;
    if (!Succeeded(volume_->GetMasterVolumeLevelScalar(level))) {
        return;
    }
    if (WholePercent(level) >= 100) {
        AddUnapplied(+1);
        sleep_(kAtLimitPause);
        return;
    }
    const auto target = static_cast<float>(std::min(1.0, level + kStepLevel));
    sleep_(milliseconds(intervalMs));
    if (Succeeded(volume_->SetMasterVolumeLevelScalar(target)) && !VerifyLevel(target)) {
        AddUnapplied(+1);
    }
}

void VolumeManager::StepDown(int intervalMs) {
    float level;
    if (!Succeeded(volume_->GetMasterVolumeLevelScalar(level))) {
        return;
    }
    if (WholePercent(level) <= 0) {
        AddUnapplied(-1);
        sleep_(kAtLimitPause);
        return;
    }
    const auto target = static_cast<float>(std::max(0.0, level - kStepLevel));
    sleep_(milliseconds(intervalMs));
    if (Succeeded(volume_->SetMasterVolumeLevelScalar(target)) && !VerifyLevel(target)) {
        AddUnapplied(-1);
    }
}

// True unless the level read back is clearly not the one just set.
bool VolumeManager::VerifyLevel(float target) {
    float level;
    if (!Succeeded(volume_->GetMasterVolumeLevelScalar(level))) {
        return true;
    }
    return std::fabs(static_cast<double>(level) - target) <= kVerifyTolerance;
}

void VolumeManager::AddUnapplied(int steps) {
    std::lock_guard lock(stateMutex_);
    unappliedSteps_ += steps;
}

// ---- the record of changes not yet undone (worker thread)

void VolumeManager::PlanMute(bool mute) {
    if (mute) {
        StartPlanUnlessUnderWay();
        planned_.muted = true;
    } else if (planned_.endpointId == endpoint_->GetId()) {
        planned_.muted = false;
    }
}

void VolumeManager::PlanSteps(int steps) {
    StartPlanUnlessUnderWay();
    planned_.steps += steps;
}

// A plan for the bound output that starts from its volume now, unless changes to it are made
// or being undone. Those keep the volume from before the first of them.
void VolumeManager::StartPlanUnlessUnderWay() {
    const std::string id = endpoint_->GetId();
    const auto underWay = [&id](const VolumeRestoreRecord& record) {
        return record.endpointId == id && !record.ChangesNothing();
    };
    if (underWay(planned_)) {
        return;
    }
    VolumeRestoreRecord fresh;
    fresh.endpointId = id;
    if (underWay(saved_)) {
        fresh.volumeBefore = saved_.volumeBefore;
    } else if (float level; Succeeded(volume_->GetMasterVolumeLevelScalar(level))) {
        fresh.volumeBefore = level;
    }
    planned_ = std::move(fresh);
}

// Before changes: the file names everything that may have changed once they are under way.
void VolumeManager::SaveRecordCoveringPlan() {
    SaveRecord(VolumeRestoreRecord::Covering(saved_, planned_));
}

// After changes: the file names what they have left changed, or goes when that is nothing.
void VolumeManager::SaveRecordOfPlan() {
    if (planned_.ChangesNothing()) {
        planned_ = VolumeRestoreRecord{};
    }
    SaveRecord(planned_);
}

// Writes or removes the file when the record differs from what it says. Only the worker
// writes it, and under no lock that a request waits for.
void VolumeManager::SaveRecord(const VolumeRestoreRecord& record) {
    std::lock_guard fileLock(recordFileMutex_);
    if (record == saved_ || (record.ChangesNothing() && saved_.ChangesNothing())) {
        return;
    }
    if (WriteRecordLocked(record.WithStreams(programStreams_))) {
        saved_ = record;
    }
}

bool VolumeManager::RecordProgramChanges(std::vector<StreamChange> changes) {
    std::lock_guard fileLock(recordFileMutex_);
    if (changes == programStreams_) {
        return true;
    }
    if (!WriteRecordLocked(saved_.WithStreams(changes))) {
        return false;
    }
    programStreams_ = std::move(changes);
    return true;
}

// The file says what the record says, or is gone when it names no change. False (reported)
// when it could not be written: the file still says what it said, the next change tries again.
bool VolumeManager::WriteRecordLocked(const VolumeRestoreRecord& record) {
    std::string path;
    {
        std::lock_guard lock(recordPathMutex_);
        path = recordPath_;
    }
    if (path.empty()) {
        return true;
    }
    std::error_code error;
    const bool kept = record.ChangesNothing() ? VolumeRestoreRecord::Remove(path, &error)
                                              : record.Save(path, &error);
    if (!kept) {
        ReportRecordFailure(path, error);
        return false;
    }
    reportedRecordFailure_.clear();
    return true;
}

// Once per cause: the same failure again and again says nothing new.
void VolumeManager::ReportRecordFailure(const std::string& path, const std::error_code& error) {
    if (error == reportedRecordFailure_) {
        return;
    }
    reportedRecordFailure_ = error;
    RecordFailureReport report;
    {
        std::lock_guard lock(recordPathMutex_);
        report = recordFailureReport_;
    }
    const std::string message = "Could not keep the record of changes to the output " + path +
                                " (" + error.message() + ")" +
                                std::string(kRecordFailureConsequence) + ".";
    if (report) {
        report(message);
        return;
    }
    WriteLogLine(message);
    std::cerr << "Hushwell: " << message << std::endl;
}

// The controls undo themselves on the old output, the worker carries that out there, binds
// to the new default output, and the controls apply themselves again on it.
void VolumeManager::SwitchDefaultEndpoint() {
    SignalControls(suspendEvents_);
    sleep_(kControlsSettlePause);
    ApplyWantedMute();
    ApplyPendingSteps();

    RebindDefaultEndpoint();

    SignalControls(resumeEvents_);
    sleep_(kControlsSettlePause);
    ApplyWantedMute();
    ApplyPendingSteps();
}

// Signals each event in list order, a short pause after each, holding the list lock so that
// no control comes or goes in between.
void VolumeManager::SignalControls(const std::vector<Event*>& events) {
    std::lock_guard lock(listMutex_);
    for (Event* event : events) {
        event->Set();
        sleep_(kPerControlPause);
    }
}

void VolumeManager::RebindDefaultEndpoint() {
    if (!deviceChanged_) {
        return;
    }
    // Releasing the session unregisters from it; a session whose device is gone may refuse
    // the unregistration, which must not keep the manager on that device.
    ReleaseEndpoint();
    // The default-device report usually follows a removal closely; when it does not come in
    // time, the output that is the default now is taken anyway rather than none.
    defaultDeviceGate_.Wait(kDefaultDeviceGateWait);
    // Cleared before the default is looked up, so that a change reported while binding
    // starts another switch instead of being lost.
    defaultDeviceGate_.Reset();
    deviceChanged_ = false;
    OpenDefaultEndpoint();
}

}  // namespace hushwell
