// End-to-end tests of hushwell-scan: generated recordings, the real program, its output.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <numbers>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

#include "audio/MixFormat.h"
#include "persistence/TriggerListFile.h"
#include "tests/support/TempFolder.h"
#include "triggers/TriggerList.h"
#include "wav/WaveFile.h"

namespace hushwell {
namespace {

using testing::TempFolder;

// --- Generated audio ---------------------------------------------------------------------

using Track = std::vector<double>;  // mono, full scale = 1

Track Silence(int rate, double seconds) {
    return Track(static_cast<std::size_t>(rate * seconds), 0.0);
}

// The sound to look for: a rising chirp with its octave, a second long.
Track Chirp(int rate) {
    Track out = Silence(rate, 1.0);
    for (std::size_t i = 0; i < out.size(); ++i) {
        const double t = static_cast<double>(i) / rate;
        const double phase = 2 * std::numbers::pi * (500 * t + 1800 * t * t / 2);
        out[i] = 0.7 * std::sin(phase) + 0.3 * std::sin(2 * phase);
    }
    return out;
}

// A steady tone.
Track Tone(int rate, double hz, double seconds) {
    Track out = Silence(rate, seconds);
    for (std::size_t i = 0; i < out.size(); ++i) {
        out[i] = 0.3 * std::sin(2 * std::numbers::pi * hz * static_cast<double>(i) / rate);
    }
    return out;
}

// Something like music over a noisy room: a new three-note chord every quarter second, with
// a soft attack, over white noise.
Track Background(int rate, double seconds, unsigned seed) {
    std::mt19937 random(seed);
    std::uniform_real_distribution<double> pitch(150.0, 2500.0);
    std::normal_distribution<double> noise(0.0, 0.03);
    Track out = Silence(rate, seconds);
    const auto noteLength = static_cast<std::size_t>(rate / 4);
    double notes[3] = {};
    for (std::size_t i = 0; i < out.size(); ++i) {
        const std::size_t inNote = i % noteLength;
        if (inNote == 0) {
            for (double& note : notes) {
                note = pitch(random);
            }
        }
        const double envelope = std::min(1.0, inNote / (0.02 * rate));
        double sum = 0.0;
        for (const double note : notes) {
            sum += std::sin(2 * std::numbers::pi * note * i / rate);
        }
        out[i] = 0.05 * envelope * sum + noise(random);
    }
    return out;
}

void MixInto(Track& track, const Track& sound, int rate, double at, double gain) {
    const auto first = static_cast<std::size_t>(at * rate);
    for (std::size_t i = 0; i < sound.size() && first + i < track.size(); ++i) {
        track[first + i] += gain * sound[i];
    }
}

// Writes the track to every channel (the second a little quieter), 16-bit or float.
void WriteTrack(const std::string& path, const Track& track, int rate, int channels,
                MixSampleType type = MixSampleType::Pcm16) {
    std::vector<std::byte> bytes;
    const auto put = [&](auto value) {
        const auto raw = std::bit_cast<std::array<std::byte, sizeof value>>(value);
        bytes.insert(bytes.end(), raw.begin(), raw.end());
    };
    for (const double value : track) {
        for (int c = 0; c < channels; ++c) {
            const double v = std::clamp(value * (c == 0 ? 1.0 : 0.9), -1.0, 1.0);
            if (type == MixSampleType::Pcm16) {
                put(static_cast<std::int16_t>(std::lround(v * 32767)));
            } else {
                put(static_cast<float>(v));
            }
        }
    }
    ASSERT_TRUE(WriteWaveFile(path, bytes,
                              MakeMixFormat(type, static_cast<std::uint32_t>(rate),
                                            static_cast<std::uint16_t>(channels))));
}

// --- Running the tool --------------------------------------------------------------------

struct ToolRun {
    int exitCode = -1;
    std::string out;
    std::string err;
};

std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

ToolRun Scan(const TempFolder& folder, const std::vector<std::string>& args) {
    std::string command = Quoted(HUSHWELL_SCAN_PATH);
    for (const std::string& arg : args) {
        command += " " + Quoted(arg);
    }
    command += " >" + Quoted(folder.File("out.txt")) + " 2>" + Quoted(folder.File("err.txt"));
    const int status = std::system(command.c_str());
    ToolRun run;
    run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    run.out = ReadAll(folder.File("out.txt"));
    run.err = ReadAll(folder.File("err.txt"));
    return run;
}

struct FiringLine {
    std::string recording;
    double time = 0.0;
    std::string trigger;
    std::string reference;
    double score = 0.0;
    double threshold = 0.0;
    std::string verdict;  // empty with --classic
};

struct ScoreLine {
    std::string recording;
    int second = 0;
    double best = 0.0;
};

std::vector<std::string> Fields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) {
        fields.push_back(field);
    }
    return fields;
}

