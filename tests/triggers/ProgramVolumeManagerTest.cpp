#include "triggers/ProgramVolumeManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <utility>
#include <vector>

#include "audio/simulated/SimulatedBackend.h"
#include "audio/simulated/SimulatedPlaybackStreams.h"
#include "base/Clock.h"
#include "tests/support/Eventually.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;
using testing::Eventually;
using testing::HoldsFor;

constexpr auto kDeadline = 10s;
const ProgramIdentity kBrowser{"firefox", "Firefox"};
const ProgramIdentity kPlayer{"mpv", "mpv"};

// A browser with two streams and a music player with one, on a simulated output.
class ProgramVolumeManagerTest : public ::testing::Test {
protected:
    ProgramVolumeManagerTest()
        : backend_(clock_),
          streams_(backend_.PlaybackStreams()),
          tab_(streams_.Add("speakers", kBrowser, 0.8f)),
          video_(streams_.Add("speakers", kBrowser, 0.2f)),
          music_(streams_.Add("speakers", kPlayer, 0.6f)),
          manager_(backend_, 2ms) {}

    bool Muted(std::uint32_t index) const { return streams_.Find(index)->muted; }
    float Volume(std::uint32_t index) const { return streams_.Find(index)->volume; }
    void Settle() { ASSERT_TRUE(manager_.WaitUntilIdle(kDeadline)); }
    bool MusicUntouched() const {
        return streams_.MuteCalls(music_) == 0 && streams_.VolumeSetCalls(music_) == 0 &&
               !Muted(music_) && Volume(music_) == 0.6f;
    }

    ManualClock clock_;
    SimulatedBackend backend_;
    SimulatedPlaybackStreams& streams_;
    const std::uint32_t tab_;
    const std::uint32_t video_;
    const std::uint32_t music_;
    ProgramVolumeManager manager_;
};

TEST_F(ProgramVolumeManagerTest, MuteActsOnEveryStreamOfTheProgramAndNothingElse) {
    const auto token = manager_.Apply(kBrowser, ControlKind::Mute, 0);
    Settle();
    EXPECT_TRUE(Muted(tab_));
    EXPECT_TRUE(Muted(video_));
    EXPECT_TRUE(MusicUntouched());

    // A stream the browser opens while muted is muted too.
    const std::uint32_t next = streams_.Add("headphones", kBrowser);
    EXPECT_TRUE(Eventually([&] { return Muted(next); }));
    // Same binary, another application name: another program.
    const std::uint32_t other = streams_.Add("speakers", {"firefox", "Web Content"});
    EXPECT_TRUE(HoldsFor([&] { return !Muted(other); }));

    manager_.Undo(token);
    Settle();
    EXPECT_FALSE(Muted(tab_));
    EXPECT_FALSE(Muted(video_));
    EXPECT_FALSE(Muted(next));
    EXPECT_EQ(streams_.MuteCalls(tab_), 2);
    EXPECT_EQ(streams_.MuteCalls(other), 0);
    EXPECT_TRUE(MusicUntouched());
    EXPECT_TRUE(manager_.HeldPrograms().empty());
}

TEST_F(ProgramVolumeManagerTest, VolumeStepsMoveEachStreamFromItsOwnLevelAndComeBackExactly) {
    const auto token = manager_.Apply(kBrowser, ControlKind::Down, 30);
    Settle();
    EXPECT_FLOAT_EQ(Volume(tab_), 0.5f);
    EXPECT_FLOAT_EQ(Volume(video_), 0.0f);  // limited at 0
    EXPECT_FALSE(Muted(tab_));
    // A second hold adds its steps; taking it away goes back to the first's level.
    const auto more = manager_.Apply(kBrowser, ControlKind::Up, 10);
    Settle();
    EXPECT_FLOAT_EQ(Volume(tab_), 0.6f);
    manager_.Undo(more);
    Settle();
    EXPECT_FLOAT_EQ(Volume(tab_), 0.5f);

    manager_.Undo(token);
    Settle();
    EXPECT_FLOAT_EQ(Volume(tab_), 0.8f);
    EXPECT_FLOAT_EQ(Volume(video_), 0.2f);
    EXPECT_TRUE(MusicUntouched());
}

// The server gives a program's next stream the mute and volume last set on one of its
// streams: a stream opened during the hold that arrives with them had what they had before.
TEST_F(ProgramVolumeManagerTest, AStreamThatArrivesWithTheHeldStateGetsTheStateBeforeBack) {
    const auto mute = manager_.Apply(kBrowser, ControlKind::Mute, 0);
    const auto down = manager_.Apply(kBrowser, ControlKind::Down, 30);
    Settle();
    ASSERT_EQ(streams_.Remembered(kBrowser), std::pair(true, 0.0f));  // the video's, set last
    const std::uint32_t next = streams_.AddRemembered("speakers", kBrowser);
    EXPECT_TRUE(Eventually([&] { return manager_.WaitUntilIdle(kDeadline) && Muted(next); }));
    EXPECT_TRUE(HoldsFor([&] { return Volume(next) == 0.0f; }));

    manager_.Undo(mute);
    manager_.Undo(down);
    Settle();
    EXPECT_FALSE(Muted(next));
    EXPECT_FLOAT_EQ(Volume(next), 0.2f);  // the video's volume before
    EXPECT_FLOAT_EQ(Volume(tab_), 0.8f);
}

