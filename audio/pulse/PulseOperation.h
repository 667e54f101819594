#pragma once

struct pa_operation;

namespace hushwell {

// Owns one pa_operation reference. Destroying a still running operation cancels it, so its
// callback never runs with a pointer to a waiter that has given up.
//
// Threads: with the main loop's lock held (or on the loop thread).
class PulseOperation {
public:
    explicit PulseOperation(pa_operation* operation = nullptr) : operation_(operation) {}
    ~PulseOperation();
    PulseOperation(const PulseOperation&) = delete;
    PulseOperation& operator=(const PulseOperation&) = delete;

    // False when libpulse could not start the operation (the call returned null).
    bool Started() const { return operation_ != nullptr; }
    bool Running() const;

private:
    pa_operation* operation_;
};

}  // namespace hushwell
