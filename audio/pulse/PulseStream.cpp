#include "audio/pulse/PulseStream.h"

#include <pulse/stream.h>

namespace hushwell {

PulseStream::~PulseStream() {
    Reset();
}

void PulseStream::Reset(pa_stream* stream) {
    if (stream_ != nullptr) {
        pa_stream_set_state_callback(stream_, nullptr, nullptr);
        pa_stream_set_read_callback(stream_, nullptr, nullptr);
        pa_stream_set_write_callback(stream_, nullptr, nullptr);
        const pa_stream_state_t state = pa_stream_get_state(stream_);
        if (state == PA_STREAM_CREATING || state == PA_STREAM_READY) {
            pa_stream_disconnect(stream_);
        }
        pa_stream_unref(stream_);
    }
    stream_ = stream;
}

}  // namespace hushwell
