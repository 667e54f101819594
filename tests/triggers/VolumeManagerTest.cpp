#include "triggers/VolumeManager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedBackend.h"
#include "base/Clock.h"
#include "base/Event.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;

constexpr auto kDeadline = 10s;
const char* const kSpeakers = "speakers";
const char* const kHeadphones = "headphones";

// A stand-in for a running control: applies itself when made, undoes itself on its suspend
// event and applies itself again on its resume event, as the control runners do.
class FakeControl {
public:
    FakeControl(VolumeManager& manager, std::function<void()> apply, std::function<void()> undo)
        : manager_(manager), apply_(std::move(apply)), undo_(std::move(undo)) {
        manager_.AddControlEvents(&suspend_, &resume_);
        apply_();
    }
    ~FakeControl() { manager_.RemoveControlEvents(&suspend_, &resume_); }

    // Answers the events that were signalled since the last call.
    void Poll() {
        if (suspend_.TryTake()) {
            ++suspensions_;
            undo_();
        }
        if (resume_.TryTake()) {
            apply_();
        }
    }
    int Suspensions() const { return suspensions_; }
    void Undo() { undo_(); }

private:
    VolumeManager& manager_;
    std::function<void()> apply_;
    std::function<void()> undo_;
    Event suspend_;
    Event resume_;
    int suspensions_ = 0;
};

// Runs the manager on a simulated output with two devices. Its pauses advance the manual
// clock instead of sleeping, and give the fake controls their turn to answer events, so a
// device switch plays out the same way every time.
class VolumeManagerTest : public ::testing::Test {
protected:
    VolumeManagerTest() {
        const WaveFormat format = MakeMixFormat(MixSampleType::Float32, 48000, 2);
        backend_.AddDevice(kSpeakers, format);
        backend_.AddDevice(kHeadphones, format);
        backend_.SetDeviceVolume(kSpeakers, 0.5f);
        backend_.SetDeviceVolume(kHeadphones, 0.5f);
    }

    void TearDown() override {
        {
            std::lock_guard lock(controlsMutex_);
            controls_.clear();
            onPause_ = nullptr;
        }
        owned_.clear();
        manager_.reset();
    }

    void StartManager() {
        manager_ = std::make_unique<VolumeManager>(
            backend_, [this](std::chrono::milliseconds d) { Pause(d); });
        ASSERT_TRUE(Settle());
        ASSERT_EQ(manager_->BoundDeviceId(), kSpeakers);
    }

    void Pause(std::chrono::milliseconds d) {
        clock_.AdvanceMs(static_cast<std::uint64_t>(d.count()));
        std::lock_guard lock(controlsMutex_);
        if (onPause_) {
            onPause_();
        }
        for (FakeControl* control : controls_) {
            control->Poll();
        }
    }

    // Runs on the worker thread in every pause.
    void SetOnPause(std::function<void()> hook) {
        std::lock_guard lock(controlsMutex_);
        onPause_ = std::move(hook);
    }

    FakeControl& AddControl(std::function<void()> apply, std::function<void()> undo) {
        auto control = std::make_unique<FakeControl>(*manager_, std::move(apply), std::move(undo));
        std::lock_guard lock(controlsMutex_);
        controls_.push_back(control.get());
        owned_.push_back(std::move(control));
        return *owned_.back();
    }
    FakeControl& AddMuteControl() {
        return AddControl([this] { manager_->RequestMute(true); },
                          [this] { manager_->RequestMute(false); });
    }
    FakeControl& AddDownControl(int steps) {
        return AddControl([this, steps] { manager_->RequestVolumeSteps(-steps); },
                          [this, steps] { manager_->RequestVolumeSteps(steps); });
    }

    // Every notification delivered and every request carried out.
    bool Settle() { return backend_.WaitForNotifications() && manager_->WaitUntilIdle(kDeadline); }

    // Steps and waits; returns the time the ramp took on the manual clock.
    std::uint64_t Steps(int n) {
        const std::uint64_t before = clock_.TickMs();
        manager_->RequestVolumeSteps(n);
        EXPECT_TRUE(Settle());
        return clock_.TickMs() - before;
    }

    float Volume(const char* id) const { return backend_.Volume(id); }

    ManualClock clock_;
    SimulatedBackend backend_{clock_};
    std::mutex controlsMutex_;
    std::function<void()> onPause_;
    std::vector<FakeControl*> controls_;
    std::vector<std::unique_ptr<FakeControl>> owned_;
    std::unique_ptr<VolumeManager> manager_;
};

