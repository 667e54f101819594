#pragma once

#include <atomic>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hushwell {
class TriggerList;
class WaveData;
}  // namespace hushwell

namespace hushwell::scan {

// One decision on a sound: where a sound trigger fired, or where verification turned its
// candidate down.
struct TrialMark {
    double seconds = 0.0;  // from the start of the sound, when the decision was taken
    std::string trigger;
    float score = 0.0f;
    float threshold = 0.0f;
    bool fired = false;  // false: a rejected candidate
};

// Tries sound triggers on a sound held in memory, as the scan tool tries them on a recording:
// the program's detection step over 10 ms blocks with a simulated clock, after the same
// lead-in of silence, controls reported instead of carried out. Rejected candidates are
// marked once per run of passes, as the scan tool's "--scores" lists them.
//
// Threads: any one thread (the sound editor runs it on its worker); it reads sound files but
// shares nothing with other threads except the cancel flag.
class TrialScan {
public:
    struct Request {
        // The triggers: a copy of the list, with its base folder. Only active sound triggers
        // are tried, or only the one with onlySerial when given.
        const TriggerList* triggers = nullptr;
        std::optional<std::uint32_t> onlySerial;
        // Where sound names without an absolute base folder are found.
        std::string triggersFolder;
        // "Verify matches" as the program applies it.
        bool verification = true;
        // Set from another thread to end the scan early.
        const std::atomic<bool>* cancel = nullptr;
    };

    // The marks in time order. A sound of more than two channels is tried on its first two.
    static std::vector<TrialMark> Run(const Request& request, const WaveData& sound);
};

}  // namespace hushwell::scan
