#include "analysis/MatchKernel.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "analysis/MatchKernelSweeps.h"

namespace hushwell {
namespace {

// Distance between the live frames that successive reference frames meet, in values.
constexpr std::ptrdiff_t kLiveValuesPerReferenceFrame =
    static_cast<std::ptrdiff_t>(kLiveFramesPerReferenceFrame * kFeatureBands);

// Estimates from the high halves are scaled by the middle of the range of v / h, see
// EstimateStandsIn.
constexpr float kEstimateScale = 1.0f + 0x1p-8f;

// Passes of the next sweep when `remaining` passes are left: kMaxPasses where possible, but 7
// as 4 + 3 rather than 6 + 1, since a sweep of one pass costs about as much as one of three.
std::size_t NextPassGroup(std::size_t remaining) {
    constexpr std::size_t kSplitPasses = match_sweeps::kMaxPasses + 1;
    if (remaining == kSplitPasses) {
        return kSplitPasses / 2 + 1;
    }
    return std::min(remaining, match_sweeps::kMaxPasses);
}

std::size_t WholeFrames(std::span<const float> values) {
    return values.size() / kFeatureBands;
}

float JoinHalves(std::uint16_t high, std::uint16_t low) {
    return std::bit_cast<float>(static_cast<std::uint32_t>(high) << 16 | low);
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
      sweep_(set_ == InstructionSet::Avx2Fma ? &match_sweeps::SweepExactAvx2Fma
                                             : &match_sweeps::SweepExactPortable),
      estimateSweep_(set_ == InstructionSet::Avx2Fma ? &match_sweeps::SweepEstimateAvx2Fma
                                                     : nullptr) {}

void MatchKernel::Scores::Reset(std::size_t passes, std::size_t references) {
    passes_ = passes;
    references_ = references;
    values_.assign(passes * references, 0.0f);
}

// ---------------------------------------------------------------------------------------------
// Reference set

void MatchKernel::ClearReferences() {
    references_.clear();
    referenceHigh_.clear();
    referenceLow_.clear();
    spilledLow_ = SpilledBytes();
    lowWriter_.reset();
    energyCheckpoints_.clear();
    longestReference_ = 0;
}

void MatchKernel::ReleaseReferences() {
    ClearReferences();
    references_.shrink_to_fit();
    referenceHigh_.shrink_to_fit();
    referenceLow_.shrink_to_fit();
    energyCheckpoints_.shrink_to_fit();
}

void MatchKernel::ReserveReferences(std::size_t references, std::size_t frames) {
    references_.reserve(references);
    referenceHigh_.reserve(frames * kComparedBands);
    referenceLow_.reserve(frames * kComparedBands);
    energyCheckpoints_.reserve(frames / kCheckpointFrames + references);
}

// Splits every compared value into its high and low 16 bits. A reference is estimable when its
// energy is finite and not extremely small: its values are then finite, and truncating the
// subnormal ones among them (the only ones whose high halves are not within 2^-7 of them) costs
// nothing that matters against its norm.
std::size_t MatchKernel::AddReference(std::span<const float> features) {
    constexpr double kSmallestEstimableEnergy = 0x1p-200;
    UnspillLowHalves();
    lowScratch_.clear();
    PreparedReference prepared;
    prepared.firstValue = referenceHigh_.size();
    prepared.frames = WholeFrames(features);
    prepared.firstCheckpoint = energyCheckpoints_.size();
    double energy = 0.0;
    for (std::size_t i = 0; i < prepared.frames; ++i) {
        if (i % kCheckpointFrames == 0) {
            energyCheckpoints_.push_back(energy);
        }
        const float* frame = features.data() + i * kFeatureBands;
        for (std::size_t k = 0; k < kComparedBands; ++k) {
            const auto bits = std::bit_cast<std::uint32_t>(frame[k]);
            referenceHigh_.push_back(static_cast<std::uint16_t>(bits >> 16));
            lowScratch_.push_back(static_cast<std::uint16_t>(bits & 0xFFFFu));
        }
        energy += FrameEnergy(frame);
    }
    StoreLowHalves(lowScratch_);
    prepared.energy = energy;
    prepared.norm = std::sqrt(energy);
    prepared.estimable =
        estimateSweep_ != nullptr && std::isfinite(energy) && energy >= kSmallestEstimableEnergy;
    longestReference_ = std::max(longestReference_, prepared.frames);
    references_.push_back(prepared);
    return references_.size() - 1;
}

std::size_t MatchKernel::ReferenceBytes() const {
    return referenceHigh_.size() * 2 * sizeof(std::uint16_t) +
           energyCheckpoints_.size() * sizeof(double) +
           references_.size() * sizeof(PreparedReference);
}

void MatchKernel::BeginSpilling(const std::string& folder) {
    if (!references_.empty() || lowWriter_) {
        return;
    }
    lowWriter_ = std::make_unique<SpilledBytes::Writer>(folder);
    if (!lowWriter_->IsOpen()) {
        lowWriter_.reset();
    }
}

// One reference's low halves: to the file while spilling, else (or once that failed) to memory.
void MatchKernel::StoreLowHalves(std::span<const std::uint16_t> low) {
    if (lowWriter_) {
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(low.data()),
                                                  low.size_bytes());
        if (lowWriter_->Append(bytes)) {
            return;
        }
        RecallWrittenLowHalves();
    }
    referenceLow_.insert(referenceLow_.end(), low.begin(), low.end());
}

// Maps what the writer holds; failing that, brings it back into memory.
void MatchKernel::FinishSpilling() {
    if (!lowWriter_) {
        return;
    }
    spilledLow_ = lowWriter_->Map();
    if (spilledLow_.IsMapped()) {
        AlignedHalves().swap(referenceLow_);  // the room reserved for them, unused
    } else {
        RecallWrittenLowHalves();
    }
    lowWriter_.reset();
}

// The halves written so far, back in memory, and the writer gone. A file that cannot be read
// back (an I/O error) leaves them at the middle of their range: scores then stand within the
// estimate's error of the exact ones.
void MatchKernel::RecallWrittenLowHalves() {
    const std::size_t values = lowWriter_->Size() / sizeof(std::uint16_t);
    referenceLow_.assign(values, std::uint16_t{0x8000});
    const std::span<std::uint8_t> bytes(reinterpret_cast<std::uint8_t*>(referenceLow_.data()),
                                        values * sizeof(std::uint16_t));
    if (!lowWriter_->ReadBack(bytes)) {
        std::fill(referenceLow_.begin(), referenceLow_.end(), std::uint16_t{0x8000});
    }
    lowWriter_.reset();
}

bool MatchKernel::SpillLowHalves(const std::string& folder) {
    if (lowWriter_) {
        FinishSpilling();
        return spilledLow_.IsMapped();
    }
    if (spilledLow_.IsMapped() || referenceLow_.empty()) {
        return spilledLow_.IsMapped();
    }
    const std::span<const std::uint8_t> bytes(
        reinterpret_cast<const std::uint8_t*>(referenceLow_.data()),
        referenceLow_.size() * sizeof(std::uint16_t));
    spilledLow_ = SpilledBytes::Spill(folder, bytes);
    if (!spilledLow_.IsMapped()) {
        return false;
    }
    AlignedHalves().swap(referenceLow_);
    return true;
}

// Brings spilled low halves back into memory, so that more can be appended.
void MatchKernel::UnspillLowHalves() {
    if (!spilledLow_.IsMapped()) {
        return;
    }
    const std::span<const std::uint8_t> bytes = spilledLow_.Bytes();
    referenceLow_.reserve(referenceHigh_.capacity());
    referenceLow_.resize(bytes.size() / sizeof(std::uint16_t));
    std::memcpy(referenceLow_.data(), bytes.data(), bytes.size());
    spilledLow_ = SpilledBytes();
}

const std::uint16_t* MatchKernel::LowHalves() const {
    if (spilledLow_.IsMapped()) {
        // The mapping is page-aligned, and so aligned for 16-bit values.
        return reinterpret_cast<const std::uint16_t*>(spilledLow_.Bytes().data());
    }
    return referenceLow_.data();
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

float MatchKernel::PlainScore(std::span<const float> live, std::size_t passEnd,
                              std::size_t reference) {
    FinishSpilling();
    if (reference >= references_.size()) {
        return 0.0f;
    }
    const PreparedReference& ref = references_[reference];
    plainFrames_.assign(ref.frames * kFeatureBands, 0.0f);
    for (std::size_t i = 0; i < ref.frames; ++i) {
        RebuildFrame(ref, i, plainFrames_.data() + i * kFeatureBands);
    }
    const std::size_t liveValues = std::min(live.size(), passEnd * kFeatureBands);
    return CorrelateReference(plainFrames_, live.first(liveValues));
}

void MatchKernel::Score(std::span<const float> live, std::size_t firstPassEnd,
                        std::size_t passCount, const std::uint32_t* selected,
                        std::size_t selectedCount, std::span<const float> cutoffs, Scores& scores) {
    FinishSpilling();
    scores.Reset(passCount, references_.size());
    UpdateLiveEnergies(live);
    if (passCount == 0 || references_.empty()) {
        return;
    }
    const PassPlan plan = PlanPasses(WholeFrames(live), firstPassEnd, passCount);
    GatherNewestFrames(live, plan);
    ListSweptReferences(live, plan, selected, selectedCount, scores);
    if (!cutoffs.empty() && estimateSweep_ != nullptr) {
        EstimateSwept(plan, cutoffs, scores);
    } else {
        exactReferences_ = sweptReferences_;
    }
    SweepTiled(plan, exactReferences_, Precision::Exact);
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

// Estimates from the high halves; an estimate stands for the score when every pass's estimate
// lies at least kEstimateMargin below the cutoff, and the reference is listed for exact scoring
// otherwise.
void MatchKernel::EstimateSwept(const PassPlan& plan, std::span<const float> cutoffs,
                                Scores& scores) {
    estimatedReferences_.clear();
    for (const std::uint32_t r : sweptReferences_) {
        if (r < cutoffs.size() && references_[r].estimable) {
            estimatedReferences_.push_back(r);
        }
    }
    gatheredNorms_.resize(gatheredEnergies_.size());
    std::transform(gatheredEnergies_.begin(), gatheredEnergies_.end(), gatheredNorms_.begin(),
                   [](double energy) { return std::sqrt(energy); });
    sweepCutoffs_ = cutoffs;
    SweepTiled(plan, estimatedReferences_, Precision::Estimate);
    sweepCutoffs_ = {};
    exactReferences_.clear();
    std::size_t k = 0;  // position in estimatedReferences_, which keeps the order
    for (const std::uint32_t r : sweptReferences_) {
        if (k == estimatedReferences_.size() || estimatedReferences_[k] != r) {
            exactReferences_.push_back(r);
            continue;
        }
        bool standsIn = true;
        for (std::size_t p = 0; p < plan.count; ++p) {
            const float ll = SweptLiveEnergy(plan, references_[r], p);
            const auto rr = static_cast<float>(references_[r].energy);
            const float estimate = cutShort_[k] != 0
                                       ? cutBounds_[k * plan.count + p]
                                       : FinishScore(tileSums_[k * plan.count + p], ll, rr);
            scores.Row(p)[r] = estimate;
            standsIn = standsIn && EstimateStandsIn(estimate, ll, rr, cutoffs[r]);
        }
        if (!standsIn) {
            exactReferences_.push_back(r);
        }
        ++k;
    }
}

// Why an estimate may stand in. The high half h of a value v is v truncated towards zero to 8
// significant bits: v = h (1 + d) with 0 <= d < 2^-7 (subnormal values aside, see AddReference).
// The estimating sweeps multiply the dot product of the high halves by 1 + 2^-8, the middle of
// that range, so that the rest, sum of (d - 2^-8) h l, is at most 2^-8 |h| |l| <= 2^-8 |v| |l| by
// Cauchy-Schwarz: 3.9e-3 of the score's denominator. The single-precision sums of both the
// estimate and the exact score (chains of fewer than 1000 additions, each product at most
// |v| |l| in sum) add at most 6e-5 each; the denominator is the same for both. An estimate is
// thus within kEstimateError of the exact score, and the margin leaves room to spare. The bound
// needs sums that neither overflow nor lose their value to underflow: live and reference
// energies whose product lies within 2^-200 .. 2^200.
bool MatchKernel::EstimateStandsIn(float estimate, float ll, float rr, float cutoff) {
    constexpr double kSmallestProduct = 0x1p-200;
    constexpr double kLargestProduct = 0x1p200;
    const double product = static_cast<double>(ll) * rr;
    return product >= kSmallestProduct && product <= kLargestProduct &&
           estimate <= cutoff - kEstimateMargin;
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
// tileSums_ (pass-minor); estimates come scaled by kEstimateScale. The references are taken a
// block at a time, small enough to stay in the second-level cache, and each block meets the
// gathered rows a tile at a time, small enough to stay in the first-level cache; two references
// share each sweep over a tile. Each reference is read from memory once, front to back.
void MatchKernel::SweepTiled(const PassPlan& plan, std::span<const std::uint32_t> list,
                             Precision precision) {
    constexpr std::size_t kTileBytes = 32 * 1024;
    constexpr std::size_t kBlockBytes = 192 * 1024;
    const std::size_t rowBytes = plan.count * kComparedBands * sizeof(float);
    const std::size_t rowsPerTile = std::max<std::size_t>(1, kTileBytes / rowBytes);
    const std::size_t valueBytes = precision == Precision::Estimate ? 2 : 4;
    tileSums_.assign(list.size() * plan.count, 0.0f);
    cutShort_.assign(list.size(), 0);
    const bool mayCutShort = precision == Precision::Estimate && !sweepCutoffs_.empty();
    if (mayCutShort) {
        cutBounds_.assign(list.size() * plan.count, 0.0f);
    }
    const auto firstRowIn = [&](std::uint32_t r, std::size_t tileStart) {
        return std::max(tileStart, plan.gathered - references_[r].frames);
    };
    for (std::size_t blockStart = 0; blockStart < list.size();) {
        std::size_t blockEnd = blockStart;
        for (std::size_t bytes = 0; blockEnd < list.size() && bytes < kBlockBytes; ++blockEnd) {
            bytes += references_[list[blockEnd]].frames * kComparedBands * valueBytes;
        }
        if ((blockEnd - blockStart) % 2 != 0 && blockEnd < list.size()) {
            ++blockEnd;  // an even count, for pairs
        }
        for (std::size_t tileStart = 0; tileStart < plan.gathered; tileStart += rowsPerTile) {
            const std::size_t tileEnd = std::min(plan.gathered, tileStart + rowsPerTile);
            for (std::size_t k = blockStart; k < blockEnd;) {
                if (cutShort_[k] != 0) {
                    ++k;
                    continue;
                }
                // Two references go together when they start at the same row of this tile.
                const std::size_t from = firstRowIn(list[k], tileStart);
                const bool paired = k + 1 < blockEnd && cutShort_[k + 1] == 0 &&
                                    firstRowIn(list[k + 1], tileStart) == from;
                const std::size_t count = paired ? 2 : 1;
                SweepTileRows(plan, from, tileEnd, list.data() + k, count,
                              tileSums_.data() + k * plan.count, precision);
                k += count;
            }
            if (mayCutShort) {
                CutShortBelowCutoffs(plan, list, blockStart, blockEnd, tileEnd);
            }
        }
        blockStart = blockEnd;
    }
    if (precision == Precision::Estimate) {
        for (float& sum : tileSums_) {
            sum *= kEstimateScale;
        }
    }
}

// Ends the estimating sweep of a listed reference early when no pass can reach its cutoff any
// more. After the frames i < n of a reference, the sum over the rest is at most
// |rest of the reference| |rest of the live frames it meets| (Cauchy-Schwarz), and the
// estimated part differs from the exact one as the whole estimate does (EstimateStandsIn), so
//   score <= (estimated part + |reference rest| |live rest|) / (|reference| |live|) + error.
// The reference's rest is bounded through its energy before the last checkpoint at or below n.
// Checked after each tile once a third of a reference has been swept (before that the rest
// bounds too much to find anything out); a reference so found out keeps the bound without the error
// term as its estimate, which is then at least its exact score less kEstimateError: all that a
// decision needs.
void MatchKernel::CutShortBelowCutoffs(const PassPlan& plan, std::span<const std::uint32_t> list,
                                       std::size_t first, std::size_t end, std::size_t tileEnd) {
    const std::size_t normsPerPass = plan.gathered + 1;
    for (std::size_t k = first; k < end; ++k) {
        const PreparedReference& ref = references_[list[k]];
        const std::size_t firstRow = plan.gathered - ref.frames;
        if (cutShort_[k] != 0 || tileEnd <= firstRow) {
            continue;
        }
        const std::size_t done = tileEnd - firstRow;
        if (done >= ref.frames || 3 * done < ref.frames) {
            continue;
        }
        const double leading = energyCheckpoints_[ref.firstCheckpoint + done / kCheckpointFrames];
        const double restNorm = std::sqrt(std::max(0.0, ref.energy - leading));
        const double highest = static_cast<double>(sweepCutoffs_[list[k]]) - kEstimateMargin;
        // First whether every pass stays below, without a division; then the bounds.
        const auto boundOf = [&](std::size_t p, double& numerator, double& denominator) {
            const double* norms = gatheredNorms_.data() + p * normsPerPass;
            denominator = ref.norm * norms[ref.frames];
            numerator = static_cast<double>(tileSums_[k * plan.count + p]) * kEstimateScale +
                        restNorm * norms[ref.frames - done];
        };
        bool below = true;
        for (std::size_t p = 0; below && p < plan.count; ++p) {
            double numerator = 0.0;
            double denominator = 0.0;
            boundOf(p, numerator, denominator);
            below = denominator > 0.0 && std::isfinite(denominator) &&
                    numerator <= highest * denominator;
        }
        for (std::size_t p = 0; below && p < plan.count; ++p) {
            double numerator = 0.0;
            double denominator = 0.0;
            boundOf(p, numerator, denominator);
            cutBounds_[k * plan.count + p] = static_cast<float>(numerator / denominator);
        }
        cutShort_[k] = below ? 1 : 0;
    }
}

// Rows from .. tileEnd - 1 of one or two listed references (adjacent in the list), added to
// their sums, in groups of passes as NextPassGroup makes them. A reference's sums come out
// the same whether it is swept alone or with another.
void MatchKernel::SweepTileRows(const PassPlan& plan, std::size_t from, std::size_t tileEnd,
                                const std::uint32_t* listed, std::size_t count, float* sums,
                                Precision precision) {
    if (from >= tileEnd) {
        return;  // the references start in a later tile
    }
    const match_sweeps::SweepFunction sweep =
        precision == Precision::Estimate ? estimateSweep_ : sweep_;
    const std::size_t rowValues = plan.count * kComparedBands;
    match_sweeps::SplitValues values[match_sweeps::kMaxReferences];
    for (std::size_t c = 0; c < count; ++c) {
        const PreparedReference& ref = references_[listed[c]];
        values[c] = ValuesFrom(ref, from - (plan.gathered - ref.frames));
    }
    const float* rows = gathered_.data() + from * rowValues;
    float dots[match_sweeps::kMaxReferences * match_sweeps::kMaxPasses];
    for (std::size_t first = 0; first < plan.count;) {
        const std::size_t passes = NextPassGroup(plan.count - first);
        sweep(values, count, tileEnd - from, rows + first * kComparedBands,
              static_cast<std::ptrdiff_t>(rowValues), passes, dots);
        for (std::size_t c = 0; c < count; ++c) {
            for (std::size_t j = 0; j < passes; ++j) {
                sums[c * plan.count + first + j] += dots[c * passes + j];
            }
        }
        first += passes;
    }
}

float MatchKernel::SweptLiveEnergy(const PassPlan& plan, const PreparedReference& ref,
                                   std::size_t pass) const {
    return static_cast<float>(gatheredEnergies_[pass * (plan.gathered + 1) + ref.frames]);
}

float MatchKernel::SweptScore(const PassPlan& plan, const PreparedReference& ref, std::size_t pass,
                              float dot) const {
    return FinishScore(dot, SweptLiveEnergy(plan, ref, pass), static_cast<float>(ref.energy));
}

match_sweeps::SplitValues MatchKernel::ValuesFrom(const PreparedReference& ref,
                                                  std::size_t frame) const {
    const std::size_t first = ref.firstValue + frame * kComparedBands;
    return {referenceHigh_.data() + first, LowHalves() + first};
}

// The 24 compared values of one reference frame, rebuilt bit for bit from their halves.
void MatchKernel::RebuildFrame(const PreparedReference& ref, std::size_t frame, float* out) const {
    const match_sweeps::SplitValues values = ValuesFrom(ref, frame);
    for (std::size_t k = 0; k < kComparedBands; ++k) {
        out[k] = JoinHalves(values.high[k], values.low[k]);
    }
}

// The energy of the first frames of a reference, summed as AddReference sums the whole: on
// from the last energy checkpoint it passed on the way (the same partial sum, bit for bit).
double MatchKernel::LeadingEnergy(const PreparedReference& ref, std::size_t frames) const {
    if (frames == 0) {
        return 0.0;
    }
    const std::size_t checkpoint =
        std::min(frames, ref.frames - 1) / kCheckpointFrames;  // frames <= ref.frames
    double energy = energyCheckpoints_[ref.firstCheckpoint + checkpoint];
    float frame[kComparedBands];
    for (std::size_t i = checkpoint * kCheckpointFrames; i < frames; ++i) {
        RebuildFrame(ref, i, frame);
        energy += FrameEnergy(frame);
    }
    return energy;
}

// One pass straight from the live sequence: for references longer than the history, whose
// first frames meet live frames 0, 8, 16, ... and whose later frames find no partner. This
// happens only while a new live sequence is shorter than the longest reference.
float MatchKernel::ScoreOnePass(std::span<const float> live, std::size_t passEnd,
                                const PreparedReference& ref) const {
    const std::size_t first = FirstLiveFrame(passEnd, ref.frames);
    const std::size_t paired = PairedFrames(passEnd, first, ref.frames);
    const match_sweeps::SplitValues values = ValuesFrom(ref, 0);
    float rl = 0.0f;
    sweep_(&values, 1, paired, live.data() + first * kFeatureBands, kLiveValuesPerReferenceFrame, 1,
           &rl);
    double ll = 0.0;
    for (std::size_t i = 0; i < paired; ++i) {
        ll += liveEnergies_[first + i * kLiveFramesPerReferenceFrame];
    }
    const double rr = LeadingEnergy(ref, paired);
    return FinishScore(rl, static_cast<float>(ll), static_cast<float>(rr));
}

}  // namespace hushwell

namespace hushwell::match_sweeps {

void SweepExactPortable(const SplitValues* references, std::size_t count, std::size_t frames,
                        const float* live, std::ptrdiff_t liveStep, std::size_t passes,
                        float* out) {
    passes = std::min(passes, kMaxPasses);
    for (std::size_t c = 0; c < std::min(count, kMaxReferences); ++c) {
        float sums[kMaxPasses][kComparedBands] = {};
        for (std::size_t i = 0; i < frames; ++i) {
            const std::uint16_t* high = references[c].high + i * kComparedBands;
            const std::uint16_t* low = references[c].low + i * kComparedBands;
            const float* l = live + static_cast<std::ptrdiff_t>(i) * liveStep;
            for (std::size_t k = 0; k < kComparedBands; ++k) {
                const float r = JoinHalves(high[k], low[k]);
                for (std::size_t p = 0; p < passes; ++p) {
                    sums[p][k] += r * l[p * kComparedBands + k];
                }
            }
        }
        for (std::size_t p = 0; p < passes; ++p) {
            float total = 0.0f;
            for (float lane : sums[p]) {
                total += lane;
            }
            out[c * passes + p] = total;
        }
    }
}

}  // namespace hushwell::match_sweeps
