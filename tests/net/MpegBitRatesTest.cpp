// The committed bit-rate header is what the generator makes from the table file.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "net/MpegBitRates.h"

TEST(MpegBitRates, HeaderMatchesItsGenerator) {
    const std::string root = VELMORA_SOURCE_DIR;
    const std::string cmd = "python3 " + root + "/tools/gen_net_tables/gen_bitrates.py " + root +
                            "/net/tables/header_bitrates.txt";
    FILE* pipe = popen(cmd.c_str(), "r");
    if (!pipe) GTEST_SKIP() << "cannot run python3";
    std::string generated;
    char buf[512];
    size_t n;
    while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) generated.append(buf, n);
    if (pclose(pipe) != 0) GTEST_SKIP() << "python3 missing or generator failed";
    std::ifstream in(root + "/net/MpegBitRates.h");
    std::stringstream committed;
    committed << in.rdbuf();
    EXPECT_EQ(generated, committed.str());
}

TEST(MpegBitRates, RatesRiseWithTheIndex) {
    for (int i = 2; i < 15; ++i) {
        EXPECT_GT(kMpeg1Layer2Kbps[i], kMpeg1Layer2Kbps[i - 1]);
        EXPECT_GT(kMpeg1Layer3Kbps[i], kMpeg1Layer3Kbps[i - 1]);
        EXPECT_GT(kMpeg2Layer23Kbps[i], kMpeg2Layer23Kbps[i - 1]);
    }
    EXPECT_EQ(kMpeg1Layer2Kbps[0], 0);
    EXPECT_EQ(kMpeg1Layer2Kbps[15], -1);
}
