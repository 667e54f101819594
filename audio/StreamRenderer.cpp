#include "audio/StreamRenderer.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>

#include "audio/AudioBackend.h"
#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioSessionControl.h"
#include "audio/AudioThreadPriority.h"
#include "audio/CaptureClient.h"
#include "audio/MixFormat.h"
#include "audio/RenderClient.h"

namespace hushwell {

namespace {

constexpr std::uint32_t kRenderStreamFlags = kStreamFlagEventCallback | kStreamFlagNoPersist;
constexpr std::int64_t kEngineBufferDuration100ns =
    StreamRenderer::kEngineLatency.count() * kHundredNsPerMs;

// The renderer writes 16-bit integer or 32-bit float frames of block-align bytes.
bool RenderableFormat(const WaveFormat& format) {
    MixSampleType type;
    return MixSampleTypeOf(format, type) && format.channels != 0 &&
           format.blockAlign == format.channels * (format.bitsPerSample / 8);
}

// Two format records are the same when their first 18 + cbSize bytes are.
bool SameFormat(const WaveFormat& a, const WaveFormat& b) {
    if (a.cbSize != b.cbSize) {
        return false;
    }
    const std::size_t size = std::min(kWaveFormatBasicSize + a.cbSize, sizeof(WaveFormat));
    return std::memcmp(&a, &b, size) == 0;
}

}  // namespace

StreamRenderer::StreamRenderer(AudioBackend& backend, std::shared_ptr<AudioEndpoint> endpoint)
    : backend_(backend), endpoint_(std::move(endpoint)) {}

StreamRenderer::~StreamRenderer() {
    CloseStream();
}

// ---- player thread

bool StreamRenderer::OpenStream() {
    std::unique_ptr<AudioClient> client;
    if (!endpoint_ || !Succeeded(endpoint_->ActivateAudioClient(client))) {
        return false;
    }
    WaveFormat format;
    if (!Succeeded(client->GetMixFormat(format)) || !RenderableFormat(format)) {
        return false;
    }
    {
        std::lock_guard lock(clientMutex_);
        mixFormat_ = format;
        frameSize_ = format.blockAlign;
        audioClient_ = std::move(client);
    }
    if (!ConfigureEngine() || !RegisterSessionEvents()) {
        return false;
    }
    if (!Succeeded(backend_.RegisterEndpointNotificationCallback(this))) {
        return false;
    }
    endpointCallbackRegistered_ = true;
    std::lock_guard lock(positionMutex_);
    framesWritten_ = 0;
    return true;
}

bool StreamRenderer::BeginPlayback(std::unique_ptr<RenderBuffer> list) {
    if (!audioClient_ || !renderClient_ || renderThread_.joinable()) {
        return false;
    }
    {
        std::lock_guard lock(listMutex_);
        list_ = std::move(list);
    }
    {
        std::lock_guard lock(positionMutex_);
        framesWritten_ = 0;
    }
    // The stream starts before the thread, so that only the player touches the client until
    // the render thread exists; Start signals the first event, which the thread then finds.
    if (!PreRoll() || !Succeeded(audioClient_->Start())) {
        StopPlayback();
        return false;
    }
    SetRunning(true);
    try {
        renderThread_ = std::thread([this] { RenderThread(); });
    } catch (const std::system_error&) {
        SetRunning(false);
        StopPlayback();
        return false;
    }
    return true;
}

bool StreamRenderer::PreRoll() {
    std::lock_guard lock(listMutex_);
    if (!list_) {
        std::uint8_t* data = nullptr;
        return Succeeded(renderClient_->GetBuffer(engineBufferFrames_, data)) &&
               Succeeded(renderClient_->ReleaseBuffer(engineBufferFrames_, kBufferFlagSilent));
    }
    // The stream is filled before it starts, not just given its first buffer: with a single
    // period queued, a first event that comes late is heard as a hole at the start.
    return FitsEngineBuffer(*list_) &&
           Succeeded(WriteFittingBuffersLocked(static_cast<std::uint64_t>(engineBufferFrames_) *
                                               frameSize_));
}

bool StreamRenderer::FitsEngineBuffer(const RenderBuffer& buffer) const {
    return buffer.ByteLength() <= static_cast<std::uint64_t>(engineBufferFrames_) * frameSize_;
}

AudioResult StreamRenderer::WriteFittingBuffersLocked(std::uint64_t freeBytes) {
    while (list_ && list_->ByteLength() <= freeBytes) {
        if (AudioResult written = WriteBuffer(*list_); !Succeeded(written)) {
            return written;  // the buffer stays first in the list
        }
        freeBytes -= PopRenderBuffer(list_)->ByteLength();
    }
    return AudioResult::Ok;
}

AudioResult StreamRenderer::WriteBuffer(const RenderBuffer& buffer) {
    const std::uint32_t frames = buffer.ByteLength() / frameSize_;
    std::uint8_t* data = nullptr;
    if (AudioResult got = renderClient_->GetBuffer(frames, data); !Succeeded(got)) {
        return got;
    }
    std::memcpy(data, buffer.Bytes(), static_cast<std::size_t>(frames) * frameSize_);
    if (AudioResult released = renderClient_->ReleaseBuffer(frames, 0); !Succeeded(released)) {
        return released;
    }
    std::lock_guard lock(positionMutex_);
    framesWritten_ += frames;
    return AudioResult::Ok;
}

void StreamRenderer::WaitForRenderEnd() {
    if (renderThread_.joinable()) {
        renderThread_.join();
    }
}

bool StreamRenderer::WaitUntilPlayedOut(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    const std::vector<Event*> events{&shutdownEvent_, samplesReadyEvent_.get()};
    for (;;) {
        std::uint32_t padding = 0;
        {
            std::lock_guard lock(clientMutex_);
            if (!audioClient_ || !Succeeded(audioClient_->GetCurrentPadding(padding))) {
                return false;
            }
        }
        if (padding == 0) {
            return true;
        }
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            return false;
        }
        const auto woken = WaitForAny(events, left);
        if (woken && *woken == 0) {
            return false;
        }
    }
}

