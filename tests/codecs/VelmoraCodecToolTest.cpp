// velmora-codec as a user runs it: WAVE in, coded bytes out and back.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "codecs/G7xxPeer.h"
#include "codecs/g711/G711Codec.h"
#include "codecs/g722/G722Core.h"
#include "common/ByteOrder.h"

namespace {

using namespace g7xx_test;

class VelmoraCodecToolTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The tool sits in the same build tree as this test program.
        const char* bin = std::getenv("VELMORA_BINARY_DIR");
        std::error_code ec;
        const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
        const std::string root = bin ? std::string(bin) : self.parent_path().parent_path().string();
        m_tool = root + "/tools/velmora-codec/velmora-codec";
        if (m_tool.empty() || !std::filesystem::exists(m_tool)) GTEST_SKIP() << "velmora-codec not built";
        ASSERT_TRUE(m_dir.Ok());
    }

    void WriteWav(const std::string& name, int rate, int channels, const std::vector<int16_t>& s) {
        std::vector<uint8_t> b(44 + 2 * s.size());
        std::memcpy(b.data(), "RIFF\0\0\0\0WAVEfmt ", 16);
        PutLe32(&b[4], static_cast<uint32_t>(b.size() - 8));
        PutLe32(&b[16], 16);
        PutLe16(&b[20], 1);
        PutLe16(&b[22], static_cast<uint16_t>(channels));
        PutLe32(&b[24], static_cast<uint32_t>(rate));
        PutLe32(&b[28], static_cast<uint32_t>(rate * channels * 2));
        PutLe16(&b[32], static_cast<uint16_t>(channels * 2));
        PutLe16(&b[34], 16);
        std::memcpy(&b[36], "data", 4);
        PutLe32(&b[40], static_cast<uint32_t>(2 * s.size()));
        for (size_t i = 0; i < s.size(); ++i) PutLe16(&b[44 + 2 * i], static_cast<uint16_t>(s[i]));
        ASSERT_TRUE(WriteBytes(m_dir / name, b.data(), b.size()));
    }

    // Samples of a WAVE file the tool wrote (its fixed 44-byte header).
    std::vector<int16_t> ReadWavSamples(const std::string& name) {
        const std::vector<uint8_t> b = ReadBytes(m_dir / name);
        std::vector<int16_t> s;
        if (b.size() < 44) return s;
        EXPECT_EQ(GetLe32(&b[40]), b.size() - 44);
        for (size_t i = 44; i + 1 < b.size(); i += 2) s.push_back(static_cast<int16_t>(GetLe16(&b[i])));
        return s;
    }

    int Tool(const std::string& args) { return RunCommand(m_tool + " " + args + " 2>" + (m_dir / "stderr")); }
    std::string Stderr() {
        const std::vector<uint8_t> b = ReadBytes(m_dir / "stderr");
        return std::string(b.begin(), b.end());
    }

    std::string m_tool;
    CScratchDir m_dir;
};

std::vector<int16_t> Chirp(int samples, int rate) {
    std::vector<int16_t> s(static_cast<size_t>(samples));
    double phase = 0;
    for (int i = 0; i < samples; ++i) {
        phase += 2 * 3.14159265358979 * (100.0 + 3000.0 * i / samples) / rate;
        s[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(15000 * std::sin(phase)));
    }
    return s;
}

