#include "detection/DetectionEngine.h"

#include <malloc.h>

#include <cstring>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "audio/CaptureOwnerSequence.h"
#include "audio/LoopbackCapture.h"
#include "audio/MixFormat.h"
#include "audio/ThreadName.h"
#include "base/Clock.h"
#include "detection/DetectionStep.h"
#include "detection/EngineTimers.h"
#include "detection/PacketConversion.h"
#include "detection/ProgramStreamWatcher.h"
#include "detection/RunnerList.h"
#include "detection/TimeTriggerStep.h"
#include "persistence/TriggerListFile.h"
#include "persistence/TriggerListStore.h"
#include "triggers/EventLog.h"

namespace hushwell {

namespace {

constexpr const char* kCaptureFailedText = "Capture is not running";
constexpr const char* kCaptureResumedText = "Capture is running again.";
constexpr const char* kCaptureStartedText = "Capture is running.";

// Every byte zero: silence in any sample format (the output plays nothing, or zeros).
bool IsDigitalSilence(const std::uint8_t* bytes, std::size_t size) {
    return size == 0 || (bytes[0] == 0 && std::memcmp(bytes, bytes + 1, size - 1) == 0);
}

}  // namespace

DetectionEngine::Setup DetectionEngine::ProgramSetup(AudioBackend& backend, VolumeManager& volume,
                                                     CommandOpener& opener, EngineTimers& timers,
                                                     ProgramPaths paths, FiringSink* firings) {
    Setup setup;
    setup.backend = &backend;
    setup.clock = &SystemClock::Instance();
    setup.volume = &volume;
    setup.opener = &opener;
    setup.timers = &timers;
    setup.paths = std::move(paths);
    setup.firings = firings;
    return setup;
}

DetectionEngine::DetectionEngine() = default;

DetectionEngine::~DetectionEngine() {
    ShutdownEngine();
}

// --- Start-up --------------------------------------------------------------------------------

void DetectionEngine::InitEngine(Setup setup) {
    if (initialised_ || setup.backend == nullptr || setup.clock == nullptr ||
        setup.volume == nullptr || setup.opener == nullptr || setup.timers == nullptr) {
        return;
    }
    setup_ = std::move(setup);
    initialised_ = true;

    LoadTriggerList();
    runners_ = std::make_unique<RunnerList>(*setup_.volume, *setup_.opener, *setup_.clock);
    runners_->SetProgramVolume(setup_.programVolume);
    programStreams_ = std::make_unique<ProgramStreamWatcher>(*setup_.backend, *runners_,
                                                             *setup_.clock, setup_.firings);
    step_ = std::make_unique<DetectionStep>(triggers_, liveAnalyzer_, level_, telephone_, *runners_,
                                            *setup_.clock, setup_.firings);
    step_->SetVerification(verification_);
    step_->SetSpillFolder(setup_.paths.dataFolder);
    step_->SetScoreBoard(&scores_);
    timeStep_ =
        std::make_unique<TimeTriggerStep>(triggers_, *runners_, *setup_.clock, setup_.firings);
    references_.SetTriggersFolder(setup_.paths.soundFolder);

    references_.RebuildReferences(triggers_, step_->TakeReferencesOf(references_));
    step_->PrepareReferences(references_);
    programStreams_->SetTriggers(triggers_, setup_.paths.soundFolder, verification_);
    ReturnFreedMemory();
    StartDetection();
    StartCaptureRunner();
    WaitForCaptureStart();
}

void DetectionEngine::LoadTriggerList() {
    // A missing or unreadable file leaves the list empty; the program runs without triggers.
    // A file that exists but cannot be used is worth one log line.
    const TriggerListStore store(setup_.paths);
    std::string reason;
    if (store.Load(triggers_, reason) != TriggerListFile::kOk && !reason.empty()) {
        WriteLogLine("The trigger list " + store.Path() + " " + reason +
                     "; no triggers were loaded from it.");
    }
}

void DetectionEngine::StartCaptureRunner() {
    captureStarted_.Reset();
    firstCaptureAttemptFailed_.Reset();
    {
        std::lock_guard lock(captureMutex_);
        captureQuit_ = false;
    }
    captureRunner_ = std::thread([this] { CaptureRunner(); });
}

void DetectionEngine::WaitForCaptureStart() {
    // Start-up goes on whether or not capture started. When the first attempt has already
    // failed there is nothing to wait for: the retries run on their own.
    WaitForAny({&captureStarted_, &firstCaptureAttemptFailed_}, setup_.captureStartWait);
}

// --- Detection start and stop ------------------------------------------------------------------

void DetectionEngine::StartDetection() {
    if (!initialised_ || quitting_ || detectionRunning_.load()) {
        return;
    }
    DetectionStep::ClearHoldOffs(triggers_);
    // Controls are allowed from the first block on.
    runners_->UnblockControls();
    detectionStarted_.Reset();
    dataEvent_.Reset();
    stopEvent_.Reset();
    detectionThread_ = std::thread([this] { DetectionThread(); });
    detectionStarted_.Wait();
    detectionRunning_.store(true);
    {
        std::lock_guard lock(feedMutex_);
        feedToDetection_ = true;
        silenceWakeUps_.Restart();
    }
    programStreams_->Start();
    StartEngineTimers();
}

void DetectionEngine::StopDetection() {
    if (!detectionRunning_.load()) {
        return;
    }
    StopEngineTimers();
    programStreams_->Stop();
    {
        // From here on the feed keeps what arrives; a move in progress ends first.
        std::lock_guard lock(feedMutex_);
        feedToDetection_ = false;
    }
    step_->RequestStop();
    stopEvent_.Set();
    detectionThread_.join();
    detectionRunning_.store(false);
}

void DetectionEngine::StartEngineTimers() {
    std::lock_guard lock(timerMutex_);
    timersEnabled_ = true;
    setup_.timers->Start(kTimeTriggerTimerId, kTimeTriggerPeriod);
    setup_.timers->Start(kRunnerTimerId, kRunnerPeriod);
}

void DetectionEngine::StopEngineTimers() {
    std::lock_guard lock(timerMutex_);
    timersEnabled_ = false;
    setup_.timers->Stop(kTimeTriggerTimerId);
    setup_.timers->Stop(kRunnerTimerId);
}

void DetectionEngine::RestartTimer(int id, std::chrono::milliseconds period) {
    std::lock_guard lock(timerMutex_);
    if (timersEnabled_) {
        setup_.timers->Start(id, period);
    }
}

// --- Pause, resume, rebuild ---------------------------------------------------------------------

void DetectionEngine::Pause() {
    if (!initialised_ || quitting_ || IsPaused()) {
        return;
    }
    StopDetection();
    StopAllRunners();
    std::lock_guard lock(stateMutex_);
    state_ = RunState::Paused;
}

void DetectionEngine::Resume() {
    if (!initialised_ || quitting_ || !IsPaused()) {
        return;
    }
    {
        std::lock_guard lock(stateMutex_);
        state_ = RunState::Running;
    }
    DiscardCaptureFeed();
    StartDetection();
}

void DetectionEngine::DiscardCaptureFeed() {
    // What played while paused is not detected later: the first delivery after resuming would
    // otherwise hand the oldest seconds of it to detection.
    std::lock_guard lock(captureMutex_);
    if (capture_ == nullptr) {
        return;
    }
    while (CaptureBlock block = capture_->PopFeedBlock()) {
        staleBlocks_.fetch_add(1);
    }
}

DetectionEngine::RunState DetectionEngine::State() const {
    std::lock_guard lock(stateMutex_);
    return state_;
}

int DetectionEngine::RebuildReferences(const TriggerList* replacement) {
    const bool restart = initialised_ && !quitting_ && !IsPaused() && detectionRunning_.load();
    StopDetection();
    int count = 0;
    {
        // A time-trigger step in progress on another thread finishes before the list changes.
        std::unique_lock<std::recursive_mutex> timeLock;
        if (timeStep_) {
            timeLock = std::unique_lock(timeStep_->Mutex());
        }
        if (replacement != nullptr && replacement != &triggers_) {
            // The base folder comes along: the sound files of the new list are relative to it.
            triggers_.SetBaseDir(replacement->BaseDir());
            triggers_.Assign(*replacement);
        }
        if (step_) {
            step_->ReleaseReferences();  // the old references go before the new ones come
        }
        count =
            references_.RebuildReferences(triggers_, step_ ? step_->TakeReferencesOf(references_)
                                                           : ReferenceSet::ReferenceTaker());
    }
    if (step_) {
        step_->PrepareReferences(references_);
        programStreams_->SetTriggers(triggers_, setup_.paths.soundFolder, verification_);
    }
    ReturnFreedMemory();
    if (restart) {
        StartDetection();
    }
    return count;
}

// A rebuild reads every sound file and analyses it, and the features it made are freed as
// the step takes them: megabytes in pieces the allocator keeps for reuse. They go back to the
// system at once, so that the program's resident memory is what the references need.
void DetectionEngine::ReturnFreedMemory() {
#if defined(__GLIBC__)
    ::malloc_trim(0);
#endif
}

void DetectionEngine::SetVerification(bool on) {
    if (on == verification_) {
        return;
    }
    verification_ = on;
    if (!step_) {
        return;  // taken up when the step is made
    }
    const bool restart = initialised_ && !quitting_ && !IsPaused() && detectionRunning_.load();
    StopDetection();
    step_->SetVerification(on);
    step_->PrepareReferences(references_);  // the same references, decided the other way
    programStreams_->SetTriggers(triggers_, setup_.paths.soundFolder, on);
    if (restart) {
        StartDetection();
    }
}

// --- Runners ---------------------------------------------------------------------------------

void DetectionEngine::CancelRunnersOf(std::uint32_t serialId) {
    if (runners_) {
        runners_->CancelRunnersOf(serialId);
    }
}

void DetectionEngine::StopAllRunners() {
    if (runners_) {
        runners_->StopAll();
    }
}

// --- Stop and shutdown -------------------------------------------------------------------------

void DetectionEngine::StopCapture() {
    {
        std::lock_guard lock(captureMutex_);
        captureQuit_ = true;
        if (capture_ != nullptr) {
            capture_->RequestShutdown();
        }
    }
    captureRetryWake_.Set();
    if (captureRunner_.joinable()) {
        captureRunner_.join();
    }
    if (!IsPaused()) {
        StopDetection();
    }
}

void DetectionEngine::ShutdownEngine() {
    if (!initialised_) {
        return;
    }
    {
        // Waits for a timer handler in progress; later ones do nothing.
        std::lock_guard lock(handlerMutex_);
        if (quitting_.exchange(true)) {
            return;
        }
    }
    StopCapture();
    StopDetection();
    StopAllRunners();
    FreeQueuedBlocks();
}

void DetectionEngine::FreeQueuedBlocks() {
    std::lock_guard lock(queueMutex_);
    queue_.clear();
}

// --- Timers ----------------------------------------------------------------------------------

void DetectionEngine::OnEngineTimer(int id) {
    std::lock_guard lock(handlerMutex_);
    if (!initialised_ || quitting_) {
        return;
    }
    switch (id) {
        case kTimeTriggerTimerId:
            RunTimeTriggerStep();
            break;
        case kRunnerTimerId:
            HouseKeepRunners();
            break;
        default:
            break;
    }
}

void DetectionEngine::RunTimeTriggerStep() {
    setup_.timers->Stop(kTimeTriggerTimerId);
    timeStep_->Run();
    RestartTimer(kTimeTriggerTimerId, kTimeTriggerPeriod);
}

void DetectionEngine::HouseKeepRunners() {
    setup_.timers->Stop(kRunnerTimerId);
    runners_->DestroyFinishedAndRecheck();
    RestartTimer(kRunnerTimerId, kRunnerPeriod);
}

// --- Capture packets into detection blocks ------------------------------------------------------

void DetectionEngine::OnCaptureFeed(LoopbackCapture& capture) {
    std::lock_guard lock(feedMutex_);
    if (!feedToDetection_) {
        return;  // paused or stopped: the feed keeps the audio, up to its own cap
    }
    std::size_t queued = 0;
    bool heard = false;
    WaveFormat format;
    while (CaptureBlock block = capture.PopFeedBlock(format)) {
        const bool silent = IsDigitalSilence(block.Payload(), block.PayloadSize());
        heard = heard || !silent;
        queued += QueueCaptureBlock(std::move(block), format, silent) ? 1 : 0;
    }
    // One wake-up for the whole delivery, fewer during long digital silence.
    if (silenceWakeUps_.OnDelivery(queued, heard)) {
        dataEvent_.Set();
    }
}

void DetectionEngine::EnqueueCaptureBlock(CaptureBlock block, const WaveFormat& mixFormat) {
    const bool silent = block && IsDigitalSilence(block.Payload(), block.PayloadSize());
    if (QueueCaptureBlock(std::move(block), mixFormat, silent)) {
        dataEvent_.Set();
    }
}

bool DetectionEngine::QueueCaptureBlock(CaptureBlock block, const WaveFormat& mixFormat,
                                        bool silent) {
    if (!block) {
        return false;
    }
    {
        std::lock_guard lock(queueMutex_);
        if (queue_.size() >= kMaxQueuedBlocks) {
            // The detection thread is behind: the audio is dropped and nobody is woken.
            droppedBlocks_.fetch_add(1);
            return false;
        }
    }
    std::unique_ptr<WaveData> data = ConvertPacket(block, mixFormat, silent);
    block = CaptureBlock();
    std::lock_guard lock(queueMutex_);
    if (!data || data->SampleCount() == 0) {
        discardedPackets_.fetch_add(1);
        return false;
    }
    queue_.push_back(std::move(data));
    return true;
}

std::unique_ptr<WaveData> DetectionEngine::ConvertPacket(const CaptureBlock& block,
                                                         const WaveFormat& format, bool silent) {
    return ConvertCapturePacket(std::span(block.Payload(), block.PayloadSize()), format, silent);
}

// --- DetectionThread ---------------------------------------------------------------------------

void DetectionEngine::DetectionThread() {
    NameThisThread("detection");
    step_->Begin();
    detectionStarted_.Set();
    for (;;) {
        const auto woken = WaitForAny({&stopEvent_, &dataEvent_}, kWaitForever);
        if (!woken || *woken == 0) {
            break;
        }
        step_->WakeUp();
        DrainQueue();
    }
    FreeQueuedBlocks();
}

void DetectionEngine::DrainQueue() {
    // Every block waiting, taken at once and heard now: a delivery is scored in one call.
    const std::deque<std::unique_ptr<WaveData>> blocks = TakeQueuedBlocks();
    if (blocks.empty() || step_->StopRequested()) {
        return;
    }
    const std::uint64_t tick = setup_.clock->TickMs();
    std::vector<DetectionStep::HeardBlock> heard;
    heard.reserve(blocks.size());
    std::uint64_t samples = 0;
    for (const std::unique_ptr<WaveData>& block : blocks) {
        if (setup_.blockHook) {
            setup_.blockHook(*block);
        }
        heard.push_back({block.get(), tick});
        samples += static_cast<std::uint64_t>(block->SampleCount());
    }
    step_->ProcessBlocks(heard);
    processedSamples_.fetch_add(samples);
    processedBlocks_.fetch_add(blocks.size());
}

std::deque<std::unique_ptr<WaveData>> DetectionEngine::TakeQueuedBlocks() {
    std::lock_guard lock(queueMutex_);
    return std::exchange(queue_, {});
}

// --- CaptureRunner -----------------------------------------------------------------------------

void DetectionEngine::CaptureRunner() {
    NameThisThread("capture-runner");
    CaptureOwnerHooks hooks;
    hooks.publish = [this](LoopbackCapture* capture) { return PublishCapture(capture); };
    hooks.started = [this] { OnCaptureStarted(); };
    captureFailureLogged_ = false;
    for (;;) {
        const CaptureSessionEnd end = RunCaptureSession(*setup_.backend, hooks);
        {
            std::lock_guard lock(captureMutex_);
            if (captureQuit_) {
                return;
            }
        }
        captureFailures_.fetch_add(1);
        firstCaptureAttemptFailed_.Set();
        // One line when capture stops working, however often it is retried.
        if (!captureFailureLogged_) {
            WriteLogLine(std::string(kCaptureFailedText) + " (" + CaptureSessionEndText(end) +
                         "); trying again every " +
                         std::to_string(setup_.captureRetryInterval.count() / 1000) + " seconds.");
            captureFailureLogged_ = true;
        }
        if (!WaitBeforeRetry()) {
            return;
        }
    }
}

bool DetectionEngine::PublishCapture(LoopbackCapture* capture) {
    std::lock_guard lock(captureMutex_);
    if (capture != nullptr && captureQuit_) {
        return false;
    }
    if (capture != nullptr) {
        // Before BeginCapture: the capture thread hands every delivery straight over.
        capture->SetFeedListener([this, capture] { OnCaptureFeed(*capture); });
    }
    capture_ = capture;
    captureRunning_ = false;
    return true;
}

void DetectionEngine::OnCaptureStarted() {
    {
        std::lock_guard lock(captureMutex_);
        captureRunning_ = true;
    }
    const bool firstSession = captureSessions_.fetch_add(1) == 0;
    captureStarted_.Set();
    if (captureFailureLogged_) {
        WriteLogLine(kCaptureResumedText);
        captureFailureLogged_ = false;
    } else if (firstSession) {
        WriteLogLine(kCaptureStartedText);  // once per run, the first time capture starts
    }
}

bool DetectionEngine::WaitBeforeRetry() {
    captureRetryWake_.Wait(setup_.captureRetryInterval);
    std::lock_guard lock(captureMutex_);
    return !captureQuit_;
}

// --- Observations ------------------------------------------------------------------------------

DetectionEngine::Stats DetectionEngine::GetStats() const {
    Stats stats;
    {
        std::lock_guard lock(queueMutex_);
        stats.queuedBlocks = queue_.size();
    }
    stats.processedBlocks = processedBlocks_.load();
    stats.processedSamples = processedSamples_.load();
    stats.droppedBlocks = droppedBlocks_.load();
    stats.discardedPackets = discardedPackets_.load();
    stats.staleBlocks = staleBlocks_.load();
    stats.captureSessions = captureSessions_.load();
    stats.captureFailures = captureFailures_.load();
    return stats;
}

bool DetectionEngine::IsCapturing() const {
    std::lock_guard lock(captureMutex_);
    return capture_ != nullptr && captureRunning_ &&
           capture_->CaptureEndReason() == LoopbackCapture::EndReason::Running;
}

}  // namespace hushwell
