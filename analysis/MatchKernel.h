#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <span>
#include <string>
#include <vector>

#include "analysis/MatchKernelSweeps.h"
#include "base/SpilledBytes.h"

namespace hushwell {

// Feature layout shared by the reference and live sequences: frame-major, 32 band values per
// frame. Only bands 0..23 (about 156 Hz to 5.9 kHz) are compared, and a reference frame
// (hop 512 samples) meets every eighth live frame (hop 64 samples).
inline constexpr std::size_t kFeatureBands = 32;
inline constexpr std::size_t kComparedBands = 24;
inline constexpr std::size_t kLiveFramesPerReferenceFrame = 8;

// The plain correlation of one reference with the newest frames of a live sequence: the cosine
// similarity of their band patterns over bands 0..23, in [0, 1]. With Rf reference frames and
// Lf live frames, reference frame i meets live frame j0 + 8 i where j0 = max(0, Lf - 8 Rf);
// pairs whose live frame would lie at or past Lf are left out. Sums are single precision, in
// frame order. 0 when either side has no energy (also for a reference without frames).
// Trailing values that do not fill a whole frame are ignored. Any thread; no state.
float CorrelateReference(std::span<const float> reference, std::span<const float> live);

// Scores prepared references against a live feature sequence, several matching passes at a
// time. Pass p of one call sees the live frames [0, firstPassEnd + p), so the passes of one call
// (consecutive pass ends) are evaluated per reference in one sweep and each reference is read
// from memory once per call. Scores equal those of CorrelateReference up to the rounding of
// differently ordered single-precision sums (well within 1e-5).
//
// Storage: each reference value is kept as its high and its low 16 bits in two arrays (4 bytes
// per value). Exact scoring rebuilds the values bit for bit; estimates read the high halves
// only (bfloat16 by truncation), half the memory traffic.
//
// Work saved over the plain correlation: each reference's energy is summed once when it is
// added; each live frame's energy once when it is first seen; the newest live frames the passes
// meet are gathered once per call into a compact table, which blocks of references (sized for
// the second-level cache) sweep a tile at a time so that it stays in the first-level cache, two
// references sharing every live load; the dot products run on AVX2/FMA when the processor has
// them. For firing decisions (ScoreAgainst), estimates read half the memory, and a reference
// that can no longer reach its cutoff is left once that is certain.
//
// The kernel only computes scores; firing order and hold-offs are the caller's.
class MatchKernel {
public:
    enum class InstructionSet { Portable, Avx2Fma };

    // The best set this processor runs. Any thread.
    static InstructionSet BestInstructionSet();

    // Scores of the passes of one call, pass-major: At(pass, reference).
    class Scores {
    public:
        std::size_t PassCount() const { return passes_; }
        std::size_t ReferenceCount() const { return references_; }
        float At(std::size_t pass, std::size_t reference) const {
            return values_[pass * references_ + reference];
        }
        std::span<const float> Pass(std::size_t pass) const {
            return std::span<const float>(values_).subspan(pass * references_, references_);
        }

    private:
        friend class MatchKernel;
        void Reset(std::size_t passes, std::size_t references);
        float* Row(std::size_t pass) { return values_.data() + pass * references_; }

        std::size_t passes_ = 0;
        std::size_t references_ = 0;
        std::vector<float> values_;
    };

    // Runs on `set`; a set this processor lacks falls back to Portable.
    explicit MatchKernel(InstructionSet set = BestInstructionSet());

    // Any thread.
    InstructionSet ActiveInstructionSet() const { return set_; }

    // --- Reference set: the thread that rebuilds references, while no scoring runs. ---

    void ClearReferences();
    // Clears the references and gives their memory back, as before a rebuild.
    void ReleaseReferences();
    // Room for this many references of this many frames in all, so that adding them neither
    // copies the set while it grows nor keeps unused room afterwards.
    void ReserveReferences(std::size_t references, std::size_t frames);
    // Prepares one reference from its feature sequence (32 values per frame; a partial trailing
    // frame is ignored) and returns its index: indices count up from 0 in the order of adding.
    std::size_t AddReference(std::span<const float> features);
    std::size_t ReferenceCount() const { return references_.size(); }
    std::size_t ReferenceFrames(std::size_t reference) const;
    // Bytes the prepared references occupy: their values (4 bytes each) and the bookkeeping per
    // reference, wherever the low halves are kept.
    std::size_t ReferenceBytes() const;
    // Moves the low halves of the prepared values into an unnamed file in `folder`, mapped
    // read-only (SpilledBytes): only exact scores read them, and those are needed only where a
    // score comes near its cutoff, so most of them never need to be resident. Scores stay bit
    // for bit the same. False, with the halves kept in memory, when the file cannot be made.
    // Adding a reference afterwards brings them back into memory first.
    bool SpillLowHalves(const std::string& folder);
    bool LowHalvesSpilled() const { return spilledLow_.IsMapped(); }
    // On an empty kernel: the low halves of the references added from now on go straight to
    // an unnamed file in `folder`, so that they are never in memory all at once; the next
    // SpillLowHalves, or scoring, maps the file. When the file cannot be made or written the
    // halves stay in memory (those written are read back); scores stay bit for bit the same.
    void BeginSpilling(const std::string& folder);

