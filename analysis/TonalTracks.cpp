#include "analysis/TonalTracks.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace hushwell {

namespace {

using C = TonalTrackConstants;

constexpr int kBins = C::kLength / 2 + 1;
// Power added before taking the logarithm, so that silence has a level and no prominence.
constexpr double kSilentPower = 1e-10;
// Live frames kept: the longest pattern from any pass of a run, with room to spare; the oldest
// go in bulk once twice as many are held.
constexpr std::size_t kKeptFrames = 4 * C::kMaxPatternFrames;

constexpr int ToleranceBins(int bin) {
    const int rounded = static_cast<int>(C::kTolerance * static_cast<float>(bin) + 0.5f);
    return rounded > C::kMinToleranceBins ? rounded : C::kMinToleranceBins;
}

// Bins whose level a prominence that is read depends on: the widest tolerance above the last
// bin, and the mean's reach above that.
constexpr int kUsedBins = C::kLastBin + ToleranceBins(C::kLastBin) + C::kAround + 1;
static_assert(kUsedBins <= kBins);

// The largest prominence within the tolerance around `bin`.
float Widened(const std::vector<float>& prominence, int bin) {
    const int tolerance = ToleranceBins(bin);
    const auto first = prominence.begin() + (bin - tolerance);
    const auto last = prominence.begin() + std::min(kBins, bin + tolerance + 1);
    return *std::max_element(first, last);
}

std::uint8_t Quantized(float db) {
    const float steps = std::round(std::clamp(db, 0.0f, C::kMostDb) * C::kStepsPerDb);
    return static_cast<std::uint8_t>(steps);
}

}  // namespace

TonalTracks::TonalTracks() : splitTwiddles_(C::kLength / 2), levels_(kBins), prominence_(kBins) {
    for (std::size_t k = 0; k < splitTwiddles_.size(); ++k) {
        const double angle = 2.0 * std::numbers::pi * static_cast<double>(k) / C::kLength;
        splitTwiddles_[k] = {static_cast<float>(std::cos(angle)),
                             static_cast<float>(-std::sin(angle))};
    }
    for (int i = 0; i < C::kLength; ++i) {
        window_[static_cast<std::size_t>(i)] =
            static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / (C::kLength - 1)));
    }
}

// Prominence of every bin: its level less the mean level of the kAround bins each side (as
// many as there are at the ends of the spectrum). A silent frame has none.
void TonalTracks::ProminenceOf(const float* start, std::vector<float>& prominence,
                               std::vector<float>* levels) {
    prominence.assign(kBins, 0.0f);
    if (std::all_of(start, start + C::kLength, [](float x) { return x == 0.0f; })) {
        if (levels != nullptr) {
            levels->assign(kBins, 10.0f * std::log10(static_cast<float>(kSilentPower)));
        }
        return;
    }
    // Only the bins that a prominence read later depends on.
    PowerSpectrum(start, kUsedBins);
    sums_.assign(kUsedBins + 1, 0.0);
    for (std::size_t k = 0; k < static_cast<std::size_t>(kUsedBins); ++k) {
        levels_[k] = 10.0f * std::log10(power_[k] + static_cast<float>(kSilentPower));
        sums_[k + 1] = sums_[k] + levels_[k];
    }
    for (int k = 0; k < kUsedBins; ++k) {
        const int low = std::max(0, k - C::kAround);
        const int high = std::min(kUsedBins - 1, k + C::kAround);
        const double mean =
            (sums_[static_cast<std::size_t>(high) + 1] - sums_[static_cast<std::size_t>(low)]) /
            (high - low + 1);
        prominence[static_cast<std::size_t>(k)] =
            levels_[static_cast<std::size_t>(k)] - static_cast<float>(mean);
    }
    if (levels != nullptr) {
        *levels = levels_;
    }
}

void TonalTracks::PowerSpectrum(const float* start, int bins) {
    for (std::size_t m = 0; m < packed_.size(); ++m) {
        packed_[m] = {start[2 * m] * window_[2 * m], start[2 * m + 1] * window_[2 * m + 1]};
    }
    halfFft_.Transform(packed_);
    // X[k] = E[k] + w^k O[k], where E and O are the transforms of the even and odd samples:
    // E[k] = (Z[k] + conj Z[N/2 - k]) / 2 and O[k] = (Z[k] - conj Z[N/2 - k]) / 2i.
    const std::size_t half = packed_.size();
    power_.resize(static_cast<std::size_t>(bins));
    for (std::size_t k = 0; k < static_cast<std::size_t>(bins); ++k) {
        const std::complex<float> z = packed_[k % half];
        const std::complex<float> mirrored = std::conj(packed_[(half - k % half) % half]);
        const std::complex<float> sum = z + mirrored;
        const std::complex<float> difference = z - mirrored;
        const float evenRe = 0.5f * sum.real();
        const float evenIm = 0.5f * sum.imag();
        const float oddRe = 0.5f * difference.imag();
        const float oddIm = -0.5f * difference.real();
        const std::complex<float> w = splitTwiddles_[k % half];
        const float re = evenRe + oddRe * w.real() - oddIm * w.imag();
        const float im = evenIm + oddRe * w.imag() + oddIm * w.real();
        power_[k] = re * re + im * im;
    }
}

