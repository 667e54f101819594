#pragma once

#include <cstddef>

namespace hushwell {

// Decides, for each delivery of captured audio queued for detection, whether the detection
// thread is woken for it. A delivery with sound wakes it, as does every delivery of the first
// second of digital silence after sound (every sample zero): the passes that match the end of
// a sound look into the silence after it. Once the silence has lasted longer, the thread is
// woken once kBlocksPerWakeUp silent blocks wait (about half a second) instead of 20 times a
// second: silence fires nothing, and the first delivery with sound wakes the thread at once.
//
// Threads: the capture thread, under the engine's feed lock.
class SilenceWakeUps {
public:
    static constexpr std::size_t kBlocksBeforeGrouping = 100;  // 10 ms blocks: one second
    static constexpr std::size_t kBlocksPerWakeUp = 50;

    // `blocks` were queued, `heard` when any of their samples is not zero. True when the
    // detection thread is to be woken.
    bool OnDelivery(std::size_t blocks, bool heard);
    // Detection starts again: the next delivery is treated as if sound had just been heard.
    void Restart();

private:
    std::size_t silentSinceSound_ = 0;  // silent blocks since the last sound
    std::size_t waiting_ = 0;           // blocks queued since the last wake-up
};

}  // namespace hushwell
