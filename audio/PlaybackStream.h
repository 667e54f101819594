#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace hushwell {

// One program as the sound server knows it: the process binary and the application name its
// playback streams carry. Every stream with both values equal belongs to the same program.
// A plain value; any thread.
struct ProgramIdentity {
    std::string binary;           // e.g. "firefox"; empty when the server does not say
    std::string applicationName;  // e.g. "Firefox"; empty when the server does not say

    bool operator==(const ProgramIdentity&) const = default;
    // Nothing names the program: its streams cannot be told from another's.
    bool IsUnknown() const { return binary.empty() && applicationName.empty(); }
    // The name a log line gives: the binary, or the application name without one.
    const std::string& DisplayName() const { return binary.empty() ? applicationName : binary; }
};

// One playback stream of a program on an output, as the sound server last described it.
struct PlaybackStream {
    static constexpr std::uint32_t kNoIndex = 0xffffffffu;

    std::uint32_t index = kNoIndex;  // the server's index of the stream
    std::string outputId;            // the output it plays on (AudioEndpoint::GetId)
    ProgramIdentity program;
    bool corked = false;  // paused by its program: it plays nothing
    bool muted = false;
    float volume = 1.0f;  // the largest channel volume over the normal volume, up to 1
};

// What was changed on one program's playback stream and not yet given back: the mute and
// volume found there and those set (each pair only when that was changed).
struct StreamChange {
    std::uint32_t index = PlaybackStream::kNoIndex;
    ProgramIdentity program;
    std::optional<bool> muteBefore;
    std::optional<bool> muteSet;
    std::optional<float> volumeBefore;
    std::optional<float> volumeSet;

    bool operator==(const StreamChange&) const = default;
    bool ChangesMute() const { return muteBefore && muteSet && *muteBefore != *muteSet; }
    bool ChangesVolume() const { return volumeBefore && volumeSet && *volumeBefore != *volumeSet; }
};

}  // namespace hushwell
