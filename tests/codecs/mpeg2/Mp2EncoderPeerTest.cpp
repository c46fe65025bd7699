// Streams of CMpegL2Codec judged by independent decoders (ffmpeg, mpg123) and
// compared with twolame at the same rate and mode. Signals are short and
// generated into a temp folder; every figure is printed.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "codecs/MpegL2Codec.h"
#include "tests/codecs/mpeg2/Mp2TestSupport.h"

namespace {

using namespace mp2test;

struct EncCase {
    int rate;
    int deviceMode;
    int kbps;
    const char* twolameMode;
};

int ChannelsOf(int mode) { return mode == 10 ? 1 : 2; }

std::vector<uint8_t> EncodeWithCodec(const std::vector<int16_t>& pcm, const EncCase& c) {
    CMpegL2Codec codec;
    AudioFormat f;
    f.codingType = 32;
    f.bitRate = c.kbps * 1000;
    f.sampleRate = c.rate;
    f.deviceMode = c.deviceMode;
    codec.SetEncodeFormat(&f);
    std::vector<uint8_t> out;
    if (codec.OpenEncoder() != 1) return out;
    const size_t per = 1152u * static_cast<size_t>(ChannelsOf(c.deviceMode));
    uint8_t frame[2048];
    for (size_t i = 0; i + per <= pcm.size(); i += per) {
        int used = 0;
        const int n = codec.Encode(pcm.data() + i, static_cast<int>(per * 2), &used, frame, sizeof frame);
        EXPECT_EQ(used, static_cast<int>(per * 2));
        out.insert(out.end(), frame, frame + n);
    }
    return out;
}

// The codec tool's path in this build tree, or empty when it is not built.
std::string CodecTool() {
    const std::string path = std::string(VELMORA_BINARY_DIR) + "/tools/velmora-codec/velmora-codec";
    return std::filesystem::exists(path) ? path : std::string();
}

void WriteWav(const std::string& path, const std::vector<int16_t>& pcm, int rate, int channels) {
    std::vector<uint8_t> h(44, 0);
    auto put32 = [&](size_t at, uint32_t v) {
        for (int i = 0; i < 4; ++i) h[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    const uint32_t data = static_cast<uint32_t>(pcm.size() * 2);
    std::copy_n("RIFF", 4, h.begin());
    put32(4, 36 + data);
    std::copy_n("WAVEfmt ", 8, h.begin() + 8);
    put32(16, 16);
    h[20] = 1;
    h[22] = static_cast<uint8_t>(channels);
    put32(24, static_cast<uint32_t>(rate));
    put32(28, static_cast<uint32_t>(rate * channels * 2));
    h[32] = static_cast<uint8_t>(channels * 2);
    h[34] = 16;
    std::copy_n("data", 4, h.begin() + 36);
    put32(40, data);
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(h.data()), 44);
    for (int16_t v : pcm) {
        const char b[2] = {static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF)};
        out.write(b, 2);
    }
}

// Encodes through velmora-codec, the way a user checks the codec by hand.
std::vector<uint8_t> EncodeWithTool(const std::string& tool, const std::vector<int16_t>& pcm, const EncCase& c,
                                    const TempDir& dir) {
    WriteWav(dir / "in.wav", pcm, c.rate, ChannelsOf(c.deviceMode));
    const std::string cmd = tool + " encode --type 32 --bitrate " + std::to_string(c.kbps * 1000) + " --mode " +
                            std::to_string(c.deviceMode) + " " + (dir / "in.wav") + " " + (dir / "tool.mp2");
    std::string out;
    EXPECT_EQ(RunTool(cmd, &out), 0) << cmd << "\n" << out;
    return ReadFile(dir / "tool.mp2");
}

// Walks the stream by its headers the way the standard defines frame lengths.
struct Walk {
    int frames = 0;
    int padded = 0;
    int protectedFrames = 0;
    bool whole = true;
    std::vector<int> sizes;
};

Walk WalkFrames(const std::vector<uint8_t>& s) {
    static const int kBr1[] = {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384};
    static const int kBr2[] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160};
    static const int kFs1[] = {44100, 48000, 32000};
    Walk w;
    size_t pos = 0;
    while (pos + 4 <= s.size()) {
        if (s[pos] != 0xFF || (s[pos + 1] & 0xF6) != 0xF4) {  // sync, Layer II
            w.whole = false;
            break;
        }
        const int id = (s[pos + 1] >> 3) & 1;
        const int index = s[pos + 2] >> 4;
        const int sf = (s[pos + 2] >> 2) & 3;
        const int pad = (s[pos + 2] >> 1) & 1;
        if (index == 0 || index == 15 || sf == 3) {
            w.whole = false;
            break;
        }
        const int br = (id ? kBr1 : kBr2)[index] * 1000;
        const int fs = id ? kFs1[sf] : kFs1[sf] / 2;
        const int len = 144 * br / fs + pad;
        w.frames++;
        w.padded += pad;
        w.protectedFrames += (s[pos + 1] & 1) == 0;
        w.sizes.push_back(len);
        // Every frame of the codec class ends in three zero bytes.
        if (pos + static_cast<size_t>(len) > s.size() || s[pos + len - 1] || s[pos + len - 2] || s[pos + len - 3]) {
            w.whole = false;
            break;
        }
        pos += static_cast<size_t>(len);
    }
    if (pos != s.size()) w.whole = false;
    return w;
}