    // --- Detection thread. ---

    // Forgets the live frame energies; call when a new live sequence starts.
    void ResetLive();
    // Mirrors the removal of the oldest live frames from the sequence passed to Score.
    void DropOldestLiveFrames(std::size_t frames);

    // Scores every reference for passes ending at firstPassEnd .. firstPassEnd + passCount - 1
    // live frames. The live sequence must be the one the previous calls saw, extended at its
    // end and shortened at its front only through DropOldestLiveFrames (a sequence shorter than
    // the frames already seen is taken as a new one). A pass end past the frames of `live` is
    // scored as if it were the last frame.
    void Score(std::span<const float> live, std::size_t firstPassEnd, std::size_t passCount,
               Scores& scores);
    // The same for the listed references only (indices in increasing order give the best
    // memory access); the other entries of the table are 0, as are indices out of range.
    void Score(std::span<const float> live, std::size_t firstPassEnd, std::size_t passCount,
               std::span<const std::uint32_t> selected, Scores& scores);

    // For firing decisions, where only "score > cutoff" matters: as the selected Score, except
    // that a score which certainly stays at or below its reference's cutoff (cutoffs[index])
    // may be an estimate from the high halves of the reference values. An estimate is given
    // only when it lies at least kEstimateMargin below the cutoff; it is then within
    // kEstimateError of the exact score, or, for a reference whose sweep ended early because
    // the rest of it could not lift any pass to the cutoff, an upper bound of the exact score
    // (at least the exact score less kEstimateError). A score that might exceed its cutoff is
    // computed exactly, so "score > cutoff" decides exactly as with Score. References without a
    // cutoff (index past cutoffs.size()) and all references on portable code are exact.
    static constexpr float kEstimateError = 4.1e-3f;
    static constexpr float kEstimateMargin = 5e-3f;
    void ScoreAgainst(std::span<const float> live, std::size_t firstPassEnd, std::size_t passCount,
                      std::span<const std::uint32_t> selected, std::span<const float> cutoffs,
                      Scores& scores);

    // The score of one reference in the pass over live frames [0, passEnd) computed as
    // CorrelateReference computes it, from the same values in the same order: bit for bit the
    // plain correlation's result. For decisions that must be the plain correlation's where a
    // score lies within rounding of a threshold; it costs one plain correlation.
    float PlainScore(std::span<const float> live, std::size_t passEnd, std::size_t reference);

private:
    template <class T>
    struct CacheLineAllocator {
        using value_type = T;
        static constexpr std::align_val_t kAlignment{64};
        CacheLineAllocator() = default;
        template <class U>
        CacheLineAllocator(const CacheLineAllocator<U>&) {}
        T* allocate(std::size_t n) {
            return static_cast<T*>(::operator new(n * sizeof(T), kAlignment));
        }
        void deallocate(T* p, std::size_t) { ::operator delete(p, kAlignment); }
        template <class U>
        bool operator==(const CacheLineAllocator<U>&) const {
            return true;
        }
    };
    using AlignedFloats = std::vector<float, CacheLineAllocator<float>>;
    using AlignedHalves = std::vector<std::uint16_t, CacheLineAllocator<std::uint16_t>>;

    struct PreparedReference {
        std::size_t firstValue = 0;       // into referenceHigh_ and referenceLow_, 24 per frame
        std::size_t frames = 0;           // Rf
        bool estimable = false;           // its high halves may stand in for it, see AddReference
        double energy = 0.0;              // sum of the squares of its values
        double norm = 0.0;                // the square root of energy
        std::size_t firstCheckpoint = 0;  // into energyCheckpoints_
    };

    // An estimating sweep checks, once a third of a reference is swept, whether the rest of
    // the reference can still lift any pass to its cutoff; see CutShortBelowCutoffs. The energy
    // of a reference's leading frames is kept every kCheckpointFrames frames for that.
    static constexpr std::size_t kCheckpointFrames = 8;

