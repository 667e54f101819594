#include "analysis/MatchKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <span>
#include <vector>

#include "tests/support/TempFolder.h"

namespace hushwell {
namespace {

constexpr float kAgreement = 1e-5f;

using Frames = std::vector<float>;

Frames RandomFrames(std::size_t frames, std::mt19937& rng) {
    // Non-negative like real band magnitudes, with a loudness that varies from frame to frame.
    std::uniform_real_distribution<float> level(0.1f, 1000.0f);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    Frames values;
    for (std::size_t f = 0; f < frames; ++f) {
        const float frameLevel = level(rng);
        for (std::size_t b = 0; b < kFeatureBands; ++b) {
            values.push_back(frameLevel * unit(rng));
        }
    }
    return values;
}

// A frame whose energy sits in one band only, plus a large value in the uncompared bands.
void PutPattern(Frames& values, std::size_t frame, std::size_t band, float level) {
    float* f = values.data() + frame * kFeatureBands;
    std::fill(f, f + kFeatureBands, 0.0f);
    f[band % kComparedBands] = level;
    f[kComparedBands + band % (kFeatureBands - kComparedBands)] = 1e6f;
}

std::span<const float> FirstFrames(const Frames& values, std::size_t frames) {
    return std::span<const float>(values).first(frames * kFeatureBands);
}

// ---------------------------------------------------------------------------------------------
// The plain correlation

TEST(CorrelateReferenceTest, MatchesPatternAtTheNewestFramesOnly) {
    constexpr std::size_t kRefFrames = 5;
    constexpr std::size_t kLiveFrames = 100;
    Frames reference(kRefFrames * kFeatureBands);
    Frames live(kLiveFrames * kFeatureBands, 0.0f);
    for (std::size_t i = 0; i < kRefFrames; ++i) {
        PutPattern(reference, i, i, 2.0f);
        // Reference frame i meets live frame Lf - 8 (Rf - i).
        PutPattern(live, kLiveFrames - 8 * (kRefFrames - i), i, 7.0f);
    }
    EXPECT_NEAR(CorrelateReference(reference, live), 1.0f, 1e-6f);
    // One live frame more shifts every pairing off the pattern; one less does the same.
    Frames longer = live;
    longer.resize(longer.size() + kFeatureBands, 0.0f);
    EXPECT_EQ(CorrelateReference(reference, longer), 0.0f);
    EXPECT_EQ(CorrelateReference(reference, FirstFrames(live, kLiveFrames - 1)), 0.0f);
}

TEST(CorrelateReferenceTest, ShortHistoryPairsLeadingReferenceFramesFromFrameZero) {
    // 20 live frames against 10 reference frames: only reference frames 0..2 meet a live frame
    // (0, 8 and 16); the unpaired ones count neither in the products nor in the energy.
    Frames reference(10 * kFeatureBands);
    Frames live(20 * kFeatureBands, 0.0f);
    for (std::size_t i = 0; i < 10; ++i) {
        PutPattern(reference, i, i < 3 ? i : 20, i < 3 ? 1.0f : 50.0f);
    }
    for (std::size_t i = 0; i < 3; ++i) {
        PutPattern(live, 8 * i, i, 4.0f);
    }
    EXPECT_NEAR(CorrelateReference(reference, live), 1.0f, 1e-6f);
}

TEST(CorrelateReferenceTest, NoEnergyOrNoFramesScoresZero) {
    std::mt19937 rng(1);
    const Frames live = RandomFrames(300, rng);
    const Frames silentReference(10 * kFeatureBands, 0.0f);
    const Frames silentLive(300 * kFeatureBands, 0.0f);
    const Frames reference = RandomFrames(10, rng);
    EXPECT_EQ(CorrelateReference(silentReference, live), 0.0f);
    EXPECT_EQ(CorrelateReference(reference, silentLive), 0.0f);
    EXPECT_EQ(CorrelateReference(FirstFrames(reference, 1).first(kFeatureBands - 1), live), 0.0f);
    EXPECT_EQ(CorrelateReference(reference, {}), 0.0f);
}

TEST(CorrelateReferenceTest, ExtremeMagnitudesStillGiveTheCosine) {
    // The energies of such features are representable, but their single-precision product is
    // not: it would overflow to infinity or underflow to zero.
    for (const float level : {1e17f, 1e-15f}) {
        Frames reference(4 * kFeatureBands, 0.0f);
        Frames live(40 * kFeatureBands, 0.0f);
        for (std::size_t i = 0; i < 4; ++i) {
            PutPattern(reference, i, i, level);
            PutPattern(live, 40 - 8 * (4 - i), i, level);
        }
        EXPECT_NEAR(CorrelateReference(reference, live), 1.0f, 1e-6f) << level;
    }
}

// ---------------------------------------------------------------------------------------------
// The fast path, on every instruction set this processor runs

class MatchKernelTest : public ::testing::TestWithParam<MatchKernel::InstructionSet> {
protected:
    void SetUp() override {
        if (GetParam() == MatchKernel::InstructionSet::Avx2Fma &&
            MatchKernel::BestInstructionSet() != MatchKernel::InstructionSet::Avx2Fma) {
            GTEST_SKIP() << "processor lacks AVX2/FMA";
        }
    }

