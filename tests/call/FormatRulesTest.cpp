// Completing formats and sizing delay buffers.
#include "call/FormatRules.h"

#include <gtest/gtest.h>

#include "support/TestFormat.h"

namespace {

TEST(FormatRulesTest, FrameBytesByCodingType) {
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_G722, 64000, 16000, 10), 1), 64);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_G722, 64000, 16000, 10), 0), 192);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_G722, 64000, 16000, 10, 100), 0), 100);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_G711_ALAW, 64000, 8000, 10), 1), 96);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_G711_ULAW, 64000, 8000, 10), 0), 192);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_MPEG_L2, 128000, 48000, 20), 0), 384);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_MPEG_L3, 128000, 0, 20), 0), 0);  // no division by zero
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_PCM, 0, 48000, 20, 100), 0), 4608);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_PCM, 0, 48000, 10), 0), 2304);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_APTX, 0, 32000, 10), 0), 192);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_APTX_ENH, 0, 32000, 20), 0), 384);
    EXPECT_EQ(ComputeFrameBytes(TestFormat(CODING_MPEG_L1, 0, 48000, 20), 0), 0);
}

TEST(FormatRulesTest, NormalisationByUse) {
    // A request keeps its own bit rate and is refused without a sample rate.
    AudioFormat request = TestFormat(CODING_PCM, 12345, 48000, 21);
    ASSERT_EQ(NormalizeFormat(request, FormatUse::Request, 0), 1);
    EXPECT_EQ(request.bitRate, 12345);
    EXPECT_EQ(request.deviceMode, DEVICEMODE_STEREO);
    EXPECT_EQ(request.frameBytes, 4608);
    AudioFormat noRate = TestFormat(CODING_PCM, 0, 0, 10);
    EXPECT_EQ(NormalizeFormat(noRate, FormatUse::Request, 0), 0);
    AudioFormat none = TestFormat(0, 5, 6, 7, 8);
    ASSERT_EQ(NormalizeFormat(none, FormatUse::Request, 0), 1);
    EXPECT_EQ(none.codingType, 0);
    EXPECT_EQ(none.sampleRate, 0);
    EXPECT_EQ(none.aptxOption, 1);

    // A received format gets its bit rate from the other fields.
    AudioFormat pcm = TestFormat(CODING_PCM, 0, 48000, 20);
    NormalizeFormat(pcm, FormatUse::Received, 0);
    EXPECT_EQ(pcm.bitRate, 48000 * 16 * 2);
    AudioFormat g711 = TestFormat(CODING_G711_ALAW, 1, 44100, 20);
    NormalizeFormat(g711, FormatUse::Received, 1);
    EXPECT_EQ(g711.bitRate, 64000);
    EXPECT_EQ(g711.sampleRate, 8000);
    EXPECT_EQ(g711.deviceMode, 10);
    EXPECT_EQ(g711.frameBytes, 96);
    AudioFormat aptx = TestFormat(CODING_APTX, 0, 15754, 20);
    NormalizeFormat(aptx, FormatUse::Received, 0);
    EXPECT_EQ(aptx.bitRate, 128000);  // 64000, doubled for two channels
    AudioFormat mp2 = TestFormat(CODING_MPEG_L2, 192000, 48000, 20);
    NormalizeFormat(mp2, FormatUse::Received, 0);
    EXPECT_EQ(mp2.bitRate, 192000);
    // A received format without a rate is no format.
    AudioFormat gone = TestFormat(CODING_PCM, 768000, 0, 10, 2304);
    NormalizeFormat(gone, FormatUse::Received, 0);
    EXPECT_EQ(gone.codingType, 0);
    // A PCM frame size of the peer's own is kept.
    AudioFormat own = TestFormat(CODING_PCM, 0, 48000, 10, 960);
    NormalizeFormat(own, FormatUse::Received, 0);
    EXPECT_EQ(own.frameBytes, 960);
    // An answer without a rate keeps what it had.
    AudioFormat answer = TestFormat(CODING_MPEG_L2, 128000, 0, 20, 417);
    NormalizeFormat(answer, FormatUse::Answer, 0);
    EXPECT_EQ(answer.bitRate, 128000);
    EXPECT_EQ(answer.frameBytes, 417);
}

