#include "audio/SoundServerKind.h"

namespace hushwell {

namespace {

// PipeWire's PulseAudio server calls itself "PulseAudio (on PipeWire x.y.z)".
constexpr std::string_view kPipeWireMarker = "PipeWire";
constexpr std::string_view kPulseAudioName = "pulseaudio";
constexpr std::string_view kSimulatedName = "Simulated";

}  // namespace

SoundServerKind ClassifySoundServer(std::string_view serverName) {
    if (serverName.find(kPipeWireMarker) != std::string_view::npos) {
        return SoundServerKind::PipeWire;
    }
    if (serverName == kPulseAudioName) {
        return SoundServerKind::PulseAudio;
    }
    if (serverName.starts_with(kSimulatedName)) {
        return SoundServerKind::Simulated;
    }
    return SoundServerKind::Unknown;
}

}  // namespace hushwell