    // Compares every pass of `scores` with the plain correlation over the live prefix it saw.
    void ExpectAgreement(const MatchKernel::Scores& scores, const std::vector<Frames>& references,
                         const Frames& live, std::size_t firstPassEnd) {
        const std::size_t liveFrames = live.size() / kFeatureBands;
        ASSERT_EQ(scores.ReferenceCount(), references.size());
        for (std::size_t p = 0; p < scores.PassCount(); ++p) {
            const std::size_t end = std::min(firstPassEnd + p, liveFrames);
            for (std::size_t r = 0; r < references.size(); ++r) {
                const float expected = CorrelateReference(references[r], FirstFrames(live, end));
                ASSERT_NEAR(scores.At(p, r), expected, kAgreement)
                    << "pass end " << end << ", reference " << r << " of "
                    << references[r].size() / kFeatureBands << " frames";
                ++comparisons_;
            }
        }
    }

    std::size_t comparisons_ = 0;
};

TEST_P(MatchKernelTest, AgreesWithPlainCorrelationAlongAStream) {
    // A live stream grows by a few frames per block, the passes of each block are scored
    // together, and the oldest 128 frames are trimmed as the detection step does. The history
    // starts shorter than every reference, so the early passes pair only leading frames.
    std::mt19937 rng(42);
    const std::vector<std::size_t> lengths{0, 1, 2, 3, 8, 40, 94, 217, 218};
    std::vector<Frames> references;
    MatchKernel kernel(GetParam());
    for (const std::size_t frames : lengths) {
        references.push_back(RandomFrames(frames, rng));
        EXPECT_EQ(kernel.AddReference(references.back()), references.size() - 1);
    }
    const std::size_t trimAt = 8 * 218 + 127;
    Frames live;
    MatchKernel::Scores scores;
    std::uniform_int_distribution<std::size_t> newFrames(1, 6);
    std::uniform_int_distribution<std::size_t> extraPasses(0, 1);
    std::size_t trims = 0;
    while (comparisons_ < 25000) {
        const std::size_t added = newFrames(rng);
        const Frames block = RandomFrames(added, rng);
        live.insert(live.end(), block.begin(), block.end());
        const std::size_t frames = live.size() / kFeatureBands;
        // One pass per new frame; now and then one more past the end of the history.
        const std::size_t firstEnd = frames - added + 1;
        kernel.Score(live, firstEnd, added + extraPasses(rng), scores);
        ExpectAgreement(scores, references, live, firstEnd);
        if (HasFatalFailure()) {
            return;
        }
        if (frames >= trimAt) {
            live.erase(live.begin(), live.begin() + 128 * kFeatureBands);
            kernel.DropOldestLiveFrames(128);
            ++trims;
        }
    }
    EXPECT_GE(trims, 3u);
}

TEST_P(MatchKernelTest, PlainScoreIsThePlainCorrelationBitForBit) {
    // The values kept in halves give back the reference exactly, and the plain order of the
    // sums gives the plain result, whatever the history length, the pass end, or a frame the
    // compared bands leave out; indices past the set score 0.
    std::mt19937 rng(11);
    std::vector<Frames> references{RandomFrames(0, rng), RandomFrames(1, rng),
                                   RandomFrames(37, rng), RandomFrames(218, rng)};
    Frames extreme = RandomFrames(20, rng);
    for (std::size_t n = 0; n < extreme.size(); n += 3) {
        extreme[n] = n % 2 == 0 ? -extreme[n] * 1e20f : extreme[n] * 1e-30f;
    }
    references.push_back(extreme);
    MatchKernel kernel(GetParam());
    for (const Frames& reference : references) {
        kernel.AddReference(reference);
    }
    const Frames live = RandomFrames(8 * 218 + 40, rng);
    const std::size_t liveFrames = live.size() / kFeatureBands;
    for (const std::size_t end : {std::size_t{1}, std::size_t{9}, std::size_t{300}, liveFrames - 1,
                                  liveFrames, liveFrames + 5}) {
        for (std::size_t r = 0; r < references.size(); ++r) {
            const float plain =
                CorrelateReference(references[r], FirstFrames(live, std::min(end, liveFrames)));
            EXPECT_EQ(kernel.PlainScore(live, end, r), plain)
                << "pass end " << end << ", ref " << r;
        }
    }
    EXPECT_EQ(kernel.PlainScore(live, liveFrames, references.size()), 0.0f);
}

TEST_P(MatchKernelTest, AgreesWithPlainCorrelationForAnyPassGeometry) {
    std::mt19937 rng(7);
    std::vector<Frames> references;
    MatchKernel kernel(GetParam());
    for (const std::size_t frames : {1, 5, 30, 218}) {
        references.push_back(RandomFrames(frames, rng));
        kernel.AddReference(references.back());
    }
    const Frames live = RandomFrames(1900, rng);
    MatchKernel::Scores scores;
    // Ends at, below and past the history; single passes and groups wider than one sweep.
    for (const std::size_t firstEnd :
         {0, 1, 7, 8, 9, 239, 240, 241, 1744, 1890, 1899, 1900, 2500}) {
        for (const std::size_t passes : {1, 2, 3, 4, 5, 9}) {
            kernel.Score(live, firstEnd, passes, scores);
            ASSERT_EQ(scores.PassCount(), passes);
            ExpectAgreement(scores, references, live, firstEnd);
        }
    }
    kernel.Score(live, 1800, 0, scores);
    EXPECT_EQ(scores.PassCount(), 0u);
}

TEST_P(MatchKernelTest, ScoresOnlySelectedReferences) {
    std::mt19937 rng(3);
    MatchKernel kernel(GetParam());
    for (int r = 0; r < 6; ++r) {
        kernel.AddReference(RandomFrames(20 + 10 * r, rng));
    }
    const Frames live = RandomFrames(800, rng);
    MatchKernel::Scores all;
    MatchKernel::Scores some;
    kernel.Score(live, 700, 3, all);
    const std::vector<std::uint32_t> selected{1, 4, 99};
    kernel.Score(live, 700, 3, selected, some);
    for (std::size_t p = 0; p < 3; ++p) {
        for (std::size_t r = 0; r < 6; ++r) {
            const bool chosen = r == 1 || r == 4;
            EXPECT_EQ(some.At(p, r), chosen ? all.At(p, r) : 0.0f) << p << " " << r;
        }
    }
}

TEST_P(MatchKernelTest, NewLiveSequenceAndRebuiltReferenceSet) {
    std::mt19937 rng(11);
    MatchKernel kernel(GetParam());
    std::vector<Frames> references{RandomFrames(200, rng)};
    kernel.AddReference(references[0]);
    MatchKernel::Scores scores;
    const Frames first = RandomFrames(1700, rng);
    kernel.Score(first, 1690, 3, scores);
    ExpectAgreement(scores, references, first, 1690);

    // A new run after ResetLive, and a shorter sequence passed without it: both are new.
    const Frames second = RandomFrames(1700, rng);
    kernel.ResetLive();
    kernel.Score(second, 1690, 3, scores);
    ExpectAgreement(scores, references, second, 1690);
    const Frames third = RandomFrames(1650, rng);
    kernel.Score(third, 1640, 3, scores);
    ExpectAgreement(scores, references, third, 1640);

    // A rebuilt set starts its indices at 0 again; a silent reference scores 0.
    kernel.ClearReferences();
    references = {Frames(12 * kFeatureBands, 0.0f), RandomFrames(12, rng)};
    EXPECT_EQ(kernel.AddReference(references[0]), 0u);
    EXPECT_EQ(kernel.AddReference(references[1]), 1u);
    kernel.Score(third, 1640, 2, scores);
    ExpectAgreement(scores, references, third, 1640);
    EXPECT_EQ(scores.At(0, 0), 0.0f);
}

// References of every kind the estimates must not be fooled by: silent; quiet to very loud
// (all-subnormal values; values whose energies overflow single precision); with values of both
// signs; ordinary ones with some subnormal and some zero values; with a NaN or an infinite value.
std::vector<Frames> DecisionReferences(std::mt19937& rng, bool withNonFinite) {
    std::vector<Frames> references{Frames(30 * kFeatureBands, 0.0f)};
    for (const float loudness : {1e-42f, 1e-3f, 1.0f, 4e4f, 1e6f, 1e28f}) {
        for (const std::size_t frames : {1, 20, 93, 218}) {
            references.push_back(RandomFrames(frames, rng));
            for (float& v : references.back()) {
                v *= loudness;
            }
        }
    }
    std::bernoulli_distribution negative(0.4);
    for (const std::size_t frames : {20, 218}) {
        references.push_back(RandomFrames(frames, rng));
        for (float& v : references.back()) {
            v = negative(rng) ? -v : v;
        }
        references.push_back(RandomFrames(frames, rng));
        for (std::size_t n = 0; n < references.back().size(); ++n) {
            references.back()[n] = n % 5 == 0 ? 3e-39f : n % 7 == 0 ? 0.0f : references.back()[n];
        }
    }
    if (withNonFinite) {
        for (const float odd : {std::nanf(""), std::numeric_limits<float>::infinity()}) {
            references.push_back(RandomFrames(40, rng));
            references.back()[17 * kFeatureBands + 5] = odd;
        }
    }
    return references;
}

TEST_P(MatchKernelTest, DecisionScoresFireExactlyWhenExactScoresWould) {
    // Cutoffs around each reference's exact score, from well below to well above, with steps at
    // the estimate margin and error; 13 passes as for the blocks of one 50 ms transfer. Far
    // above, sweeps end early and the scores are upper bounds instead of estimates.
    std::mt19937 rng(5);
    MatchKernel kernel(GetParam());
    const std::vector<Frames> references = DecisionReferences(rng, true);
    for (const Frames& reference : references) {
        kernel.AddReference(reference);
    }
    std::vector<std::uint32_t> all(references.size());
    for (std::size_t r = 0; r < all.size(); ++r) {
        all[r] = static_cast<std::uint32_t>(r);
    }
    const Frames live = RandomFrames(1900, rng);
    constexpr float kMargin = MatchKernel::kEstimateMargin;
    constexpr float kError = MatchKernel::kEstimateError;
    const std::vector<float> offsets{
        -0.1f, -2 * kMargin, -kMargin - 1e-4f, -kMargin,    -kError, -1e-4f, 0.0f,
        1e-4f, kError,       kMargin,          2 * kMargin, 0.1f,    0.4f,   1.0f};
    std::size_t estimates = 0;
    std::size_t bounds = 0;
    MatchKernel::Scores exact;
    MatchKernel::Scores decisive;
    for (const std::size_t firstEnd : {1850, 1887, 1898}) {
        const std::size_t passes = firstEnd == 1898 ? 3 : 13;
        kernel.Score(live, firstEnd, passes, exact);
        for (const float offset : offsets) {
            for (const std::size_t pivot : {std::size_t{0}, passes - 1}) {
                std::vector<float> cutoffs(references.size());
                for (std::size_t r = 0; r < cutoffs.size(); ++r) {
                    cutoffs[r] = exact.At(pivot, r) + offset;
                }
                kernel.ScoreAgainst(live, firstEnd, passes, all, cutoffs, decisive);
                for (std::size_t p = 0; p < passes; ++p) {
                    for (std::size_t r = 0; r < references.size(); ++r) {
                        const float value = decisive.At(p, r);
                        const float truth = exact.At(p, r);
                        ASSERT_EQ(value > cutoffs[r], truth > cutoffs[r])
                            << "pass " << p << ", reference " << r << ", offset " << offset;
                        if (value != truth && !(std::isnan(value) && std::isnan(truth))) {
                            ++estimates;
                            EXPECT_LE(value, cutoffs[r] - kMargin);
                            EXPECT_GE(value, truth - kError - kAgreement);
                            bounds += value > truth + kError + kAgreement ? 1 : 0;
                        }
                    }
                }
            }
        }
    }
    if (GetParam() == MatchKernel::InstructionSet::Portable) {
        EXPECT_EQ(estimates, 0u);
    } else {
        EXPECT_GT(estimates, 0u);
        EXPECT_GT(bounds, 0u);
    }
    // References without a cutoff are scored exactly.
    kernel.Score(live, 1850, 3, exact);
    const std::vector<float> lowCutoffs(references.size() / 2, 0.99f);
    kernel.ScoreAgainst(live, 1850, 3, all, lowCutoffs, decisive);
    for (std::size_t r = lowCutoffs.size(); r < references.size(); ++r) {
        const float value = decisive.At(2, r);
        EXPECT_TRUE(value == exact.At(2, r) || (std::isnan(value) && std::isnan(exact.At(2, r))))
            << r;
    }
}

TEST_P(MatchKernelTest, SplitStorageKeepsEveryValueBitForBit) {
    // Reference and live frames whose dot product cancels exactly: even bands v (in [1, 2),
    // low 16 bits all set) against 1, odd bands 1 against -v. Exact values score 0; their high
    // halves alone (v less almost 2^-7) would score about -2.6e-3. Storage is 4 bytes per
    // compared value plus a little per frame and per reference.
    constexpr std::size_t kFrames = 50;
    constexpr std::size_t kLiveFrames = 2000;
    Frames live(kLiveFrames * kFeatureBands, 0.0f);
    Frames reference(kFrames * kFeatureBands, 0.0f);
    std::mt19937 rng(9);
    std::uniform_int_distribution<std::uint32_t> highBits(0, 127);
    for (std::size_t i = 0; i < kFrames; ++i) {
        float* r = reference.data() + i * kFeatureBands;
        float* l = live.data() + (kLiveFrames - 8 * (kFrames - i)) * kFeatureBands;
        for (std::size_t k = 0; k < kComparedBands; k += 2) {
            r[k] = std::bit_cast<float>(0x3F80FFFFu | highBits(rng) << 16);
            r[k + 1] = 1.0f;
            l[k] = 1.0f;
            l[k + 1] = -r[k];
        }
    }
    MatchKernel kernel(GetParam());
    kernel.AddReference(reference);
    MatchKernel::Scores scores;
    kernel.Score(live, kLiveFrames, 1, scores);
    EXPECT_NEAR(CorrelateReference(reference, live), 0.0f, kAgreement);
    EXPECT_NEAR(scores.At(0, 0), 0.0f, kAgreement);
    EXPECT_GE(kernel.ReferenceBytes(), kFrames * kComparedBands * 4);
    // Besides the values: a double per 8 frames (energy checkpoints) and the record.
    EXPECT_LE(kernel.ReferenceBytes(), kFrames * kComparedBands * 4 + kFrames + 64);
    kernel.ClearReferences();
    EXPECT_EQ(kernel.ReferenceBytes(), 0u);
}

// Bitwise equality, NaN included.
void ExpectSameScores(const MatchKernel::Scores& a, const MatchKernel::Scores& b) {
    ASSERT_EQ(a.PassCount(), b.PassCount());
    ASSERT_EQ(a.ReferenceCount(), b.ReferenceCount());
    for (std::size_t p = 0; p < a.PassCount(); ++p) {
        for (std::size_t r = 0; r < a.ReferenceCount(); ++r) {
            ASSERT_EQ(std::bit_cast<std::uint32_t>(a.At(p, r)),
                      std::bit_cast<std::uint32_t>(b.At(p, r)))
                << "pass " << p << ", reference " << r;
        }
    }
}

TEST_P(MatchKernelTest, SpilledLowHalvesScoreBitForBitAsInMemory) {
    testing::TempFolder folder;
    std::mt19937 rng(21);
    std::vector<Frames> references = DecisionReferences(rng, true);
    MatchKernel kept(GetParam());
    MatchKernel spilled(GetParam());
    for (const Frames& reference : references) {
        kept.AddReference(reference);
        spilled.AddReference(reference);
    }
    EXPECT_FALSE(spilled.SpillLowHalves(folder.File("missing")));
    EXPECT_FALSE(spilled.LowHalvesSpilled());
    ASSERT_TRUE(spilled.SpillLowHalves(folder.Path()));
    EXPECT_TRUE(spilled.LowHalvesSpilled());
    EXPECT_EQ(spilled.ReferenceBytes(), kept.ReferenceBytes());

    std::vector<std::uint32_t> all(references.size());
    for (std::size_t r = 0; r < all.size(); ++r) {
        all[r] = static_cast<std::uint32_t>(r);
    }
    // Cutoffs just around the exact scores, so that the decisive scores are exact ones.
    const Frames live = RandomFrames(1900, rng);
    MatchKernel::Scores expected;
    MatchKernel::Scores actual;
    const auto compare = [&](std::size_t firstEnd, std::size_t passes) {
        kept.Score(live, firstEnd, passes, expected);
        spilled.Score(live, firstEnd, passes, actual);
        ExpectSameScores(actual, expected);
        std::vector<float> cutoffs(references.size());
        for (std::size_t r = 0; r < cutoffs.size(); ++r) {
            cutoffs[r] = expected.At(0, r) - 1e-4f;
        }
        kept.ScoreAgainst(live, firstEnd, passes, all, cutoffs, expected);
        spilled.ScoreAgainst(live, firstEnd, passes, all, cutoffs, actual);
        ExpectSameScores(actual, expected);
        for (std::size_t r = 0; r < references.size(); ++r) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(spilled.PlainScore(live, firstEnd, r)),
                      std::bit_cast<std::uint32_t>(kept.PlainScore(live, firstEnd, r)));
        }
    };
    compare(1850, 13);
    // A live sequence shorter than the longest reference: passes scored one by one.
    spilled.ResetLive();
    kept.ResetLive();
    compare(300, 2);

