#include "analysis/WhitenedBands.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hushwell {

namespace {

using C = WhitenedBandConstants;

constexpr float kRisePerFrame = C::kFloorRiseDbPerSecond * static_cast<float>(C::kLiveHop) /
                                static_cast<float>(C::kInternalRate);
// Power added before taking the logarithm, so that silence reads as kSilentDb.
constexpr double kSilentPower = 1e-10;
// Live frames kept: enough for the longest pattern from any pass of a run, with room to spare;
// the oldest go in bulk once twice as many are held.
constexpr std::size_t kKeptFrames = 4 * C::kMaxPatternFrames * C::kLiveFramesPerReferenceFrame;

std::uint8_t Quantized(float db, int most) {
    const float steps = std::round(db * C::kStepsPerDb);
    return static_cast<std::uint8_t>(std::clamp(steps, 0.0f, static_cast<float>(most)));
}

}  // namespace

WhitenedBands::WhitenedBands() {
    for (int i = 0; i < C::kFrameLength; ++i) {
        window_[static_cast<std::size_t>(i)] = static_cast<float>(
            0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (C::kFrameLength - 1)));
    }
    // Edges spaced evenly in log frequency, each band at least one bin wide.
    const double binHz = static_cast<double>(C::kInternalRate) / C::kFrameLength;
    const double ratio = std::log(static_cast<double>(C::kHighestHz) / C::kLowestHz);
    for (int b = 0; b <= C::kBandCount; ++b) {
        const double hz = C::kLowestHz * std::exp(ratio * b / C::kBandCount);
        int edge = static_cast<int>(std::lround(hz / binHz));
        if (b > 0) {
            edge = std::max(edge, bandEdges_[static_cast<std::size_t>(b - 1)] + 1);
        }
        bandEdges_[static_cast<std::size_t>(b)] = edge;
    }
}

void WhitenedBands::LevelsOf(const float* start, std::array<float, C::kBandCount>& levels) {
    if (std::all_of(start, start + C::kFrameLength, [](float x) { return x == 0.0f; })) {
        levels.fill(C::kSilentDb);  // silence costs no transform
        return;
    }
    for (std::size_t i = 0; i < scratch_.size(); ++i) {
        scratch_[i] = {start[i] * window_[i], 0.0f};
    }
    fft_.Transform(scratch_);
    for (std::size_t b = 0; b < levels.size(); ++b) {
        double power = kSilentPower;
        for (int k = bandEdges_[b]; k < bandEdges_[b + 1]; ++k) {
            power += std::norm(scratch_[static_cast<std::size_t>(k)]);
        }
        levels[b] = static_cast<float>(10.0 * std::log10(power));
    }
}

std::vector<std::uint8_t> WhitenedBands::ReferencePattern(std::span<const float> sound) {
    const std::size_t whole = sound.size() / C::kReferenceHop;
    if (sound.size() < C::kFrameLength || whole == 0) {
        return {};
    }
    // Frame j of the pattern ends at the (whole - count + j + 1)-th multiple of the hop.
    const std::size_t count = std::min(whole, C::kMaxPatternFrames);
    std::vector<std::array<float, C::kBandCount>> levels(count);
    float loudest = C::kSilentDb;
    for (std::size_t j = 0; j < count; ++j) {
        const std::size_t end = (whole - count + j + 1) * C::kReferenceHop;
        LevelsOf(sound.data() + end - C::kFrameLength, levels[j]);
        loudest = std::max(loudest, *std::max_element(levels[j].begin(), levels[j].end()));
    }
    if (loudest <= C::kSilentDb) {
        return {};
    }
    const float floor = loudest - C::kReferenceRangeDb;
    const int most = static_cast<int>(C::kReferenceRangeDb * C::kStepsPerDb);
    std::vector<std::uint8_t> pattern;
    pattern.reserve(count * C::kBandCount);
    for (const auto& frame : levels) {
        for (const float level : frame) {
            pattern.push_back(Quantized(level - floor, most));
        }
    }
    return pattern;
}

void WhitenedBands::Reset(std::uint64_t origin) {
    origin_ = origin;
    firstFrame_ = 0;
    madeFrames_ = 0;
    pending_.clear();
    liveValues_.clear();
    floorsSet_ = false;
}

void WhitenedBands::Append(std::span<const float> samples) {
    pending_.insert(pending_.end(), samples.begin(), samples.end());
    std::size_t used = 0;
    while (used + C::kFrameLength <= pending_.size()) {
        MakeLiveFrame(pending_.data() + used);
        used += C::kLiveHop;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
    DropOldFrames();
}

// Each band's level above its floor; the floor follows the band down at once and rises by
// kRisePerFrame a frame at most.
void WhitenedBands::MakeLiveFrame(const float* start) {
    std::array<float, C::kBandCount> levels{};
    LevelsOf(start, levels);
    if (!floorsSet_) {
        floors_ = levels;
        floorsSet_ = true;
    }
    for (std::size_t b = 0; b < levels.size(); ++b) {
        floors_[b] = std::min(levels[b], floors_[b] + kRisePerFrame);
        liveValues_.push_back(Quantized(levels[b] - floors_[b], C::kMaxLiveValue));
    }
    ++madeFrames_;
}

void WhitenedBands::DropOldFrames() {
    if (LiveFrameCount() < 2 * kKeptFrames) {
        return;
    }
    const std::size_t drop = LiveFrameCount() - kKeptFrames;
    liveValues_.erase(liveValues_.begin(),
                      liveValues_.begin() + static_cast<std::ptrdiff_t>(drop * C::kBandCount));
    firstFrame_ += drop;
}

bool WhitenedBands::Window(std::uint64_t end, std::size_t frames, WhitenedWindow& out) const {
    out.frames = 0;
    if (madeFrames_ == 0 || end < origin_ + C::kFrameLength) {
        return false;
    }
    const std::uint64_t newest =
        std::min<std::uint64_t>((end - origin_ - C::kFrameLength) / C::kLiveHop, madeFrames_ - 1);
    if (newest < firstFrame_) {
        return false;
    }
    const std::uint64_t step = C::kLiveFramesPerReferenceFrame;
    const auto available = static_cast<std::size_t>((newest - firstFrame_) / step + 1);
    const std::size_t count = std::min({frames, available, C::kMaxPatternFrames});
    const std::size_t bands = C::kBandCount;
    out.frames = count;
    out.end = origin_ + newest * C::kLiveHop + C::kFrameLength;
    out.values.resize(count * bands);
    out.newestSums.assign((count + 1) * bands, 0);
    out.newestSquares.assign((count + 1) * bands, 0);
    for (std::size_t k = 0; k < count; ++k) {
        // k counts back from the newest frame; it lands at row count - 1 - k.
        const std::uint64_t frame = newest - k * step;
        const std::uint8_t* values =
            liveValues_.data() + static_cast<std::size_t>(frame - firstFrame_) * bands;
        std::copy(values, values + bands,
                  out.values.begin() + static_cast<std::ptrdiff_t>((count - 1 - k) * bands));
        for (std::size_t b = 0; b < bands; ++b) {
            const std::int32_t v = values[b];
            out.newestSums[(k + 1) * bands + b] = out.newestSums[k * bands + b] + v;
            out.newestSquares[(k + 1) * bands + b] = out.newestSquares[k * bands + b] + v * v;
        }
    }
    return count > 0;
}

}  // namespace hushwell