TonalPattern TonalTracks::ReferencePattern(std::span<const float> sound) {
    const std::size_t hops = sound.size() / C::kHop;
    const std::size_t count = std::min(hops, C::kMaxPatternFrames);
    if (count == 0) {
        return {};
    }
    // The frames' prominence, and each bin's highest prominence and level over them.
    std::vector<std::vector<float>> frames(count);
    std::vector<float> top(kBins, 0.0f);
    std::vector<float> loudest(kBins, -1e9f);
    std::vector<float> levels;
    frameScratch_.assign(C::kLength, 0.0f);
    for (std::size_t j = 0; j < count; ++j) {
        const std::size_t end = (hops - count + j + 1) * C::kHop;
        const std::size_t begin =
            end >= static_cast<std::size_t>(C::kLength) ? end - C::kLength : 0;
        const std::size_t pad = C::kLength - (end - begin);
        std::fill(frameScratch_.begin(), frameScratch_.begin() + static_cast<std::ptrdiff_t>(pad),
                  0.0f);
        std::copy(sound.begin() + static_cast<std::ptrdiff_t>(begin),
                  sound.begin() + static_cast<std::ptrdiff_t>(end),
                  frameScratch_.begin() + static_cast<std::ptrdiff_t>(pad));
        ProminenceOf(frameScratch_.data(), frames[j], &levels);
        for (int k = C::kFirstBin; k <= C::kLastBin; ++k) {
            const auto b = static_cast<std::size_t>(k);
            top[b] = std::max(top[b], frames[j][b]);
            loudest[b] = std::max(loudest[b], levels[b]);
        }
    }
    const float loudestLevel = *std::max_element(loudest.begin(), loudest.end());

    // The most prominent bins, strongest first, apart from each other and loud enough.
    std::vector<int> order;
    for (int k = C::kFirstBin; k <= C::kLastBin; ++k) {
        const auto b = static_cast<std::size_t>(k);
        const bool peak = top[b] >= *std::max_element(top.begin() + (k - 2), top.begin() + (k + 3));
        if (peak && top[b] >= C::kMinTrackDb && loudest[b] >= loudestLevel - C::kTrackRangeDb) {
            order.push_back(k);
        }
    }
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return top[static_cast<std::size_t>(a)] > top[static_cast<std::size_t>(b)];
    });
    TonalPattern pattern;
    for (const int k : order) {
        const bool apart = std::all_of(pattern.bins.begin(), pattern.bins.end(), [k](int chosen) {
            return std::abs(chosen - k) >= C::kMinTrackDistance;
        });
        if (apart) {
            pattern.bins.push_back(static_cast<std::uint16_t>(k));
        }
        if (pattern.bins.size() == C::kMaxTracks) {
            break;
        }
    }
    std::sort(pattern.bins.begin(), pattern.bins.end());
    // Values as the live frames read them: the largest within each bin's tolerance.
    for (const auto& frame : frames) {
        for (const std::uint16_t bin : pattern.bins) {
            pattern.values.push_back(Quantized(Widened(frame, bin)));
        }
    }
    return pattern;
}

void TonalTracks::Reset(std::uint64_t origin) {
    origin_ = origin;
    firstFrame_ = 0;
    madeFrames_ = 0;
    pending_.clear();
    live_.clear();
}

void TonalTracks::Append(std::span<const float> samples) {
    pending_.insert(pending_.end(), samples.begin(), samples.end());
    std::size_t used = 0;
    while (used + C::kLength <= pending_.size()) {
        MakeLiveFrame(pending_.data() + used);
        used += C::kHop;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(used));
    DropOldFrames();
}

// Every bin of the frame, or every bin read when they are known, reads the largest prominence
// within its tolerance; the others read 0.
void TonalTracks::MakeLiveFrame(const float* start) {
    ProminenceOf(start, prominence_, nullptr);
    const std::size_t first = live_.size();
    if (readBins_.empty()) {
        for (int k = C::kFirstBin; k <= C::kLastBin; ++k) {
            live_.push_back(Quantized(Widened(prominence_, k)));
        }
    } else {
        live_.resize(first + C::kBinCount, 0);
        for (const std::uint16_t k : readBins_) {
            live_[first + k - C::kFirstBin] = Quantized(Widened(prominence_, k));
        }
    }
    ++madeFrames_;
}

void TonalTracks::SetReadBins(std::vector<std::uint16_t> bins) {
    std::sort(bins.begin(), bins.end());
    bins.erase(std::unique(bins.begin(), bins.end()), bins.end());
    std::erase_if(bins, [](std::uint16_t bin) { return bin < C::kFirstBin || bin > C::kLastBin; });
    readBins_ = std::move(bins);
}

void TonalTracks::DropOldFrames() {
    const std::size_t frames = live_.size() / C::kBinCount;
    if (frames < 2 * kKeptFrames) {
        return;
    }
    const std::size_t drop = frames - kKeptFrames;
    live_.erase(live_.begin(), live_.begin() + static_cast<std::ptrdiff_t>(drop * C::kBinCount));
    firstFrame_ += drop;
}

bool TonalTracks::NewestFrameBy(std::uint64_t end, std::uint64_t& frame,
                                std::uint64_t& frameEnd) const {
    if (madeFrames_ == 0 || end < origin_ + C::kLength) {
        return false;
    }
    frame = std::min<std::uint64_t>((end - origin_ - C::kLength) / C::kHop, madeFrames_ - 1);
    frameEnd = origin_ + frame * C::kHop + C::kLength;
    return frame >= firstFrame_;
}

const std::uint8_t* TonalTracks::LiveFrame(std::uint64_t frame) const {
    if (frame < firstFrame_ || frame >= madeFrames_) {
        return nullptr;
    }
    return live_.data() + static_cast<std::size_t>(frame - firstFrame_) * C::kBinCount;
}

}  // namespace hushwell
