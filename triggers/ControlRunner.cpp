#include "triggers/ControlRunner.h"

#include <locale.h>

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstdlib>
#include <string_view>
#include <system_error>
#include <utility>
#include <vector>

#include "base/Event.h"
#include "triggers/CommandOpener.h"
#include "triggers/EventLog.h"
#include "triggers/ProgramVolumeManager.h"
#include "triggers/Trigger.h"
#include "triggers/VolumeManager.h"

namespace hushwell {

namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
constexpr std::uint64_t kMsPerSecond = 1000;

using Lock = std::lock_guard<std::recursive_mutex>;

ControlKind UndoKindOf(ControlKind primary) {
    switch (primary) {
        case ControlKind::Mute:
            return ControlKind::Unmute;
        case ControlKind::Unmute:
            return ControlKind::Mute;
        case ControlKind::Down:
            return ControlKind::Up;
        case ControlKind::Up:
            return ControlKind::Down;
        default:
            return ControlKind::Undefined;  // exec and undefined have nothing to undo
    }
}

// Counts the workers that run, so that the program can wait for stragglers at exit.
class WorkerCount {
public:
    void Add() {
        std::lock_guard lock(mutex_);
        ++count_;
    }
    void Remove() {
        std::lock_guard lock(mutex_);
        --count_;
        changed_.notify_all();
    }
    int Count() {
        std::lock_guard lock(mutex_);
        return count_;
    }
    bool WaitForZero(std::chrono::milliseconds timeout) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, timeout, [this] { return count_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

// Never destroyed: a worker that exit could not wait for may still count itself out while the
// process runs its static destructors.
WorkerCount& Workers() {
    static WorkerCount* const workers = new WorkerCount;
    return *workers;
}

std::int64_t SecondsOfDay(const LocalTime& t) {
    return std::int64_t{t.hour} * 3600 + std::int64_t{t.minute} * 60 + t.second;
}

// What the worker does next; the first five are the events in their order of priority.
enum class Step { End, Apply, Recheck, Suspend, Resume, ComputeWait };

}  // namespace

// The runner's events. The volume manager signals suspend and resume around an endpoint
// switch; exited is set by the worker as its very last action.
struct ControlRunner::Events {
    Event end{Event::Mode::AutoReset};
    Event apply{Event::Mode::AutoReset};
    Event recheck{Event::Mode::AutoReset};
    Event started{Event::Mode::ManualReset};
    Event suspend{Event::Mode::AutoReset};
    Event resume{Event::Mode::AutoReset};
    Event exited{Event::Mode::ManualReset};
};

// Everything the worker touches. Owned jointly by the runner object and its worker.
struct ControlRunner::Shared {
    Shared(VolumeManager& v, CommandOpener& o, const Clock& c) : volume(v), opener(o), clock(c) {}

    VolumeManager& volume;
    CommandOpener& opener;
    const Clock& clock;

    // Written by Init on the creating thread before Start; read-only afterwards.
    std::uint32_t duration = 0;  // seconds
    std::string amountText;
    std::string command;
    std::string commandArgs;
    ControlKind primary = ControlKind::Undefined;
    ControlKind undo = ControlKind::Undefined;
    bool idle = false;
    std::uint32_t serial = 0;
    TriggerKind triggerKind = TriggerKind::Other;
    TargetCode target = kNoTarget;
    ProgramVolumeManager* programs = nullptr;  // set for a control on one program
    ProgramIdentity program;

    // Created by Start before the worker runs.
    std::unique_ptr<Events> events;

    // Guarded by RunnerLock().
    int wanted = 1;   // 1: the trigger's control is wanted, 0: its undo
    int applied = 0;  // wanted at the last application
    bool suspended = false;
    bool finished = false;
    std::uint64_t deadline = 0;
    std::uint64_t startTick = 0;

    // The worker's own: the program hold it placed, 0 when none.
    std::uint64_t programHold = 0;
};

// --- The worker ---------------------------------------------------------------------------

// Runs on the runner's own thread and holds its share of the state block for as long as it
// runs.
class ControlRunner::Worker {
public:
    explicit Worker(std::shared_ptr<Shared> state) : s_(std::move(state)), ev_(*s_->events) {}

