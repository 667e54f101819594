#include "triggers/ProgramVolumeManager.h"

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <utility>

#include "audio/AudioBackend.h"
#include "audio/EndpointVolume.h"

namespace hushwell {

using Lock = std::unique_lock<std::mutex>;

ProgramVolumeManager::ProgramVolumeManager(AudioBackend& backend,
                                           std::chrono::milliseconds followInterval)
    : backend_(backend), followInterval_(followInterval), worker_([this] { WorkerMain(); }) {}

ProgramVolumeManager::~ProgramVolumeManager() {
    {
        Lock lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

ProgramVolumeManager::Token ProgramVolumeManager::Apply(const ProgramIdentity& program,
                                                        ControlKind kind, int steps) {
    const bool known = kind == ControlKind::Mute || kind == ControlKind::Unmute ||
                       kind == ControlKind::Down || kind == ControlKind::Up;
    if (!known || program.IsUnknown()) {
        return 0;
    }
    Token token = 0;
    {
        Lock lock(mutex_);
        token = nextToken_++;
        holds_[token] = Hold{program, kind, std::abs(steps)};
        ++requestSerial_;
    }
    wake_.notify_all();
    return token;
}

void ProgramVolumeManager::Undo(Token token) {
    {
        Lock lock(mutex_);
        if (holds_.erase(token) == 0) {
            return;
        }
        ++requestSerial_;
    }
    wake_.notify_all();
}

void ProgramVolumeManager::SetRecordFunction(RecordFunction record) {
    std::lock_guard lock(recordMutex_);
    record_ = std::move(record);
}

std::vector<ProgramIdentity> ProgramVolumeManager::HeldPrograms() const {
    Lock lock(mutex_);
    std::vector<ProgramIdentity> programs;
    for (const auto& [token, hold] : holds_) {
        if (std::find(programs.begin(), programs.end(), hold.program) == programs.end()) {
            programs.push_back(hold.program);
        }
    }
    return programs;
}

bool ProgramVolumeManager::WaitUntilIdle(std::chrono::milliseconds timeout) const {
    Lock lock(mutex_);
    const std::uint64_t wanted = requestSerial_;
    return idle_.wait_for(lock, timeout, [&] { return doneSerial_ >= wanted || quit_; });
}

// --- Worker thread ---------------------------------------------------------------------------

void ProgramVolumeManager::WorkerMain() {
    Lock lock(mutex_);
    for (;;) {
        const auto requested = [this] { return quit_ || requestSerial_ != doneSerial_; };
        if (!holds_.empty() || !touched_.empty() || !ended_.empty()) {
            wake_.wait_for(lock, followInterval_, requested);  // follow the program's streams
        } else {
            wake_.wait(lock, requested);
        }
        if (quit_) {
            break;
        }
        const std::uint64_t serial = requestSerial_;
        std::vector<Hold> holds;
        for (const auto& [token, hold] : holds_) {
            holds.push_back(hold);
        }
        lock.unlock();
        Reconcile(holds);
        lock.lock();
        doneSerial_ = serial;
        idle_.notify_all();
    }
    lock.unlock();
    Reconcile({});  // the program ends: nothing stays changed
    lock.lock();
    doneSerial_ = requestSerial_;
    idle_.notify_all();
}

std::map<std::uint32_t, ProgramVolumeManager::Wanted> ProgramVolumeManager::WantedByStream(
    const std::vector<Hold>& holds, const std::vector<PlaybackStream>& streams) {
    std::map<std::uint32_t, Wanted> wanted;
    for (const PlaybackStream& stream : streams) {
        bool held = false;
        bool mute = false;
        bool unmute = false;
        int steps = 0;
        for (const Hold& hold : holds) {
            if (!(hold.program == stream.program)) {
                continue;
            }
            held = true;
            mute = mute || hold.kind == ControlKind::Mute;
            unmute = unmute || hold.kind == ControlKind::Unmute;
            steps += hold.kind == ControlKind::Up     ? hold.steps
                     : hold.kind == ControlKind::Down ? -hold.steps
                                                      : 0;
        }
        if (held) {
            Wanted& entry = wanted[stream.index];
            entry.mute = mute ? std::optional<bool>(true)
                              : (unmute ? std::optional<bool>(false) : std::nullopt);
            entry.steps = steps;
        }
    }
    return wanted;
}

void ProgramVolumeManager::Reconcile(const std::vector<Hold>& holds) {
    std::vector<PlaybackStream> streams;
    if (!holds.empty() || !touched_.empty() || !ended_.empty()) {
        if (backend_.ListPlaybackStreams(streams) != AudioResult::Ok) {
            return;  // the next request or follow-up tries again
        }
    }
    const std::map<std::uint32_t, Wanted> wanted = WantedByStream(holds, streams);
    createdThisPass_.clear();
    // Streams the program opened since the last look, no longer held: those that started
    // with what was set on a sibling are given back with it.
    std::vector<std::pair<PlaybackStream, StreamChange>> latecomers;
    for (const PlaybackStream& stream : streams) {
        if (!wanted.contains(stream.index) && !touched_.contains(stream.index)) {
            if (std::optional<StreamChange> inherited = InheritedChange(stream)) {
                latecomers.emplace_back(stream, std::move(*inherited));
            }
        }
    }
    std::set<std::uint32_t> present;
    for (const PlaybackStream& stream : streams) {
        present.insert(stream.index);
        const auto held = wanted.find(stream.index);
        if (held != wanted.end()) {
            ApplyTo(stream, held->second);
        } else if (const auto touched = touched_.find(stream.index); touched != touched_.end()) {
            UndoMute(stream, touched->second);
            UndoVolume(stream, touched->second);
            touched_.erase(touched);
        }
    }
    for (auto& [stream, change] : latecomers) {
        UndoMute(stream, change);
        UndoVolume(stream, change);
    }
    KeepEnded(present);
    GiveBackEnded(holds);
    Record();
}

// What a stream that arrived with the mute or volume set on a sibling (or on a stream that
// ended) inherited from it; nothing when it arrived with its own.
std::optional<StreamChange> ProgramVolumeManager::InheritedChange(
    const PlaybackStream& stream) const {
    StreamChange change;
    change.index = stream.index;
    change.program = stream.program;
    for (const StreamChange* sibling : EarlierChangesOf(stream)) {
        if (!change.muteSet && sibling->ChangesMute() && stream.muted == *sibling->muteSet) {
            change.muteBefore = sibling->muteBefore;
            change.muteSet = sibling->muteSet;
        }
        if (!change.volumeSet && sibling->ChangesVolume() &&
            std::abs(stream.volume - *sibling->volumeSet) <= kSameLevel) {
            change.volumeBefore = sibling->volumeBefore;
            change.volumeSet = sibling->volumeSet;
        }
    }
    if (!change.muteSet && !change.volumeSet) {
        return std::nullopt;
    }
    return change;
}

// The changes made in earlier passes to the program's other streams, and to its ended ones.
std::vector<const StreamChange*> ProgramVolumeManager::EarlierChangesOf(
    const PlaybackStream& stream) const {
    std::vector<const StreamChange*> earlier;
    for (const auto& [index, change] : touched_) {
        if (index != stream.index && change.program == stream.program &&
            !createdThisPass_.contains(index)) {
            earlier.push_back(&change);
        }
    }
    for (const StreamChange& change : ended_) {
        if (change.program == stream.program) {
            earlier.push_back(&change);
        }
    }
    return earlier;
}

// What a stream had before the program was held. A stream the program opens while held may
// start with the mute or volume set on a sibling, which the server remembered for the
// program: it then had what that sibling had before.
void ProgramVolumeManager::NoteBefore(const PlaybackStream& stream, StreamChange& change, bool mute,
                                      bool volume) const {
    const std::vector<const StreamChange*> earlier = EarlierChangesOf(stream);
    if (mute && !change.muteBefore) {
        change.muteBefore = stream.muted;
        for (const StreamChange* sibling : earlier) {
            if (sibling->ChangesMute() && stream.muted == *sibling->muteSet) {
                change.muteBefore = sibling->muteBefore;
                break;
            }
        }
    }
    if (volume && !change.volumeBefore) {
        change.volumeBefore = stream.volume;
        for (const StreamChange* sibling : earlier) {
            if (sibling->ChangesVolume() &&
                std::abs(stream.volume - *sibling->volumeSet) <= kSameLevel) {
                change.volumeBefore = sibling->volumeBefore;
                break;
            }
        }
    }
}

void ProgramVolumeManager::ApplyTo(const PlaybackStream& stream, const Wanted& wanted) {
    if (!touched_.contains(stream.index)) {
        createdThisPass_.insert(stream.index);
    }
    StreamChange& change = touched_[stream.index];
    change.index = stream.index;
    change.program = stream.program;
    NoteBefore(stream, change, wanted.mute.has_value(), wanted.steps != 0);
    std::optional<bool> mute;
    if (wanted.mute && change.muteSet != wanted.mute) {
        change.muteSet = wanted.mute;
        mute = wanted.mute;
    } else if (!wanted.mute) {
        UndoMute(stream, change);
    }
    std::optional<float> level;
    if (wanted.steps != 0) {
        const float target = std::clamp(
            *change.volumeBefore + static_cast<float>(wanted.steps) * kStepLevel, 0.0f, 1.0f);
        if (change.volumeSet != target) {
            change.volumeSet = target;
            level = target;
        }
    } else {
        UndoVolume(stream, change);
    }
    Record();  // what is about to change is on record first
    if (mute && stream.muted != *mute) {
        SetStreamMute(stream.index, *mute);
    }
    if (level) {
        SetStreamVolume(stream.index, *level);
    }
    if (!change.muteSet && !change.volumeSet) {
        touched_.erase(stream.index);
    }
}

void ProgramVolumeManager::UndoMute(const PlaybackStream& stream, StreamChange& change) {
    if (change.ChangesMute() && stream.muted == *change.muteSet) {
        SetStreamMute(stream.index, *change.muteBefore);
    }
    change.muteSet.reset();
    change.muteBefore.reset();
}

void ProgramVolumeManager::UndoVolume(const PlaybackStream& stream, StreamChange& change) {
    if (change.ChangesVolume() && std::abs(stream.volume - *change.volumeSet) <= kSameLevel) {
        SetStreamVolume(stream.index, *change.volumeBefore);
    }
    change.volumeSet.reset();
    change.volumeBefore.reset();
}

// A stream that ended while changed took its change along, but the server may remember it
// for the program's next stream: the last such change of each program is kept.
void ProgramVolumeManager::KeepEnded(const std::set<std::uint32_t>& present) {
    for (auto entry = touched_.begin(); entry != touched_.end();) {
        if (present.contains(entry->first)) {
            ++entry;
            continue;
        }
        const StreamChange& change = entry->second;
        if (change.ChangesMute() || change.ChangesVolume()) {
            std::erase_if(ended_,
                          [&](const StreamChange& kept) { return kept.program == change.program; });
            ended_.push_back(change);
        }
        entry = touched_.erase(entry);
    }
}

// Once nothing holds a program any more, the server's memory of it is given back.
void ProgramVolumeManager::GiveBackEnded(const std::vector<Hold>& holds) {
    std::erase_if(ended_, [&](const StreamChange& change) {
        const bool held = std::any_of(holds.begin(), holds.end(), [&](const Hold& hold) {
            return hold.program == change.program;
        });
        if (held) {
            return false;
        }
        const AudioResult result = backend_.GiveBackRememberedState(change);
        return result == AudioResult::Ok || result == AudioResult::Unsupported ||
               result == AudioResult::NotFound;
    });
}

void ProgramVolumeManager::Record() {
    std::vector<StreamChange> changes;
    for (const auto& [index, change] : touched_) {
        if (change.ChangesMute() || change.ChangesVolume()) {
            changes.push_back(change);
        }
    }
    changes.insert(changes.end(), ended_.begin(), ended_.end());
    if (changes == recorded_) {
        return;
    }
    RecordFunction record;
    {
        std::lock_guard lock(recordMutex_);
        record = record_;
    }
    if (!record || record(changes)) {
        recorded_ = std::move(changes);
    }
}

// A stream that ended between the listing and the call gives NotFound: nothing to do.
void ProgramVolumeManager::SetStreamMute(std::uint32_t index, bool mute) {
    std::unique_ptr<EndpointVolume> volume;
    if (backend_.ActivateStreamVolume(index, volume) == AudioResult::Ok && volume) {
        volume->SetMute(mute);
    }
}

void ProgramVolumeManager::SetStreamVolume(std::uint32_t index, float level) {
    std::unique_ptr<EndpointVolume> volume;
    if (backend_.ActivateStreamVolume(index, volume) == AudioResult::Ok && volume) {
        volume->SetMasterVolumeLevelScalar(level);
    }
}

}  // namespace hushwell