void StreamRenderer::StopPlayback() {
    {
        std::lock_guard lock(clientMutex_);
        if (audioClient_) {
            audioClient_->Stop();
        }
    }
    std::lock_guard lock(listMutex_);
    list_.reset();
}

void StreamRenderer::CloseStream() {
    if (renderThread_.joinable()) {
        shutdownEvent_.Set();
        renderThread_.join();
    }
    if (endpointCallbackRegistered_) {
        backend_.UnregisterEndpointNotificationCallback(this);
        endpointCallbackRegistered_ = false;
    }
    ReleaseStream();
    std::lock_guard lock(listMutex_);
    list_.reset();
}

WaveFormat StreamRenderer::MixFormat() const {
    std::lock_guard lock(clientMutex_);
    return mixFormat_;
}

std::uint32_t StreamRenderer::FrameSize() const {
    std::lock_guard lock(clientMutex_);
    return frameSize_;
}

std::uint32_t StreamRenderer::EngineBufferFrames() const {
    std::lock_guard lock(clientMutex_);
    return engineBufferFrames_;
}

std::int64_t StreamRenderer::DevicePeriod100ns() const {
    std::lock_guard lock(clientMutex_);
    std::int64_t period = 0;
    if (!audioClient_ || !Succeeded(audioClient_->GetDevicePeriod(period)) || period < 0) {
        return 0;
    }
    return period;
}

// ---- player and render threads: the stream

