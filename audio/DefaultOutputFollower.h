#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "audio/AudioSessionEvents.h"
#include "audio/EndpointNotificationClient.h"
#include "base/Event.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class AudioBackend;
class AudioClient;
class AudioEndpoint;
class AudioSessionControl;

// The stream a DefaultOutputFollower opens and reopens: the follower owns the output and its
// audio client, the stream sets the client up and keeps the service it takes from it (a capture
// or a render client).
//
// Threads: the follower calls these on the thread that opens the stream (the owner's) or, during
// a switch, on the stream's own thread; never on the notification thread.
class FollowedStream {
public:
    // The mix format of the output a switch found: true when the stream can go on with it (it
    // may adopt it), false ends the switch attempt.
    virtual bool AcceptSwitchFormat(const WaveFormat& format) = 0;
    // Initialises the stream on the client just activated and takes its service.
    virtual bool ConfigureStream(AudioClient& client) = 0;
    // Drops the service ConfigureStream took.
    virtual void ReleaseStreamService() = 0;

protected:
    FollowedStream() = default;
    ~FollowedStream() = default;
    FollowedStream(const FollowedStream&) = default;
    FollowedStream& operator=(const FollowedStream&) = default;
};

// Follows the default output for a stream (loopback capture, playback): it holds the output, its
// audio client and session control, listens for the output going away, changing its format or
// another output becoming the default, and on the stream's thread reopens the stream on the
// default output.
//
// A notification only counts a request, sets the switching flag and signals the switch event;
// the stream's thread waits on that event (SwitchEvent) among its own and then calls
// SwitchToDefaultEndpoint, which stops and releases the stream, waits (after the first switch)
// up to kSwitchCompleteTimeout for the server to name the new default, and makes up to
// kSwitchAttempts attempts to open the stream there.
//
// Threads:
// - Owner's thread (the stream's opener): constructor, OpenClient, Follow, Close, destructor,
//   and Client while the stream's thread does not run.
// - Stream's thread: SwitchToDefaultEndpoint and Client while it runs.
// - Audio layer notification thread: the notification callbacks, which only set flags and
//   signal events and never block.
// - Any thread: IsSwitching, EndpointId, WithClient, SwitchEvent (to wait on it).
// The client lock guards the output, client and session control pointers; it is never held
// while the stream's hooks run.
class DefaultOutputFollower final : private AudioSessionEvents, private EndpointNotificationClient {
public:
    // How long a switch waits for the default output to settle after the first switch.
    static constexpr std::chrono::milliseconds kSwitchCompleteTimeout{500};

    // The backend must outlive the object, and so must the stream. `endpoint` is the output to
    // open first.
    DefaultOutputFollower(AudioBackend& backend, std::shared_ptr<AudioEndpoint> endpoint,
                          FollowedStream& stream);
    // Unregisters what Follow registered and releases the client (the stream's service is the
    // stream's to release; it calls Close first).
    ~DefaultOutputFollower() override;
    DefaultOutputFollower(const DefaultOutputFollower&) = delete;
    DefaultOutputFollower& operator=(const DefaultOutputFollower&) = delete;

    // --- Owner's thread ---

    // Activates an audio client on the first output and reads its mix format; the client is
    // kept only when `acceptFormat` takes the format. False when a step fails.
    bool OpenClient(const std::function<bool(const WaveFormat&)>& acceptFormat);
    // Registers for the session's and the default output's notifications.
    bool Follow();
    // Unregisters the notifications and releases the stream (the stream's service first) and
    // the output. The stream's thread must have ended; calling it twice is harmless.
    void Close();

    // --- Stream's thread ---

    // Makes the switch asked for (nothing when none is pending). False when the switch failed;
    // the stream is then closed and the switching flag cleared.
    bool SwitchToDefaultEndpoint();

    // The client, for the one thread that may replace it (see above); null when none.
    AudioClient* Client() const { return audioClient_.get(); }

    // --- Any thread ---

    // Calls `use` with the client (null when none) under the client lock; `use` must not block
    // on the stream's thread.
    void WithClient(const std::function<void(AudioClient*)>& use) const;
    // Signalled when a switch is asked for; the stream's thread waits on it.
    Event& SwitchEvent() { return switchEvent_; }
    // True from a notification that asks for a switch until the stream's thread has made it.
    bool IsSwitching() const;
    // The id of the output followed (it changes with a switch).
    std::string EndpointId() const;

private:
    // --- Notification thread ---
    void OnSessionDisconnected(DisconnectReason reason) override;
    void OnDefaultDeviceChanged(DataFlow flow, Role role, const std::string& deviceId) override;
    void SignalSwitch();

    // --- Owner's thread and stream's thread ---
    bool RegisterSessionEvents();
    void ReleaseStream();
    void ReleaseClient();
    void UnregisterEndpointCallback();

    // --- Stream's thread ---
    bool OpenDefaultEndpoint();
    bool FailSwitch();

    // The default output followed is the one for the console role.
    static constexpr Role kFollowedRole = Role::Console;
    // Attempts a switch makes while the server keeps naming new defaults.
    static constexpr int kSwitchAttempts = 3;

    AudioBackend& backend_;
    FollowedStream& stream_;

    mutable std::mutex clientMutex_;
    std::shared_ptr<AudioEndpoint> endpoint_;
    std::unique_ptr<AudioClient> audioClient_;
    std::unique_ptr<AudioSessionControl> sessionControl_;
    bool endpointCallbackRegistered_ = false;  // owner's thread only

    Event switchEvent_{Event::Mode::AutoReset};
    // Set when the default output has settled; the first switch of an object never waits.
    Event switchCompleteEvent_{Event::Mode::ManualReset, true};
    // Set by the notification callbacks while a switch is pending, cleared when it ends.
    std::atomic<bool> inSwitch_{false};
    // Counts the notifications that asked for a switch, so that one arriving while a switch runs
    // is not forgotten when that switch ends.
    std::atomic<std::uint64_t> switchRequests_{0};
};

}  // namespace hushwell