// Splits the output into firing lines and "# scores" lines, each with its recording.
void Parse(const std::string& out, std::vector<FiringLine>& firings,
           std::vector<ScoreLine>* scores = nullptr) {
    std::stringstream in(out);
    std::string line;
    std::string recording;
    const std::string recordingMark = "# recording ";
    const std::string scoresMark = "# scores ";
    while (std::getline(in, line)) {
        if (line.starts_with(recordingMark)) {
            recording = line.substr(recordingMark.size());
            recording = recording.substr(0, recording.find(" ("));
        } else if (line.starts_with(scoresMark)) {
            const auto fields = Fields(line.substr(scoresMark.size()));
            if (scores != nullptr && fields.size() == 4) {
                scores->push_back({recording, std::stoi(fields[0]), std::stod(fields[2])});
            }
        } else if (!line.starts_with("#")) {
            const auto fields = Fields(line);
            ASSERT_TRUE(fields.size() == 5u || fields.size() == 6u) << line;
            firings.push_back({recording, std::stod(fields[0]), fields[1], fields[2],
                               std::stod(fields[3]), std::stod(fields[4]),
                               fields.size() == 6u ? fields[5] : std::string()});
        }
    }
}

class ScanToolTest : public ::testing::Test {
protected:
    TempFolder folder_;
};

