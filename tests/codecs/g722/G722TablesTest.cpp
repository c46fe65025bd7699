#include "codecs/g722/G722Tables.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "codecs/G7xxPeer.h"
#include "codecs/g722/Q15.h"

namespace {

using namespace g7xx_test;
using namespace g722;

// The committed header is exactly what the generator makes of the table files.
TEST(G722TablesTest, HeaderMatchesGenerator) {
    if (!HavePeer("python3")) GTEST_SKIP() << "python3 not on PATH";
    CScratchDir dir;
    ASSERT_TRUE(dir.Ok());
    const std::string root = VELMORA_SOURCE_DIR;
    ASSERT_EQ(RunCommand("python3 " + root + "/tools/gen_tables/gen_g722_tables.py --stdout " + root + " > " +
                         (dir / "G722Tables.h")),
              0);
    const std::vector<uint8_t> fresh = ReadBytes(dir / "G722Tables.h");
    const std::vector<uint8_t> committed = ReadBytes(root + "/codecs/g722/G722Tables.h");
    ASSERT_FALSE(fresh.empty());
    EXPECT_EQ(fresh, committed) << "run python3 tools/gen_tables/gen_g722_tables.py";
}

// The one-look-up scale table equals the shift form built from the 32-entry
// table for every index, so the scale factors are those of the recommendation.
TEST(G722TablesTest, LogToLinearTableFollowsFromIlb) {
    for (int j = 0; j <= 352; ++j) {
        const int shift = 10 - (j >> 5);
        const int base = kIlb[j & 31];
        const int expected = (shift >= 0 ? base >> shift : base << -shift) - 1;
        EXPECT_EQ(kIla[j], expected) << j;
        if (j > 0) {
            EXPECT_GE(kIla[j], kIla[j - 1]) << j;
        }
    }
    // Reachable scale factors fit the 16-bit arithmetic: (ILA + 1) * 4 <= 32767.
    EXPECT_LE((kIla[(18432 >> 6) + 64] + 1) * 4, 32767);
    EXPECT_LE((kIla[22528 >> 6] + 1) * 4, 32767);
}

TEST(G722TablesTest, QuantiserTablesAreConsistent) {
    for (int m = 2; m <= 29; ++m) EXPECT_GT(kQ6[m], kQ6[m - 1]) << m;
    // Each output level lies in its decision interval.
    for (int m = 1; m <= 29; ++m) {
        EXPECT_GE(kQq6[m], kQ6[m - 1]) << m;
        EXPECT_LT(kQq6[m], kQ6[m]) << m;
    }
    // The decoder's code table inverts the encoder's for every code it sends.
    for (int m = 1; m <= 30; ++m) {
        EXPECT_EQ(kIl6[kIln[m]], m);
        EXPECT_EQ(kSil6[kIln[m]], -1);
        EXPECT_EQ(kIl6[kIlp[m]], m);
        EXPECT_EQ(kSil6[kIlp[m]], 0);
    }
    for (int m = 1; m <= 2; ++m) {
        EXPECT_EQ(kIh2[kIhn[m]], m);
        EXPECT_EQ(kSih2[kIhn[m]], -1);
        EXPECT_EQ(kIh2[kIhp[m]], m);
        EXPECT_EQ(kSih2[kIhp[m]], 0);
    }
    // The QMF is symmetric and has unit gain in each half.
    int even = 0, odd = 0;
    for (int i = 0; i < 24; ++i) {
        EXPECT_EQ(kQmfCoefficients[i], kQmfCoefficients[23 - i]) << i;
        (i % 2 ? odd : even) += kQmfCoefficients[i];
    }
    EXPECT_EQ(even, 4096);
    EXPECT_EQ(odd, 4096);
}

// The saturating operators against plain 64-bit arithmetic on a grid that
// includes both ends of the range.
TEST(Q15Test, OperatorsSaturateInsteadOfOverflowing) {
    auto clamp = [](int64_t v) { return v > 32767 ? 32767 : (v < -32768 ? -32768 : v); };
    std::vector<int> values;
    for (int v = -32768; v <= 32767; v += 257) values.push_back(v);
    for (int v : {-32768, -32767, -16384, -2, -1, 0, 1, 2, 16383, 16384, 32766, 32767}) values.push_back(v);
    for (int a : values) {
        const auto a16 = static_cast<int16_t>(a);
        ASSERT_EQ(SatNeg16(a16), clamp(-int64_t{a}));
        ASSERT_EQ(Limit15(a), a > 16383 ? 16383 : (a < -16384 ? -16384 : a));
        for (int n = 0; n <= 16; ++n) {
            ASSERT_EQ(Shl16(a16, n), clamp(int64_t{a} * (int64_t{1} << n))) << a << " << " << n;
            ASSERT_EQ(Shr16(a16, n), a >> (n > 15 ? 15 : n)) << a << " >> " << n;
        }
        ASSERT_EQ(Shl16(a16, -3), a >> 3);
        for (int b : values) {
            const auto b16 = static_cast<int16_t>(b);
            ASSERT_EQ(SatAdd16(a16, b16), clamp(int64_t{a} + b));
            ASSERT_EQ(SatSub16(a16, b16), clamp(int64_t{a} - b));
            const int64_t p = int64_t{a} * b;
            const int64_t floorShift = p >= 0 ? p / 32768 : -((-p + 32767) / 32768);
            ASSERT_EQ(MulQ15(a16, b16), clamp(floorShift)) << a << " * " << b;
        }
    }
}

}  // namespace
