#include "detection/ProgramStreamDetector.h"

#include <span>
#include <vector>

#include "audio/AudioBackend.h"
#include "audio/AudioClient.h"
#include "audio/AudioSessionControl.h"
#include "audio/CaptureClient.h"
#include "audio/ThreadName.h"
#include "detection/PacketConversion.h"
#include "detection/ReferenceSet.h"

namespace hushwell {

namespace {

constexpr std::uint32_t kStreamCaptureFlags = kStreamFlagLoopback | kStreamFlagEventCallback;
// As much as the whole output's capture keeps for a reader that is late.
constexpr std::int64_t kBufferDuration100ns = 2 * kHundredNsPerSecond;

}  // namespace

ProgramStreamDetector::ProgramStreamDetector(AudioBackend& backend, const PlaybackStream& stream,
                                             const TriggerList& programTriggers,
                                             const ReferenceSet& references, bool verification,
                                             ControlLauncher& launcher, const Clock& clock,
                                             FiringSink* firings)
    : backend_(backend),
      stream_(stream),
      launcher_(launcher),
      step_(triggers_, live_, level_, telephone_, *this, clock, firings) {
    triggers_.SetBaseDir(programTriggers.BaseDir());
    triggers_.Assign(programTriggers);
    DetectionStep::ClearHoldOffs(triggers_);
    step_.SetScope(DetectionStep::Scope::OneProgram, stream_.program);
    step_.SetVerification(verification);
    step_.PrepareReferences(references);
    thread_ = std::thread([this] { Run(); });
}

ProgramStreamDetector::~ProgramStreamDetector() {
    step_.RequestStop();
    quit_.Set();
    thread_.join();
}

// --- Controls ---------------------------------------------------------------------------------

bool ProgramStreamDetector::StartSoundControl(const Trigger&, bool) {
    return false;  // the step of one stream fires only "program" triggers
}

bool ProgramStreamDetector::StartProgramControl(const Trigger& trigger,
                                                const ProgramIdentity& program) {
    return launcher_.StartProgramControl(trigger, program);
}

bool ProgramStreamDetector::StartTimeControl(const Trigger&, bool) {
    return false;
}

ControlLauncher::LevelOutcome ProgramStreamDetector::ExtendOrStartLevelControl(const Trigger&) {
    return LevelOutcome::Unchanged;  // levels are the whole output's
}

void ProgramStreamDetector::PostTelephoneVerdict(int) {}  // the whole output's alone

void ProgramStreamDetector::OnSessionDisconnected(DisconnectReason) {
    gone_.Set();
}

// --- The stream's thread ----------------------------------------------------------------------

void ProgramStreamDetector::Run() {
    NameThisThread("program stream");
    if (OpenCapture()) {
        step_.Begin();
        const std::vector<Event*> events = {&quit_, &gone_, packets_.get()};
        for (;;) {
            const auto which = WaitForAny(events, kWaitForever);
            if (!which || *which != 2 || !ReadPackets()) {
                break;
            }
        }
        client_->Stop();
    }
    if (session_) {
        session_->UnregisterAudioSessionNotification(this);
    }
    ended_.store(true);
}

bool ProgramStreamDetector::OpenCapture() {
    if (backend_.ActivateStreamCapture(stream_, client_) != AudioResult::Ok || !client_) {
        return false;
    }
    return Succeeded(client_->GetMixFormat(format_)) &&
           Succeeded(client_->Initialize(kStreamCaptureFlags, kBufferDuration100ns, format_)) &&
           Succeeded(client_->SetEventHandle(packets_)) &&
           Succeeded(client_->GetCaptureClient(capture_)) &&
           Succeeded(client_->GetSessionControl(session_)) &&
           Succeeded(session_->RegisterAudioSessionNotification(this)) &&
           Succeeded(client_->Start());
}

// Runs the step on every packet waiting. False once the stream's capture has ended.
bool ProgramStreamDetector::ReadPackets() {
    step_.WakeUp();
    for (;;) {
        std::uint32_t waiting = 0;
        if (!Succeeded(capture_->GetNextPacketSize(waiting))) {
            return false;
        }
        if (waiting == 0 || step_.StopRequested()) {
            return true;
        }
        const std::uint8_t* data = nullptr;
        std::uint32_t frames = 0;
        std::uint32_t flags = 0;
        if (!Succeeded(capture_->GetBuffer(data, frames, flags))) {
            return false;
        }
        const bool silent = (flags & kBufferFlagSilent) != 0 || data == nullptr;
        const std::size_t bytes = std::size_t{frames} * format_.blockAlign;
        std::vector<std::uint8_t> zeros;
        if (data == nullptr) {
            zeros.assign(bytes, 0);
            data = zeros.data();
        }
        const auto block = ConvertCapturePacket(std::span(data, bytes), format_, silent);
        capture_->ReleaseBuffer(frames);
        if (block) {
            step_.ProcessBlock(*block);
            processedBlocks_.fetch_add(1);
        }
    }
}

}  // namespace hushwell
