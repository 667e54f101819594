// Cost of the detection step end to end, as CPU time per second of audio.
//
// The real DetectionStep with 2000 sound triggers, each on its own 7 s reference (synthetic
// features, 218 frames of 32 bands, spread like real spectra so that they score well below
// their match threshold against the live audio most of the time), fed 48 kHz stereo 16-bit
// audio in 10 ms blocks: live analysis, the level and level triggers, the matching passes and
// the firing decisions, the telephone detector and the trimming of the history. The counter
// core_per_audio_second is the CPU time per second of audio as a fraction of one core;
// firings counts the firings decided over the run.
//
// Modes: 0: five blocks per call (one 50 ms transfer, ProcessBlocks); 1: one block per call
// (ProcessBlock); 2: the plain baseline, live analysis plus CorrelateReference of every
// reference in every pass (slow, so measured over a few blocks only).

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <numbers>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "analysis/FineSpectrum.h"
#include "analysis/LevelMeter.h"
#include "analysis/MatchKernel.h"
#include "analysis/SoundReference.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/SpectralPeaks.h"
#include "analysis/TelephoneBandDetector.h"
#include "analysis/TonalTracks.h"
#include "base/Clock.h"
#include "detection/ControlLauncher.h"
#include "detection/DetectionStep.h"
#include "detection/FiringSink.h"
#include "triggers/Trigger.h"
#include "triggers/TriggerList.h"
#include "wav/WaveData.h"

namespace hushwell {
namespace {

constexpr int kReferences = 2000;
constexpr int kReferenceSeconds = 7;
constexpr std::size_t kReferenceFrames = 218;  // 7 s at 16 kHz in frames of 512
constexpr float kMatchThreshold = 0.854f;      // what analysis gives a 7 s sound
constexpr int kRate = 48000;
constexpr int kChannels = 2;
constexpr int kBlockFrames = kRate / 100;  // 10 ms
constexpr std::uint64_t kBlockMs = 10;
constexpr double kBlocksPerSecond = 100.0;
constexpr int kSourceSeconds = 20;
constexpr double kPrerollSeconds = 7.5;  // history the longest reference needs, and some
constexpr std::size_t kTransferBlocks = 5;

enum Mode { kTransfers = 0, kSingleBlocks = 1, kPlain = 2 };

// Band magnitudes with a log-normal spread, as spectra of real sounds have. Each reference
// also has a tonal peak and the most tonal tracks over the longest stretch the second stage
// compares, so that it scores every reference in every frame, as for 2000 tonal sounds.
std::vector<SoundReference> SyntheticReferences() {
    std::mt19937 rng(77);
    std::lognormal_distribution<float> magnitude(6.0f, 1.2f);
    std::uniform_int_distribution<int> peakBin(SpectralPeaks::kFirstBin + SpectralPeaks::kAround,
                                               SpectralPeaks::kLastBin - SpectralPeaks::kAround);
    std::uniform_int_distribution<int> level(0, 80);
    std::vector<SoundReference> references;
    references.reserve(kReferences);
    for (int r = 0; r < kReferences; ++r) {
        std::vector<float> features(kReferenceFrames * SoundReference::kBandsPerFrame);
        for (float& value : features) {
            value = magnitude(rng);
        }
        references.emplace_back(std::move(features), kMatchThreshold);
        std::vector<float> power(FineSpectrum::kBins, 1.0f);
        power[static_cast<std::size_t>(peakBin(rng))] = 1e4f;
        references.back().SetPeaks(SpectralPeaks::Find(power));
        TonalPattern tracks;
        for (std::size_t t = 0; t < TonalTrackConstants::kMaxTracks; ++t) {
            tracks.bins.push_back(
                static_cast<std::uint16_t>(TonalTrackConstants::kFirstBin + 50 * t));
        }
        tracks.values.resize(TonalTrackConstants::kMaxPatternFrames * tracks.bins.size());
        for (std::uint8_t& value : tracks.values) {
            value = static_cast<std::uint8_t>(level(rng));
        }
        references.back().SetTracks(std::move(tracks));
    }
    return references;
}

// Interleaved stereo: noise under a few tones that change every half second.
std::vector<std::int16_t> SourceAudio() {
    std::mt19937 rng(5);
    std::normal_distribution<double> noise(0.0, 900.0);
    std::uniform_real_distribution<double> pitch(150.0, 4000.0);
    const std::size_t frames = static_cast<std::size_t>(kRate) * kSourceSeconds;
    std::vector<std::int16_t> samples(frames * kChannels);
    double tones[3] = {440.0, 660.0, 990.0};
    for (std::size_t f = 0; f < frames; ++f) {
        if (f % (kRate / 2) == 0) {
            for (double& tone : tones) {
                tone = pitch(rng);
            }
        }
        const double t = static_cast<double>(f) / kRate;
        double value = noise(rng);
        for (const double tone : tones) {
            value += 2500.0 * std::sin(2.0 * std::numbers::pi * tone * t);
        }
        const auto sample = static_cast<std::int16_t>(std::clamp(value, -32768.0, 32767.0));
        samples[f * kChannels] = sample;
        samples[f * kChannels + 1] = sample;
    }
    return samples;
}

class NullLauncher final : public ControlLauncher, public FiringSink {
public:
    bool StartSoundControl(const Trigger&, bool) override { return true; }
    bool StartTimeControl(const Trigger&, bool) override { return true; }
    LevelOutcome ExtendOrStartLevelControl(const Trigger&) override {
        return LevelOutcome::Started;
    }
    void PostTelephoneVerdict(int) override {}
    void OnFiring(const Firing&) override { ++firings; }
    std::int64_t firings = 0;
};

// The audio as a ring of 10 ms blocks.
class BlockSource {
public:
    BlockSource() : samples_(SourceAudio()) {}
    const WaveData& Next() {
        const std::size_t values = static_cast<std::size_t>(kBlockFrames) * kChannels;
        if (at_ + values > samples_.size()) {
            at_ = 0;
        }
        WaveData& block = blocks_[next_++ % kTransferBlocks];
        block.AssignPcm16(kRate, kChannels, kBlockFrames, std::span(samples_.data() + at_, values));
        at_ += values;
        return block;
    }

private:
    std::vector<std::int16_t> samples_;
    std::size_t at_ = 0;
    std::size_t next_ = 0;
    WaveData blocks_[kTransferBlocks];
};

// The step with its collaborators, its history filled so that every block runs its passes.
struct StepRig {
    StepRig() {
        for (int r = 0; r < kReferences; ++r) {
            Trigger trigger;
            trigger.SetActive(true);
            trigger.name = "reference " + std::to_string(r);
            trigger.triggerKind = "sound";
            trigger.SetControl("mute");
            trigger.duration = TriggerTime(0, 0, kReferenceSeconds);
            trigger.referenceIndices = {static_cast<std::uint32_t>(r)};
            triggers.Add(trigger);
        }
        step = std::make_unique<DetectionStep>(triggers, live, level, telephone, launcher, clock,
                                               &launcher);
        const std::vector<SoundReference> references = SyntheticReferences();
        // As the program keeps them: the low halves of the prepared values in an unnamed file.
        step->SetSpillFolder(std::filesystem::temp_directory_path().string());
        step->PrepareReferences(references, static_cast<std::uint32_t>(
                                                kReferenceFrames * SoundReference::kBandsPerFrame));
        live.ResetSilentBlockCount();
        DetectionStep::ClearHoldOffs(triggers);
        step->Begin();
        for (int b = 0; b < kPrerollSeconds * kBlocksPerSecond; ++b) {
            clock.AdvanceMs(kBlockMs);
            step->ProcessBlock(source.Next());
        }
    }

