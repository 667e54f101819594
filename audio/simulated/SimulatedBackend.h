#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioBackend.h"
#include "audio/AudioSessionEvents.h"
#include "audio/EndpointNotificationClient.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class Clock;
class SimulatedCore;
class SimulatedPlaybackStreams;

// An in-process sound system for tests and demos: virtual output devices with any mix format
// the layer supports, into which code "plays" audio, whose mute and volume can be read, and
// which can be switched, removed and reformatted, with the notifications that follow.
//
// Time comes from the injected clock, so everything is deterministic with a ManualClock:
// - a started loopback capture delivers one packet per 10 ms device period that has passed on
//   the clock (frames = rate / 100): the audio played into its device in that time, or a
//   packet flagged silent when nothing was playing. Audio played into a device goes to every
//   capture started on it, queued one piece after the other (pieces are not mixed); a device
//   keeps nothing for captures started later.
// - a started render stream plays one period of what was written per period of the clock;
//   what a render client writes is recorded (TakeRenderedBytes) and, as it is written, also
//   goes to the captures of its device. Its event is signalled at Start and by Pump whenever at
//   least one period has passed since the last signal.
// - an event-driven capture (loopback with kStreamFlagEventCallback and an event) has its event
//   signalled whenever packets became due: by a pacer thread that looks at the clock every few
//   milliseconds once such a capture has started (so a reader wakes as a ManualClock moves on,
//   with exactly the packets the clock says), and at once by Pump and Play.
// - the up to date state is computed when a client asks, and by Pump; a test that moves a
//   ManualClock calls Pump so that render threads waiting on their events wake.
// Notifications arrive on the layer's notification thread as on a real server;
// WaitForNotifications lets a test wait until they have been delivered.
//
// Threads: every method may be called from any thread. The clock must outlive the backend
// and everything obtained from it.
class SimulatedBackend final : public AudioBackend {
public:
    explicit SimulatedBackend(const Clock& clock);
    ~SimulatedBackend() override;
    SimulatedBackend(const SimulatedBackend&) = delete;
    SimulatedBackend& operator=(const SimulatedBackend&) = delete;

    // AudioBackend.
    AudioResult GetDefaultAudioEndpoint(std::shared_ptr<AudioEndpoint>& endpoint) override;
    AudioResult EnumAudioEndpoints(std::vector<std::string>& deviceIds) override;
    AudioResult GetAudioEndpoint(const std::string& deviceId,
                                 std::shared_ptr<AudioEndpoint>& endpoint) override;
    AudioResult RegisterEndpointNotificationCallback(EndpointNotificationClient* client) override;
    AudioResult UnregisterEndpointNotificationCallback(EndpointNotificationClient* client) override;
    // "Simulated".
    AudioResult QueryServerName(std::string& name) override;
    // The programs' playback streams of PlaybackStreams(); per-stream capture is not simulated.
    AudioResult ListPlaybackStreams(std::vector<PlaybackStream>& streams) override;
    AudioResult ActivateStreamVolume(std::uint32_t streamIndex,
                                     std::unique_ptr<EndpointVolume>& volume) override;
    AudioResult GiveBackRememberedState(const StreamChange& change) override;

    // The programs' playback streams: tests open, end and change them here.
    SimulatedPlaybackStreams& PlaybackStreams() { return *playbackStreams_; }

    // Devices. AddDevice fails for a taken id or a format the layer does not support; the first
    // device added becomes the default. SetDefaultDevice reports (Render, Console, id);
    // RemoveDevice disconnects the device's sessions (DeviceRemoval) and, when it was the
    // default, makes the first remaining device the default (or none, reported with an empty
    // id). ChangeDeviceFormat disconnects its sessions (FormatChanged); its streams are then
    // invalid. Each returns false when the device is unknown.
    bool AddDevice(const std::string& id, const WaveFormat& mixFormat);
    bool SetDefaultDevice(const std::string& id);
    bool RemoveDevice(const std::string& id);
    bool ChangeDeviceFormat(const std::string& id, const WaveFormat& mixFormat);
    std::string DefaultDeviceId() const;

    // Raw notifications, changing nothing else: a default-device report of any flow and role,
    // and a disconnect with any reason to every session on a device.
    void NotifyDefaultDeviceChanged(DataFlow flow, Role role, const std::string& id);
    bool DisconnectSessions(const std::string& id, DisconnectReason reason);

    // Plays audio, in the device's mix format (whole frames), into a device.
    bool Play(const std::string& id, const std::vector<std::uint8_t>& bytes);
    bool PlayOnDefault(const std::vector<std::uint8_t>& bytes);
    // Everything render clients have written to the device so far, and forgets it.
    std::vector<std::uint8_t> TakeRenderedBytes(const std::string& id);

    // Mute and volume as the endpoint volume left them, and the number of SetMute and
    // successful SetMasterVolumeLevelScalar calls. Unknown devices read as unmuted, 0.
    bool IsMuted(const std::string& id) const;
    float Volume(const std::string& id) const;
    int MuteCalls(const std::string& id) const;
    int VolumeSetCalls(const std::string& id) const;
    // The user moving the slider: changes the state without counting as a call.
    bool SetDeviceVolume(const std::string& id, float level);
    bool SetDeviceMute(const std::string& id, bool mute);
    // Called on the caller's thread at the start of every SetMute of an endpoint volume, before
    // it takes effect (a test looks at the world "while the call runs"); empty for none.
    using MuteCallObserver = std::function<void(const std::string& id, bool mute)>;
    void SetMuteCallObserver(MuteCallObserver observer);

    // Failures: with the server unavailable, finding devices, activating, initialising and every
    // volume call give NoServer (running streams go on). With volume sets failing,
    // SetMasterVolumeLevelScalar gives Failed and changes nothing.
    void SetServerAvailable(bool available);
    void SetVolumeSetsFail(bool fail);

    // Brings every stream up to the clock and signals the events of render streams that a
    // period or more has passed for. StartRealTimePump does this every few milliseconds on a
    // thread of its own, for use with a real clock (demos); it stops with the backend.
    void Pump();
    void StartRealTimePump();

    // Waits until `condition` holds, checking it after each change of a device's state (mute,
    // volume, default, ...) and at the deadline. The condition may call this backend.
    bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
    // Waits until every notification raised so far has been delivered.
    bool WaitForNotifications(std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    std::shared_ptr<SimulatedCore> core_;
    std::shared_ptr<SimulatedPlaybackStreams> playbackStreams_;
};

}  // namespace hushwell
