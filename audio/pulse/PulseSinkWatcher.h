#pragma once

#include <pulse/channelmap.h>
#include <pulse/sample.h>

#include <cstdint>

#include "audio/AudioSessionEvents.h"

namespace hushwell {

// What the connection needs of a client registered with it (PulseClientState): the sink it
// watches, whether that sink still has the client's format, and a way to end the client when
// the sink goes away or changes format, or the server is lost. The connection knows clients
// only through this interface, so it does not depend on the client's header.
//
// Threads: every method with the main loop's lock held (the connection calls them from the
// loop thread, or from a thread that holds the lock).
class PulseSinkWatcher {
public:
    virtual std::uint32_t SinkIndex() const = 0;
    virtual bool HasSinkFormat(const pa_sample_spec& sampleSpec,
                               const pa_channel_map& map) const = 0;
    // Ends the client for good and tells its session listeners, once.
    virtual void InvalidateLocked(DisconnectReason reason) = 0;

protected:
    PulseSinkWatcher() = default;
    ~PulseSinkWatcher() = default;
    PulseSinkWatcher(const PulseSinkWatcher&) = default;
    PulseSinkWatcher& operator=(const PulseSinkWatcher&) = default;
};

}  // namespace hushwell
