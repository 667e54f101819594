#include "audio/pulse/PulseConnection.h"

#include <pulse/error.h>
#include <pulse/operation.h>

#include <algorithm>
#include <iostream>
#include <utility>

#include "audio/pulse/PulseOperation.h"

namespace hushwell {

namespace {

// The first pause before reconnecting, doubled after each failed attempt up to the maximum.
constexpr std::chrono::milliseconds kInitialBackoff{250};
constexpr std::chrono::milliseconds kMaxBackoff{4000};
constexpr std::chrono::seconds kRenewalHoldOff{5};
// What the connection watches: sinks (removal, format) and the server (default sink).
constexpr pa_subscription_mask_t kSubscriptions =
    static_cast<pa_subscription_mask_t>(PA_SUBSCRIPTION_MASK_SINK | PA_SUBSCRIPTION_MASK_SERVER);

// Lets a fire-and-forget operation run on; its callback gets the connection, which outlives
// every context it makes.
void Detach(pa_operation* operation) {
    if (operation != nullptr) {
        pa_operation_unref(operation);
    }
}

std::string Millis(std::chrono::milliseconds ms) {
    return std::to_string(ms.count()) + " ms";
}

void CopySinkInfo(const pa_sink_info& from, PulseSinkInfo& to) {
    to.name = from.name != nullptr ? from.name : "";
    to.index = from.index;
    to.sampleSpec = from.sample_spec;
    to.channelMap = from.channel_map;
    to.volume = from.volume;
    to.mute = from.mute != 0;
    to.monitorSourceName = from.monitor_source_name != nullptr ? from.monitor_source_name : "";
}

struct SinkQuery {
    PulseMainloop* loop = nullptr;
    bool done = false;
    bool found = false;
    PulseSinkInfo info;
    std::vector<std::string> names;
};

struct ServerQuery {
    PulseMainloop* loop = nullptr;
    bool done = false;
    std::string defaultSink;
    std::string serverName;
};

}  // namespace

std::shared_ptr<PulseConnection> PulseConnection::Create(PulseBackendOptions options) {
    std::shared_ptr<PulseConnection> connection(new PulseConnection(std::move(options)));
    if (connection->mainloop_.Valid()) {
        PulseLock lock(connection->mainloop_);
        connection->StartAttemptLocked();
    } else {
        connection->Warn("pa_threaded_mainloop_start failed: no PulseAudio main loop");
    }
    return connection;
}

PulseConnection::PulseConnection(PulseBackendOptions options)
    : options_(std::move(options)), backoff_(kInitialBackoff) {}

PulseConnection::~PulseConnection() {
    if (mainloop_.Valid()) {
        PulseLock lock(mainloop_);
        attemptTimer_.Cancel();
        reconnectTimer_.Cancel();
        context_.Reset();
    }
    mainloop_.Stop();
}

void PulseConnection::Warn(const std::string& message) const {
    if (options_.warn) {
        options_.warn(message);
        return;
    }
    std::cerr << "hushwell audio: " << message << '\n';
}

std::chrono::steady_clock::time_point PulseConnection::CallDeadline() const {
    return std::chrono::steady_clock::now() + options_.callTimeout;
}

std::string PulseConnection::ErrorTextLocked() const {
    if (!context_) {
        return "no context";
    }
    return pa_strerror(pa_context_errno(context_.get()));
}

// ---- connecting

void PulseConnection::StartAttemptLocked() {
    pa_context* fresh = pa_context_new(mainloop_.Api(), options_.applicationName.c_str());
    if (fresh == nullptr) {
        Warn("pa_context_new failed");
        attemptActive_ = false;
        ScheduleReconnectLocked();
        mainloop_.Signal();
        return;
    }
    context_.Reset(fresh);
    pa_context_set_state_callback(fresh, &PulseConnection::ContextStateCallback, this);
    pa_context_set_subscribe_callback(fresh, &PulseConnection::SubscribeCallback, this);
    ready_ = false;
    attemptActive_ = true;
    const char* server = options_.server.empty() ? nullptr : options_.server.c_str();
    const auto flags = static_cast<pa_context_flags_t>(PA_CONTEXT_NOAUTOSPAWN | PA_CONTEXT_NOFAIL);
    if (pa_context_connect(fresh, server, flags, nullptr) < 0) {
        if (!outageWarned_) {
            Warn("pa_context_connect failed: " + ErrorTextLocked());
            outageWarned_ = true;
        }
        attemptActive_ = false;
        ScheduleReconnectLocked();
        mainloop_.Signal();
        return;
    }
    attemptTimer_.Arm(fresh, mainloop_.Api(), options_.connectTimeout,
                      [this] { OnAttemptTimeout(); });
}

void PulseConnection::ScheduleReconnectLocked() {
    if (!context_) {
        return;  // no context to lend the timer its clock: calls will keep giving NoServer
    }
    reconnectTimer_.Arm(context_.get(), mainloop_.Api(), backoff_, [this] {
        if (!ready_ && !attemptActive_) {
            StartAttemptLocked();
        }
    });
    backoff_ = std::min(backoff_ * 2, kMaxBackoff);
}

AudioResult PulseConnection::RenewContextLocked() {
    const auto now = std::chrono::steady_clock::now();
    if (lastRenewal_ != std::chrono::steady_clock::time_point{} &&
        now - lastRenewal_ < kRenewalHoldOff) {
        return AudioResult::Failed;
    }
    lastRenewal_ = now;
    Warn(
        "pa_context: the server names no default sink to this client while it has sinks; "
        "connecting again");
    attemptTimer_.Cancel();
    reconnectTimer_.Cancel();
    if (ready_) {
        LoseSessionsLocked();
        serverLost_ = true;
    }
    ready_ = false;
    StartAttemptLocked();
    return WaitReadyLocked();
}

void PulseConnection::OnAttemptTimeout() {
    if (ready_ || !attemptActive_) {
        return;
    }
    if (!outageWarned_) {
        Warn("pa_context_connect: no answer from the sound server within " +
             Millis(options_.connectTimeout));
        outageWarned_ = true;
    }
    attemptActive_ = false;
    ScheduleReconnectLocked();
    mainloop_.Signal();
}

void PulseConnection::OnContextState() {
    pa_context* context = context_.get();
    switch (pa_context_get_state(context)) {
        case PA_CONTEXT_READY: {
            pa_operation* subscribe =
                pa_context_subscribe(context, kSubscriptions, nullptr, nullptr);
            if (subscribe == nullptr) {
                Warn("pa_context_subscribe failed: " + ErrorTextLocked());
            }
            Detach(subscribe);
            pa_operation* info =
                pa_context_get_server_info(context, &PulseConnection::ServerInfoCallback, this);
            if (info == nullptr) {
                Warn("pa_context_get_server_info failed: " + ErrorTextLocked());
            }
            Detach(info);
            break;
        }
        case PA_CONTEXT_FAILED:
        case PA_CONTEXT_TERMINATED: {
            const bool wasReady = ready_;
            if (wasReady || !outageWarned_) {
                Warn(std::string(wasReady ? "pa_context: lost the sound server: "
                                          : "pa_context_connect failed: ") +
                     ErrorTextLocked());
                outageWarned_ = true;
            }
            ready_ = false;
            attemptActive_ = false;
            attemptTimer_.Cancel();
            if (wasReady) {
                LoseSessionsLocked();
                serverLost_ = true;
            }
            ScheduleReconnectLocked();
            mainloop_.Signal();
            break;
        }
        default:
            break;
    }
}

void PulseConnection::OnServerInfo(const pa_server_info* info) {
    if (info == nullptr) {
        Warn("pa_context_get_server_info failed: " + ErrorTextLocked());
        return;
    }
    if (!ready_) {
        ready_ = true;
        attemptActive_ = false;
        attemptTimer_.Cancel();
        backoff_ = kInitialBackoff;
        outageWarned_ = false;
    }
    const std::string sink = info->default_sink_name != nullptr ? info->default_sink_name : "";
    // After the server came back, its outputs are new objects even under the old name: tell
    // the listeners so that they bind to them again.
    const bool cameBack = std::exchange(serverLost_, false) && !sink.empty();
    if ((defaultKnown_ && sink != defaultSink_) || cameBack) {
        PostDefaultChanged(sink);
    }
    defaultSink_ = sink;
    defaultKnown_ = true;
    mainloop_.Signal();
}

AudioResult PulseConnection::WaitReadyLocked() {
    if (ready_) {
        return AudioResult::Ok;
    }
    if (!attemptActive_) {
        return AudioResult::NoServer;
    }
    // The attempt's own timer ends it; the deadline here only guards against a lost timer.
    const auto deadline =
        std::chrono::steady_clock::now() + options_.connectTimeout + options_.callTimeout;
    mainloop_.WaitUntil(
        context_.get(), [&] { return ready_ || !attemptActive_; }, deadline);
    return ready_ ? AudioResult::Ok : AudioResult::NoServer;
}

// ---- server events

void PulseConnection::OnSubscription(pa_subscription_event_type_t type, std::uint32_t index) {
    const auto facility = type & PA_SUBSCRIPTION_EVENT_FACILITY_MASK;
    const auto kind = type & PA_SUBSCRIPTION_EVENT_TYPE_MASK;
    if (facility == PA_SUBSCRIPTION_EVENT_SERVER) {
        pa_operation* info =
            pa_context_get_server_info(context_.get(), &PulseConnection::ServerInfoCallback, this);
        if (info == nullptr) {
            Warn("pa_context_get_server_info failed: " + ErrorTextLocked());
        }
        Detach(info);
        return;
    }
    if (facility != PA_SUBSCRIPTION_EVENT_SINK) {
        return;
    }
    const std::vector<PulseSinkWatcher*> sessions = sessions_;
    const bool watched = std::any_of(sessions.begin(), sessions.end(),
                                     [&](PulseSinkWatcher* s) { return s->SinkIndex() == index; });
    if (!watched) {
        return;
    }
    if (kind == PA_SUBSCRIPTION_EVENT_REMOVE) {
        for (PulseSinkWatcher* session : sessions) {
            if (session->SinkIndex() == index) {
                session->InvalidateLocked(DisconnectReason::DeviceRemoval);
            }
        }
        return;
    }
    if (kind == PA_SUBSCRIPTION_EVENT_CHANGE) {
        // Most changes are volume or mute; the sink's format is checked by asking for it.
        pa_operation* info = pa_context_get_sink_info_by_index(
            context_.get(), index, &PulseConnection::SinkInfoCallback, this);
        if (info == nullptr) {
            Warn("pa_context_get_sink_info_by_index failed: " + ErrorTextLocked());
        }
        Detach(info);
    }
}

void PulseConnection::OnSinkInfo(const pa_sink_info* info) {
    for (PulseSinkWatcher* session : std::vector<PulseSinkWatcher*>(sessions_)) {
        if (session->SinkIndex() == info->index &&
            !session->HasSinkFormat(info->sample_spec, info->channel_map)) {
            session->InvalidateLocked(DisconnectReason::FormatChanged);
        }
    }
}

void PulseConnection::LoseSessionsLocked() {
    for (PulseSinkWatcher* session : std::vector<PulseSinkWatcher*>(sessions_)) {
        session->InvalidateLocked(DisconnectReason::DeviceRemoval);
    }
}

void PulseConnection::AddSessionLocked(PulseSinkWatcher* session) {
    sessions_.push_back(session);
}

void PulseConnection::RemoveSessionLocked(PulseSinkWatcher* session) {
    std::erase(sessions_, session);
}

// ---- endpoint notification clients

AudioResult PulseConnection::AddEndpointClient(EndpointNotificationClient* client) {
    return endpointClients_.Add(client);
}

AudioResult PulseConnection::RemoveEndpointClient(EndpointNotificationClient* client) {
    return endpointClients_.Remove(client);
}

void PulseConnection::PostDefaultChanged(const std::string& sinkName) {
    endpointClients_.PostDefaultChanged(DataFlow::Render, Role::Console, sinkName);
}

// ---- waiting for answers

AudioResult PulseConnection::AwaitLocked(PulseOperation& operation, const bool& done,
                                         const char* call) {
    if (!operation.Started()) {
        Warn(std::string(call) + " failed: " + ErrorTextLocked());
        return ready_ ? AudioResult::Failed : AudioResult::NoServer;
    }
    mainloop_.WaitUntil(
        context_.get(), [&] { return done || !operation.Running() || !ready_; }, CallDeadline());
    if (done) {
        return AudioResult::Ok;
    }
    if (!ready_) {
        return AudioResult::NoServer;
    }
    if (!operation.Running()) {
        Warn(std::string(call) + " failed: " + ErrorTextLocked());
        return AudioResult::Failed;
    }
    Warn(std::string(call) + ": no answer within " + Millis(options_.callTimeout));
    return AudioResult::TimedOut;
}

AudioResult PulseConnection::AwaitConditionLocked(const std::function<bool()>& done,
                                                  const char* call) {
    mainloop_.WaitUntil(
        context_.get(), [&] { return done() || !ready_; }, CallDeadline());
    if (done()) {
        return AudioResult::Ok;
    }
    if (!ready_) {
        return AudioResult::NoServer;
    }
    Warn(std::string(call) + ": no answer within " + Millis(options_.callTimeout));
    return AudioResult::TimedOut;
}

AudioResult PulseConnection::QuerySinkLocked(const std::string& name, PulseSinkInfo& info) {
    if (AudioResult ready = WaitReadyLocked(); ready != AudioResult::Ok) {
        return ready;
    }
    SinkQuery query;
    query.loop = &mainloop_;
    PulseOperation operation(pa_context_get_sink_info_by_name(
        context_.get(), name.c_str(),
        [](pa_context*, const pa_sink_info* sink, int eol, void* userdata) {
            auto* q = static_cast<SinkQuery*>(userdata);
            if (sink != nullptr && !q->found) {
                CopySinkInfo(*sink, q->info);
                q->found = true;
            }
            if (eol != 0) {
                q->done = true;
                q->loop->Signal();
            }
        },
        &query));
    const AudioResult result =
        AwaitLocked(operation, query.done, "pa_context_get_sink_info_by_name");
    if (result != AudioResult::Ok) {
        return result;
    }
    if (!query.found) {
        return AudioResult::NotFound;
    }
    info = std::move(query.info);
    return AudioResult::Ok;
}

AudioResult PulseConnection::QuerySinkNamesLocked(std::vector<std::string>& names) {
    if (AudioResult ready = WaitReadyLocked(); ready != AudioResult::Ok) {
        return ready;
    }
    SinkQuery query;
    query.loop = &mainloop_;
    PulseOperation operation(pa_context_get_sink_info_list(
        context_.get(),
        [](pa_context*, const pa_sink_info* sink, int eol, void* userdata) {
            auto* q = static_cast<SinkQuery*>(userdata);
            if (sink != nullptr && sink->name != nullptr) {
                q->names.emplace_back(sink->name);
            }
            if (eol != 0) {
                q->done = true;
                q->loop->Signal();
            }
        },
        &query));
    const AudioResult result = AwaitLocked(operation, query.done, "pa_context_get_sink_info_list");
    if (result == AudioResult::Ok) {
        names = std::move(query.names);
    }
    return result;
}

AudioResult PulseConnection::QueryServerLocked(std::string& defaultSink, std::string& serverName) {
    if (AudioResult ready = WaitReadyLocked(); ready != AudioResult::Ok) {
        return ready;
    }
    ServerQuery query;
    query.loop = &mainloop_;
    PulseOperation operation(pa_context_get_server_info(
        context_.get(),
        [](pa_context*, const pa_server_info* info, void* userdata) {
            auto* q = static_cast<ServerQuery*>(userdata);
            if (info != nullptr) {
                q->defaultSink = info->default_sink_name != nullptr ? info->default_sink_name : "";
                q->serverName = info->server_name != nullptr ? info->server_name : "";
            }
            q->done = true;
            q->loop->Signal();
        },
        &query));
    const AudioResult result = AwaitLocked(operation, query.done, "pa_context_get_server_info");
    if (result == AudioResult::Ok) {
        defaultSink = std::move(query.defaultSink);
        serverName = std::move(query.serverName);
    }
    return result;
}

// ---- libpulse callbacks, on the loop thread

void PulseConnection::ContextStateCallback(pa_context* context, void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    if (context == self->context_.get()) {
        self->OnContextState();
    }
}

void PulseConnection::SubscribeCallback(pa_context*, pa_subscription_event_type_t type,
                                        std::uint32_t index, void* userdata) {
    static_cast<PulseConnection*>(userdata)->OnSubscription(type, index);
}

void PulseConnection::ServerInfoCallback(pa_context* context, const pa_server_info* info,
                                         void* userdata) {
    auto* self = static_cast<PulseConnection*>(userdata);
    if (context == self->context_.get()) {
        self->OnServerInfo(info);
    }
}

void PulseConnection::SinkInfoCallback(pa_context*, const pa_sink_info* info, int eol,
                                       void* userdata) {
    if (info != nullptr && eol == 0) {
        static_cast<PulseConnection*>(userdata)->OnSinkInfo(info);
    }
}

}  // namespace hushwell
