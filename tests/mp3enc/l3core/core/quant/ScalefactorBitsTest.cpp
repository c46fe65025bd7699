#include "mp3enc/l3core/core/quant/ScalefactorBits.h"

#include <gtest/gtest.h>

#include "common/L3Tables.h"

namespace {

// A long right channel of an intensity granule: positions from band 15,
// bands 12 to 14 quantised to zeros, bands 0 to 11 sounding with factor 2.
GranuleInfo LongIntensityRight(int lowerRate, int position, bool* zero) {
    GranuleInfo info{};
    info.lowerRate = lowerRate;
    info.intensity = 1;
    for (int r = 0; r < kMaxScalefactors; ++r) {
        info.isPosition[r] = r >= 15 && r < 21 ? position : kNotIntensity;
        info.scalefac[r] = r < 12 ? 2 : 9;  // what the loop left above band 11 must not reach the stream
        zero[r] = r >= 12;
    }
    return info;
}

}  // namespace

// MPEG-1: positions replace the factors above the bound, and the zero bands
// just below it, which a decoder also takes for intensity bands, carry 7.
TEST(ScalefactorBits, Mpeg1IntensityBandsCarryPositionsAndTheZeroBandsBelowSeven) {
    bool zero[kMaxScalefactors + 3] = {};
    GranuleInfo info = LongIntensityRight(0, 5, zero);
    const int bits = ScalefactorBits(&info, 0, zero, 21, true);
    ASSERT_GT(bits, 0);
    for (int r = 0; r < 12; ++r) EXPECT_EQ(info.scalefac[r], 2) << r;
    for (int r = 12; r < 15; ++r) EXPECT_EQ(info.scalefac[r], 7) << r;
    for (int r = 15; r < 21; ++r) EXPECT_EQ(info.scalefac[r], 5) << r;
    EXPECT_EQ(info.slen[2], 3);
}

// MPEG-2: the intensity tables (scalefac_compress / 2, intensity_scale 0 in
// the low bit); each group is wide enough that a position never reads as its
// largest value, and the zero bands below the bound carry that largest value.
TEST(ScalefactorBits, LowerRateIntensityUsesItsOwnTablesAndKeepsPositionsLegal) {
    for (int position : {0, 3, 6}) {
        SCOPED_TRACE(position);
        bool zero[kMaxScalefactors + 3] = {};
        GranuleInfo info = LongIntensityRight(1, position, zero);
        const int bits = ScalefactorBits(&info, 0, zero, 21, true);
        ASSERT_GE(bits, 0);
        EXPECT_EQ(info.scalefacCompress % 2, 0);
        const l3tables::LsfSlen& e = l3tables::kLsfSlen[1][info.scalefacCompress >> 1];
        EXPECT_GE(e.block, 3);
        int r = 0, total = 0;
        for (int g = 0; g < 4; ++g) {
            EXPECT_EQ(info.groupCount[g], l3tables::kLsfPartitions[e.block][0][g]);
            EXPECT_EQ(info.slen[g], e.slen[g]);
            total += info.groupCount[g] * info.slen[g];
            const int illegal = (1 << info.slen[g]) - 1;
            for (int k = 0; k < info.groupCount[g]; ++k, ++r) {
                if (r >= 15) {
                    EXPECT_EQ(info.scalefac[r], position) << r;
                    EXPECT_LT(info.scalefac[r], illegal) << r;
                } else if (r >= 12) {
                    EXPECT_EQ(info.scalefac[r], illegal) << r;
                } else {
                    EXPECT_EQ(info.scalefac[r], 2) << r;
                }
            }
        }
        EXPECT_EQ(r, 21);
        EXPECT_EQ(bits, total);
    }
}

// Short blocks walk each window on its own: a window that sounds up to its
// bound marks nothing, a silent window marks every band below it.
TEST(ScalefactorBits, ShortWindowsMarkTheirOwnZeroBands) {
    GranuleInfo info{};
    info.intensity = 1;
    bool zero[kMaxScalefactors + 3] = {};
    for (int b = 0; b < 12; ++b)
        for (int w = 0; w < 3; ++w) {
            const int r = 3 * b + w;
            info.isPosition[r] = b >= 8 ? 2 : kNotIntensity;
            info.scalefac[r] = 1;
            zero[r] = b >= 8 || (w == 1 && b >= 5) || w == 2;
        }
    ASSERT_GT(ScalefactorBits(&info, 1, zero, 36, true), 0);
    for (int b = 0; b < 12; ++b) {
        EXPECT_EQ(info.scalefac[3 * b], b >= 8 ? 2 : 1) << b;
        EXPECT_EQ(info.scalefac[3 * b + 1], b >= 8 ? 2 : (b >= 5 ? 7 : 1)) << b;
        EXPECT_EQ(info.scalefac[3 * b + 2], b >= 8 ? 2 : 7) << b;
    }
}

// Without intensity the factors of zero bands are 0, restored after counting.
TEST(ScalefactorBits, CountingRestoresTheFactors) {
    GranuleInfo info{};
    bool zero[kMaxScalefactors + 3] = {};
    for (int r = 0; r < 21; ++r) {
        info.scalefac[r] = r % 4;
        zero[r] = r > 17;
    }
    const int bits = ScalefactorBits(&info, 0, zero, 21, false);
    EXPECT_EQ(bits, 6 * 2 + 5 * 2 + 5 * 2 + 5 * 2);
    for (int r = 0; r < 21; ++r) EXPECT_EQ(info.scalefac[r], r % 4);
}
