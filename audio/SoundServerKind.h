#pragma once

#include <string_view>

namespace hushwell {

// Which sound server answers the PulseAudio protocol. It matters for detection: PipeWire's
// monitor carries the output before its volume and mute, plain PulseAudio's after them.
enum class SoundServerKind { PipeWire, PulseAudio, Simulated, Unknown };

// Classifies the name AudioBackend::QueryServerName returned. Any thread.
SoundServerKind ClassifySoundServer(std::string_view serverName);

}  // namespace hushwell
