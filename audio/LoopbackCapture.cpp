#include "audio/LoopbackCapture.h"

#include <cstring>
#include <system_error>
#include <vector>

#include "audio/AudioBackend.h"
#include "audio/AudioClient.h"
#include "audio/AudioEndpoint.h"
#include "audio/AudioThreadPriority.h"
#include "audio/CaptureClient.h"
#include "audio/MixFormat.h"
#include "audio/ThreadName.h"
#include "wav/SampleConversion.h"
#include "wav/WaveFile.h"

namespace hushwell {

namespace {

// Float samples are scaled to the 16-bit range before the saturating conversion.
constexpr float kFloatToPcm16Scale = 32767.0f;

// Digital silence that the server did not flag as such: its 16-bit samples are zeros too
// (+0.0 and -0.0 both convert to 0), found far faster than by converting each sample.
bool IsAllZeros(const std::uint8_t* floats, std::uint32_t size) {
    constexpr std::uint32_t kAllButSign = 0x7FFFFFFFu;
    std::uint32_t any = 0;
    for (std::uint32_t at = 0; at + sizeof(float) <= size; at += sizeof(float)) {
        std::uint32_t bits = 0;
        std::memcpy(&bits, floats + at, sizeof bits);
        any |= bits & kAllButSign;
    }
    return any == 0;
}

// An event-driven loopback: the stream signals the packet event when packets have arrived.
constexpr std::uint32_t kLoopbackStreamFlags =
    kStreamFlagLoopback | kStreamFlagEventCallback | kStreamFlagNoPersist;
constexpr std::int64_t kEngineBufferDuration100ns =
    LoopbackCapture::kEngineLatency.count() * kHundredNsPerMs;

// Bytes per frame as the stream delivers them: whole bytes per sample times channels.
std::uint32_t FrameSizeOf(const WaveFormat& format) {
    return static_cast<std::uint32_t>(format.bitsPerSample / 8) * format.channels;
}

// A packet holds frames x block-align bytes; a format whose frame size says otherwise would
// make the copy read past the packet.
bool UsableFrameSize(const WaveFormat& format) {
    const std::uint32_t frameSize = FrameSizeOf(format);
    return frameSize != 0 && frameSize == format.blockAlign;
}

// Two format records are the same when their first 18 + cbSize bytes are.
bool SameFormat(const WaveFormat& a, const WaveFormat& b) {
    if (a.cbSize != b.cbSize) {
        return false;
    }
    std::size_t size = kWaveFormatBasicSize + a.cbSize;
    if (size > sizeof(WaveFormat)) {
        size = sizeof(WaveFormat);
    }
    return std::memcmp(&a, &b, size) == 0;
}

}  // namespace

LoopbackCapture::LoopbackCapture(AudioBackend& backend, std::shared_ptr<AudioEndpoint> endpoint,
                                 bool streamSwitching)
    : streamSwitching_(streamSwitching), follower_(backend, std::move(endpoint), *this) {}

LoopbackCapture::~LoopbackCapture() {
    if (captureThread_.joinable()) {
        RequestShutdown();
        captureThread_.join();
    }
    CloseStream();
}

// ---- owner's runner thread

bool LoopbackCapture::OpenStream() {
    if (!follower_.OpenClient(
            [this](const WaveFormat& format) { return AcceptOpenFormat(format); }) ||
        !ConfigureStream(*follower_.Client())) {
        return false;
    }
    if (streamSwitching_ && !follower_.Follow()) {
        return false;
    }
    SetHold(false);
    RequestSnapshot(false);
    SetSnapshotReady(false);
    return true;
}

bool LoopbackCapture::AcceptOpenFormat(const WaveFormat& format) {
    if (!UsableFrameSize(format)) {
        return false;
    }
    std::lock_guard lock(queueMutex_);
    SetMixFormatLocked(format);
    return true;
}

void LoopbackCapture::SetFeedListener(std::function<void()> listener) {
    feedListener_ = std::move(listener);
}

bool LoopbackCapture::BeginCapture(std::span<std::uint8_t> snapshotBuffer) {
    {
        std::lock_guard lock(queueMutex_);
        historyCap_ =
            static_cast<std::uint64_t>(mixFormat_.sampleRate) * historyFrameSize_ * kHistorySeconds;
        feedCap_ = static_cast<std::uint64_t>(mixFormat_.sampleRate) * frameSize_ * kHistorySeconds;
        // A buffer smaller than the history would force a snapshot at every packet.
        if (historyCap_ == 0 || snapshotBuffer.size() < historyCap_) {
            return false;
        }
        snapshotBuffer_ = snapshotBuffer;
    }
    AudioClient* client = follower_.Client();
    if (client == nullptr || !captureClient_ || captureThread_.joinable()) {
        return false;
    }
    // The stream starts before the thread, so that only the runner touches the client until
    // the capture thread exists; a switch may replace the client from then on.
    if (!Succeeded(client->Start())) {
        return false;
    }
    try {
        captureThread_ = std::thread([this] { CaptureThread(); });
    } catch (const std::system_error&) {
        client->Stop();
        return false;
    }
    return true;
}

void LoopbackCapture::WaitForCaptureEnd() {
    if (captureThread_.joinable()) {
        captureThread_.join();
    }
}

void LoopbackCapture::CloseStream() {
    follower_.Close();
}

// ---- the followed stream: owner's runner thread and capture thread (switch)

bool LoopbackCapture::AcceptSwitchFormat(const WaveFormat& format) {
    return AdoptMixFormat(format);
}

bool LoopbackCapture::ConfigureStream(AudioClient& client) {
    WaveFormat format = MixFormat();
    if (!Succeeded(client.Initialize(kLoopbackStreamFlags, kEngineBufferDuration100ns, format))) {
        return false;
    }
    if (!Succeeded(client.GetBufferSize(engineBufferFrames_)) ||
        !Succeeded(client.SetEventHandle(packetEvent_))) {
        return false;
    }
    std::unique_ptr<CaptureClient> capture;
    if (!Succeeded(client.GetCaptureClient(capture))) {
        return false;
    }
    std::lock_guard lock(captureClientMutex_);
    captureClient_ = std::move(capture);
    return true;
}

void LoopbackCapture::ReleaseStreamService() {
    std::unique_ptr<CaptureClient> capture;
    std::lock_guard lock(captureClientMutex_);
    capture = std::move(captureClient_);
}

// ---- any thread

void LoopbackCapture::RequestShutdown() {
    shutdownEvent_.Set();
    follower_.WithClient([](AudioClient* client) {
        if (client != nullptr) {
            client->Stop();
        }
    });
}

LoopbackCapture::EndReason LoopbackCapture::CaptureEndReason() const {
    return endReason_.load();
}

bool LoopbackCapture::IsSwitching() const {
    return follower_.IsSwitching();
}

std::string LoopbackCapture::EndpointId() const {
    return follower_.EndpointId();
}

// ---- capture thread

void LoopbackCapture::CaptureThread() {
    NameThisThread("capture");
    {
        std::lock_guard lock(queueMutex_);
        ClearQueuesLocked();
    }
    {
        AudioThreadPriority priority;
        // In priority order: the shutdown ends the thread even with packets waiting.
        enum Wake : std::size_t { kShutdown, kSwitch, kPackets, kSnapshot };
        std::vector<Event*> events{&shutdownEvent_, &follower_.SwitchEvent(), packetEvent_.get(),
                                   &snapshotEvent_};
        for (;;) {
            const auto woken = WaitForAny(events, kWaitForever);
            if (!woken || *woken == kShutdown) {
                endReason_.store(EndReason::Shutdown);
                break;
            }
            if (*woken == kSwitch) {
                if (!follower_.SwitchToDefaultEndpoint()) {
                    endReason_.store(EndReason::SwitchFailed);
                    break;
                }
            } else if (*woken == kPackets && DrainPackets()) {
                if (feedListener_) {
                    feedListener_();
                }
            } else {
                ServeIdleSnapshotRequest();
            }
        }
    }
    std::lock_guard lock(queueMutex_);
    ClearQueuesLocked();
}

bool LoopbackCapture::DrainPackets() {
    bool added = false;
    for (;;) {
        const std::uint8_t* data = nullptr;
        std::uint32_t frames = 0;
        std::uint32_t flags = 0;
        // A failing call ends the drain until the next wake instead of spinning on it.
        if (!Succeeded(captureClient_->GetBuffer(data, frames, flags)) || frames == 0) {
            break;
        }
        added = true;
        if (!ProcessPacket(data, frames, flags)) {
            break;
        }
    }
    if (!added) {
        // A wake without packets (a stream left behind by a switch) still serves a request.
        ServeIdleSnapshotRequest();
    }
    return added;
}

bool LoopbackCapture::ProcessPacket(const std::uint8_t* data, std::uint32_t frames,
                                    std::uint32_t flags) {
    std::lock_guard lock(queueMutex_);
    std::uint64_t bytesCopied = 0;
    const std::uint64_t size = static_cast<std::uint64_t>(frames) * frameSize_;
    if (size > 0 && size <= CaptureBlock::kMaxPayloadSize) {
        const bool silent = (flags & kBufferFlagSilent) != 0 || data == nullptr;
        const std::uint8_t* source = silent ? nullptr : data;
        const auto payload = static_cast<std::uint32_t>(size);
        CaptureBlock forHistory = HistoryBlockOf(source, payload);
        CaptureBlock forFeed = CaptureBlock::CopyOf(source, payload);
        // Both or neither: a failed allocation drops the packet for both queues.
        if (forHistory && forFeed) {
            historyBytes_ += forHistory.PayloadSize();
            history_.push_back(std::move(forHistory));
            feed_.push_back(std::move(forFeed));
            feedBytes_ += size;
            capturedFrames_ += frames;
            ForceSnapshotIfHistoryFull();
            bytesCopied = CopySnapshotIfRequested();
            TrimHistory();
        }
    }
    TrimFeed();
    PublishSnapshot(bytesCopied);
    // Released even when the packet was dropped, or the stream would hand it out forever.
    return Succeeded(captureClient_->ReleaseBuffer(frames));
}

void LoopbackCapture::ServeIdleSnapshotRequest() {
    // Answers a snapshot request with the history there is, without waiting for a packet.
    std::lock_guard lock(queueMutex_);
    const std::uint64_t bytesCopied = CopySnapshotIfRequested();
    TrimHistory();
    PublishSnapshot(bytesCopied);
}

bool LoopbackCapture::AdoptMixFormat(const WaveFormat& format) {
    std::lock_guard lock(queueMutex_);
    if (SameFormat(format, mixFormat_)) {
        return true;
    }
    if (CheckAudioFormat(format) != 0 || !UsableFrameSize(format)) {
        return false;
    }
    SetMixFormatLocked(format);
    // Blocks in the old format cannot be read with the new one: every block in the queues is
    // in the current mix format, which is what the feed's reader and the snapshot rely on.
    ClearQueuesLocked();
    return true;
}

void LoopbackCapture::SetMixFormatLocked(const WaveFormat& format) {
    mixFormat_ = format;
    frameSize_ = FrameSizeOf(format);
    historyFormat_ = HistoryFormatOf(format);
    historyFrameSize_ = FrameSizeOf(historyFormat_);
    MixSampleType type = MixSampleType::Pcm16;
    historyConverts_ = MixSampleTypeOf(format, type) && type == MixSampleType::Float32;
}

WaveFormat LoopbackCapture::HistoryFormatOf(const WaveFormat& mixFormat) {
    MixSampleType type = MixSampleType::Pcm16;
    if (!MixSampleTypeOf(mixFormat, type) || type != MixSampleType::Float32) {
        return mixFormat;
    }
    return MakeMixFormat(MixSampleType::Pcm16, mixFormat.sampleRate, mixFormat.channels,
                         mixFormat.channelMask);
}

// Float packets are kept as the 16-bit samples a recording is saved with anyway (scaled by
// 32767 in single precision, then rounded and saturated), at half the memory.
CaptureBlock LoopbackCapture::HistoryBlockOf(const std::uint8_t* source, std::uint32_t size) const {
    if (!historyConverts_) {
        return CaptureBlock::CopyOf(source, size);
    }
    const std::uint32_t samples = size / sizeof(float);
    CaptureBlock block = CaptureBlock::Allocate(samples * sizeof(std::int16_t));
    if (!block || source == nullptr || IsAllZeros(source, size)) {
        return block;  // a silent packet: the zeros Allocate wrote
    }
    std::uint8_t* out = block.Payload();
    for (std::uint32_t i = 0; i < samples; ++i) {
        float sample = 0.0f;
        std::memcpy(&sample, source + i * sizeof(float), sizeof sample);
        const std::int16_t converted = ScaledFloatToPcm16(sample * kFloatToPcm16Scale);
        std::memcpy(out + i * sizeof converted, &converted, sizeof converted);
    }
    return block;
}

void LoopbackCapture::ClearQueuesLocked() {
    history_.clear();
    historyBytes_ = 0;
    feed_.clear();
    feedBytes_ = 0;
}

void LoopbackCapture::ForceSnapshotIfHistoryFull() {
    if (historyBytes_ <= snapshotBuffer_.size()) {
        return;
    }
    std::lock_guard request(requestMutex_);
    snapshotRequest_ = true;
    {
        std::lock_guard ready(readyMutex_);
        snapshotReady_ = false;
    }
    std::lock_guard frameCount(frameCountMutex_);
    snapshotFrameCount_ = 0;
}

std::uint64_t LoopbackCapture::CopySnapshotIfRequested() {
    {
        std::lock_guard request(requestMutex_);
        if (!snapshotRequest_) {
            return 0;
        }
    }
    std::uint64_t copied = 0;
    for (const CaptureBlock& block : history_) {
        const std::uint32_t size = block.PayloadSize();
        // The newest audio of an over-long hold is what does not fit.
        if (copied + size > snapshotBuffer_.size()) {
            break;
        }
        std::memcpy(snapshotBuffer_.data() + copied, block.Payload(), size);
        copied += size;
    }
    {
        std::lock_guard request(requestMutex_);
        snapshotRequest_ = false;
    }
    std::lock_guard hold(holdMutex_);
    hold_ = false;
    return copied;
}

void LoopbackCapture::TrimHistory() {
    {
        std::lock_guard hold(holdMutex_);
        if (hold_) {
            return;
        }
    }
    while (historyBytes_ > historyCap_ && !history_.empty()) {
        historyBytes_ -= history_.front().PayloadSize();
        history_.pop_front();
    }
}

void LoopbackCapture::TrimFeed() {
    while (feedBytes_ > feedCap_ && !feed_.empty()) {
        feedBytes_ -= feed_.front().PayloadSize();
        feed_.pop_front();
    }
}

void LoopbackCapture::PublishSnapshot(std::uint64_t bytesCopied) {
    if (bytesCopied == 0 || historyFrameSize_ == 0) {
        return;
    }
    snapshotFormat_ = historyFormat_;
    {
        std::lock_guard frameCount(frameCountMutex_);
        snapshotFrameCount_ = static_cast<std::uint32_t>(bytesCopied / historyFrameSize_);
    }
    std::lock_guard ready(readyMutex_);
    snapshotReady_ = true;
}

// ---- the feed's reader

CaptureBlock LoopbackCapture::PopFeedBlock() {
    WaveFormat unused;
    return PopFeedBlock(unused);
}

CaptureBlock LoopbackCapture::PopFeedBlock(WaveFormat& blockFormat) {
    std::lock_guard lock(queueMutex_);
    blockFormat = mixFormat_;
    while (!feed_.empty()) {
        CaptureBlock block = std::move(feed_.front());
        feed_.pop_front();
        if (block) {
            feedBytes_ -= block.PayloadSize();
            return block;
        }
    }
    return {};
}

WaveFormat LoopbackCapture::MixFormat() const {
    std::lock_guard lock(queueMutex_);
    return mixFormat_;
}

std::uint32_t LoopbackCapture::FrameSize() const {
    std::lock_guard lock(queueMutex_);
    return frameSize_;
}

WaveFormat LoopbackCapture::HistoryFormat() const {
    std::lock_guard lock(queueMutex_);
    return historyFormat_;
}

std::uint32_t LoopbackCapture::HistoryFrameSize() const {
    std::lock_guard lock(queueMutex_);
    return historyFrameSize_;
}

// ---- user-interface thread: the sound editor

bool LoopbackCapture::DetectSampleType() {
    std::lock_guard lock(queueMutex_);
    MixSampleType type;
    if (!MixSampleTypeOf(mixFormat_, type)) {
        return false;
    }
    sampleType_ = type == MixSampleType::Pcm16 ? kSampleTypePcm16 : kSampleTypeFloat32;
    return true;
}

int LoopbackCapture::SampleType() const {
    std::lock_guard lock(queueMutex_);
    return sampleType_;
}

void LoopbackCapture::SetHold(bool on) {
    std::lock_guard hold(holdMutex_);
    hold_ = on;
    if (!on) {
        return;
    }
    {
        std::lock_guard frameCount(frameCountMutex_);
        snapshotFrameCount_ = 0;
    }
    std::lock_guard ready(readyMutex_);
    snapshotReady_ = false;
}

void LoopbackCapture::RequestSnapshot(bool on) {
    {
        std::lock_guard request(requestMutex_);
        snapshotRequest_ = on;
        if (!on) {
            return;
        }
        {
            std::lock_guard ready(readyMutex_);
            snapshotReady_ = false;
        }
        std::lock_guard frameCount(frameCountMutex_);
        snapshotFrameCount_ = 0;
    }
    // Served at once, also when the output delivers no packets (a suspended device).
    snapshotEvent_.Set();
}

void LoopbackCapture::SetSnapshotReady(bool ready) {
    std::lock_guard lock(readyMutex_);
    snapshotReady_ = ready;
}

bool LoopbackCapture::IsSnapshotReady() const {
    std::lock_guard lock(readyMutex_);
    return snapshotReady_;
}

std::uint32_t LoopbackCapture::SnapshotFrameCount() const {
    std::lock_guard lock(frameCountMutex_);
    return snapshotFrameCount_;
}

bool LoopbackCapture::IsHolding() const {
    std::lock_guard lock(holdMutex_);
    return hold_;
}

bool LoopbackCapture::IsSnapshotRequested() const {
    std::lock_guard lock(requestMutex_);
    return snapshotRequest_;
}

std::span<const std::uint8_t> LoopbackCapture::SnapshotBuffer() const {
    std::lock_guard lock(queueMutex_);
    return snapshotBuffer_;
}

WaveFormat LoopbackCapture::SnapshotFormat() const {
    std::lock_guard lock(queueMutex_);
    return snapshotFormat_;
}

// ---- observations

std::uint64_t LoopbackCapture::FeedBytes() const {
    std::lock_guard lock(queueMutex_);
    return feedBytes_;
}

std::uint64_t LoopbackCapture::HistoryBytes() const {
    std::lock_guard lock(queueMutex_);
    return historyBytes_;
}

std::size_t LoopbackCapture::FeedBlockCount() const {
    std::lock_guard lock(queueMutex_);
    return feed_.size();
}

std::size_t LoopbackCapture::HistoryBlockCount() const {
    std::lock_guard lock(queueMutex_);
    return history_.size();
}

std::uint64_t LoopbackCapture::HistoryCap() const {
    std::lock_guard lock(queueMutex_);
    return historyCap_;
}

std::uint64_t LoopbackCapture::CapturedFrames() const {
    std::lock_guard lock(queueMutex_);
    return capturedFrames_;
}

}  // namespace hushwell
