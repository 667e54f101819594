#include "audio/SoundPlayer.h"

#include <algorithm>
#include <utility>

#include "audio/AudioBackend.h"
#include "audio/AudioClient.h"
#include "audio/RenderBuffer.h"
#include "audio/RenderBufferBuilder.h"
#include "audio/StreamRenderer.h"
#include "wav/WaveFile.h"

namespace hushwell {

namespace {

// Buffers of one device period; this one when the stream reports none.
constexpr std::int64_t kFallbackPeriod100ns = 10 * kHundredNsPerMs;
// How long a play that has written everything waits for the output to play it out: the
// stream's buffer and a margin for a slow server.
constexpr std::chrono::milliseconds kPlayOutTimeout = StreamRenderer::kEngineLatency * 10;

// Frames of one device period, rounded to the nearest frame, at most the stream's buffer (a
// buffer larger than the stream's would never fit into it).
std::uint32_t FramesPerBuffer(const StreamRenderer& renderer) {
    std::int64_t period = renderer.DevicePeriod100ns();
    if (period <= 0) {
        period = kFallbackPeriod100ns;
    }
    const double frames = static_cast<double>(renderer.MixFormat().sampleRate) *
                              static_cast<double>(period) / kHundredNsPerSecond +
                          0.5;
    const auto rounded = static_cast<std::uint32_t>(
        std::min(frames, static_cast<double>(renderer.EngineBufferFrames())));
    return std::max<std::uint32_t>(rounded, 1);
}

}  // namespace

SoundPlayer::SoundPlayer(AudioBackend& backend, std::function<void(PlayEnd)> onEnded)
    : backend_(backend), onEnded_(std::move(onEnded)), thread_([this] { PlayerThread(); }) {}

SoundPlayer::~SoundPlayer() {
    {
        std::lock_guard lock(mutex_);
        quit_ = true;
    }
    Stop();
    changed_.notify_all();
    thread_.join();
}

// ---- user-interface thread

bool SoundPlayer::Play(std::shared_ptr<const WaveData> sound, std::uint32_t selectionStart,
                       std::uint32_t selectionEnd) {
    if (!sound) {
        return false;
    }
    {
        std::lock_guard lock(mutex_);
        if (quit_ || pending_ || (active_ && endRequest_ == EndRequest::None)) {
            return false;
        }
        pending_ = Request{std::move(sound), selectionStart, selectionEnd};
    }
    changed_.notify_all();
    return true;
}

void SoundPlayer::Pause() {
    std::lock_guard lock(mutex_);
    if (!active_ || endRequest_ != EndRequest::None) {
        return;
    }
    endRequest_ = EndRequest::Pause;
    if (renderer_ != nullptr) {
        renderer_->RequestShutdown();
    }
}

void SoundPlayer::Stop() {
    std::lock_guard lock(mutex_);
    pending_.reset();
    if (!active_) {
        resumeFrame_ = kNoResumeFrame;
        return;
    }
    endRequest_ = EndRequest::Stop;
    if (renderer_ != nullptr) {
        renderer_->RequestShutdown();
    }
}

void SoundPlayer::Rewind(std::uint32_t frame) {
    std::lock_guard lock(mutex_);
    resumeFrame_ = frame;
    rewound_ = active_;
    if (!active_) {
        playBase_ = frame;
        cursor_ = 0;
    }
}

bool SoundPlayer::IsPlaying() const {
    std::lock_guard lock(mutex_);
    return playing_;
}

bool SoundPlayer::IsBusy() const {
    std::lock_guard lock(mutex_);
    return active_ || pending_.has_value();
}

std::uint32_t SoundPlayer::Cursor() const {
    std::lock_guard lock(mutex_);
    if (playing_ && renderer_ != nullptr && builder_ != nullptr) {
        return std::min(playFrames_, builder_->SoundFramesFor(renderer_->FramesWritten()));
    }
    return cursor_;
}

std::uint32_t SoundPlayer::PlayBase() const {
    std::lock_guard lock(mutex_);
    return playBase_;
}

std::uint32_t SoundPlayer::ResumeFrame() const {
    std::lock_guard lock(mutex_);
    return resumeFrame_;
}

std::optional<SoundPlayer::PlayEnd> SoundPlayer::LastEnd() const {
    std::lock_guard lock(mutex_);
    return lastEnd_;
}

bool SoundPlayer::WaitUntilIdle(std::chrono::milliseconds timeout) {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [this] { return !active_ && !pending_; });
}

// ---- player thread

void SoundPlayer::PlayerThread() {
    for (;;) {
        Request request;
        {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [this] { return quit_ || pending_; });
            if (quit_) {
                return;
            }
            request = std::move(*pending_);
            pending_.reset();
            active_ = true;
            endRequest_ = EndRequest::None;
            rewound_ = false;
        }
        const PlayEnd end = PlayOnce(request);
        {
            std::lock_guard lock(mutex_);
            lastEnd_ = end;
            active_ = false;
        }
        changed_.notify_all();
        if (onEnded_) {
            onEnded_(end);
        }
    }
}

