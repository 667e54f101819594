#include "detection/ProgramStreamWatcher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioClient.h"
#include "audio/AudioSessionControl.h"
#include "audio/CaptureClient.h"
#include "audio/simulated/SimulatedPlaybackStreams.h"
#include "detection/ControlLauncher.h"
#include "tests/detection/DetectionTestSupport.h"
#include "tests/support/TempFolder.h"
#include "wav/WaveFile.h"

namespace hushwell {
namespace {

using namespace hushwell::testing;

const ProgramIdentity kBrowser{"firefox", "Firefox"};
const ProgramIdentity kPlayer{"mpv", "mpv"};
constexpr std::size_t kPacketFrames = kRate / 100;

// What the test plays into one stream's recording, and the recording's listener.
struct Feed {
    std::mutex mutex;
    std::deque<std::vector<std::int16_t>> packets;
    std::shared_ptr<Event> event;
    AudioSessionEvents* listener = nullptr;
};

class FeedCapture final : public CaptureClient {
public:
    explicit FeedCapture(std::shared_ptr<Feed> feed) : feed_(std::move(feed)) {}
    AudioResult GetNextPacketSize(std::uint32_t& frames) override {
        std::lock_guard lock(feed_->mutex);
        frames = feed_->packets.empty() ? 0 : static_cast<std::uint32_t>(feed_->packets[0].size());
        return AudioResult::Ok;
    }
    AudioResult GetBuffer(const std::uint8_t*& data, std::uint32_t& frames,
                          std::uint32_t& flags) override {
        std::lock_guard lock(feed_->mutex);
        held_ = std::move(feed_->packets.front());
        feed_->packets.pop_front();
        data = reinterpret_cast<const std::uint8_t*>(held_.data());
        frames = static_cast<std::uint32_t>(held_.size());
        flags = 0;
        return AudioResult::Ok;
    }
    AudioResult ReleaseBuffer(std::uint32_t) override { return AudioResult::Ok; }

private:
    std::shared_ptr<Feed> feed_;
    std::vector<std::int16_t> held_;
};

class FeedSession final : public AudioSessionControl {
public:
    explicit FeedSession(std::shared_ptr<Feed> feed) : feed_(std::move(feed)) {}
    AudioResult RegisterAudioSessionNotification(AudioSessionEvents* listener) override {
        std::lock_guard lock(feed_->mutex);
        feed_->listener = listener;
        return AudioResult::Ok;
    }
    AudioResult UnregisterAudioSessionNotification(AudioSessionEvents*) override {
        std::lock_guard lock(feed_->mutex);
        feed_->listener = nullptr;
        return AudioResult::Ok;
    }

private:
    std::shared_ptr<Feed> feed_;
};

// The recording of one stream: 16-bit mono packets of 10 ms.
class FeedClient final : public AudioClient {
public:
    explicit FeedClient(std::shared_ptr<Feed> feed) : feed_(std::move(feed)) {}
    AudioResult GetMixFormat(WaveFormat& format) override {
        format = MakeMixFormat(MixSampleType::Pcm16, kRate, 1);
        return AudioResult::Ok;
    }
    AudioResult Initialize(std::uint32_t, std::int64_t, const WaveFormat&) override {
        return AudioResult::Ok;
    }
    AudioResult GetBufferSize(std::uint32_t& frames) override {
        frames = kRate;
        return AudioResult::Ok;
    }
    AudioResult SetEventHandle(std::shared_ptr<Event> event) override {
        std::lock_guard lock(feed_->mutex);
        feed_->event = std::move(event);
        return AudioResult::Ok;
    }
    AudioResult GetDevicePeriod(std::int64_t& period) override {
        period = 10 * kHundredNsPerMs;
        return AudioResult::Ok;
    }
    AudioResult GetCurrentPadding(std::uint32_t& frames) override {
        frames = 0;
        return AudioResult::Ok;
    }
    AudioResult GetCaptureClient(std::unique_ptr<CaptureClient>& capture) override {
        capture = std::make_unique<FeedCapture>(feed_);
        return AudioResult::Ok;
    }
    AudioResult GetRenderClient(std::unique_ptr<RenderClient>&) override {
        return AudioResult::Unsupported;
    }
    AudioResult GetSessionControl(std::unique_ptr<AudioSessionControl>& session) override {
        session = std::make_unique<FeedSession>(feed_);
        return AudioResult::Ok;
    }
    AudioResult Start() override { return AudioResult::Ok; }
    AudioResult Stop() override { return AudioResult::Ok; }

private:
    std::shared_ptr<Feed> feed_;
};

// The simulated backend's outputs and playback streams, with recordings of single streams
// that the test feeds.
class StreamsBackend final : public AudioBackend {
public:
    explicit StreamsBackend(const Clock& clock) : simulated_(clock) {
        simulated_.AddDevice(kSpeakers, MakeMixFormat(MixSampleType::Float32, kRate, 2));
        simulated_.AddDevice("headphones", MakeMixFormat(MixSampleType::Float32, kRate, 2));
    }
    AudioResult GetDefaultAudioEndpoint(std::shared_ptr<AudioEndpoint>& endpoint) override {
        return simulated_.GetDefaultAudioEndpoint(endpoint);
    }
    AudioResult EnumAudioEndpoints(std::vector<std::string>& ids) override {
        return simulated_.EnumAudioEndpoints(ids);
    }
    AudioResult RegisterEndpointNotificationCallback(EndpointNotificationClient* c) override {
        return simulated_.RegisterEndpointNotificationCallback(c);
    }
    AudioResult UnregisterEndpointNotificationCallback(EndpointNotificationClient* c) override {
        return simulated_.UnregisterEndpointNotificationCallback(c);
    }
    AudioResult QueryServerName(std::string& name) override {
        return simulated_.QueryServerName(name);
    }
    AudioResult ListPlaybackStreams(std::vector<PlaybackStream>& streams) override {
        std::lock_guard lock(mutex_);
        ++listings_;
        return simulated_.ListPlaybackStreams(streams);
    }
    AudioResult ActivateStreamCapture(const PlaybackStream& stream,
                                      std::unique_ptr<AudioClient>& client) override {
        std::lock_guard lock(mutex_);
        ++attempts_[stream.index];
        if (refusals_[stream.index] > 0) {
            --refusals_[stream.index];
            return AudioResult::Failed;
        }
        auto feed = std::make_shared<Feed>();
        feeds_[stream.index] = feed;
        client = std::make_unique<FeedClient>(feed);
        return AudioResult::Ok;
    }

