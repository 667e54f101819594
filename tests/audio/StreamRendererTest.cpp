#include "audio/StreamRenderer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/AudioEndpoint.h"
#include "audio/MixFormat.h"
#include "audio/SoundPlayer.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "tests/audio/RenderTestSupport.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;
using PlayEnd = SoundPlayer::PlayEnd;

constexpr auto kDeadline = 20s;
constexpr std::uint32_t kRate = 48000;
constexpr std::uint32_t kPeriodFrames = kRate / 100;  // the simulated device period
const WaveFormat kFloatStereo = MakeMixFormat(MixSampleType::Float32, kRate, 2);

// Bytes whose every 4-byte word counts up, so that any loss, repeat or reordering shows.
Bytes CounterBytes(std::size_t size) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<std::uint8_t>((i / 4 * 7 + i % 4) & 0xFF);
    }
    return bytes;
}

// `bytes` as a list of buffers of `bufferBytes` each (the last one may be shorter).
std::unique_ptr<RenderBuffer> ListOf(const Bytes& bytes, std::size_t bufferBytes) {
    std::unique_ptr<RenderBuffer> list;
    std::unique_ptr<RenderBuffer>* tail = &list;
    for (std::size_t at = 0; at < bytes.size(); at += bufferBytes) {
        const std::size_t size = std::min(bufferBytes, bytes.size() - at);
        *tail = RenderBuffer::Allocate(static_cast<std::uint32_t>(size));
        std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(at), size, (*tail)->Bytes());
        tail = &(*tail)->next;
    }
    return list;
}

// A simulated output driven by a manual clock, one device period per step.
class RenderTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim_.AddDevice("speakers", kFloatStereo)); }

    // Moves the clock on a period at a time until `condition` holds, letting the threads
    // react to each step.
    bool PumpUntil(const std::function<bool()>& condition) {
        const auto end = std::chrono::steady_clock::now() + kDeadline;
        while (!condition()) {
            if (std::chrono::steady_clock::now() > end) {
                return false;
            }
            clock_.AdvanceMs(10);
            sim_.Pump();
            sim_.WaitUntil(condition, 2ms);
        }
        return true;
    }

    std::unique_ptr<StreamRenderer> OpenRenderer() {
        std::shared_ptr<AudioEndpoint> endpoint;
        EXPECT_EQ(sim_.GetDefaultAudioEndpoint(endpoint), AudioResult::Ok);
        auto renderer = std::make_unique<StreamRenderer>(sim_, endpoint);
        EXPECT_TRUE(renderer->OpenStream());
        return renderer;
    }

    Bytes Rendered(const std::string& id) {
        Bytes& seen = rendered_[id];
        const Bytes more = sim_.TakeRenderedBytes(id);
        seen.insert(seen.end(), more.begin(), more.end());
        return seen;
    }

    ManualClock clock_;
    SimulatedBackend sim_{clock_};
    std::map<std::string, Bytes> rendered_;
};

TEST_F(RenderTest, RendersTheListInOrderAndEndsWhenItIsExhausted) {
    auto renderer = OpenRenderer();
    const std::uint32_t frameSize = renderer->FrameSize();
    const Bytes source = CounterBytes(50 * kPeriodFrames * frameSize);
    ASSERT_TRUE(renderer->BeginPlayback(ListOf(source, kPeriodFrames * frameSize)));
    // The pre-roll fills the stream before it starts (no time has passed on the clock yet).
    EXPECT_EQ(renderer->FramesWritten(), renderer->EngineBufferFrames());
    EXPECT_EQ(renderer->EngineBufferFrames(), 5 * kPeriodFrames);
    EXPECT_TRUE(renderer->IsRunning());

    std::uint32_t last = 0;
    bool advanced = true;
    ASSERT_TRUE(PumpUntil([&] {
        const std::uint32_t now = renderer->FramesWritten();
        advanced = advanced && now >= last;
        last = now;
        return !renderer->IsRunning();
    }));
    renderer->WaitForRenderEnd();
    EXPECT_TRUE(advanced);
    EXPECT_EQ(renderer->RenderEndReason(), StreamRenderer::EndReason::Exhausted);
    EXPECT_EQ(renderer->FramesWritten(), 50 * kPeriodFrames);
    EXPECT_EQ(Rendered("speakers"), source);
    // The stream never holds more than its buffer, and plays out what it holds.
    EXPECT_TRUE(PumpUntil([&] { return renderer->FramesPlayed() == renderer->FramesWritten(); }));
}

