#include "detection/DetectionStep.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <limits>
#include <memory>
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
#include "detection/ScoreBoard.h"
#include "tests/detection/DetectionTestSupport.h"
#include "tests/support/TempFolder.h"
#include "triggers/EventLog.h"
#include "triggers/TriggerList.h"
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
    Detection(TriggerList& triggers, ControlLauncher& launcher, const Clock& clock,
              FiringSink* firings)
        : step(triggers, live, level, telephone, launcher, clock, firings) {
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
    bool StartSoundControl(const Trigger& trigger, bool) override {
        wholeControls.push_back(trigger.name);
        return true;
    }
    bool StartProgramControl(const Trigger& trigger, const ProgramIdentity& program) override {
        programControls.push_back(trigger.name + "@" + program.binary);
        return true;
    }
    bool StartTimeControl(const Trigger&, bool) override { return true; }
    LevelOutcome ExtendOrStartLevelControl(const Trigger&) override {
        return LevelOutcome::Started;
    }
    void PostTelephoneVerdict(int verdict) override { verdicts.push_back(verdict); }
    std::vector<int> verdicts;
    std::vector<std::string> wholeControls;
    std::vector<std::string> programControls;
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
        bestPlain = std::max(bestPlain, plain);
    }
    std::size_t passes = 0;
    float best = 0.0f;
    float bestPlain = 0.0f;  // the plain correlation's, which decides near the threshold
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
    Trigger& AddSound(const std::string& name, const std::string& control, int seconds,
                      std::vector<std::uint32_t> references) {
        Trigger trigger = MakeTrigger("sound", name, control, seconds);
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
    TriggerList triggers_;
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
    Trigger& run = AddSound("run", "exec", 10, {0});
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

    // The best score this recording reaches, exactly as the firing decisions see it: near the
    // threshold that is the plain correlation's score, whatever the kernel's rounding.
    Prepare({ReferenceOf(chirp, 2.0f)});
    RecordingScores scores(detection_->live, ReferenceOf(chirp));
    Step().SetScoreObserver(&scores);
    Play(track);
    ASSERT_TRUE(firings_.Firings().empty());
    const float best = scores.bestPlain;
    ASSERT_GT(best, 0.5f);

    Restart();
    Prepare({ReferenceOf(chirp, best)});
    Play(track);
    EXPECT_TRUE(firings_.Firings().empty());

    Restart();
    Prepare({ReferenceOf(chirp, std::nextafter(best, 0.0f))});
    Play(track);
    ASSERT_EQ(firings_.Firings().size(), 1u);
    EXPECT_EQ(firings_.Firings()[0].score, best);  // the firing reports the plain score
}

// A trigger's own threshold replaces its reference's, for that trigger alone; the firing
// reports the threshold it was held against.
TEST_F(DetectionStepTest, AnOwnThresholdDecidesForItsTriggerAlone) {
    const auto chirp = Chirp();
    auto track = Noise(7.0, 2000, 8);
    MixInto(track, chirp, 5.0);

    // The reference's own threshold is out of reach; its best score is found first.
    Prepare({ReferenceOf(chirp, 2.0f)});
    RecordingScores scores(detection_->live, ReferenceOf(chirp));
    Step().SetScoreObserver(&scores);
    Play(track);
    const float best = scores.bestPlain;
    ASSERT_GT(best, Trigger::kMinMatchThreshold);

    AddSound("plain", "mute", 0, {0});
    AddSound("tuned", "mute", 0, {0}).matchThreshold = std::nextafter(best, 0.0f);
    AddSound("strict", "mute", 0, {0}).matchThreshold = best;
    Restart();
    Prepare({ReferenceOf(chirp, 2.0f)});
    Play(track);
    ASSERT_EQ(Times("tuned").size(), 1u);
    EXPECT_TRUE(Times("plain").empty());
    EXPECT_TRUE(Times("strict").empty());
    const Firing firing = firings_.Firings().front();
    EXPECT_EQ(firing.score, best);
    EXPECT_EQ(firing.threshold, std::nextafter(best, 0.0f));
}

