#pragma once

#include <chrono>
#include <functional>
#include <string>

namespace hushwell {

// How the PulseAudio backend reaches its server. Plain data; copy freely.
struct PulseBackendOptions {
    // The server address (e.g. "unix:/run/user/1000/pulse/native"); empty for libpulse's
    // usual choice (PULSE_SERVER, then the user's runtime folder).
    std::string server;
    // How long one connection attempt may take before calls give NoServer; a new attempt
    // follows after a back-off of up to a few seconds.
    std::chrono::milliseconds connectTimeout{3000};
    // How long a call waits for the server's answer before it gives TimedOut.
    std::chrono::milliseconds callTimeout{3000};
    // Where warnings go (each names the pa_ call that failed); standard error when empty.
    // Called on any thread, possibly with the backend's lock held: it must not call back
    // into the audio layer.
    std::function<void(const std::string&)> warn;
    // The client name the server shows.
    std::string applicationName = "Hushwell";
};

}  // namespace hushwell