TEST_F(VolumeManagerTest, StepsAtFullVolumeAreRememberedAndMakeDownAndUpSymmetric) {
    backend_.SetDeviceVolume(kSpeakers, 0.98f);
    StartManager();

    Steps(+5);
    EXPECT_FLOAT_EQ(Volume(kSpeakers), 1.0f);
    EXPECT_EQ(backend_.VolumeSetCalls(kSpeakers), 2);
    EXPECT_EQ(manager_->UnappliedSteps(), 3);

    Steps(-5);  // the three that were never taken are subtracted: two steps down
    EXPECT_NEAR(Volume(kSpeakers), 0.98f, 1e-4);
    EXPECT_EQ(backend_.VolumeSetCalls(kSpeakers), 4);
    EXPECT_EQ(manager_->UnappliedSteps(), 0);

    // "down 30" at 10 % takes only ten steps; the raise by 30 at its end is reduced to ten.
    backend_.SetDeviceVolume(kSpeakers, 0.10f);
    Steps(-30);
    EXPECT_NEAR(Volume(kSpeakers), 0.0f, 1e-4);
    EXPECT_EQ(manager_->UnappliedSteps(), -20);
    Steps(+30);
    EXPECT_NEAR(Volume(kSpeakers), 0.10f, 1e-4);
}

TEST_F(VolumeManagerTest, StepsAtSilenceAreRecordedNotApplied) {
    backend_.SetDeviceVolume(kSpeakers, 0.0f);
    StartManager();

    Steps(-10);
    EXPECT_EQ(manager_->UnappliedSteps(), -10);
    manager_->RequestVolumeSteps(+10);
    EXPECT_EQ(manager_->PendingSteps(), 0);  // the raise cancels against the steps not taken
    ASSERT_TRUE(Settle());
    EXPECT_EQ(Volume(kSpeakers), 0.0f);
    EXPECT_EQ(backend_.VolumeSetCalls(kSpeakers), 0);

    // 1 % on a 1/65536 scale reads a hair below 0.01; it is still one step above silence.
    backend_.SetDeviceVolume(kSpeakers, 655.0f / 65536.0f);
    Steps(-2);
    EXPECT_EQ(Volume(kSpeakers), 0.0f);
    EXPECT_EQ(manager_->UnappliedSteps(), -1);
}

TEST_F(VolumeManagerTest, FailedVolumeSetsAreNeitherStepsNorUnappliedSteps) {
    StartManager();
    backend_.SetVolumeSetsFail(true);
    Steps(-4);
    EXPECT_FLOAT_EQ(Volume(kSpeakers), 0.5f);
    EXPECT_EQ(manager_->UnappliedSteps(), 0);
    backend_.SetVolumeSetsFail(false);
    Steps(+2);
    EXPECT_NEAR(Volume(kSpeakers), 0.52f, 1e-4);
}

TEST_F(VolumeManagerTest, RampIntervalsFollowTheRatesOnTheInjectedClock) {
    StartManager();
    EXPECT_EQ(Steps(+5), 5u * 200u);  // default 200 ms per step
    manager_->SetDownRate(300);
    EXPECT_EQ(Steps(-6), 6u * 33u);
    manager_->SetUpRate(7);
    for (int ignored : {0, 301, -5}) {
        manager_->SetUpRate(ignored);
        manager_->SetDownRate(ignored);
    }
    EXPECT_EQ(Steps(+2), 2u * (10000u / 7u));
    EXPECT_EQ(Steps(-1), 33u);

    backend_.SetDeviceVolume(kSpeakers, 1.0f);  // steps that cannot be taken pause 20 ms
    EXPECT_EQ(Steps(+3), 3u * 20u);
}

TEST_F(VolumeManagerTest, RequestsArrivingDuringARampAreFoldedInAfterThreeSteps) {
    StartManager();
    // The opposite request arrives while the first step down is being taken.
    bool posted = false;
    SetOnPause([&] {
        if (!std::exchange(posted, true)) {
            manager_->RequestVolumeSteps(+10);
        }
    });
    Steps(-10);
    // Three steps down, then the remaining -7 and the +10 make three steps up.
    EXPECT_NEAR(Volume(kSpeakers), 0.5f, 1e-4);
    EXPECT_EQ(backend_.VolumeSetCalls(kSpeakers), 6);
}

