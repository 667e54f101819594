#include "detection/WaveFile.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <array>
#include <cstdlib>
#include <cstring>
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

Bytes Pcm16Bytes(const std::vector<std::int16_t>& samples) {
    Bytes out;
    for (const std::int16_t s : samples) {
        PutU16(out, static_cast<std::uint16_t>(s));
    }
    return out;
}

// A stereo 16-bit 48 kHz file with the given samples.
Bytes PlainFile(const std::vector<std::int16_t>& samples) {
    return RiffFile({Fmt(BasicFormat({})), Data(Pcm16Bytes(samples))});
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

WaveFormat MakeExtensible(int channels, std::uint32_t rate, int bits, const WaveGuid& sub) {
    WaveFormat f = MakeFormat(kWaveTagExtensible, channels, rate, bits);
    f.cbSize = 22;
    f.validBitsPerSample = static_cast<std::uint16_t>(bits);
    f.channelMask = (1u << channels) - 1;
    f.subFormat = sub;
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

// ---- Round trips through WriteWaveFile and ReadWaveFile. ----

TEST_F(WaveFileTest, EveryAcceptedFormatRoundTrips) {
    struct Encoding {
        const char* name;
        int bits;
        bool isFloat;
    };
    const Encoding encodings[] = {{"int16", 16, false}, {"int32", 32, false}, {"float", 32, true}};
    for (const Encoding& encoding : encodings) {
        for (int channels = 1; channels <= 6; ++channels) {
            for (const std::uint32_t rate : kAcceptedRates) {
                SCOPED_TRACE(testing::Message()
                             << encoding.name << " " << channels << "ch " << rate);
                // More than two channels need the extensible record, as the audio layer writes.
                const WaveGuid& sub = encoding.isFloat ? kSubFormatIeeeFloat : kSubFormatPcm;
                const WaveFormat format =
                    channels > 2 ? MakeExtensible(channels, rate, encoding.bits, sub)
                                 : MakeFormat(encoding.isFloat ? kWaveTagIeeeFloat : kWaveTagPcm,
                                              channels, rate, encoding.bits);
                const int frames = 37;
                Bytes samples(static_cast<std::size_t>(frames * format.blockAlign));
                for (std::size_t i = 0; i < samples.size(); ++i) {
                    samples[i] = static_cast<std::uint8_t>(i * 7 + rate + channels);
                }
                const fs::path path = folder_ / "round.wav";
                ASSERT_TRUE(WriteWaveFile(path, std::as_bytes(std::span(samples)), format));

                WaveData wave;
                ASSERT_EQ(ReadWaveFile(wave, path, kEditorOpenMaxSeconds), kWaveOk);
                EXPECT_EQ(wave.Format(), format);
                EXPECT_EQ(CheckAudioFormat(wave.Format()), 0);
                EXPECT_EQ(wave.SampleCount(), frames * channels);
                const auto read = wave.SampleBytes();
                EXPECT_TRUE(std::equal(read.begin(), read.end(),
                                       std::as_bytes(std::span(samples)).begin(),
                                       std::as_bytes(std::span(samples)).end()));
                const SampleKind expected = encoding.isFloat      ? SampleKind::IeeeFloat
                                            : encoding.bits == 16 ? SampleKind::Pcm16
                                                                  : SampleKind::Unsupported;
                EXPECT_EQ(wave.Kind(), expected);
                EXPECT_EQ(wave.Extension().size(), format.cbSize);
            }
        }
    }
    // No temporary file is left beside the target.
    EXPECT_EQ(std::distance(fs::directory_iterator(folder_), fs::directory_iterator()), 1);
}

TEST_F(WaveFileTest, WriterLaysOutTheSmallestFileExactly) {
    WaveFormat format = MakeFormat(kWaveTagPcm, 2, 44100, 16);
    const std::array<std::uint8_t, 4> data{1, 2, 3, 4};
    const fs::path path = folder_ / "small.wav";
    ASSERT_TRUE(WriteWaveFile(path, std::as_bytes(std::span(data)), format));

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
    EXPECT_EQ(expected.size(), 50u);
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

// ---- Chunk order and format classification. ----

TEST_F(WaveFileTest, ListChunksBeforeFmtAndBeforeDataAreSkipped) {
    const Bytes file =
        RiffFile({List(26), Fmt(BasicFormat({})), List(4), Data(Pcm16Bytes({5, 6}))});
    ASSERT_EQ(Read("list.wav", file), kWaveOk);
    EXPECT_EQ(wave_.SampleCount(), 2);
    EXPECT_EQ(wave_.Samples16()[1], 6);

    // Only one LIST in each place; any other chunk stops the parse.
    EXPECT_EQ(Read("twolists.wav",
                   RiffFile({List(2), List(2), Fmt(BasicFormat({})), Data(Pcm16Bytes({1}))})),
              kWaveNoFormatChunk);
    Chunk fact{"fact", Bytes(4, 0), std::nullopt};
    EXPECT_EQ(Read("fact.wav", RiffFile({Fmt(BasicFormat({})), fact, Data(Pcm16Bytes({1}))})),
              kWaveNoDataChunk);
}

TEST_F(WaveFileTest, SampleKindFollowsTagAndSubFormat) {
    struct Case {
        const char* name;
        Bytes fmt;
        SampleKind kind;
    };
    const Case cases[] = {
        {"pcm16", BasicFormat({}), SampleKind::Pcm16},
        {"pcm32", BasicFormat({.bits = 32, .blockAlign = 8}), SampleKind::Unsupported},
        {"float tag, bits ignored", BasicFormat({.tag = kWaveTagIeeeFloat}), SampleKind::IeeeFloat},
        {"extensible pcm16", ExtensibleFormat({.tag = kWaveTagExtensible}, kSubFormatPcm),
         SampleKind::Pcm16},
        {"extensible float32",
         ExtensibleFormat({.tag = kWaveTagExtensible, .bits = 32, .blockAlign = 8},
                          kSubFormatIeeeFloat),
         SampleKind::IeeeFloat},
        {"extensible pcm32",
         ExtensibleFormat({.tag = kWaveTagExtensible, .bits = 32, .blockAlign = 8}, kSubFormatPcm),
         SampleKind::Unsupported},
        {"extensible unknown", ExtensibleFormat({.tag = kWaveTagExtensible}, WaveGuid{9}),
         SampleKind::Unsupported},
        {"other tag", BasicFormat({.tag = 0x55}), SampleKind::Unsupported},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(Read("kind.wav", RiffFile({Fmt(c.fmt), Data(Bytes(16, 0))})), kWaveOk);
        EXPECT_EQ(wave_.Kind(), c.kind);
    }
    // The extensible fields come from the 22 extension bytes.
    EXPECT_EQ(wave_.Format().subFormat, WaveGuid{});
    ASSERT_EQ(
        Read("ext.wav",
             RiffFile({Fmt(ExtensibleFormat({.tag = kWaveTagExtensible}, kSubFormatIeeeFloat)),
                       Data({})})),
        kWaveOk);
    EXPECT_EQ(wave_.Format().subFormat, kSubFormatIeeeFloat);
    EXPECT_EQ(wave_.Format().channelMask, 3u);
    EXPECT_EQ(wave_.Format().validBitsPerSample, 16);
}

TEST_F(WaveFileTest, TwentyFourBitFileParsesButIsNotRead) {
    const Bytes file =
        RiffFile({Fmt(BasicFormat({.bits = 24, .blockAlign = 6})), Data(Bytes(60, 1))});
    std::istringstream stream(std::string(file.begin(), file.end()));
    EXPECT_EQ(ParseWaveHeader(wave_, stream), kWaveOk);
    EXPECT_EQ(wave_.SampleCount(), 20);

    EXPECT_EQ(Read("24.wav", file), kWaveUnsupportedBits);
    EXPECT_EQ(wave_.Format().bitsPerSample, 24);  // the format stays as parsed
    EXPECT_TRUE(wave_.SampleBytes().empty());
    EXPECT_EQ(CheckAudioFormat(wave_.Format()), kFormatBadBits);
}

TEST_F(WaveFileTest, ReadStopsAtTheTimeLimit) {
    const int frames = 30 * 48000;
    const std::vector<std::int16_t> samples(static_cast<std::size_t>(frames * 2), 3);
    const fs::path path = folder_ / "long.wav";
    ASSERT_TRUE(WriteWaveFile(path, std::as_bytes(std::span(samples)),
                              MakeFormat(kWaveTagPcm, 2, 48000, 16)));
    ASSERT_EQ(ReadWaveFile(wave_, path, kReferenceMaxSeconds), kWaveOk);
    EXPECT_EQ(wave_.SampleCount(), 672000);
    EXPECT_EQ(wave_.Samples16().size(), 672000u);

    // A non-positive or unusable limit reads nothing rather than misbehaving.
    EXPECT_EQ(ReadWaveFile(wave_, path, -1.0f), kWaveOk);
    EXPECT_EQ(wave_.SampleCount(), 0);
    EXPECT_EQ(ReadWaveFile(wave_, path, std::numeric_limits<float>::quiet_NaN()), kWaveOk);
    EXPECT_EQ(wave_.SampleCount(), 0);
}

// ---- Broken, truncated and hostile files. ----

TEST_F(WaveFileTest, BrokenHeadersGiveTheirCodes) {
    const Bytes fmt = BasicFormat({});
    const Bytes data = Pcm16Bytes({1, 2});
    Bytes fmtWithCb = fmt;
    PutU16(fmtWithCb, 4);
    fmtWithCb.insert(fmtWithCb.end(), {9, 9, 9, 9});
    Bytes hugeCb = fmt;
    PutU16(hugeCb, 257);
    Bytes cbPastChunk = fmt;
    PutU16(cbPastChunk, 8);
    cbPastChunk.insert(cbPastChunk.end(), 4, 0);  // the chunk holds only 4 of the 8 bytes

    struct Case {
        const char* name;
        Bytes file;
        int code;
    };
    const Case cases[] = {
        {"empty", {}, kWaveNotRiff},
        {"not riff", RiffFile({Fmt(fmt), Data(data)}, "RIFX"), kWaveNotRiff},
        {"not wave", RiffFile({Fmt(fmt), Data(data)}, "RIFF", "AVI "), kWaveNotWave},
        {"ends after wave", RiffFile({}), kWaveNoFormatChunk},
        {"data first", RiffFile({Data(data), Fmt(fmt)}), kWaveNoFormatChunk},
        {"short fmt", RiffFile({Fmt(Bytes(fmt.begin(), fmt.begin() + 10))}), kWaveShortFormatChunk},
        {"extension read", RiffFile({Fmt(fmtWithCb), Data(data)}), kWaveOk},
        {"cbSize above 256", RiffFile({Fmt(hugeCb), Data(data)}), kWaveBadExtension},
        {"cbSize past chunk", RiffFile({Fmt(cbPastChunk), Data(data)}), kWaveBadExtension},
        {"extension cut off", RiffFile({{"fmt ", fmt, 40}}), kWaveBadExtension},
        {"no data", RiffFile({Fmt(fmt)}), kWaveNoDataChunk},
        {"data size cut off",
         [&] {
             Bytes f = RiffFile({Fmt(fmt)});
             PutText(f, "data");
             PutU16(f, 1);
             return f;
         }(),
         kWaveNoDataChunk},
        {"fmt bytes beyond cbSize",
         RiffFile({Fmt([&] {
                       Bytes b = fmtWithCb;
                       b.push_back(0);
                       b.push_back(0);
                       return b;
                   }()),
                   Data(data)}),
         kWaveNoDataChunk},
        {"zero bits", RiffFile({Fmt(BasicFormat({.bits = 0})), Data(data)}), kWaveNoDataChunk},
        {"72 bits", RiffFile({Fmt(BasicFormat({.bits = 72})), Data(data)}), kWaveNoDataChunk},
        {"8 bits", RiffFile({Fmt(BasicFormat({.bits = 8})), Data(data)}), kWaveUnsupportedBits},
        {"huge list", RiffFile({{"LIST", {}, 0xFFFFFFF0}, Fmt(fmt), Data(data)}),
         kWaveNoFormatChunk},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(Read("broken.wav", c.file), c.code);
        // The in-memory entry point agrees with the file reader.
        std::istringstream stream(std::string(c.file.begin(), c.file.end()));
        WaveData wave;
        EXPECT_EQ(ReadWaveStream(wave, stream, kEditorOpenMaxSeconds), c.code);
    }
    EXPECT_EQ(ReadWaveFile(wave_, folder_ / "absent.wav", 7.0f), kWaveCannotOpen);
    EXPECT_EQ(ReadWaveFile(wave_, folder_, 7.0f), kWaveCannotOpen);
}

TEST_F(WaveFileTest, ShortDataKeepsWhatIsThere) {
    // 16-bit: the data chunk claims 1000 samples, the file holds 3 and half of a fourth.
    Bytes held = Pcm16Bytes({10, 20, 30});
    held.push_back(0x7F);
    EXPECT_EQ(Read("short16.wav", RiffFile({Fmt(BasicFormat({})), {"data", held, 2000}})),
              kWaveShortRead16);
    EXPECT_EQ(wave_.SampleCount(), 3);
    EXPECT_EQ(std::vector(wave_.Samples16().begin(), wave_.Samples16().end()),
              (std::vector<std::int16_t>{10, 20, 30}));

    // 32-bit, and a claim of 4 GiB: the reader holds the two samples actually present.
    Bytes words;
    PutU32(words, 0x11223344);
    PutU32(words, 0x55667788);
    EXPECT_EQ(
        Read("short32.wav",
             RiffFile({Fmt(BasicFormat({.tag = kWaveTagIeeeFloat, .bits = 32, .blockAlign = 8})),
                       {"data", words, 0xFFFFFFFF}})),
        kWaveShortRead32);
    EXPECT_EQ(wave_.SampleCount(), 2);
    ASSERT_EQ(wave_.Samples32().size(), 2u);
    EXPECT_EQ(wave_.Samples32()[1], 0x55667788u);
}

TEST_F(WaveFileTest, AbsurdFormatFieldsNeverCrashOrAllocateTheClaim) {
    // The largest rate and channel count with a 4 GiB data claim and zero block align.
    const Bytes absurd = RiffFile(
        {Fmt(BasicFormat({.channels = 0xFFFF, .rate = 0xFFFFFFFF, .bits = 16, .blockAlign = 0})),
         {"data", Pcm16Bytes({1, 2, 3}), 0xFFFFFFFF}});
    EXPECT_EQ(Read("absurd.wav", absurd), kWaveShortRead16);
    EXPECT_EQ(wave_.SampleCount(), 3);
    EXPECT_EQ(CheckAudioFormat(wave_.Format()), kFormatBadChannels + kFormatBadRate);

    // No channels: nothing to read, and the acceptance test refuses the format.
    EXPECT_EQ(Read("nochannels.wav",
                   RiffFile({Fmt(BasicFormat({.channels = 0})), Data(Pcm16Bytes({1, 2}))})),
              kWaveOk);
    EXPECT_EQ(wave_.SampleCount(), 0);
    EXPECT_EQ(CheckAudioFormat(wave_.Format()), kFormatBadChannels);
}

TEST_F(WaveFileTest, RereadingReplacesEverythingFromTheLastFile) {
    const Bytes extensible = RiffFile(
        {Fmt(ExtensibleFormat({.tag = kWaveTagExtensible}, kSubFormatPcm)), Data(Pcm16Bytes({4}))});
    ASSERT_EQ(Read("a.wav", extensible), kWaveOk);
    ASSERT_EQ(wave_.Extension().size(), 22u);

    EXPECT_EQ(Read("b.wav", RiffFile({Fmt(BasicFormat({.bits = 24})), Data(Bytes(9, 0))})),
              kWaveUnsupportedBits);
    EXPECT_EQ(wave_.Format().cbSize, 0);
    EXPECT_EQ(wave_.Format().subFormat, WaveGuid{});
    EXPECT_TRUE(wave_.Extension().empty());
    EXPECT_TRUE(wave_.SampleBytes().empty());
    EXPECT_EQ(wave_.Kind(), SampleKind::Unsupported);
}

// ---- Acceptance tests. ----

TEST(CheckAudioFormatTest, SumsTheFailedConditions) {
    for (const std::uint32_t rate : kAcceptedRates) {
        EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 1, rate, 16)), 0) << rate;
    }
    // The tag is not examined.
    EXPECT_EQ(CheckAudioFormat(MakeFormat(0x1234, 6, 48000, 32)), 0);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 0, 48000, 16)), 20);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 7, 48000, 16)), 20);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 2, 8000, 16)), 80);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 2, 44000, 24)), 160);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 9, 11025, 16)), 100);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 7, 48000, 8)), 100);
    EXPECT_EQ(CheckAudioFormat(MakeFormat(kWaveTagPcm, 0, 1, 0)), 180);
}

