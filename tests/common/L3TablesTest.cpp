#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/L3Tables.h"
#include "support/FileText.h"
#include "support/TempDir.h"

using namespace l3tables;

TEST(L3Tables, CommittedHeaderMatchesRegeneratedOne) {
    // The test program lives in <build>/tests; the generator in <build>/tools.
    std::error_code ec;
    const auto build = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path().parent_path();
    const std::string gen = (build / "tools/gen_l3_tables/gen_l3_tables").string();
    ASSERT_FALSE(ec);
    ASSERT_TRUE(std::filesystem::exists(gen)) << "generator not built: " << gen;
    CTempDir dir("tables");
    const std::string src = VELMORA_SOURCE_DIR;
    ASSERT_EQ(std::system((gen + " " + src + "/common/tables " + (dir / "L3Tables.h")).c_str()), 0);
    EXPECT_EQ(Slurp(dir / "L3Tables.h"), Slurp(src + "/common/L3Tables.h"))
        << "run gen_l3_tables common/tables common/L3Tables.h";
}

namespace {
// Kraft sum scaled by 2^20 and a pairwise prefix check.
template <typename Code>
void ExpectCompletePrefixCode(const Code* codes, int n, const char* what) {
    uint64_t kraft = 0;
    for (int i = 0; i < n; ++i) {
        ASSERT_GE(codes[i].len, 1) << what;
        ASSERT_LE(codes[i].len, 20) << what;
        kraft += uint64_t{1} << (20 - codes[i].len);
        for (int j = 0; j < n; ++j) {
            if (i == j || codes[j].len < codes[i].len) continue;
            const uint32_t prefix = codes[j].bits >> (codes[j].len - codes[i].len);
            EXPECT_NE(prefix, codes[i].bits) << what << ": code " << i << " is a prefix of code " << j;
        }
    }
    EXPECT_EQ(kraft, uint64_t{1} << 20) << what;
}
}  // namespace

TEST(L3Tables, HuffmanTablesArePrefixFreeAndComplete) {
    for (int t = 0; t < 32; ++t) {
        const HuffInfo& info = kHuffInfo[t];
        if (info.codeTable != t) continue;
        EXPECT_EQ(info.count, info.xlen * info.ylen) << "table " << t;
        ExpectCompletePrefixCode(kHuffPairs + info.first, info.count, ("pair table " + std::to_string(t)).c_str());
    }
    ExpectCompletePrefixCode(kCount1[0], 16, "count1 A");
    ExpectCompletePrefixCode(kCount1[1], 16, "count1 B");
    // Escape tables share their codes and carry the linbits of the standard.
    for (int t = 17; t <= 23; ++t) EXPECT_EQ(kHuffInfo[t].first, kHuffInfo[16].first) << t;
    for (int t = 25; t <= 31; ++t) EXPECT_EQ(kHuffInfo[t].first, kHuffInfo[24].first) << t;
    for (int t : {0, 4, 14}) EXPECT_EQ(kHuffInfo[t].xlen, 0) << t;
    const int linbits[16] = {1, 2, 3, 4, 6, 8, 10, 13, 4, 5, 6, 7, 8, 9, 11, 13};
    for (int t = 16; t < 32; ++t) EXPECT_EQ(kHuffInfo[t].linbits, linbits[t - 16]) << t;
}

TEST(L3Tables, BandEdgesRiseToTheGranuleEnd) {
    for (int r = 0; r < 9; ++r) {
        EXPECT_EQ(kSfbLong[r][0], 0);
        EXPECT_EQ(kSfbLong[r][22], 576);
        EXPECT_EQ(kSfbShort[r][13], 192);
        for (int b = 0; b < 22; ++b) EXPECT_LT(kSfbLong[r][b], kSfbLong[r][b + 1]) << kSfbRateHz[r];
        for (int b = 0; b < 13; ++b) EXPECT_LT(kSfbShort[r][b], kSfbShort[r][b + 1]) << kSfbRateHz[r];
        // A mixed block's long part ends where its short part begins.
        EXPECT_EQ(kSfbLong[r][kSfbRateHz[r] >= 32000 ? 8 : 6], 3 * kSfbShort[r][3]) << kSfbRateHz[r];
    }
}

TEST(L3Tables, SynthesisWindowIsOddSymmetric) {
    for (int i = 1; i < 512; ++i) {
        if (i % 64 == 0) EXPECT_EQ(kSynthWindow[512 - i], kSynthWindow[i]) << i;
        else EXPECT_EQ(kSynthWindow[512 - i], -kSynthWindow[i]) << i;
    }
}

TEST(L3Tables, LsfScaleFactorPartitionsCoverTheBands) {
    for (int b = 0; b < 6; ++b) {
        int sums[3] = {};
        for (int c = 0; c < 3; ++c)
            for (int p = 0; p < 4; ++p) sums[c] += kLsfPartitions[b][c][p];
        EXPECT_LE(sums[0], 21) << b;
        EXPECT_LE(sums[1], 36) << b;
        EXPECT_LE(sums[2], 33) << b;
    }
    for (int k = 0; k < 512; ++k) EXPECT_LT(kLsfSlen[0][k].block, 6) << k;
}
