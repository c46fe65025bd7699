#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "common/L3Tables.h"
#include "mp3enc/l3core/core/bitmux/PerceptualEntropy.h"

namespace {

constexpr int kRow = 1;  // 44100 Hz
const int16_t* LongStart() { return l3tables::kSfbLong[kRow]; }
const int16_t* ShortStart() { return l3tables::kSfbShort[kRow]; }

struct Channel {
    std::vector<float> spectrum = std::vector<float>(576, 0.0f);
    std::vector<float> thrLong = std::vector<float>(kLongBands, 1.0f);
    std::vector<float> thrShort[3] = {std::vector<float>(kShortBands, 1.0f), std::vector<float>(kShortBands, 1.0f),
                                      std::vector<float>(kShortBands, 1.0f)};
    PsyGranuleChannel View(int blockType) {
        PsyGranuleChannel c{};
        c.blockType = blockType;
        c.spectrum = spectrum.data();
        c.thresholdLong = thrLong.data();
        for (int w = 0; w < 3; ++w) c.thresholdShort[w] = thrShort[w].data();
        return c;
    }
};

}  // namespace

TEST(PerceptualEntropy, LongBlocksSumTheLogOfEveryLineAboveItsThreshold) {
    std::mt19937 rng(7);
    std::normal_distribution<float> n(0.0f, 2000.0f);
    Channel ch;
    for (int k = 0; k < 576; ++k) ch.spectrum[k] = k % 5 == 3 ? 0.0f : n(rng);
    for (int b = 0; b < kLongBands; ++b) ch.thrLong[b] = 0.5f + static_cast<float>(b);
    double sum = 0.0;  // the direct formula
    for (int b = 0; b < kLongBands; ++b) {
        const int w = LongStart()[b + 1] - LongStart()[b];
        for (int k = LongStart()[b]; k < LongStart()[b + 1]; ++k)
            if (ch.spectrum[k] != 0.0f)
                sum += std::log2(1.5 + double(ch.spectrum[k]) * ch.spectrum[k] * w / ch.thrLong[b]);
    }
    ASSERT_GT(sum, 1000.0);  // far past the 1e30 renormalisation of the product
    for (int type : {0, 1, 3, 4, 6}) EXPECT_EQ(PerceptualEntropy(ch.View(type), LongStart(), ShortStart(), 0), int(sum + 0.5));
    Channel silent;
    EXPECT_EQ(PerceptualEntropy(silent.View(0), LongStart(), ShortStart(), 0), 0);
}

TEST(PerceptualEntropy, ShortBlocksReadTheInterleavedWindowsWithTheirOwnThresholds) {
    Channel ch;
    const int band = 5, width = ShortStart()[band + 1] - ShortStart()[band];
    for (int k = 0; k < width; ++k) ch.spectrum[ShortStart()[band] * 3 + 3 * k + 1] = 100.0f;  // window 1 only
    const double expected = width * std::log2(1.5 + 100.0 * 100.0 * width / 1.0);
    EXPECT_EQ(PerceptualEntropy(ch.View(2), LongStart(), ShortStart(), 0), int(expected + 0.5));
    ch.thrShort[0][band] = 1e6f;  // another window's threshold changes nothing
    EXPECT_EQ(PerceptualEntropy(ch.View(2), LongStart(), ShortStart(), 0), int(expected + 0.5));
    ch.thrShort[1][band] = 1e6f;
    EXPECT_LT(PerceptualEntropy(ch.View(2), LongStart(), ShortStart(), 0), int(expected + 0.5));
    // A zero threshold says nothing about the band instead of dividing by it.
    ch.thrShort[1][band] = 0.0f;
    EXPECT_EQ(PerceptualEntropy(ch.View(2), LongStart(), ShortStart(), 0), 0);
}

TEST(PerceptualEntropy, MixedBlocksTakeTheLowLongBandsThenShortBandsFromThree) {
    Channel ch;
    ch.spectrum[LongStart()[7]] = 10.0f;    // long band 7: in the mixed part for MPEG-1 only
    ch.spectrum[ShortStart()[4] * 3 + 2] = 10.0f;  // short band 4, window 2
    const int w7 = LongStart()[8] - LongStart()[7], w4 = ShortStart()[5] - ShortStart()[4];
    const double b7 = std::log2(1.5 + 100.0 * w7), b4 = std::log2(1.5 + 100.0 * w4);
    EXPECT_EQ(PerceptualEntropy(ch.View(5), LongStart(), ShortStart(), 0), int(b7 + b4 + 0.5));
    EXPECT_EQ(PerceptualEntropy(ch.View(5), LongStart(), ShortStart(), 1), int(b4 + 0.5));
    EXPECT_EQ(PerceptualEntropy(ch.View(9), LongStart(), ShortStart(), 0), 0);
}