TEST_F(WaveFileTest, EditorFileCheck) {
    EXPECT_EQ(CheckEditorWaveFile(Put("good.wav", PlainFile({1, 2, 3, 4}))), kEditorFileOk);
    EXPECT_EQ(CheckEditorWaveFile(Put("slow.wav", RiffFile({Fmt(BasicFormat({.rate = 8000})),
                                                            Data(Pcm16Bytes({1, 2}))}))),
              kEditorFileBadFormat);
    EXPECT_EQ(CheckEditorWaveFile(
                  Put("24.wav", RiffFile({Fmt(BasicFormat({.bits = 24})), Data(Bytes(6, 0))}))),
              kEditorFileUnreadable);
    EXPECT_EQ(CheckEditorWaveFile(folder_ / "absent.wav"), kEditorFileUnreadable);
}

// ---- Seed files for the WAV fuzzer. ----

// Small valid and broken files, each with the code the reader must give. With
// HUSHWELL_WAVE_SEED_DIR set, they are also written there (tests/fuzz/corpus/wave).
TEST_F(WaveFileTest, FuzzSeedsReadAsExpected) {
    struct Seed {
        const char* name;
        Bytes file;
        int code;
    };
    std::vector<float> tone(64);
    for (std::size_t i = 0; i < tone.size(); ++i) {
        tone[i] = static_cast<float>(i % 8) / 8.0f - 0.5f;
    }
    Bytes floats(tone.size() * sizeof(float));
    std::memcpy(floats.data(), tone.data(), floats.size());
    const std::vector<Seed> seeds{
        {"pcm16-stereo.wav", PlainFile({0, 1000, -1000, 32767, -32768, 5, 6, 7}), kWaveOk},
        {"float-mono.wav",
         RiffFile({Fmt(BasicFormat(
                       {.tag = kWaveTagIeeeFloat, .channels = 1, .bits = 32, .blockAlign = 4})),
                   Data(floats)}),
         kWaveOk},
        {"extensible-6ch.wav",
         RiffFile({List(12),
                   Fmt(ExtensibleFormat(
                       {.tag = kWaveTagExtensible, .channels = 6, .bits = 32, .blockAlign = 24},
                       kSubFormatIeeeFloat)),
                   List(6), Data(Bytes(96, 0x3F))}),
         kWaveOk},
        {"fact-chunk.wav",
         RiffFile({Fmt(BasicFormat({})), {"fact", Bytes(4, 0), std::nullopt}, Data(Bytes(8, 1))}),
         kWaveNoDataChunk},
        {"truncated-data.wav", RiffFile({Fmt(BasicFormat({})), {"data", Bytes(10, 2), 4000}}),
         kWaveShortRead16},
        {"24-bit.wav",
         RiffFile({Fmt(BasicFormat({.bits = 24, .blockAlign = 6})), Data(Bytes(12, 0))}),
         kWaveUnsupportedBits},
        {"huge-claims.wav",
         RiffFile({Fmt(BasicFormat({.channels = 0xFFFF, .rate = 0xFFFFFFFF, .blockAlign = 0})),
                   {"data", Bytes(8, 0), 0xFFFFFFFF}}),
         kWaveShortRead16},
    };
    const char* seedDir = std::getenv("HUSHWELL_WAVE_SEED_DIR");
    for (const Seed& seed : seeds) {
        SCOPED_TRACE(seed.name);
        EXPECT_EQ(Read(seed.name, seed.file), seed.code);
        if (seedDir != nullptr) {
            fs::copy_file(folder_ / seed.name, fs::path(seedDir) / seed.name,
                          fs::copy_options::overwrite_existing);
        }
    }
}

}  // namespace
}  // namespace hushwell
