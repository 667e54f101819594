#pragma once

#include <pulse/channelmap.h>
#include <pulse/context.h>
#include <pulse/introspect.h>
#include <pulse/sample.h>
#include <pulse/subscribe.h>
#include <pulse/volume.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioResult.h"
#include "audio/EndpointClientList.h"
#include "audio/EndpointNotificationClient.h"
#include "audio/NotificationDispatcher.h"
#include "audio/pulse/PulseBackendOptions.h"
#include "audio/pulse/PulseContext.h"
#include "audio/pulse/PulseMainloop.h"
#include "audio/pulse/PulseSinkWatcher.h"
#include "audio/pulse/PulseTimer.h"

namespace hushwell {

class PulseOperation;

// What the backend needs to know about one sink.
struct PulseSinkInfo {
    std::string name;
    std::uint32_t index = PA_INVALID_INDEX;
    pa_sample_spec sampleSpec{};
    pa_channel_map channelMap{};
    pa_cvolume volume{};
    bool mute = false;
    std::string monitorSourceName;
};

// The PulseAudio backend's connection to its server, shared by everything the backend hands
// out: the threaded main loop, the current context (a new one for every reconnection, after a
// back-off), the default sink as the server last reported it, the endpoint notification
// clients, the sessions to tell when their sink goes away, and the notification thread.
//
// Threads: the *Locked methods with the main loop's lock held, from any thread but the loop's
// (they may wait for the server, at most the call or connect time-out). The callbacks run on
// the loop thread and never wait. The endpoint client registry and Warn: any thread.
class PulseConnection : public std::enable_shared_from_this<PulseConnection> {
public:
    static std::shared_ptr<PulseConnection> Create(PulseBackendOptions options);
    ~PulseConnection();
    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    PulseMainloop& Mainloop() { return mainloop_; }
    NotificationDispatcher& Dispatcher() { return dispatcher_; }
    void Warn(const std::string& message) const;

    // Waits until the context is connected and the server's state known. NoServer when the
    // current connection attempt fails or times out, or none is under way.
    AudioResult WaitReadyLocked();
    pa_context* ContextLocked() const { return context_.get(); }
    std::chrono::steady_clock::time_point CallDeadline() const;

    // Waits for `operation` until its callback set `done`. The operation is cancelled when the
    // wait ends otherwise: TimedOut, or NoServer when the connection was lost meanwhile.
    // `call` names the pa_ function for the warning.
    AudioResult AwaitLocked(PulseOperation& operation, const bool& done, const char* call);
    // Waits for a stream or context condition with the same rules (no operation involved).
    AudioResult AwaitConditionLocked(const std::function<bool()>& done, const char* call);
    // The errno text of the context, for warnings.
    std::string ErrorTextLocked() const;

    AudioResult QuerySinkLocked(const std::string& name, PulseSinkInfo& info);
    AudioResult QuerySinkNamesLocked(std::vector<std::string>& names);
    // The default sink and the server's name, asked afresh.
    AudioResult QueryServerLocked(std::string& defaultSink, std::string& serverName);
    // Replaces the context with a new one and waits for it, for a server whose view of the
    // default stays stale for one client (pipewire-pulse, after a restart, may name no default
    // to a client connected early while every other client sees it). The sessions on the old
    // context are told DeviceRemoval. At most once per hold-off, so that a server without any
    // default is not reconnected to on every call: Failed when within it.
    AudioResult RenewContextLocked();

    void AddSessionLocked(PulseSinkWatcher* session);
    void RemoveSessionLocked(PulseSinkWatcher* session);

    AudioResult AddEndpointClient(EndpointNotificationClient* client);
    AudioResult RemoveEndpointClient(EndpointNotificationClient* client);

private:
    explicit PulseConnection(PulseBackendOptions options);

    // Loop thread (or the lock held).
    void StartAttemptLocked();
    void ScheduleReconnectLocked();
    void OnContextState();
    void OnAttemptTimeout();
    void OnSubscription(pa_subscription_event_type_t type, std::uint32_t index);
    void OnServerInfo(const pa_server_info* info);
    void OnSinkInfo(const pa_sink_info* info);
    void LoseSessionsLocked();
    void PostDefaultChanged(const std::string& sinkName);

    static void ContextStateCallback(pa_context* context, void* userdata);
    static void SubscribeCallback(pa_context* context, pa_subscription_event_type_t type,
                                  std::uint32_t index, void* userdata);
    static void ServerInfoCallback(pa_context* context, const pa_server_info* info, void* userdata);
    static void SinkInfoCallback(pa_context* context, const pa_sink_info* info, int eol,
                                 void* userdata);

    const PulseBackendOptions options_;
    // Declared before the main loop so that it outlives the loop's callbacks, which post to it.
    NotificationDispatcher dispatcher_;
    PulseMainloop mainloop_;

    // Under the main loop's lock.
    PulseContext context_;
    bool ready_ = false;          // connected and the server's state known
    bool attemptActive_ = false;  // a connection attempt is under way
    PulseTimer attemptTimer_;     // ends an attempt that takes too long
    PulseTimer reconnectTimer_;   // starts the next attempt after the back-off
    std::chrono::milliseconds backoff_;
    bool outageWarned_ = false;  // one warning per outage, not one per attempt
    bool defaultKnown_ = false;
    bool serverLost_ = false;  // a ready connection was lost and not yet re-established
    std::chrono::steady_clock::time_point lastRenewal_{};
    std::string defaultSink_;
    std::vector<PulseSinkWatcher*> sessions_;

    EndpointClientList endpointClients_{dispatcher_};
};

}  // namespace hushwell
