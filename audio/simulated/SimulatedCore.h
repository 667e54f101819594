#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "audio/AudioResult.h"
#include "audio/AudioSessionEvents.h"
#include "audio/EndpointClientList.h"
#include "audio/EndpointNotificationClient.h"
#include "audio/NotificationDispatcher.h"
#include "audio/simulated/SimulatedStream.h"
#include "wav/WaveFormat.h"

namespace hushwell {

class Clock;
class Event;

// The state and the rules of the simulated sound system behind SimulatedBackend and the
// simulated endpoints, clients and volumes, which all hold it by shared_ptr. Every operation
// takes the one lock; notifications go through the notification thread and never run under it.
// A notification goes to the listeners registered when it was raised that are still
// registered when it is delivered.
//
// Threads: any thread.
class SimulatedCore : public std::enable_shared_from_this<SimulatedCore> {
public:
    explicit SimulatedCore(const Clock& clock);
    ~SimulatedCore();
    SimulatedCore(const SimulatedCore&) = delete;
    SimulatedCore& operator=(const SimulatedCore&) = delete;

    // Devices and their notifications.
    AudioResult DefaultDevice(std::string& id, std::uint64_t& instance);
    AudioResult FindDevice(const std::string& id, std::uint64_t& instance);
    AudioResult DeviceIds(std::vector<std::string>& ids);
    AudioResult AddEndpointClient(EndpointNotificationClient* client);
    AudioResult RemoveEndpointClient(EndpointNotificationClient* client);
    bool ServerAvailable() const;
    bool AddDevice(const std::string& id, const WaveFormat& format);
    bool SetDefaultDevice(const std::string& id);
    bool RemoveDevice(const std::string& id);
    bool ChangeDeviceFormat(const std::string& id, const WaveFormat& format);
    std::string DefaultDeviceId() const;
    void NotifyDefaultDeviceChanged(DataFlow flow, Role role, const std::string& id);
    bool DisconnectSessions(const std::string& id, DisconnectReason reason);

    // Audio clients.
    AudioResult CreateStream(const std::string& id, std::uint64_t instance,
                             std::shared_ptr<SimulatedStream>& stream);
    AudioResult MixFormat(const SimulatedStream& stream, WaveFormat& format);
    AudioResult Initialize(SimulatedStream& stream, std::uint32_t flags,
                           std::int64_t bufferDuration100ns, const WaveFormat& format);
    AudioResult BufferSize(const SimulatedStream& stream, std::uint32_t& frames);
    AudioResult SetEvent(SimulatedStream& stream, std::shared_ptr<Event> event);
    AudioResult Padding(SimulatedStream& stream, std::uint32_t& frames);
    AudioResult Start(SimulatedStream& stream);
    AudioResult Stop(SimulatedStream& stream);
    AudioResult CheckKind(const SimulatedStream& stream, SimulatedStream::Kind kind);

    // Capture clients: brings the stream up to the clock and hands out its packet queue.
    AudioResult CaptureQueue(SimulatedStream& stream, CapturePacketQueue*& queue);

    // Render clients.
    AudioResult RenderGetBuffer(SimulatedStream& stream, std::uint32_t frames, std::uint8_t*& data);
    AudioResult RenderReleaseBuffer(SimulatedStream& stream, std::uint32_t frames,
                                    std::uint32_t flags);

    // Session controls.
    AudioResult AddSessionListener(SimulatedStream& stream, const void* owner,
                                   AudioSessionEvents* listener);
    AudioResult RemoveSessionListener(SimulatedStream& stream, const void* owner,
                                      AudioSessionEvents* listener);
    void RemoveSessionListeners(SimulatedStream& stream, const void* owner);

    // Endpoint volumes.
    AudioResult CheckDevice(const std::string& id, std::uint64_t instance);
    AudioResult SetMute(const std::string& id, std::uint64_t instance, bool mute);
    AudioResult GetVolume(const std::string& id, std::uint64_t instance, float& level);
    AudioResult SetVolume(const std::string& id, std::uint64_t instance, float level);

