#include "triggers/VolumeRestoreRecord.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "audio/MixFormat.h"
#include "audio/SimulatedBackend.h"
#include "base/Clock.h"
#include "triggers/CVolumeManager.h"

namespace hushwell {
namespace {

using namespace std::chrono_literals;
using Restore = VolumeRestoreRecord::RestoreResult;

constexpr auto kDeadline = 10s;
const char* const kSpeakers = "speakers";
const char* const kHeadphones = "headphones";

// A manager on a simulated output keeping its record in a fresh folder; "crashing" is
// dropping the manager without undoing, and the next start is RestoreLeftOver.
class VolumeRestoreTest : public ::testing::Test {
protected:
    VolumeRestoreTest() {
        const WaveFormat format = MakeMixFormat(MixSampleType::Float32, 48000, 2);
        backend_.AddDevice(kSpeakers, format);
        backend_.AddDevice(kHeadphones, format);
        backend_.SetDeviceVolume(kSpeakers, 0.5f);
        backend_.SetDeviceVolume(kHeadphones, 0.5f);
        std::string pattern =
            (std::filesystem::temp_directory_path() / "hushwell-restore-XXXXXX").string();
        EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
        path_ = VolumeRestoreRecord::PathIn(folder_);
    }
    ~VolumeRestoreTest() override {
        manager_.reset();
        std::filesystem::remove_all(folder_);
    }

    void StartManager() {
        manager_ = std::make_unique<CVolumeManager>(
            backend_, [this](std::chrono::milliseconds) { OnPause(); });
        manager_->SetRestoreRecordPath(path_);
        ASSERT_TRUE(Settle());
    }
    bool Settle() { return backend_.WaitForNotifications() && manager_->WaitUntilIdle(kDeadline); }
    void Mute(bool mute) {
        manager_->RequestMute(mute);
        ASSERT_TRUE(Settle());
    }
    void Steps(int n) {
        manager_->RequestVolumeSteps(n);
        ASSERT_TRUE(Settle());
    }
    void Crash() { manager_.reset(); }

    Restore RestoreLeftOver() {
        return VolumeRestoreRecord::RestoreLeftOver(
            backend_, path_, [this](std::string_view line) { log_.emplace_back(line); });
    }
    VolumeRestoreRecord::LoadResult Load(VolumeRestoreRecord& record) const {
        return VolumeRestoreRecord::Load(path_, record);
    }
    bool RecordExists() const { return std::filesystem::exists(path_); }
    void WriteRecordFile(const std::string& text) const {
        std::ofstream(path_, std::ios::binary | std::ios::trunc) << text;
    }

    // The worker's pause before each volume step: notes the record's steps while asked to.
    void OnPause() {
        std::lock_guard lock(pauseMutex_);
        VolumeRestoreRecord record;
        if (watchRecord_ && Load(record) == VolumeRestoreRecord::LoadResult::Loaded) {
            stepsSeenDuringRamp_.push_back(record.steps);
        }
    }
    void WatchRecordDuringRamps(bool watch) {
        std::lock_guard lock(pauseMutex_);
        watchRecord_ = watch;
    }
    std::vector<int> TakeStepsSeenDuringRamp() {
        std::lock_guard lock(pauseMutex_);
        return std::exchange(stepsSeenDuringRamp_, {});
    }

