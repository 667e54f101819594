#include "audio/simulated/SimulatedPlaybackStreams.h"

#include <cmath>

namespace hushwell {

using Lock = std::lock_guard<std::mutex>;

std::uint32_t SimulatedPlaybackStreams::Add(const std::string& outputId,
                                            const ProgramIdentity& program, float volume) {
    Lock lock(mutex_);
    Entry entry;
    entry.stream.index = nextIndex_++;
    entry.stream.outputId = outputId;
    entry.stream.program = program;
    entry.stream.volume = volume;
    streams_[entry.stream.index] = entry;
    return entry.stream.index;
}

std::uint32_t SimulatedPlaybackStreams::AddRemembered(const std::string& outputId,
                                                      const ProgramIdentity& program) {
    const auto memory = Remembered(program);
    const std::uint32_t index = Add(outputId, program, memory ? memory->second : 1.0f);
    if (memory) {
        Lock lock(mutex_);
        streams_[index].stream.muted = memory->first;
    }
    return index;
}

std::optional<std::pair<bool, float>> SimulatedPlaybackStreams::Remembered(
    const ProgramIdentity& program) const {
    Lock lock(mutex_);
    const auto found = remembered_.find({program.binary, program.applicationName});
    if (found == remembered_.end()) {
        return std::nullopt;
    }
    return std::pair(found->second.muted, found->second.volume);
}

void SimulatedPlaybackStreams::RememberLocked(const PlaybackStream& stream) {
    remembered_[{stream.program.binary, stream.program.applicationName}] = {stream.muted,
                                                                            stream.volume};
}

AudioResult SimulatedPlaybackStreams::GiveBackRemembered(const StreamChange& change) {
    Lock lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    const auto found = remembered_.find({change.program.binary, change.program.applicationName});
    if (found == remembered_.end()) {
        return AudioResult::Ok;
    }
    Memory& memory = found->second;
    if (change.ChangesMute() && memory.muted == *change.muteSet) {
        memory.muted = *change.muteBefore;
    }
    if (change.ChangesVolume() && std::abs(memory.volume - *change.volumeSet) <= 0.005f) {
        memory.volume = *change.volumeBefore;
    }
    return AudioResult::Ok;
}

bool SimulatedPlaybackStreams::Remove(std::uint32_t index) {
    Lock lock(mutex_);
    return streams_.erase(index) > 0;
}

bool SimulatedPlaybackStreams::SetCorked(std::uint32_t index, bool corked) {
    Lock lock(mutex_);
    const auto found = streams_.find(index);
    if (found == streams_.end()) {
        return false;
    }
    found->second.stream.corked = corked;
    return true;
}

bool SimulatedPlaybackStreams::SetUserMute(std::uint32_t index, bool mute) {
    Lock lock(mutex_);
    const auto found = streams_.find(index);
    if (found == streams_.end()) {
        return false;
    }
    found->second.stream.muted = mute;
    RememberLocked(found->second.stream);
    return true;
}

bool SimulatedPlaybackStreams::SetUserVolume(std::uint32_t index, float level) {
    Lock lock(mutex_);
    const auto found = streams_.find(index);
    if (found == streams_.end() || !(level >= 0.0f && level <= 1.0f)) {
        return false;
    }
    found->second.stream.volume = level;
    RememberLocked(found->second.stream);
    return true;
}

std::optional<PlaybackStream> SimulatedPlaybackStreams::Find(std::uint32_t index) const {
    Lock lock(mutex_);
    const auto found = streams_.find(index);
    if (found == streams_.end()) {
        return std::nullopt;
    }
    return found->second.stream;
}

int SimulatedPlaybackStreams::MuteCalls(std::uint32_t index) const {
    Lock lock(mutex_);
    const auto found = streams_.find(index);
    return found == streams_.end() ? 0 : found->second.muteCalls;
}

int SimulatedPlaybackStreams::VolumeSetCalls(std::uint32_t index) const {
    Lock lock(mutex_);
    const auto found = streams_.find(index);
    return found == streams_.end() ? 0 : found->second.volumeSetCalls;
}

void SimulatedPlaybackStreams::SetServerAvailable(bool available) {
    Lock lock(mutex_);
    serverAvailable_ = available;
}

AudioResult SimulatedPlaybackStreams::List(std::vector<PlaybackStream>& streams) const {
    Lock lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    streams.clear();
    for (const auto& [index, entry] : streams_) {
        streams.push_back(entry.stream);
    }
    return AudioResult::Ok;
}

AudioResult SimulatedPlaybackStreams::SetMute(std::uint32_t index, bool mute) {
    Lock lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    const auto found = streams_.find(index);
    if (found == streams_.end()) {
        return AudioResult::NotFound;
    }
    found->second.stream.muted = mute;
    ++found->second.muteCalls;
    RememberLocked(found->second.stream);
    return AudioResult::Ok;
}

AudioResult SimulatedPlaybackStreams::GetVolume(std::uint32_t index, float& level) const {
    Lock lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    const auto found = streams_.find(index);
    if (found == streams_.end()) {
        return AudioResult::NotFound;
    }
    level = found->second.stream.volume;
    return AudioResult::Ok;
}

AudioResult SimulatedPlaybackStreams::SetVolume(std::uint32_t index, float level) {
    if (!(level >= 0.0f && level <= 1.0f)) {
        return AudioResult::InvalidArgument;
    }
    Lock lock(mutex_);
    if (!serverAvailable_) {
        return AudioResult::NoServer;
    }
    const auto found = streams_.find(index);
    if (found == streams_.end()) {
        return AudioResult::NotFound;
    }
    found->second.stream.volume = level;
    ++found->second.volumeSetCalls;
    RememberLocked(found->second.stream);
    return AudioResult::Ok;
}

}  // namespace hushwell