std::string Describe(const EncCase& c) {
    const char* mode = c.deviceMode == 10   ? "mono"
                       : c.deviceMode == 21 ? "joint stereo"
                       : c.deviceMode == 22 ? "dual channel"
                                            : "stereo";
    return std::to_string(c.rate) + " Hz " + mode + " " + std::to_string(c.kbps) + " kbit/s";
}

class Mp2EncoderPeerTest : public ::testing::TestWithParam<EncCase> {};

TEST_P(Mp2EncoderPeerTest, StreamDecodesCleanlyInPeers) {
    const EncCase c = GetParam();
    if (!HaveTool("ffmpeg") || !HaveTool("mpg123")) GTEST_SKIP() << "ffmpeg or mpg123 not installed";
    TempDir dir;
    const auto pcm = Make(Signal::Multitone, c.rate, ChannelsOf(c.deviceMode), 1.0);
    const std::string tool = CodecTool();
    // Without the tool in this build, the codec class is driven directly.
    const auto stream = tool.empty() ? EncodeWithCodec(pcm, c) : EncodeWithTool(tool, pcm, c, dir);
    ASSERT_FALSE(stream.empty());
    const std::string path = dir / "ours.mp2";
    WriteFile(path, stream.data(), stream.size());
    std::string ffOut, mpgOut;
    // crccheck: ffmpeg reports every CRC mismatch it meets.
    const int ffRc = RunTool("ffmpeg -v error -err_detect crccheck -i " + path + " -f null -", &ffOut);
    const int mpgRc = RunTool("mpg123 -q -t " + path, &mpgOut);
    const Walk w = WalkFrames(stream);
    const bool crcOn = c.rate >= 32000;
    std::printf("%s (%s): %d frames, %d with CRC, ffmpeg rc %d \"%s\", mpg123 rc %d \"%s\"\n", Describe(c).c_str(),
                tool.empty() ? "codec class" : "velmora-codec", w.frames, w.protectedFrames, ffRc, ffOut.c_str(), mpgRc, mpgOut.c_str());
    EXPECT_EQ(ffRc, 0);
    EXPECT_EQ(ffOut, "");
    EXPECT_EQ(mpgRc, 0);
    EXPECT_EQ(mpgOut, "");
    EXPECT_TRUE(w.whole);
    // The tool pads the last partial frame with silence; the class takes whole frames only.
    const size_t perFrame = 1152u * static_cast<size_t>(ChannelsOf(c.deviceMode));
    EXPECT_EQ(w.frames, static_cast<int>(tool.empty() ? pcm.size() / perFrame : (pcm.size() + perFrame - 1) / perFrame));
    EXPECT_EQ(w.protectedFrames, crcOn ? w.frames : 0);
    if (tool.empty()) return;
    // Back through the tool, a block of the longest frame at a time: every
    // frame but the first (on which the decoder locks) comes out whole.
    const std::string back = dir / "back.wav";
    ASSERT_EQ(RunTool(tool + " decode --type 32 --rate " + std::to_string(c.rate) + " --bitrate " +
                      std::to_string(c.kbps * 1000) + " --mode " + std::to_string(c.deviceMode) + " " + path + " " + back),
              0);
    const size_t wavBytes = ReadFile(back).size();
    EXPECT_EQ(wavBytes, 44 + static_cast<size_t>(w.frames - 1) * perFrame * 2) << "frames " << w.frames;
}

