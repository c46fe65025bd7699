// The library import's file readers against the peer programs: sox makes WAV
// files of every coding we convert and decodes them for reference, twolame
// and lame make Layer II and III files that mpg123 decodes for reference.
#include "ui/AudioFile.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "codecs/G7xxPeer.h"
#include "common/ByteOrder.h"
#include "common/Codes.h"

namespace {

using g7xx_test::HavePeer;
using g7xx_test::ReadBytes;
using g7xx_test::ReadSamples;
using g7xx_test::RunCommand;
using g7xx_test::WriteBytes;

struct AudioFileTest : ::testing::Test {
    CTempDir m_dir{"audiofile"};

    std::string Path(const std::string& name) const { return (m_dir.Path() / name).string(); }

    // A second of a two-tone signal with noise, at the given rate and channels, 16-bit.
    std::string MakeSource(int rate, int channels) {
        const std::string path = Path("source-" + std::to_string(rate) + "-" + std::to_string(channels) + ".wav");
        const std::string cmd = "sox -q -D -n -r " + std::to_string(rate) + " -c " + std::to_string(channels) +
                                " -b 16 " + path + " synth 1 sine 440 sine 1250 synth 1 whitenoise amod 0.02 vol 0.6";
        EXPECT_EQ(RunCommand(cmd), 0) << cmd;
        return path;
    }

