#include "detection/LevelTriggerStep.h"

#include <mutex>
#include <string>

#include "analysis/LevelMeter.h"
#include "detection/ControlLauncher.h"
#include "detection/FiringSink.h"
#include "detection/TimeWindow.h"
#include "triggers/EventLog.h"
#include "triggers/TriggerList.h"

namespace hushwell {

namespace {

// The level a percentage stands for, in 16-bit sample units (100 % = 32768).
double LimitOf(int percent) {
    return percent * (LevelMeter::kFullScale / 100.0);
}

}  // namespace

LevelTriggerStep::LevelTriggerStep(TriggerList& triggers, ControlLauncher& launcher,
                                   FiringSink* firings)
    : triggers_(triggers), launcher_(launcher), firings_(firings) {}

void LevelTriggerStep::WakeUp(const LocalTime& now) {
    wakeUpTime_ = now;
    anyWindowOpen_ = false;
    for (int n = 0; n < triggers_.CountLevel(); ++n) {
        const Trigger* trigger = triggers_.GetLevel(n);
        if (trigger != nullptr && IsInTimeWindow(*trigger, now)) {
            anyWindowOpen_ = true;
            return;
        }
    }
}

void LevelTriggerStep::Evaluate(const LevelMeter& level, std::uint64_t now) {
    if (!anyWindowOpen_) {
        return;
    }
    for (int n = 0; n < triggers_.CountLevel(); ++n) {
        Trigger* trigger = triggers_.GetLevel(n);
        if (trigger == nullptr) {
            break;
        }
        {
            std::lock_guard lock(trigger->Mutex());
            if (now < trigger->holdUntil) {
                continue;
            }
        }
        if (!IsInTimeWindow(*trigger, wakeUpTime_)) {
            continue;
        }
        Firing firing;
        {
            std::lock_guard lock(trigger->Mutex());
            if (!IsOnText(trigger->active) || !level.Exceeds(trigger->level)) {
                continue;
            }
            trigger->holdUntil = now + kHoldOffMs;
            firing = Firing{.kind = TriggerKind::Level,
                            .triggerName = trigger->name,
                            .serialId = trigger->serialId,
                            .tick = now,
                            .score = level.Level(),
                            .threshold = static_cast<float>(LimitOf(trigger->level))};
        }
        if (launcher_.ExtendOrStartLevelControl(*trigger) ==
            ControlLauncher::LevelOutcome::Started) {
            WriteLogLine(firing.triggerName);
            if (firings_ != nullptr) {
                firings_->OnFiring(firing);
            }
        }
    }
}

}  // namespace hushwell