TEST_P(Mp2EncoderPeerTest, SnrBesideTwolame) {
    const EncCase c = GetParam();
    if (!HaveTool("ffmpeg") || !HaveTool("twolame")) GTEST_SKIP() << "ffmpeg or twolame not installed";
    TempDir dir;
    const int ch = ChannelsOf(c.deviceMode);
    const Signal signals[] = {Signal::Tone, Signal::Multitone, Signal::Noise};
    std::vector<std::vector<int16_t>> inputs;
    // One ffmpeg run decodes all six streams: its start-up dominates the time.
    std::string inputsArg, outputsArg;
    int index = 0;
    for (Signal sig : signals) {
        const std::string tag = std::to_string(static_cast<int>(sig));
        inputs.push_back(Make(sig, c.rate, ch, c.rate < 32000 ? 1.0 : 0.6));  // long enough to measure
        WritePcm(dir / ("in" + tag + ".raw"), inputs.back());
        const auto stream = EncodeWithCodec(inputs.back(), c);
        WriteFile(dir / ("ours" + tag + ".mp2"), stream.data(), stream.size());
        ASSERT_EQ(RunTool("twolame --quiet -r -s " + std::to_string(c.rate) + " -N " + std::to_string(ch) + " -m " +
                          c.twolameMode + " -b " + std::to_string(c.kbps) + " " + (dir / ("in" + tag + ".raw")) + " " +
                          (dir / ("peer" + tag + ".mp2"))),
                  0);
        for (const char* who : {"ours", "peer"}) {
            inputsArg += " -i " + (dir / (who + tag + ".mp2"));
            outputsArg += " -map " + std::to_string(index++) + " -f s16le " + (dir / (who + tag + ".raw"));
        }
    }
    ASSERT_EQ(RunTool("ffmpeg -v error -y" + inputsArg + outputsArg), 0);
    for (size_t k = 0; k < 3; ++k) {
        const std::string tag = std::to_string(static_cast<int>(signals[k]));
        int lagOurs = 0, lagPeer = 0;
        const double ours = Snr(inputs[k], ReadPcm(dir / ("ours" + tag + ".raw")), ch, 1200, -1, &lagOurs);
        const double peer = Snr(inputs[k], ReadPcm(dir / ("peer" + tag + ".raw")), ch, 1200, -1, &lagPeer);
        std::printf("%s %-9s SNR ours %6.2f dB (delay %d), twolame %6.2f dB (delay %d)\n", Describe(c).c_str(),
                    Name(signals[k]), ours, lagOurs, peer, lagPeer);
        EXPECT_GE(ours, peer - 3.0) << Name(signals[k]);
    }
}

INSTANTIATE_TEST_SUITE_P(Rates, Mp2EncoderPeerTest,
                         ::testing::Values(EncCase{48000, 20, 256, "s"}, EncCase{48000, 20, 384, "s"},
                                           EncCase{48000, 10, 128, "m"}, EncCase{44100, 21, 192, "j"},
                                           EncCase{24000, 10, 64, "m"}, EncCase{22050, 10, 64, "m"},
                                           EncCase{16000, 10, 64, "m"}, EncCase{48000, 22, 256, "d"},
                                           EncCase{32000, 20, 192, "s"}),
                         [](const auto& info) {
                             return std::to_string(info.param.rate) + "_" + std::to_string(info.param.deviceMode) + "_" +
                                    std::to_string(info.param.kbps);
                         });