    void Run() {
        ev_.started.Set();
        const int amount = ControlRunner::ParseAmount(s_->amountText);
        Step step = Step::Apply;
        if (s_->idle) {
            Lock lock(ControlRunner::RunnerLock());
            s_->applied = 0;
            step = Step::ComputeWait;
        }
        while (step != Step::End) {
            switch (step) {
                case Step::Apply:
                    ApplyWanted(amount);
                    break;
                case Step::Suspend:
                    Suspend(amount);
                    break;
                case Step::Resume:
                    Resume(amount);
                    break;
                default:
                    break;  // recheck: only the wait is recomputed
            }
            step = WaitForNextStep();
        }
        UndoAtEnd(amount);
        {
            Lock lock(ControlRunner::RunnerLock());
            s_->finished = true;
        }
        ev_.exited.Set();
        Workers().Remove();  // the last thing: nothing outside the shared block is touched after
    }

private:
    // The single place where controls take effect. "exec" is never dispatched under the
    // runner lock.
    void Dispatch(ControlKind kind, int amount) {
        if (s_->programs != nullptr && kind != ControlKind::Exec) {
            DispatchToProgram(kind, amount);
            return;
        }
        switch (kind) {
            case ControlKind::Mute:
                s_->volume.RequestMute(true);
                break;
            case ControlKind::Unmute:
                s_->volume.RequestMute(false);
                break;
            case ControlKind::Down:
                s_->volume.RequestVolumeSteps(-amount);
                break;
            case ControlKind::Up:
                s_->volume.RequestVolumeSteps(amount);
                break;
            case ControlKind::Exec:
                if (std::string reason;
                    !s_->opener.OpenExplaining(s_->command, s_->commandArgs, reason)) {
                    WriteLogLine("Could not start \"" + s_->command + "\"" +
                                 (reason.empty() ? "" : " (" + reason + ")"));
                }
                break;
            default:
                break;
        }
    }

    // The control is a hold on the program; its undo takes the hold away.
    void DispatchToProgram(ControlKind kind, int amount) {
        if (kind == s_->primary && s_->programHold == 0) {
            s_->programHold = s_->programs->Apply(s_->program, kind, amount);
        } else if (kind == s_->undo) {
            s_->programs->Undo(s_->programHold);
            s_->programHold = 0;
        }
    }

    // Applies the wanted control when it is not the one applied already: a repeated apply
    // request must not lower the volume twice.
    void ApplyWanted(int amount) {
        ControlKind kind = ControlKind::Undefined;
        {
            Lock lock(ControlRunner::RunnerLock());
            if (s_->wanted == s_->applied || s_->suspended) {
                return;  // a suspended control is re-applied by the resume step
            }
            s_->applied = s_->wanted;
            kind = s_->wanted == 1 ? s_->primary : s_->undo;
        }
        Dispatch(kind, amount);
    }

    // Deadline reached or end requested: an applied control is undone. A control that was
    // already undone for an endpoint switch is not undone a second time. A runner that never
    // applied its control (a "telephone" verdict noted inside the hold-off, with the deadline
    // or the owner coming first) ends without touching the output: applying the wanted control
    // here would leave it applied with nothing left to undo it.
    void UndoAtEnd(int amount) {
        {
            Lock lock(ControlRunner::RunnerLock());
            if (s_->suspended) {
                s_->suspended = false;
                s_->applied = 0;
                s_->wanted = 0;
                return;
            }
            if (s_->applied == 0) {
                s_->wanted = 0;
                return;
            }
            s_->wanted = 0;
        }
        ApplyWanted(amount);
    }

    // Suspend and resume post their requests under the runner lock, so that no verdict,
    // recheck or deadline change slips in between (lock order: runner lock, then the volume
    // manager's state lock). Neither ever opens a command.
    void Suspend(int amount) {
        Lock lock(ControlRunner::RunnerLock());
        if (s_->applied == 1 && s_->primary != ControlKind::Exec && !s_->suspended) {
            Dispatch(s_->undo, amount);
            s_->suspended = true;
        }
    }

    void Resume(int amount) {
        Lock lock(ControlRunner::RunnerLock());
        if (s_->suspended) {
            Dispatch(s_->primary, amount);
            s_->suspended = false;
        }
    }

