#pragma once

namespace hushwell {

class DetectionEngine;

// What the tray window needs of the detection engine it carries: start and stop detection,
// and the ids of its numbered timers when they fall due. User-interface thread only.
class TrayEngine {
public:
    virtual ~TrayEngine() = default;

    // Loads the trigger list, builds the references and starts capture and detection.
    virtual void Start() = 0;
    // Stops capture and detection; every running control is undone before it returns.
    virtual void Stop() = 0;
    // At exit: stops capture and detection and undoes every running control; the engine then
    // ignores every later call.
    virtual void Shutdown() = 0;
    // One of the engine's timers (ids 100, 300) has fallen due.
    virtual void OnEngineTimer(int id) = 0;
    // The detection engine, whose capture lock and slot the sound editor records through;
    // null when there is none.
    virtual DetectionEngine* Detection() { return nullptr; }
};

}  // namespace hushwell
