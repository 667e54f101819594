#include "audio/pulse/PulseClientState.h"

#include <pulse/error.h>
#include <pulse/operation.h>

#include <algorithm>
#include <cstring>

#include "audio/AudioClient.h"
#include "audio/CaptureClient.h"
#include "audio/pulse/PulseOperation.h"
#include "base/Event.h"

namespace hushwell {

namespace {

// The device period the layer reports and paces render events by.
constexpr std::chrono::milliseconds kDevicePeriod{10};
// The size of the packets a loopback capture asks the server for: one transfer, and one
// wake-up of the capture thread, per fragment. Larger fragments would cost reaction time.
constexpr std::chrono::milliseconds kCaptureFragment{50};
// The buffer a client gets when Initialize asks for none.
constexpr std::chrono::milliseconds kDefaultBuffer{100};
// A render stream holds at least this many periods.
constexpr int kMinRenderPeriods = 2;
// Lets the server choose a buffer attribute.
constexpr std::uint32_t kServerChooses = static_cast<std::uint32_t>(-1);

constexpr pa_stream_flags_t kStreamFlags = static_cast<pa_stream_flags_t>(
    PA_STREAM_DONT_MOVE | PA_STREAM_ADJUST_LATENCY | PA_STREAM_START_CORKED);

std::chrono::microseconds BufferDuration(std::int64_t bufferDuration100ns) {
    if (bufferDuration100ns == 0) {
        return kDefaultBuffer;
    }
    return std::chrono::microseconds((bufferDuration100ns + 9) / 10);
}

std::uint32_t Bytes(std::chrono::microseconds duration, const pa_sample_spec& sampleSpec) {
    return static_cast<std::uint32_t>(
        pa_usec_to_bytes(static_cast<pa_usec_t>(duration.count()), &sampleSpec));
}

struct SuccessQuery {
    PulseMainloop* loop = nullptr;
    bool done = false;
    bool success = false;
};

void SuccessCallback(pa_stream*, int success, void* userdata) {
    auto* query = static_cast<SuccessQuery*>(userdata);
    query->success = success != 0;
    query->done = true;
    query->loop->Signal();
}

}  // namespace

PulseClientState::PulseClientState(std::shared_ptr<PulseConnection> connection,
                                   const PulseSinkInfo& sink, std::uint32_t monitoredStream)
    : connection_(std::move(connection)),
      sinkName_(sink.name),
      sinkIndex_(sink.index),
      sinkSpec_(sink.sampleSpec),
      sinkMap_(sink.channelMap),
      monitorName_(sink.monitorSourceName),
      monitoredStream_(monitoredStream),
      streamFormat_(ChooseStreamFormat(sink.sampleSpec, sink.channelMap)) {
    PulseLock lock(connection_->Mainloop());
    connection_->AddSessionLocked(this);
}

PulseClientState::~PulseClientState() {
    PulseLock lock(connection_->Mainloop());
    periodTimer_.Cancel();
    stream_.Reset();
    connection_->RemoveSessionLocked(this);
}

bool PulseClientState::HasSinkFormat(const pa_sample_spec& sampleSpec,
                                     const pa_channel_map& map) const {
    return pa_sample_spec_equal(&sampleSpec, &sinkSpec_) != 0 &&
           pa_channel_map_equal(&map, &sinkMap_) != 0;
}

AudioResult PulseClientState::UsableLocked() const {
    return invalid_ ? AudioResult::DeviceInvalidated : AudioResult::Ok;
}

AudioResult PulseClientState::CheckKind(Kind kind) {
    PulseLock lock(connection_->Mainloop());
    if (kind_ == Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    if (kind_ != kind) {
        return AudioResult::Unsupported;
    }
    return UsableLocked();
}

// ---- audio client

AudioResult PulseClientState::MixFormat(WaveFormat& format) {
    PulseLock lock(connection_->Mainloop());
    format = streamFormat_.format;
    return UsableLocked();
}

AudioResult PulseClientState::Initialize(std::uint32_t flags, std::int64_t bufferDuration100ns,
                                         const WaveFormat& format) {
    PulseLock lock(connection_->Mainloop());
    if (AudioResult usable = UsableLocked(); usable != AudioResult::Ok) {
        return usable;
    }
    if (kind_ != Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    if (bufferDuration100ns < 0 || !(format == streamFormat_.format)) {
        return AudioResult::InvalidArgument;
    }
    if (AudioResult ready = connection_->WaitReadyLocked(); ready != AudioResult::Ok) {
        return ready;
    }
    if ((flags & kStreamFlagLoopback) != 0) {
        return ConnectRecordLocked(bufferDuration100ns);
    }
    if ((flags & kStreamFlagEventCallback) != 0) {
        return ConnectPlaybackLocked(bufferDuration100ns);
    }
    kind_ = Kind::SessionOnly;
    bufferFrames_ = static_cast<std::uint32_t>(
        Bytes(BufferDuration(bufferDuration100ns), streamFormat_.sampleSpec) /
        streamFormat_.format.blockAlign);
    return AudioResult::Ok;
}

AudioResult PulseClientState::ConnectRecordLocked(std::int64_t bufferDuration100ns) {
    const pa_sample_spec& sampleSpec = streamFormat_.sampleSpec;
    const std::uint32_t blockAlign = streamFormat_.format.blockAlign;
    pa_stream* stream =
        pa_stream_new(connection_->ContextLocked(), "Loopback", &sampleSpec, &streamFormat_.map);
    if (stream == nullptr) {
        connection_->Warn("pa_stream_new failed: " + connection_->ErrorTextLocked());
        return AudioResult::Failed;
    }
    stream_.Reset(stream);
    bufferFrames_ = Bytes(BufferDuration(bufferDuration100ns), sampleSpec) / blockAlign;
    const std::uint32_t backlogFrames =
        Bytes(std::chrono::milliseconds(kMinCaptureBacklogMs), sampleSpec) / blockAlign;
    packets_ =
        std::make_unique<CapturePacketQueue>(blockAlign, std::max(bufferFrames_, backlogFrames));
    pa_stream_set_state_callback(stream, &PulseClientState::StreamStateCallback, this);
    pa_stream_set_read_callback(stream, &PulseClientState::ReadCallback, this);
    if (monitoredStream_ != PA_INVALID_INDEX &&
        pa_stream_set_monitor_stream(stream, monitoredStream_) < 0) {
        connection_->Warn("pa_stream_set_monitor_stream(" + std::to_string(monitoredStream_) +
                          ") failed: " + connection_->ErrorTextLocked());
        stream_.Reset();
        packets_.reset();
        return AudioResult::Failed;
    }

    pa_buffer_attr attr;
    attr.maxlength = kServerChooses;
    attr.tlength = kServerChooses;
    attr.prebuf = kServerChooses;
    attr.minreq = kServerChooses;
    attr.fragsize = Bytes(kCaptureFragment, sampleSpec);
    connectCall_ = "pa_stream_connect_record";
    if (pa_stream_connect_record(stream, monitorName_.c_str(), &attr, kStreamFlags) < 0) {
        connection_->Warn(std::string(connectCall_) + "(" + monitorName_ +
                          ") failed: " + connection_->ErrorTextLocked());
        stream_.Reset();
        packets_.reset();
        return AudioResult::Failed;
    }
    if (AudioResult ready = AwaitStreamReadyLocked(connectCall_); ready != AudioResult::Ok) {
        stream_.Reset();
        packets_.reset();
        return ready;
    }
    kind_ = Kind::Capture;
    return AudioResult::Ok;
}

AudioResult PulseClientState::ConnectPlaybackLocked(std::int64_t bufferDuration100ns) {
    const pa_sample_spec& sampleSpec = streamFormat_.sampleSpec;
    pa_stream* stream =
        pa_stream_new(connection_->ContextLocked(), "Playback", &sampleSpec, &streamFormat_.map);
    if (stream == nullptr) {
        connection_->Warn("pa_stream_new failed: " + connection_->ErrorTextLocked());
        return AudioResult::Failed;
    }
    stream_.Reset(stream);
    pa_stream_set_state_callback(stream, &PulseClientState::StreamStateCallback, this);
    pa_stream_set_write_callback(stream, &PulseClientState::WriteCallback, this);

    const auto buffer = std::max<std::chrono::microseconds>(BufferDuration(bufferDuration100ns),
                                                            kMinRenderPeriods * kDevicePeriod);
    pa_buffer_attr attr;
    attr.maxlength = kServerChooses;
    attr.tlength = Bytes(buffer, sampleSpec);
    attr.prebuf = 0;  // play as soon as started, and play on through an underrun
    attr.minreq = Bytes(kDevicePeriod, sampleSpec);
    attr.fragsize = kServerChooses;
    connectCall_ = "pa_stream_connect_playback";
    if (pa_stream_connect_playback(stream, sinkName_.c_str(), &attr, kStreamFlags, nullptr,
                                   nullptr) < 0) {
        connection_->Warn(std::string(connectCall_) + "(" + sinkName_ +
                          ") failed: " + connection_->ErrorTextLocked());
        stream_.Reset();
        return AudioResult::Failed;
    }
    if (AudioResult ready = AwaitStreamReadyLocked(connectCall_); ready != AudioResult::Ok) {
        stream_.Reset();
        return ready;
    }
    const pa_buffer_attr* actual = pa_stream_get_buffer_attr(stream);
    const std::uint32_t bytes = actual != nullptr ? actual->tlength : attr.tlength;
    bufferFrames_ = bytes / streamFormat_.format.blockAlign;
    kind_ = Kind::Render;
    return AudioResult::Ok;
}

AudioResult PulseClientState::AwaitStreamReadyLocked(const char* call) {
    pa_stream* stream = stream_.get();
    const AudioResult result = connection_->AwaitConditionLocked(
        [&] { return pa_stream_get_state(stream) != PA_STREAM_CREATING; }, call);
    if (result != AudioResult::Ok) {
        return result;
    }
    if (pa_stream_get_state(stream) != PA_STREAM_READY) {
        connection_->Warn(std::string(call) + " failed: " + connection_->ErrorTextLocked());
        return AudioResult::Failed;
    }
    return AudioResult::Ok;
}

AudioResult PulseClientState::BufferSize(std::uint32_t& frames) {
    PulseLock lock(connection_->Mainloop());
    if (kind_ == Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    frames = bufferFrames_;
    return UsableLocked();
}

AudioResult PulseClientState::SetEvent(std::shared_ptr<Event> event) {
    PulseLock lock(connection_->Mainloop());
    if (event == nullptr) {
        return AudioResult::InvalidArgument;
    }
    if (kind_ == Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    event_ = std::move(event);
    return UsableLocked();
}

AudioResult PulseClientState::Padding(std::uint32_t& frames) {
    PulseLock lock(connection_->Mainloop());
    frames = 0;
    if (kind_ == Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    if (AudioResult usable = UsableLocked(); usable != AudioResult::Ok) {
        return usable;
    }
    if (kind_ == Kind::Capture) {
        frames = static_cast<std::uint32_t>(packets_->QueuedFrames());
        return AudioResult::Ok;
    }
    if (kind_ == Kind::Render) {
        return RenderPaddingLocked(frames);
    }
    return AudioResult::Ok;
}

AudioResult PulseClientState::RenderPaddingLocked(std::uint32_t& frames) {
    const std::size_t writable = pa_stream_writable_size(stream_.get());
    if (writable == static_cast<std::size_t>(-1)) {
        connection_->Warn("pa_stream_writable_size failed: " + connection_->ErrorTextLocked());
        return AudioResult::Failed;
    }
    const std::uint32_t freeFrames = static_cast<std::uint32_t>(
        std::min<std::size_t>(writable / streamFormat_.format.blockAlign, bufferFrames_));
    frames = bufferFrames_ - freeFrames;
    return AudioResult::Ok;
}

AudioResult PulseClientState::Start() {
    PulseLock lock(connection_->Mainloop());
    if (kind_ == Kind::Uninitialized || kind_ == Kind::SessionOnly) {
        return AudioResult::WrongState;
    }
    if (AudioResult usable = UsableLocked(); usable != AudioResult::Ok) {
        return usable;
    }
    if (kind_ == Kind::Render && event_ == nullptr) {
        return AudioResult::WrongState;
    }
    if (started_) {
        return AudioResult::Ok;
    }
    if (AudioResult uncorked = CorkLocked(false); uncorked != AudioResult::Ok) {
        return uncorked;
    }
    started_ = true;
    if (kind_ == Kind::Render) {
        event_->Set();
        ArmPeriodTimerLocked();
    }
    return AudioResult::Ok;
}

AudioResult PulseClientState::Stop() {
    PulseLock lock(connection_->Mainloop());
    if (kind_ == Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    if (!started_ || invalid_) {
        started_ = false;  // nothing runs on a stream whose device is gone
        return AudioResult::Ok;
    }
    periodTimer_.Cancel();
    const AudioResult corked = CorkLocked(true);
    started_ = false;
    return corked;
}

AudioResult PulseClientState::CorkLocked(bool cork) {
    SuccessQuery query;
    query.loop = &connection_->Mainloop();
    PulseOperation operation(pa_stream_cork(stream_.get(), cork ? 1 : 0, &SuccessCallback, &query));
    const AudioResult result = connection_->AwaitLocked(operation, query.done, "pa_stream_cork");
    if (result != AudioResult::Ok) {
        return result;
    }
    if (!query.success) {
        connection_->Warn("pa_stream_cork failed: " + connection_->ErrorTextLocked());
        return AudioResult::Failed;
    }
    return AudioResult::Ok;
}

void PulseClientState::ArmPeriodTimerLocked() {
    const bool armed = periodTimer_.Arm(connection_->ContextLocked(), connection_->Mainloop().Api(),
                                        kDevicePeriod, [this] {
                                            if (!started_ || invalid_) {
                                                return;
                                            }
                                            if (event_ != nullptr) {
                                                event_->Set();
                                            }
                                            ArmPeriodTimerLocked();
                                        });
    if (!armed) {
        connection_->Warn("pa_context_rttime_new failed: render events follow the server only");
    }
}

// ---- capture

// The reads of a capture take only the packet queue's own lock, never the main loop's: the
// loop thread holds that while it signals the packet event, and the woken reader would
// otherwise go back to sleep at once for it. The queue exists from before the kind says
// Capture on, and both the kind and the invalid flag are atomic.
AudioResult PulseClientState::CaptureUsable() const {
    const Kind kind = kind_.load();
    if (kind != Kind::Capture) {
        return kind == Kind::Uninitialized ? AudioResult::WrongState : AudioResult::Unsupported;
    }
    return UsableLocked();
}

AudioResult PulseClientState::NextPacketSize(std::uint32_t& frames) {
    frames = 0;
    if (AudioResult usable = CaptureUsable(); usable != AudioResult::Ok) {
        return usable;
    }
    return packets_->GetNextPacketSize(frames);
}

AudioResult PulseClientState::GetCaptureBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                                               std::uint32_t& flags) {
    data = nullptr;
    frames = 0;
    flags = 0;
    if (AudioResult usable = CaptureUsable(); usable != AudioResult::Ok) {
        return usable;
    }
    return packets_->GetBuffer(data, frames, flags);
}

AudioResult PulseClientState::ReleaseCaptureBuffer(std::uint32_t frames) {
    // Releasing stays possible on a dead stream, so that its reader can finish cleanly.
    if (AudioResult usable = CaptureUsable();
        usable != AudioResult::Ok && usable != AudioResult::DeviceInvalidated) {
        return usable;
    }
    return packets_->ReleaseBuffer(frames);
}

void PulseClientState::OnReadable() {
    if (PushReadableLocked() && event_ != nullptr) {
        event_->Set();  // once for everything that arrived in this transfer
    }
}

bool PulseClientState::PushReadableLocked() {
    pa_stream* stream = stream_.get();
    const std::uint32_t blockAlign = streamFormat_.format.blockAlign;
    bool pushed = false;
    while (pa_stream_readable_size(stream) > 0) {
        const void* data = nullptr;
        std::size_t bytes = 0;
        if (pa_stream_peek(stream, &data, &bytes) < 0) {
            connection_->Warn("pa_stream_peek failed: " + connection_->ErrorTextLocked());
            break;
        }
        if (bytes == 0) {
            break;
        }
        if (data == nullptr) {
            // A hole in the recording: as much silence.
            const auto frames = static_cast<std::uint32_t>(bytes / blockAlign);
            packets_->Push(nullptr, frames, true);
            pushed = pushed || frames > 0;
        } else if (partialFrame_.empty() && bytes % blockAlign == 0) {
            // Whole frames, as the server sends them: queued straight from its memory.
            const auto frames = static_cast<std::uint32_t>(bytes / blockAlign);
            packets_->Push(static_cast<const std::uint8_t*>(data), frames, false);
            pushed = true;
        } else {
            const auto* begin = static_cast<const std::uint8_t*>(data);
            partialFrame_.insert(partialFrame_.end(), begin, begin + bytes);
            const std::size_t whole = partialFrame_.size() / blockAlign * blockAlign;
            packets_->Push(partialFrame_.data(), static_cast<std::uint32_t>(whole / blockAlign),
                           false);
            partialFrame_.erase(partialFrame_.begin(),
                                partialFrame_.begin() + static_cast<std::ptrdiff_t>(whole));
            pushed = pushed || whole > 0;
        }
        pa_stream_drop(stream);
    }
    return pushed;
}

// ---- render

AudioResult PulseClientState::GetRenderBuffer(std::uint32_t frames, std::uint8_t*& data) {
    PulseLock lock(connection_->Mainloop());
    data = nullptr;
    if (kind_ != Kind::Render) {
        return kind_ == Kind::Uninitialized ? AudioResult::WrongState : AudioResult::Unsupported;
    }
    if (AudioResult usable = UsableLocked(); usable != AudioResult::Ok) {
        return usable;
    }
    if (renderHeld_) {
        return AudioResult::WrongState;
    }
    std::uint32_t padding = 0;
    if (AudioResult result = RenderPaddingLocked(padding); result != AudioResult::Ok) {
        return result;
    }
    if (frames > bufferFrames_ - padding) {
        return AudioResult::InvalidArgument;
    }
    renderScratch_.assign(static_cast<std::size_t>(frames) * streamFormat_.format.blockAlign, 0);
    heldRenderFrames_ = frames;
    renderHeld_ = true;
    data = renderScratch_.data();
    return AudioResult::Ok;
}

AudioResult PulseClientState::ReleaseRenderBuffer(std::uint32_t frames, std::uint32_t flags) {
    PulseLock lock(connection_->Mainloop());
    if (!renderHeld_) {
        return frames == 0 ? AudioResult::Ok : AudioResult::WrongState;
    }
    if (frames > heldRenderFrames_) {
        return AudioResult::InvalidArgument;
    }
    renderHeld_ = false;
    if (AudioResult usable = UsableLocked(); usable != AudioResult::Ok) {
        return usable;
    }
    if (frames == 0) {
        return AudioResult::Ok;
    }
    const std::size_t bytes = static_cast<std::size_t>(frames) * streamFormat_.format.blockAlign;
    if ((flags & kBufferFlagSilent) != 0) {
        std::fill_n(renderScratch_.begin(), bytes, 0);
    }
    if (pa_stream_write(stream_.get(), renderScratch_.data(), bytes, nullptr, 0, PA_SEEK_RELATIVE) <
        0) {
        connection_->Warn("pa_stream_write failed: " + connection_->ErrorTextLocked());
        return AudioResult::Failed;
    }
    return AudioResult::Ok;
}

void PulseClientState::OnWritable() {
    if (started_ && event_ != nullptr) {
        event_->Set();
    }
}

// ---- the stream's end and the session listeners

void PulseClientState::OnStreamState() {
    const pa_stream_state_t state = pa_stream_get_state(stream_.get());
    if ((state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) &&
        kind_ != Kind::Uninitialized && !invalid_) {
        // A recorded program stream ends whenever its program stops playing: no warning.
        if (monitoredStream_ == PA_INVALID_INDEX) {
            connection_->Warn(std::string(connectCall_) + ": the stream on " + sinkName_ +
                              " ended: " + connection_->ErrorTextLocked());
        }
        InvalidateLocked(DisconnectReason::DeviceRemoval);
    }
    connection_->Mainloop().Signal();
}

void PulseClientState::InvalidateLocked(DisconnectReason reason) {
    if (invalid_) {
        return;
    }
    invalid_ = true;
    periodTimer_.Cancel();
    std::vector<Listener> listeners;
    {
        std::lock_guard lock(listenersMutex_);
        listeners = listeners_;
    }
    if (listeners.empty()) {
        return;
    }
    connection_->Dispatcher().Post([weak = weak_from_this(), listeners, reason] {
        auto self = weak.lock();
        if (!self) {
            return;
        }
        for (const Listener& listener : listeners) {
            if (self->IsListener(listener)) {
                listener.second->OnSessionDisconnected(reason);
            }
        }
    });
}

bool PulseClientState::IsListener(const Listener& listener) {
    std::lock_guard lock(listenersMutex_);
    return std::find(listeners_.begin(), listeners_.end(), listener) != listeners_.end();
}

AudioResult PulseClientState::AddListener(const void* owner, AudioSessionEvents* listener) {
    if (listener == nullptr) {
        return AudioResult::InvalidArgument;
    }
    std::lock_guard lock(listenersMutex_);
    const Listener entry(owner, listener);
    if (std::find(listeners_.begin(), listeners_.end(), entry) == listeners_.end()) {
        listeners_.push_back(entry);
    }
    return AudioResult::Ok;
}

AudioResult PulseClientState::RemoveListener(const void* owner, AudioSessionEvents* listener) {
    {
        std::lock_guard lock(listenersMutex_);
        auto it = std::find(listeners_.begin(), listeners_.end(), Listener(owner, listener));
        if (it == listeners_.end()) {
            return AudioResult::NotFound;
        }
        listeners_.erase(it);
    }
    connection_->Dispatcher().WaitForRunningTask();
    return AudioResult::Ok;
}

void PulseClientState::RemoveListeners(const void* owner) {
    {
        std::lock_guard lock(listenersMutex_);
        std::erase_if(listeners_, [&](const Listener& entry) { return entry.first == owner; });
    }
    connection_->Dispatcher().WaitForRunningTask();
}

// ---- libpulse callbacks, on the loop thread

void PulseClientState::StreamStateCallback(pa_stream*, void* userdata) {
    static_cast<PulseClientState*>(userdata)->OnStreamState();
}

void PulseClientState::ReadCallback(pa_stream*, std::size_t, void* userdata) {
    static_cast<PulseClientState*>(userdata)->OnReadable();
}

void PulseClientState::WriteCallback(pa_stream*, std::size_t, void* userdata) {
    static_cast<PulseClientState*>(userdata)->OnWritable();
}

}  // namespace hushwell