    // Everything the reader gives, in reads of `chunk` bytes.
    static std::vector<int16_t> ReadAll(CAudioFile& file, int chunk) {
        std::vector<uint8_t> bytes;
        std::vector<uint8_t> buffer(static_cast<size_t>(chunk));
        for (int guard = 0; guard < 1000000 && !file.IsAtEnd(); ++guard) {
            const int n = file.Read(buffer.data(), chunk);
            bytes.insert(bytes.end(), buffer.begin(), buffer.begin() + n);
        }
        std::vector<int16_t> s(bytes.size() / 2);
        for (size_t i = 0; i < s.size(); ++i) s[i] = static_cast<int16_t>(GetLe16(bytes.data() + 2 * i));
        return s;
    }
};

struct WavCase {
    const char* soxOptions;
    int codingType;
};

TEST_F(AudioFileTest, WavCodingsReadBitExactAsSoxDecodesThem) {
    if (!HavePeer("sox")) GTEST_SKIP() << "sox missing";
    const WavCase cases[] = {
        {"-e signed -b 16", CODING_PCM}, {"-e unsigned -b 8", CODING_ACM_PCM}, {"-e signed -b 24", CODING_ACM_PCM},
        {"-e a-law", CODING_ACM_PCM},    {"-e u-law", CODING_ACM_PCM},         {"-e ima-adpcm", CODING_ACM_PCM},
        {"-e ms-adpcm", CODING_ACM_PCM},
    };
    for (int channels : {1, 2}) {
        const std::string source = MakeSource(8000 * 2, channels);
        for (const WavCase& c : cases) {
            SCOPED_TRACE(std::string(c.soxOptions) + " channels " + std::to_string(channels));
            const std::string coded = Path("coded.wav");
            const std::string reference = Path("reference.raw");
            ASSERT_EQ(RunCommand("sox -q -D " + source + " " + c.soxOptions + " " + coded), 0);
            ASSERT_EQ(RunCommand("sox -q -D " + coded + " -t raw -e signed -b 16 -L " + reference), 0);
            const std::vector<int16_t> expected = ReadSamples(reference);

            CAudioFile file;
            ASSERT_EQ(file.Open(coded.c_str(), FILEMODE_READ), 1) << file.GetErrorText();
            AudioFormat format;
            file.GetFormat(&format);
            EXPECT_EQ(format.codingType, c.codingType);
            EXPECT_EQ(format.sampleRate, 16000);
            EXPECT_EQ(format.deviceMode, channels == 1 ? DEVICEMODE_MONO : DEVICEMODE_STEREO);
            // Reads of an odd size smaller than an ADPCM block still deliver everything.
            const std::vector<int16_t> got = ReadAll(file, 1001 * 2);
            EXPECT_EQ(static_cast<int>(got.size() * 2), file.GetLength());
            // ADPCM may carry a padded last block that sox cuts to the stated sample count.
            ASSERT_GE(got.size(), expected.size());
            EXPECT_LE(got.size() - expected.size(), 4096u);
            int mismatches = 0;
            for (size_t i = 0; i < expected.size(); ++i) mismatches += got[i] != expected[i];
            EXPECT_EQ(mismatches, 0);
        }
    }
}

// A RIFF file put together by hand: chunks in the given order.
std::string Chunk(const char* id, const std::string& body) {
    std::string out(id, 4);
    uint8_t size[4];
    PutLe32(size, static_cast<uint32_t>(body.size()));
    out.append(reinterpret_cast<const char*>(size), 4);
    out += body;
    if (body.size() & 1) out.push_back('\0');
    return out;
}

std::string PcmFormatBody(int channels, int rate, int blockAlign, int bits) {
    uint8_t b[16];
    PutLe16(b, 1);
    PutLe16(b + 2, static_cast<uint16_t>(channels));
    PutLe32(b + 4, static_cast<uint32_t>(rate));
    PutLe32(b + 8, static_cast<uint32_t>(rate * blockAlign));
    PutLe16(b + 12, static_cast<uint16_t>(blockAlign));
    PutLe16(b + 14, static_cast<uint16_t>(bits));
    return std::string(reinterpret_cast<const char*>(b), 16);
}

std::string Riff(const std::string& chunks) {
    std::string out = "RIFF0000WAVE" + chunks;
    PutLe32(reinterpret_cast<uint8_t*>(out.data()) + 4, static_cast<uint32_t>(out.size() - 8));
    return out;
}

TEST_F(AudioFileTest, WavChunksAreWalkedWithTheirPadBytes) {
    std::string data;
    for (int i = 0; i < 3000; ++i) data += std::string{static_cast<char>(i & 0xFF), static_cast<char>(i >> 8)};
    const std::string path = Path("odd.wav");
    // Odd-sized chunks before and after "fmt ": each is followed by RIFF's pad byte.
    const std::string file = Riff(Chunk("LIST", "INFOISFT") + Chunk("junk", "abcde") +
                                  Chunk("fmt ", PcmFormatBody(1, 48000, 2, 16)) + Chunk("odd ", "x") +
                                  Chunk("data", data));
    ASSERT_TRUE(WriteBytes(path, file.data(), file.size()));
    CAudioFile reader;
    ASSERT_EQ(reader.Open(path.c_str(), FILEMODE_READ), 1) << reader.GetErrorText();
    EXPECT_EQ(reader.GetLength(), 6000);
    const std::vector<int16_t> got = ReadAll(reader, 4096);
    ASSERT_EQ(got.size(), 3000u);
    for (int i = 0; i < 3000; ++i) ASSERT_EQ(got[i], i) << i;
}

TEST_F(AudioFileTest, BadWavFilesAreRefusedWithAReason) {
    const std::string data(400, '\x11');
    struct Bad {
        const char* what;
        std::string bytes;
        const char* reason;
    } cases[] = {
        {"three channels", Riff(Chunk("fmt ", PcmFormatBody(3, 48000, 6, 16)) + Chunk("data", data)), "3 channels"},
        {"block align 0", Riff(Chunk("fmt ", PcmFormatBody(2, 48000, 0, 8)) + Chunk("data", data)), "block"},
        {"block align 0 at 16 bits", Riff(Chunk("fmt ", PcmFormatBody(1, 48000, 0, 16)) + Chunk("data", data)),
         "block"},
        {"format chunk of 2000 bytes", Riff(Chunk("fmt ", std::string(2000, '\1')) + Chunk("data", data)), "2000"},
        {"short format chunk", Riff(Chunk("fmt ", "abc") + Chunk("data", data)), "format chunk"},
        {"no data", Riff(Chunk("fmt ", PcmFormatBody(1, 48000, 2, 16))), "no audio"},
        {"empty data", Riff(Chunk("fmt ", PcmFormatBody(1, 48000, 2, 16)) + Chunk("data", "")), "no audio"},
        {"no format", Riff(Chunk("data", data)), "no format"},
        {"GSM 6.10", [&] {
             std::string body = PcmFormatBody(1, 8000, 65, 0);
             body[0] = 0x31;
             return Riff(Chunk("fmt ", body) + Chunk("data", data));
         }(),
         "0x0031"},
    };
    for (const Bad& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string path = Path("bad.wav");
        ASSERT_TRUE(WriteBytes(path, c.bytes.data(), c.bytes.size()));
        CAudioFile file;
        EXPECT_EQ(file.Open(path.c_str(), FILEMODE_READ), 0);
        EXPECT_NE(file.GetErrorText().find(c.reason), std::string::npos) << file.GetErrorText();
        EXPECT_EQ(file.IsAtEnd(), 1);
        EXPECT_EQ(file.Read(nullptr, 0), 0);
    }
}

TEST_F(AudioFileTest, TruncatedWavReadsWhatTheFileHolds) {
    std::string data(5000, '\x22');
    std::string bytes = Riff(Chunk("fmt ", PcmFormatBody(2, 44100, 4, 16)) + Chunk("data", data));
    bytes.resize(bytes.size() - 1000);
    const std::string path = Path("cut.wav");
    ASSERT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
    CAudioFile file;
    ASSERT_EQ(file.Open(path.c_str(), FILEMODE_READ), 1);
    EXPECT_EQ(file.GetLength(), 4000);
    EXPECT_EQ(ReadAll(file, 3000).size(), 2000u);
    // Only reading is offered.
    EXPECT_EQ(file.Open(path.c_str(), FILEMODE_REWRITE), 0);
    EXPECT_EQ(ReadBytes(path).size(), bytes.size());
}

struct MpegCase {
    const char* encoder;  // command with IN and OUT
    int rate;
    int channels;
    int codingType;
    int deviceMode;
};

TEST_F(AudioFileTest, MpegFilesDecodeAsMpg123DecodesThem) {
    if (!HavePeer("sox") || !HavePeer("twolame") || !HavePeer("lame") || !HavePeer("mpg123"))
        GTEST_SKIP() << "peer programs missing";
    const MpegCase cases[] = {
        {"twolame --quiet -b 192 IN OUT", 44100, 2, CODING_MPEG_L2, DEVICEMODE_STEREO},
        {"twolame --quiet -b 96 -m m IN OUT", 48000, 1, CODING_MPEG_L2, DEVICEMODE_MONO},
        {"twolame --quiet -b 64 IN OUT", 24000, 2, CODING_MPEG_L2, DEVICEMODE_STEREO},
        {"lame --quiet -b 128 -m j IN OUT", 44100, 2, CODING_MPEG_L3, DEVICEMODE_JOINT_STEREO},
        {"lame --quiet -b 64 -m m IN OUT", 48000, 1, CODING_MPEG_L3, DEVICEMODE_MONO},
        {"lame --quiet -b 64 -m s IN OUT", 24000, 2, CODING_MPEG_L3, DEVICEMODE_STEREO},
    };
    for (const MpegCase& c : cases) {
        SCOPED_TRACE(c.encoder + std::string(" at ") + std::to_string(c.rate));
        const std::string source = MakeSource(c.rate, c.channels);
        const std::string coded = Path("coded.mpg");
        const std::string reference = Path("reference.raw");
        std::string cmd = c.encoder;
        cmd.replace(cmd.find("IN"), 2, source);
        cmd.replace(cmd.find("OUT"), 3, coded);
        ASSERT_EQ(RunCommand(cmd), 0) << cmd;
        ASSERT_EQ(RunCommand("mpg123 -q --no-gapless -e s16 -s " + coded + " > " + reference), 0);
        const std::vector<int16_t> expected = ReadSamples(reference);

        CAudioFile file;
        ASSERT_EQ(file.Open(coded.c_str(), FILEMODE_READ), 1);
        AudioFormat format;
        file.GetFormat(&format);
        EXPECT_EQ(format.codingType, c.codingType);
        EXPECT_EQ(format.sampleRate, c.rate);
        EXPECT_EQ(format.deviceMode, c.deviceMode);
        const std::vector<int16_t> got = ReadAll(file, 3000);
        ASSERT_EQ(got.size(), expected.size());
        double sum = 0;
        int worst = 0;
        for (size_t i = 0; i < got.size(); ++i) {
            const int d = got[i] - expected[i];
            sum += double(d) * d;
            worst = std::max(worst, std::abs(d));
        }
        const double rms = std::sqrt(sum / static_cast<double>(got.size()));
        std::printf("%s at %d Hz: %zu samples, rms difference %.3f LSB, max %d\n", c.encoder, c.rate, got.size(), rms,
                    worst);
        // ISO 11172-4 full accuracy: rms below 2^-15 / sqrt(12) of full scale, about 0.29 LSB at 16 bits.
        EXPECT_LT(rms, 0.29);
        EXPECT_LE(worst, 2);
    }
}

}  // namespace

