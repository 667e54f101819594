#include "detection/ProgramStreamWatcher.h"

#include <algorithm>

#include "audio/AudioBackend.h"
#include "audio/AudioEndpoint.h"
#include "audio/PlaybackStream.h"
#include "audio/ThreadName.h"
#include "detection/ProgramStreamDetector.h"
#include "triggers/EventLog.h"
#include "triggers/Trigger.h"

namespace hushwell {

namespace {

bool IsProgramSoundTrigger(const Trigger& trigger) {
    std::lock_guard lock(trigger.Mutex());
    return trigger.GetTriggerKind() == TriggerKind::Sound &&
           trigger.GetTargetCode() == TargetCode::Program;
}

}  // namespace

ProgramStreamWatcher::ProgramStreamWatcher(AudioBackend& backend, ControlLauncher& launcher,
                                           const Clock& clock, FiringSink* firings,
                                           std::chrono::milliseconds followInterval)
    : backend_(backend),
      launcher_(launcher),
      clock_(clock),
      firings_(firings),
      followInterval_(followInterval) {}

ProgramStreamWatcher::~ProgramStreamWatcher() {
    Stop();
}

int ProgramStreamWatcher::SetTriggers(const TriggerList& live, const std::string& soundFolder,
                                      bool verification) {
    Stop();
    triggers_.SetBaseDir(live.BaseDir());
    triggers_.Assign(live);
    // Only the "program" sound triggers stay in the copy (with their serial ids, by which
    // their runners are cancelled): the streams' steps must not fire the whole output's
    // triggers, nor run its level triggers, and the copy keeps no more than it needs.
    std::lock_guard listLock(triggers_.Mutex());
    triggers_.ClearKind(TriggerKind::Time);
    triggers_.ClearKind(TriggerKind::Level);
    for (int n = triggers_.CountSound() - 1; n >= 0; --n) {
        if (!IsProgramSoundTrigger(*triggers_.GetSound(n))) {
            triggers_.RemoveSound(n);
        }
    }
    programTriggers_ = triggers_.CountSound();
    references_.SetTriggersFolder(soundFolder);
    references_.RebuildReferences(triggers_);
    verification_ = verification;
    return programTriggers_;
}

void ProgramStreamWatcher::Start() {
    if (thread_.joinable() || programTriggers_ == 0) {
        return;
    }
    quit_.Reset();
    thread_ = std::thread([this] { FollowThread(); });
}

void ProgramStreamWatcher::Stop() {
    if (thread_.joinable()) {
        quit_.Set();
        thread_.join();
    }
    std::vector<std::unique_ptr<ProgramStreamDetector>> ending;
    {
        std::lock_guard lock(mutex_);
        ending.swap(detectors_);
    }
    ending.clear();  // each joins its stream's thread
    failed_.clear();
}

std::vector<std::uint32_t> ProgramStreamWatcher::WatchedStreams() const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> indices;
    for (const auto& detector : detectors_) {
        if (!detector->Ended()) {
            indices.push_back(detector->Stream().index);
        }
    }
    return indices;
}

void ProgramStreamWatcher::FollowThread() {
    NameThisThread("program streams");
    do {
        Follow();
    } while (!quit_.Wait(followInterval_));
}

void ProgramStreamWatcher::Follow() {
    std::vector<PlaybackStream> streams;
    std::shared_ptr<AudioEndpoint> output;
    if (backend_.ListPlaybackStreams(streams) != AudioResult::Ok ||
        backend_.GetDefaultAudioEndpoint(output) != AudioResult::Ok || !output) {
        streams.clear();  // nothing can be heard now: every stream's detection ends
    }
    const std::string outputId = output ? output->GetId() : std::string();
    std::erase_if(streams, [&](const PlaybackStream& stream) {
        return stream.outputId != outputId || stream.corked || stream.program.IsUnknown();
    });
    std::erase_if(failed_, [&](const auto& entry) {
        return std::none_of(streams.begin(), streams.end(),
                            [&](const PlaybackStream& s) { return s.index == entry.first; });
    });

    std::vector<std::unique_ptr<ProgramStreamDetector>> ending;
    {
        std::lock_guard lock(mutex_);
        for (auto& detector : detectors_) {
            const PlaybackStream& watched = detector->Stream();
            const bool listed =
                std::any_of(streams.begin(), streams.end(), [&](const PlaybackStream& s) {
                    return s.index == watched.index && s.program == watched.program;
                });
            if (!listed || detector->Ended()) {
                if (listed) {  // its recording ended while it plays on
                    const int failures = ++failed_[watched.index];
                    WriteLogLine("The recording of a stream of " + watched.program.DisplayName() +
                                 (failures < kMaxCaptureAttempts ? " ended; trying again."
                                                                 : " ended; giving it up."));
                }
                ending.push_back(std::move(detector));
            }
        }
        std::erase(detectors_, nullptr);
    }
    ending.clear();  // outside the lock: each joins its thread

    for (const PlaybackStream& stream : streams) {
        std::lock_guard lock(mutex_);
        const bool watched = std::any_of(
            detectors_.begin(), detectors_.end(),
            [&](const auto& detector) { return detector->Stream().index == stream.index; });
        const auto failures = failed_.find(stream.index);
        const bool givenUp = failures != failed_.end() && failures->second >= kMaxCaptureAttempts;
        if (!watched && !givenUp) {
            detectors_.push_back(std::make_unique<ProgramStreamDetector>(
                backend_, stream, triggers_, references_, verification_, launcher_, clock_,
                firings_));
        }
    }
}

}  // namespace hushwell
