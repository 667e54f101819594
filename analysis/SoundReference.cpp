#include "analysis/SoundReference.h"

#include <utility>

namespace hushwell {

SoundReference::SoundReference(std::vector<float> features, float matchThreshold)
    : features_(std::move(features)), matchThreshold_(matchThreshold) {}

}  // namespace hushwell
