#include "analysis/MatchKernel.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "analysis/MatchKernelSweeps.h"

namespace hushwell {
namespace {

// Distance between the live frames that successive reference frames meet, in values.
constexpr std::ptrdiff_t kLiveValuesPerReferenceFrame =
    static_cast<std::ptrdiff_t>(kLiveFramesPerReferenceFrame * kFeatureBands);

std::size_t WholeFrames(std::span<const float> values) {
    return values.size() / kFeatureBands;
}

double FrameEnergy(const float* frame) {
    double energy = 0.0;
    for (std::size_t k = 0; k < kComparedBands; ++k) {
        energy += static_cast<double>(frame[k]) * frame[k];
    }
    return energy;
}

// rl / sqrt(ll * rr): the square root in double of the single-precision product, the quotient
// in single precision. A product that leaves the float range (underflow to 0 or overflow to
// infinity, for extremely small or large features) is formed in double instead, so that such a
// score stays the cosine similarity rather than becoming infinite or 0.
float FinishScore(float rl, float ll, float rr) {
    if (rr <= 0.0f || ll <= 0.0f) {
        return 0.0f;
    }
    const float product = ll * rr;
    const bool productInRange = product > 0.0f && product <= std::numeric_limits<float>::max();
    const double root = productInRange
                            ? std::sqrt(static_cast<double>(product))
                            : std::sqrt(static_cast<double>(ll) * static_cast<double>(rr));
    return rl / static_cast<float>(root);
}

// First live frame of a pass that sees `passEnd` live frames, for a reference of `frames`.
std::size_t FirstLiveFrame(std::size_t passEnd, std::size_t frames) {
    const std::size_t covered = kLiveFramesPerReferenceFrame * frames;
    return passEnd > covered ? passEnd - covered : 0;
}

// Reference frames that meet a live frame before `passEnd` when the first one meets `first`.
std::size_t PairedFrames(std::size_t passEnd, std::size_t first, std::size_t frames) {
    const std::size_t reachable =
        (passEnd - first + kLiveFramesPerReferenceFrame - 1) / kLiveFramesPerReferenceFrame;
    return std::min(frames, reachable);
}

}  // namespace

float CorrelateReference(std::span<const float> reference, std::span<const float> live) {
    const std::size_t referenceFrames = WholeFrames(reference);
    const std::size_t liveFrames = WholeFrames(live);
    float rr = 0.0f;
    float ll = 0.0f;
    float rl = 0.0f;
    std::size_t j = FirstLiveFrame(liveFrames, referenceFrames);
    for (std::size_t i = 0; i < referenceFrames && j < liveFrames;
         ++i, j += kLiveFramesPerReferenceFrame) {
        const float* r = reference.data() + i * kFeatureBands;
        const float* l = live.data() + j * kFeatureBands;
        for (std::size_t k = 0; k < kComparedBands; ++k) {
            rr += r[k] * r[k];
            ll += l[k] * l[k];
            rl += r[k] * l[k];
        }
    }
    return FinishScore(rl, ll, rr);
}

MatchKernel::InstructionSet MatchKernel::BestInstructionSet() {
    return match_sweeps::Avx2FmaAvailable() ? InstructionSet::Avx2Fma : InstructionSet::Portable;
}

MatchKernel::MatchKernel(InstructionSet set)
    : set_(set == InstructionSet::Avx2Fma && match_sweeps::Avx2FmaAvailable()
               ? InstructionSet::Avx2Fma
               : InstructionSet::Portable),
      sweep_(set_ == InstructionSet::Avx2Fma ? &match_sweeps::SweepAvx2Fma
                                             : &match_sweeps::SweepPortable),
      halfSweep_(set_ == InstructionSet::Avx2Fma ? &match_sweeps::SweepHalvesAvx2Fma : nullptr) {}

void MatchKernel::Scores::Reset(std::size_t passes, std::size_t references) {
    passes_ = passes;
    references_ = references;
    values_.assign(passes * references, 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Reference set

void MatchKernel::ClearReferences() {
    references_.clear();
    referenceBands_.clear();
    referenceHalves_.clear();
    energyPrefix_.clear();
    longestReference_ = 0;
}

std::size_t MatchKernel::AddReference(std::span<const float> features) {
    PreparedReference prepared;
    prepared.firstValue = referenceBands_.size();
    prepared.frames = WholeFrames(features);
    prepared.firstEnergy = energyPrefix_.size();

    double energy = 0.0;
    energyPrefix_.push_back(energy);
    for (std::size_t i = 0; i < prepared.frames; ++i) {
        const float* frame = features.data() + i * kFeatureBands;
        referenceBands_.insert(referenceBands_.end(), frame, frame + kComparedBands);
        energy += FrameEnergy(frame);
        energyPrefix_.push_back(energy);
    }
    StoreHalves(referenceBands_.data() + prepared.firstValue, prepared.frames, prepared);
    longestReference_ = std::max(longestReference_, prepared.frames);
    references_.push_back(prepared);
    return references_.size() - 1;
}

// The half-precision copy for estimates, scaled by a power of two so that the largest magnitude
// lies just below 2^15: every value keeps a relative precision of 2^-11, or is so small against
// the largest that its absolute error does not matter. References whose values are all zero,
// not finite or extremely small get no copy (halfScale 0) and are always scored exactly.
void MatchKernel::StoreHalves(const float* bands, std::size_t frames, PreparedReference& prepared) {
    constexpr int kLargestHalfExponent = 15;
    constexpr int kSmallestExponent = -100;
    const std::size_t count = frames * kComparedBands;
    referenceHalves_.resize(prepared.firstValue + count, 0);
    prepared.halfScale = 0.0f;
    if (halfSweep_ == nullptr || count == 0) {
        return;
    }
    float largest = 0.0f;
    for (std::size_t n = 0; n < count; ++n) {
        largest = std::max(largest, std::fabs(bands[n]));  // NaN compares false: caught below
    }
    int exponent = 0;
    std::frexp(largest, &exponent);  // largest < 2^exponent
    if (!(largest > 0.0f) || !std::isfinite(largest) || exponent < kSmallestExponent ||
        std::any_of(bands, bands + count, [](float v) { return std::isnan(v); })) {
        return;
    }
    const float factor = std::ldexp(1.0f, kLargestHalfExponent - exponent);
    match_sweeps::ToHalvesAvx2(bands, count, factor, referenceHalves_.data() + prepared.firstValue);
    prepared.halfScale = std::ldexp(1.0f, exponent - kLargestHalfExponent);
}

std::size_t MatchKernel::ReferenceFrames(std::size_t reference) const {
    return reference < references_.size() ? references_[reference].frames : 0;
}

// ---------------------------------------------------------------------------------------------
// Live side

void MatchKernel::ResetLive() {
    liveEnergies_.clear();
}

void MatchKernel::DropOldestLiveFrames(std::size_t frames) {
    const std::size_t dropped = std::min(frames, liveEnergies_.size());
    liveEnergies_.erase(liveEnergies_.begin(),
                        liveEnergies_.begin() + static_cast<std::ptrdiff_t>(dropped));
}

void MatchKernel::Score(std::span<const float> live, std::size_t firstPassEnd,
                        std::size_t passCount, Scores& scores) {
    Score(live, firstPassEnd, passCount, nullptr, 0, {}, scores);
}

void MatchKernel::Score(std::span<const float> live, std::size_t firstPassEnd,
                        std::size_t passCount, std::span<const std::uint32_t> selected,
                        Scores& scores) {
    Score(live, firstPassEnd, passCount, selected.data(), selected.size(), {}, scores);
}

void MatchKernel::ScoreAgainst(std::span<const float> live, std::size_t firstPassEnd,
                               std::size_t passCount, std::span<const std::uint32_t> selected,
                               std::span<const float> cutoffs, Scores& scores) {
    Score(live, firstPassEnd, passCount, selected.data(), selected.size(), cutoffs, scores);
}

void MatchKernel::Score(std::span<const float> live, std::size_t firstPassEnd,
                        std::size_t passCount, const std::uint32_t* selected,
                        std::size_t selectedCount, std::span<const float> cutoffs, Scores& scores) {
    scores.Reset(passCount, references_.size());
    UpdateLiveEnergies(live);
    if (passCount == 0 || references_.empty()) {
        return;
    }
    const PassPlan plan = PlanPasses(WholeFrames(live), firstPassEnd, passCount);
    GatherNewestFrames(live, plan);
    ListSweptReferences(live, plan, selected, selectedCount, scores);
    if (!cutoffs.empty() && halfSweep_ != nullptr) {
        EstimateSwept(plan, cutoffs, scores);
    } else {
        exactReferences_ = sweptReferences_;
    }
    SweepTiled(plan, exactReferences_, Precision::Single);
    for (std::size_t k = 0; k < exactReferences_.size(); ++k) {
        const std::uint32_t r = exactReferences_[k];
        for (std::size_t p = 0; p < plan.count; ++p) {
            scores.Row(p)[r] = SweptScore(plan, references_[r], p, tileSums_[k * plan.count + p]);
        }
    }
    for (std::size_t p = plan.count; p < plan.requested; ++p) {
        std::copy(scores.Row(plan.count - 1), scores.Row(plan.count - 1) + references_.size(),
                  scores.Row(p));
    }
}

// Sorts the requested references: those without frames score 0 and those longer than the
// history allows for the gathered table are scored pass by pass right here; the others are
// listed for the tiled sweeps.
void MatchKernel::ListSweptReferences(std::span<const float> live, const PassPlan& plan,
                                      const std::uint32_t* selected, std::size_t selectedCount,
                                      Scores& scores) {
    sweptReferences_.clear();
    const auto list = [&](std::uint32_t r) {
        const PreparedReference& ref = references_[r];
        if (ref.frames == 0) {
            return;  // a reference without frames never matches
        }
        if (ref.frames <= plan.gathered) {
            sweptReferences_.push_back(r);
            return;
        }
        for (std::size_t p = 0; p < plan.count; ++p) {
            scores.Row(p)[r] = ScoreOnePass(live, plan.firstEnd + p, ref);
        }
    };
    if (selected == nullptr) {
        for (std::size_t r = 0; r < references_.size(); ++r) {
            list(static_cast<std::uint32_t>(r));
        }
        return;
    }
    for (std::size_t s = 0; s < selectedCount; ++s) {
        if (selected[s] < references_.size()) {
            list(selected[s]);
        }
    }
}

// Estimates from the half-precision copies; an estimate stands for the score when every pass's
// estimate lies at least kEstimateMargin below the cutoff, and the reference is listed for
// exact scoring otherwise. A copy differs from its reference by at most 2^-11 of the
// reference's norm, so by Cauchy-Schwarz an estimate differs from the exact score by at most
// about 4.9e-4 plus single-precision rounding: less than the margin.
void MatchKernel::EstimateSwept(const PassPlan& plan, std::span<const float> cutoffs,
                                Scores& scores) {
    estimatedReferences_.clear();
    for (const std::uint32_t r : sweptReferences_) {
        if (r < cutoffs.size() && references_[r].halfScale > 0.0f) {
            estimatedReferences_.push_back(r);
        }
    }
    SweepTiled(plan, estimatedReferences_, Precision::Half);
    exactReferences_.clear();
    std::size_t k = 0;  // position in estimatedReferences_, which keeps the order
    for (const std::uint32_t r : sweptReferences_) {
        if (k == estimatedReferences_.size() || estimatedReferences_[k] != r) {
            exactReferences_.push_back(r);
            continue;
        }
        const float highestEstimate = cutoffs[r] - kEstimateMargin;
        bool standsIn = true;
        for (std::size_t p = 0; p < plan.count; ++p) {
            const float estimate =
                SweptScore(plan, references_[r], p, tileSums_[k * plan.count + p]);
            scores.Row(p)[r] = estimate;
            standsIn = standsIn && estimate <= highestEstimate;
        }
        if (!standsIn) {
            exactReferences_.push_back(r);
        }
        ++k;
    }
}

// Energies of live frames not seen before; a sequence shorter than what was seen is new.
void MatchKernel::UpdateLiveEnergies(std::span<const float> live) {
    const std::size_t frames = WholeFrames(live);
    if (liveEnergies_.size() > frames) {
        liveEnergies_.clear();
    }
    for (std::size_t j = liveEnergies_.size(); j < frames; ++j) {
        liveEnergies_.push_back(FrameEnergy(live.data() + j * kFeatureBands));
    }
}

// Pass ends past the live frames are clamped to the last frame; those passes repeat the score
// of the last computed one. References short enough for every computed pass to find all their
// frames in the history are served from the gathered table.
MatchKernel::PassPlan MatchKernel::PlanPasses(std::size_t liveFrames, std::size_t firstPassEnd,
                                              std::size_t passCount) const {
    PassPlan plan;
    plan.requested = passCount;
    plan.firstEnd = std::min(firstPassEnd, liveFrames);
    const std::size_t lastEnd = firstPassEnd >= liveFrames
                                    ? liveFrames
                                    : std::min(liveFrames, firstPassEnd + (passCount - 1));
    plan.count = lastEnd - plan.firstEnd + 1;
    plan.gathered = std::min(longestReference_, plan.firstEnd / kLiveFramesPerReferenceFrame);
    return plan;
}

// The live frames the passes meet, laid out for one forward sweep per reference. Reference
// frame i of a reference of Rf frames meets, in pass p, live frame firstEnd + p - 8 (Rf - i).
// Row t (t = 0 .. G-1, G = plan.gathered) holds, for m = G - t, the frames firstEnd + p - 8 m of
// all passes p side by side (24 bands each), so the reference starts at row G - Rf and walks
// forward one row per frame. Alongside, per pass, the cumulative live energy by m.
void MatchKernel::GatherNewestFrames(std::span<const float> live, const PassPlan& plan) {
    const std::size_t rows = plan.gathered;
    const std::size_t rowValues = plan.count * kComparedBands;
    gathered_.resize(rows * rowValues);
    gatheredEnergies_.resize(plan.count * (rows + 1));
    for (std::size_t p = 0; p < plan.count; ++p) {
        double* cumulative = gatheredEnergies_.data() + p * (rows + 1);
        cumulative[0] = 0.0;
        for (std::size_t m = 1; m <= rows; ++m) {
            const std::size_t frame = plan.firstEnd + p - kLiveFramesPerReferenceFrame * m;
            const float* source = live.data() + frame * kFeatureBands;
            float* target = gathered_.data() + (rows - m) * rowValues + p * kComparedBands;
            std::copy(source, source + kComparedBands, target);
            cumulative[m] = cumulative[m - 1] + liveEnergies_[frame];
        }
    }
}

// Dot products of the listed references with the gathered frames of every pass, into
// tileSums_ (pass-minor). The gathered rows are taken a tile at a time, small enough to stay in
// the first-level cache while every listed reference's frames that meet those rows stream past
// them; across all tiles each reference is read once.
void MatchKernel::SweepTiled(const PassPlan& plan, std::span<const std::uint32_t> list,
                             Precision precision) {
    constexpr std::size_t kTileBytes = 24 * 1024;
    const std::size_t rowValues = plan.count * kComparedBands;
    const std::size_t rowsPerTile =
        std::max<std::size_t>(1, kTileBytes / (rowValues * sizeof(float)));
    tileSums_.assign(list.size() * plan.count, 0.0f);
    for (std::size_t tileStart = 0; tileStart < plan.gathered; tileStart += rowsPerTile) {
        const std::size_t tileEnd = std::min(plan.gathered, tileStart + rowsPerTile);
        for (std::size_t k = 0; k < list.size(); ++k) {
            const PreparedReference& ref = references_[list[k]];
            const std::size_t firstRow = plan.gathered - ref.frames;
            const std::size_t from = std::max(tileStart, firstRow);
            if (from >= tileEnd) {
                continue;
            }
            const std::size_t firstValue = ref.firstValue + (from - firstRow) * kComparedBands;
            const float* rows = gathered_.data() + from * rowValues;
            float* sums = tileSums_.data() + k * plan.count;
            for (std::size_t p = 0; p < plan.count; p += match_sweeps::kMaxPasses) {
                const std::size_t passes = std::min(match_sweeps::kMaxPasses, plan.count - p);
                float dots[match_sweeps::kMaxPasses];
                if (precision == Precision::Half) {
                    halfSweep_(referenceHalves_.data() + firstValue, tileEnd - from,
                               rows + p * kComparedBands, static_cast<std::ptrdiff_t>(rowValues),
                               kComparedBands, passes, dots);
                } else {
                    sweep_(referenceBands_.data() + firstValue, tileEnd - from,
                           rows + p * kComparedBands, static_cast<std::ptrdiff_t>(rowValues),
                           kComparedBands, passes, dots);
                }
                const float scale = precision == Precision::Half ? ref.halfScale : 1.0f;
                for (std::size_t j = 0; j < passes; ++j) {
                    sums[p + j] += dots[j] * scale;
                }
            }
        }
    }
}

float MatchKernel::SweptScore(const PassPlan& plan, const PreparedReference& ref, std::size_t pass,
                              float dot) const {
    const float rr = static_cast<float>(energyPrefix_[ref.firstEnergy + ref.frames]);
    const float ll = static_cast<float>(gatheredEnergies_[pass * (plan.gathered + 1) + ref.frames]);
    return FinishScore(dot, ll, rr);
}

// One pass straight from the live sequence: for references longer than the history, whose
// first frames meet live frames 0, 8, 16, ... and whose later frames find no partner.
float MatchKernel::ScoreOnePass(std::span<const float> live, std::size_t passEnd,
                                const PreparedReference& ref) const {
    const std::size_t first = FirstLiveFrame(passEnd, ref.frames);
    const std::size_t paired = PairedFrames(passEnd, first, ref.frames);
    float rl = 0.0f;
    sweep_(referenceBands_.data() + ref.firstValue, paired, live.data() + first * kFeatureBands,
           kLiveValuesPerReferenceFrame, 0, 1, &rl);
    double ll = 0.0;
    for (std::size_t i = 0; i < paired; ++i) {
        ll += liveEnergies_[first + i * kLiveFramesPerReferenceFrame];
    }
    const double rr = energyPrefix_[ref.firstEnergy + paired];
    return FinishScore(rl, static_cast<float>(ll), static_cast<float>(rr));
}

}  // namespace hushwell

namespace hushwell::match_sweeps {

void SweepPortable(const float* reference, std::size_t frames, const float* live,
                   std::ptrdiff_t liveStep, std::size_t passStep, std::size_t passes, float* out) {
    passes = std::min(passes, kMaxPasses);
    float sums[kMaxPasses][kComparedBands] = {};
    for (std::size_t i = 0; i < frames; ++i) {
        const float* r = reference + i * kComparedBands;
        const float* l = live + static_cast<std::ptrdiff_t>(i) * liveStep;
        for (std::size_t p = 0; p < passes; ++p) {
            for (std::size_t k = 0; k < kComparedBands; ++k) {
                sums[p][k] += r[k] * l[p * passStep + k];
            }
        }
    }
    for (std::size_t p = 0; p < passes; ++p) {
        float total = 0.0f;
        for (float lane : sums[p]) {
            total += lane;
        }
        out[p] = total;
    }
}

}  // namespace hushwell::match_sweeps