    // Milliseconds until the deadline, at most the duration; 0 once it has passed.
    std::chrono::milliseconds WaitTime() const {
        const std::uint64_t now = s_->clock.TickMs();
        Lock lock(ControlRunner::RunnerLock());
        if (now >= s_->deadline) {
            return std::chrono::milliseconds(0);
        }
        const std::uint64_t left =
            std::min<std::uint64_t>(s_->deadline - now, std::uint64_t{s_->duration} * kMsPerSecond);
        return std::chrono::milliseconds(left);
    }

    bool DeadlineReached() const {
        const std::uint64_t now = s_->clock.TickMs();
        Lock lock(ControlRunner::RunnerLock());
        return now >= s_->deadline;
    }

    Step WaitForNextStep() {
        const std::vector<Event*> events = {&ev_.end, &ev_.apply, &ev_.recheck, &ev_.suspend,
                                            &ev_.resume};
        for (;;) {
            if (auto which = WaitForAny(events, WaitTime())) {
                return static_cast<Step>(*which);
            }
            // A time-out ends the runner once the deadline has come. The deadline may have
            // been pushed meanwhile, or the clock may be one that a test moves by hand:
            // then wait again for what is left.
            if (DeadlineReached()) {
                return Step::End;
            }
        }
    }

    std::shared_ptr<Shared> s_;
    Events& ev_;
};

// --- The runner object --------------------------------------------------------------------

int ControlRunner::ParseAmount(const std::string& text) {
    // Read in the C locale whatever the program's locale is.
    static const locale_t cLocale = newlocale(LC_ALL_MASK, "C", nullptr);
    const double value = cLocale != nullptr ? strtod_l(text.c_str(), nullptr, cLocale)
                                            : std::strtod(text.c_str(), nullptr);
    if (std::isnan(value)) {
        return 0;
    }
    const double limit = kMaxAmountSteps;
    return static_cast<int>(std::trunc(std::clamp(value, -limit, limit)));
}

int ControlRunner::RunningWorkers() {
    return Workers().Count();
}

bool ControlRunner::WaitForAllWorkers(std::chrono::milliseconds timeout) {
    return Workers().WaitForZero(timeout);
}

std::recursive_mutex& ControlRunner::RunnerLock() {
    static std::recursive_mutex lock;
    return lock;
}

ControlRunner::ControlRunner(VolumeManager& volume, CommandOpener& opener, const Clock& clock)
    : shared_(std::make_shared<Shared>(volume, opener, clock)) {}

ControlRunner::~ControlRunner() {
    if (thread_.joinable()) {
        shared_->events->end.Set();
        if (shared_->events->exited.Wait(endWait_)) {
            thread_.join();
        } else {
            // The worker keeps the shared block alive; it finishes on its own.
            WriteLogLine("A control did not end in time");
            thread_.detach();
        }
    }
    WithdrawFromVolumeManager();
}

void ControlRunner::Init(const Trigger& trigger, bool idle) {
    std::lock_guard triggerLock(trigger.Mutex());
    Shared& s = *shared_;
    std::int64_t duration = std::max<std::int64_t>(0, trigger.duration.Seconds());

    const TriggerKind kind = trigger.GetTriggerKind();
    if (kind == TriggerKind::Time && trigger.controlKind != ControlKind::Exec && !trigger.every) {
        // A once-a-day time trigger noticed late keeps only what is left of its period.
        std::int64_t now = SecondsOfDay(s.clock.Now());
        const std::int64_t timeOfDay = trigger.timeOfDay.Seconds();
        if (now < timeOfDay) {
            now += kSecondsPerDay;
        }
        const std::int64_t elapsed = now - timeOfDay;
        duration = elapsed > duration ? 1 : duration - elapsed;
    }
    s.duration = static_cast<std::uint32_t>(std::min<std::int64_t>(duration, UINT32_MAX));

    s.primary = trigger.controlKind;
    s.undo = UndoKindOf(s.primary);
    s.amountText = trigger.amountText;
    s.command = trigger.command;
    s.commandArgs = trigger.commandArgs;
    s.idle = idle;
    s.serial = trigger.serialId;
    s.triggerKind = kind;
    s.target = trigger.GetTargetCode();
    Lock lock(RunnerLock());
    if (idle) {
        s.wanted = 0;
    }
}

void ControlRunner::TargetProgram(ProgramVolumeManager& programs, ProgramIdentity program) {
    shared_->programs = &programs;
    shared_->program = std::move(program);
}

void ControlRunner::Start() {
    Shared& s = *shared_;
    if (s.events != nullptr) {
        return;  // started before
    }
    try {
        s.events = std::make_unique<Events>();
    } catch (const std::exception&) {
        Lock lock(RunnerLock());
        s.finished = true;  // no events (out of descriptors): nothing was applied
        return;
    }
    {
        const std::uint64_t now = s.clock.TickMs();
        Lock lock(RunnerLock());
        s.startTick = now;
        s.deadline = now + std::uint64_t{s.duration} * kMsPerSecond;
    }
    if (s.programs == nullptr) {  // a program's streams stay where they are on a switch
        s.volume.AddControlEvents(&s.events->suspend, &s.events->resume);
        registered_ = true;
    }
    Workers().Add();
    try {
        thread_ = std::thread([state = shared_] { Worker(state).Run(); });
    } catch (const std::system_error&) {
        Workers().Remove();
        WithdrawFromVolumeManager();
        Lock lock(RunnerLock());
        s.finished = true;
        return;
    }
    s.events->started.Wait(kStartWait);
}

void ControlRunner::WithdrawFromVolumeManager() {
    if (registered_) {
        shared_->volume.RemoveControlEvents(&shared_->events->suspend, &shared_->events->resume);
        registered_ = false;
    }
}

void ControlRunner::Recheck(std::uint64_t nowTick) {
    bool signal = false;
    {
        Lock lock(RunnerLock());
        signal = shared_->wanted != shared_->applied &&
                 nowTick > shared_->startTick + kRecheckHoldOffMs && !shared_->suspended &&
                 !shared_->finished;
    }
    if (signal) {
        SignalApply();
    }
}

bool ControlRunner::IsFinished() const {
    Lock lock(RunnerLock());
    return shared_->finished;
}

void ControlRunner::PostTelephoneVerdict(int verdict, std::uint64_t nowTick) {
    Shared& s = *shared_;
    if (s.target != TargetCode::Telephone || s.triggerKind == TriggerKind::Level) {
        return;
    }
    const int wanted = verdict != 0 ? 1 : 0;
    bool signal = false;
    {
        Lock lock(RunnerLock());
        if (s.applied == wanted || s.suspended) {
            return;
        }
        s.wanted = wanted;
        if (s.startTick + kRecheckHoldOffMs < nowTick) {
            s.startTick = nowTick;
            signal = true;
        }
    }
    if (signal) {
        SignalApply();
    }
}

bool ControlRunner::PushDeadline(std::uint64_t nowTick) {
    {
        Lock lock(RunnerLock());
        if (shared_->suspended) {
            return false;
        }
        shared_->deadline = nowTick + std::uint64_t{shared_->duration} * kMsPerSecond;
    }
    Wake();
    return true;
}

void ControlRunner::SignalApply() {
    if (shared_->events != nullptr) {
        shared_->events->apply.Set();
    }
}

void ControlRunner::Wake() {
    if (shared_->events != nullptr) {
        shared_->events->recheck.Set();
    }
}

std::uint32_t ControlRunner::TriggerSerial() const {
    return shared_->serial;
}
TriggerKind ControlRunner::GetTriggerKind() const {
    return shared_->triggerKind;
}
TargetCode ControlRunner::GetTarget() const {
    return shared_->target;
}
ControlKind ControlRunner::PrimaryKind() const {
    return shared_->primary;
}
std::uint32_t ControlRunner::DurationSeconds() const {
    return shared_->duration;
}

int ControlRunner::Applied() const {
    Lock lock(RunnerLock());
    return shared_->applied;
}

int ControlRunner::Wanted() const {
    Lock lock(RunnerLock());
    return shared_->wanted;
}

bool ControlRunner::IsSuspended() const {
    Lock lock(RunnerLock());
    return shared_->suspended;
}

std::uint64_t ControlRunner::Deadline() const {
    Lock lock(RunnerLock());
    return shared_->deadline;
}

}  // namespace hushwell