    SimulatedPlaybackStreams& Streams() { return simulated_.PlaybackStreams(); }
    // The next `count` recordings of the stream fail to open.
    void RefuseCaptures(std::uint32_t index, int count) {
        std::lock_guard lock(mutex_);
        refusals_[index] = count;
    }
    int Attempts(std::uint32_t index) {
        std::lock_guard lock(mutex_);
        return attempts_[index];
    }
    int Listings() {
        std::lock_guard lock(mutex_);
        return listings_;
    }
    // Plays the samples into the stream's recording, if it has one; false when not.
    bool Play(std::uint32_t index, const std::vector<std::int16_t>& samples) {
        std::shared_ptr<Feed> feed = FeedOf(index);
        if (!feed) {
            return false;
        }
        std::lock_guard lock(feed->mutex);
        for (std::size_t at = 0; at < samples.size(); at += kPacketFrames) {
            const auto end = samples.begin() + static_cast<std::ptrdiff_t>(
                                                   std::min(samples.size(), at + kPacketFrames));
            feed->packets.emplace_back(samples.begin() + static_cast<std::ptrdiff_t>(at), end);
        }
        if (feed->event) {
            feed->event->Set();
        }
        return true;
    }
    bool Recorded(std::uint32_t index) {
        std::lock_guard lock(mutex_);
        return feeds_.contains(index);
    }

private:
    std::shared_ptr<Feed> FeedOf(std::uint32_t index) {
        std::lock_guard lock(mutex_);
        const auto found = feeds_.find(index);
        return found == feeds_.end() ? nullptr : found->second;
    }

