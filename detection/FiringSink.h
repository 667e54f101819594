#pragma once

#include <cstdint>
#include <string>

#include "triggers/Vocabulary.h"

namespace hushwell {

// One firing of a trigger, as it goes to the event log and the log page.
struct Firing {
    TriggerKind kind = TriggerKind::Sound;
    std::string triggerName;
    std::uint32_t serialId = 0;
    std::uint64_t tick = 0;  // ms, the tick the firing was decided at
    // Sound triggers: the index of the reference that matched, its score and its match
    // threshold. Level triggers: the smoothed level and the level it exceeded, both in 16-bit
    // sample units (32768 = full scale). Time triggers: -1, 0, 0.
    std::int64_t reference = -1;
    float score = 0.0f;
    float threshold = 0.0f;
    // Sound triggers decided with verification: whether it ran, and the share of the
    // reference's tonal peaks found in the live sound (-1: the reference has none).
    bool verified = false;
    float agreement = -1.0f;
    // Under a bed: the correlation of the reference's tonal tracks with the live sound's
    // (TrackMatcher) when that, not the first stage, made the reference a candidate; -1
    // otherwise.
    float bedScore = -1.0f;
};

// Receives every firing that is logged: the log page of the settings window, or a tool that
// reports firings.
//
// Threads: called from the detection thread (sound and level triggers) and from the
// user-interface thread (time triggers); implementations lock for themselves.
class FiringSink {
public:
    virtual ~FiringSink() = default;
    virtual void OnFiring(const Firing& firing) = 0;
};

}  // namespace hushwell