namespace {

TEST_F(AudioFileTest, MpegHeaderGivesFormatAndBlockSize) {
    AudioFormat f;
    // MPEG-2 Layer III, 24000 Hz, 64 kbit/s, stereo.
    const uint8_t l3[4] = {0xFF, 0xF3, 0x84, 0x00};
    ASSERT_EQ(CMpegFileReader::TestHeader(l3, &f), 1);
    EXPECT_EQ(f.codingType, CODING_MPEG_L3);
    EXPECT_EQ(f.bitRate, 64000);
    EXPECT_EQ(f.sampleRate, 24000);
    EXPECT_EQ(f.frameBytes, 384);
    // MPEG-1 Layer II, 44100 Hz, 192 kbit/s, stereo.
    const uint8_t l2[4] = {0xFF, 0xFD, 0xA0, 0x00};
    ASSERT_EQ(CMpegFileReader::TestHeader(l2, &f), 1);
    EXPECT_EQ(f.codingType, CODING_MPEG_L2);
    EXPECT_EQ(f.frameBytes, 626);
    EXPECT_EQ(f.deviceMode, DEVICEMODE_STEREO);
    // Layer I, free format, reserved rate, MPEG-2.5.
    for (const auto& bad : {std::array<uint8_t, 4>{0xFF, 0xFF, 0xA0, 0x00}, std::array<uint8_t, 4>{0xFF, 0xFD, 0x00, 0x00},
                            std::array<uint8_t, 4>{0xFF, 0xFD, 0xAC, 0x00}, std::array<uint8_t, 4>{0xFF, 0xE3, 0x84, 0x00}})
        EXPECT_EQ(CMpegFileReader::TestHeader(bad.data(), nullptr), 0);
}

TEST_F(AudioFileTest, MpegSyncSearchFindsTheFirstFrameBehindATag) {
    if (!HavePeer("sox") || !HavePeer("twolame")) GTEST_SKIP() << "peer programs missing";
    const std::string coded = Path("tone.mp2");
    ASSERT_EQ(RunCommand("twolame --quiet -b 192 " + MakeSource(44100, 2) + " " + coded), 0);
    std::vector<uint8_t> frames = ReadBytes(coded);
    std::vector<uint8_t> tagged(3000, 0x41);
    tagged.insert(tagged.end(), frames.begin(), frames.end());
    const std::string path = Path("tagged.mp2");
    ASSERT_TRUE(WriteBytes(path, tagged.data(), tagged.size()));
    CMpegFileReader reader;
    ASSERT_EQ(reader.Open(path.c_str(), FILEMODE_READ), 1);
    EXPECT_EQ(reader.GetDataPosition(), 3000);
    EXPECT_EQ(reader.GetLength(), static_cast<int>(frames.size() / 626 * 4608));
    // Shorter than one search block, or no header in the first ten: refused.
    ASSERT_TRUE(WriteBytes(path, frames.data(), 5000));
    EXPECT_EQ(reader.Open(path.c_str(), FILEMODE_READ), 0);
    std::vector<uint8_t> noise(60000, 0x12);
    noise.insert(noise.end(), frames.begin(), frames.end());
    ASSERT_TRUE(WriteBytes(path, noise.data(), noise.size()));
    EXPECT_EQ(reader.Open(path.c_str(), FILEMODE_READ), 0);
}

TEST_F(AudioFileTest, CorruptedAndTruncatedMpegEndsWithoutCrash) {
    if (!HavePeer("sox") || !HavePeer("lame") || !HavePeer("twolame")) GTEST_SKIP() << "peer programs missing";
    const std::string source = MakeSource(44100, 2);
    for (const char* encoder : {"lame --quiet -b 128", "twolame --quiet -b 192"}) {
        SCOPED_TRACE(encoder);
        const std::string coded = Path("coded.mpg");
        ASSERT_EQ(RunCommand(std::string(encoder) + " " + source + " " + coded), 0);
        std::vector<uint8_t> bytes = ReadBytes(coded);
        const uint32_t seed = 12345;
        std::printf("corruption seed %u\n", seed);
        std::mt19937 random(seed);
        for (size_t i = 1000; i < bytes.size(); i += 1 + random() % 200) bytes[i] = static_cast<uint8_t>(random());
        bytes.resize(bytes.size() * 2 / 3);
        const std::string path = Path("broken.mpg");
        ASSERT_TRUE(WriteBytes(path, bytes.data(), bytes.size()));
        CAudioFile file;
        ASSERT_EQ(file.Open(path.c_str(), FILEMODE_READ), 1);
        const std::vector<int16_t> got = ReadAll(file, 777);
        EXPECT_TRUE(file.IsAtEnd());
        EXPECT_LE(got.size() * 2, static_cast<size_t>(file.GetLength()) + 4608);
    }
}

}  // namespace