TEST(Mp2EncoderStreamTest, PaddingAt44100Hz128kbit) {
    const EncCase c{44100, 20, 128, "s"};
    const auto pcm = Make(Signal::Multitone, 44100, 2, 100 * 1152.0 / 44100 + 0.001);
    const auto stream = EncodeWithCodec(pcm, c);
    const Walk w = WalkFrames(stream);
    ASSERT_TRUE(w.whole);
    ASSERT_EQ(w.frames, 100);
    EXPECT_EQ(w.sizes[0], 417);
    EXPECT_EQ(w.sizes[1], 418);
    EXPECT_EQ(w.padded, 95);
    std::printf("44100 Hz 128 kbit/s: first frames %d, %d bytes; %d of 100 padded\n", w.sizes[0], w.sizes[1], w.padded);
}

TEST(Mp2EncoderStreamTest, CorruptedSideInformationFailsThePeersCrc) {
    // Shows that the peer's CRC check is live, so a clean run means every CRC matched.
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    const EncCase c{48000, 20, 256, "s"};
    auto stream = EncodeWithCodec(Make(Signal::Multitone, 48000, 2, 0.3), c);
    ASSERT_GT(stream.size(), 768u * 6);
    stream[768 * 5 + 8] ^= 0x10;  // allocation field of frame 5
    WriteFile(dir / "bad.mp2", stream.data(), stream.size());
    std::string out;
    RunTool("ffmpeg -v error -err_detect crccheck -i " + (dir / "bad.mp2") + " -f null -", &out);
    EXPECT_NE(out.find("CRC"), std::string::npos) << out;
}

TEST(Mp2EncoderStreamTest, LeftOnlyToneInJointStereoLeavesRightSilent) {
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    const EncCase c{44100, 21, 192, "j"};
    const auto stream = EncodeWithCodec(Make(Signal::LeftTone, 44100, 2, 1.0), c);
    WriteFile(dir / "left.mp2", stream.data(), stream.size());
    ASSERT_EQ(RunTool("ffmpeg -v error -y -i " + (dir / "left.mp2") + " -f s16le " + (dir / "left.raw")), 0);
    const auto out = ReadPcm(dir / "left.raw");
    ASSERT_GT(out.size(), 40000u);
    const double right = LevelDb(out, 2, 1, 0);
    std::printf("joint stereo, tone on the left only: right channel at %.1f dB of the left\n", right);
    EXPECT_LT(right, -60.0);
}

TEST(Mp2EncoderStreamTest, JointStereoCodesIntensitySubbandsWhenBitsAreShort) {
    // Different noise on each side at 128 kbit/s: the bound stays low, and the
    // shared subbands keep each channel's own level through its scale factors.
    const EncCase c{48000, 21, 128, "j"};
    const auto pcm = Make(Signal::Noise, 48000, 2, 0.5);
    const auto stream = EncodeWithCodec(pcm, c);
    int joint = 0, frames = 0;
    for (size_t pos = 0; pos + 384 <= stream.size(); pos += 384, ++frames) joint += (stream[pos + 3] >> 6) == 1;
    std::printf("joint stereo 128 kbit/s noise: %d of %d frames with shared subbands\n", joint, frames);
    EXPECT_GT(joint, frames / 2);
    const StreamResult ours = DecodeStream(stream);
    EXPECT_EQ(ours.failures, 0);
    ASSERT_EQ(ours.channels, 2);
    // Right against left, before and after: equal noise levels stay equal.
    EXPECT_NEAR(LevelDb(ours.pcm, 2, 1, 0), LevelDb(pcm, 2, 1, 0), 1.5);
    if (!HaveTool("ffmpeg")) GTEST_SKIP() << "ffmpeg not installed";
    TempDir dir;
    WriteFile(dir / "joint.mp2", stream.data(), stream.size());
    std::string out;
    EXPECT_EQ(RunTool("ffmpeg -v error -err_detect crccheck -i " + (dir / "joint.mp2") + " -f null -", &out), 0);
    EXPECT_EQ(out, "");
}

}  // namespace