TEST_F(VelmoraCodecToolTest, G711BothLawsRoundTrip) {
    const std::vector<int16_t> pcm = Chirp(1001, 8000);  // not a whole frame
    WriteWav("in.wav", 8000, 1, pcm);
    for (const int type : {2, 4}) {
        const std::string t = std::to_string(type);
        ASSERT_EQ(Tool("encode --type " + t + " " + (m_dir / "in.wav") + " " + (m_dir / "out.bin")), 0) << Stderr();
        const std::vector<uint8_t> coded = ReadBytes(m_dir / "out.bin");
        ASSERT_EQ(coded.size(), pcm.size());
        for (size_t i = 0; i < pcm.size(); ++i) {
            ASSERT_EQ(coded[i], type == 2 ? CG711Codec::LinearToALaw(pcm[i]) : CG711Codec::LinearToMuLaw(pcm[i])) << i;
        }
        ASSERT_EQ(Tool("decode --type " + t + " " + (m_dir / "out.bin") + " " + (m_dir / "back.wav")), 0) << Stderr();
        const std::vector<int16_t> back = ReadWavSamples("back.wav");
        ASSERT_EQ(back.size(), pcm.size());
        for (size_t i = 0; i < back.size(); ++i) {
            ASSERT_EQ(back[i], type == 2 ? CG711Codec::ALawToLinear(coded[i]) : CG711Codec::MuLawToLinear(coded[i]));
        }
    }
}

// The tool decodes as a call does: the first 3.2 s after the open are silent.
TEST_F(VelmoraCodecToolTest, G722EncodesLikeTheCoreAndDecodesWithTheCallMute) {
    const std::vector<int16_t> pcm = Chirp(16000 * 4, 16000);
    WriteWav("in.wav", 16000, 1, pcm);
    ASSERT_EQ(Tool("encode --type 8 --rate 16000 --mode 10 " + (m_dir / "in.wav") + " " + (m_dir / "out.bin")), 0)
        << Stderr();
    const std::vector<uint8_t> coded = ReadBytes(m_dir / "out.bin");
    g722::EncoderState enc;
    g722::Reset(enc);
    ASSERT_EQ(coded.size(), pcm.size() / 2);
    for (size_t i = 0; i < coded.size(); ++i) ASSERT_EQ(coded[i], g722::EncodePair(enc, pcm[2 * i], pcm[2 * i + 1])) << i;

    ASSERT_EQ(Tool("decode --type 8 " + (m_dir / "out.bin") + " " + (m_dir / "back.wav")), 0) << Stderr();
    const std::vector<int16_t> back = ReadWavSamples("back.wav");
    ASSERT_EQ(back.size(), pcm.size());
    g722::DecoderState dec;
    g722::Reset(dec);
    for (size_t i = 0; i < coded.size(); ++i) {
        int16_t a = 0, b = 0;
        g722::DecodeByte(dec, coded[i], &a, &b);
        // Whole frames of 192 code bytes: the call that crosses 25600 is silent whole.
        const bool muted = i < (25600 + 191) / 192 * 192;
        ASSERT_EQ(back[2 * i], muted ? 0 : a) << i;
        ASSERT_EQ(back[2 * i + 1], muted ? 0 : b) << i;
    }
}

