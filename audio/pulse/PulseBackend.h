#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/AudioBackend.h"
#include "audio/pulse/PulseBackendOptions.h"

namespace hushwell {

class PulseConnection;

// The audio layer on a PulseAudio server (or PipeWire through pipewire-pulse), with libpulse's
// asynchronous API on its own threaded main loop:
// - the default sink is the default output endpoint; a default change (a server event after
//   which the default sink name differs) is reported as (Render, Console, sink name);
// - a loopback capture records the sink's monitor source by name, never moved, in packets
//   of about 15 ms; a render stream plays on the sink, paced by its event;
// - endpoint volume and mute act on the sink; the master scalar is the largest channel volume
//   over the normal volume, and setting it keeps the balance between channels;
// - a removed sink, a failed stream or a lost server disconnects the sessions on it
//   (DeviceRemoval), a changed sink format with FormatChanged;
// - a lost connection is replaced by a new one after a short back-off; so is one to which the
//   server names no default sink while it has sinks (a stale view after a server restart), at
//   most once in a few seconds.
// Construction does not wait for the server: the first calls wait for the connection, at most
// the connect time-out, and give NoServer when none comes.
//
// Threads: any thread (see AudioBackend). Notifications are delivered on the layer's
// notification thread, not on libpulse's loop thread, so listeners may call back in.
class PulseBackend final : public AudioBackend {
public:
    explicit PulseBackend(PulseBackendOptions options = {});
    ~PulseBackend() override;
    PulseBackend(const PulseBackend&) = delete;
    PulseBackend& operator=(const PulseBackend&) = delete;

    AudioResult GetDefaultAudioEndpoint(std::shared_ptr<AudioEndpoint>& endpoint) override;
    AudioResult EnumAudioEndpoints(std::vector<std::string>& deviceIds) override;
    AudioResult GetAudioEndpoint(const std::string& deviceId,
                                 std::shared_ptr<AudioEndpoint>& endpoint) override;
    AudioResult RegisterEndpointNotificationCallback(EndpointNotificationClient* client) override;
    AudioResult UnregisterEndpointNotificationCallback(EndpointNotificationClient* client) override;
    AudioResult QueryServerName(std::string& name) override;
    AudioResult ListPlaybackStreams(std::vector<PlaybackStream>& streams) override;
    AudioResult ActivateStreamVolume(std::uint32_t streamIndex,
                                     std::unique_ptr<EndpointVolume>& volume) override;
    // A record stream on the sink's monitor limited to the sink input
    // (pa_stream_set_monitor_stream).
    AudioResult ActivateStreamCapture(const PlaybackStream& stream,
                                      std::unique_ptr<AudioClient>& client) override;
    // Through the stream-restore extension (pa_ext_stream_restore_*), which pipewire-pulse
    // maps to WirePlumber's stream state.
    AudioResult GiveBackRememberedState(const StreamChange& change) override;

private:
    std::shared_ptr<PulseConnection> connection_;
};

}  // namespace hushwell
