#include "detection/DetectionStep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "analysis/LevelMeter.h"
#include "analysis/MatchKernel.h"
#include "analysis/SoundReference.h"
#include "analysis/SpectralAnalyzer.h"
#include "analysis/TelephoneBandDetector.h"
#include "tests/detection/DetectionTestSupport.h"
#include "tests/support/TempFolder.h"
#include "triggers/CTriggerList.h"
#include "triggers/EventLog.h"
#include "wav/WaveData.h"

namespace hushwell {
namespace {

using namespace hushwell::testing;

constexpr std::size_t kBlockFrames = kRate / 100;  // 10 ms
constexpr int kBlocksPerWakeUp = 5;

// The features of a whole sound, as the reference set makes them.
SoundReference ReferenceOf(const std::vector<std::int16_t>& sound, float threshold = -1.0f) {
    SpectralAnalyzer analyzer;
    analyzer.ExtractReferenceFeatures(kRate, 1, sound);
    return SoundReference(analyzer.Features(),
                          threshold < 0.0f ? analyzer.MatchThreshold() : threshold);
}

// A reference whose bands are all equal: it matches silence exactly and noise well.
SoundReference FlatReference(float threshold, std::size_t frames = 10) {
    return SoundReference(std::vector<float>(frames * SpectralAnalyzer::kBandCount, 1.0f),
                          threshold);
}

// One run of detection: its own live analysis around the fixture's triggers and runners.
struct Detection {
    Detection(CTriggerList& triggers, ControlLauncher& launcher, const Clock& clock,
              FiringSink* firings)
        : step(triggers, live, level, telephone, launcher, clock, firings) {
        SpectralAnalyzer::ResetSilentBlockCount();
        DetectionStep::ClearHoldOffs(triggers);
    }
    SpectralAnalyzer live;
    LevelMeter level;
    TelephoneBandDetector telephone;
    DetectionStep step;
};

// Counts what the step hands over, without carrying anything out.
class LauncherSpy final : public ControlLauncher {
public:
    bool StartSoundControl(const CTrigger&, bool) override { return true; }
    bool StartTimeControl(const CTrigger&, bool) override { return true; }
    LevelOutcome ExtendOrStartLevelControl(const CTrigger&) override {
        return LevelOutcome::Started;
    }
    void PostTelephoneVerdict(int verdict) override { verdicts.push_back(verdict); }
    std::vector<int> verdicts;
};

class RecordingScores final : public DetectionStep::ScoreObserver {
public:
    RecordingScores(const SpectralAnalyzer& live, SoundReference reference)
        : live_(live), reference_(std::move(reference)) {}
    void OnPassScores(std::size_t passEnd, std::span<const float> scores) override {
        ++passes;
        best = std::max(best, scores[0]);
        const auto frames = std::span(live_.Features()).first(passEnd * kFeatureBands);
        const float plain = passEnd == live_.FrameCount()
                                ? live_.Correlate(reference_)
                                : CorrelateReference(reference_.Features(), frames);
        worstDifference = std::max(worstDifference, std::abs(scores[0] - plain));
    }
    std::size_t passes = 0;
    float best = 0.0f;
    float worstDifference = 0.0f;

private:
    const SpectralAnalyzer& live_;
    SoundReference reference_;
};

class DetectionStepTest : public ::testing::Test {
protected:
    DetectionStepTest() { Restart(); }

    // A fresh detection run over the fixture's list; the clock goes on.
    void Restart(ControlLauncher* launcher = nullptr) {
        detection_ = std::make_unique<Detection>(
            triggers_, launcher != nullptr ? *launcher : *harness_.runners, harness_.clock,
            &firings_);
        blocks_ = 0;
        startTick_ = harness_.clock.TickMs();
    }
    DetectionStep& Step() { return detection_->step; }

