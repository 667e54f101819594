#pragma once

#include <memory>
#include <string>

#include "app/TrayEngine.h"
#include "base/ProgramPaths.h"
#include "detection/DetectionEngine.h"
#include "triggers/ProcessLauncher.h"

namespace hushwell {

class AudioBackend;
class VolumeManager;
class EngineTimers;
class ProgramVolumeManager;
class FiringSink;

// The tray window's engine: the detection engine on the program's sound server, its volume
// manager and timers, with exec controls started by a process launcher; every firing also goes
// to the given sink (the log page's feed), which must outlive the host. The first Start
// initialises the engine (trigger list, references, capture, detection); later Starts resume
// detection and Stops pause it, undoing every running control.
// User-interface thread only (the engine's control thread).
class DetectionEngineHost final : public TrayEngine {
public:
    // programVolume: where controls on one program go (may be null); it must outlive the host.
    DetectionEngineHost(AudioBackend& backend, VolumeManager& volume, EngineTimers& timers,
                        ProgramPaths paths, FiringSink* firings = nullptr,
                        ProgramVolumeManager* programVolume = nullptr);
    ~DetectionEngineHost() override;

    void Start() override;
    void Stop() override;
    void Shutdown() override;
    void OnEngineTimer(int id) override;
    DetectionEngine* Detection() override { return &engine_; }

private:
    AudioBackend& backend_;
    VolumeManager& volume_;
    EngineTimers& timers_;
    const ProgramPaths paths_;
    FiringSink* const firings_;
    ProgramVolumeManager* const programVolume_;
    ProcessLauncher launcher_;
    DetectionEngine engine_;
    bool initialised_ = false;
    bool shutDown_ = false;
};

}  // namespace hushwell
