#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/LoopbackCapture.h"
#include "audio/pulse/PulseBackend.h"
#include "audio/simulated/SimulatedSignal.h"
#include "tests/audio/CaptureTestSupport.h"
#include "tests/support/SandboxTools.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr auto kFeedPeriod = 50ms;  // as the detection engine drains the feed

// What the feed delivered while a command played, as mono samples of channel 0.
struct Heard {
    std::vector<float> mono;
    std::uint32_t rate = 0;
    std::vector<double> blockMs;
    double firstLoudMs = -1;  // from the start of the command to the first loud block
};

class CaptureLoopbackE2ETest : public ::testing::Test {
protected:
    void SetUp() override {
        sink_ = e2e::SandboxSink();
        if (sink_.empty()) {
            GTEST_SKIP() << "needs the private sound server: run through scripts/pw-sandbox";
        }
        PulseBackendOptions options;
        options.warn = [](const std::string&) {};
        backend_ = std::make_unique<PulseBackend>(options);
        owner_ = std::make_unique<test::CaptureOwner>(*backend_);
        ASSERT_TRUE(owner_->WaitStarted());
    }

    void TearDown() override {
        if (owner_) {
            EXPECT_EQ(owner_->Stop(), CaptureSessionEnd::Stopped);
        }
    }

    // Runs `command` on a thread while draining the feed every 50 ms, until 300 ms after the
    // command has finished.
    Heard DrainWhile(const std::string& command) {
        Heard heard;
        std::atomic<bool> finished{false};
        const auto start = Clock::now();
        std::thread player([&] {
            e2e::Run(command);
            finished = true;
        });
        auto end = Clock::time_point::max();
        while (Clock::now() < end && Clock::now() - start < 30s) {
            std::this_thread::sleep_for(kFeedPeriod);
            owner_->With([&](LoopbackCapture* capture) {
                if (capture != nullptr) {
                    Take(*capture, heard, start);
                }
                return 0;
            });
            if (finished && end == Clock::time_point::max()) {
                end = Clock::now() + 300ms;
            }
        }
        player.join();
        return heard;
    }

    static void Take(LoopbackCapture& capture, Heard& heard, Clock::time_point start) {
        WaveFormat format;
        while (CaptureBlock block = capture.PopFeedBlock(format)) {
            const std::size_t frames = block.PayloadSize() / format.blockAlign;
            heard.rate = format.sampleRate;
            heard.blockMs.push_back(1000.0 * frames / format.sampleRate);
            float peak = 0;
            for (std::size_t f = 0; f < frames; ++f) {
                const float s = SampleAt(format, block.Payload(), block.PayloadSize(), f, 0);
                peak = std::max(peak, std::fabs(s));
                heard.mono.push_back(s);
            }
            if (peak > 0.1f && heard.firstLoudMs < 0) {
                heard.firstLoudMs =
                    std::chrono::duration<double, std::milli>(Clock::now() - start).count();
            }
        }
    }

    // Checks that the loudest half second of what was heard is the tone.
    static void ExpectTone(const Heard& heard, double frequency, double amplitude) {
        ASSERT_GT(heard.rate, 0u);
        ASSERT_GT(heard.mono.size(), heard.rate);
        const auto window = e2e::LoudestWindow(heard.mono, heard.rate / 2);
        EXPECT_NEAR(e2e::ToneAmplitude(window, heard.rate, frequency), amplitude, 0.05);
        EXPECT_LT(e2e::ToneAmplitude(window, heard.rate, frequency * 1.5), 0.02);
        EXPECT_NEAR(e2e::Rms(window), amplitude / std::sqrt(2.0), 0.05);
    }

    std::string sink_;
    std::unique_ptr<PulseBackend> backend_;
    std::unique_ptr<test::CaptureOwner> owner_;
};

TEST_F(CaptureLoopbackE2ETest, PlayedToneArrivesInTheFeedWithItsFrequencyAndLevel) {
    e2e::TempFolder folder;
    const auto wav = folder.Path() / "tone.wav";
    e2e::WriteToneWav(wav, 48000, 2, 1000.0, 0.5, 1.0);
    const Heard heard = DrainWhile("paplay -d " + sink_ + " " + wav.string());
    ExpectTone(heard, 1000.0, 0.5);

    std::vector<double> blocks = heard.blockMs;
    std::sort(blocks.begin(), blocks.end());
    std::printf(
        "feed blocks: %zu, median %.1f ms; tone heard in the feed %.0f ms after paplay "
        "started\n",
        blocks.size(), blocks[blocks.size() / 2], heard.firstLoudMs);
    // The history holds the same audio as the feed.
    owner_->With([](LoopbackCapture* capture) {
        EXPECT_GT(capture->HistoryBytes(), 0u);
        EXPECT_LE(capture->HistoryBytes(), capture->HistoryCap());
        return 0;
    });
}

TEST_F(CaptureLoopbackE2ETest, FollowsASwitchOfTheDefaultSink) {
    const std::string other = "hushwell_capture_other";
    const std::string module = e2e::LoadNullSink(other);
    ASSERT_FALSE(module.empty());
    ASSERT_TRUE(e2e::SetDefaultSink(other));
    const bool followed = test::Eventually([&] {
        return owner_->With([&](LoopbackCapture* c) {
            return c != nullptr && !c->IsSwitching() && c->EndpointId() == other;
        });
    });
    EXPECT_TRUE(followed);

    e2e::TempFolder folder;
    const auto wav = folder.Path() / "tone.wav";
    e2e::WriteToneWav(wav, 44100, 1, 700.0, 0.4, 1.0);
    if (followed) {
        ExpectTone(DrainWhile("paplay -d " + other + " " + wav.string()), 700.0, 0.4);
    }

    // Removing the default sink leaves the sandbox's own sink as the default, and capture
    // goes back to it with its queues.
    const std::uint64_t before =
        owner_->With([](LoopbackCapture* c) { return c != nullptr ? c->HistoryBytes() : 0; });
    e2e::UnloadModule(module);
    EXPECT_TRUE(test::Eventually([&] {
        return owner_->With([&](LoopbackCapture* c) {
            return c != nullptr && !c->IsSwitching() && c->EndpointId() == sink_;
        });
    }));
    EXPECT_EQ(owner_->End(), CaptureSessionEnd::Refused);  // still running
    ExpectTone(DrainWhile("paplay -d " + sink_ + " " + wav.string()), 700.0, 0.4);
    owner_->With([&](LoopbackCapture* c) {
        EXPECT_GT(c->HistoryBytes(), before);
        return 0;
    });
}

}  // namespace
}  // namespace hushwell
