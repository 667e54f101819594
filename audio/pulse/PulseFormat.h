#pragma once

#include <pulse/channelmap.h>
#include <pulse/sample.h>

#include "wav/WaveFormat.h"

namespace hushwell {

// The format of a stream on a sink: what the PulseAudio backend asks the server for and what
// it reports as the mix format.
struct PulseStreamFormat {
    pa_sample_spec sampleSpec{};
    pa_channel_map map{};
    WaveFormat format{};
};

// Chooses the stream format for a sink so that the mix format is one the program can take:
// 16-bit samples for a 16-bit sink, 32-bit float otherwise; the sink's rate when it is one of
// the seven supported rates, else 48000 Hz; the sink's channels (ordered as the wave channel
// mask orders them) up to six, else stereo. The server converts where the sink differs.
// Any thread (pure).
PulseStreamFormat ChooseStreamFormat(const pa_sample_spec& sinkSpec, const pa_channel_map& sinkMap);

}  // namespace hushwell