    SimulatedBackend simulated_;
    std::mutex mutex_;
    int listings_ = 0;
    std::map<std::uint32_t, std::shared_ptr<Feed>> feeds_;
    std::map<std::uint32_t, int> refusals_;
    std::map<std::uint32_t, int> attempts_;
};

// Notes the controls asked for, by trigger and program.
class LauncherSpy final : public ControlLauncher {
public:
    bool StartSoundControl(const Trigger& trigger, bool) override {
        return Note("whole " + trigger.name);
    }
    bool StartProgramControl(const Trigger& trigger, const ProgramIdentity& program) override {
        return Note(trigger.name + " on " + program.binary);
    }
    bool StartTimeControl(const Trigger&, bool) override { return false; }
    LevelOutcome ExtendOrStartLevelControl(const Trigger& trigger) override {
        Note("level " + trigger.name);
        return LevelOutcome::Started;
    }
    void PostTelephoneVerdict(int) override { Note("verdict"); }
    std::vector<std::string> Calls() {
        std::lock_guard lock(mutex_);
        return calls_;
    }

private:
    bool Note(const std::string& call) {
        std::lock_guard lock(mutex_);
        calls_.push_back(call);
        return true;
    }
    std::mutex mutex_;
    std::vector<std::string> calls_;
};

class ProgramStreamWatcherTest : public ::testing::Test {
protected:
    ProgramStreamWatcherTest() : backend_(SystemClock::Instance()) {
        const auto chirp = Chirp();
        EXPECT_TRUE(WriteWaveFile(folder_.File("ad.wav"), std::as_bytes(std::span(chirp)),
                                  MakeMixFormat(MixSampleType::Pcm16, kRate, 1)));
        track_ = Noise(8.0, 800, 1);
        MixInto(track_, chirp, 5.0);
        triggers_.SetBaseDir(folder_.Path());
    }
    ~ProgramStreamWatcherTest() override { watcher_.Stop(); }

    void AddTrigger(const std::string& name, const std::string& target) {
        Trigger trigger = MakeTrigger("sound", name, "mute", 1, target);
        trigger.triggerFile = "ad.wav";
        triggers_.Add(trigger);
    }
    std::vector<std::uint32_t> Watched() {
        auto watched = watcher_.WatchedStreams();
        std::sort(watched.begin(), watched.end());
        return watched;
    }
    bool WatchesExactly(std::vector<std::uint32_t> streams) {
        std::sort(streams.begin(), streams.end());
        return Eventually([&] { return Watched() == streams; });
    }

