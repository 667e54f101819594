#include "detection/RunnerList.h"

#include <algorithm>

#include "triggers/ControlRunner.h"
#include "triggers/Trigger.h"

namespace hushwell {

using Lock = std::lock_guard<std::recursive_mutex>;

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
    runners_.push_back(std::move(runner));
    ControlRunner& started = *runners_.back();
    started.Start();
    return started;
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
    for (const auto& runner : runners_) {
        runner->PostTelephoneVerdict(verdict, now);
    }
}

// --- Finding and destroying ------------------------------------------------------------------

ControlRunner* RunnerList::FindBySerial(std::uint32_t serial) {
    Lock lock(lock_);
    for (const auto& runner : runners_) {
        if (runner->TriggerSerial() == serial) {
            return runner.get();
        }
    }
    return nullptr;
}

void RunnerList::DestroyFinishedAndRecheck() {
    Lock lock(lock_);
    const std::uint64_t now = clock_.TickMs();
    std::erase_if(runners_, [](const auto& runner) { return runner->IsFinished(); });
    for (const auto& runner : runners_) {
        runner->Recheck(now);
    }
}

void RunnerList::CancelRunnersOf(std::uint32_t serial) {
    Lock lock(lock_);
    std::erase_if(runners_,
                  [serial](const auto& runner) { return runner->TriggerSerial() == serial; });
}

void RunnerList::StopAll() {
    Lock lock(lock_);
    runners_.clear();
    controlsBlocked_ = true;
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
    for (const auto& runner : runners_) {
        visit(*runner);
    }
}

}  // namespace hushwell
