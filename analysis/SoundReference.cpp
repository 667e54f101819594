#include "analysis/SoundReference.h"

#include <utility>

namespace hushwell {

SoundReference::SoundReference(std::vector<float> features, float matchThreshold)
    : features_(std::move(features)),
      featureCount_(features_.size()),
      matchThreshold_(matchThreshold) {}

void SoundReference::ReleaseFeatures() {
    std::vector<float>().swap(features_);
    tracks_ = TonalPattern{};
}

}  // namespace hushwell
