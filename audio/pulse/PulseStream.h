#pragma once

struct pa_stream;

namespace hushwell {

// Owns one pa_stream. Destroying it first detaches its callbacks, then disconnects and
// releases it.
//
// Threads: with the main loop's lock held (or on the loop thread).
class PulseStream {
public:
    explicit PulseStream(pa_stream* stream = nullptr) : stream_(stream) {}
    ~PulseStream();
    PulseStream(const PulseStream&) = delete;
    PulseStream& operator=(const PulseStream&) = delete;

    pa_stream* get() const { return stream_; }
    explicit operator bool() const { return stream_ != nullptr; }
    void Reset(pa_stream* stream = nullptr);

private:
    pa_stream* stream_;
};

}  // namespace hushwell
