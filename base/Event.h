#pragma once

#include <chrono>
#include <cstddef>
#include <initializer_list>
#include <optional>
#include <vector>

namespace hushwell {

// A signalable event in the manner the program's threads wait on: an auto-reset event
// wakes exactly one waiter and clears itself; a manual-reset event stays set until Reset.
// Backed by an eventfd, so any thread may Set/Reset/Wait at any time.
class Event {
public:
    enum class Mode { AutoReset, ManualReset };

    explicit Event(Mode mode = Mode::AutoReset, bool initiallySet = false);
    ~Event();
    Event(const Event&) = delete;
    Event& operator=(const Event&) = delete;

    // Any thread.
    void Set();
    void Reset();
    // True when the event is set; an auto-reset event is consumed by a successful Wait only.
    bool IsSet() const;
    // Waits until set (consuming an auto-reset event). Returns false on time-out.
    bool Wait(std::chrono::milliseconds timeout);
    void Wait();

    bool IsManualReset() const { return mode_ == Mode::ManualReset; }
    int Fd() const { return fd_; }

    // Takes the signal if set: consumes an auto-reset event, leaves a manual one set.
    bool TryTake();

private:
    Mode mode_;
    int fd_;
};

// Waits until one of the events is set and returns its index. When several are set the
// lowest index wins (the priority order), and only that one is consumed. Returns
// std::nullopt on time-out; a negative timeout waits forever.
std::optional<std::size_t> WaitForAny(const std::vector<Event*>& events,
                                      std::chrono::milliseconds timeout);

inline constexpr std::chrono::milliseconds kWaitForever{-1};

}  // namespace hushwell