TEST_F(RenderTest, AnEmptyListPreRollsOneBufferOfSilenceAndEndsAtTheFirstEvent) {
    // A buffer larger than the stream's could never be written: refused, nothing left running.
    auto refused = OpenRenderer();
    EXPECT_FALSE(refused->BeginPlayback(
        ListOf(Bytes((refused->EngineBufferFrames() + 1) * refused->FrameSize()), SIZE_MAX)));
    refused->CloseStream();
    EXPECT_TRUE(Rendered("speakers").empty());

    auto renderer = OpenRenderer();
    ASSERT_TRUE(renderer->BeginPlayback(nullptr));
    renderer->WaitForRenderEnd();
    EXPECT_FALSE(renderer->IsRunning());
    EXPECT_EQ(renderer->FramesWritten(), 0u);
    const Bytes rendered = Rendered("speakers");
    EXPECT_EQ(rendered.size(), renderer->EngineBufferFrames() * renderer->FrameSize());
    EXPECT_TRUE(std::all_of(rendered.begin(), rendered.end(), [](auto b) { return b == 0; }));
}

TEST_F(RenderTest, ShutdownEndsTheRenderThreadAndStopFreesTheRest) {
    auto renderer = OpenRenderer();
    const std::uint32_t frameSize = renderer->FrameSize();
    const Bytes source = CounterBytes(100 * kPeriodFrames * frameSize);
    ASSERT_TRUE(renderer->BeginPlayback(ListOf(source, kPeriodFrames * frameSize)));
    ASSERT_TRUE(PumpUntil([&] { return renderer->FramesWritten() >= 20 * kPeriodFrames; }));
    renderer->RequestShutdown();
    renderer->WaitForRenderEnd();
    EXPECT_EQ(renderer->RenderEndReason(), StreamRenderer::EndReason::Shutdown);
    EXPECT_TRUE(renderer->IsRunning());  // not exhausted: the player treats it as stopped
    renderer->StopPlayback();
    const std::uint32_t written = renderer->FramesWritten();
    EXPECT_LT(written, 100 * kPeriodFrames);
    EXPECT_LE(renderer->FramesPlayed(), written);
    EXPECT_GE(renderer->FramesPlayed() + renderer->EngineBufferFrames(), written);
    const Bytes rendered = Rendered("speakers");
    EXPECT_EQ(rendered, Bytes(source.begin(), source.begin() + written * frameSize));
    renderer->CloseStream();
    renderer->CloseStream();  // harmless twice
}

TEST_F(RenderTest, FollowsTheDefaultOutputMidPlay) {
    ASSERT_TRUE(sim_.AddDevice("headphones", kFloatStereo));
    auto renderer = OpenRenderer();
    const std::uint32_t frameSize = renderer->FrameSize();
    const Bytes source = CounterBytes(100 * kPeriodFrames * frameSize);
    ASSERT_TRUE(renderer->BeginPlayback(ListOf(source, kPeriodFrames * frameSize)));
    ASSERT_TRUE(PumpUntil([&] { return renderer->FramesWritten() >= 30 * kPeriodFrames; }));

    ASSERT_TRUE(sim_.SetDefaultDevice("headphones"));
    ASSERT_TRUE(sim_.WaitForNotifications());
    ASSERT_TRUE(PumpUntil([&] { return !renderer->IsRunning(); }));
    renderer->WaitForRenderEnd();
    EXPECT_EQ(renderer->RenderEndReason(), StreamRenderer::EndReason::Exhausted);
    EXPECT_EQ(renderer->EndpointId(), "headphones");
    // Every buffer was written once, the first ones to the speakers, the rest to the headphones.
    const Bytes speakers = Rendered("speakers");
    Bytes all = speakers;
    const Bytes headphones = Rendered("headphones");
    all.insert(all.end(), headphones.begin(), headphones.end());
    EXPECT_GE(speakers.size(), 30 * kPeriodFrames * frameSize);
    EXPECT_FALSE(headphones.empty());
    EXPECT_EQ(all, source);
}