    // Test controls and observations.
    bool Play(const std::string& id, const std::vector<std::uint8_t>& bytes);
    std::vector<std::uint8_t> TakeRenderedBytes(const std::string& id);
    bool IsMuted(const std::string& id) const;
    float Volume(const std::string& id) const;
    int MuteCalls(const std::string& id) const;
    int VolumeSetCalls(const std::string& id) const;
    bool SetDeviceVolume(const std::string& id, float level);
    bool SetDeviceMute(const std::string& id, bool mute);
    using MuteCallObserver = std::function<void(const std::string& id, bool mute)>;
    void SetMuteCallObserver(MuteCallObserver observer);
    void SetServerAvailable(bool available);
    void SetVolumeSetsFail(bool fail);
    void Pump();
    void StartRealTimePump();
    void StopRealTimePump();
    bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
    bool WaitForNotifications(std::chrono::milliseconds timeout);

private:
    struct Device {
        WaveFormat format{};
        std::uint64_t instance = 0;
        std::uint64_t formatVersion = 0;
        bool muted = false;
        float volume = 1.0f;
        int muteCalls = 0;
        int volumeSetCalls = 0;
        std::vector<std::uint8_t> rendered;
        std::vector<std::weak_ptr<SimulatedStream>> streams;
    };

    Device* FindLocked(const std::string& id);
    const Device* FindLocked(const std::string& id) const;
    Device* DeviceOfLocked(const SimulatedStream& stream);
    AudioResult ValidLocked(const SimulatedStream& stream);
    std::uint64_t FramesDueLocked(const SimulatedStream& stream, std::uint64_t now) const;
    // Packetises what the clock says has played; true when packets were added.
    bool CatchUpCaptureLocked(SimulatedStream& stream, std::uint64_t now);
    // The same, and signals an event-driven capture's event when packets were added.
    void SignalCaptureLocked(SimulatedStream& stream, std::uint64_t now);
    void StartCapturePacerLocked();
    void PaceCapturesLocked();
    void StopCapturePacer();
    void UpdateRenderLocked(SimulatedStream& stream, std::uint64_t now);
    void PlayLocked(Device& device, const std::uint8_t* bytes, std::size_t size);
    std::vector<std::shared_ptr<SimulatedStream>> LiveStreamsLocked(Device& device);
    void PostDefaultChanged(DataFlow flow, Role role, const std::string& id);
    bool IsSessionListener(const SimulatedStream& stream,
                           const std::pair<const void*, AudioSessionEvents*>& entry) const;
    void PostSessionsDisconnectedLocked(Device& device, DisconnectReason reason);
    void ChangedLocked();

    const Clock& clock_;
    mutable std::mutex mutex_;
    std::mutex observerMutex_;  // guards muteCallObserver_ alone; never held with mutex_
    MuteCallObserver muteCallObserver_;
    std::condition_variable changed_;
    std::uint64_t changes_ = 0;
    std::map<std::string, Device> devices_;
    std::vector<std::string> deviceOrder_;  // ids in the order they were added
    std::string defaultId_;
    std::uint64_t nextInstance_ = 1;
    bool serverAvailable_ = true;
    bool volumeSetsFail_ = false;
    // Delivers through dispatcher_, declared below: no delivery starts once it is gone.
    EndpointClientList endpointClients_{dispatcher_};

    std::atomic<bool> pumpQuit_{false};
    std::thread pumpThread_;

    // The capture pacer: while an event-driven capture has been started, it looks at the clock
    // every few milliseconds and signals the event of each capture that packets became due for,
    // as a device delivers them, whether the clock is real or moved by a test. Under the lock.
    bool pacerQuit_ = false;
    std::condition_variable pacerWake_;
    std::thread pacerThread_;

    // Last, so it is destroyed first: no task runs once the state above is gone.
    NotificationDispatcher dispatcher_;
};

}  // namespace hushwell