    TriggerList triggers;
    SpectralAnalyzer live;
    LevelMeter level;
    TelephoneBandDetector telephone;
    NullLauncher launcher;
    ManualClock clock;
    BlockSource source;
    std::unique_ptr<DetectionStep> step;
};

void RunStep(benchmark::State& state, Mode mode) {
    StepRig rig;
    const std::int64_t firingsBefore = rig.launcher.firings;
    const std::size_t blocksPerCall = mode == kTransfers ? kTransferBlocks : 1;
    std::vector<DetectionStep::HeardBlock> transfer(kTransferBlocks);
    for (auto _ : state) {
        rig.step->WakeUp();
        if (mode == kTransfers) {
            for (auto& heard : transfer) {
                rig.clock.AdvanceMs(kBlockMs);
                heard = {&rig.source.Next(), rig.clock.TickMs()};
            }
            rig.step->ProcessBlocks(transfer);
        } else {
            rig.clock.AdvanceMs(kBlockMs);
            rig.step->ProcessBlock(rig.source.Next());
        }
    }
    const double audioSeconds =
        static_cast<double>(state.iterations() * blocksPerCall) / kBlocksPerSecond;
    state.counters["core_per_audio_second"] =
        benchmark::Counter(audioSeconds, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["firings"] = static_cast<double>(rig.launcher.firings - firingsBefore);
}

// Live analysis and the plain correlation of every reference with the history up to each new
// frame, the history trimmed as the step trims it.
void RunPlain(benchmark::State& state) {
    const std::vector<SoundReference> references = SyntheticReferences();
    SpectralAnalyzer live;
    BlockSource source;
    constexpr std::size_t kBands = SpectralAnalyzer::kBandCount;
    constexpr std::size_t kTrimFrames = DetectionStep::kTrimFrames;
    const std::size_t needed = kReferenceFrames * kLiveFramesPerReferenceFrame;  // frames
    const std::size_t keep = needed + kTrimFrames - 1;
    std::size_t done = 0;
    const auto feed = [&](bool score) {
        const WaveData& block = source.Next();
        live.ExtractLiveFeatures(kRate, kChannels, block.Samples16());
        float best = 0.0f;
        for (; live.FrameCount() >= needed + done; ++done) {
            if (!score) {
                continue;
            }
            const auto seen = std::span(live.Features()).first((needed + done) * kBands);
            for (const SoundReference& reference : references) {
                best = std::max(best, CorrelateReference(reference.Features(), seen));
            }
        }
        if (live.FrameCount() >= keep) {
            live.TrimFrontFrames(kTrimFrames);
            done -= kTrimFrames;
        }
        return best;
    };
    for (int b = 0; b < kPrerollSeconds * kBlocksPerSecond; ++b) {
        feed(false);
    }
    float best = 0.0f;
    for (auto _ : state) {
        best = std::max(best, feed(true));
    }
    benchmark::DoNotOptimize(best);
    state.counters["core_per_audio_second"] =
        benchmark::Counter(static_cast<double>(state.iterations()) / kBlocksPerSecond,
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_DetectionStep(benchmark::State& state) {
    const auto mode = static_cast<Mode>(state.range(0));
    if (mode == kPlain) {
        RunPlain(state);
    } else {
        RunStep(state, mode);
    }
}

BENCHMARK(BM_DetectionStep)
    ->ArgName("mode")
    ->Arg(kTransfers)
    ->Arg(kSingleBlocks)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(2.0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

BENCHMARK(BM_DetectionStep)
    ->ArgName("mode")
    ->Arg(kPlain)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(30)
    ->Repetitions(3)
    ->ReportAggregatesOnly(true);

}  // namespace
}  // namespace hushwell
