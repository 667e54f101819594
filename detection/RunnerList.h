#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "base/Clock.h"
#include "detection/ControlLauncher.h"

namespace hushwell {

class CControlRunner;
class CTrigger;
class CVolumeManager;
class CommandOpener;

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
    RunnerList(CVolumeManager& volume, CommandOpener& opener,
               const Clock& clock = SystemClock::Instance());
    // Destroys every runner still held, undoing its control.
    ~RunnerList() override;
    RunnerList(const RunnerList&) = delete;
    RunnerList& operator=(const RunnerList&) = delete;

    // ControlLauncher.
    bool StartSoundControl(const CTrigger& trigger, bool idle) override;
    bool StartTimeControl(const CTrigger& trigger, bool idle) override;
    LevelOutcome ExtendOrStartLevelControl(const CTrigger& trigger) override;
    void PostTelephoneVerdict(int verdict) override;

    // Creates a runner for the trigger, initialises it, appends it and starts it, all under
    // the lock. Blocked controls are the caller's concern.
    CControlRunner& StartRunner(const CTrigger& trigger, bool idle);
    // The first runner of the trigger with this serial id, or nullptr. The pointer is valid
    // while the caller holds Mutex().
    CControlRunner* FindBySerial(std::uint32_t serial);

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

    std::size_t Size() const;
    // Calls visit for each runner in start order, under the lock.
    void ForEach(const std::function<void(CControlRunner&)>& visit);

    std::recursive_mutex& Mutex() const { return lock_; }

private:
    CControlRunner& StartRunnerLocked(const CTrigger& trigger, bool idle);

    CVolumeManager& volume_;
    CommandOpener& opener_;
    const Clock& clock_;

    mutable std::recursive_mutex lock_;
    std::vector<std::unique_ptr<CControlRunner>> runners_;
    bool controlsBlocked_ = false;
};

}  // namespace hushwell
