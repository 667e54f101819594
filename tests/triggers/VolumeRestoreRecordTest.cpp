#include "triggers/VolumeRestoreRecord.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "audio/MixFormat.h"
#include "audio/simulated/SimulatedBackend.h"
#include "audio/simulated/SimulatedPlaybackStreams.h"
#include "base/Clock.h"
#include "tests/support/TempFolder.h"
#include "triggers/ProgramVolumeManager.h"
#include "triggers/VolumeManager.h"

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
        manager_ = std::make_unique<VolumeManager>(
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
    std::unique_ptr<VolumeManager> manager_;
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
        "version=1\nendpoint=speakers\nmuted=0\nsteps=-2147483648\n",  // |INT_MIN| overflows
        "version=1\nendpoint=speakers\nmuted=0\nsteps=2147483647\n",
        "version=1\nendpoint=speakers\nmuted=0\nsteps=-9223372036854775808\n",
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

TEST(VolumeRestoreRecordTextTest, StepCountsAreCheckedBeforeAnyArithmetic) {
    const std::string head = "version=1\nendpoint=speakers\nmuted=0\nsteps=";
    EXPECT_EQ(VolumeRestoreRecord::FromText(head + "-1000")->steps, -1000);
    EXPECT_EQ(VolumeRestoreRecord::FromText(head + "1000")->steps, 1000);
    for (const char* steps : {"-2147483648", "-2147483647", "2147483648", "-1001", "1001"}) {
        EXPECT_FALSE(VolumeRestoreRecord::FromText(head + steps)) << steps;
    }
}

// Covering names what is done and what is planned, so that a crash in the middle of making
// the plan still undoes both; one row per pair of done and planned changes.
TEST(VolumeRestoreRecordCoverTest, CoversEveryPairOfDoneAndPlannedChanges) {
    const auto record = [](bool muted, int steps, std::string id = kSpeakers) {
        VolumeRestoreRecord r;
        r.endpointId = std::move(id);
        r.muted = muted;
        r.steps = steps;
        r.volumeBefore = 0.5f;
        return r;
    };
    struct Row {
        VolumeRestoreRecord done, planned;
        bool muted;
        int steps;
    };
    const std::vector<Row> rows{
        {record(false, 0), record(true, 0), true, 0},          // nothing done, a mute planned
        {record(true, 0), record(false, 0), true, 0},          // muted, an unmute planned
        {record(true, 0), record(true, 0), true, 0},           // muted, still muted
        {record(false, -30), record(true, -30), true, -30},    // lowered, a mute planned
        {record(true, -30), record(false, -30), true, -30},    // lowered and muted, unmute
        {record(false, -30), record(false, -10), false, -30},  // going back up part-way
        {record(false, -10), record(false, -30), false, -30},  // going further down
        {record(false, -30), record(false, 5), false, 5},      // turning: the planned
        {record(false, 20), record(false, -4), false, -4},     // turning the other way
        {record(true, 20), record(false, 0), true, 20},        // raised and muted, both undone
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.done.ToText() + "planned:\n" + row.planned.ToText());
        const VolumeRestoreRecord cover = VolumeRestoreRecord::Covering(row.done, row.planned);
        EXPECT_EQ(cover.endpointId, kSpeakers);
        EXPECT_EQ(cover.muted, row.muted);
        EXPECT_EQ(cover.steps, row.steps);
    }
    // A change to another output, or nothing done: the plan alone.
    const VolumeRestoreRecord other = record(true, -10, kHeadphones);
    EXPECT_EQ(VolumeRestoreRecord::Covering(other, record(false, 3)), record(false, 3));
    EXPECT_EQ(VolumeRestoreRecord::Covering(VolumeRestoreRecord{}, record(true, 0)),
              record(true, 0));
}

TEST_F(VolumeRestoreTest, RecordStillSaysMutedWhileTheUnmuteRuns) {
    StartManager();
    Mute(true);
    std::vector<bool> recordSaidMuted;
    backend_.SetMuteCallObserver([&](const std::string&, bool mute) {
        VolumeRestoreRecord record;
        if (!mute) {
            recordSaidMuted.push_back(Load(record) == VolumeRestoreRecord::LoadResult::Loaded &&
                                      record.muted);
        }
    });
    Mute(false);
    backend_.SetMuteCallObserver(nullptr);
    EXPECT_EQ(recordSaidMuted, std::vector<bool>{true});
    EXPECT_FALSE(RecordExists());
}