namespace {

std::string MpegFormatBody(int tag, int channels, int rate, int blockAlign) {
    uint8_t b[18] = {};
    PutLe16(b, static_cast<uint16_t>(tag));
    PutLe16(b + 2, static_cast<uint16_t>(channels));
    PutLe32(b + 4, static_cast<uint32_t>(rate));
    PutLe32(b + 8, 16000);
    PutLe16(b + 12, static_cast<uint16_t>(blockAlign));
    return std::string(reinterpret_cast<const char*>(b), sizeof b);
}

TEST_F(AudioFileTest, MpegInsideWavDecodesAsTheBareStream) {
    if (!HavePeer("sox") || !HavePeer("twolame") || !HavePeer("lame") || !HavePeer("mpg123"))
        GTEST_SKIP() << "peer programs missing";
    struct Case {
        const char* encoder;
        int tag;
        int rate;
        int channels;
        int deviceMode;
    };
    const Case cases[] = {
        {"twolame --quiet -b 192 IN OUT", 0x0050, 48000, 2, DEVICEMODE_STEREO},
        {"lame --quiet -b 128 -m j IN OUT", 0x0055, 44100, 2, DEVICEMODE_STEREO},
        {"lame --quiet -b 64 -m m IN OUT", 0x0055, 24000, 1, DEVICEMODE_MONO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encoder);
        const std::string source = MakeSource(c.rate, c.channels);
        const std::string coded = Path("coded.mpg");
        std::string cmd = c.encoder;
        cmd.replace(cmd.find("IN"), 2, source);
        cmd.replace(cmd.find("OUT"), 3, coded);
        ASSERT_EQ(RunCommand(cmd), 0) << cmd;
        const std::vector<uint8_t> stream = ReadBytes(coded);
        // An odd-sized chunk before the format and one after the data that
        // looks like a frame header: neither is audio.
        const std::string wav =
            Riff(Chunk("note", "odd") + Chunk("fmt ", MpegFormatBody(c.tag, c.channels, c.rate, 1)) +
                 Chunk("fact", std::string(4, '\0')) + Chunk("data", std::string(stream.begin(), stream.end())) +
                 Chunk("junk", std::string("\xFF\xFD\x94\x00\x11\x22\x33", 7) + std::string(4000, '\x55')));
        const std::string wrapped = Path("wrapped.wav");
        WriteBytes(wrapped, wav.data(), wav.size());

        CAudioFile bare;
        ASSERT_EQ(bare.Open(coded.c_str(), FILEMODE_READ), 1);
        const std::vector<int16_t> expected = ReadAll(bare, 4000);
        CAudioFile file;
        ASSERT_EQ(file.Open(wrapped.c_str(), FILEMODE_READ), 1) << file.GetErrorText();
        AudioFormat format;
        file.GetFormat(&format);
        EXPECT_EQ(format.codingType, CODING_ACM_PCM);
        EXPECT_EQ(format.sampleRate, c.rate);
        EXPECT_EQ(format.deviceMode, c.deviceMode);
        EXPECT_EQ(file.GetLength(), bare.GetLength());
        const std::vector<int16_t> got = ReadAll(file, 3000);
        EXPECT_GT(got.size(), static_cast<size_t>(c.rate * c.channels * 9 / 10));
        EXPECT_TRUE(got == expected) << got.size() << " samples against " << expected.size();

        // And what mpg123 makes of the bare stream, to ISO accuracy.
        const std::string reference = Path("reference.raw");
        ASSERT_EQ(RunCommand("mpg123 -q --no-gapless -e s16 -s " + coded + " > " + reference), 0);
        const std::vector<int16_t> peer = ReadSamples(reference);
        ASSERT_EQ(got.size(), peer.size());
        double sum = 0;
        for (size_t i = 0; i < got.size(); ++i) sum += double(got[i] - peer[i]) * (got[i] - peer[i]);
        EXPECT_LT(std::sqrt(sum / static_cast<double>(got.size())), 0.29);
    }
}

TEST_F(AudioFileTest, MpegWavFilesOfFfmpegOpenAndARefusalSaysWhy) {
    if (!HavePeer("ffmpeg")) GTEST_SKIP() << "ffmpeg missing";
    for (const char* codec : {"mp2", "libmp3lame"}) {
        SCOPED_TRACE(codec);
        const std::string path = Path(std::string(codec) + ".wav");
        ASSERT_EQ(RunCommand(std::string("ffmpeg -v error -y -f lavfi -i sine=frequency=500:duration=2:sample_rate=48000 "
                                         "-ac 2 -c:a ") + codec + " -b:a 128k -f wav " + path),
                  0);
        CAudioFile file;
        ASSERT_EQ(file.Open(path.c_str(), FILEMODE_READ), 1) << file.GetErrorText();
        AudioFormat format;
        file.GetFormat(&format);
        EXPECT_EQ(format.codingType, CODING_ACM_PCM);
        EXPECT_EQ(format.sampleRate, 48000);
        EXPECT_EQ(format.deviceMode, DEVICEMODE_STEREO);
        const size_t samples = ReadAll(file, 4096).size();
        EXPECT_NEAR(static_cast<double>(samples), 2.0 * 48000 * 2, 48000 * 2 * 0.1);
    }
    // MPEG data without a frame: refused, with the reason.
    const std::string empty = Path("noframes.wav");
    const std::string wav = Riff(Chunk("fmt ", MpegFormatBody(0x0055, 2, 48000, 1)) + Chunk("data", std::string(8000, '\0')));
    WriteBytes(empty, wav.data(), wav.size());
    CAudioFile file;
    EXPECT_EQ(file.Open(empty.c_str(), FILEMODE_READ), 0);
    EXPECT_NE(file.GetErrorText().find("MPEG"), std::string::npos) << file.GetErrorText();
}

}  // namespace
