#include "detection/TimeTriggerStep.h"

#include <string>

#include "detection/ControlLauncher.h"
#include "detection/FiringSink.h"
#include "detection/TimeWindow.h"
#include "triggers/EventLog.h"
#include "triggers/TriggerList.h"

namespace hushwell {

TimeTriggerStep::TimeTriggerStep(TriggerList& triggers, ControlLauncher& launcher,
                                 const Clock& clock, FiringSink* firings)
    : triggers_(triggers), launcher_(launcher), clock_(clock), firings_(firings) {}

int TimeTriggerStep::Run() {
    const LocalTime localTime = clock_.Now();
    const int today = DayIndex(localTime);
    std::lock_guard stepLock(lock_);
    const std::uint64_t now = clock_.TickMs();

    int started = 0;
    for (int n = 0; n < triggers_.CountTime(); ++n) {
        Trigger* trigger = triggers_.GetTime(n);
        if (trigger == nullptr) {
            break;
        }
        {
            std::lock_guard lock(trigger->Mutex());
            if (trigger->holdUntil >= now) {
                continue;
            }
        }
        if (!IsInTimeWindow(*trigger, localTime)) {
            continue;
        }
        bool idle = false;
        {
            std::lock_guard lock(trigger->Mutex());
            if (!IsOnText(trigger->active) || trigger->dayFlags[today] != Trigger::kDayOn) {
                continue;
            }
            trigger->holdUntil = now + kRepeatHoldOffMs;
            if (!trigger->every) {
                trigger->holdUntil += kOnceADayExtraHoldOffMs;
            }
            // Nothing to carry out for less than a second, except the opening of a command.
            if (trigger->duration.Seconds() < 1 && trigger->GetControlKind() != ControlKind::Exec) {
                continue;
            }
            idle = trigger->GetTargetCode() == TargetCode::Telephone;
        }
        if (!launcher_.StartTimeControl(*trigger, idle)) {
            continue;
        }
        ++started;
        Firing firing;
        {
            std::lock_guard lock(trigger->Mutex());
            firing = Firing{.kind = TriggerKind::Time,
                            .triggerName = trigger->name,
                            .serialId = trigger->serialId,
                            .tick = now};
        }
        WriteLogLine(firing.triggerName);
        if (firings_ != nullptr) {
            firings_->OnFiring(firing);
        }
    }
    return started;
}

}  // namespace hushwell
