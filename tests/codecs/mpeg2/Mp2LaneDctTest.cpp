#include "codecs/mpeg2/Mp2LaneDct.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "support/FloatPatterns.h"

namespace {

// Four and eight blocks at once give each block the bits of the portable
// one-block DCT (on a processor without AVX2, Run8 is two Run4).
TEST(Mp2LaneDct, EveryLaneGivesThePortableBits) {
    const CMp2LaneDct lanes;
    const CSubbandDct one;
    for (uint32_t seed = 1; seed <= 30; ++seed) {
        SCOPED_TRACE(testing::Message() << "seed " << seed << (lanes.Wide() ? ", AVX2" : ""));
        const std::vector<float> in = PatternValues(8 * 32, seed);
        float want[8][32];
        std::memcpy(want, in.data(), sizeof want);
        for (auto& block : want) one.RunPortable(block, 32);
        float four[8][32];
        std::memcpy(four, in.data(), sizeof four);
        lanes.Run4(four);
        lanes.Run4(four + 4);
        EXPECT_EQ(std::memcmp(four, want, sizeof want), 0) << "four lanes";
        float eight[8][32];
        std::memcpy(eight, in.data(), sizeof eight);
        lanes.Run8(eight);
        EXPECT_EQ(std::memcmp(eight, want, sizeof want), 0) << "eight lanes";
    }
}

}  // namespace