TEST_F(VelmoraCodecToolTest, RefusalsExitNonZeroWithAReason) {
    WriteWav("wide.wav", 16000, 1, Chirp(1600, 16000));
    WriteWav("stereo.wav", 8000, 2, Chirp(1600, 8000));
    const std::string wide = m_dir / "wide.wav", out = m_dir / "out.bin";
    EXPECT_EQ(Tool("encode --type 2 " + wide + " " + out), 1);
    EXPECT_NE(Stderr().find("8000 Hz"), std::string::npos) << Stderr();
    EXPECT_EQ(Tool("encode --type 4 " + (m_dir / "stereo.wav") + " " + out), 1);
    EXPECT_NE(Stderr().find("one channel"), std::string::npos) << Stderr();
    EXPECT_EQ(Tool("encode --type 8 --mode 20 " + wide + " " + out), 1);
    EXPECT_EQ(Tool("encode --type 512 " + wide + " " + out), 1);
    EXPECT_NE(Stderr().find("no codec"), std::string::npos) << Stderr();
    EXPECT_EQ(Tool("encode --type 1 " + wide + " " + out), 1);
    EXPECT_EQ(Tool("encode --type 8 --rate 8000 " + wide + " " + out), 1);
    EXPECT_EQ(Tool("encode --type x " + wide + " " + out), 1);
    EXPECT_EQ(Tool("encode --type 8 " + (m_dir / "missing.wav") + " " + out), 1);
    const uint8_t junk[60] = {'R', 'I', 'F', 'F', 0xFF, 0xFF, 0xFF, 0xFF, 'W', 'A', 'V', 'E', 'f', 'm', 't', ' ', 0xFF, 0xFF, 0xFF, 0x7F};
    ASSERT_TRUE(WriteBytes(m_dir / "junk.wav", junk, sizeof junk));
    EXPECT_EQ(Tool("encode --type 8 " + (m_dir / "junk.wav") + " " + out), 1);
    EXPECT_NE(Stderr().find("junk.wav"), std::string::npos) << Stderr();
    // A decode whose output cannot be written fails and says which file.
    ASSERT_TRUE(WriteBytes(m_dir / "law.bin", junk, sizeof junk));
    EXPECT_EQ(Tool("decode --type 2 " + (m_dir / "law.bin") + " /dev/full"), 1);
    EXPECT_NE(Stderr().find("cannot write /dev/full"), std::string::npos) << Stderr();
    EXPECT_EQ(Tool("decode --type 2 " + (m_dir / "law.bin") + " " + (m_dir / "no/such/dir.wav")), 1);
    EXPECT_NE(Stderr().find("cannot create"), std::string::npos) << Stderr();
    EXPECT_EQ(Tool("encode --type 8 " + wide), 2);  // usage
    EXPECT_EQ(Tool("transcode --type 8 " + wide + " " + out), 2);
    // The front end's options: Layer III encoding only, presets 0 to 2.
    EXPECT_EQ(Tool("encode --type 64 --preset 3 " + wide + " " + out), 1);
    EXPECT_NE(Stderr().find("not 0, 1 or 2"), std::string::npos) << Stderr();
    EXPECT_EQ(Tool("encode --type 8 --preset 1 " + wide + " " + out), 1);
    EXPECT_EQ(Tool("decode --type 64 --coded-rate 8000 " + (m_dir / "law.bin") + " " + out), 1);
    EXPECT_NE(Stderr().find("encode --type 64 only"), std::string::npos) << Stderr();
    EXPECT_EQ(Tool("encode --type 64 --coded-rate 32000 " + wide + " " + out), 1);  // above the input rate
    EXPECT_NE(Stderr().find("no engine"), std::string::npos) << Stderr();
}

}  // namespace

