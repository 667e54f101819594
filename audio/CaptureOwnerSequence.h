#pragma once

#include <functional>

namespace hushwell {

class AudioBackend;
class LoopbackCapture;

// How one run of the capture owner's sequence ended.
enum class CaptureSessionEnd {
    NoEndpoint,    // there was no default output (or no sound server)
    OpenFailed,    // OpenStream failed
    BeginFailed,   // the snapshot buffer or BeginCapture failed
    Refused,       // the owner refused the object (it is stopping); nothing was started
    Stopped,       // capture ran and ended on the owner's RequestShutdown
    CaptureEnded,  // capture ran and ended by itself (a switch to the new default failed)
};

// A short English text for log lines, e.g. "no default output". Any thread.
const char* CaptureSessionEndText(CaptureSessionEnd end);

// What the owner does at the points of the sequence where it is involved.
struct CaptureOwnerHooks {
    // Stores the object in the owner's capture slot under the owner's capture lock, or clears
    // the slot when given nullptr. When storing, returning false refuses the object because the
    // owner is stopping (so a stop that came before the object was published is not missed).
    std::function<bool(LoopbackCapture*)> publish;
    // Capture is running (the owner signals its capture-started event). May be empty.
    std::function<void()> started;
};

// The owner's side of one capture session, run on the owner's CaptureRunner thread:
// take the default output; construct the capture object on it (stream switching on) and
// publish it; OpenStream; allocate the 60-second snapshot buffer and BeginCapture; report
// `started`; wait until the capture thread ends (the owner stops it with RequestShutdown
// under its capture lock); then clear the slot, CloseStream and free everything.
// Every failing step skips to that clean-up. The owner decides whether to run it again.
// The backend must outlive the call.
CaptureSessionEnd RunCaptureSession(AudioBackend& backend, const CaptureOwnerHooks& hooks);

}  // namespace hushwell