// The meter's board gets each trigger's best score only while somebody watches it.
TEST_F(DetectionStepTest, TheScoreBoardIsWrittenOnlyWhileWatched) {
    const auto chirp = Chirp();
    auto track = Noise(7.0, 2000, 8);
    MixInto(track, chirp, 5.0);
    // Each record is tuned at once: adding the next may move it.
    const auto addTuned = [this](const std::string& name, float threshold) {
        Trigger& added = AddSound(name, "mute", 0, {0});
        added.matchThreshold = threshold;
        return added.serialId;
    };
    const std::uint32_t never = addTuned("never", Trigger::kMaxMatchThreshold);
    const std::uint32_t fires = addTuned("fires", Trigger::kMinMatchThreshold);
    ScoreBoard board(4);
    Step().SetScoreBoard(&board);
    Step().SetVerification(false);
    Prepare({ReferenceOf(chirp)});
    Play(track);
    const std::uint64_t end = harness_.clock.TickMs();
    EXPECT_EQ(board.Read(never, end).stage, ScoreBoard::Stage::None);
    EXPECT_EQ(board.Read(fires, end).stage, ScoreBoard::Stage::None);

    board.SetWatched(true);
    Restart();
    Step().SetScoreBoard(&board);
    Step().SetVerification(false);
    Prepare({ReferenceOf(chirp)});
    Play(track);
    // Half a second after the chirp ended, its match is within the last two seconds.
    const std::uint64_t afterChirp = startTick_ + 6500;
    const ScoreBoard::Reading quiet = board.Read(never, afterChirp);
    EXPECT_EQ(quiet.stage, ScoreBoard::Stage::Below);
    EXPECT_GT(quiet.score, Trigger::kMinMatchThreshold);
    EXPECT_FLOAT_EQ(quiet.threshold, Trigger::kMaxMatchThreshold);
    const ScoreBoard::Reading fired = board.Read(fires, afterChirp);
    EXPECT_EQ(fired.stage, ScoreBoard::Stage::Fired);
    EXPECT_FLOAT_EQ(fired.threshold, Trigger::kMinMatchThreshold);
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

// A "program" trigger is heard only in a program's own stream, whose step fires nothing
// else; its control goes to that program and its log line names it.
TEST_F(DetectionStepTest, ProgramTriggersFireOnlyInTheirProgramsStream) {
    testing::TempFolder folder;
    ProgramLog().SetPath(folder.File("log.txt"));
    triggers_.Add(MakeTrigger("sound", "ad-jingle.wav", "mute", 1, "program"));
    triggers_.GetSound(0)->referenceIndices = {0};
    AddSound("everywhere", "mute", 1, {0});
    const auto noise = Noise(4.2, 3000, 12);

    LauncherSpy whole;
    Restart(&whole);
    Prepare({FlatReference(0.5f)});
    Play(noise);
    EXPECT_EQ(Times().size(), 1u);
    EXPECT_EQ(Times("everywhere").size(), 1u);
    EXPECT_EQ(whole.wholeControls, std::vector<std::string>{"everywhere"});
    EXPECT_TRUE(whole.programControls.empty());

    firings_.Clear();
    LauncherSpy stream;
    Restart(&stream);
    Step().SetScope(DetectionStep::Scope::OneProgram, {"firefox", "Firefox"});
    Prepare({FlatReference(0.5f)});
    Play(noise);
    ASSERT_EQ(firings_.Firings().size(), 1u);
    EXPECT_EQ(firings_.Firings()[0].triggerName, "ad-jingle.wav (firefox)");
    EXPECT_TRUE(stream.wholeControls.empty());
    EXPECT_EQ(stream.programControls, std::vector<std::string>{"ad-jingle.wav@firefox"});
    ProgramLog().SetPath("");
    std::ifstream log(folder.File("log.txt"));
    std::string line;
    std::getline(log, line);
    EXPECT_TRUE(line.ends_with(",everywhere")) << line;
    std::getline(log, line);
    EXPECT_TRUE(line.ends_with(",ad-jingle.wav (firefox)")) << line;

    // A recording stands for any stream: the scan tool hears both.
    firings_.Clear();
    Restart(&stream);
    Step().SetScope(DetectionStep::Scope::Recording);
    Prepare({FlatReference(0.5f)});
    Play(noise);
    EXPECT_EQ(firings_.Firings().size(), 2u);
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
    Trigger never = MakeTrigger("level", "never", "mute", 2);
    never.level = 100;
    triggers_.Add(never);
    Trigger any = MakeTrigger("level", "any", "down 10", 2);
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
    ControlRunner* runner = harness_.runners->FindBySerial(firings[0].serialId);
    ASSERT_NE(runner, nullptr);
    const std::uint64_t now = harness_.clock.TickMs();
    EXPECT_GT(runner->Deadline(), now + 2000 - 200);
    EXPECT_LE(runner->Deadline(), now + 2000);

    // Outside its time window a level trigger is not evaluated.
    firings_.Clear();
    harness_.runners->StopAll();
    Trigger* anyTrigger = triggers_.GetLevel(1);
    anyTrigger->startTime = TriggerTime(13, 0, 0);
    anyTrigger->endTime = TriggerTime(14, 0, 0);
    Play(std::vector<std::int16_t>(kRate, 1000));
    EXPECT_TRUE(firings_.Firings().empty());
}

// --- Runs of blocks ------------------------------------------------------------------------

// Everything a run of detection decides, in order: firings, telephone verdicts, and with an
// observer every pass's scores with the tick of its block.
struct Decisions {
    struct Pass {
        std::uint64_t tick = 0;
        std::vector<float> scores;
    };
    std::vector<Firing> firings;
    std::vector<int> verdicts;
    std::vector<Pass> passes;
    std::uint64_t passesRun = 0;
    std::int64_t doneFrames = 0;
};

class DecisionRecorder final : public FiringSink, public DetectionStep::ScoreObserver {
public:
    explicit DecisionRecorder(Decisions& decisions) : decisions_(decisions) {}
    void Watch(DetectionStep& step, std::size_t stopAfterSoundFirings) {
        step_ = &step;
        stopAfter_ = stopAfterSoundFirings;
    }
    void OnFiring(const Firing& firing) override {
        decisions_.firings.push_back(firing);
        sound_ += firing.kind == TriggerKind::Sound ? 1 : 0;
        if (stopAfter_ != 0 && sound_ == stopAfter_) {
            step_->RequestStop();  // in the middle of a pass's candidates
        }
    }
    void OnPassScores(std::size_t, std::span<const float> scores) override {
        decisions_.passes.push_back({step_->BlockTick(), {scores.begin(), scores.end()}});
    }

private:
    Decisions& decisions_;
    DetectionStep* step_ = nullptr;
    std::size_t stopAfter_ = 0;
    std::size_t sound_ = 0;
};

// Level firings start a control every time, so a level trigger fires every 200 ms.
class VerdictLauncher final : public ControlLauncher {
public:
    explicit VerdictLauncher(Decisions& decisions) : decisions_(decisions) {}
    bool StartSoundControl(const Trigger&, bool) override { return true; }
    bool StartTimeControl(const Trigger&, bool) override { return true; }
    LevelOutcome ExtendOrStartLevelControl(const Trigger&) override {
        return LevelOutcome::Started;
    }
    void PostTelephoneVerdict(int verdict) override { decisions_.verdicts.push_back(verdict); }

private:
    Decisions& decisions_;
};

// The kernel sums a pass's products in pieces that follow the number of passes scored
// together, so a pass's score may differ in its last bits between groupings of the same passes.
// A firing's score is the plain correlation's, the same bits however the passes were grouped.
constexpr float kScoreRounding = 1e-6f;

std::string Describe(const Firing& f) {
    return f.triggerName + " at " + std::to_string(f.tick) + " ref " + std::to_string(f.reference) +
           " score " + std::to_string(f.score);
}

// The first firing that differs, or "" when both runs fired alike.
std::string FirstDifference(const std::vector<Firing>& a, const std::vector<Firing>& b) {
    for (std::size_t i = 0; i < std::max(a.size(), b.size()); ++i) {
        if (i >= a.size() || i >= b.size()) {
            return "firing " + std::to_string(i) + ": " +
                   (i < a.size() ? Describe(a[i]) + " / none" : "none / " + Describe(b[i]));
        }
        const Firing& x = a[i];
        const Firing& y = b[i];
        if (x.kind != y.kind || x.triggerName != y.triggerName || x.tick != y.tick ||
            x.reference != y.reference || x.score != y.score || x.threshold != y.threshold) {
            return "firing " + std::to_string(i) + ": " + Describe(x) + " / " + Describe(y);
        }
    }
    return {};
}

std::string FirstDifference(const std::vector<Decisions::Pass>& a,
                            const std::vector<Decisions::Pass>& b) {
    if (a.size() != b.size()) {
        return std::to_string(a.size()) + " / " + std::to_string(b.size()) + " passes";
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        bool same = a[i].tick == b[i].tick && a[i].scores.size() == b[i].scores.size();
        for (std::size_t r = 0; same && r < a[i].scores.size(); ++r) {
            same = std::abs(a[i].scores[r] - b[i].scores[r]) <= kScoreRounding;
        }
        if (!same) {
            return "pass " + std::to_string(i) + " at " + std::to_string(a[i].tick) + " / " +
                   std::to_string(b[i].tick);
        }
    }
    return {};
}

class DetectionStepRunTest : public ::testing::Test {
protected:
    DetectionStepRunTest() {
        const auto chirp = Chirp();
        references_ = {ReferenceOf(chirp), FlatReference(0.5f), ReferenceOf(Chirp(0.6, 7000))};
        // A reference in two triggers and twice in one; hold-offs of 0.3 s (twice within a
        // long transfer), 1.3 s and 4 s.
        AddSound("chirp", "mute", 1, {0, 2});
        AddSound("twice", "mute", 0, {2, 2, 0});
        AddSound("flat", "mute", 0, {1});
        AddSound("exec", "exec", 0, {1, 0});
        Trigger level = MakeTrigger("level", "any", "mute", 1);
        level.level = 0;
        triggers_.Add(level);

        // Noise with the sounds in it, a rest of more than 10 s of silence, and noise again.
        track_ = Noise(9.0, 2500, 21);
        MixInto(track_, chirp, 4.5);
        MixInto(track_, Chirp(0.6, 7000), 6.3);
        MixInto(track_, chirp, 7.4);
        track_.resize(track_.size() + static_cast<std::size_t>(kRate * 10.5), 0);
        const auto again = Noise(1.5, 2500, 22);
        track_.insert(track_.end(), again.begin(), again.end());
    }

    void AddSound(const std::string& name, const std::string& control, int seconds,
                  std::vector<std::uint32_t> references) {
        Trigger trigger = MakeTrigger("sound", name, control, seconds);
        trigger.referenceIndices = std::move(references);
        triggers_.Add(trigger);
    }

    // Plays the track in transfers of the given sizes (repeated), each block with the tick of
    // its end; one by one through ProcessBlock with the clock at that tick, or a transfer at a
    // time through ProcessBlocks. Either way the thread wakes before each transfer.
    Decisions Run(const std::vector<std::size_t>& transferSizes, bool batched, bool observe,
                  std::size_t stopAfterSoundFirings = 0) {
        Decisions decisions;
        DecisionRecorder recorder(decisions);
        VerdictLauncher launcher(decisions);
        ManualClock clock(kStartTick, RunnerHarness::Monday(12, 0, 0));
        Detection detection(triggers_, launcher, clock, &recorder);
        DetectionStep& step = detection.step;
        recorder.Watch(step, stopAfterSoundFirings);
        step.PrepareReferences(references_, 4096);
        if (observe) {
            step.SetScoreObserver(&recorder);
        }
        step.Begin();

        std::vector<WaveData> blocks;
        for (std::size_t at = 0; at < track_.size(); at += kBlockFrames) {
            const std::size_t frames = std::min(kBlockFrames, track_.size() - at);
            blocks.emplace_back().AssignPcm16(kRate, 1, static_cast<int>(frames),
                                              std::span(track_.data() + at, frames));
        }
        std::vector<DetectionStep::HeardBlock> transfer;
        for (std::size_t first = 0, n = 0; first < blocks.size(); ++n) {
            const std::size_t count =
                std::min(transferSizes[n % transferSizes.size()], blocks.size() - first);
            transfer.clear();
            for (std::size_t b = first; b < first + count; ++b) {
                transfer.push_back({&blocks[b], kStartTick + 10 * (b + 1)});
            }
            clock.AdvanceMs(transfer.front().tick - clock.TickMs());
            step.WakeUp();
            for (const auto& heard : transfer) {
                if (!batched) {
                    clock.AdvanceMs(heard.tick - clock.TickMs());
                    step.ProcessBlock(*heard.block);
                }
            }
            if (batched) {
                step.ProcessBlocks(transfer);
            }
            first += count;
        }
        decisions.passesRun = step.PassesRun();
        decisions.doneFrames = step.DoneFrames();
        return decisions;
    }

    void ExpectSameDecisions(const std::vector<std::size_t>& transferSizes, bool observe,
                             std::size_t stopAfterSoundFirings = 0) {
        const Decisions single = Run(transferSizes, false, observe, stopAfterSoundFirings);
        const Decisions batched = Run(transferSizes, true, observe, stopAfterSoundFirings);
        EXPECT_EQ(FirstDifference(single.firings, batched.firings), "");
        EXPECT_EQ(single.verdicts, batched.verdicts);
        EXPECT_EQ(FirstDifference(single.passes, batched.passes), "");
        EXPECT_EQ(single.passesRun, batched.passesRun);
        EXPECT_EQ(single.doneFrames, batched.doneFrames);
    }

    std::size_t Count(const Decisions& decisions, const std::string& name) {
        return static_cast<std::size_t>(
            std::count_if(decisions.firings.begin(), decisions.firings.end(),
                          [&](const Firing& firing) { return firing.triggerName == name; }));
    }

    TriggerList triggers_;
    std::vector<SoundReference> references_;
    std::vector<std::int16_t> track_;
};

TEST_F(DetectionStepRunTest, TheRecordingExercisesEveryKindOfDecision) {
    const Decisions one = Run({1}, false, false);
    for (const std::string name : {"chirp", "twice", "flat", "exec", "any"}) {
        EXPECT_GT(Count(one, name), 1u) << name;
    }
    // The silence rests matching: no sound firing for most of it.
    const std::uint64_t restFrom = kStartTick + 9000 + DetectionStep::kSilenceRestMs + 100;
    const std::uint64_t restTo = kStartTick + 19500;
    EXPECT_TRUE(std::none_of(one.firings.begin(), one.firings.end(), [&](const Firing& firing) {
        return firing.kind == TriggerKind::Sound && firing.tick > restFrom && firing.tick < restTo;
    }));
    // A transfer of 32 blocks holds two firings of a trigger held off for 0.3 s.
    const Decisions runs = Run({32}, true, false);
    std::size_t twiceInOne = 0;
    for (std::size_t i = 1; i < runs.firings.size(); ++i) {
        for (std::size_t j = 0; j < i; ++j) {
            const Firing& a = runs.firings[j];
            const Firing& b = runs.firings[i];
            const bool sameTransfer =
                (a.tick - kStartTick - 1) / 320 == (b.tick - kStartTick - 1) / 320;
            twiceInOne +=
                a.triggerName == "flat" && b.triggerName == "flat" && sameTransfer ? 1 : 0;
        }
    }
    EXPECT_GT(twiceInOne, 0u);
}

TEST_F(DetectionStepRunTest, TransfersDecideAsTheirBlocksOneByOne) {
    // Even and uneven transfers (hold-offs end anywhere in them), the cap of one scoring call,
    // and a backlog several times the cap.
    for (const auto& sizes : std::vector<std::vector<std::size_t>>{
             {5}, {1, 3, 7, 5, 2, 9, 4}, {DetectionStep::kMaxBlocksPerScoring}, {100, 5, 77}}) {
        SCOPED_TRACE(sizes.front());
        ExpectSameDecisions(sizes, false);
        ExpectSameDecisions(sizes, true);
    }
}

TEST_F(DetectionStepRunTest, AStopInTheMiddleOfATransferEndsThePassesAlike) {
    for (const std::size_t stopAfter : {3u, 8u}) {
        SCOPED_TRACE(stopAfter);
        ExpectSameDecisions({5}, false, stopAfter);
        ExpectSameDecisions({100}, true, stopAfter);
    }
    // After the stop no sound firing; level triggers go on.
    const Decisions stopped = Run({5}, true, false, 3);
    EXPECT_EQ(std::count_if(stopped.firings.begin(), stopped.firings.end(),
                            [](const Firing& f) { return f.kind == TriggerKind::Sound; }),
              3);
    EXPECT_EQ(stopped.firings.back().kind, TriggerKind::Level);
}

// --- Verification ----------------------------------------------------------------------------

// The frequency of band 3's bin, where a tone shows fully in the bands.
constexpr double kBandThreeHz = 29 * 31.25;

// A reference of `sound`'s features whose tonal peaks are those of `peaksOf`, as the reference
// set finds them in a sound's last second.
SoundReference ReferenceWithPeaksOf(const std::vector<std::int16_t>& sound,
                                    const std::vector<std::int16_t>& peaksOf) {
    SoundReference reference = ReferenceOf(sound);
    SpectralAnalyzer analyzer;
    analyzer.ExtractReferenceFeatures(kRate, 1, peaksOf);
    FineSpectrum spectrum;
    reference.SetPeaks(SpectralPeaks::OfSound(analyzer.ReferenceSamples(), spectrum));
    return reference;
}

class RejectionRecorder final : public DetectionStep::RejectionObserver {
public:
    void OnRejected(const DetectionStep::Rejection& rejection) override {
        rejections.push_back(rejection);
    }
    std::vector<DetectionStep::Rejection> rejections;
};

TEST_F(DetectionStepTest, AMatchWhoseTonalPeaksAreMissingIsRejectedAndReported) {
    // The reference's band pattern is the beep's (906.25 Hz, on band 3's bin), its peak that
    // of 3 kHz: the beep matches the pattern but not the peak.
    const auto beep = Tone(kBandThreeHz, 0.5, 8000);
    AddSound("beep", "mute", 1, {0});
    Prepare({ReferenceWithPeaksOf(beep, Tone(3000.0, 0.5, 8000))});
    RejectionRecorder rejected;
    Step().SetRejectionObserver(&rejected);
    auto track = Noise(6.0, 200, 3);
    MixInto(track, beep, 5.0);
    Play(track);

    EXPECT_TRUE(Times().empty());
    ASSERT_FALSE(rejected.rejections.empty());
    const DetectionStep::Rejection& first = rejected.rejections.front();
    EXPECT_EQ(first.reference, 0u);
    EXPECT_GT(first.score, first.threshold);
    EXPECT_LT(first.agreement, DetectionStep::kAgreementNeeded);
}

TEST_F(DetectionStepTest, AMatchWithItsPeaksFiresAndNamesTheVerdict) {
    const auto beep = Tone(kBandThreeHz, 0.5, 8000);
    AddSound("beep", "mute", 1, {0});
    Prepare({ReferenceWithPeaksOf(beep, beep)});
    auto track = Noise(6.0, 200, 3);
    MixInto(track, beep, 5.0);
    Play(track);

    ASSERT_EQ(Times().size(), 1u);
    const std::vector<Firing> all = firings_.Firings();
    const Firing& firing = all.front();
    EXPECT_TRUE(firing.verified);
    EXPECT_GE(firing.agreement, DetectionStep::kAgreementNeeded);
    EXPECT_GT(firing.score, firing.threshold);
}

TEST_F(DetectionStepTest, WithoutVerificationOrWithoutPeaksTheThresholdAloneDecides) {
    const auto beep = Tone(kBandThreeHz, 0.5, 8000);
    auto track = Noise(6.0, 200, 3);
    MixInto(track, beep, 5.0);
    AddSound("beep", "mute", 1, {0});

    // Verification off: the missing peak does not matter, and the firing says so.
    Step().SetVerification(false);
    Prepare({ReferenceWithPeaksOf(beep, Tone(3000.0, 0.5, 8000))});
    Play(track);
    ASSERT_EQ(Times().size(), 1u);
    EXPECT_FALSE(firings_.Firings().front().verified);

    // A reference without tonal peaks (noise) has nothing to verify.
    firings_.Clear();
    Restart();
    Prepare({ReferenceWithPeaksOf(beep, Noise(0.5, 8000, 9))});
    Play(track);
    ASSERT_EQ(Times().size(), 1u);
    EXPECT_TRUE(firings_.Firings().front().verified);
    EXPECT_LT(firings_.Firings().front().agreement, 0.0f);
}

// A two-note chime (the reference set analyses it at 48 kHz): its peaks, and the tonal tracks
// of its last 1.5 s for the second stage.
std::vector<std::int16_t> TwoNoteChime(double lowHz, double highHz) {
    std::vector<std::int16_t> chime = Tone(lowHz, 0.8, 5000);
    const std::vector<std::int16_t> high = Tone(highHz, 0.8, 5000);
    chime.insert(chime.end(), high.begin(), high.end());
    return chime;
}

SoundReference ReferenceWithTracksOf(const std::vector<std::int16_t>& sound) {
    SoundReference reference = ReferenceWithPeaksOf(sound, sound);
    SpectralAnalyzer analyzer;
    analyzer.ExtractReferenceFeatures(kRate, 1, sound);
    const std::size_t analysed = reference.FrameCount() * SpectralAnalyzer::kReferenceHop;
    TonalTracks tracks;
    reference.SetTracks(tracks.ReferencePattern(analyzer.ReferenceSamples().first(analysed)));
    return reference;
}

TEST_F(DetectionStepTest, UnderABedTheSecondStageFindsAChimeThatTheFirstMisses) {
    const auto chime = TwoNoteChime(700.0, 1050.0);
    // Noise as loud as the chime: the first stage's band pattern is swamped.
    auto track = Noise(9.0, 9000, 5);
    MixInto(track, chime, 6.0);
    AddSound("chime", "mute", 1, {0});

    Step().SetVerification(false);
    Prepare({ReferenceWithTracksOf(chime)});
    Play(track);
    EXPECT_TRUE(Times().empty()) << "the first stage alone already hears it";

    firings_.Clear();
    Restart();
    Step().SetVerification(true);
    Prepare({ReferenceWithTracksOf(chime)});
    Play(track);
    ASSERT_EQ(Times().size(), 1u);
    const Firing firing = firings_.Firings().front();
    EXPECT_LE(firing.score, firing.threshold);
    EXPECT_GT(firing.bedScore, DetectionStep::kBedCandidateLevel);
    EXPECT_GE(firing.agreement, DetectionStep::kAgreementNeeded);
    // It fires at the chime's end (6 s + 1.6 s), not before.
    EXPECT_NEAR(Times().front(), 7.6, 0.2);
}

TEST_F(DetectionStepTest, UnderABedTheSecondStagesCandidatesNeedTheirPeaksToo) {
    const auto chime = TwoNoteChime(700.0, 1050.0);
    auto track = Noise(9.0, 9000, 5);
    MixInto(track, chime, 6.0);
    // The chime's features and tracks, but the peaks of a 3 kHz tone: the tracks make it a
    // candidate, the peaks turn it down.
    SoundReference reference = ReferenceWithTracksOf(chime);
    const SoundReference otherPeaks = ReferenceWithPeaksOf(chime, Tone(3000.0, 1.6, 5000));
    reference.SetPeaks(otherPeaks.Peaks());
    AddSound("chime", "mute", 1, {0});
    RejectionRecorder rejected;
    Step().SetRejectionObserver(&rejected);
    Prepare({reference});
    Play(track);

    EXPECT_TRUE(Times().empty());
    ASSERT_FALSE(rejected.rejections.empty()) << "the second stage never made it a candidate";
    for (const DetectionStep::Rejection& rejection : rejected.rejections) {
        EXPECT_GT(rejection.bedScore, DetectionStep::kBedCandidateLevel);
        EXPECT_LT(rejection.agreement, DetectionStep::kAgreementNeeded);
    }
}

TEST_F(DetectionStepTest, UnderABedAChimeASemitoneUpIsNoCandidate) {
    const auto chime = TwoNoteChime(700.0, 1050.0);
    const auto other = TwoNoteChime(700.0 * 1.0595, 1050.0 * 1.0595);
    auto track = Noise(9.0, 9000, 5);
    MixInto(track, other, 6.0);
    AddSound("chime", "mute", 1, {0});
    RejectionRecorder rejected;
    Step().SetRejectionObserver(&rejected);
    Prepare({ReferenceWithTracksOf(chime)});
    Play(track);

    EXPECT_TRUE(Times().empty());
    EXPECT_TRUE(rejected.rejections.empty());
}

}  // namespace
}  // namespace hushwell