TEST_F(VolumeManagerTest, ASecondMuteChangesNothingAndTheFirstToEndUnmutes) {
    StartManager();
    FakeControl& first = AddMuteControl();
    AddMuteControl();
    ASSERT_TRUE(Settle());
    EXPECT_TRUE(backend_.IsMuted(kSpeakers));
    EXPECT_EQ(backend_.MuteCalls(kSpeakers), 1);

    first.Undo();
    ASSERT_TRUE(Settle());
    EXPECT_FALSE(backend_.IsMuted(kSpeakers));
    EXPECT_EQ(backend_.MuteCalls(kSpeakers), 2);
}

TEST_F(VolumeManagerTest, SwitchingTheDefaultMovesRunningControlsToTheNewDevice) {
    StartManager();
    FakeControl& mute = AddMuteControl();
    FakeControl& down = AddDownControl(5);
    ASSERT_TRUE(Settle());
    ASSERT_TRUE(backend_.IsMuted(kSpeakers));
    ASSERT_NEAR(Volume(kSpeakers), 0.45f, 1e-4);

    ASSERT_TRUE(backend_.SetDefaultDevice(kHeadphones));
    ASSERT_TRUE(Settle());

    EXPECT_EQ(manager_->BoundDeviceId(), kHeadphones);
    EXPECT_FALSE(backend_.IsMuted(kSpeakers));
    EXPECT_NEAR(Volume(kSpeakers), 0.5f, 1e-4);
    EXPECT_TRUE(backend_.IsMuted(kHeadphones));
    EXPECT_NEAR(Volume(kHeadphones), 0.45f, 1e-4);
    EXPECT_EQ(mute.Suspensions(), 1);
    EXPECT_EQ(down.Suspensions(), 1);
}

TEST_F(VolumeManagerTest, RemovingTheDefaultDeviceRebindsToTheNextOne) {
    StartManager();
    AddMuteControl();
    ASSERT_TRUE(Settle());

    ASSERT_TRUE(backend_.RemoveDevice(kSpeakers));
    ASSERT_TRUE(Settle());
    EXPECT_EQ(manager_->BoundDeviceId(), kHeadphones);
    EXPECT_TRUE(backend_.IsMuted(kHeadphones));
}

TEST_F(VolumeManagerTest, OtherNotificationsDoNotSwitch) {
    StartManager();
    FakeControl& mute = AddMuteControl();
    ASSERT_TRUE(Settle());

    backend_.NotifyDefaultDeviceChanged(DataFlow::Capture, Role::Console, kHeadphones);
    backend_.NotifyDefaultDeviceChanged(DataFlow::Render, Role::Communications, kHeadphones);
    backend_.DisconnectSessions(kSpeakers, DisconnectReason::FormatChanged);
    ASSERT_TRUE(Settle());
    EXPECT_EQ(mute.Suspensions(), 0);
    EXPECT_EQ(manager_->BoundDeviceId(), kSpeakers);
    EXPECT_EQ(backend_.MuteCalls(kSpeakers), 1);
}

TEST_F(VolumeManagerTest, StoppingCarriesOutThePendingSteps) {
    StartManager();
    manager_->RequestVolumeSteps(-3);
    manager_ = nullptr;
    EXPECT_NEAR(Volume(kSpeakers), 0.47f, 1e-4);
}

TEST(VolumeManagerWithoutOutputTest, RequestsWaitForTheFirstOutput) {
    ManualClock clock;
    SimulatedBackend backend(clock);
    VolumeManager manager(backend, [&](std::chrono::milliseconds d) {
        clock.AdvanceMs(static_cast<std::uint64_t>(d.count()));
    });
    manager.RequestMute(true);
    manager.RequestVolumeSteps(-2);
    ASSERT_TRUE(manager.WaitUntilIdle(kDeadline));
    EXPECT_EQ(manager.BoundDeviceId(), "");
    EXPECT_EQ(manager.PendingSteps(), -2);

    backend.AddDevice(kSpeakers, MakeMixFormat(MixSampleType::Pcm16, 44100, 2));  // at 100 %
    ASSERT_TRUE(backend.WaitForNotifications());
    ASSERT_TRUE(manager.WaitUntilIdle(kDeadline));
    EXPECT_EQ(manager.BoundDeviceId(), kSpeakers);
    EXPECT_TRUE(backend.IsMuted(kSpeakers));
    EXPECT_NEAR(backend.Volume(kSpeakers), 0.98f, 1e-4);
}

}  // namespace
}  // namespace hushwell
