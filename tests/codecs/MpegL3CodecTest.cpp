// The Layer III codec class as the audio engine drives it: its configuration
// of the front end, failures reported as failures, and a decoder side that
// never stalls or lets its delay creep.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "codecs/MpegL3Codec.h"
#include "common/Codes.h"

namespace {
AudioFormat Format(int rate, int bitRate, int mode) {
    AudioFormat f;
    f.codingType = CODING_MPEG_L3;
    f.sampleRate = rate;
    f.bitRate = bitRate;
    f.deviceMode = mode;
    f.frameBytes = static_cast<int>(144LL * bitRate / rate);
    return f;
}

// Encodes a tone through the class as the engine does: whole capture fill offered.
std::vector<uint8_t> EncodeTone(CMpegL3Codec& c, const AudioFormat& f, double seconds) {
    const int channels = f.deviceMode == DEVICEMODE_MONO ? 1 : 2;
    std::vector<int16_t> pcm(static_cast<size_t>(seconds * f.sampleRate) * channels);
    for (size_t i = 0; i < pcm.size(); ++i)
        pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 700.0 * static_cast<double>(i / channels) / f.sampleRate));
    std::vector<uint8_t> coded, out(2880);
    size_t at = 0;
    const size_t unit = static_cast<size_t>(c.GetEncodeFrameSize(&f)) / 2;
    while (at + unit <= pcm.size()) {
        int used = 0;
        const int n = c.Encode(pcm.data() + at, static_cast<int>(unit * 2), &used, out.data(), 2880);
        EXPECT_GE(n, 0);
        coded.insert(coded.end(), out.begin(), out.begin() + std::max(n, 0));
        at += static_cast<size_t>(used) / 2;
        if (used == 0) break;
    }
    return coded;
}
}  // namespace

TEST(MpegL3Codec, ConfiguresTheFrontEndByDeviceMode) {
    for (int mode : {DEVICEMODE_MONO, DEVICEMODE_STEREO, DEVICEMODE_JOINT_STEREO, DEVICEMODE_DUAL_MONO}) {
        CMpegL3Codec c;
        const AudioFormat f = Format(48000, mode == DEVICEMODE_MONO ? 64000 : 128000, mode);
        c.SetEncodeFormat(&f);
        ASSERT_EQ(c.OpenEncoder(), 1) << mode;
        Mp3EncoderConfig* cfg = Mp3EncoderGetConfig(const_cast<Mp3Encoder*>(c.GetEncoder()));
        ASSERT_NE(cfg, nullptr);
        const int joint = mode == DEVICEMODE_JOINT_STEREO ? 1 : 0;
        EXPECT_EQ(cfg->intensityAllowed, joint);
        EXPECT_EQ(cfg->jointStereo, joint);
        EXPECT_EQ(cfg->paddingMode, 1);
        EXPECT_EQ(cfg->monoFallback, 1);
        EXPECT_EQ(cfg->crc, 0);
        EXPECT_EQ(c.GetEncodeFrameSize(&f), mode == DEVICEMODE_MONO ? 2304 : 4608);
    }
}

TEST(MpegL3Codec, ARefusedFormatLeavesNoEncoderAndEncodingReportsTheFailure) {
    CMpegL3Codec c;
    const AudioFormat bad = Format(48000, 500000, DEVICEMODE_STEREO);  // above 320000
    c.SetEncodeFormat(&bad);
    EXPECT_EQ(c.OpenEncoder(), 0);
    EXPECT_EQ(c.GetEncoder(), nullptr);
    std::vector<int16_t> pcm(2304 * 2);
    uint8_t out[2880];
    int used = 7;
    EXPECT_EQ(c.Encode(pcm.data(), 4608, &used, out, sizeof out), -1);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(c.GetEncoderFailures(), 1);
    c.CloseEncoder();
    EXPECT_EQ(c.Encode(pcm.data(), 4608, &used, out, sizeof out), 0);  // closed on purpose: no failure
    // A good format later opens again.
    const AudioFormat good = Format(48000, 128000, DEVICEMODE_STEREO);
    c.SetEncodeFormat(&good);
    EXPECT_EQ(c.OpenEncoder(), 1);
}

TEST(MpegL3Codec, DecoderKeepsPaceWithTwoFramesPerBlock) {
    // 24 kHz mono at 32 kbit/s: the engine's block of 144 x rate / rate bytes
    // holds two 96-byte frames; every block must give both frames' PCM.
    CMpegL3Codec c;
    const AudioFormat f = Format(24000, 32000, DEVICEMODE_MONO);
    c.SetEncodeFormat(&f);
    ASSERT_EQ(c.OpenEncoder(), 1);
    const std::vector<uint8_t> coded = EncodeTone(c, f, 3.0);
    ASSERT_EQ(c.OpenDecoder(), 1);
    std::vector<int16_t> pcm(4608);
    int produced = 0, calls = 0;
    for (size_t at = 0; at + 192 <= coded.size(); at += 192, ++calls) {
        int used = 0;
        const int n = c.Decode(coded.data() + at, 192, &used, pcm.data(), 2 * 2304 + 4);
        ASSERT_EQ(used, 192) << "block " << calls << " was refused";
        produced += n;
        if (calls >= 2) {
            EXPECT_EQ(n, 2 * 1152) << "block " << calls;
        }
    }
    EXPECT_GE(produced, (calls - 1) * 2304);
}

TEST(MpegL3Codec, SmallRoomAndOversizedBlocksDoNotStall) {
    CMpegL3Codec c;
    const AudioFormat f = Format(48000, 128000, DEVICEMODE_STEREO);
    c.SetEncodeFormat(&f);
    ASSERT_EQ(c.OpenEncoder(), 1);
    const std::vector<uint8_t> coded = EncodeTone(c, f, 4.0);
    ASSERT_GT(coded.size(), 20000u);
    ASSERT_EQ(c.OpenDecoder(), 1);
    // One block larger than the decoder's whole ring, then a room below one frame.
    std::vector<int16_t> pcm(2304 * 2);
    size_t at = 0;
    long total = 0;
    int guard = 0;
    while (at < coded.size() && guard++ < 10000) {
        int used = 0;
        const int offer = static_cast<int>(std::min<size_t>(coded.size() - at, 20000));
        total += c.Decode(coded.data() + at, offer, &used, pcm.data(), 4000);
        at += static_cast<size_t>(used);
    }
    EXPECT_EQ(at, coded.size()) << "the whole stream went in";
    for (int i = 0; i < 100; ++i) {
        int used = 0;
        total += c.Decode(coded.data(), 0, &used, pcm.data(), 4000);
    }
    const long frames = static_cast<long>(coded.size() / 384);
    EXPECT_GE(total, (frames - 2) * 4608L) << "every frame but the last came out";
    EXPECT_EQ(c.GetDecoderErrors(), 0);
}
