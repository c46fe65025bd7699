#include "codecs/simd/VectorPath.h"

#include <gtest/gtest.h>

#include <cstdio>

namespace {

TEST(VectorPath, TheChosenPathRunsHereAndScalarAlwaysDoes) {
    EXPECT_TRUE(VectorPathSupported(EVectorPath::Scalar));
    EXPECT_TRUE(VectorPathSupported(BestVectorPath()));
#if defined(__x86_64__)
    EXPECT_TRUE(VectorPathSupported(EVectorPath::Sse2));
    EXPECT_NE(BestVectorPath(), EVectorPath::Scalar);
#endif
    if (VectorPathSupported(EVectorPath::Avx2)) {
        EXPECT_EQ(BestVectorPath(), EVectorPath::Avx2);
    }
    std::printf("vector path here: %s\n", VectorPathName(BestVectorPath()));
}

}  // namespace