bool StreamRenderer::ConfigureEngine() {
    const WaveFormat format = MixFormat();
    std::uint32_t bufferFrames = 0;
    std::unique_ptr<RenderClient> render;
    if (!Succeeded(
            audioClient_->Initialize(kRenderStreamFlags, kEngineBufferDuration100ns, format)) ||
        !Succeeded(audioClient_->GetBufferSize(bufferFrames)) || bufferFrames == 0 ||
        !Succeeded(audioClient_->SetEventHandle(samplesReadyEvent_)) ||
        !Succeeded(audioClient_->GetRenderClient(render))) {
        return false;
    }
    std::lock_guard lock(clientMutex_);
    engineBufferFrames_ = bufferFrames;
    renderClient_ = std::move(render);
    return true;
}

bool StreamRenderer::RegisterSessionEvents() {
    std::unique_ptr<AudioSessionControl> session;
    if (!Succeeded(audioClient_->GetSessionControl(session)) ||
        !Succeeded(session->RegisterAudioSessionNotification(this))) {
        return false;
    }
    std::lock_guard lock(clientMutex_);
    sessionControl_ = std::move(session);
    return true;
}

void StreamRenderer::ReleaseStream() {
    std::unique_ptr<AudioSessionControl> session;
    std::unique_ptr<RenderClient> render;
    std::unique_ptr<AudioClient> client;
    std::shared_ptr<AudioEndpoint> endpoint;
    {
        std::lock_guard lock(clientMutex_);
        session = std::move(sessionControl_);
        render = std::move(renderClient_);
        client = std::move(audioClient_);
        endpoint = std::move(endpoint_);
    }
    // Unregistering waits for a callback in progress, so it runs outside the client lock.
    if (session) {
        session->UnregisterAudioSessionNotification(this);
    }
}

// ---- any thread

std::uint32_t StreamRenderer::FramesWritten() const {
    std::lock_guard lock(positionMutex_);
    return framesWritten_;
}

std::uint32_t StreamRenderer::FramesPlayed() const {
    std::uint32_t padding = 0;
    {
        std::lock_guard lock(clientMutex_);
        if (!audioClient_ || !Succeeded(audioClient_->GetCurrentPadding(padding))) {
            padding = 0;
        }
    }
    const std::uint32_t written = FramesWritten();
    return written - std::min(written, padding);
}

bool StreamRenderer::IsRunning() const {
    std::lock_guard lock(runningMutex_);
    return running_;
}

StreamRenderer::EndReason StreamRenderer::RenderEndReason() const {
    return endReason_.load();
}

void StreamRenderer::RequestShutdown() {
    shutdownEvent_.Set();
}

bool StreamRenderer::IsSwitching() const {
    return inSwitch_.load();
}

std::string StreamRenderer::EndpointId() const {
    std::lock_guard lock(clientMutex_);
    return endpoint_ ? endpoint_->GetId() : std::string();
}

// ---- notification thread

void StreamRenderer::OnSessionDisconnected(DisconnectReason reason) {
    if (reason == DisconnectReason::DeviceRemoval) {
        SignalSwitch();
    } else if (reason == DisconnectReason::FormatChanged) {
        // The device stays the default: nothing else will tell the switch that it may go on.
        SignalSwitch();
        switchCompleteEvent_.Set();
    }
}

void StreamRenderer::OnDefaultDeviceChanged(DataFlow flow, Role role,
                                            const std::string& /*deviceId*/) {
    if (flow != DataFlow::Render || role != kFollowedRole) {
        return;
    }
    // A removal already asked for a switch; the new default only lets that switch go on.
    if (!inSwitch_.load()) {
        SignalSwitch();
    }
    switchCompleteEvent_.Set();
}

void StreamRenderer::SignalSwitch() {
    // Counted first, so that a switch ending meanwhile sees it and keeps the flag set.
    switchRequests_.fetch_add(1);
    inSwitch_.store(true);
    switchEvent_.Set();
}

// ---- render thread