    // A reference added later brings the halves back; the earlier ones score as before.
    references.push_back(RandomFrames(60, rng));
    kept.AddReference(references.back());
    spilled.AddReference(references.back());
    EXPECT_FALSE(spilled.LowHalvesSpilled());
    spilled.ResetLive();
    kept.ResetLive();
    all.push_back(static_cast<std::uint32_t>(references.size() - 1));
    compare(1850, 5);
    spilled.ClearReferences();
    EXPECT_EQ(spilled.ReferenceBytes(), 0u);
}

// Spilled as each reference is added: mapped by the first scoring, or (when the disk fills up
// half-way) kept in memory with what was written read back; bit for bit the same scores.
TEST_P(MatchKernelTest, LowHalvesSpilledAsReferencesComeScoreAsInMemory) {
    testing::TempFolder folder;
    std::mt19937 rng(23);
    const std::vector<Frames> references = DecisionReferences(rng, false);
    const Frames live = RandomFrames(1900, rng);
    MatchKernel kept(GetParam());
    for (const Frames& reference : references) {
        kept.AddReference(reference);
    }
    MatchKernel::Scores expected;
    kept.Score(live, 1850, 7, expected);

    for (const bool diskFills : {false, true}) {
        MatchKernel streamed(GetParam());
        streamed.BeginSpilling(folder.Path());
        {
            // About a third of the halves fit.
            testing::FileSizeLimit limit(diskFills ? 40 * 1024 : RLIM_INFINITY);
            for (const Frames& reference : references) {
                streamed.AddReference(reference);
            }
        }
        MatchKernel::Scores actual;
        streamed.Score(live, 1850, 7, actual);
        EXPECT_EQ(streamed.LowHalvesSpilled(), !diskFills);
        ExpectSameScores(actual, expected);
        for (std::size_t r = 0; r < references.size(); ++r) {
            EXPECT_EQ(std::bit_cast<std::uint32_t>(streamed.PlainScore(live, 1870, r)),
                      std::bit_cast<std::uint32_t>(kept.PlainScore(live, 1870, r)));
        }
        // Nothing in the folder either way.
        EXPECT_EQ(folder.EntryCount(), 0u);
    }
}

