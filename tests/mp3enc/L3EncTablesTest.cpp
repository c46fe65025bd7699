#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "mp3enc/L3EncTables.h"
#include "support/TempDir.h"

TEST(L3EncTables, CommittedHeaderMatchesRegeneratedOne) {
    if (std::system("python3 --version > /dev/null 2>&1") != 0) GTEST_SKIP() << "python3 missing";
    CTempDir dir;
    const std::string root = VELMORA_SOURCE_DIR;
    const std::string out = dir.File("L3EncTables.h");
    ASSERT_EQ(std::system(("python3 " + root + "/tools/gen_l3enc_tables/gen_l3enc_tables.py " + root +
                           "/mp3enc/tables > " + out)
                              .c_str()),
              0);
    auto read = [](const std::string& p) {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(read(out), read(root + "/mp3enc/L3EncTables.h")) << "run tools/gen_l3enc_tables/gen_l3enc_tables.py";
}

TEST(L3EncTables, BandEdgesRiseToTheGranuleAndEscapeTablesShareCodes) {
    for (int r = 0; r < 9; ++r) {
        EXPECT_EQ(l3enc::kSfbLong[r][0], 0);
        EXPECT_EQ(l3enc::kSfbLong[r][22], 576);
        EXPECT_EQ(l3enc::kSfbShort[r][13], 192);
        for (int b = 0; b < 22; ++b) EXPECT_LT(l3enc::kSfbLong[r][b], l3enc::kSfbLong[r][b + 1]);
        for (int b = 0; b < 13; ++b) EXPECT_LT(l3enc::kSfbShort[r][b], l3enc::kSfbShort[r][b + 1]);
    }
    for (int t = 17; t <= 23; ++t) EXPECT_EQ(l3enc::kHuffTable[t].first, l3enc::kHuffTable[16].first);
    for (int t = 25; t <= 31; ++t) EXPECT_EQ(l3enc::kHuffTable[t].first, l3enc::kHuffTable[24].first);
    EXPECT_EQ(l3enc::kHuffTable[4].xlen, 0);
    EXPECT_EQ(l3enc::kHuffTable[14].xlen, 0);
}
