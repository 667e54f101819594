#include "audio/StreamRenderer.h"

#include <algorithm>
#include <cstring>
#include <system_error>
#include <vector>

#include "audio/AudioBackend.h"
#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
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
    : follower_(backend, std::move(endpoint), *this) {}

StreamRenderer::~StreamRenderer() {
    CloseStream();
}

// ---- player thread

bool StreamRenderer::OpenStream() {
    if (!follower_.OpenClient(
            [this](const WaveFormat& format) { return AcceptOpenFormat(format); }) ||
        !ConfigureStream(*follower_.Client()) || !follower_.Follow()) {
        return false;
    }
    std::lock_guard lock(positionMutex_);
    framesWritten_ = 0;
    return true;
}

bool StreamRenderer::AcceptOpenFormat(const WaveFormat& format) {
    if (!RenderableFormat(format)) {
        return false;
    }
    std::lock_guard lock(streamMutex_);
    mixFormat_ = format;
    frameSize_ = format.blockAlign;
    return true;
}

bool StreamRenderer::BeginPlayback(std::unique_ptr<RenderBuffer> list) {
    AudioClient* client = follower_.Client();
    if (client == nullptr || !renderClient_ || renderThread_.joinable()) {
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
    if (!PreRoll() || !Succeeded(client->Start())) {
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
        bool read = false;
        follower_.WithClient([&](AudioClient* client) {
            read = client != nullptr && Succeeded(client->GetCurrentPadding(padding));
        });
        if (!read) {
            return false;
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
    follower_.WithClient([](AudioClient* client) {
        if (client != nullptr) {
            client->Stop();
        }
    });
    std::lock_guard lock(listMutex_);
    list_.reset();
}

void StreamRenderer::CloseStream() {
    if (renderThread_.joinable()) {
        shutdownEvent_.Set();
        renderThread_.join();
    }
    follower_.Close();
    std::lock_guard lock(listMutex_);
    list_.reset();
}

WaveFormat StreamRenderer::MixFormat() const {
    std::lock_guard lock(streamMutex_);
    return mixFormat_;
}

std::uint32_t StreamRenderer::FrameSize() const {
    std::lock_guard lock(streamMutex_);
    return frameSize_;
}

std::uint32_t StreamRenderer::EngineBufferFrames() const {
    std::lock_guard lock(streamMutex_);
    return engineBufferFrames_;
}

std::int64_t StreamRenderer::DevicePeriod100ns() const {
    std::int64_t period = 0;
    follower_.WithClient([&period](AudioClient* client) {
        if (client == nullptr || !Succeeded(client->GetDevicePeriod(period)) || period < 0) {
            period = 0;
        }
    });
    return period;
}

// ---- the followed stream: player thread and render thread (switch)

bool StreamRenderer::AcceptSwitchFormat(const WaveFormat& format) {
    // The buffers were converted for the mix format: an output with another one cannot play
    // them.
    return SameFormat(format, MixFormat());
}

bool StreamRenderer::ConfigureStream(AudioClient& client) {
    const WaveFormat format = MixFormat();
    std::uint32_t bufferFrames = 0;
    std::unique_ptr<RenderClient> render;
    if (!Succeeded(client.Initialize(kRenderStreamFlags, kEngineBufferDuration100ns, format)) ||
        !Succeeded(client.GetBufferSize(bufferFrames)) || bufferFrames == 0 ||
        !Succeeded(client.SetEventHandle(samplesReadyEvent_)) ||
        !Succeeded(client.GetRenderClient(render))) {
        return false;
    }
    std::lock_guard lock(streamMutex_);
    engineBufferFrames_ = bufferFrames;
    renderClient_ = std::move(render);
    return true;
}

void StreamRenderer::ReleaseStreamService() {
    std::unique_ptr<RenderClient> render;
    std::lock_guard lock(streamMutex_);
    render = std::move(renderClient_);
}

// ---- any thread

std::uint32_t StreamRenderer::FramesWritten() const {
    std::lock_guard lock(positionMutex_);
    return framesWritten_;
}

std::uint32_t StreamRenderer::FramesPlayed() const {
    std::uint32_t padding = 0;
    follower_.WithClient([&padding](AudioClient* client) {
        if (client == nullptr || !Succeeded(client->GetCurrentPadding(padding))) {
            padding = 0;
        }
    });
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
    return follower_.IsSwitching();
}

std::string StreamRenderer::EndpointId() const {
    return follower_.EndpointId();
}

// ---- render thread

void StreamRenderer::RenderThread() {
    AudioThreadPriority priority;
    const std::vector<Event*> events{&shutdownEvent_, &follower_.SwitchEvent(),
                                     samplesReadyEvent_.get()};
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
            if (!follower_.SwitchToDefaultEndpoint()) {
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
    if (!Succeeded(follower_.Client()->GetCurrentPadding(padding))) {
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

void StreamRenderer::SetRunning(bool running) {
    std::lock_guard lock(runningMutex_);
    running_ = running;
}

}  // namespace hushwell
