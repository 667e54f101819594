#pragma once

#include <chrono>

namespace hushwell {

// The numbered periodic timers the detection engine runs on its host: the 3-second
// time-trigger step and the 1-second runner housekeeping (audio needs no timer: it reaches
// detection as the sound server delivers it). The tray window implements them
// with one QTimer per id; ThreadEngineTimers serves tests and headless hosts. Whenever a
// started timer's period has passed, the host calls DetectionEngine::OnEngineTimer(id), one
// call at a time, and keeps doing so every period until the timer is stopped.
//
// Threads: the engine calls Start and Stop from its control thread and from inside
// OnEngineTimer; implementations must accept both, and must never wait in them for a
// handler call in progress.
class EngineTimers {
public:
    virtual ~EngineTimers() = default;

    // Starts timer id, or restarts it with the new period when it is running: the next call
    // comes one full period from now.
    virtual void Start(int id, std::chrono::milliseconds period) = 0;
    // Stops timer id; stopping a stopped timer does nothing.
    virtual void Stop(int id) = 0;
};

}  // namespace hushwell
