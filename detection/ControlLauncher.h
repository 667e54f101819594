#pragma once

namespace hushwell {

struct ProgramIdentity;
class Trigger;

// Where the trigger steps hand the control of a fired trigger. The detection engine's runner
// list carries controls out on control runners; the scan tool only takes note of them.
//
// Threads: the sound and level calls and PostTelephoneVerdict come from the detection thread,
// StartTimeControl from the user-interface thread (the time-trigger step). Implementations
// lock for themselves.
class ControlLauncher {
public:
    enum class LevelOutcome {
        Started,    // a new control was started: the firing is logged
        Extended,   // the trigger's running control now ends later
        Unchanged,  // the trigger's control is running but suspended: nothing changed
    };

    virtual ~ControlLauncher() = default;

    // A sound trigger fired (its duration is at least one second): starts its control unless
    // controls are blocked. Every firing starts a control of its own. Returns whether one was
    // started. idle: the control follows the telephone-band verdicts.
    virtual bool StartSoundControl(const Trigger& trigger, bool idle) = 0;

    // A sound trigger of target "program" fired in the stream of this program: starts its
    // control on that program's streams alone. A launcher that cannot act on one program
    // carries nothing out (and never falls back to the whole output): false.
    virtual bool StartProgramControl(const Trigger& trigger, const ProgramIdentity& program) {
        (void)trigger;
        (void)program;
        return false;
    }

    // A time trigger is due: starts its control unless controls are blocked or a control of
    // the same trigger (by serial id) is still held. Returns whether one was started.
    virtual bool StartTimeControl(const Trigger& trigger, bool idle) = 0;

    // A level trigger is above its level: the first control held for the trigger (by serial
    // id) now ends its duration after the present moment, unless it is suspended; without one
    // a control is started, blocked or not.
    virtual LevelOutcome ExtendOrStartLevelControl(const Trigger& trigger) = 0;

    // After every matching pass: the telephone-band verdict, 0 or 1, for the controls of
    // "telephone" targets.
    virtual void PostTelephoneVerdict(int verdict) = 0;
};

}  // namespace hushwell
