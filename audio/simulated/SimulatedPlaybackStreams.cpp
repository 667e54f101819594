#include "audio/simulated/SimulatedPlaybackStreams.h"

#include <cmath>

namespace hushwell {

using Lock = std::lock_guard<std::mutex>;

template <typename Change>
bool SimulatedPlaybackStreams::ChangeStream(std::uint32_t index, Change change) {
    Lock lock(mutex_);
    const auto found = streams_.find(index);
    if (found == streams_.end()) {
        return false;
    }
    change(found->second);
    return true;
}

template <typename Self, typename Call>
AudioResult SimulatedPlaybackStreams::CallOnStream(Self& self, std::uint32_t index, Call call) {
    Lock lock(self.mutex_);
    if (!self.serverAvailable_) {
        return AudioResult::NoServer;
    }
    const auto found = self.streams_.find(index);
    if (found == self.streams_.end()) {
        return AudioResult::NotFound;
    }
    call(found->second);
    return AudioResult::Ok;
}

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
        ChangeStream(index, [&](Entry& entry) { entry.stream.muted = memory->first; });
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
    return ChangeStream(index, [&](Entry& entry) { entry.stream.corked = corked; });
}

bool SimulatedPlaybackStreams::SetUserMute(std::uint32_t index, bool mute) {
    return ChangeStream(index, [&](Entry& entry) {
        entry.stream.muted = mute;
        RememberLocked(entry.stream);
    });
}

bool SimulatedPlaybackStreams::SetUserVolume(std::uint32_t index, float level) {
    if (!(level >= 0.0f && level <= 1.0f)) {
        return false;
    }
    return ChangeStream(index, [&](Entry& entry) {
        entry.stream.volume = level;
        RememberLocked(entry.stream);
    });
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
    return CallOnStream(*this, index, [&](Entry& entry) {
        entry.stream.muted = mute;
        ++entry.muteCalls;
        RememberLocked(entry.stream);
    });
}

AudioResult SimulatedPlaybackStreams::GetVolume(std::uint32_t index, float& level) const {
    return CallOnStream(*this, index, [&](const Entry& entry) { level = entry.stream.volume; });
}

AudioResult SimulatedPlaybackStreams::SetVolume(std::uint32_t index, float level) {
    if (!(level >= 0.0f && level <= 1.0f)) {
        return AudioResult::InvalidArgument;
    }
    return CallOnStream(*this, index, [&](Entry& entry) {
        entry.stream.volume = level;
        ++entry.volumeSetCalls;
        RememberLocked(entry.stream);
    });
}

}  // namespace hushwell
