#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/Clock.h"
#include "detection/ControlLauncher.h"

namespace hushwell {

class ControlRunner;
class Trigger;

// A control that has just started, as a notification describes it.
struct StartedControl {
    std::uint64_t runnerId = 0;  // for RunnerList::EndRunner
    std::uint32_t serialId = 0;
    std::string triggerName;
    std::string control;  // the control text: "mute", "down 40", "exec"
    std::string command;  // exec: the program or document
    std::int64_t seconds = 0;
    bool undoable = false;  // a volume control that its end undoes (not exec)
};

// Hears of the runner list's changes. Called on the thread that made the change (the
// detection thread for sound and level controls) under the runner-list lock: an observer only
// takes note (posts to its own thread) and never calls back into the list.
class RunnerObserver {
public:
    virtual ~RunnerObserver() = default;
    virtual void OnControlStarted(const StartedControl& started) = 0;
    // A runner was added or destroyed.
    virtual void OnRunnersChanged() = 0;
};
class VolumeManager;
class CommandOpener;
class ProgramVolumeManager;

// The control runners the detection engine has started, in start order, with the runner-list
// lock and the controls-blocked flag. Owned by the engine; a runner belongs to the list from
// its start until the list destroys it, and destroying a runner undoes its control.
//
// Lock order: the runner-list lock, then the program-wide runner lock inside it (each runner
// call takes that itself); a runner's apply event is signalled after the runner lock is
// released.
//
// Threads: every method may be called from any thread; each takes the runner-list lock. In
// the program the detection thread starts sound and level controls and posts telephone
// verdicts, the user-interface thread starts time controls and runs the housekeeping, the
// cancellations and StopAll.
class RunnerList final : public ControlLauncher {
public:
    // volume, opener and clock are handed to every runner and must outlive them.
    RunnerList(VolumeManager& volume, CommandOpener& opener,
               const Clock& clock = SystemClock::Instance());
    // Destroys every runner still held, undoing its control.
    ~RunnerList() override;
    RunnerList(const RunnerList&) = delete;
    RunnerList& operator=(const RunnerList&) = delete;

    // ControlLauncher.
    bool StartSoundControl(const Trigger& trigger, bool idle) override;
    // Unless blocked, and only with a program volume manager set.
    bool StartProgramControl(const Trigger& trigger, const ProgramIdentity& program) override;
    bool StartTimeControl(const Trigger& trigger, bool idle) override;
    LevelOutcome ExtendOrStartLevelControl(const Trigger& trigger) override;
    void PostTelephoneVerdict(int verdict) override;

    // Where controls on one program go; without one (null, the default) none is started.
    // Set before controls start; it must outlive every runner.
    void SetProgramVolume(ProgramVolumeManager* programs);

    // Creates a runner for the trigger, initialises it, appends it and starts it, all under
    // the lock. Blocked controls are the caller's concern.
    ControlRunner& StartRunner(const Trigger& trigger, bool idle);
    // The first runner of the trigger with this serial id, or nullptr. The pointer is valid
    // while the caller holds Mutex().
    ControlRunner* FindBySerial(std::uint32_t serial);

    // The 1-second housekeeping: destroys the finished runners and asks the others to re-apply
    // a wanted control they have not applied yet.
    void DestroyFinishedAndRecheck();
    // Destroys every runner of the trigger with this serial id; the others keep their order.
    void CancelRunnersOf(std::uint32_t serial);
    // Destroys every runner and blocks new sound and time controls.
    void StopAll();

    void BlockControls();
    void UnblockControls();
    bool ControlsBlocked() const;

    // Ends one runner now, undoing its control as its end would, and logs it under the
    // trigger's name. False (and nothing logged) when it has already ended.
    bool EndRunner(std::uint64_t runnerId);
    // The names of the triggers whose controls are running, in start order.
    std::vector<std::string> RunningNames() const;
    // The observer (null: none); it must outlive the list or be removed first.
    void SetObserver(RunnerObserver* observer);

    std::size_t Size() const;
    // Calls visit for each runner in start order, under the lock.
    void ForEach(const std::function<void(ControlRunner&)>& visit);

    std::recursive_mutex& Mutex() const { return lock_; }

private:
    // A runner with the id it is ended by and the name it is shown under.
    struct Entry {
        std::uint64_t id = 0;
        std::string name;
        std::unique_ptr<ControlRunner> runner;
    };

    ControlRunner& StartRunnerLocked(const Trigger& trigger, bool idle,
                                     const ProgramIdentity* program = nullptr);
    // Destroys the runners the predicate picks (undoing their controls) and tells the observer.
    template <typename Pick>
    std::size_t DestroyLocked(Pick pick);

    VolumeManager& volume_;
    CommandOpener& opener_;
    const Clock& clock_;
    ProgramVolumeManager* programs_ = nullptr;  // under the lock

    mutable std::recursive_mutex lock_;
    std::vector<Entry> runners_;
    std::uint64_t lastRunnerId_ = 0;
    RunnerObserver* observer_ = nullptr;
    bool controlsBlocked_ = false;
};

}  // namespace hushwell
