#include "ui/RecordingSession.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>
#include <system_error>

#include "audio/LoopbackCapture.h"
#include "audio/MixFormat.h"
#include "base/FormatTimeStamp.h"

namespace hushwell {

namespace {

constexpr int kClockHoursWrap = 100;
// Record-and-save stops this much after its T - P seconds.
constexpr int kRecordAndSaveExtraMs = 10;

}  // namespace

void RecordingSession::WithCapture(const std::function<void(LoopbackCapture*)>& use) const {
    if (capture_) {
        capture_(use);
    } else {
        use(nullptr);
    }
}

void RecordingSession::Start() {
    recording_ = true;
    WithCapture([](LoopbackCapture* capture) {
        if (capture != nullptr) {
            capture->SetHold(true);
        }
    });
    startTick_ = clock_.TickMs();
}

bool RecordingSession::Stop() {
    // A snapshot the capture made by itself (a hold that filled the buffer) is taken as it is:
    // a new request would copy only what the trimmed history still holds.
    bool requested = false;
    WithCapture([&](LoopbackCapture* capture) {
        if (capture != nullptr && !capture->IsSnapshotReady()) {
            capture->RequestSnapshot(true);
        }
        requested = capture != nullptr;
    });
    if (requested) {
        stopWaitsLeft_ = kStopWaitTries;
    }
    return requested;
}

// While recording, looks for a snapshot the capture forced; after a stop, waits for the
// requested one (a time-out keeps the previous sound).
RecordingSession::Next RecordingSession::Poll() {
    Next next;
    if (stopWaitsLeft_ > 0) {
        if (std::optional<Snapshot> snapshot = TakeSnapshotIfReady()) {
            next.step = Step::SnapshotReady;
            next.snapshot = std::move(*snapshot);
        } else if (--stopWaitsLeft_ == 0) {
            next.step = Step::GaveUp;
        } else {
            next.step = Step::PollLater;
            next.delayMs = kStopWaitMs;
        }
        return next;
    }
    if (!recording_) {
        return next;
    }
    bool capturing = false;
    WithCapture([&](LoopbackCapture* capture) { capturing = capture != nullptr; });
    if (!capturing) {
        return next;
    }
    if (std::optional<Snapshot> snapshot = TakeSnapshotIfReady()) {
        next.step = Step::SnapshotReady;
        next.snapshot = std::move(*snapshot);
    } else {
        next.step = Step::PollLater;
        next.delayMs = kRecordingPollMs;
    }
    return next;
}

void RecordingSession::MarkConverting() {
    stopWaitsLeft_ = std::max(stopWaitsLeft_, 1);
}

void RecordingSession::Finish() {
    recording_ = false;
    stopWaitsLeft_ = 0;
}

// Copies a ready snapshot out under the capture lock; the conversion is the caller's, off it.
std::optional<RecordingSession::Snapshot> RecordingSession::TakeSnapshotIfReady() {
    std::optional<Snapshot> taken;
    WithCapture([&](LoopbackCapture* capture) {
        if (capture != nullptr && capture->IsSnapshotReady()) {
            taken = CopySnapshot(*capture);
        }
    });
    return taken;
}

RecordingSession::Snapshot RecordingSession::CopySnapshot(LoopbackCapture& capture) {
    Snapshot copy;
    copy.frames = capture.SnapshotFrameCount();
    if (!capture.DetectSampleType()) {
        return copy;
    }
    copy.format = capture.SnapshotFormat();
    // The history keeps float mixes as 16-bit samples: the snapshot's own format decides.
    MixSampleType type = MixSampleType::Float32;
    copy.pcm16 = MixSampleTypeOf(copy.format, type) && type == MixSampleType::Pcm16;
    const std::uint32_t bytesPerSample = copy.pcm16 ? 2 : 4;
    // Only one or two channels make an editor sound, in the sample type classified.
    copy.usable = copy.format.channels >= 1 && copy.format.channels <= 2 &&
                  copy.format.bitsPerSample == bytesPerSample * 8;
    if (!copy.usable) {
        return copy;
    }
    const std::span<const std::uint8_t> buffer = capture.SnapshotBuffer();
    const std::size_t frameSize = std::size_t{bytesPerSample} * copy.format.channels;
    copy.frames =
        static_cast<std::uint32_t>(std::min<std::size_t>(copy.frames, buffer.size() / frameSize));
    copy.bytes.assign(buffer.begin(), buffer.begin() + copy.frames * frameSize);
    return copy;
}

std::shared_ptr<WaveData> RecordingSession::Convert(const Snapshot& snapshot) {
    if (!snapshot.usable || snapshot.frames == 0) {
        return nullptr;
    }
    const int channels = snapshot.format.channels;
    const auto rate = static_cast<int>(snapshot.format.sampleRate);
    const auto frames = static_cast<int>(snapshot.frames);
    const std::size_t count = static_cast<std::size_t>(snapshot.frames) * channels;
    auto sound = std::make_shared<WaveData>();
    if (snapshot.pcm16) {
        std::vector<std::int16_t> samples(count);
        std::memcpy(samples.data(), snapshot.bytes.data(), count * sizeof(std::int16_t));
        sound->AssignPcm16(rate, channels, frames, samples);
    } else {
        std::vector<float> samples(count);
        std::memcpy(samples.data(), snapshot.bytes.data(), count * sizeof(float));
        constexpr float kFullScale = 32767.0f;
        for (float& sample : samples) {
            sample *= kFullScale;
        }
        sound->AssignScaledFloat(rate, channels, frames, samples);
    }
    return sound->SampleCount() > 0 ? sound : nullptr;
}

std::string RecordingSession::ElapsedText() const {
    return ClockText(clock_.TickMs() - startTick_);
}

std::string RecordingSession::ClockText(std::uint64_t elapsedMs) {
    const std::uint64_t s = elapsedMs / 1000;
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", static_cast<int>(s / 3600 % kClockHoursWrap),
                  static_cast<int>(s % 3600 / 60), static_cast<int>(s % 60));
    return text;
}

int RecordingSession::BeginRecordAndSave(Settings settings) {
    recordSettings_ = settings;
    recordedNew_ = false;
    const int waitSec = std::max(0, settings.triggerSoundSec - settings.preRecordingSec);
    return waitSec * 1000 + kRecordAndSaveExtraMs;
}

bool RecordingSession::TakeSaveAfterStop() {
    const bool save = saveAfterStop_;
    saveAfterStop_ = false;
    return save;
}

std::optional<TimeWindow> RecordingSession::WindowOf(const WaveData& sound) const {
    return RecordAndSaveWindow(FramesOf(sound), sound.Format().sampleRate,
                               recordSettings_.preRecordingSec, recordSettings_.triggerSoundSec);
}

std::filesystem::path RecordingSession::RecordingPath(const std::filesystem::path& folder,
                                                      int formatType, const Clock& clock) {
    const std::string stamp = FormatTimeStamp(formatType, false, clock);
    std::filesystem::path path = folder / (stamp + ".wav");
    std::error_code error;
    for (int n = 2; std::filesystem::exists(path, error); ++n) {
        path = folder / (stamp + "_" + std::to_string(n) + ".wav");
    }
    return path;
}

}  // namespace hushwell