void StreamRenderer::RenderThread() {
    AudioThreadPriority priority;
    const std::vector<Event*> events{&shutdownEvent_, &switchEvent_, samplesReadyEvent_.get()};
    for (;;) {
        const auto woken = WaitForAny(events, kWaitForever);
        if (!woken) {
            continue;
        }
        if (*woken == 0) {
            endReason_.store(EndReason::Shutdown);
            return;
        }
        if (*woken == 1) {
            if (!SwitchToDefaultEndpoint()) {
                endReason_.store(EndReason::SwitchFailed);
                return;
            }
            continue;
        }
        if (!WriteWhatFits()) {
            return;
        }
    }
}

bool StreamRenderer::WriteWhatFits() {
    std::uint32_t padding = 0;
    if (!Succeeded(audioClient_->GetCurrentPadding(padding))) {
        return true;  // a stream whose device went away waits for the switch that follows
    }
    const std::uint64_t freeBytes =
        static_cast<std::uint64_t>(engineBufferFrames_ - std::min(padding, engineBufferFrames_)) *
        frameSize_;
    std::lock_guard lock(listMutex_);
    if (!list_) {
        SetRunning(false);
        endReason_.store(EndReason::Exhausted);
        return false;
    }
    // A buffer larger than the stream's whole buffer would wait for room forever.
    if (!FitsEngineBuffer(*list_)) {
        endReason_.store(EndReason::StreamFailed);
        return false;
    }
    // Every whole buffer that fits: one buffer per event would leave the stream a single
    // period ahead, and one late wake-up would then be heard as a gap.
    const AudioResult written = WriteFittingBuffersLocked(freeBytes);
    if (!Succeeded(written) && written != AudioResult::DeviceInvalidated) {
        endReason_.store(EndReason::StreamFailed);
        return false;
    }
    // A stream whose device went away keeps its buffers for the output switched to.
    return true;
}

bool StreamRenderer::SwitchToDefaultEndpoint() {
    if (!inSwitch_.load()) {
        return true;  // an extra signal for a switch that has already been made
    }
    const std::uint64_t requestsSeen = switchRequests_.load();
    if (!Succeeded(audioClient_->Stop())) {
        return FailSwitch();
    }
    ReleaseStream();
    // The first switch never waits (the event starts set). Later ones give the server a moment
    // to name the new default; if it names none in time, the current default is taken as it is.
    switchCompleteEvent_.Wait(kSwitchCompleteTimeout);
    for (int attempt = 1; !OpenDefaultEndpoint(); ++attempt) {
        if (attempt == kSwitchAttempts || !switchCompleteEvent_.Wait(kSwitchCompleteTimeout)) {
            return FailSwitch();
        }
    }
    switchCompleteEvent_.Reset();
    if (!Succeeded(audioClient_->Start())) {
        return FailSwitch();
    }
    inSwitch_.store(false);
    // A removal or format change reported while this switch ran still needs its own switch.
    if (switchRequests_.load() != requestsSeen) {
        inSwitch_.store(true);
    }
    return true;
}

bool StreamRenderer::OpenDefaultEndpoint() {
    // Cleared first, so that a default named while this attempt runs is noticed.
    switchCompleteEvent_.Reset();
    std::shared_ptr<AudioEndpoint> endpoint;
    std::unique_ptr<AudioClient> client;
    WaveFormat format;
    // The buffers were converted for the mix format: an output with another one cannot play
    // them.
    if (!Succeeded(backend_.GetDefaultAudioEndpoint(endpoint)) || !endpoint ||
        !Succeeded(endpoint->ActivateAudioClient(client)) ||
        !Succeeded(client->GetMixFormat(format)) || !SameFormat(format, MixFormat())) {
        return false;
    }
    {
        std::lock_guard lock(clientMutex_);
        endpoint_ = std::move(endpoint);
        audioClient_ = std::move(client);
    }
    if (!ConfigureEngine() || !RegisterSessionEvents()) {
        ReleaseStream();
        return false;
    }
    return true;
}

bool StreamRenderer::FailSwitch() {
    inSwitch_.store(false);
    return false;
}

void StreamRenderer::SetRunning(bool running) {
    std::lock_guard lock(runningMutex_);
    running_ = running;
}

}  // namespace hushwell