SoundPlayer::PlayEnd SoundPlayer::PlayOnce(const Request& request) {
    if (!StartRange(request, RenderBufferBuilder::FramesHeld(*request.sound))) {
        return PlayEnd::Refused;
    }
    std::shared_ptr<AudioEndpoint> endpoint;
    if (!Succeeded(backend_.GetDefaultAudioEndpoint(endpoint)) || !endpoint) {
        return PlayEnd::Failed;
    }
    StreamRenderer renderer(backend_, std::move(endpoint));
    Publish(&renderer, nullptr);
    PlayEnd end = PlayEnd::Failed;
    if (renderer.OpenStream()) {
        const RenderBufferBuilder builder(*request.sound, renderer.MixFormat());
        end = CheckAudioFormat(renderer.MixFormat()) == 0 && builder.Usable()
                  ? RunRenderer(renderer, builder, request)
                  : PlayEnd::Refused;
    }
    Publish(nullptr, nullptr);
    renderer.StopPlayback();
    renderer.CloseStream();
    return end;
}

SoundPlayer::PlayEnd SoundPlayer::RunRenderer(StreamRenderer& renderer,
                                              const RenderBufferBuilder& builder,
                                              const Request& request) {
    std::uint32_t first = 0;
    std::uint32_t count = 0;
    {
        std::lock_guard lock(mutex_);
        first = playBase_;
        count = playFrames_;
    }
    std::uint32_t buffers = 0;
    std::unique_ptr<RenderBuffer> list =
        builder.Build(first, count, FramesPerBuffer(renderer), buffers);
    if (!list) {
        return PlayEnd::Failed;
    }
    // A pause or stop that came while the sound was being converted ends the play unheard.
    if (EndRequested()) {
        return FinishPlay(request, false, 0);
    }
    Publish(&renderer, &builder);
    if (!renderer.BeginPlayback(std::move(list))) {
        return PlayEnd::Failed;
    }
    {
        std::lock_guard lock(mutex_);
        playing_ = true;
    }
    renderer.WaitForRenderEnd();
    const bool exhausted = renderer.RenderEndReason() == StreamRenderer::EndReason::Exhausted;
    if (exhausted) {
        renderer.WaitUntilPlayedOut(kPlayOutTimeout);
    }
    // Stopped first, so that what the stream still holds is what was not heard.
    renderer.StopPlayback();
    const std::uint32_t played = std::min(count, builder.SoundFramesFor(renderer.FramesPlayed()));
    return FinishPlay(request, exhausted, played);
}

bool SoundPlayer::StartRange(const Request& request, std::uint32_t soundFrames) {
    if (soundFrames == 0) {
        return false;
    }
    const std::uint32_t last = std::min(request.selectionEnd, soundFrames - 1);
    const std::uint32_t start = std::min(request.selectionStart, last);
    std::lock_guard lock(mutex_);
    if (resumeFrame_ < start || resumeFrame_ >= request.selectionEnd || resumeFrame_ > last) {
        resumeFrame_ = start;
    }
    playBase_ = resumeFrame_;
    playFrames_ = last - playBase_ + 1;
    cursor_ = 0;
    return true;
}

bool SoundPlayer::EndRequested() const {
    std::lock_guard lock(mutex_);
    return endRequest_ != EndRequest::None;
}

SoundPlayer::PlayEnd SoundPlayer::FinishPlay(const Request& request, bool exhausted,
                                             std::uint32_t played) {
    std::lock_guard lock(mutex_);
    playing_ = false;
    cursor_ = played;
    const std::uint32_t rewoundTo = resumeFrame_;
    const PlayEnd end = SetResumeFrameAtEnd(request, exhausted);
    if (rewound_) {
        // A new selection came while the play was ending: the next play starts there.
        rewound_ = false;
        resumeFrame_ = rewoundTo;
        playBase_ = rewoundTo;
        cursor_ = 0;
    }
    return end;
}

SoundPlayer::PlayEnd SoundPlayer::SetResumeFrameAtEnd(const Request& request, bool exhausted) {
    switch (endRequest_) {
        case EndRequest::Pause: {
            const std::uint64_t pausedFrame = static_cast<std::uint64_t>(playBase_) + cursor_;
            if (pausedFrame < request.selectionEnd) {
                resumeFrame_ = static_cast<std::uint32_t>(pausedFrame);
            }
            return PlayEnd::Paused;
        }
        case EndRequest::Stop:
            resumeFrame_ = request.selectionStart;
            return PlayEnd::Stopped;
        case EndRequest::None:
            break;
    }
    if (exhausted) {
        resumeFrame_ = request.selectionStart;
        cursor_ = playFrames_;
        return PlayEnd::Finished;
    }
    return PlayEnd::DeviceLost;
}

void SoundPlayer::Publish(StreamRenderer* renderer, const RenderBufferBuilder* builder) {
    std::lock_guard lock(mutex_);
    renderer_ = renderer;
    builder_ = builder;
    // A pause or stop that came before the renderer was known still reaches it.
    if (renderer != nullptr && endRequest_ != EndRequest::None) {
        renderer->RequestShutdown();
    }
}

}  // namespace hushwell