// A link or a stale file at the name the temporary file once had is neither followed nor
// reused: the record never goes outside the folder and is always the user's alone.
TEST_F(VolumeRestoreTest, TemporaryFilesAreCreatedNewAndNeverFollowALink) {
    const std::string planted = path_ + ".tmp";
    testing::TempFolder elsewhere;
    const std::string victim = elsewhere.File("victim.txt");
    std::ofstream(victim) << "the user's own file\n";
    std::filesystem::create_symlink(victim, planted);
    VolumeRestoreRecord record;
    record.endpointId = kSpeakers;
    record.muted = true;
    ASSERT_TRUE(record.Save(path_));
    std::ifstream in(victim);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "the user's own file\n");
    EXPECT_TRUE(std::filesystem::is_symlink(planted));
    struct stat info {};
    ASSERT_EQ(::lstat(path_.c_str(), &info), 0);
    EXPECT_TRUE(S_ISREG(info.st_mode));

    // A stale world-writable temporary file does not lend the record its mode.
    std::filesystem::remove(planted);
    std::ofstream(planted) << "stale";
    ::chmod(planted.c_str(), 0666);
    record.steps = -5;
    ASSERT_TRUE(record.Save(path_));
    ASSERT_EQ(::lstat(path_.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
    VolumeRestoreRecord loaded;
    ASSERT_EQ(Load(loaded), VolumeRestoreRecord::LoadResult::Loaded);
    EXPECT_EQ(loaded, record);
}

// Loading never blocks: a FIFO at the record's name is damaged, not waited on.
TEST_F(VolumeRestoreTest, FifoOrLinkAtTheRecordsNameIsDamagedWithoutWaiting) {
    ASSERT_EQ(::mkfifo(path_.c_str(), 0600), 0);
    auto restoring = std::async(std::launch::async, [this] { return RestoreLeftOver(); });
    if (restoring.wait_for(kDeadline) != std::future_status::ready) {
        // Free the blocked reader so the test can end.
        const int writer = ::open(path_.c_str(), O_WRONLY | O_NONBLOCK);
        ::close(writer);
        FAIL() << "reading the record waited on a FIFO";
    }
    EXPECT_EQ(restoring.get(), Restore::Damaged);
    EXPECT_FALSE(RecordExists());
    EXPECT_EQ(log_, std::vector<std::string>{std::string(VolumeRestoreRecord::kDamagedMessage)});

    // A link to a valid record elsewhere is not read: only the link is removed.
    testing::TempFolder elsewhere;
    const std::string target = elsewhere.File("record.txt");
    std::ofstream(target) << "version=1\nendpoint=speakers\nmuted=1\nsteps=0\n";
    std::filesystem::create_symlink(target, path_);
    backend_.SetDeviceMute(kSpeakers, true);
    EXPECT_EQ(RestoreLeftOver(), Restore::Damaged);
    EXPECT_TRUE(backend_.IsMuted(kSpeakers));
    EXPECT_TRUE(std::filesystem::exists(target));
    EXPECT_FALSE(std::filesystem::is_symlink(path_));
}

// A folder at the record's name: the start does not claim to have removed it, and a mute is
// still made, reported once as unprotected; the next mute tries again, without a second report.
TEST_F(VolumeRestoreTest, RecordThatCannotBeWrittenIsReportedOnceAndTheMuteIsStillMade) {
    std::filesystem::create_directory(path_);
    EXPECT_EQ(RestoreLeftOver(), Restore::Damaged);
    ASSERT_EQ(log_.size(), 1u);
    EXPECT_EQ(log_[0].rfind(VolumeRestoreRecord::kDamagedKeptMessage, 0), 0u) << log_[0];
    EXPECT_NE(log_[0].find(path_ + " is a folder"), std::string::npos) << log_[0];
    EXPECT_TRUE(std::filesystem::is_directory(path_));

    std::vector<std::string> reports;
    manager_ =
        std::make_unique<VolumeManager>(backend_, [this](std::chrono::milliseconds) { OnPause(); });
    manager_->SetRecordFailureReport([&](std::string_view line) { reports.emplace_back(line); });
    manager_->SetRestoreRecordPath(path_);
    ASSERT_TRUE(Settle());
    Mute(true);
    EXPECT_TRUE(backend_.IsMuted(kSpeakers));
    ASSERT_EQ(reports.size(), 1u);
    EXPECT_NE(reports[0].find(path_), std::string::npos) << reports[0];
    EXPECT_NE(reports[0].find(VolumeManager::kRecordFailureConsequence), std::string::npos);
    Mute(false);
    Mute(true);
    EXPECT_EQ(reports.size(), 1u);

    // Once the folder is gone the next change writes the record again.
    Mute(false);
    std::filesystem::remove(path_);
    Mute(true);
    VolumeRestoreRecord record;
    ASSERT_EQ(Load(record), VolumeRestoreRecord::LoadResult::Loaded);
    EXPECT_TRUE(record.muted);
}

// A data folder in which nothing can be created: the same single report, and the mute is made.
TEST_F(VolumeRestoreTest, ReadOnlyDataFolderIsReportedOnce) {
    if (::geteuid() == 0) {
        // root writes into a read-only folder; a folder root cannot write in stands in.
        path_ = VolumeRestoreRecord::PathIn("/proc");
    } else {
        ::chmod(folder_.c_str(), 0500);
    }
    std::vector<std::string> reports;
    manager_ =
        std::make_unique<VolumeManager>(backend_, [this](std::chrono::milliseconds) { OnPause(); });
    manager_->SetRecordFailureReport([&](std::string_view line) { reports.emplace_back(line); });
    manager_->SetRestoreRecordPath(path_);
    ASSERT_TRUE(Settle());
    Steps(-10);
    Mute(true);
    EXPECT_TRUE(backend_.IsMuted(kSpeakers));
    EXPECT_NEAR(backend_.Volume(kSpeakers), 0.4f, 1e-4);
    EXPECT_EQ(reports.size(), 1u);
    ::chmod(folder_.c_str(), 0700);
}

}  // namespace
}  // namespace hushwell

