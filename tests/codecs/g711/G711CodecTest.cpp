#include "codecs/g711/G711Codec.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <vector>

#include "common/SharedState.h"

namespace {

AudioFormat Format(int codingType) {
    AudioFormat f;
    f.codingType = codingType;
    f.sampleRate = 8000;
    f.deviceMode = DEVICEMODE_MONO;
    f.frameBytes = 192;
    return f;
}

// Points the shared state at a record of the test's own and restores it after.
struct SharedStateScope {
    SharedState state;
    SharedState* saved = g_sharedState;
    explicit SharedStateScope(int blockLength) {
        state.isdnBlockLength = blockLength;
        g_sharedState = &state;
    }
    ~SharedStateScope() { g_sharedState = saved; }
};

TEST(G711CodecTest, KnownValuesOfBothLaws) {
    EXPECT_EQ(CG711Codec::LinearToALaw(0), 0xD5);
    EXPECT_EQ(CG711Codec::ALawToLinear(0xD5), 8);
    EXPECT_EQ(CG711Codec::ALawToLinear(0x55), -8);
    EXPECT_EQ(CG711Codec::ALawToLinear(0x00), -5504);
    EXPECT_EQ(CG711Codec::LinearToALaw(-1), 0x55);
    EXPECT_EQ(CG711Codec::LinearToALaw(32767), 0xAA);   // top of segment 7
    EXPECT_EQ(CG711Codec::LinearToALaw(-32768), 0x2A);
    EXPECT_EQ(CG711Codec::LinearToMuLaw(0), 0xFF);
    EXPECT_EQ(CG711Codec::MuLawToLinear(0xFF), 0);
    EXPECT_EQ(CG711Codec::MuLawToLinear(0x7F), 0);
    EXPECT_EQ(CG711Codec::LinearToMuLaw(-32768), 0x00);
    EXPECT_EQ(CG711Codec::MuLawToLinear(0x00), -32124);
    EXPECT_EQ(CG711Codec::LinearToMuLaw(32767), 0x80);
    EXPECT_EQ(CG711Codec::MuLawToLinear(0x80), 32124);
}

// Every code decodes inside its own interval: re-encoding the decoded value
// gives the code back, and the error of any input is at most half a step
// of its segment (beyond the mu-law clip point the clip adds to it).
TEST(G711CodecTest, EveryInputWithinHalfAStepAndCodesStable) {
    for (int c = 0; c < 256; ++c) {
        const auto code = static_cast<uint8_t>(c);
        if (code != 0x7F) {  // 0x7F and 0xFF both decode to 0, which codes as 0xFF
            EXPECT_EQ(CG711Codec::LinearToMuLaw(CG711Codec::MuLawToLinear(code)), code) << c;
        }
        EXPECT_EQ(CG711Codec::LinearToALaw(CG711Codec::ALawToLinear(code)), code) << c;
    }
    int previousA = -32768, previousU = -32768;
    for (int x = -32768; x <= 32767; ++x) {
        const auto s = static_cast<int16_t>(x);
        const uint8_t a = CG711Codec::LinearToALaw(s);
        const int segA = ((a ^ 0x55) >> 4) & 7;
        const int stepA = segA <= 1 ? 16 : 16 << (segA - 1);
        const int ya = CG711Codec::ALawToLinear(a);
        ASSERT_LE(std::abs(ya - x), stepA / 2) << x;
        ASSERT_GE(ya, previousA) << x;  // the law never runs backwards
        previousA = ya;

        const uint8_t u = CG711Codec::LinearToMuLaw(s);
        const int segU = ((~u) >> 4) & 7;
        const int yu = CG711Codec::MuLawToLinear(u);
        const int clipped = x > 32635 ? 32635 : (x < -32636 ? -32636 : x);
        ASSERT_LE(std::abs(yu - clipped), (8 << segU) / 2 + 3) << x;  // +3: the 14-bit truncation
        ASSERT_GE(yu, previousU) << x;
        previousU = yu;
    }
}

TEST(G711CodecTest, DecodeAndEncodeCounts) {
    CG711Codec codec;
    AudioFormat f = Format(CODING_G711_ALAW);
    codec.SetDecodeFormat(&f);
    codec.SetEncodeFormat(&f);
    std::vector<uint8_t> in(100, 0xD5);
    std::vector<int16_t> out(100, 1234);
    int consumed = -1;
    EXPECT_EQ(codec.Decode(in.data(), 100, &consumed, out.data(), 150), 150);
    EXPECT_EQ(consumed, 75);
    EXPECT_EQ(out[74], 8);
    EXPECT_EQ(out[75], 1234);  // nothing past the room

    std::vector<int16_t> pcm(5, 0);
    std::vector<uint8_t> coded(100, 0);
    EXPECT_EQ(codec.Encode(pcm.data(), 10, &consumed, coded.data(), 100), 5);
    EXPECT_EQ(consumed, 10);
    EXPECT_EQ(coded[4], 0xD5);
    EXPECT_EQ(codec.Encode(pcm.data(), 1, &consumed, coded.data(), 100), 0);
    EXPECT_EQ(consumed, 0);
    // Room smaller than the input: the room decides.
    std::vector<int16_t> many(50, 0);
    EXPECT_EQ(codec.Encode(many.data(), 100, &consumed, coded.data(), 7), 7);
    EXPECT_EQ(consumed, 14);
}

TEST(G711CodecTest, NullArgumentsTouchNothing) {
    CG711Codec codec;
    uint8_t byte = 0;
    int16_t sample = 0;
    int consumed = 77;
    EXPECT_EQ(codec.Decode(nullptr, 1, &consumed, &sample, 2), 0);
    EXPECT_EQ(codec.Decode(&byte, 1, &consumed, nullptr, 2), 0);
    EXPECT_EQ(codec.Encode(nullptr, 2, &consumed, &byte, 1), 0);
    EXPECT_EQ(codec.Encode(&sample, 2, &consumed, nullptr, 1), 0);
    EXPECT_EQ(consumed, 77);
    EXPECT_EQ(codec.Decode(&byte, 1, nullptr, &sample, 2), 0);
    EXPECT_EQ(codec.Decode(&byte, -5, &consumed, &sample, 2), 0);
    EXPECT_EQ(consumed, 0);
    EXPECT_EQ(codec.Encode(&sample, 2, &consumed, &byte, -3), 0);
}

TEST(G711CodecTest, EachDirectionHasItsOwnLaw) {
    CG711Codec codec;
    int consumed = 0;
    int16_t sample = 0;
    uint8_t byte = 0;
    // Never set: mu-law both ways.
    EXPECT_EQ(codec.Encode(&sample, 2, &consumed, &byte, 1), 1);
    EXPECT_EQ(byte, 0xFF);
    const AudioFormat alaw = Format(CODING_G711_ALAW), ulaw = Format(CODING_G711_ULAW);
    codec.SetEncodeFormat(&alaw);
    codec.SetDecodeFormat(&ulaw);
    EXPECT_EQ(codec.OpenEncoder(), 1);
    EXPECT_EQ(codec.OpenDecoder(), 1);
    codec.Encode(&sample, 2, &consumed, &byte, 1);
    EXPECT_EQ(byte, 0xD5);
    byte = 0x00;
    EXPECT_EQ(codec.Decode(&byte, 1, &consumed, &sample, 2), 2);
    EXPECT_EQ(sample, -32124);
    codec.CloseEncoder();
    codec.CloseDecoder();
    codec.Encode(&sample, 2, &consumed, &byte, 1);  // closing changes nothing
    EXPECT_EQ(byte, CG711Codec::LinearToALaw(-32124));
}

// The frame follows the ISDN block length; without ISDN it keeps the timing
// of the default block instead of dropping to 0 (which stalled TCP and multicast calls).
TEST(G711CodecTest, FrameSizeOnEveryTransport) {
    CG711Codec codec;
    const AudioFormat f = Format(CODING_G711_ALAW);
    {
        SharedStateScope isdn(384);
        EXPECT_EQ(codec.GetEncodeFrameSize(&f), 768);
        EXPECT_EQ(codec.GetDecodeFrameSize(&f), 768);
    }
    {
        SharedStateScope isdn(192);
        EXPECT_EQ(codec.GetDecodeFrameSize(&f), 384);
    }
    {
        SharedStateScope tcp(0);
        EXPECT_EQ(codec.GetEncodeFrameSize(&f), 2 * CG711Codec::kDefaultBlockLength);
        EXPECT_EQ(codec.GetDecodeFrameSize(nullptr), 384);
    }
    SharedState* saved = g_sharedState;
    g_sharedState = nullptr;
    EXPECT_EQ(codec.GetEncodeFrameSize(&f), 384);
    g_sharedState = saved;
}

}  // namespace
