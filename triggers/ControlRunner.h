#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/PlaybackStream.h"
#include "base/Clock.h"
#include "triggers/Vocabulary.h"

namespace hushwell {

class Trigger;
class VolumeManager;
class CommandOpener;
class ProgramVolumeManager;

// One carried-out control: applies a trigger's control (mute, unmute, volume steps down or
// up, or opening a command) at once on a worker thread of its own, waits until its deadline,
// applies the opposite control and ends. While the volume manager switches to another
// output device the runner undoes its control and re-applies it afterwards. A runner for a
// "telephone" target starts idle and follows the verdicts posted to it; a level trigger
// keeps pushing its runner's deadline forward. A runner for a "program" target places its
// control as a hold on that program's streams (ProgramVolumeManager) and takes the hold away
// as its undo; it takes no part in output switches.
//
// The state the worker thread shares with the others (wanted, applied, suspended, finished,
// deadline, start tick) is guarded by one program-wide runner lock, RunnerLock(). Callers
// that hold a runner-list lock take it inside that lock, never the other way round. The
// worker itself holds it while it posts the undo or re-apply of an endpoint switch (runner
// lock, then the volume manager's state lock); it never opens a command under it. The
// worker never frees the runner; the owner does, and destroying a runner undoes its control.
//
// The worker and everything it touches live in a block shared with the runner object, so a
// worker that does not end within EndWaitTimeout() of the destructor's request is left to
// finish on its own without touching freed memory.
class ControlRunner {
public:
    static constexpr std::chrono::milliseconds kStartWait{10000};
    static constexpr std::chrono::milliseconds kDefaultEndWait{30000};
    // Recheck and verdicts ask for the wanted control only once this long has passed since
    // the start tick.
    static constexpr std::uint64_t kRecheckHoldOffMs = 1000;
    // Volume steps beyond a full sweep of the scale change nothing but keep the volume
    // thread busy, so amounts are limited to this many 1 % steps either way.
    static constexpr int kMaxAmountSteps = 100;

    // The runner's target and trigger kind before Init.
    static constexpr TargetCode kNoTarget = static_cast<TargetCode>(999);

    // volume: the program's volume manager; opener: opens "exec" commands; clock: the tick
    // counter for the deadline and the local time for Init. All three must outlive every
    // runner thread.
    ControlRunner(VolumeManager& volume, CommandOpener& opener,
                  const Clock& clock = SystemClock::Instance());
    // Creating thread. When the worker was started: asks it to undo and finish, waits up to
    // EndWaitTimeout() for it, then withdraws the runner's events from the volume manager.
    ~ControlRunner();
    ControlRunner(const ControlRunner&) = delete;
    ControlRunner& operator=(const ControlRunner&) = delete;

    // --- Creating thread (the engine, under its runner-list lock) ---

    // Fills the runner from a trigger (read under the trigger's lock). A once-a-day time
    // trigger noticed late keeps only what is left of its period. idle: the trigger targets
    // "telephone"; the runner then applies nothing until a verdict of 1 is posted.
    void Init(const Trigger& trigger, bool idle);
    // After Init, before Start: the control acts on this program alone, through `programs`
    // (which must outlive the runner's worker), instead of on the whole output.
    void TargetProgram(ProgramVolumeManager& programs, ProgramIdentity program);
    // Sets the start tick and deadline, registers with the volume manager and starts the
    // worker, waiting up to kStartWait for it to run. Once only. If the worker cannot be
    // started the runner reports itself finished at once (it never applied anything).
    void Start();
    // How long the destructor waits for the worker (default kDefaultEndWait).
    void SetEndWaitTimeout(std::chrono::milliseconds timeout) { endWait_ = timeout; }
    std::chrono::milliseconds EndWaitTimeout() const { return endWait_; }

    // --- Any thread; each takes the runner lock for its reads and writes ---

    // About once a second: asks the worker to apply the wanted control when it differs from
    // the applied one, more than kRecheckHoldOffMs have passed since the start tick and the
    // runner is not suspended.
    void Recheck(std::uint64_t nowTick);
    bool IsFinished() const;

    // A telephone-band verdict (0 or 1) for a runner with target "telephone" of a sound or
    // time trigger (others ignore it): when it differs from the applied value and the runner
    // is not suspended it becomes the wanted value, and the worker is asked to apply it
    // unless it was asked less than kRecheckHoldOffMs ago (Recheck catches up later).
    void PostTelephoneVerdict(int verdict, std::uint64_t nowTick);
    // Level trigger still above its threshold: deadline = now + duration and the worker
    // recomputes its wait. Nothing happens while suspended; returns whether it was pushed.
    bool PushDeadline(std::uint64_t nowTick);
    // Asks the worker to apply the currently wanted control (nothing happens when it is the
    // one applied already).
    void SignalApply();
    // Wakes the worker to recompute its wait, e.g. after the clock or the deadline moved.
    void Wake();

    std::uint32_t TriggerSerial() const;
    TriggerKind GetTriggerKind() const;
    TargetCode GetTarget() const;
    ControlKind PrimaryKind() const;
    std::uint32_t DurationSeconds() const;
    int Applied() const;
    int Wanted() const;
    bool IsSuspended() const;
    std::uint64_t Deadline() const;

    // The one program-wide runner lock.
    static std::recursive_mutex& RunnerLock();

    // The amount text of a "down"/"up" control as a number of steps: read as a decimal
    // floating-point number, truncated toward zero, 0 when it is not a number, limited to
    // kMaxAmountSteps either way.
    static int ParseAmount(const std::string& text);

    // Workers still running, including any that a destructor had to leave behind. The
    // program waits for them at exit before it destroys the volume manager they post to.
    static int RunningWorkers();
    static bool WaitForAllWorkers(std::chrono::milliseconds timeout);

private:
    struct Events;
    struct Shared;
    class Worker;

    void WithdrawFromVolumeManager();

    std::shared_ptr<Shared> shared_;
    std::thread thread_;
    std::chrono::milliseconds endWait_ = kDefaultEndWait;
    bool registered_ = false;
};

}  // namespace hushwell
