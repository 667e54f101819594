#pragma once

// Shared by the tests of the trigger steps and the runner list: runners on a simulated
// output, recorders for firings and opened commands, and generated audio.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <numbers>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "detection/FiringSink.h"
#include "detection/RunnerList.h"
#include "triggers/CommandOpener.h"
#include "triggers/ControlRunner.h"
#include "triggers/Trigger.h"
#include "triggers/VolumeManager.h"

#include "tests/support/Eventually.h"

namespace hushwell::testing {

using namespace std::chrono_literals;

inline constexpr auto kGenerous = 20s;
inline constexpr std::uint64_t kStartTick = 1000000;
inline const char* const kSpeakers = "speakers";

class RecordingOpener final : public CommandOpener {
public:
    bool Open(const std::string& command, const std::string&) override {
        std::lock_guard lock(mutex_);
        opened_.push_back(command);
        return true;
    }
    std::size_t Count() {
        std::lock_guard lock(mutex_);
        return opened_.size();
    }

private:
    std::mutex mutex_;
    std::vector<std::string> opened_;
};

class FiringRecorder final : public FiringSink {
public:
    void OnFiring(const Firing& firing) override {
        std::lock_guard lock(mutex_);
        firings_.push_back(firing);
    }
    std::vector<Firing> Firings() {
        std::lock_guard lock(mutex_);
        return firings_;
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        firings_.clear();
    }

private:
    std::mutex mutex_;
    std::vector<Firing> firings_;
};

// A runner list on a volume manager over one simulated output at 50 %. Runners read the
// manual clock, so their deadlines pass only when a test moves it (Advance wakes them).
class RunnerHarness {
public:
    RunnerHarness() : clock(kStartTick, Monday(12, 0, 0)), backend_(audioClock_) {
        backend_.AddDevice(kSpeakers, MakeMixFormat(MixSampleType::Float32, 48000, 2));
        backend_.SetDeviceVolume(kSpeakers, 0.5f);
        volume_ = std::make_unique<VolumeManager>(backend_, [this](std::chrono::milliseconds d) {
            audioClock_.AdvanceMs(static_cast<std::uint64_t>(d.count()));
        });
        backend_.WaitForNotifications();
        volume_->WaitUntilIdle(kGenerous);
        runners = std::make_unique<RunnerList>(*volume_, opener, clock);
    }
    ~RunnerHarness() {
        runners.reset();
        ControlRunner::WaitForAllWorkers(kGenerous);
    }

    static LocalTime Monday(int hour, int minute, int second) {
        // 7 December 2026 is a Monday.
        return LocalTime{2026, 12, 7, hour, minute, second, 1};
    }

    void Advance(std::chrono::milliseconds span) {
        clock.AdvanceMs(static_cast<std::uint64_t>(span.count()));
        runners->ForEach([](ControlRunner& runner) { runner.Wake(); });
    }
    // Waits until every runner whose deadline has come has finished, as it would in the time
    // the clock stands for.
    bool DueRunnersFinish() {
        bool finished = true;
        runners->ForEach([&](ControlRunner& runner) {
            if (runner.Deadline() <= clock.TickMs()) {
                finished = finished && Eventually([&] { return runner.IsFinished(); });
            }
        });
        return finished;
    }
    bool MutedSoon(bool muted) {
        return backend_.WaitUntil([&] { return backend_.IsMuted(kSpeakers) == muted; }, kGenerous);
    }
    // The volume in whole percent once every request so far has been carried out.
    int SettledPercent() {
        volume_->WaitUntilIdle(kGenerous);
        return static_cast<int>(backend_.Volume(kSpeakers) * 100.0f + 0.5f);
    }
    int PercentSoon(int percent) {
        backend_.WaitUntil(
            [&] { return static_cast<int>(backend_.Volume(kSpeakers) * 100.0f + 0.5f) == percent; },
            kGenerous);
        return SettledPercent();
    }

    ManualClock clock;
    RecordingOpener opener;

private:
    ManualClock audioClock_;
    SimulatedBackend backend_;
    std::unique_ptr<VolumeManager> volume_;

public:
    std::unique_ptr<RunnerList> runners;
};

inline Trigger MakeTrigger(const std::string& kind, const std::string& name,
                           const std::string& control, int durationSeconds,
                           const std::string& target = "whole") {
    Trigger trigger;
    trigger.SetActive(true);
    trigger.name = name;
    trigger.triggerKind = kind;
    trigger.SetControl(control);
    trigger.duration =
        TriggerTime(durationSeconds / 3600, durationSeconds / 60 % 60, durationSeconds % 60);
    trigger.target = target;
    return trigger;
}

// --- Generated audio (mono, 16-bit) ----------------------------------------------------------

inline constexpr int kRate = 48000;

inline std::vector<std::int16_t> Noise(double seconds, int amplitude, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_int_distribution<int> value(-amplitude, amplitude);
    std::vector<std::int16_t> out(static_cast<std::size_t>(kRate * seconds));
    for (auto& sample : out) {
        sample = static_cast<std::int16_t>(value(random));
    }
    return out;
}

inline std::vector<std::int16_t> Tone(double hz, double seconds, double amplitude) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(kRate * seconds));
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hz * i / kRate)));
    }
    return out;
}

// A sound easy to tell from noise: a rising chirp with its octave, a second long.
inline std::vector<std::int16_t> Chirp(double seconds = 1.0, double amplitude = 9000) {
    std::vector<std::int16_t> out(static_cast<std::size_t>(kRate * seconds));
    const double from = 400;
    const double to = 2400;
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double phase =
            2 * std::numbers::pi * (from * t + (to - from) * t * t / (2 * seconds));
        out[i] = static_cast<std::int16_t>(
            std::lround(amplitude * (0.7 * std::sin(phase) + 0.3 * std::sin(2 * phase))));
    }
    return out;
}

// Adds sound into track from second `at` on, saturating.
inline void MixInto(std::vector<std::int16_t>& track, const std::vector<std::int16_t>& sound,
                    double at) {
    const auto first = static_cast<std::size_t>(at * kRate);
    for (std::size_t i = 0; i < sound.size() && first + i < track.size(); ++i) {
        const int sum = track[first + i] + sound[i];
        track[first + i] = static_cast<std::int16_t>(std::clamp(sum, -32768, 32767));
    }
}

}  // namespace hushwell::testing