TEST_F(ScanToolTest, FindsAReferenceMixedIntoMusicAtTheRightTimeAndNowhereElse) {
    constexpr int kRate = 48000;
    constexpr double kAt = 8.0;  // the reference plays from 8.0 to 9.0 s
    WriteTrack(folder_.File("ref.wav"), Chirp(kRate), kRate, 1);
    Track without = Background(kRate, 20.0, 1);
    WriteTrack(folder_.File("without.wav"), without, kRate, 2);
    Track with = without;
    MixInto(with, Chirp(kRate), kRate, kAt, 0.5);
    WriteTrack(folder_.File("with.wav"), with, kRate, 2);
    // The same at 44.1 kHz in float samples: the internal rate is 16036 Hz there.
    Track with44 = Background(44100, 20.0, 2);
    MixInto(with44, Chirp(44100), 44100, kAt, 0.5);
    WriteTrack(folder_.File("with44.wav"), with44, 44100, 2, MixSampleType::Float32);

    const ToolRun run =
        Scan(folder_, {"--scores", folder_.File("ref.wav"), "--", folder_.File("with.wav"),
                       folder_.File("without.wav"), folder_.File("with44.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<FiringLine> firings;
    std::vector<ScoreLine> scores;
    Parse(run.out, firings, &scores);

    ASSERT_EQ(firings.size(), 2u) << run.out;
    double bestMiss = 0.0;
    for (const ScoreLine& line : scores) {
        if (line.recording == folder_.File("without.wav") || line.second < 8 || line.second > 9) {
            bestMiss = std::max(bestMiss, line.best);
        }
    }
    for (const FiringLine& firing : firings) {
        EXPECT_NE(firing.recording, folder_.File("without.wav"));
        EXPECT_EQ(firing.trigger, "ref.wav");
        EXPECT_EQ(firing.reference, folder_.File("ref.wav"));
        EXPECT_GT(firing.score, firing.threshold);
        // Found as the reference ends: its last frame, plus a frame's length of live audio.
        EXPECT_NEAR(firing.time, kAt + 1.0, 0.1) << firing.recording;
        std::cout << "[ figures  ] " << firing.recording << ": found at " << firing.time
                  << " s (reference ends at " << kAt + 1.0 << " s), score " << firing.score
                  << " over threshold " << firing.threshold << "\n";
    }
    std::cout << "[ figures  ] best score elsewhere: " << bestMiss << "\n";
    EXPECT_LT(bestMiss, firings[0].threshold - 0.1);
}

TEST_F(ScanToolTest, ASoundAtTheVeryStartIsHeardExceptWithClassic) {
    constexpr int kRate = 48000;
    WriteTrack(folder_.File("ref.wav"), Chirp(kRate), kRate, 1);
    for (const int rate : {kRate, 44100}) {
        SCOPED_TRACE(rate);
        // The chirp from the first sample on, then quiet music.
        Track recording = Background(rate, 6.0, 3);
        for (double& value : recording) {
            value *= 0.1;
        }
        MixInto(recording, Chirp(rate), rate, 0.0, 0.6);
        WriteTrack(folder_.File("start.wav"), recording, rate, 1);

        ToolRun run = Scan(folder_, {folder_.File("ref.wav"), "--", folder_.File("start.wav")});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        std::vector<FiringLine> firings;
        Parse(run.out, firings);
        ASSERT_EQ(firings.size(), 1u) << run.out;
        EXPECT_NEAR(firings[0].time, 1.0, 0.1);
        EXPECT_FALSE(firings[0].verdict.empty());

        // Without the lead-in, matching starts after 4.1 s: the chirp is over by then.
        run =
            Scan(folder_, {"--classic", folder_.File("ref.wav"), "--", folder_.File("start.wav")});
        ASSERT_EQ(run.exitCode, 0) << run.err;
        firings.clear();
        Parse(run.out, firings);
        EXPECT_TRUE(firings.empty()) << run.out;
    }
    const ToolRun help = Scan(folder_, {"--help"});
    EXPECT_NE(help.out.find("--classic"), std::string::npos);
    EXPECT_NE(help.out.find("very first sample"), std::string::npos);
}

TEST_F(ScanToolTest, ANearMissFiresOnlyWithClassicAndScoresShowWhyItWasRejected) {
    // A beep on band 3's bin (906.25 Hz), and a tone 3.7 % higher with almost its band
    // pattern: the correlation takes one for the other, the peaks do not.
    constexpr int kRate = 48000;
    WriteTrack(folder_.File("beep.wav"), Tone(kRate, 906.25, 0.5), kRate, 1);
    Track recording = Silence(kRate, 7.0);
    MixInto(recording, Tone(kRate, 940.0, 0.5), kRate, 4.5, 1.0);
    WriteTrack(folder_.File("near.wav"), recording, kRate, 1);
    const std::vector<std::string> files = {folder_.File("beep.wav"), "--",
                                            folder_.File("near.wav")};

    std::vector<std::string> args = {"--classic"};
    args.insert(args.end(), files.begin(), files.end());
    ToolRun run = Scan(folder_, args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<FiringLine> firings;
    Parse(run.out, firings);
    ASSERT_EQ(firings.size(), 1u) << run.out;
    EXPECT_TRUE(firings[0].verdict.empty());

    args = {"--scores"};
    args.insert(args.end(), files.begin(), files.end());
    run = Scan(folder_, args);
    ASSERT_EQ(run.exitCode, 0) << run.err;
    firings.clear();
    Parse(run.out, firings);
    EXPECT_TRUE(firings.empty()) << run.out;
    const std::string rejected = "# rejected ";
    const auto at = run.out.find(rejected);
    ASSERT_NE(at, std::string::npos) << run.out;
    const auto fields =
        Fields(run.out.substr(at + rejected.size(), run.out.find('\n', at) - at - rejected.size()));
    ASSERT_EQ(fields.size(), 5u);
    EXPECT_NEAR(std::stod(fields[0]), 5.0, 0.1);
    EXPECT_GT(std::stod(fields[2]), std::stod(fields[3]));  // the correlation alone would fire
    EXPECT_EQ(fields[4], "peaks 0.00 < 0.50");
}

TEST_F(ScanToolTest, TriggerListFindsSoundsByPatternAndEvaluatesLevelTriggers) {
    constexpr int kRate = 48000;
    WriteTrack(folder_.File("door1.wav"), Chirp(kRate), kRate, 1);
    Track recording = Background(kRate, 15.0, 3);
    for (double& sample : recording) {
        sample *= 0.5;  // the smoothed level stays well under 50 %
    }
    MixInto(recording, Chirp(kRate), kRate, 5.0, 0.2);
    MixInto(recording, Silence(kRate, 0.5), kRate, 0.0, 0.0);
    Track burst(kRate / 2, 0.95);  // a loud stretch at 12 s
    MixInto(recording, burst, kRate, 12.0, 1.0);
    WriteTrack(folder_.File("recording.wav"), recording, kRate, 2);

    TriggerList list;
    list.SetBaseDir(folder_.Path());
    Trigger door;
    door.SetActive(true);
    door.name = "door";
    door.triggerKind = "sound";
    door.triggerFile = "door*.wav";
    door.duration = TriggerTime(0, 0, 2);
    list.Add(door);
    Trigger loud;
    loud.SetActive(true);
    loud.name = "loud";
    loud.triggerKind = "level";
    loud.level = 50;
    loud.duration = TriggerTime(0, 0, 2);
    list.Add(loud);
    ASSERT_EQ(TriggerListFile::Save(list, folder_.File("triggers.xml")), TriggerListFile::kOk);

    const ToolRun run =
        Scan(folder_, {"--triggers", folder_.File("triggers.xml"), folder_.File("recording.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    std::vector<FiringLine> firings;
    Parse(run.out, firings);
    ASSERT_EQ(firings.size(), 2u) << run.out;
    EXPECT_EQ(firings[0].trigger, "door");
    EXPECT_EQ(firings[0].reference, folder_.File("door1.wav"));
    EXPECT_NEAR(firings[0].time, 6.0, 0.1);
    EXPECT_EQ(firings[1].trigger, "loud");
    EXPECT_EQ(firings[1].reference, "level");
    EXPECT_NEAR(firings[1].time, 12.0, 0.02);
    EXPECT_GT(firings[1].score, 50.0);
    EXPECT_EQ(firings[1].threshold, 50.0);
}

// A trigger's own threshold (the list's attribute) decides in place of its sound's, and
// --threshold overrides both for a quick try.
TEST_F(ScanToolTest, OwnThresholdsAndTheThresholdOptionDecide) {
    constexpr int kRate = 48000;
    WriteTrack(folder_.File("door1.wav"), Chirp(kRate), kRate, 1);
    Track recording = Background(kRate, 10.0, 3);
    MixInto(recording, Chirp(kRate), kRate, 5.0, 0.5);
    WriteTrack(folder_.File("recording.wav"), recording, kRate, 2);
    const auto scanList = [&](float own, std::vector<std::string> extra) {
        TriggerList list;
        list.SetBaseDir(folder_.Path());
        Trigger door;
        door.SetActive(true);
        door.name = "door";
        door.triggerKind = "sound";
        door.triggerFile = "door1.wav";
        door.duration = TriggerTime(0, 0, 2);
        if (own > 0.0f) {
            door.SetMatchThreshold(own);
        }
        list.Add(door);
        EXPECT_EQ(TriggerListFile::Save(list, folder_.File("triggers.xml")), TriggerListFile::kOk);
        extra.insert(extra.end(),
                     {"--triggers", folder_.File("triggers.xml"), folder_.File("recording.wav")});
        const ToolRun run = Scan(folder_, extra);
        EXPECT_EQ(run.exitCode, 0) << run.err;
        std::vector<FiringLine> firings;
        Parse(run.out, firings);
        return firings;
    };

    const std::vector<FiringLine> plain = scanList(0.0f, {});
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_LT(plain[0].threshold, plain[0].score);
    // Beyond the score it reached, the tuned trigger stays quiet.
    EXPECT_TRUE(scanList(Trigger::kMaxMatchThreshold, {}).empty());
    // The option overrides the list's own threshold, and the firing names the one applied.
    const std::vector<FiringLine> tried =
        scanList(Trigger::kMaxMatchThreshold, {"--threshold", "0.85"});
    ASSERT_FALSE(tried.empty());
    EXPECT_DOUBLE_EQ(tried[0].threshold, 0.85);
    EXPECT_TRUE(scanList(0.0f, {"--threshold", "0.999"}).empty());
}

TEST_F(ScanToolTest, DescribeShowsWhatTheProgramMakesOfASound) {
    Track ten = Background(44100, 10.0, 4);
    WriteTrack(folder_.File("long.wav"), ten, 44100, 2);
    const ToolRun run = Scan(folder_, {"--describe", folder_.File("long.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("rate: 44100 Hz"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("channels: 2"), std::string::npos);
    EXPECT_NE(run.out.find("duration: 10.000 s"), std::string::npos);
    EXPECT_NE(run.out.find("analysed: 7.000 s"), std::string::npos);
    // 7 s at 44.1 kHz are 112254 internal samples (16036 Hz), one frame per 512 of them.
    EXPECT_NE(run.out.find("feature frames: 219"), std::string::npos);
    EXPECT_NE(run.out.find("match threshold: 0.8543"), std::string::npos);
    EXPECT_EQ(run.out.find("warning"), std::string::npos);
}

TEST_F(ScanToolTest, AtTakesATimeOfDay) {
    WriteTrack(folder_.File("ref.wav"), Chirp(48000), 48000, 1);
    const std::string ref = folder_.File("ref.wav");
    for (const char* at : {"09:30:00", "9:5:0", "23:59:59", "00:00:00"}) {
        const ToolRun run = Scan(folder_, {"--at", at, ref, "--", ref});
        EXPECT_EQ(run.exitCode, 0) << at << ": " << run.err;
    }
}

// A header that claims far more audio than the file holds: the duration is what is there.
TEST_F(ScanToolTest, DescribeGivesTheDurationTheFileHoldsAndWarnsAboutTheClaim) {
    WriteTrack(folder_.File("eight.wav"), Background(48000, 8.0, 4), 48000, 1);
    std::string bytes = ReadAll(folder_.File("eight.wav"));
    const std::size_t data = bytes.find("data");
    ASSERT_NE(data, std::string::npos);
    for (std::size_t i = 0; i < 4; ++i) {
        bytes[data + 4 + i] = '\x7f';  // about 2.1 GB of claimed samples
    }
    testing::WriteFile(folder_.File("claims.wav"), bytes);
    const ToolRun run = Scan(folder_, {"--describe", folder_.File("claims.wav")});
    ASSERT_EQ(run.exitCode, 0) << run.err;
    EXPECT_NE(run.out.find("duration: 8.000 s"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("warning: the header claims 22281.897 s"), std::string::npos) << run.out;
}

TEST_F(ScanToolTest, BadInputIsReportedWithExitCodeTwo) {
    WriteTrack(folder_.File("ref.wav"), Chirp(48000), 48000, 1);
    WriteTrack(folder_.File("six.wav"), Silence(48000, 1.0), 48000, 6);
    WriteTrack(folder_.File("slow.wav"), Silence(8000, 1.0), 8000, 1);
    testing::WriteFile(folder_.File("text.wav"), "not a sound at all");
    const std::string ref = folder_.File("ref.wav");

    const struct {
        std::vector<std::string> args;
        std::string message;
    } cases[] = {
        {{ref, "--", folder_.File("missing.wav")}, "no such file"},
        {{ref, "--", folder_.File("six.wav")}, "6 channels, where recordings have 1 or 2"},
        {{ref, "--", folder_.File("slow.wav")},
         "not acceptable: 8000 Hz, where recordings have 16000, 22050"},
        {{ref, "--", folder_.File("text.wav")}, "not a WAV file"},
        {{folder_.File("text.wav"), "--", ref}, "not a WAV file"},
        {{"--triggers", folder_.File("text.wav"), ref}, "trigger list"},
        // The reason, as the program's log gives it, not a bare code.
        {{"--triggers", folder_.File("text.wav"), ref},
         "text.wav: not a trigger list this program can read: "},
        {{ref, folder_.File("ref.wav")}, "--help"},
        {{"--at", "25:00:00", ref, "--", ref}, "--at"},
        // Only what the help describes: no leading number of something else.
        {{"--at", "1e9", ref, "--", ref}, "--at needs a time of day"},
        {{"--at", "12abc", ref, "--", ref}, "--at needs a time of day"},
        {{"--at", "0x10", ref, "--", ref}, "--at needs a time of day"},
        {{"--at", "123:00", ref, "--", ref}, "--at needs a time of day"},
        {{"--at", "1:2:3:4", ref, "--", ref}, "--at needs a time of day"},
        {{"--at", "12:", ref, "--", ref}, "--at needs a time of day"},
        {{"--at", "12:30", ref, "--", ref}, "--at needs a time of day"},
        {{"--frobnicate"}, "unknown option"},
        {{"--threshold", "2", ref, "--", ref}, "--threshold needs a number from 0.500 to 0.999"},
        {{"--threshold", "0.9x", ref, "--", ref}, "--threshold needs a number"},
        {{"--threshold", "nan", ref, "--", ref}, "--threshold needs a number"},
        {{"--threshold"}, "--threshold needs a value"},
    };
    for (const auto& c : cases) {
        const ToolRun run = Scan(folder_, c.args);
        EXPECT_EQ(run.exitCode, 2) << c.message;
        EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
        EXPECT_TRUE(run.out.empty()) << run.out;
    }

    const ToolRun help = Scan(folder_, {"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("--describe"), std::string::npos);
}

// Writes bytes as they are: files no WAV writer of this program would make.
void WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    testing::WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    const std::string text = ReadAll(path);
    return {text.begin(), text.end()};
}

// Every refusal says what is really wrong with the file, as a recording, as a reference and
// for --describe alike, and never hangs on a file that is not a regular one.
TEST_F(ScanToolTest, RefusedFilesSayWhatIsWrong) {
    WriteTrack(folder_.File("ref.wav"), Chirp(48000), 48000, 1);
    const std::string ref = folder_.File("ref.wav");
    std::filesystem::create_directory(folder_.File("folder.wav"));
    ASSERT_EQ(::mkfifo(folder_.File("fifo.wav").c_str(), 0600), 0);

    // A float file as common tools write it: a "fact" chunk between format and data.
    WriteTrack(folder_.File("float.wav"), Chirp(48000), 48000, 1, MixSampleType::Float32);
    std::vector<std::uint8_t> fact = ReadBytes(folder_.File("float.wav"));
    constexpr std::size_t kDataChunkAt = 38;  // after a fmt chunk of 18 bytes
    const std::uint8_t factChunk[] = {'f', 'a', 'c', 't', 4, 0, 0, 0, 0x80, 0xBB, 0, 0};
    fact.insert(fact.begin() + kDataChunkAt, std::begin(factChunk), std::end(factChunk));
    WriteBytes(folder_.File("fact.wav"), fact);

    // The same sound under the MP3 tag, and 16-bit samples labelled float.
    WaveFormat mp3 = MakeMixFormat(MixSampleType::Pcm16, 48000, 1);
    mp3.formatTag = 0x55;
    const std::vector<std::int16_t> samples(4800, 100);
    ASSERT_TRUE(WriteWaveFile(folder_.File("mp3.wav"), std::as_bytes(std::span(samples)), mp3));
    WaveFormat float16 = MakeMixFormat(MixSampleType::Pcm16, 48000, 1);
    float16.formatTag = kWaveTagIeeeFloat;
    ASSERT_TRUE(
        WriteWaveFile(folder_.File("float16.wav"), std::as_bytes(std::span(samples)), float16));

    // A fmt chunk of 14 bytes (no bits per sample) followed by the data.
    std::vector<std::uint8_t> shortFmt = ReadBytes(folder_.File("mp3.wav"));
    shortFmt[16] = 14;
    shortFmt.erase(shortFmt.begin() + 34, shortFmt.begin() + 38);
    WriteBytes(folder_.File("short-fmt.wav"), shortFmt);

    WriteTrack(folder_.File("three.wav"), Silence(48000, 1.0), 48000, 3);
    WriteTrack(folder_.File("seven.wav"), Silence(48000, 1.0), 48000, 7);
    const std::string kSave = "save it as a 16-bit PCM WAV file";

    const struct {
        std::string file;
        std::string message;
    } cases[] = {
        {"folder.wav", "is a folder"},
        {"fifo.wav", "is not a regular file"},
        {"fact.wav", "has a \"fact\" chunk before its audio data"},
        {"fact.wav", kSave},
        {"mp3.wav", "holds 16-bit format tag 0x0055 audio, which this program does not read"},
        {"mp3.wav", kSave},
        {"float16.wav", "holds 16-bit float audio"},
        {"short-fmt.wav", "damaged format chunk"},
    };
    for (const auto& c : cases) {
        const std::string path = folder_.File(c.file);
        for (const auto& args : std::vector<std::vector<std::string>>{
                 {ref, "--", path}, {path, "--", ref}, {"--describe", path}}) {
            const ToolRun run = Scan(folder_, args);
            EXPECT_EQ(run.exitCode, 2) << c.file;
            EXPECT_NE(run.err.find(path + ": "), std::string::npos) << run.err;
            EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
            EXPECT_TRUE(run.out.empty()) << run.out;
        }
    }
    // Channels: recordings take 1 or 2, reference sounds 1 to 6; each message names its own.
    const ToolRun three = Scan(folder_, {ref, "--", folder_.File("three.wav")});
    EXPECT_NE(three.err.find("3 channels, where recordings have 1 or 2"), std::string::npos)
        << three.err;
    EXPECT_EQ(three.err.find("1 to 6"), std::string::npos) << three.err;
    const ToolRun seven = Scan(folder_, {"--describe", folder_.File("seven.wav")});
    EXPECT_NE(seven.err.find("7 channels, where sounds have 1 to 6"), std::string::npos)
        << seven.err;
    EXPECT_EQ(Scan(folder_, {"--describe", folder_.File("three.wav")}).exitCode, 0);
}

}  // namespace
}  // namespace hushwell