// Layer III: our stream decodes in mpg123, and our decoder matches mpg123 to
// ISO 11172-4 full accuracy on a stream made by lame. Seven seconds: the WAVE
// output spans more than one of the tool's write blocks.
TEST_F(VelmoraCodecToolTest, Layer3EncodesForPeersAndDecodesLameStreams) {
    if (RunCommand("command -v lame >/dev/null && command -v mpg123 >/dev/null") != 0) GTEST_SKIP() << "no lame/mpg123";
    const int rate = 44100;
    const int seconds = 7;
    std::vector<int16_t> pcm(2 * rate * seconds);
    const std::vector<int16_t> chirp = Chirp(rate * seconds, rate);
    for (size_t i = 0; i < chirp.size(); ++i) {
        pcm[2 * i] = chirp[i];
        pcm[2 * i + 1] = static_cast<int16_t>(chirp[i] / 2);
    }
    WriteWav("in.wav", rate, 2, pcm);
    ASSERT_EQ(Tool("encode --type 64 --bitrate 128000 " + (m_dir / "in.wav") + " " + (m_dir / "ours.mp3")), 0)
        << Stderr();
    ASSERT_EQ(RunCommand("mpg123 -q --no-gapless -s " + (m_dir / "ours.mp3") + " > " + (m_dir / "ours.raw") + " 2>" +
                         (m_dir / "mpg123.err")),
              0);
    const std::vector<uint8_t> err = ReadBytes(m_dir / "mpg123.err");
    EXPECT_TRUE(err.empty()) << std::string(err.begin(), err.end());
    const std::vector<uint8_t> ours = ReadBytes(m_dir / "ours.raw");
    EXPECT_GE(ours.size() / 4, pcm.size() / 2) << "the tail must come out";

    ASSERT_EQ(RunCommand("lame --quiet -t -b 128 -m j " + (m_dir / "in.wav") + " " + (m_dir / "lame.mp3")), 0);
    ASSERT_EQ(Tool("decode --type 64 --rate 44100 --mode 20 " + (m_dir / "lame.mp3") + " " + (m_dir / "back.wav")), 0)
        << Stderr();
    ASSERT_EQ(RunCommand("mpg123 -q --no-gapless -s " + (m_dir / "lame.mp3") + " > " + (m_dir / "ref.raw")), 0);
    const std::vector<int16_t> back = ReadWavSamples("back.wav");
    const std::vector<uint8_t> ref = ReadBytes(m_dir / "ref.raw");
    ASSERT_GE(back.size(), ref.size() / 2 - 2 * 1152) << "at most the last frame may wait for a next header";
    double sum = 0.0;
    int peak = 0;
    const size_t n = std::min(back.size(), ref.size() / 2);
    for (size_t i = 0; i < n; ++i) {
        const int r = static_cast<int16_t>(ref[2 * i] | (ref[2 * i + 1] << 8));
        const int d = back[i] - r;
        sum += static_cast<double>(d) * d;
        peak = std::max(peak, std::abs(d));
    }
    const double rms = std::sqrt(sum / static_cast<double>(n)) / 32768.0;
    std::printf("[ accuracy ] velmora-codec decode --type 64 vs mpg123: rms %.3e (limit %.3e) peak %d LSB\n", rms,
                std::pow(2.0, -15) / std::sqrt(12.0), peak);
    EXPECT_LT(rms, std::pow(2.0, -15) / std::sqrt(12.0));
    EXPECT_LE(peak, 2);
}

// The encoder front end from the command line: each engine of its rule runs,
// says so, and writes a stream mpg123 decodes without a word.
TEST_F(VelmoraCodecToolTest, Layer3FrontEndRunsEveryEngineOfItsRule) {
    if (RunCommand("command -v mpg123 >/dev/null") != 0) GTEST_SKIP() << "no mpg123";
    struct Case {
        int rate;
        const char* args;
        const char* engine;
    };
    for (const Case& c : {Case{44100, "--preset 0 --coded-rate 32000 --bitrate 96000", "l3core,"},
                          Case{48000, "--preset 0 --coded-rate 24000 --bitrate 64000", "second engine with resampler,"},
                          Case{48000, "--preset 0 --bitrate 128000", "second engine,"},
                          Case{48000, "--preset 1 --bitrate 128000", "l3core,"},
                          Case{48000, "--preset 2 --bitrate 128000", "l3core,"},
                          Case{48000, "--preset 1 --bitrate 64000", "second engine with resampler,"},
                          Case{48000, "--preset 1 --bitrate 320000", "second engine with resampler,"}}) {
        SCOPED_TRACE(c.args);
        std::vector<int16_t> pcm(2 * static_cast<size_t>(c.rate) / 2);
        const std::vector<int16_t> chirp = Chirp(c.rate / 2, c.rate);
        for (size_t i = 0; i < chirp.size(); ++i) pcm[2 * i] = pcm[2 * i + 1] = chirp[i];
        WriteWav("in.wav", c.rate, 2, pcm);
        ASSERT_EQ(Tool(std::string("encode --type 64 ") + c.args + " " + (m_dir / "in.wav") + " " + (m_dir / "o.mp3")),
                  0)
            << Stderr();
        EXPECT_NE(Stderr().find(std::string("velmora-codec: ") + c.engine), std::string::npos) << Stderr();
        const std::string err = m_dir / "mpg123.err";
        EXPECT_EQ(RunCommand("mpg123 -t " + (m_dir / "o.mp3") + " 2>" + err), 0);
        EXPECT_NE(RunCommand("grep -iE 'error|warn|fail' " + err + " >&2"), 0) << "mpg123 complains";
    }
}
