#include "wav/WaveFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <array>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace hushwell {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;

constexpr std::array<std::uint32_t, 7> kAcceptedRates{16000, 22050, 32000, 44100,
                                                      48000, 96000, 192000};

// ---- Building WAV files byte by byte, including broken ones. ----

void PutU16(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

void PutU32(Bytes& out, std::uint32_t value) {
    PutU16(out, value & 0xFFFF);
    PutU16(out, value >> 16);
}

void PutText(Bytes& out, const std::string& text) {
    out.insert(out.end(), text.begin(), text.end());
}

std::string ToString(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

void PutGuid(Bytes& out, const WaveGuid& guid) {
    PutU32(out, guid.data1);
    PutU16(out, guid.data2);
    PutU16(out, guid.data3);
    out.insert(out.end(), guid.data4.begin(), guid.data4.end());
}

struct Chunk {
    std::string id;
    Bytes body;
    std::optional<std::uint32_t> claimedSize;  // a size field that lies about the body
};

Bytes RiffFile(const std::vector<Chunk>& chunks, const std::string& riff = "RIFF",
               const std::string& wave = "WAVE") {
    Bytes out;
    PutText(out, riff);
    PutU32(out, 0);  // the reader does not check the RIFF size
    PutText(out, wave);
    for (const Chunk& chunk : chunks) {
        PutText(out, chunk.id);
        PutU32(out, chunk.claimedSize.value_or(static_cast<std::uint32_t>(chunk.body.size())));
        out.insert(out.end(), chunk.body.begin(), chunk.body.end());
    }
    return out;
}

struct FormatFields {
    std::uint16_t tag = kWaveTagPcm;
    std::uint16_t channels = 2;
    std::uint32_t rate = 48000;
    std::uint16_t bits = 16;
    std::uint16_t blockAlign = 4;
};

Bytes BasicFormat(const FormatFields& f) {
    Bytes out;
    PutU16(out, f.tag);
    PutU16(out, f.channels);
    PutU32(out, f.rate);
    PutU32(out, f.rate * f.blockAlign);
    PutU16(out, f.blockAlign);
    PutU16(out, f.bits);
    return out;
}

Bytes ExtensibleFormat(const FormatFields& f, const WaveGuid& subFormat) {
    Bytes out = BasicFormat(f);
    PutU16(out, 22);
    PutU16(out, f.bits);
    PutU32(out, 0x3);
    PutGuid(out, subFormat);
    return out;
}

Chunk Fmt(const Bytes& body) {
    return {"fmt ", body, std::nullopt};
}
Chunk Data(const Bytes& body) {
    return {"data", body, std::nullopt};
}
Chunk List(std::size_t size) {
    return {"LIST", Bytes(size, 'x'), std::nullopt};
}
Chunk Claimed(const std::string& id, const Bytes& body, std::uint32_t size) {
    return {id, body, size};
}

Bytes Pcm16Bytes(const std::vector<std::int16_t>& samples) {
    Bytes out;
    for (const std::int16_t s : samples) {
        PutU16(out, static_cast<std::uint16_t>(s));
    }
    return out;
}

WaveFormat MakeFormat(std::uint16_t tag, int channels, std::uint32_t rate, int bits) {
    WaveFormat f;
    f.formatTag = tag;
    f.channels = static_cast<std::uint16_t>(channels);
    f.sampleRate = rate;
    f.bitsPerSample = static_cast<std::uint16_t>(bits);
    f.blockAlign = static_cast<std::uint16_t>(channels * bits / 8);
    f.byteRate = rate * f.blockAlign;
    return f;
}

class WaveFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "hushwell-wave-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path Put(const std::string& name, const Bytes& bytes) const {
        const fs::path path = folder_ / name;
        std::ofstream(path, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    static Bytes Load(const fs::path& path) {
        std::ifstream in(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    int Read(const std::string& name, const Bytes& bytes, float seconds = kEditorOpenMaxSeconds) {
        return ReadWaveFile(wave_, Put(name, bytes), seconds);
    }

    fs::path folder_;
    WaveData wave_;
};

// ---- Writing. ----

TEST_F(WaveFileTest, EveryAcceptedFormatRoundTrips) {
    for (const bool isFloat : {false, true}) {
        for (const int bits : {16, 32}) {
            if (isFloat && bits == 16) {
                continue;
            }
            for (int channels = 1; channels <= 6; ++channels) {
                for (const std::uint32_t rate : kAcceptedRates) {
                    SCOPED_TRACE(testing::Message() << isFloat << " " << bits << " bits "
                                                    << channels << "ch " << rate);
                    // More than two channels need the extensible record, as the audio layer
                    // writes.
                    WaveFormat format =
                        MakeFormat(isFloat ? kWaveTagIeeeFloat : kWaveTagPcm, channels, rate, bits);
                    if (channels > 2) {
                        format.formatTag = kWaveTagExtensible;
                        format.cbSize = 22;
                        format.validBitsPerSample = static_cast<std::uint16_t>(bits);
                        format.channelMask = (1u << channels) - 1;
                        format.subFormat = isFloat ? kSubFormatIeeeFloat : kSubFormatPcm;
                    }
                    Bytes samples(static_cast<std::size_t>(37 * format.blockAlign));
                    for (std::size_t i = 0; i < samples.size(); ++i) {
                        samples[i] = static_cast<std::uint8_t>(i * 7 + rate + channels);
                    }
                    const fs::path path = folder_ / "round.wav";
                    ASSERT_TRUE(WriteWaveFile(path, std::as_bytes(std::span(samples)), format));
                    ASSERT_EQ(ReadWaveFile(wave_, path, kEditorOpenMaxSeconds), kWaveOk);
                    EXPECT_EQ(wave_.Format(), format);
                    const auto read = wave_.SampleBytes();
                    EXPECT_TRUE(std::equal(read.begin(), read.end(),
                                           std::as_bytes(std::span(samples)).begin(),
                                           std::as_bytes(std::span(samples)).end()));
                }
            }
        }
    }
    // No temporary file is left beside the target.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(WaveFileTest, WriterLaysOutTheSmallestFileExactly) {
    const std::array<std::uint8_t, 4> data{1, 2, 3, 4};
    const fs::path path = folder_ / "small.wav";
    ASSERT_TRUE(
        WriteWaveFile(path, std::as_bytes(std::span(data)), MakeFormat(kWaveTagPcm, 2, 44100, 16)));
    Bytes expected;
    PutText(expected, "RIFF");
    PutU32(expected, 42);
    PutText(expected, "WAVEfmt ");
    PutU32(expected, 18);
    expected.insert(expected.end(),
                    {1, 0, 2, 0, 0x44, 0xAC, 0, 0, 0x10, 0xB1, 2, 0, 4, 0, 16, 0, 0, 0});
    PutText(expected, "data");
    PutU32(expected, 4);
    expected.insert(expected.end(), data.begin(), data.end());
    EXPECT_EQ(Load(path), expected);
}

TEST_F(WaveFileTest, WriterReplacesWholeFilesOrNothing) {
    const fs::path path = Put("over.wav", Bytes(5000, 0xEE));
    const std::array<std::uint8_t, 4> data{7, 0, 0xF9, 0xFF};
    ASSERT_TRUE(
        WriteWaveFile(path, std::as_bytes(std::span(data)), MakeFormat(kWaveTagPcm, 1, 16000, 16)));
    EXPECT_EQ(fs::file_size(path), 50u);

    // An extension the record cannot hold, or a missing folder: nothing is written.
    WaveFormat oversized = MakeFormat(kWaveTagPcm, 2, 48000, 16);
    oversized.cbSize = 23;
    const Bytes before = Load(path);
    EXPECT_FALSE(WriteWaveFile(path, std::as_bytes(std::span(data)), oversized));
    EXPECT_EQ(Load(path), before);
    EXPECT_FALSE(WriteWaveFile(folder_ / "missing" / "x.wav", std::as_bytes(std::span(data)),
                               MakeFormat(kWaveTagPcm, 2, 48000, 16)));
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

// ---- Reading. ----

// Only integer PCM of 16 or 32 bits and 32-bit float, under their tags or the extensible tag,
// are read; anything else with 16 or 32 bits is refused rather than read as 16-bit PCM.
TEST_F(WaveFileTest, OnlyPcmAndFloatSampleFormatsAreRead) {
    constexpr int kRefused = kWaveUnsupportedSampleFormat;
    const FormatFields pcm32{.bits = 32, .blockAlign = 8};
    const FormatFields float32{.tag = kWaveTagIeeeFloat, .bits = 32, .blockAlign = 8};
    const FormatFields ext16{.tag = kWaveTagExtensible};
    const FormatFields ext32{.tag = kWaveTagExtensible, .bits = 32, .blockAlign = 8};
    const struct {
        Bytes fmt;
        int code;
        SampleKind kind;
    } cases[] = {
        {BasicFormat({}), kWaveOk, SampleKind::Pcm16},
        {BasicFormat(pcm32), kWaveOk, SampleKind::Pcm32},
        {BasicFormat(float32), kWaveOk, SampleKind::IeeeFloat},
        {ExtensibleFormat(ext16, kSubFormatPcm), kWaveOk, SampleKind::Pcm16},
        {ExtensibleFormat(ext32, kSubFormatPcm), kWaveOk, SampleKind::Pcm32},
        {ExtensibleFormat(ext32, kSubFormatIeeeFloat), kWaveOk, SampleKind::IeeeFloat},
        {BasicFormat({.tag = 0x55}), kRefused, SampleKind::Unsupported},  // MP3
        {BasicFormat({.tag = kWaveTagIeeeFloat}), kRefused, SampleKind::Unsupported},
        {BasicFormat({.tag = kWaveTagExtensible}), kRefused, SampleKind::Unsupported},
        {ExtensibleFormat(ext16, kSubFormatIeeeFloat), kRefused, SampleKind::Unsupported},
        {ExtensibleFormat(ext16, WaveGuid{9}), kRefused, SampleKind::Unsupported},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(&c - &cases[0]);
        EXPECT_EQ(Read("kind.wav", RiffFile({Fmt(c.fmt), Data(Bytes(16, 0))})), c.code);
        EXPECT_EQ(wave_.Kind(), c.kind);
        EXPECT_EQ(wave_.SampleBytes().size(), c.code == kWaveOk ? 16u : 0u);
    }
    // The refused record is kept as parsed; the extensible fields come from the 22 bytes.
    EXPECT_EQ(wave_.Format().channelMask, 3u);
    EXPECT_EQ(wave_.Format().subFormat, WaveGuid{9});

    // A sub-format only counts when the record says it holds the extension.
    WaveFormat noExtension = MakeFormat(kWaveTagExtensible, 2, 48000, 16);
    noExtension.subFormat = kSubFormatPcm;
    EXPECT_FALSE(IsAcceptedSampleFormat(noExtension));
    noExtension.cbSize = kWaveFormatExtensionSize;
    EXPECT_EQ(AcceptedSampleKind(noExtension), SampleKind::Pcm16);
}

TEST_F(WaveFileTest, ReadStopsAtTheTimeLimit) {
    const std::vector<std::int16_t> samples(static_cast<std::size_t>(30 * 48000 * 2), 3);
    const fs::path path = folder_ / "long.wav";
    ASSERT_TRUE(WriteWaveFile(path, std::as_bytes(std::span(samples)),
                              MakeFormat(kWaveTagPcm, 2, 48000, 16)));
    ASSERT_EQ(ReadWaveFile(wave_, path, kReferenceMaxSeconds), kWaveOk);
    EXPECT_EQ(wave_.SampleCount(), 672000);
    EXPECT_EQ(wave_.Samples16().size(), 672000u);

    // A non-positive or unusable limit reads nothing rather than misbehaving.
    for (const float limit : {-1.0f, std::numeric_limits<float>::quiet_NaN()}) {
        EXPECT_EQ(ReadWaveFile(wave_, path, limit), kWaveOk);
        EXPECT_EQ(wave_.SampleCount(), 0);
    }
}

// Valid, broken and hostile files with the code each must give. With HUSHWELL_WAVE_SEED_DIR
// set, they are also written there as seeds for the WAV fuzzer (tests/fuzz/corpus/wave).
TEST_F(WaveFileTest, BrokenHeadersGiveTheirCodes) {
    const Bytes fmt = BasicFormat({});
    const Bytes data = Pcm16Bytes({1, 2});
    Bytes fmtWithCb = fmt;
    PutU16(fmtWithCb, 4);
    fmtWithCb.insert(fmtWithCb.end(), {9, 9, 9, 9});
    Bytes fmtPastCb = fmtWithCb;
    fmtPastCb.insert(fmtPastCb.end(), {0, 0});
    Bytes hugeCb = fmt;
    PutU16(hugeCb, 257);
    Bytes cbPastChunk = fmt;
    PutU16(cbPastChunk, 8);
    cbPastChunk.insert(cbPastChunk.end(), 4, 0);  // the chunk holds only 4 of the 8 bytes
    Bytes dataSizeCut = RiffFile({Fmt(fmt)});
    PutText(dataSizeCut, "data");
    PutU16(dataSizeCut, 1);
    const Chunk fact{"fact", Bytes(4, 0), std::nullopt};
    const FormatFields sixFloat{
        .tag = kWaveTagExtensible, .channels = 6, .bits = 32, .blockAlign = 24};
    const Bytes fmt14(fmt.begin(), fmt.begin() + 14);  // the old basic record without bits

    struct Case {
        const char* name;
        Bytes file;
        int code;
    };
    const Case cases[] = {
        {"pcm16-stereo", RiffFile({Fmt(fmt), Data(Pcm16Bytes({0, 32767, -32768, 5}))}), kWaveOk},
        {"extensible-6ch",
         RiffFile({List(12), Fmt(ExtensibleFormat(sixFloat, kSubFormatIeeeFloat)), List(6),
                   Data(Bytes(96, 0x3F))}),
         kWaveOk},
        {"empty", {}, kWaveNotRiff},
        {"not-riff", RiffFile({Fmt(fmt), Data(data)}, "RIFX"), kWaveNotRiff},
        {"not-wave", RiffFile({Fmt(fmt), Data(data)}, "RIFF", "AVI "), kWaveNotWave},
        {"ends-after-wave", RiffFile({}), kWaveNoFormatChunk},
        {"data-first", RiffFile({Data(data), Fmt(fmt)}), kWaveNoFormatChunk},
        {"two-lists", RiffFile({List(2), List(2), Fmt(fmt), Data(data)}), kWaveNoFormatChunk},
        {"huge-list", RiffFile({Claimed("LIST", {}, 0xFFFFFFF0), Fmt(fmt), Data(data)}),
         kWaveNoFormatChunk},
        {"short-fmt", RiffFile({Fmt(Bytes(fmt.begin(), fmt.begin() + 10))}), kWaveShortFormatChunk},
        {"fmt-shorter-than-16", RiffFile({Fmt(fmt14), Data(data)}), kWaveShortFormatChunk},
        {"extension-read", RiffFile({Fmt(fmtWithCb), Data(data)}), kWaveOk},
        {"cbsize-above-256", RiffFile({Fmt(hugeCb), Data(data)}), kWaveBadExtension},
        {"cbsize-past-chunk", RiffFile({Fmt(cbPastChunk), Data(data)}), kWaveBadExtension},
        {"extension-cut-off", RiffFile({Claimed("fmt ", fmt, 40)}), kWaveBadExtension},
        {"fmt-bytes-beyond-cbsize", RiffFile({Fmt(fmtPastCb), Data(data)}), kWaveNoDataChunk},
        {"no-data", RiffFile({Fmt(fmt)}), kWaveNoDataChunk},
        {"data-size-cut-off", dataSizeCut, kWaveNoDataChunk},
        {"fact-chunk", RiffFile({Fmt(fmt), fact, Data(data)}), kWaveNoDataChunk},
        {"zero-bits", RiffFile({Fmt(BasicFormat({.bits = 0})), Data(data)}), kWaveNoDataChunk},
        {"72-bits", RiffFile({Fmt(BasicFormat({.bits = 72})), Data(data)}), kWaveNoDataChunk},
        {"8-bits", RiffFile({Fmt(BasicFormat({.bits = 8})), Data(data)}), kWaveUnsupportedBits},
        {"24-bit", RiffFile({Fmt(BasicFormat({.bits = 24, .blockAlign = 6})), Data(Bytes(12, 0))}),
         kWaveUnsupportedBits},
        {"mp3-tag", RiffFile({Fmt(BasicFormat({.tag = 0x55})), Data(data)}),
         kWaveUnsupportedSampleFormat},
        {"float-16-bit", RiffFile({Fmt(BasicFormat({.tag = kWaveTagIeeeFloat})), Data(data)}),
         kWaveUnsupportedSampleFormat},
        {"unknown-subformat",
         RiffFile({Fmt(ExtensibleFormat({.tag = kWaveTagExtensible}, WaveGuid{0x55})), Data(data)}),
         kWaveUnsupportedSampleFormat},
        {"truncated-data", RiffFile({Fmt(fmt), Claimed("data", Bytes(10, 2), 4000)}),
         kWaveShortRead16},
    };
    const char* seedDir = std::getenv("HUSHWELL_WAVE_SEED_DIR");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Read("broken.wav", c.file), c.code);
        // The in-memory entry point agrees with the file reader.
        std::istringstream stream(std::string(c.file.begin(), c.file.end()));
        WaveData wave;
        EXPECT_EQ(ReadWaveStream(wave, stream, kEditorOpenMaxSeconds), c.code);
        if (seedDir != nullptr) {
            fs::copy_file(folder_ / "broken.wav",
                          fs::path(seedDir) / (std::string(c.name) + ".wav"),
                          fs::copy_options::overwrite_existing);
        }
    }
    EXPECT_EQ(ReadWaveFile(wave_, folder_ / "absent.wav", 7.0f), kWaveCannotOpen);
    EXPECT_EQ(ReadWaveFile(wave_, folder_, 7.0f), kWaveCannotOpen);
    // A FIFO is refused without being opened: opening it would wait for a writer.
    const fs::path fifo = folder_ / "fifo.wav";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(ReadWaveFile(wave_, fifo, 7.0f), kWaveCannotOpen);
}

TEST_F(WaveFileTest, ListsTheChunksUpToTheData) {
    const Bytes fmt = BasicFormat({.tag = kWaveTagIeeeFloat, .bits = 32, .blockAlign = 8});
    std::istringstream withFact(ToString(
        RiffFile({List(4), Fmt(fmt), {"fact", Bytes(4, 0), std::nullopt}, Data(Bytes(8, 0))})));
    EXPECT_EQ(ListWaveChunks(withFact), (std::vector<std::string>{"LIST", "fmt ", "fact", "data"}));
    std::istringstream notWave(ToString(RiffFile({Fmt(fmt)}, "RIFF", "AVI ")));
    EXPECT_TRUE(ListWaveChunks(notWave).empty());
}

TEST_F(WaveFileTest, ClaimsBeyondTheFileAreNeverAllocated) {
    // 16-bit: the data chunk claims 1000 samples, the file holds 3 and half of a fourth.
    Bytes held = Pcm16Bytes({10, 20, 30});
    held.push_back(0x7F);
    EXPECT_EQ(Read("short16.wav", RiffFile({Fmt(BasicFormat({})), Claimed("data", held, 2000)})),
              kWaveShortRead16);
    EXPECT_EQ(std::vector(wave_.Samples16().begin(), wave_.Samples16().end()),
              (std::vector<std::int16_t>{10, 20, 30}));

    // 32-bit, and a claim of 4 GiB: the reader holds the two samples actually present.
    Bytes words;
    PutU32(words, 0x11223344);
    PutU32(words, 0x55667788);
    EXPECT_EQ(
        Read("short32.wav",
             RiffFile({Fmt(BasicFormat({.tag = kWaveTagIeeeFloat, .bits = 32, .blockAlign = 8})),
                       Claimed("data", words, 0xFFFFFFFF)})),
        kWaveShortRead32);
    ASSERT_EQ(wave_.Samples32().size(), 2u);
    EXPECT_EQ(wave_.Samples32()[1], 0x55667788u);

    // The largest rate and channel count with a 4 GiB data claim and zero block align.
    const Bytes absurd = RiffFile(
        {Fmt(BasicFormat({.channels = 0xFFFF, .rate = 0xFFFFFFFF, .bits = 16, .blockAlign = 0})),
         Claimed("data", Pcm16Bytes({1, 2, 3}), 0xFFFFFFFF)});
    EXPECT_EQ(Read("absurd.wav", absurd), kWaveShortRead16);
    EXPECT_EQ(wave_.SampleCount(), 3);
    EXPECT_EQ(CheckAudioFormat(wave_.Format()), kFormatBadChannels + kFormatBadRate);

    // No channels: nothing to read, and the acceptance test refuses the format.
    EXPECT_EQ(Read("nochannels.wav",
                   RiffFile({Fmt(BasicFormat({.channels = 0})), Data(Pcm16Bytes({1, 2}))})),
              kWaveOk);
    EXPECT_EQ(wave_.SampleCount(), 0);
}

TEST_F(WaveFileTest, RereadingReplacesEverythingFromTheLastFile) {
    const Bytes extensible = RiffFile(
        {Fmt(ExtensibleFormat({.tag = kWaveTagExtensible}, kSubFormatPcm)), Data(Pcm16Bytes({4}))});
    ASSERT_EQ(Read("a.wav", extensible), kWaveOk);
    ASSERT_EQ(wave_.Extension().size(), 22u);

    EXPECT_EQ(Read("b.wav", RiffFile({Fmt(BasicFormat({.bits = 24})), Data(Bytes(9, 0))})),
              kWaveUnsupportedBits);
    EXPECT_EQ(wave_.Format().subFormat, WaveGuid{});
    EXPECT_TRUE(wave_.Extension().empty());
    EXPECT_TRUE(wave_.SampleBytes().empty());
    EXPECT_EQ(wave_.Kind(), SampleKind::Unsupported);
}

// ---- Acceptance. ----

TEST(CheckAudioFormatTest, SumsTheFailedConditions) {
    for (const std::uint32_t rate : kAcceptedRates) {
        EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 1, rate, 16)), 0) << rate;
    }
    EXPECT_EQ(CheckAudioFormat(MakeFormat(0x1234, 6, 48000, 32)), 0);  // the tag is not examined
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 7, 48000, 16)), 20);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 2, 44000, 16)), 80);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 2, 48000, 24)), 160);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 2, 44000, 24)), 240);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 0, 1, 0)), 260);
}

TEST_F(WaveFileTest, EditorFileCheck) {
    EXPECT_EQ(CheckEditorWaveFile(Put("good.wav", RiffFile({Fmt(BasicFormat({})), Data({})}))),
              kEditorFileOk);
    EXPECT_EQ(CheckEditorWaveFile(Put("slow.wav", RiffFile({Fmt(BasicFormat({.rate = 8000})),
                                                            Data(Pcm16Bytes({1, 2}))}))),
              kEditorFileBadFormat);
    EXPECT_EQ(CheckEditorWaveFile(
                  Put("24.wav", RiffFile({Fmt(BasicFormat({.bits = 24})), Data(Bytes(6, 0))}))),
              kEditorFileUnreadable);
    EXPECT_EQ(CheckEditorWaveFile(folder_ / "absent.wav"), kEditorFileUnreadable);
}

}  // namespace
}  // namespace hushwell