TEST(FormatRulesTest, EqualityAndWhatAPassCarries) {
    AudioFormat a = TestFormat(CODING_APTX, 128000, 32000, 20, 384);
    AudioFormat b = a;
    b.frameBytes = 192;
    b.direction = 16;
    EXPECT_TRUE(SameFormat(a, b));  // frame size and direction do not count
    b.aptxOption = 0;
    EXPECT_FALSE(SameFormat(a, b));  // the option word does, for standard apt-X
    a.codingType = b.codingType = CODING_APTX_ENH;
    EXPECT_TRUE(SameFormat(a, b));
    EXPECT_TRUE(FrameFitsPass(AudioFormat()));
    EXPECT_TRUE(FrameFitsPass(TestFormat(CODING_PCM, 0, 48000, 20, 6144)));
    EXPECT_FALSE(FrameFitsPass(TestFormat(CODING_PCM, 0, 48000, 20, 6145)));
    EXPECT_FALSE(FrameFitsPass(TestFormat(CODING_MPEG_L3, -1, 48000, 20, -144)));
}

// Streams cannot say whether standard apt-X carries its sync pattern and the
// receiver always expects it: what goes out on them carries it. ISDN keeps
// the entry's choice, and other codings keep theirs.
TEST(FormatRulesTest, AptxOnAStreamAlwaysCarriesTheSyncPattern) {
    for (int kind : {TRANSPORT_TCP, TRANSPORT_MULTICAST}) {
        AudioFormat f = TestFormat(CODING_APTX, 384000, 48000, 20, 384);
        f.aptxOption = 0;
        MatchAptxOptionToTransport(f, kind);
        EXPECT_EQ(f.aptxOption, 1) << kind;
    }
    AudioFormat isdn = TestFormat(CODING_APTX, 64000, 16000, 10, 192);
    isdn.aptxOption = 0;
    MatchAptxOptionToTransport(isdn, TRANSPORT_ISDN);
    EXPECT_EQ(isdn.aptxOption, 0);
    AudioFormat enh = TestFormat(CODING_APTX_ENH, 384000, 48000, 20, 384);
    enh.aptxOption = 0;
    MatchAptxOptionToTransport(enh, TRANSPORT_TCP);
    EXPECT_EQ(enh.aptxOption, 0);
}

TEST(FormatRulesTest, DelayBufferSizes) {
    const AudioFormat mp2 = TestFormat(CODING_MPEG_L2, 128000, 48000, 20, 384);
    EXPECT_EQ(DelayBufferCapacity(mp2, 1000), 16000u);
    EXPECT_EQ(DelayBufferCapacity(mp2, 200), 3840u);  // ten frames at least
    EXPECT_EQ(DelayBufferCapacity(mp2, 550), 384u * 550 / 24);
    // A PCM frame shorter than a millisecond has no duration: no buffer.
    EXPECT_EQ(DelayBufferCapacity(TestFormat(CODING_PCM, 0, 48000, 20, 90), 500), 0u);
    EXPECT_EQ(DelayBufferCapacity(TestFormat(CODING_PCM, 0, 48000, 20, 100), 500), 50000u);  // 1 ms frames
    EXPECT_EQ(DelayBufferCapacity(TestFormat(3, 0, 48000, 20, 100), 500), 0u);  // unknown coding
}

TEST(FormatRulesTest, DelayTimeFromTheMeasurement) {
    EXPECT_EQ(DelayTimeFromMeasurement(BUFMODE_MEASURE_DELAY, 120, 80), 250);
    EXPECT_EQ(DelayTimeFromMeasurement(BUFMODE_MEASURE_DELAY, 900, 700), 800);
    EXPECT_EQ(DelayTimeFromMeasurement(BUFMODE_MEASURE_DELAY, 4000, 3000), 2000);
    EXPECT_EQ(DelayTimeFromMeasurement(BUFMODE_MEASURE_RELIABLE, 1800, 10), 2000);
    EXPECT_EQ(DelayTimeFromMeasurement(BUFMODE_MEASURE_RELIABLE, 100, 10), 400);
    // Unsigned maxima near the top do not wrap.
    EXPECT_EQ(DelayTimeFromMeasurement(BUFMODE_MEASURE_DELAY, 0xFFFFFFFFu, 0xFFFFFFFFu), 2000);
}

}  // namespace
