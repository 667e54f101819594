#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/SoundPlayer.h"
#include "audio/pulse/PulseBackend.h"
#include "tests/support/SandboxTools.h"
#include "wav/WaveData.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t kRate = 48000;
constexpr double kToneHz = 1000.0;
constexpr double kAmplitude = 0.5;
// The selection played: one second from a quarter second into the sound.
constexpr std::uint32_t kSelectionStart = kRate / 4;
constexpr std::uint32_t kSelectionFrames = kRate;
// One device period (10 ms) for the rounding up to whole buffers, one for the pre-roll.
constexpr std::uint32_t kLengthTolerance = 2 * kRate / 100;

// Two seconds of a 1 kHz tone as 16-bit mono, as the sound editor holds a sound.
std::shared_ptr<WaveData> ToneSound() {
    std::vector<std::int16_t> samples(2 * kRate);
    for (std::size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<std::int16_t>(
            std::lround(kAmplitude * 32767.0 * std::sin(2.0 * M_PI * kToneHz * i / kRate)));
    }
    auto sound = std::make_shared<WaveData>();
    sound->AssignPcm16(static_cast<int>(kRate), 1, static_cast<int>(samples.size()), samples);
    return sound;
}

// The tone's extent (first to last sample above a fifth of its amplitude) and its frequency
// from the periods between its rising zero crossings (interpolated between samples). A loaded
// machine may leave short holes in what the server records, so the frequency is the mean of the
// periods near their median, which such a hole does not move.
struct Measured {
    std::size_t length = 0;
    double frequency = 0.0;
};

Measured Measure(const std::vector<float>& mono) {
    Measured measured;
    std::size_t first = mono.size();
    std::size_t last = 0;
    for (std::size_t i = 0; i < mono.size(); ++i) {
        if (std::fabs(mono[i]) > kAmplitude / 5) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first >= last) {
        return measured;
    }
    measured.length = last - first + 1;
    std::vector<double> periods;
    double previous = -1.0;
    for (std::size_t i = first + 1; i <= last; ++i) {
        if (mono[i - 1] < 0.0f && mono[i] >= 0.0f) {
            const double at = static_cast<double>(i - 1) + mono[i - 1] / (mono[i - 1] - mono[i]);
            if (previous >= 0) {
                periods.push_back(at - previous);
            }
            previous = at;
        }
    }
    if (periods.empty()) {
        return measured;
    }
    std::vector<double> sorted = periods;
    std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
    const double median = sorted[sorted.size() / 2];
    double sum = 0.0;
    int count = 0;
    for (double period : periods) {
        if (std::fabs(period - median) < median / 100) {
            sum += period;
            ++count;
        }
    }
    measured.frequency = kRate / (sum / count);
    return measured;
}

TEST(RendererE2ETest, APlayedToneSelectionIsRecordedBackWhole) {
    const std::string sink = e2e::SandboxSink();
    if (sink.empty()) {
        GTEST_SKIP() << "needs the private sound server: run through scripts/pw-sandbox";
    }
    PulseBackendOptions options;
    options.warn = [](const std::string&) {};
    PulseBackend backend(options);
    SoundPlayer player(backend);

    e2e::TempFolder folder;
    const auto raw = folder.Path() / "recorded.raw";
    std::thread recorder([&] {
        e2e::Run("timeout 5 parec -d " + sink + ".monitor --format=float32le --rate=48000 " +
                 "--channels=2 --latency-msec=20 > " + raw.string());
    });
    ASSERT_TRUE(
        e2e::PollUntil([] { return !e2e::Run("pactl list short source-outputs").empty(); }, 10s));

    const auto start = std::chrono::steady_clock::now();
    ASSERT_TRUE(player.Play(ToneSound(), kSelectionStart, kSelectionStart + kSelectionFrames - 1));
    EXPECT_TRUE(player.WaitUntilIdle(10s));
    const double playSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(player.LastEnd(), SoundPlayer::PlayEnd::Finished);
    EXPECT_EQ(player.Cursor(), kSelectionFrames);
    recorder.join();

    const auto interleaved = e2e::ReadFloats(raw);
    std::vector<float> left;
    for (std::size_t i = 0; i < interleaved.size(); i += 2) {
        left.push_back(interleaved[i]);
    }
    const Measured measured = Measure(left);
    const long difference =
        static_cast<long>(measured.length) - static_cast<long>(kSelectionFrames);
    std::printf(
        "played %u frames in %.3f s; recorded tone of %zu frames (%+ld, %.2f ms), %.2f Hz\n",
        kSelectionFrames, playSeconds, measured.length, difference, difference * 1000.0 / kRate,
        measured.frequency);
    // Paced by the server, and ended once played out (not at the play-out time-out).
    EXPECT_GT(playSeconds, 0.9);
    EXPECT_LT(playSeconds, 1.0 + 0.4);
    EXPECT_LE(static_cast<std::uint32_t>(std::labs(difference)), kLengthTolerance);
    EXPECT_NEAR(measured.frequency, kToneHz, 3.0);
    const auto window = e2e::LoudestWindow(left, kRate / 2);
    EXPECT_NEAR(e2e::ToneAmplitude(window, kRate, kToneHz), kAmplitude, 0.05);
}

}  // namespace
}  // namespace hushwell
