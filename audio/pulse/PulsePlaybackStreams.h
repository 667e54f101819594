#pragma once

#include <pulse/volume.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/AudioResult.h"
#include "audio/EndpointVolume.h"
#include "audio/PlaybackStream.h"

namespace hushwell {

class PulseConnection;

// The programs' playback streams (sink inputs) of the PulseAudio backend: listing them with
// the output they play on and the program they belong to.
//
// Threads: with the main loop's lock held, from any thread but the loop's.
AudioResult ListPlaybackStreamsLocked(PulseConnection& connection,
                                      std::vector<PlaybackStream>& streams);

// Gives back what the stream-restore database remembers of the change's program (its entries
// by application name, id or binary) where it still holds what the change set.
// Unsupported when the server has no such database.
AudioResult GiveBackRememberedStateLocked(PulseConnection& connection, const StreamChange& change);

// Mute and master volume of one sink input, by its index. As for an output, the master scalar
// is the largest channel volume over the normal volume and setting it keeps the balance; a
// stream that has ended gives NotFound.
//
// Threads: any thread; each call waits for the server's answer (at most the call time-out).
class PulseStreamVolume final : public EndpointVolume {
public:
    PulseStreamVolume(std::shared_ptr<PulseConnection> connection, std::uint32_t streamIndex);

    AudioResult SetMute(bool mute) override;
    AudioResult GetMasterVolumeLevelScalar(float& level) override;
    AudioResult SetMasterVolumeLevelScalar(float level) override;

private:
    AudioResult QueryVolumeLocked(pa_cvolume& volume);

    std::shared_ptr<PulseConnection> connection_;
    const std::uint32_t index_;
};

}  // namespace hushwell
