// The compressed-WAV converter's block handling and refusals; the codings
// themselves are checked against sox through the WAV reader's tests.
#include "audio/AcmConverter.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

WaveFormatInfo Ima(int channels, int blockAlign) {
    WaveFormatInfo f;
    f.formatTag = 0x11;
    f.channels = channels;
    f.sampleRate = 8000;
    f.blockAlign = blockAlign;
    f.bitsPerSample = 4;
    return f;
}

TEST(AcmConverterTest, ConvertsWholeBlocksAndFlagsOnlyTheFirstCall) {
    CAcmConverter c;
    ASSERT_EQ(c.Open(Ima(1, 256)), 1);
    EXPECT_EQ(c.GetSourceBlock(), 256);
    EXPECT_EQ(c.GetPcmBlock(), 505 * 2);
    EXPECT_EQ(c.GetOutputSize(10240), 40 * 1010);
    std::vector<uint8_t> source(256 * 3 + 100);
    std::vector<int16_t> pcm(505 * 4);
    int consumed = -1;
    // Less than one block converts nothing.
    EXPECT_EQ(c.Convert(source.data(), 255, &consumed, pcm.data(), 4040, 0), 0);
    EXPECT_EQ(consumed, 0);
    EXPECT_EQ(c.IsAtStart(), 1);
    // Blocks are bounded by both sides: three in, room for two out.
    EXPECT_EQ(c.Convert(source.data(), static_cast<int>(source.size()), &consumed, pcm.data(), 2 * 1010 + 7, 0), 2020);
    EXPECT_EQ(consumed, 512);
    EXPECT_EQ(c.IsAtStart(), 0);
    EXPECT_EQ(c.Convert(source.data(), 356, &consumed, pcm.data(), 4040, 1), 1010);
    EXPECT_EQ(consumed, 256);
    c.Close();
    EXPECT_EQ(c.GetOutputSize(256), 0);
    EXPECT_EQ(c.Convert(source.data(), 256, &consumed, pcm.data(), 4040, 0), 0);
    // Reopening starts a new stream.
    ASSERT_EQ(c.Open(Ima(2, 512)), 1);
    EXPECT_EQ(c.IsAtStart(), 1);
}

TEST(AcmConverterTest, RefusesWhatItCannotConvertAndSaysWhat) {
    CAcmConverter c;
    WaveFormatInfo f = Ima(1, 0);
    EXPECT_EQ(c.Open(f), 0);  // block align 0 would divide by zero
    EXPECT_EQ(c.GetLastResult(), kAcmResultInvalidParameter);
    f = Ima(1, 255);  // not whole 4-byte groups
    EXPECT_EQ(c.Open(f), 0);
    EXPECT_NE(c.GetErrorText().find("IMA ADPCM"), std::string::npos) << c.GetErrorText();
    f.formatTag = 0x55;  // Layer III inside WAV
    f.blockAlign = 1;
    EXPECT_EQ(c.Open(f), 0);
    EXPECT_EQ(c.GetLastResult(), kAcmResultNotPossible);
    EXPECT_NE(c.GetErrorText().find("0x0055"), std::string::npos) << c.GetErrorText();
    f = Ima(3, 256 * 3);
    EXPECT_EQ(c.Open(f), 0);
    // MS ADPCM without its predictor pairs, or with a samples-per-block word beyond the block.
    WaveFormatInfo ms = Ima(1, 256);
    ms.formatTag = 2;
    EXPECT_EQ(c.Open(ms), 0);
    const uint8_t extra[8] = {0xF4, 0x01, 1, 0, 0, 1, 0, 0};  // 500 samples, one pair (256, 0)
    ms.extra = extra;
    ms.extraBytes = 8;
    EXPECT_EQ(c.Open(ms), 1);
    const uint8_t tooMany[8] = {0xF5, 0x01, 1, 0, 0, 1, 0, 0};
    ms.extra = tooMany;
    EXPECT_EQ(c.Open(ms), 0);
    // A predictor index past the pairs in the data is the file's fault: decoding stays in bounds.
    ms.extra = extra;
    ASSERT_EQ(c.Open(ms), 1);
    std::vector<uint8_t> block(256, 0x77);
    std::vector<int16_t> pcm(500);
    int consumed = 0;
    EXPECT_EQ(c.Convert(block.data(), 256, &consumed, pcm.data(), 1000, 1), 1000);
}

}  // namespace
