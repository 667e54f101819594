#include "tools/scan/ReportingLauncher.h"

#include <mutex>

#include "base/Clock.h"
#include "triggers/Trigger.h"

namespace hushwell::scan {

namespace {

constexpr std::uint64_t kMsPerSecond = 1000;

std::uint64_t DurationMs(const Trigger& trigger) {
    std::lock_guard lock(trigger.Mutex());
    const std::int64_t seconds = trigger.duration.Seconds();
    return seconds > 0 ? static_cast<std::uint64_t>(seconds) * kMsPerSecond : 0;
}

}  // namespace

ReportingLauncher::ReportingLauncher(const Clock& clock) : clock_(clock) {}

bool ReportingLauncher::StartSoundControl(const Trigger&, bool) {
    ++started_;
    return true;
}

bool ReportingLauncher::StartTimeControl(const Trigger&, bool) {
    ++started_;
    return true;
}

ControlLauncher::LevelOutcome ReportingLauncher::ExtendOrStartLevelControl(const Trigger& trigger) {
    const std::uint64_t now = clock_.TickMs();
    const std::uint64_t end = now + DurationMs(trigger);
    std::uint32_t serial = 0;
    {
        std::lock_guard lock(trigger.Mutex());
        serial = trigger.serialId;
    }
    const auto running = levelControlEnds_.find(serial);
    if (running != levelControlEnds_.end() && now < running->second) {
        running->second = end;
        return LevelOutcome::Extended;
    }
    levelControlEnds_[serial] = end;
    ++started_;
    return LevelOutcome::Started;
}

void ReportingLauncher::PostTelephoneVerdict(int verdict) {
    verdict_ = verdict;
}

}  // namespace hushwell::scan