    // A sound trigger on the given references (indices into the prepared set).
    CTrigger& AddSound(const std::string& name, const std::string& control, int seconds,
                       std::vector<std::uint32_t> references) {
        CTrigger trigger = MakeTrigger("sound", name, control, seconds);
        trigger.referenceIndices = std::move(references);
        triggers_.Add(trigger);
        return *triggers_.GetSound(triggers_.CountSound() - 1);
    }
    void Prepare(const std::vector<SoundReference>& references) {
        std::uint32_t longest = 4096;
        for (const auto& reference : references) {
            longest = std::max(longest, static_cast<std::uint32_t>(reference.Features().size()));
        }
        Step().PrepareReferences(references, longest);
        Step().Begin();
    }

    // Plays audio into the step in 10 ms blocks, the clock standing at each block's end.
    void Play(const std::vector<std::int16_t>& mono) {
        for (std::size_t at = 0; at < mono.size(); at += kBlockFrames) {
            const std::size_t frames = std::min(kBlockFrames, mono.size() - at);
            harness_.clock.AdvanceMs(10);
            if (blocks_++ % kBlocksPerWakeUp == 0) {
                Step().WakeUp();
            }
            WaveData block;
            block.AssignPcm16(kRate, 1, static_cast<int>(frames),
                              std::span(mono.data() + at, frames));
            Step().ProcessBlock(block);
        }
    }
    void PlaySilence(double seconds) { Play(std::vector<std::int16_t>(kRate * seconds, 0)); }

    // Seconds of audio played when a firing was decided.
    double At(const Firing& firing) const {
        return static_cast<double>(firing.tick - startTick_) / 1000.0;
    }
    std::vector<double> Times(const std::string& name = {}) {
        std::vector<double> times;
        for (const Firing& firing : firings_.Firings()) {
            if (name.empty() || firing.triggerName == name) {
                times.push_back(At(firing));
            }
        }
        return times;
    }