    TempFolder folder_;
    StreamsBackend backend_;
    LauncherSpy launcher_;
    FiringRecorder firings_;
    TriggerList triggers_;
    std::vector<std::int16_t> track_;
    ProgramStreamWatcher watcher_{backend_, launcher_, SystemClock::Instance(), &firings_,
                                  std::chrono::milliseconds(2)};
};

TEST_F(ProgramStreamWatcherTest, EachProgramsStreamIsHeardAloneAndFiresOnlyForItsProgram) {
    AddTrigger("everywhere", "whole");
    AddTrigger("ad", "program");
    triggers_.Add(MakeTrigger("level", "loud", "mute", 1));
    ASSERT_EQ(watcher_.SetTriggers(triggers_, folder_.Path(), true), 1);
    const std::uint32_t browser = backend_.Streams().Add(kSpeakers, kBrowser);
    const std::uint32_t player = backend_.Streams().Add(kSpeakers, kPlayer);
    watcher_.Start();
    ASSERT_TRUE(WatchesExactly({browser, player}));

    ASSERT_TRUE(Eventually([&] { return backend_.Play(browser, track_); }));
    ASSERT_TRUE(Eventually([&] { return backend_.Play(player, Noise(8.0, 800, 2)); }));
    ASSERT_TRUE(Eventually([&] { return firings_.Firings().size() == 1; }));
    EXPECT_EQ(firings_.Firings()[0].triggerName, "ad (firefox)");
    // The whole output's triggers, levels and the telephone verdict are not the stream's.
    EXPECT_TRUE(
        HoldsFor([&] { return launcher_.Calls() == std::vector<std::string>{"ad on firefox"}; }));
}

TEST_F(ProgramStreamWatcherTest, StreamsAreFollowedAsTheyComePauseMoveAndEnd) {
    AddTrigger("ad", "program");
    ASSERT_EQ(watcher_.SetTriggers(triggers_, folder_.Path(), true), 1);
    SimulatedPlaybackStreams& streams = backend_.Streams();
    const std::uint32_t browser = streams.Add(kSpeakers, kBrowser);
    const std::uint32_t elsewhere = streams.Add("headphones", kPlayer);
    const std::uint32_t nameless = streams.Add(kSpeakers, {});
    watcher_.Start();
    ASSERT_TRUE(WatchesExactly({browser}));
    EXPECT_FALSE(backend_.Recorded(elsewhere));
    EXPECT_FALSE(backend_.Recorded(nameless));

    const std::uint32_t player = streams.Add(kSpeakers, kPlayer);
    EXPECT_TRUE(WatchesExactly({browser, player}));
    ASSERT_TRUE(streams.SetCorked(browser, true));
    EXPECT_TRUE(WatchesExactly({player}));
    ASSERT_TRUE(streams.SetCorked(browser, false));
    EXPECT_TRUE(WatchesExactly({browser, player}));
    ASSERT_TRUE(streams.Remove(player));
    EXPECT_TRUE(WatchesExactly({browser}));

    watcher_.Stop();
    EXPECT_TRUE(watcher_.WatchedStreams().empty());
    EXPECT_FALSE(watcher_.IsFollowing());
}

// A server may refuse to record a stream it has only just set up: it is tried again at the
// next looks, a few times, then left alone.
TEST_F(ProgramStreamWatcherTest, ARefusedRecordingIsTriedAgainAFewTimes) {
    AddTrigger("ad", "program");
    ASSERT_EQ(watcher_.SetTriggers(triggers_, folder_.Path(), true), 1);
    SimulatedPlaybackStreams& streams = backend_.Streams();
    const std::uint32_t browser = streams.Add(kSpeakers, kBrowser);
    const std::uint32_t player = streams.Add(kSpeakers, kPlayer);
    backend_.RefuseCaptures(browser, 2);
    backend_.RefuseCaptures(player, 1000);
    watcher_.Start();
    // A stream counts as watched while its recording is still being opened, so the attempts
    // are waited for first.
    EXPECT_TRUE(Eventually([&] { return backend_.Attempts(browser) == 3; }));
    EXPECT_TRUE(WatchesExactly({browser}));
    EXPECT_TRUE(HoldsFor([&] { return backend_.Attempts(browser) == 3; }));
    const int most = ProgramStreamWatcher::kMaxCaptureAttempts;
    EXPECT_TRUE(Eventually([&] { return backend_.Attempts(player) == most; }));
    EXPECT_TRUE(HoldsFor([&] { return backend_.Attempts(player) == most; }));
}

TEST_F(ProgramStreamWatcherTest, WithoutProgramTriggersNothingRunsAndTheServerIsNotAsked) {
    AddTrigger("everywhere", "whole");
    Trigger inactive = MakeTrigger("sound", "off", "mute", 1, "program");
    inactive.SetActive(false);
    triggers_.Add(inactive);
    backend_.Streams().Add(kSpeakers, kBrowser);
    EXPECT_EQ(watcher_.SetTriggers(triggers_, folder_.Path(), true), 0);
    watcher_.Start();
    EXPECT_FALSE(watcher_.IsFollowing());
    EXPECT_TRUE(HoldsFor([&] { return backend_.Listings() == 0; }));
}

}  // namespace
}  // namespace hushwell