TEST(MatchKernelSetsTest, PortableAndAvx2ScoreAlike) {
    if (MatchKernel::BestInstructionSet() != MatchKernel::InstructionSet::Avx2Fma) {
        GTEST_SKIP() << "processor lacks AVX2/FMA";
    }
    std::mt19937 rng(21);
    const std::vector<Frames> references = DecisionReferences(rng, false);
    MatchKernel portable(MatchKernel::InstructionSet::Portable);
    MatchKernel avx2(MatchKernel::InstructionSet::Avx2Fma);
    for (const Frames& reference : references) {
        portable.AddReference(reference);
        avx2.AddReference(reference);
    }
    const Frames live = RandomFrames(1900, rng);
    MatchKernel::Scores expected;
    MatchKernel::Scores actual;
    for (const std::size_t firstEnd : {100, 1000, 1887}) {
        portable.Score(live, firstEnd, 13, expected);
        avx2.Score(live, firstEnd, 13, actual);
        for (std::size_t p = 0; p < 13; ++p) {
            for (std::size_t r = 0; r < references.size(); ++r) {
                ASSERT_NEAR(actual.At(p, r), expected.At(p, r), kAgreement) << p << " " << r;
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(InstructionSets, MatchKernelTest,
                         ::testing::Values(MatchKernel::InstructionSet::Portable,
                                           MatchKernel::InstructionSet::Avx2Fma),
                         [](const ::testing::TestParamInfo<MatchKernel::InstructionSet>& info) {
                             return info.param == MatchKernel::InstructionSet::Portable ? "Portable"
                                                                                        : "Avx2Fma";
                         });

}  // namespace
}  // namespace hushwell