namespace hushwell {
namespace {

const ProgramIdentity kBrowser{"firefox", "Firefox"};
const ProgramIdentity kPlayer{"mpv", "mpv"};

StreamChange Muted(std::uint32_t index, const ProgramIdentity& program) {
    StreamChange change;
    change.index = index;
    change.program = program;
    change.muteBefore = false;
    change.muteSet = true;
    return change;
}

TEST(VolumeRestoreRecordTextTest, ProgramStreamsRoundTripAloneOrBesideTheOutput) {
    StreamChange lowered;
    lowered.index = 7;
    lowered.program = {"", "Music Player"};
    lowered.volumeBefore = 0.8f;
    lowered.volumeSet = 0.5f;
    VolumeRestoreRecord record;
    record.streams = {Muted(3, kBrowser), lowered};
    EXPECT_EQ(record.ToText(),
              "version=1\nstream=3\t1\t-\t-\tfirefox\tFirefox\nstream=7\t-\t0.8\t0.5\t\tMusic "
              "Player\n");
    EXPECT_EQ(VolumeRestoreRecord::FromText(record.ToText()), record);

    record.endpointId = "speakers";
    record.muted = true;
    EXPECT_EQ(VolumeRestoreRecord::FromText(record.ToText()), record);

    // Names that a line cannot hold, and changes that change nothing, are left out.
    StreamChange tabbed = Muted(9, {"a\tb", "x"});
    StreamChange same = Muted(10, kPlayer);
    same.muteBefore = true;
    record.streams = {tabbed, same};
    EXPECT_EQ(record.ToText().find("stream="), std::string::npos);

    for (const std::string_view bad :
         {"version=1\nstream=3\t1\t-\t-\tfirefox\n",               // a field missing
          "version=1\nstream=3\t2\t-\t-\tfirefox\tFirefox\n",      // no such mute
          "version=1\nstream=3\t-\t0.8\t1.5\tfirefox\tFirefox\n",  // a level out of range
          "version=1\nstream=3\t-\t-\t-\tfirefox\tFirefox\n",      // changes nothing
          "version=1\nstream=x\t1\t-\t-\tfirefox\tFirefox\n",
          "version=1\nstream=3\t1\t-\t-\t\t\n",                      // no program
          "version=1\nstream=3\t1\t-\t-\tfirefox\tFirefox\tmore\n",  // a field too many
          "version=1\nstream=3\t-\t0.5\t0.5\tfirefox\tFirefox\n",    // changes nothing
          "version=1\nendpoint=speakers\nstream=3\t1\t-\t-\tfirefox\tFirefox\n"}) {
        EXPECT_FALSE(VolumeRestoreRecord::FromText(bad)) << bad;
    }
    // A mute beside a volume that stayed where it was reads as the mute alone, as it is
    // written back.
    const auto muteOnly =
        VolumeRestoreRecord::FromText("version=1\nstream=3\t1\t0.5\t0.5\tfirefox\tFirefox\n");
    ASSERT_TRUE(muteOnly);
    ASSERT_EQ(muteOnly->streams.size(), 1u);
    EXPECT_FALSE(muteOnly->streams[0].volumeBefore);
    EXPECT_EQ(VolumeRestoreRecord::FromText(muteOnly->ToText()), *muteOnly);

    // An output part that changes nothing, beside a stream, is the stream alone.
    const auto unchangedOutput = VolumeRestoreRecord::FromText(
        "version=1\nendpoint=speakers\nmuted=0\nsteps=0\nstream=3\t1\t-\t-\tfirefox\tFirefox\n");
    ASSERT_TRUE(unchangedOutput);
    EXPECT_TRUE(unchangedOutput->endpointId.empty());
    EXPECT_EQ(VolumeRestoreRecord::FromText(unchangedOutput->ToText()), *unchangedOutput);

    std::string many = "version=1\n";
    for (std::size_t n = 0; n <= VolumeRestoreRecord::kMaxStreams; ++n) {
        many += "stream=" + std::to_string(n) + "\t1\t-\t-\tfirefox\tFirefox\n";
    }
    EXPECT_FALSE(VolumeRestoreRecord::FromText(many));
}

// The program volume manager keeps its changes in the output's record; the next start gives
// back the streams that still play and what the server remembers of those that ended.
TEST_F(VolumeRestoreTest, ProgramChangesShareTheRecordAndAreGivenBackAtTheNextStart) {
    SimulatedPlaybackStreams& streams = backend_.PlaybackStreams();
    const std::uint32_t tab = streams.Add(kSpeakers, kBrowser, 0.8f);
    const std::uint32_t music = streams.Add(kSpeakers, kPlayer, 0.6f);
    StartManager();
    Mute(true);
    {
        ProgramVolumeManager programs(backend_, 2ms);
        programs.SetRecordFunction([this](const std::vector<StreamChange>& changes) {
            return manager_->RecordProgramChanges(changes);
        });
        const auto hold = programs.Apply(kBrowser, ControlKind::Mute, 0);
        ASSERT_TRUE(programs.WaitUntilIdle(kDeadline));
        VolumeRestoreRecord record;
        ASSERT_EQ(Load(record), VolumeRestoreRecord::LoadResult::Loaded);
        EXPECT_TRUE(record.muted);
        EXPECT_EQ(record.streams, std::vector<StreamChange>{Muted(tab, kBrowser)});
        Mute(false);  // the output's part goes, the program's stays
        ASSERT_EQ(Load(record), VolumeRestoreRecord::LoadResult::Loaded);
        EXPECT_FALSE(record.ChangesOutput());
        EXPECT_EQ(record.streams.size(), 1u);
        programs.Undo(hold);
        ASSERT_TRUE(programs.WaitUntilIdle(kDeadline));
        EXPECT_FALSE(RecordExists());
    }
    Crash();

    // What a killed run leaves: the tab muted, and a stream that ended while muted, whose
    // program the server remembers as muted.
    const std::uint32_t ended = streams.Add(kSpeakers, {"vlc", "VLC"});
    ASSERT_TRUE(streams.SetUserMute(tab, true));
    ASSERT_TRUE(streams.SetUserMute(ended, true));
    ASSERT_TRUE(streams.Remove(ended));
    WriteRecordFile("version=1\nstream=" + std::to_string(tab) +
                    "\t1\t-\t-\tfirefox\tFirefox\nstream=" + std::to_string(ended) +
                    "\t1\t-\t-\tvlc\tVLC\nstream=" + std::to_string(music) +
                    "\t1\t-\t-\tnot\tthe same\n");
    streams.SetServerAvailable(false);
    EXPECT_EQ(RestoreLeftOver(), Restore::ServerUnavailable);
    EXPECT_TRUE(RecordExists());
    streams.SetServerAvailable(true);
    EXPECT_EQ(RestoreLeftOver(), Restore::Restored);
    EXPECT_FALSE(streams.Find(tab)->muted);
    EXPECT_EQ(streams.Remembered({"vlc", "VLC"}), std::pair(false, 1.0f));
    const std::uint32_t next = streams.AddRemembered(kSpeakers, {"vlc", "VLC"});
    EXPECT_FALSE(streams.Find(next)->muted);
    EXPECT_EQ(streams.MuteCalls(music), 0);  // another program at that index
    EXPECT_FALSE(RecordExists());
}

}  // namespace
}  // namespace hushwell
