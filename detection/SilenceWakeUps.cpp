#include "detection/SilenceWakeUps.h"

namespace hushwell {

bool SilenceWakeUps::OnDelivery(std::size_t blocks, bool heard) {
    if (blocks == 0) {
        return false;
    }
    silentSinceSound_ = heard ? 0 : silentSinceSound_ + blocks;
    waiting_ += blocks;
    if (silentSinceSound_ > kBlocksBeforeGrouping && waiting_ < kBlocksPerWakeUp) {
        return false;
    }
    waiting_ = 0;
    return true;
}

void SilenceWakeUps::Restart() {
    silentSinceSound_ = 0;
    waiting_ = 0;
}

}  // namespace hushwell
