// The capture page's playing without a window, on the simulated sound system: a play that is
// heard and stopped, a pause that keeps its place, and the end of a play that a next play has
// overtaken.
#include "ui/PlaybackControl.h"

#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "tests/support/Eventually.h"

namespace hushwell {
namespace {

using testing::Eventually;
using PlayEnd = SoundPlayer::PlayEnd;

constexpr const char* kDevice = "out";
constexpr std::uint32_t kRate = 48000;

std::shared_ptr<WaveData> MonoSound(int frames) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i) {
        samples[static_cast<std::size_t>(i)] = static_cast<std::int16_t>(i % 1000 + 1);
    }
    auto sound = std::make_shared<WaveData>();
    sound->AssignPcm16(static_cast<int>(kRate), 1, frames, samples);
    return sound;
}

class PlaybackControlTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(sim_.AddDevice(kDevice, MakeMixFormat(MixSampleType::Pcm16, kRate, 1)));
        // The reports come on the player's thread; the test takes them on its own, as the page
        // does through its event loop.
        control_.Attach(&sim_, [this](PlayEnd end) {
            std::lock_guard lock(mutex_);
            ends_.push_back(end);
        });
    }

    std::optional<PlayEnd> TakeEnd() {
        std::optional<PlayEnd> end;
        if (!Eventually([&] {
                std::lock_guard lock(mutex_);
                if (ends_.empty()) {
                    return false;
                }
                end = ends_.front();
                ends_.pop_front();
                return true;
            })) {
            return std::nullopt;
        }
        return end;
    }
    // Moves the output on until it has rendered some of the play.
    bool RenderSome() {
        std::size_t rendered = 0;
        return Eventually([&] {
            clock_.AdvanceMs(20);
            sim_.Pump();
            rendered += sim_.TakeRenderedBytes(kDevice).size();
            return rendered >= kRate / 10 * 2;
        });
    }

    ManualClock clock_;
    SimulatedBackend sim_{clock_};
    std::mutex mutex_;
    std::deque<PlayEnd> ends_;
    PlaybackControl control_;  // last: its player ends before the backend goes
};

TEST(PlaybackControlNoPlayerTest, WithoutABackendNothingPlays) {
    PlaybackControl control;
    control.Attach(nullptr, {});
    EXPECT_FALSE(control.HasPlayer());
    EXPECT_FALSE(control.Play(MonoSound(kRate), 0, kRate - 1));
    EXPECT_FALSE(control.IsPlaying());
    EXPECT_FALSE(control.Pause());
    EXPECT_FALSE(control.Ended());
    control.Stop();
    EXPECT_EQ(control.Position(), 0);
}

TEST_F(PlaybackControlTest, APlayIsHeardUntilItsStopIsReported) {
    ASSERT_TRUE(control_.Play(MonoSound(kRate), 0, kRate - 1));
    EXPECT_TRUE(control_.IsPlaying());
    ASSERT_TRUE(RenderSome());
    EXPECT_GT(control_.Position(), 0);
    control_.Stop();
    EXPECT_FALSE(control_.IsPlaying());
    EXPECT_EQ(TakeEnd(), PlayEnd::Stopped);
    EXPECT_TRUE(control_.Ended());
}

TEST_F(PlaybackControlTest, APauseAfterTheStreamStartedKeepsThePlaceUntilItsEndIsReported) {
    ASSERT_TRUE(control_.Play(MonoSound(kRate), 1000, kRate - 1));
    ASSERT_TRUE(RenderSome());
    EXPECT_FALSE(control_.Pause());  // a real pause: its end is reported
    EXPECT_TRUE(control_.IsPlaying());
    EXPECT_EQ(TakeEnd(), PlayEnd::Paused);
    EXPECT_TRUE(control_.Ended());
    EXPECT_FALSE(control_.IsPlaying());
    EXPECT_GT(control_.Position(), 1000);
}

// The end of a stopped play reaches the page after the next play was asked for: it must not
// end the new play.
TEST_F(PlaybackControlTest, TheEndOfAnOvertakenPlayLeavesTheNextPlayRunning) {
    ASSERT_TRUE(control_.Play(MonoSound(kRate), 0, kRate - 1));
    ASSERT_TRUE(RenderSome());
    control_.Stop();
    ASSERT_TRUE(control_.Play(MonoSound(kRate), 0, kRate - 1));
    EXPECT_EQ(TakeEnd(), PlayEnd::Stopped);
    EXPECT_FALSE(control_.Ended());
    EXPECT_TRUE(control_.IsPlaying());
    // The next play is heard before it is stopped: a stop that came while it was still only
    // asked for would cancel it without an end to report.
    ASSERT_TRUE(RenderSome());
    control_.Stop();
    EXPECT_TRUE(TakeEnd().has_value());
    EXPECT_TRUE(Eventually([&] { return control_.Ended(); }));
}

}  // namespace
}  // namespace hushwell
