#pragma once

#include <pulse/pulseaudio.h>

#include "audio/AudioResult.h"

namespace hushwell {

class PulseConnection;
class PulseMainloop;
class PulseOperation;

// The answer to a libpulse call that reports only whether it succeeded (setting a sink's or a
// stream's mute or volume, writing the stream-restore table). Callback fills it in on the
// mainloop thread; Await waits for it on the caller's thread, with the mainloop lock held.
struct PulseSuccessQuery {
    PulseMainloop* loop = nullptr;
    bool done = false;
    bool success = false;

    // The callback libpulse calls with the query as its user data.
    static void Callback(pa_context* context, int success, void* userdata);
    // Waits for the operation: an object that is gone gives NotFound, any other refusal
    // Failed with a warning naming the call.
    AudioResult Await(PulseConnection& connection, PulseOperation& operation, const char* call);
};

}  // namespace hushwell
