#include "detection/RunnerList.h"

#include <algorithm>

#include "triggers/ControlRunner.h"
#include "triggers/EventLog.h"
#include "triggers/Trigger.h"

namespace hushwell {

using Lock = std::lock_guard<std::recursive_mutex>;

namespace {

// The log line of a control the user took back: the trigger's name and this.
constexpr const char* kUndoneSuffix = ": undone by the user";

}  // namespace

RunnerList::RunnerList(VolumeManager& volume, CommandOpener& opener, const Clock& clock)
    : volume_(volume), opener_(opener), clock_(clock) {}

RunnerList::~RunnerList() {
    Lock lock(lock_);
    runners_.clear();
}

// --- Starting controls ---------------------------------------------------------------------

ControlRunner& RunnerList::StartRunner(const Trigger& trigger, bool idle) {
    Lock lock(lock_);
    return StartRunnerLocked(trigger, idle);
}

ControlRunner& RunnerList::StartRunnerLocked(const Trigger& trigger, bool idle,
                                             const ProgramIdentity* program) {
    auto runner = std::make_unique<ControlRunner>(volume_, opener_, clock_);
    runner->Init(trigger, idle);
    if (program != nullptr && programs_ != nullptr) {
        runner->TargetProgram(*programs_, *program);
    }
    StartedControl started;
    {
        std::lock_guard triggerLock(trigger.Mutex());
        const ControlKind kind = trigger.GetControlKind();
        started = StartedControl{.runnerId = ++lastRunnerId_,
                                 .serialId = trigger.serialId,
                                 .triggerName = trigger.name,
                                 .control = trigger.control,
                                 .command = kind == ControlKind::Exec ? trigger.command : "",
                                 .seconds = trigger.duration.Seconds(),
                                 .undoable = kind != ControlKind::Exec};
    }
    runners_.push_back({started.runnerId, started.triggerName, std::move(runner)});
    ControlRunner& running = *runners_.back().runner;
    running.Start();
    if (observer_ != nullptr) {
        observer_->OnControlStarted(started);
        observer_->OnRunnersChanged();
    }
    return running;
}

template <typename Pick>
std::size_t RunnerList::DestroyLocked(Pick pick) {
    const std::size_t count =
        std::erase_if(runners_, [&pick](const Entry& entry) { return pick(entry); });
    if (count > 0 && observer_ != nullptr) {
        observer_->OnRunnersChanged();
    }
    return count;
}

bool RunnerList::StartSoundControl(const Trigger& trigger, bool idle) {
    Lock lock(lock_);
    if (controlsBlocked_) {
        return false;
    }
    StartRunnerLocked(trigger, idle);
    return true;
}

void RunnerList::SetProgramVolume(ProgramVolumeManager* programs) {
    Lock lock(lock_);
    programs_ = programs;
}

bool RunnerList::StartProgramControl(const Trigger& trigger, const ProgramIdentity& program) {
    Lock lock(lock_);
    if (controlsBlocked_ || programs_ == nullptr) {
        return false;
    }
    StartRunnerLocked(trigger, false, &program);
    return true;
}

bool RunnerList::StartTimeControl(const Trigger& trigger, bool idle) {
    Lock lock(lock_);
    if (controlsBlocked_ || FindBySerial(trigger.serialId) != nullptr) {
        return false;
    }
    StartRunnerLocked(trigger, idle);
    return true;
}

ControlLauncher::LevelOutcome RunnerList::ExtendOrStartLevelControl(const Trigger& trigger) {
    Lock lock(lock_);
    if (ControlRunner* running = FindBySerial(trigger.serialId)) {
        return running->PushDeadline(clock_.TickMs()) ? LevelOutcome::Extended
                                                      : LevelOutcome::Unchanged;
    }
    StartRunnerLocked(trigger, false);
    return LevelOutcome::Started;
}

void RunnerList::PostTelephoneVerdict(int verdict) {
    Lock lock(lock_);
    if (runners_.empty()) {
        return;
    }
    // One fresh tick for the posting; each runner decides under the runner lock and signals
    // its apply event after releasing it.
    const std::uint64_t now = clock_.TickMs();
    for (const Entry& entry : runners_) {
        entry.runner->PostTelephoneVerdict(verdict, now);
    }
}

// --- Finding and destroying ------------------------------------------------------------------

ControlRunner* RunnerList::FindBySerial(std::uint32_t serial) {
    Lock lock(lock_);
    for (const Entry& entry : runners_) {
        if (entry.runner->TriggerSerial() == serial) {
            return entry.runner.get();
        }
    }
    return nullptr;
}

void RunnerList::DestroyFinishedAndRecheck() {
    Lock lock(lock_);
    const std::uint64_t now = clock_.TickMs();
    DestroyLocked([](const Entry& entry) { return entry.runner->IsFinished(); });
    for (const Entry& entry : runners_) {
        entry.runner->Recheck(now);
    }
}

void RunnerList::CancelRunnersOf(std::uint32_t serial) {
    Lock lock(lock_);
    DestroyLocked([serial](const Entry& entry) { return entry.runner->TriggerSerial() == serial; });
}

void RunnerList::StopAll() {
    Lock lock(lock_);
    DestroyLocked([](const Entry&) { return true; });
    controlsBlocked_ = true;
}

bool RunnerList::EndRunner(std::uint64_t runnerId) {
    Lock lock(lock_);
    std::string name;
    const std::size_t ended = DestroyLocked([runnerId, &name](const Entry& entry) {
        if (entry.id != runnerId || entry.runner->IsFinished()) {
            return false;
        }
        name = entry.name;
        return true;
    });
    if (ended == 0) {
        return false;
    }
    WriteLogLine(name + kUndoneSuffix);
    return true;
}

std::vector<std::string> RunnerList::RunningNames() const {
    Lock lock(lock_);
    std::vector<std::string> names;
    for (const Entry& entry : runners_) {
        if (!entry.runner->IsFinished()) {
            names.push_back(entry.name);
        }
    }
    return names;
}

void RunnerList::SetObserver(RunnerObserver* observer) {
    Lock lock(lock_);
    observer_ = observer;
}

void RunnerList::BlockControls() {
    Lock lock(lock_);
    controlsBlocked_ = true;
}

void RunnerList::UnblockControls() {
    Lock lock(lock_);
    controlsBlocked_ = false;
}

bool RunnerList::ControlsBlocked() const {
    Lock lock(lock_);
    return controlsBlocked_;
}

std::size_t RunnerList::Size() const {
    Lock lock(lock_);
    return runners_.size();
}

void RunnerList::ForEach(const std::function<void(ControlRunner&)>& visit) {
    Lock lock(lock_);
    for (const Entry& entry : runners_) {
        visit(*entry.runner);
    }
}

}  // namespace hushwell
