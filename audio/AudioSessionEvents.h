#pragma once

namespace hushwell {

// Why a stream's session ended. The numbers are those the program's logic compares against:
// 0 the device went away, 2 the device's format changed.
enum class DisconnectReason : int {
    DeviceRemoval = 0,
    ServerShutdown = 1,
    FormatChanged = 2,
    SessionLogoff = 3,
    SessionDisconnected = 4,
    ExclusiveModeOverride = 5,
};

// Receives the end of an audio session, registered through
// AudioSessionControl::RegisterAudioSessionNotification.
//
// On the PulseAudio backend a removed output, a failed stream and a lost server arrive as
// DeviceRemoval; a changed sample format of the output arrives as FormatChanged.
//
// Threads: called on the audio layer's notification thread, one at a time, never while a
// layer lock is held; it should only set flags and signal events.
class AudioSessionEvents {
public:
    virtual ~AudioSessionEvents() = default;

    virtual void OnSessionDisconnected(DisconnectReason reason) = 0;
};

}  // namespace hushwell