    RunnerHarness harness_;
    CTriggerList triggers_;
    FiringRecorder firings_;
    std::unique_ptr<Detection> detection_;
    std::size_t blocks_ = 0;
    std::uint64_t startTick_ = 0;
};

// --- When matching runs ----------------------------------------------------------------------

TEST_F(DetectionStepTest, MatchingStartsOnceTheLongestReferenceFitsInTheHistory) {
    const auto chirp = Chirp();
    AddSound("chirp", "mute", 1, {0});
    Prepare({ReferenceOf(chirp)});

    // The first chirp ends before 4.1 s of audio are there; the second ends just after.
    auto track = Noise(8.0, 800, 1);
    MixInto(track, chirp, 1.0);
    MixInto(track, chirp, 3.2);
    Play(track);

    const auto times = Times();
    ASSERT_EQ(times.size(), 1u);
    EXPECT_NEAR(times[0], 4.2, 0.12);
    EXPECT_EQ(harness_.runners->Size(), 1u);

    // With a 5.5 s reference in the set, nothing is matched before 5.5 s of audio.
    firings_.Clear();
    Restart();
    Prepare({ReferenceOf(chirp), ReferenceOf(Noise(5.5, 3000, 2))});
    MixInto(track, chirp, 6.0);
    Play(track);
    const auto later = Times();
    ASSERT_EQ(later.size(), 1u);
    EXPECT_NEAR(later[0], 7.0, 0.12);
}

TEST_F(DetectionStepTest, PassScoresAreThePlainCorrelationUpToEachPassFrame) {
    const auto chirp = Chirp();
    const SoundReference reference = ReferenceOf(chirp);
    AddSound("chirp", "mute", 0, {0});
    Prepare({reference});
    RecordingScores scores(detection_->live, reference);
    Step().SetScoreObserver(&scores);

    // Long enough for the history to be trimmed several times.
    auto track = Noise(12.0, 800, 3);
    MixInto(track, chirp, 9.0);
    Play(track);

    // One pass for every live frame from the 1024th on: 250 a second.
    EXPECT_NEAR(static_cast<double>(scores.passes), (12.0 - 4.1) * 16000 / 64, 20);
    EXPECT_EQ(scores.passes, Step().PassesRun());
    EXPECT_LT(scores.worstDifference, 1e-5f);
    EXPECT_GT(scores.best, reference.MatchThreshold());
}

TEST_F(DetectionStepTest, SilenceRestsMatchingAndTheFirstSoundResumesItAtOnce) {
    AddSound("flat", "mute", 1, {0});
    Prepare({FlatReference(0.5f)});

    Play(Noise(0.01, 100, 4));  // the last sound for a while
    PlaySilence(15.0);
    const auto resting = Times();
    ASSERT_FALSE(resting.empty());
    EXPECT_NEAR(resting.front(), 4.1, 0.1);
    EXPECT_LT(resting.back(), 10.01);  // 10 s after the last non-zero sample

    std::vector<std::int16_t> click(kBlockFrames, 0);
    click[0] = 1;
    Play(click);
    const auto resumed = Times();
    ASSERT_EQ(resumed.size(), resting.size() + 1);
    EXPECT_DOUBLE_EQ(resumed.back(), 15.02);
}

// --- Firing ----------------------------------------------------------------------------------

TEST_F(DetectionStepTest, ZeroDurationLogsEveryThirdOfASecondButCarriesNothingOut) {
    testing::TempFolder folder;
    ProgramLog().SetPath(folder.File("log.txt"));
    AddSound("brief", "mute", 0, {0});
    Prepare({FlatReference(0.5f)});
    Play(Noise(6.0, 3000, 5));
    ProgramLog().SetPath("");

    const auto times = Times();
    ASSERT_GE(times.size(), 5u);
    for (std::size_t i = 1; i < times.size(); ++i) {
        EXPECT_NEAR(times[i] - times[i - 1], 0.3, 1e-9);
    }
    EXPECT_EQ(harness_.runners->Size(), 0u);

    std::ifstream log(folder.File("log.txt"));
    std::string line;
    std::size_t logged = 0;
    while (std::getline(log, line)) {
        logged += line.ends_with(",brief") ? 1 : 0;
    }
    EXPECT_EQ(logged, times.size());
}

TEST_F(DetectionStepTest, ExecHoldsOffFourSecondsAndNeedsASecondToRun) {
    CTrigger& run = AddSound("run", "exec", 10, {0});
    run.command = "true";
    AddSound("instant", "exec", 0, {0});
    Prepare({FlatReference(0.5f)});
    Play(Noise(13.0, 3000, 6));

    for (const std::string name : {"run", "instant"}) {
        const auto times = Times(name);
        ASSERT_EQ(times.size(), 3u) << name;
        EXPECT_NEAR(times[1] - times[0], 4.0, 0.011);
        EXPECT_NEAR(times[2] - times[1], 4.0, 0.011);
    }
    EXPECT_EQ(harness_.runners->Size(), 3u);
    EXPECT_TRUE(Eventually([&] { return harness_.opener.Count() == 3; }));
}

TEST_F(DetectionStepTest, EveryMatchingReferenceFiresInListAndIndexOrder) {
    AddSound("first", "mute", 1, {1});
    AddSound("both", "mute", 1, {0, 1});
    Prepare({FlatReference(0.5f), FlatReference(0.5f, 12)});
    Play(Noise(4.2, 3000, 7));

    const auto firings = firings_.Firings();
    ASSERT_EQ(firings.size(), 3u);
    EXPECT_EQ(firings[0].triggerName, "first");
    EXPECT_EQ(firings[1].triggerName, "both");
    EXPECT_EQ(firings[1].reference, 0);
    EXPECT_EQ(firings[2].triggerName, "both");
    EXPECT_EQ(firings[2].reference, 1);
    EXPECT_EQ(firings[0].tick, firings[2].tick);  // one pass
    EXPECT_EQ(harness_.runners->Size(), 3u);
}

TEST_F(DetectionStepTest, AScoreEqualToTheThresholdDoesNotFire) {
    const auto chirp = Chirp();
    auto track = Noise(7.0, 2000, 8);
    MixInto(track, chirp, 5.0);
    AddSound("chirp", "mute", 0, {0});

    // The best score this recording reaches, exactly as the firing decisions see it.
    Prepare({ReferenceOf(chirp, 2.0f)});
    RecordingScores scores(detection_->live, ReferenceOf(chirp));
    Step().SetScoreObserver(&scores);
    Play(track);
    ASSERT_TRUE(firings_.Firings().empty());
    const float best = scores.best;
    ASSERT_GT(best, 0.5f);

    Restart();
    Prepare({ReferenceOf(chirp, best)});
    Play(track);
    EXPECT_TRUE(firings_.Firings().empty());

    Restart();
    Prepare({ReferenceOf(chirp, std::nextafter(best, 0.0f))});
    Play(track);
    EXPECT_FALSE(firings_.Firings().empty());
}

TEST_F(DetectionStepTest, BlockedControlsAreLoggedButNotCarriedOut) {
    AddSound("mute", "mute", 1, {0});
    Prepare({FlatReference(0.5f)});
    harness_.runners->BlockControls();
    Play(Noise(4.2, 3000, 9));
    EXPECT_EQ(Times().size(), 1u);
    EXPECT_EQ(harness_.runners->Size(), 0u);

    harness_.runners->UnblockControls();
    Play(Noise(1.3, 3000, 10));
    EXPECT_EQ(Times().size(), 2u);
    EXPECT_EQ(harness_.runners->Size(), 1u);
    EXPECT_TRUE(harness_.MutedSoon(true));
}

TEST_F(DetectionStepTest, TelephoneVerdictIsPostedAfterEveryPass) {
    LauncherSpy spy;
    Restart(&spy);
    Prepare({});
    Play(Noise(6.0, 3000, 11));
    EXPECT_EQ(spy.verdicts.size(), Step().PassesRun());
    EXPECT_EQ(std::count(spy.verdicts.begin(), spy.verdicts.end(), 1), 0);

    Play(Tone(2406.25, 4.0, 20000));  // on the bin of band 9
    EXPECT_EQ(spy.verdicts.size(), Step().PassesRun());
    EXPECT_EQ(spy.verdicts.back(), 1);
}

// --- Level triggers ----------------------------------------------------------------------

TEST_F(DetectionStepTest, LevelTriggersFireAboveTheirLevelAndExtendTheirControl) {
    CTrigger never = MakeTrigger("level", "never", "mute", 2);
    never.level = 100;
    triggers_.Add(never);
    CTrigger any = MakeTrigger("level", "any", "down 10", 2);
    any.level = 0;
    triggers_.Add(any);
    Prepare({});

    PlaySilence(0.5);
    EXPECT_TRUE(firings_.Firings().empty());

    // The faintest sound is above 0 %.
    std::vector<std::int16_t> faint(kBlockFrames, 0);
    faint.back() = 1;
    Play(faint);
    const auto firings = firings_.Firings();
    ASSERT_EQ(firings.size(), 1u);
    EXPECT_EQ(firings[0].triggerName, "any");
    EXPECT_DOUBLE_EQ(At(firings[0]), 0.51);
    ASSERT_EQ(harness_.runners->Size(), 1u);
    EXPECT_EQ(harness_.PercentSoon(40), 40);

    // Full scale for a second is not above 100 %; "any" is not started again.
    Play(std::vector<std::int16_t>(kRate, -32768));
    EXPECT_EQ(firings_.Firings().size(), 1u);
    EXPECT_EQ(harness_.runners->Size(), 1u);

    // The level stayed above 0 %: the control was extended at most every 200 ms.
    CControlRunner* runner = harness_.runners->FindBySerial(firings[0].serialId);
    ASSERT_NE(runner, nullptr);
    const std::uint64_t now = harness_.clock.TickMs();
    EXPECT_GT(runner->Deadline(), now + 2000 - 200);
    EXPECT_LE(runner->Deadline(), now + 2000);

    // Outside its time window a level trigger is not evaluated.
    firings_.Clear();
    harness_.runners->StopAll();
    CTrigger* anyTrigger = triggers_.GetLevel(1);
    anyTrigger->startTime = TriggerTime(13, 0, 0);
    anyTrigger->endTime = TriggerTime(14, 0, 0);
    Play(std::vector<std::int16_t>(kRate, 1000));
    EXPECT_TRUE(firings_.Firings().empty());
}

}  // namespace
}  // namespace hushwell