// The same stream opened just before the hold ends, seen first once it has ended.
TEST_F(ProgramVolumeManagerTest, AStreamFirstSeenAfterTheHoldEndedIsGivenBackToo) {
    ProgramVolumeManager slow(backend_, std::chrono::hours(1));  // looks only when asked
    const auto mute = slow.Apply(kBrowser, ControlKind::Mute, 0);
    ASSERT_TRUE(slow.WaitUntilIdle(kDeadline));
    ASSERT_TRUE(Muted(tab_));
    const std::uint32_t late = streams_.AddRemembered("speakers", kBrowser);
    ASSERT_TRUE(Muted(late));
    slow.Undo(mute);
    ASSERT_TRUE(slow.WaitUntilIdle(kDeadline));
    EXPECT_FALSE(Muted(tab_));
    EXPECT_FALSE(Muted(late));
    EXPECT_EQ(streams_.Remembered(kBrowser), std::pair(false, 0.2f));
}

// The user's own changes win: made before the hold, while it lasts, or to a stream the
// hold changed.
TEST_F(ProgramVolumeManagerTest, UndoLeavesWhatTheUserChangedMeanwhile) {
    ASSERT_TRUE(streams_.SetUserMute(video_, true));
    const auto mute = manager_.Apply(kBrowser, ControlKind::Mute, 0);
    const auto down = manager_.Apply(kBrowser, ControlKind::Down, 20);
    Settle();
    ASSERT_TRUE(Muted(tab_));
    ASSERT_FLOAT_EQ(Volume(tab_), 0.6f);
    EXPECT_EQ(streams_.MuteCalls(video_), 0);  // muted already

    // The user unmutes the tab and moves its slider while the hold lasts: left alone.
    ASSERT_TRUE(streams_.SetUserMute(tab_, false));
    ASSERT_TRUE(streams_.SetUserVolume(tab_, 0.9f));
    EXPECT_TRUE(HoldsFor([&] { return !Muted(tab_) && Volume(tab_) == 0.9f; }));

    manager_.Undo(mute);
    manager_.Undo(down);
    Settle();
    EXPECT_FALSE(Muted(tab_));
    EXPECT_FLOAT_EQ(Volume(tab_), 0.9f);
    EXPECT_EQ(streams_.MuteCalls(tab_), 1);
    EXPECT_TRUE(Muted(video_));  // muted by the user before: stays muted
    EXPECT_FLOAT_EQ(Volume(video_), 0.2f);
}

TEST_F(ProgramVolumeManagerTest, OverlappingHoldsEndWithTheLastAndEndedStreamsAreForgotten) {
    const auto first = manager_.Apply(kBrowser, ControlKind::Mute, 0);
    const auto second = manager_.Apply(kBrowser, ControlKind::Mute, 0);
    Settle();
    ASSERT_TRUE(Muted(tab_));
    ASSERT_TRUE(streams_.Remove(video_));  // the program closes a stream during the control
    manager_.Undo(first);
    Settle();
    EXPECT_TRUE(Muted(tab_));
    manager_.Undo(second);
    Settle();
    EXPECT_FALSE(Muted(tab_));
    manager_.Undo(second);  // twice: nothing
    manager_.Undo(0);

    // Nothing to tell a program's streams by, or nothing to change: no hold.
    EXPECT_EQ(manager_.Apply({}, ControlKind::Mute, 0), 0u);
    EXPECT_EQ(manager_.Apply(kBrowser, ControlKind::Exec, 0), 0u);
    EXPECT_TRUE(manager_.HeldPrograms().empty());
}

// A program that ends during the control leaves no change behind, neither on record nor in
// what the server remembers for its next stream; a change is on record before it is made.
TEST_F(ProgramVolumeManagerTest, AProgramThatEndsMutedDoesNotComeBackMuted) {
    std::vector<std::vector<StreamChange>> records;
    std::vector<bool> tabMutedWhenRecorded;
    manager_.SetRecordFunction([&](const std::vector<StreamChange>& changes) {
        records.push_back(changes);
        tabMutedWhenRecorded.push_back(streams_.Find(tab_) && Muted(tab_));
        return true;
    });
    const auto token = manager_.Apply(kBrowser, ControlKind::Mute, 0);
    Settle();
    ASSERT_FALSE(records.empty());
    EXPECT_FALSE(tabMutedWhenRecorded.front());
    ASSERT_TRUE(streams_.Remove(tab_));
    ASSERT_TRUE(streams_.Remove(video_));
    EXPECT_EQ(streams_.Remembered(kBrowser), std::pair(true, 0.2f));

    manager_.Undo(token);
    Settle();
    EXPECT_EQ(streams_.Remembered(kBrowser), std::pair(false, 0.2f));
    EXPECT_TRUE(records.back().empty());
    const std::uint32_t next = streams_.AddRemembered("speakers", kBrowser);
    EXPECT_FALSE(Muted(next));
    EXPECT_TRUE(HoldsFor([&] { return streams_.MuteCalls(next) == 0; }));
}

TEST_F(ProgramVolumeManagerTest, AServerThatIsAwayIsCaughtUpWithAndTheEndUndoesEverything) {
    streams_.SetServerAvailable(false);
    {
        ProgramVolumeManager manager(backend_, 2ms);
        manager.Apply(kBrowser, ControlKind::Unmute, 0);
        const auto down = manager.Apply(kBrowser, ControlKind::Down, 10);
        ASSERT_TRUE(manager.WaitUntilIdle(kDeadline));
        EXPECT_EQ(streams_.VolumeSetCalls(tab_), 0);
        streams_.SetServerAvailable(true);
        EXPECT_TRUE(Eventually([&] { return Volume(tab_) < 0.75f; }));
        EXPECT_EQ(streams_.MuteCalls(tab_), 0);  // unmuted already: unmute changes nothing
        (void)down;
    }
    // Destroyed with its holds still on: every stream is given back.
    EXPECT_FLOAT_EQ(Volume(tab_), 0.8f);
    EXPECT_FLOAT_EQ(Volume(video_), 0.2f);
}

}  // namespace
}  // namespace hushwell
