#include "audio/simulated/SimulatedCore.h"

#include <algorithm>
#include <cmath>

#include "audio/AudioClient.h"
#include "audio/CaptureClient.h"
#include "audio/MixFormat.h"
#include "base/Clock.h"
#include "base/Event.h"

namespace hushwell {

namespace {

// One device period: a packet of a capture, the pace of render events.
constexpr std::uint64_t kPeriodMs = 10;
// The buffer a client gets when Initialize asks for none.
constexpr std::uint64_t kDefaultBufferMs = 100;
// A render stream holds at least this many periods.
constexpr std::uint64_t kMinRenderPeriods = 2;
// How often the real-time pump runs, and how often the capture pacer looks at the clock.
constexpr std::chrono::milliseconds kRealTimePumpInterval{5};
constexpr std::chrono::milliseconds kCapturePacerInterval{5};

std::uint64_t FramesIn(std::uint64_t ms, std::uint32_t rate) {
    return ms * rate / 1000;
}

std::uint64_t PeriodFrames(const WaveFormat& format) {
    return std::max<std::uint64_t>(1, FramesIn(kPeriodMs, format.sampleRate));
}

}  // namespace

SimulatedCore::SimulatedCore(const Clock& clock) : clock_(clock) {}

SimulatedCore::~SimulatedCore() {
    StopRealTimePump();
    StopCapturePacer();
}

// ---- devices and notifications

SimulatedCore::Device* SimulatedCore::FindLocked(const std::string& id) {
    auto it = devices_.find(id);
    return it == devices_.end() ? nullptr : &it->second;
}

const SimulatedCore::Device* SimulatedCore::FindLocked(const std::string& id) const {
    auto it = devices_.find(id);
    return it == devices_.end() ? nullptr : &it->second;
}

SimulatedCore::Device* SimulatedCore::DeviceOfLocked(const SimulatedStream& stream) {
    Device* device = FindLocked(stream.deviceId);
    if (device == nullptr || device->instance != stream.deviceInstance ||
        device->formatVersion != stream.formatVersion) {
        return nullptr;
    }
    return device;
}

AudioResult SimulatedCore::ValidLocked(const SimulatedStream& stream) {
    return DeviceOfLocked(stream) != nullptr ? AudioResult::Ok : AudioResult::DeviceInvalidated;
}

void SimulatedCore::ChangedLocked() {
    ++changes_;
    changed_.notify_all();
}

AudioResult SimulatedCore::DefaultDevice(std::string& id, std::uint64_t& instance) {
    std::lock_guard lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    const Device* device = FindLocked(defaultId_);
    if (device == nullptr) {
        return AudioResult::NotFound;
    }
    id = defaultId_;
    instance = device->instance;
    return AudioResult::Ok;
}

AudioResult SimulatedCore::FindDevice(const std::string& id, std::uint64_t& instance) {
    std::lock_guard lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    const Device* device = FindLocked(id);
    if (device == nullptr) {
        return AudioResult::NotFound;
    }
    instance = device->instance;
    return AudioResult::Ok;
}

AudioResult SimulatedCore::DeviceIds(std::vector<std::string>& ids) {
    std::lock_guard lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    ids = deviceOrder_;
    return AudioResult::Ok;
}

AudioResult SimulatedCore::AddEndpointClient(EndpointNotificationClient* client) {
    return endpointClients_.Add(client);
}

AudioResult SimulatedCore::RemoveEndpointClient(EndpointNotificationClient* client) {
    return endpointClients_.Remove(client);
}

bool SimulatedCore::ServerAvailable() const {
    std::lock_guard lock(mutex_);
    return serverAvailable_;
}

bool SimulatedCore::AddDevice(const std::string& id, const WaveFormat& format) {
    bool becameDefault = false;
    {
        std::lock_guard lock(mutex_);
        if (FindLocked(id) != nullptr || !IsSupportedMixFormat(format)) {
            return false;
        }
        Device& device = devices_[id];
        device.format = format;
        device.instance = nextInstance_++;
        deviceOrder_.push_back(id);
        if (defaultId_.empty()) {
            defaultId_ = id;
            becameDefault = true;
        }
        ChangedLocked();
    }
    if (becameDefault) {
        PostDefaultChanged(DataFlow::Render, Role::Console, id);
    }
    return true;
}

bool SimulatedCore::SetDefaultDevice(const std::string& id) {
    {
        std::lock_guard lock(mutex_);
        if (FindLocked(id) == nullptr) {
            return false;
        }
        defaultId_ = id;
        ChangedLocked();
    }
    PostDefaultChanged(DataFlow::Render, Role::Console, id);
    return true;
}

bool SimulatedCore::RemoveDevice(const std::string& id) {
    bool defaultChanged = false;
    std::string newDefault;
    {
        std::lock_guard lock(mutex_);
        Device* device = FindLocked(id);
        if (device == nullptr) {
            return false;
        }
        PostSessionsDisconnectedLocked(*device, DisconnectReason::DeviceRemoval);
        devices_.erase(id);
        deviceOrder_.erase(std::find(deviceOrder_.begin(), deviceOrder_.end(), id));
        if (defaultId_ == id) {
            defaultId_ = deviceOrder_.empty() ? std::string() : deviceOrder_.front();
            newDefault = defaultId_;
            defaultChanged = true;
        }
        ChangedLocked();
    }
    if (defaultChanged) {
        PostDefaultChanged(DataFlow::Render, Role::Console, newDefault);
    }
    return true;
}

bool SimulatedCore::ChangeDeviceFormat(const std::string& id, const WaveFormat& format) {
    std::lock_guard lock(mutex_);
    Device* device = FindLocked(id);
    if (device == nullptr || !IsSupportedMixFormat(format)) {
        return false;
    }
    PostSessionsDisconnectedLocked(*device, DisconnectReason::FormatChanged);
    device->format = format;
    ++device->formatVersion;
    ChangedLocked();
    return true;
}

std::string SimulatedCore::DefaultDeviceId() const {
    std::lock_guard lock(mutex_);
    return defaultId_;
}

void SimulatedCore::NotifyDefaultDeviceChanged(DataFlow flow, Role role, const std::string& id) {
    PostDefaultChanged(flow, role, id);
}

bool SimulatedCore::DisconnectSessions(const std::string& id, DisconnectReason reason) {
    std::lock_guard lock(mutex_);
    Device* device = FindLocked(id);
    if (device == nullptr) {
        return false;
    }
    PostSessionsDisconnectedLocked(*device, reason);
    return true;
}

void SimulatedCore::PostDefaultChanged(DataFlow flow, Role role, const std::string& id) {
    endpointClients_.PostDefaultChanged(flow, role, id);
}

bool SimulatedCore::IsSessionListener(
    const SimulatedStream& stream, const std::pair<const void*, AudioSessionEvents*>& entry) const {
    std::lock_guard lock(mutex_);
    return std::find(stream.listeners.begin(), stream.listeners.end(), entry) !=
           stream.listeners.end();
}

std::vector<std::shared_ptr<SimulatedStream>> SimulatedCore::LiveStreamsLocked(Device& device) {
    std::vector<std::shared_ptr<SimulatedStream>> live;
    std::erase_if(device.streams, [&](const std::weak_ptr<SimulatedStream>& weak) {
        auto stream = weak.lock();
        if (!stream) {
            return true;  // its client and services are gone
        }
        live.push_back(std::move(stream));
        return false;
    });
    return live;
}

void SimulatedCore::PostSessionsDisconnectedLocked(Device& device, DisconnectReason reason) {
    for (const auto& stream : LiveStreamsLocked(device)) {
        if (DeviceOfLocked(*stream) != &device || stream->listeners.empty()) {
            continue;  // an older stream that an earlier change already disconnected
        }
        dispatcher_.Post([weak = weak_from_this(), weakStream = std::weak_ptr(stream),
                          listeners = stream->listeners, reason] {
            auto self = weak.lock();
            auto target = weakStream.lock();
            if (!self || !target) {
                return;
            }
            for (const auto& entry : listeners) {
                if (self->IsSessionListener(*target, entry)) {
                    entry.second->OnSessionDisconnected(reason);
                }
            }
        });
    }
}

// ---- audio clients

AudioResult SimulatedCore::CreateStream(const std::string& id, std::uint64_t instance,
                                        std::shared_ptr<SimulatedStream>& stream) {
    std::lock_guard lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    Device* device = FindLocked(id);
    if (device == nullptr || device->instance != instance) {
        return AudioResult::NotFound;
    }
    stream = std::make_shared<SimulatedStream>();
    stream->deviceId = id;
    stream->deviceInstance = instance;
    stream->formatVersion = device->formatVersion;
    stream->format = device->format;
    device->streams.push_back(stream);
    return AudioResult::Ok;
}

AudioResult SimulatedCore::MixFormat(const SimulatedStream& stream, WaveFormat& format) {
    std::lock_guard lock(mutex_);
    if (AudioResult valid = ValidLocked(stream); valid != AudioResult::Ok) {
        return valid;
    }
    format = stream.format;
    return AudioResult::Ok;
}

AudioResult SimulatedCore::Initialize(SimulatedStream& stream, std::uint32_t flags,
                                      std::int64_t bufferDuration100ns, const WaveFormat& format) {
    std::lock_guard lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    if (AudioResult valid = ValidLocked(stream); valid != AudioResult::Ok) {
        return valid;
    }
    if (stream.kind != SimulatedStream::Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    if (bufferDuration100ns < 0 || !(format == stream.format)) {
        return AudioResult::InvalidArgument;
    }
    const std::uint64_t bufferMs =
        bufferDuration100ns == 0
            ? kDefaultBufferMs
            : static_cast<std::uint64_t>(bufferDuration100ns + kHundredNsPerMs - 1) /
                  kHundredNsPerMs;
    std::uint64_t bufferFrames = FramesIn(bufferMs, format.sampleRate);
    if ((flags & kStreamFlagLoopback) != 0) {
        stream.kind = SimulatedStream::Kind::Capture;
        const std::uint64_t capacity =
            std::max(bufferFrames, FramesIn(kMinCaptureBacklogMs, format.sampleRate));
        stream.packets = std::make_unique<CapturePacketQueue>(format.blockAlign,
                                                              static_cast<std::uint32_t>(capacity));
    } else if ((flags & kStreamFlagEventCallback) != 0) {
        stream.kind = SimulatedStream::Kind::Render;
        bufferFrames = std::max(bufferFrames, kMinRenderPeriods * PeriodFrames(format));
    } else {
        stream.kind = SimulatedStream::Kind::SessionOnly;
    }
    stream.bufferFrames = static_cast<std::uint32_t>(bufferFrames);
    return AudioResult::Ok;
}

AudioResult SimulatedCore::CheckKind(const SimulatedStream& stream, SimulatedStream::Kind kind) {
    std::lock_guard lock(mutex_);
    if (stream.kind == SimulatedStream::Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    if (stream.kind != kind) {
        return AudioResult::Unsupported;
    }
    return ValidLocked(stream);
}

AudioResult SimulatedCore::BufferSize(const SimulatedStream& stream, std::uint32_t& frames) {
    std::lock_guard lock(mutex_);
    if (stream.kind == SimulatedStream::Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    frames = stream.bufferFrames;
    return ValidLocked(stream);
}

AudioResult SimulatedCore::SetEvent(SimulatedStream& stream, std::shared_ptr<Event> event) {
    std::lock_guard lock(mutex_);
    if (event == nullptr) {
        return AudioResult::InvalidArgument;
    }
    if (stream.kind == SimulatedStream::Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    stream.event = std::move(event);
    return ValidLocked(stream);
}

AudioResult SimulatedCore::Padding(SimulatedStream& stream, std::uint32_t& frames) {
    std::lock_guard lock(mutex_);
    frames = 0;
    if (stream.kind == SimulatedStream::Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    if (AudioResult valid = ValidLocked(stream); valid != AudioResult::Ok) {
        return valid;
    }
    const std::uint64_t now = clock_.TickMs();
    if (stream.kind == SimulatedStream::Kind::Capture) {
        CatchUpCaptureLocked(stream, now);
        frames = static_cast<std::uint32_t>(stream.packets->QueuedFrames());
    } else if (stream.kind == SimulatedStream::Kind::Render) {
        UpdateRenderLocked(stream, now);
        frames = static_cast<std::uint32_t>(stream.framesWritten - stream.framesPlayed);
    }
    return AudioResult::Ok;
}

AudioResult SimulatedCore::Start(SimulatedStream& stream) {
    std::lock_guard lock(mutex_);
    if (stream.kind == SimulatedStream::Kind::Uninitialized ||
        stream.kind == SimulatedStream::Kind::SessionOnly) {
        return AudioResult::WrongState;
    }
    if (AudioResult valid = ValidLocked(stream); valid != AudioResult::Ok) {
        return valid;
    }
    if (stream.kind == SimulatedStream::Kind::Render && stream.event == nullptr) {
        return AudioResult::WrongState;
    }
    if (stream.started) {
        return AudioResult::Ok;
    }
    stream.started = true;
    stream.runStartTick = clock_.TickMs();
    if (stream.kind == SimulatedStream::Kind::Render) {
        stream.framesAtSignal = stream.framesBeforeRun;
        stream.event->Set();
    } else if (stream.event != nullptr) {
        StartCapturePacerLocked();
    }
    return AudioResult::Ok;
}

AudioResult SimulatedCore::Stop(SimulatedStream& stream) {
    std::lock_guard lock(mutex_);
    if (stream.kind == SimulatedStream::Kind::Uninitialized) {
        return AudioResult::WrongState;
    }
    if (!stream.started) {
        return AudioResult::Ok;
    }
    const std::uint64_t now = clock_.TickMs();
    if (stream.kind == SimulatedStream::Kind::Capture) {
        CatchUpCaptureLocked(stream, now);
    } else {
        UpdateRenderLocked(stream, now);
    }
    stream.framesBeforeRun = FramesDueLocked(stream, now);
    stream.started = false;
    return AudioResult::Ok;
}

std::uint64_t SimulatedCore::FramesDueLocked(const SimulatedStream& stream,
                                             std::uint64_t now) const {
    if (!stream.started || now < stream.runStartTick) {
        return stream.framesBeforeRun;
    }
    return stream.framesBeforeRun + FramesIn(now - stream.runStartTick, stream.format.sampleRate);
}

bool SimulatedCore::CatchUpCaptureLocked(SimulatedStream& stream, std::uint64_t now) {
    if (!stream.started || ValidLocked(stream) != AudioResult::Ok) {
        return false;
    }
    const std::uint64_t packetFrames = PeriodFrames(stream.format);
    const std::size_t packetBytes = packetFrames * stream.format.blockAlign;
    const std::uint64_t due = FramesDueLocked(stream, now);
    // Whole packets beyond what the queue can hold would be dropped at once: skip them, with
    // the audio that played in them.
    const std::uint64_t capacityFrames = std::max<std::uint64_t>(
        stream.bufferFrames, FramesIn(kMinCaptureBacklogMs, stream.format.sampleRate));
    if (due - stream.framesDone > capacityFrames + packetFrames) {
        const std::uint64_t skipped =
            (due - stream.framesDone - capacityFrames) / packetFrames * packetFrames;
        const std::size_t skippedBytes = static_cast<std::size_t>(std::min<std::uint64_t>(
            skipped * stream.format.blockAlign, stream.pendingInput.size()));
        stream.pendingInput.erase(
            stream.pendingInput.begin(),
            stream.pendingInput.begin() + static_cast<std::ptrdiff_t>(skippedBytes));
        stream.framesDone += skipped;
        stream.packets->Clear();
        stream.packets->MarkGap();
    }
    if (due - stream.framesDone < packetFrames) {
        return false;
    }
    std::vector<std::uint8_t> packet(packetBytes);
    while (due - stream.framesDone >= packetFrames) {
        stream.framesDone += packetFrames;
        if (stream.pendingInput.empty()) {
            stream.packets->Push(nullptr, static_cast<std::uint32_t>(packetFrames), true);
            continue;
        }
        const std::size_t taken = std::min(packetBytes, stream.pendingInput.size());
        std::copy_n(stream.pendingInput.begin(), taken, packet.begin());
        std::fill(packet.begin() + static_cast<std::ptrdiff_t>(taken), packet.end(), 0);
        stream.pendingInput.erase(stream.pendingInput.begin(),
                                  stream.pendingInput.begin() + static_cast<std::ptrdiff_t>(taken));
        stream.packets->Push(packet.data(), static_cast<std::uint32_t>(packetFrames), false);
    }
    return true;
}

void SimulatedCore::SignalCaptureLocked(SimulatedStream& stream, std::uint64_t now) {
    if (CatchUpCaptureLocked(stream, now) && stream.event != nullptr) {
        stream.event->Set();
    }
}

void SimulatedCore::UpdateRenderLocked(SimulatedStream& stream, std::uint64_t now) {
    const std::uint64_t due = FramesDueLocked(stream, now);
    const std::uint64_t elapsed = due - stream.framesDone;
    stream.framesDone = due;
    stream.framesPlayed += std::min(elapsed, stream.framesWritten - stream.framesPlayed);
}

AudioResult SimulatedCore::CaptureQueue(SimulatedStream& stream, CapturePacketQueue*& queue) {
    std::lock_guard lock(mutex_);
    queue = nullptr;
    if (AudioResult valid = ValidLocked(stream); valid != AudioResult::Ok) {
        return valid;
    }
    CatchUpCaptureLocked(stream, clock_.TickMs());
    queue = stream.packets.get();
    return AudioResult::Ok;
}

AudioResult SimulatedCore::RenderGetBuffer(SimulatedStream& stream, std::uint32_t frames,
                                           std::uint8_t*& data) {
    std::lock_guard lock(mutex_);
    data = nullptr;
    if (AudioResult valid = ValidLocked(stream); valid != AudioResult::Ok) {
        return valid;
    }
    if (stream.renderHeld) {
        return AudioResult::WrongState;
    }
    UpdateRenderLocked(stream, clock_.TickMs());
    const std::uint64_t padding = stream.framesWritten - stream.framesPlayed;
    if (frames > stream.bufferFrames - std::min<std::uint64_t>(padding, stream.bufferFrames)) {
        return AudioResult::InvalidArgument;
    }
    stream.renderScratch.assign(static_cast<std::size_t>(frames) * stream.format.blockAlign, 0);
    stream.heldRenderFrames = frames;
    stream.renderHeld = true;
    data = stream.renderScratch.data();
    return AudioResult::Ok;
}

AudioResult SimulatedCore::RenderReleaseBuffer(SimulatedStream& stream, std::uint32_t frames,
                                               std::uint32_t flags) {
    std::lock_guard lock(mutex_);
    if (!stream.renderHeld) {
        return frames == 0 ? AudioResult::Ok : AudioResult::WrongState;
    }
    if (frames > stream.heldRenderFrames) {
        return AudioResult::InvalidArgument;
    }
    stream.renderHeld = false;
    Device* device = DeviceOfLocked(stream);
    if (device == nullptr) {
        return AudioResult::DeviceInvalidated;
    }
    const std::size_t size = static_cast<std::size_t>(frames) * stream.format.blockAlign;
    if ((flags & kBufferFlagSilent) != 0) {
        std::fill_n(stream.renderScratch.begin(), size, 0);
    }
    stream.framesWritten += frames;
    device->rendered.insert(device->rendered.end(), stream.renderScratch.begin(),
                            stream.renderScratch.begin() + static_cast<std::ptrdiff_t>(size));
    PlayLocked(*device, stream.renderScratch.data(), size);
    ChangedLocked();
    return AudioResult::Ok;
}

// ---- session controls

AudioResult SimulatedCore::AddSessionListener(SimulatedStream& stream, const void* owner,
                                              AudioSessionEvents* listener) {
    if (listener == nullptr) {
        return AudioResult::InvalidArgument;
    }
    std::lock_guard lock(mutex_);
    auto& listeners = stream.listeners;
    if (std::find(listeners.begin(), listeners.end(), std::pair(owner, listener)) ==
        listeners.end()) {
        listeners.emplace_back(owner, listener);
    }
    return AudioResult::Ok;
}

AudioResult SimulatedCore::RemoveSessionListener(SimulatedStream& stream, const void* owner,
                                                 AudioSessionEvents* listener) {
    {
        std::lock_guard lock(mutex_);
        auto& listeners = stream.listeners;
        auto it = std::find(listeners.begin(), listeners.end(), std::pair(owner, listener));
        if (it == listeners.end()) {
            return AudioResult::NotFound;
        }
        listeners.erase(it);
    }
    dispatcher_.WaitForRunningTask();
    return AudioResult::Ok;
}

void SimulatedCore::RemoveSessionListeners(SimulatedStream& stream, const void* owner) {
    {
        std::lock_guard lock(mutex_);
        std::erase_if(stream.listeners, [&](const auto& entry) { return entry.first == owner; });
    }
    dispatcher_.WaitForRunningTask();
}

// ---- endpoint volumes

AudioResult SimulatedCore::CheckDevice(const std::string& id, std::uint64_t instance) {
    std::lock_guard lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    const Device* device = FindLocked(id);
    return device != nullptr && device->instance == instance ? AudioResult::Ok
                                                             : AudioResult::NotFound;
}

void SimulatedCore::SetMuteCallObserver(MuteCallObserver observer) {
    std::lock_guard lock(observerMutex_);
    muteCallObserver_ = std::move(observer);
}

AudioResult SimulatedCore::SetMute(const std::string& id, std::uint64_t instance, bool mute) {
    {
        std::lock_guard observing(observerMutex_);
        if (muteCallObserver_) {
            muteCallObserver_(id, mute);
        }
    }
    std::lock_guard lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    Device* device = FindLocked(id);
    if (device == nullptr || device->instance != instance) {
        return AudioResult::NotFound;
    }
    device->muted = mute;
    ++device->muteCalls;
    ChangedLocked();
    return AudioResult::Ok;
}

AudioResult SimulatedCore::GetVolume(const std::string& id, std::uint64_t instance, float& level) {
    std::lock_guard lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    const Device* device = FindLocked(id);
    if (device == nullptr || device->instance != instance) {
        return AudioResult::NotFound;
    }
    level = device->volume;
    return AudioResult::Ok;
}

AudioResult SimulatedCore::SetVolume(const std::string& id, std::uint64_t instance, float level) {
    if (!(level >= 0.0f && level <= 1.0f)) {
        return AudioResult::InvalidArgument;
    }
    std::lock_guard lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    Device* device = FindLocked(id);
    if (device == nullptr || device->instance != instance) {
        return AudioResult::NotFound;
    }
    if (volumeSetsFail_) {
        return AudioResult::Failed;
    }
    device->volume = level;
    ++device->volumeSetCalls;
    ChangedLocked();
    return AudioResult::Ok;
}

// ---- test controls and observations

void SimulatedCore::PlayLocked(Device& device, const std::uint8_t* bytes, std::size_t size) {
    const std::uint64_t now = clock_.TickMs();
    for (const auto& stream : LiveStreamsLocked(device)) {
        if (stream->kind != SimulatedStream::Kind::Capture || !stream->started ||
            DeviceOfLocked(*stream) != &device) {
            continue;
        }
        SignalCaptureLocked(*stream, now);
        stream->pendingInput.insert(stream->pendingInput.end(), bytes, bytes + size);
    }
}

bool SimulatedCore::Play(const std::string& id, const std::vector<std::uint8_t>& bytes) {
    std::lock_guard lock(mutex_);
    Device* device = FindLocked(id);
    if (device == nullptr) {
        return false;
    }
    const std::size_t whole = bytes.size() / device->format.blockAlign * device->format.blockAlign;
    PlayLocked(*device, bytes.data(), whole);
    return true;
}

std::vector<std::uint8_t> SimulatedCore::TakeRenderedBytes(const std::string& id) {
    std::lock_guard lock(mutex_);
    Device* device = FindLocked(id);
    if (device == nullptr) {
        return {};
    }
    return std::exchange(device->rendered, {});
}

bool SimulatedCore::IsMuted(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const Device* device = FindLocked(id);
    return device != nullptr && device->muted;
}

float SimulatedCore::Volume(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const Device* device = FindLocked(id);
    return device != nullptr ? device->volume : 0.0f;
}

int SimulatedCore::MuteCalls(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const Device* device = FindLocked(id);
    return device != nullptr ? device->muteCalls : 0;
}

int SimulatedCore::VolumeSetCalls(const std::string& id) const {
    std::lock_guard lock(mutex_);
    const Device* device = FindLocked(id);
    return device != nullptr ? device->volumeSetCalls : 0;
}

bool SimulatedCore::SetDeviceVolume(const std::string& id, float level) {
    if (!(level >= 0.0f && level <= 1.0f)) {
        return false;
    }
    std::lock_guard lock(mutex_);
    Device* device = FindLocked(id);
    if (device == nullptr) {
        return false;
    }
    device->volume = level;
    ChangedLocked();
    return true;
}

bool SimulatedCore::SetDeviceMute(const std::string& id, bool mute) {
    std::lock_guard lock(mutex_);
    Device* device = FindLocked(id);
    if (device == nullptr) {
        return false;
    }
    device->muted = mute;
    ChangedLocked();
    return true;
}

void SimulatedCore::SetServerAvailable(bool available) {
    std::lock_guard lock(mutex_);
    serverAvailable_ = available;
    ChangedLocked();
}

void SimulatedCore::SetVolumeSetsFail(bool fail) {
    std::lock_guard lock(mutex_);
    volumeSetsFail_ = fail;
}

void SimulatedCore::Pump() {
    std::lock_guard lock(mutex_);
    const std::uint64_t now = clock_.TickMs();
    for (auto& [id, device] : devices_) {
        for (const auto& stream : LiveStreamsLocked(device)) {
            if (!stream->started || DeviceOfLocked(*stream) != &device) {
                continue;
            }
            if (stream->kind == SimulatedStream::Kind::Capture) {
                SignalCaptureLocked(*stream, now);
                continue;
            }
            UpdateRenderLocked(*stream, now);
            const std::uint64_t due = FramesDueLocked(*stream, now);
            if (due - stream->framesAtSignal >= PeriodFrames(stream->format)) {
                stream->framesAtSignal = due;
                stream->event->Set();
            }
        }
    }
}

void SimulatedCore::StartRealTimePump() {
    std::lock_guard lock(mutex_);
    if (pumpThread_.joinable()) {
        return;
    }
    pumpThread_ = std::thread([this] {
        while (!pumpQuit_) {
            Pump();
            std::this_thread::sleep_for(kRealTimePumpInterval);
        }
    });
}

void SimulatedCore::StartCapturePacerLocked() {
    if (pacerThread_.joinable()) {
        return;
    }
    pacerThread_ = std::thread([this] {
        std::unique_lock lock(mutex_);
        while (!pacerQuit_) {
            PaceCapturesLocked();
            pacerWake_.wait_for(lock, kCapturePacerInterval);
        }
    });
}

void SimulatedCore::PaceCapturesLocked() {
    const std::uint64_t now = clock_.TickMs();
    for (auto& [id, device] : devices_) {
        for (const auto& stream : LiveStreamsLocked(device)) {
            if (stream->kind == SimulatedStream::Kind::Capture && stream->started &&
                DeviceOfLocked(*stream) == &device) {
                SignalCaptureLocked(*stream, now);
            }
        }
    }
}

void SimulatedCore::StopCapturePacer() {
    {
        std::lock_guard lock(mutex_);
        pacerQuit_ = true;
    }
    pacerWake_.notify_all();
    if (pacerThread_.joinable()) {
        pacerThread_.join();
    }
}

void SimulatedCore::StopRealTimePump() {
    pumpQuit_ = true;
    if (pumpThread_.joinable()) {
        pumpThread_.join();
    }
}

bool SimulatedCore::WaitUntil(const std::function<bool()>& condition,
                              std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        const std::uint64_t seen = changes_;
        lock.unlock();
        if (condition()) {
            return true;
        }
        lock.lock();
        if (!changed_.wait_until(lock, deadline, [&] { return changes_ != seen; })) {
            lock.unlock();
            return condition();
        }
    }
}

bool SimulatedCore::WaitForNotifications(std::chrono::milliseconds timeout) {
    return dispatcher_.WaitUntilIdle(timeout);
}

}  // namespace hushwell