    ManualClock clock_;
    SimulatedBackend backend_{clock_};
    std::string folder_;
    std::string path_;
    std::vector<std::string> log_;
    std::mutex pauseMutex_;
    bool watchRecord_ = false;
    std::vector<int> stepsSeenDuringRamp_;
    std::unique_ptr<CVolumeManager> manager_;
};

TEST_F(VolumeRestoreTest, MuteLeftByARunThatEndedIsUndoneAtTheNextStart) {
    StartManager();
    Mute(true);
    VolumeRestoreRecord record;
    ASSERT_EQ(Load(record), VolumeRestoreRecord::LoadResult::Loaded);
    EXPECT_EQ(record.endpointId, kSpeakers);
    EXPECT_TRUE(record.muted);
    EXPECT_EQ(record.steps, 0);
    EXPECT_EQ(record.volumeBefore, 0.5f);

    Crash();
    EXPECT_TRUE(backend_.IsMuted(kSpeakers));
    backend_.SetDefaultDevice(kHeadphones);  // found by its id, default or not
    EXPECT_EQ(RestoreLeftOver(), Restore::Restored);
    EXPECT_FALSE(backend_.IsMuted(kSpeakers));
    EXPECT_FLOAT_EQ(backend_.Volume(kSpeakers), 0.5f);  // no steps recorded, none given back
    EXPECT_EQ(backend_.MuteCalls(kHeadphones), 0);
    EXPECT_FALSE(RecordExists());
    EXPECT_EQ(log_, std::vector<std::string>{std::string(VolumeRestoreRecord::kRestoredMessage)});

    EXPECT_EQ(RestoreLeftOver(), Restore::NothingLeft);
    EXPECT_EQ(log_.size(), 1u);
}

TEST_F(VolumeRestoreTest, VolumeComesBackByTheStepsTakenButNeverPastTheVolumeBefore) {
    StartManager();
    Steps(-30);
    EXPECT_NEAR(backend_.Volume(kSpeakers), 0.2f, 1e-4);
    Crash();
    EXPECT_EQ(RestoreLeftOver(), Restore::Restored);
    EXPECT_FLOAT_EQ(backend_.Volume(kSpeakers), 0.5f);
    EXPECT_EQ(backend_.MuteCalls(kSpeakers), 0);  // only what was muted is unmuted

    // The user raised the volume after the ramp: 30 steps back would pass the 50 % before.
    StartManager();
    Steps(-30);
    Crash();
    backend_.SetDeviceVolume(kSpeakers, 0.4f);
    EXPECT_EQ(RestoreLeftOver(), Restore::Restored);
    EXPECT_FLOAT_EQ(backend_.Volume(kSpeakers), 0.5f);

    // "up 10" at 98 % took two steps; giving back ten stops at 98 %.
    backend_.SetDeviceVolume(kSpeakers, 0.98f);
    StartManager();
    Steps(+10);
    Crash();
    EXPECT_EQ(RestoreLeftOver(), Restore::Restored);
    EXPECT_FLOAT_EQ(backend_.Volume(kSpeakers), 0.98f);
}

TEST_F(VolumeRestoreTest, RecordCoversEveryRampStepAndGoesWithTheCleanUndo) {
    StartManager();
    Mute(true);
    Mute(false);
    EXPECT_FALSE(RecordExists());

    // A crash at any step of the way down, or of the way back, still gives back the rest.
    WatchRecordDuringRamps(true);
    Steps(-30);
    EXPECT_EQ(TakeStepsSeenDuringRamp(), std::vector<int>(30, -30));
    WatchRecordDuringRamps(false);
    Mute(true);
    Mute(false);  // the lowered volume is still to be undone
    VolumeRestoreRecord record;
    ASSERT_EQ(Load(record), VolumeRestoreRecord::LoadResult::Loaded);
    EXPECT_FALSE(record.muted);
    EXPECT_EQ(record.steps, -30);
    EXPECT_EQ(record.volumeBefore, 0.5f);

    WatchRecordDuringRamps(true);
    Steps(+30);
    EXPECT_EQ(TakeStepsSeenDuringRamp(), std::vector<int>(30, -30));
    EXPECT_FLOAT_EQ(backend_.Volume(kSpeakers), 0.5f);
    EXPECT_FALSE(RecordExists());
}

TEST_F(VolumeRestoreTest, RecordOfAnOutputThatIsGoneIsRemovedWithOneLogLine) {
    StartManager();
    Mute(true);
    Crash();
    backend_.SetServerAvailable(false);
    EXPECT_EQ(RestoreLeftOver(), Restore::ServerUnavailable);
    EXPECT_TRUE(RecordExists());  // kept for a start that can reach the server
    EXPECT_TRUE(log_.empty());

    backend_.SetServerAvailable(true);
    backend_.RemoveDevice(kSpeakers);
    EXPECT_EQ(RestoreLeftOver(), Restore::EndpointGone);
    EXPECT_FALSE(RecordExists());
    EXPECT_EQ(backend_.MuteCalls(kHeadphones), 0);
    EXPECT_EQ(log_,
              std::vector<std::string>{std::string(VolumeRestoreRecord::kEndpointGoneMessage)});
}

TEST_F(VolumeRestoreTest, DamagedRecordIsRemovedWithOneLogLine) {
    const std::string good = "version=1\nendpoint=speakers\nmuted=1\nsteps=-30\nvolume=0.5\n";
    ASSERT_TRUE(VolumeRestoreRecord::FromText(good));
    ASSERT_TRUE(VolumeRestoreRecord::FromText("version=1\r\nendpoint=x\r\nmuted=0\r\nsteps=3"));
    const std::vector<std::string> damaged{
        "",
        "garbage",
        "version=2\nendpoint=speakers\nmuted=1\nsteps=0\n",
        "endpoint=speakers\nversion=1\nmuted=1\nsteps=0\n",
        "version=1\nendpoint=speakers\nmuted=1\n",
        "version=1\nendpoint=\nmuted=1\nsteps=0\n",
        "version=1\nendpoint=speakers\nmuted=yes\nsteps=0\n",
        "version=1\nendpoint=speakers\nmuted=0\nsteps=-3x\n",
        "version=1\nendpoint=speakers\nmuted=0\nsteps=99999999999\n",
        "version=1\nendpoint=speakers\nmuted=0\nsteps=-1001\n",
        "version=1\nendpoint=speakers\nmuted=1\nsteps=0\nvolume=1.5\n",
        "version=1\nendpoint=speakers\nmuted=1\nsteps=0\nvolume=nan\n",
        "version=1\nendpoint=speakers\nmuted=1\nsteps=0\ncolour=red\n",
        "version=1\nendpoint=speakers\nmuted=1\nmuted=1\nsteps=0\n",
        "version=1\nendpoint=speakers\nmuted=0\nsteps=0\n",  // changes nothing
        good + "\n",
        good + std::string(VolumeRestoreRecord::kMaxFileSize, '#'),
    };
    for (const std::string& text : damaged) {
        SCOPED_TRACE(text.substr(0, 80));
        log_.clear();
        WriteRecordFile(text);
        EXPECT_EQ(RestoreLeftOver(), Restore::Damaged);
        EXPECT_FALSE(RecordExists());
        EXPECT_EQ(log_,
                  std::vector<std::string>{std::string(VolumeRestoreRecord::kDamagedMessage)});
    }
    EXPECT_FALSE(backend_.IsMuted(kSpeakers));
    EXPECT_EQ(backend_.VolumeSetCalls(kSpeakers), 0);
}

}  // namespace
}  // namespace hushwell
