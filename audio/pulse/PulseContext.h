#pragma once

struct pa_context;

namespace hushwell {

// Owns one pa_context. Destroying it first detaches its callbacks (so none runs with a
// stale pointer), then disconnects and releases it.
//
// Threads: with the main loop's lock held (or on the loop thread).
class PulseContext {
public:
    explicit PulseContext(pa_context* context = nullptr) : context_(context) {}
    ~PulseContext();
    PulseContext(const PulseContext&) = delete;
    PulseContext& operator=(const PulseContext&) = delete;

    pa_context* get() const { return context_; }
    explicit operator bool() const { return context_ != nullptr; }
    // Releases the current context and owns another one (or none).
    void Reset(pa_context* context = nullptr);

private:
    pa_context* context_;
};

}  // namespace hushwell
