#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "audio/AudioResult.h"
#include "audio/PlaybackStream.h"

namespace hushwell {

// The programs' playback streams of the simulated sound system: streams that tests open and
// end, pause and change as a user would, and whose mute and volume the program sets through
// SimulatedStreamVolume (those calls are counted). Stream indices are never reused.
//
// Like a real server it remembers each program's mute and volume as last set on one of its
// streams (by the program, the user or Hushwell), and AddRemembered opens a stream with them,
// as a program's next stream starts on a real server.
//
// Threads: any thread; one lock guards everything.
class SimulatedPlaybackStreams {
public:
    // A new stream of the program on the output; its index.
    std::uint32_t Add(const std::string& outputId, const ProgramIdentity& program,
                      float volume = 1.0f);
    // A new stream of the program with the mute and volume remembered for it (unmuted at
    // full volume when nothing is).
    std::uint32_t AddRemembered(const std::string& outputId, const ProgramIdentity& program);
    // What is remembered of the program: {muted, volume}; nothing when nothing is.
    std::optional<std::pair<bool, float>> Remembered(const ProgramIdentity& program) const;
    // Each returns false when no such stream plays.
    bool Remove(std::uint32_t index);
    bool SetCorked(std::uint32_t index, bool corked);
    // The user moving the stream's own slider or mute button: not counted as calls.
    bool SetUserMute(std::uint32_t index, bool mute);
    bool SetUserVolume(std::uint32_t index, float level);

    std::optional<PlaybackStream> Find(std::uint32_t index) const;
    int MuteCalls(std::uint32_t index) const;
    int VolumeSetCalls(std::uint32_t index) const;
    // With the server gone every call gives NoServer.
    void SetServerAvailable(bool available);

    // The backend's calls.
    AudioResult List(std::vector<PlaybackStream>& streams) const;
    AudioResult SetMute(std::uint32_t index, bool mute);
    AudioResult GetVolume(std::uint32_t index, float& level) const;
    AudioResult SetVolume(std::uint32_t index, float level);
    AudioResult GiveBackRemembered(const StreamChange& change);

private:
    struct Entry {
        PlaybackStream stream;
        int muteCalls = 0;
        int volumeSetCalls = 0;
    };

    struct Memory {
        bool muted = false;
        float volume = 1.0f;
    };
    void RememberLocked(const PlaybackStream& stream);

    // Each takes the lock, finds the stream's entry and hands it to `change` while the lock is
    // held. The user's side: false when no such stream plays.
    template <typename Change>
    bool ChangeStream(std::uint32_t index, Change change);
    // The backend's side: NoServer with the server gone, NotFound when no such stream plays.
    // Static with `self` for *this, so that the const calls share it.
    template <typename Self, typename Call>
    static AudioResult CallOnStream(Self& self, std::uint32_t index, Call call);

    mutable std::mutex mutex_;
    std::map<std::uint32_t, Entry> streams_;
    std::map<std::pair<std::string, std::string>, Memory> remembered_;  // by binary, name
    std::uint32_t nextIndex_ = 1;
    bool serverAvailable_ = true;
};

}  // namespace hushwell