    // Geometry of the passes of one call after clamping to the frames available.
    struct PassPlan {
        std::size_t firstEnd = 0;   // live frames seen by the first computed pass
        std::size_t count = 0;      // passes computed; further requested passes repeat the last
        std::size_t requested = 0;  // passes asked for
        std::size_t gathered = 0;   // reference frames covered by the gathered table
    };

    void UpdateLiveEnergies(std::span<const float> live);
    PassPlan PlanPasses(std::size_t liveFrames, std::size_t firstPassEnd,
                        std::size_t passCount) const;
    void GatherNewestFrames(std::span<const float> live, const PassPlan& plan);
    void ListSweptReferences(std::span<const float> live, const PassPlan& plan,
                             const std::uint32_t* selected, std::size_t selectedCount,
                             Scores& scores);
    void EstimateSwept(const PassPlan& plan, std::span<const float> cutoffs, Scores& scores);
    enum class Precision { Exact, Estimate };
    void SweepTiled(const PassPlan& plan, std::span<const std::uint32_t> list, Precision precision);
    void CutShortBelowCutoffs(const PassPlan& plan, std::span<const std::uint32_t> list,
                              std::size_t first, std::size_t end, std::size_t tileEnd);
    void SweepTileRows(const PassPlan& plan, std::size_t from, std::size_t tileEnd,
                       const std::uint32_t* listed, std::size_t count, float* sums,
                       Precision precision);
    float SweptScore(const PassPlan& plan, const PreparedReference& ref, std::size_t pass,
                     float dot) const;
    float SweptLiveEnergy(const PassPlan& plan, const PreparedReference& ref,
                          std::size_t pass) const;
    static bool EstimateStandsIn(float estimate, float ll, float rr, float cutoff);
    match_sweeps::SplitValues ValuesFrom(const PreparedReference& ref, std::size_t frame) const;
    const std::uint16_t* LowHalves() const;
    void UnspillLowHalves();
    void StoreLowHalves(std::span<const std::uint16_t> low);
    void FinishSpilling();
    void RecallWrittenLowHalves();
    void RebuildFrame(const PreparedReference& ref, std::size_t frame, float* out) const;
    double LeadingEnergy(const PreparedReference& ref, std::size_t frames) const;
    float ScoreOnePass(std::span<const float> live, std::size_t passEnd,
                       const PreparedReference& ref) const;
    void Score(std::span<const float> live, std::size_t firstPassEnd, std::size_t passCount,
               const std::uint32_t* selected, std::size_t selectedCount,
               std::span<const float> cutoffs, Scores& scores);

    InstructionSet set_;
    match_sweeps::SweepFunction sweep_;
    match_sweeps::SweepFunction estimateSweep_;  // null on portable code: no estimates

    // Reference set.
    std::vector<PreparedReference> references_;
    AlignedHalves referenceHigh_;  // high 16 bits of 24 bands per frame, references back to back
    AlignedHalves referenceLow_;   // their low 16 bits, unless spilled
    SpilledBytes spilledLow_;      // the low halves once spilled (referenceLow_ is then empty)
    std::unique_ptr<SpilledBytes::Writer> lowWriter_;  // while spilling as references come
    std::vector<std::uint16_t> lowScratch_;            // one reference's low halves
    std::vector<double> energyCheckpoints_;  // per reference: energy before frames 0, 8, 16, ...
    std::size_t longestReference_ = 0;       // frames

    // Live side (detection thread).
    std::vector<double> liveEnergies_;  // per live frame, bands 0..23
    AlignedFloats gathered_;            // newest frames met by the passes, see GatherNewestFrames
    std::vector<double> gatheredEnergies_;  // per pass: cumulative energies by reference length
    std::vector<double> gatheredNorms_;     // their square roots, while estimating
    std::span<const float> sweepCutoffs_;   // while an estimating sweep may cut references short
    std::vector<std::uint8_t> cutShort_;    // per listed reference: its sweep ended early
    std::vector<float> cutBounds_;          // per listed reference and pass: upper score bounds
    std::vector<std::uint32_t> sweptReferences_;      // scored from the gathered table
    std::vector<std::uint32_t> estimatedReferences_;  // of those, the ones with an estimate
    std::vector<std::uint32_t> exactReferences_;      // of those, the ones scored exactly
    std::vector<float> plainFrames_;  // one reference as whole frames, for PlainScore
    std::vector<float> tileSums_;     // per listed reference and pass: dot products
};

}  // namespace hushwell
