#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "analysis/LevelMeter.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TelephoneBandDetector.h"
#include "audio/AudioSessionEvents.h"
#include "audio/PlaybackStream.h"
#include "base/Event.h"
#include "detection/ControlLauncher.h"
#include "detection/DetectionStep.h"
#include "triggers/TriggerList.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class AudioBackend;
class AudioClient;
class AudioSessionControl;
class CaptureClient;
class Clock;
class FiringSink;
class ReferenceSet;

// Detection on one program's own playback stream: a capture of that stream alone, and a
// detection step of scope OneProgram over its own copy of the "program" triggers (so that a
// firing in one program holds off only that program's triggers). Firings start controls on
// the stream's program through the launcher; telephone verdicts and everything else the step
// hands out stay here, so the whole output's controls are not touched.
//
// The constructor prepares the step and starts the stream's thread, which opens the capture
// and sleeps until packets arrive. The thread ends when the stream ends (its capture is
// disconnected), when the capture cannot be opened, or when the detector is destroyed.
//
// Threads: construct and destroy on one owning thread; Ended and Stream from any thread. The
// backend, the launcher, the clock and the firing sink must outlive the detector; the list
// and the set are read only in the constructor.
class ProgramStreamDetector final : private ControlLauncher, private AudioSessionEvents {
public:
    ProgramStreamDetector(AudioBackend& backend, const PlaybackStream& stream,
                          const TriggerList& programTriggers, const ReferenceSet& references,
                          bool verification, ControlLauncher& launcher, const Clock& clock,
                          FiringSink* firings);
    // Stops the thread and waits for it.
    ~ProgramStreamDetector() override;
    ProgramStreamDetector(const ProgramStreamDetector&) = delete;
    ProgramStreamDetector& operator=(const ProgramStreamDetector&) = delete;

    const PlaybackStream& Stream() const { return stream_; }
    // The capture ended or never ran.
    bool Ended() const { return ended_.load(); }
    // Blocks the step has run on (tests and diagnostics).
    std::uint64_t ProcessedBlocks() const { return processedBlocks_.load(); }

private:
    // ControlLauncher: only controls on the stream's program go on.
    bool StartSoundControl(const Trigger& trigger, bool idle) override;
    bool StartProgramControl(const Trigger& trigger, const ProgramIdentity& program) override;
    bool StartTimeControl(const Trigger& trigger, bool idle) override;
    LevelOutcome ExtendOrStartLevelControl(const Trigger& trigger) override;
    void PostTelephoneVerdict(int verdict) override;
    // AudioSessionEvents, on the layer's notification thread: the stream has ended.
    void OnSessionDisconnected(DisconnectReason reason) override;

    // --- The stream's thread ---
    void Run();
    bool OpenCapture();
    bool ReadPackets();

    AudioBackend& backend_;
    const PlaybackStream stream_;
    ControlLauncher& launcher_;
    TriggerList triggers_;
    SpectralAnalyzer live_;
    LevelMeter level_;
    TelephoneBandDetector telephone_;
    DetectionStep step_;

    // The stream's thread's own.
    std::unique_ptr<AudioClient> client_;
    std::unique_ptr<CaptureClient> capture_;
    std::unique_ptr<AudioSessionControl> session_;
    WaveFormat format_{};

    std::shared_ptr<Event> packets_ = std::make_shared<Event>();
    Event quit_;
    Event gone_{Event::Mode::ManualReset};
    std::atomic<bool> ended_{false};
    std::atomic<std::uint64_t> processedBlocks_{0};
    std::thread thread_;  // last: starts once everything above exists
};

}  // namespace hushwell