TEST_F(RenderTest, RemovalMovesToTheRemainingOutputAndAnotherFormatEndsPlayback) {
    ASSERT_TRUE(sim_.AddDevice("headphones", kFloatStereo));
    ASSERT_TRUE(sim_.AddDevice("hdmi", MakeMixFormat(MixSampleType::Pcm16, kRate, 2)));
    auto renderer = OpenRenderer();
    const std::uint32_t frameSize = renderer->FrameSize();
    const Bytes source = CounterBytes(100 * kPeriodFrames * frameSize);
    ASSERT_TRUE(renderer->BeginPlayback(ListOf(source, kPeriodFrames * frameSize)));
    ASSERT_TRUE(PumpUntil([&] { return renderer->FramesWritten() >= 20 * kPeriodFrames; }));

    ASSERT_TRUE(sim_.RemoveDevice("speakers"));  // the headphones become the default
    ASSERT_TRUE(PumpUntil([&] {
        return !renderer->IsSwitching() && renderer->EndpointId() == "headphones" &&
               !Rendered("headphones").empty();
    }));
    ASSERT_TRUE(renderer->IsRunning());

    // The buffers were converted for float: a 16-bit output cannot take them.
    ASSERT_TRUE(sim_.SetDefaultDevice("hdmi"));
    renderer->WaitForRenderEnd();
    EXPECT_EQ(renderer->RenderEndReason(), StreamRenderer::EndReason::SwitchFailed);
    EXPECT_TRUE(Rendered("hdmi").empty());
    renderer->StopPlayback();
    renderer->CloseStream();
}

// ---- the editor's player

class PlayerTest : public RenderTest {
protected:
    // A 16-bit mono sound whose samples are all different.
    std::shared_ptr<WaveData> Sound(std::uint32_t frames) {
        std::vector<std::int16_t> samples(frames);
        for (std::uint32_t i = 0; i < frames; ++i) {
            samples[i] = static_cast<std::int16_t>(static_cast<int>(i % 65536) - 32768);
        }
        return test::Pcm16Sound(kRate, 1, std::move(samples));
    }

    // What the float stereo output should receive for frames [first, last] of the sound.
    static std::vector<float> Expected(const WaveData& sound, std::uint32_t first,
                                       std::uint32_t last) {
        std::vector<float> out;
        for (std::uint32_t i = first; i <= last; ++i) {
            out.push_back(std::max(static_cast<float>(sound.Samples16()[i] / 32767.0), -1.0f));
            out.push_back(0.0f);
        }
        return out;
    }

    // The rendered floats without the silent tail of the last buffer.
    std::vector<float> Played(std::size_t samples) {
        std::vector<float> all = test::AsFloats(Rendered("speakers"));
        EXPECT_GE(all.size(), samples);
        all.resize(std::min(all.size(), samples));
        return all;
    }

    bool PumpUntilIdle(SoundPlayer& player) {
        return PumpUntil([&] { return !player.IsBusy(); });
    }
};

TEST_F(PlayerTest, PlaysTheSelectionToTheEnd) {
    const auto sound = Sound(30000);
    std::vector<PlayEnd> ends;
    SoundPlayer player(sim_, [&](PlayEnd end) { ends.push_back(end); });
    ASSERT_TRUE(player.Play(sound, 1000, 21000));
    EXPECT_FALSE(player.Play(sound, 1000, 21000));  // one play at a time

    std::uint32_t cursorSeen = 0;
    ASSERT_TRUE(PumpUntil([&] {
        if (player.IsPlaying()) {
            cursorSeen = std::max(cursorSeen, player.Cursor());
        }
        return !player.IsBusy();
    }));
    EXPECT_GT(cursorSeen, 0u);
    EXPECT_EQ(player.LastEnd(), PlayEnd::Finished);
    EXPECT_FALSE(player.IsPlaying());
    EXPECT_EQ(player.PlayBase(), 1000u);
    EXPECT_EQ(player.Cursor(), 20001u);
    EXPECT_EQ(player.ResumeFrame(), 1000u);
    const std::vector<float> expected = Expected(*sound, 1000, 21000);
    EXPECT_EQ(Played(expected.size()), expected);
    // Whole buffers of one device period; the tail of the last one is silence.
    const auto all = test::AsFloats(Rendered("speakers"));
    EXPECT_EQ(all.size(), (20001 + kPeriodFrames - 1) / kPeriodFrames * kPeriodFrames * 2);
    EXPECT_TRUE(std::all_of(all.begin() + static_cast<std::ptrdiff_t>(expected.size()), all.end(),
                            [](float s) { return s == 0.0f; }));
    EXPECT_TRUE(player.WaitUntilIdle(kDeadline));
    EXPECT_EQ(ends, std::vector<PlayEnd>{PlayEnd::Finished});
}

TEST_F(PlayerTest, PauseKeepsThePositionAndTheNextPlayContinuesThere) {
    const auto sound = Sound(48000);
    SoundPlayer player(sim_);
    ASSERT_TRUE(player.Play(sound, 0, 47999));
    ASSERT_TRUE(PumpUntil([&] { return player.Cursor() >= 10000; }));
    player.Pause();
    // Asked for while the paused play winds down: it starts once that one has ended.
    ASSERT_TRUE(player.Play(sound, 0, 47999));
    ASSERT_TRUE(PumpUntil([&] { return player.IsPlaying() && player.PlayBase() > 0; }));
    const std::uint32_t resumed = player.PlayBase();
    EXPECT_GE(resumed, 10000u - kPeriodFrames * 5);  // at most the stream's buffer unheard
    EXPECT_LT(resumed, 47999u);

    ASSERT_TRUE(PumpUntilIdle(player));
    EXPECT_EQ(player.LastEnd(), PlayEnd::Finished);
    // Both plays, one after the other: the first one wrote the sound from its start up to at
    // least where the second one began, which then wrote the rest to the end.
    const auto all = test::AsFloats(Rendered("speakers"));
    const std::uint32_t secondFrames = 47999 - resumed + 1;
    const std::size_t secondSize =
        (secondFrames + kPeriodFrames - 1) / kPeriodFrames * kPeriodFrames * 2;
    ASSERT_GE(all.size(), secondSize + 2 * resumed);
    const std::size_t firstSize = all.size() - secondSize;
    EXPECT_EQ(std::vector<float>(all.begin(), all.begin() + firstSize),
              Expected(*sound, 0, static_cast<std::uint32_t>(firstSize / 2 - 1)));
    const std::vector<float> expected = Expected(*sound, resumed, 47999);
    EXPECT_EQ(
        std::vector<float>(all.begin() + firstSize, all.begin() + firstSize + expected.size()),
        expected);
    EXPECT_EQ(player.ResumeFrame(), 0u);
}

TEST_F(PlayerTest, StopStartsTheNextPlayAtTheSelectionStart) {
    const auto sound = Sound(48000);
    SoundPlayer player(sim_);
    ASSERT_TRUE(player.Play(sound, 2000, 40000));
    ASSERT_TRUE(PumpUntil([&] { return player.Cursor() >= 5000; }));
    player.Stop();
    ASSERT_TRUE(player.WaitUntilIdle(kDeadline));
    EXPECT_EQ(player.LastEnd(), PlayEnd::Stopped);
    EXPECT_EQ(player.ResumeFrame(), 2000u);
    EXPECT_GE(player.Cursor(), 5000u - kPeriodFrames * 5);

    ASSERT_TRUE(player.Play(sound, 2000, 40000));
    ASSERT_TRUE(PumpUntil([&] { return player.IsPlaying(); }));
    EXPECT_EQ(player.PlayBase(), 2000u);
    player.Stop();
    ASSERT_TRUE(player.WaitUntilIdle(kDeadline));
    player.Pause();  // idle: nothing to pause
    EXPECT_EQ(player.LastEnd(), PlayEnd::Stopped);
}

TEST_F(PlayerTest, RefusesWhatItCannotPlayAndFailsWithoutAnOutput) {
    SoundPlayer player(sim_);
    auto pcm24 = test::MakeSound(kWaveTagPcm, 24, kRate, 1);
    pcm24->SetSamples32(std::vector<std::uint32_t>(1000, 7));
    ASSERT_TRUE(player.Play(pcm24, 0, 999));
    ASSERT_TRUE(player.WaitUntilIdle(kDeadline));
    EXPECT_EQ(player.LastEnd(), PlayEnd::Refused);
    EXPECT_TRUE(Rendered("speakers").empty());

    ASSERT_TRUE(player.Play(test::Pcm16Sound(kRate, 1, {}), 0, 0));
    ASSERT_TRUE(player.WaitUntilIdle(kDeadline));
    EXPECT_EQ(player.LastEnd(), PlayEnd::Refused);

    ASSERT_TRUE(sim_.RemoveDevice("speakers"));
    ASSERT_TRUE(player.Play(Sound(1000), 0, 999));
    ASSERT_TRUE(player.WaitUntilIdle(kDeadline));
    EXPECT_EQ(player.LastEnd(), PlayEnd::Failed);
    EXPECT_FALSE(player.IsPlaying());
}

}  // namespace
}  // namespace hushwell
