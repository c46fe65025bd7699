#include <gtest/gtest.h>

#include <utility>

#include "mp3enc/l3core/core/psych/FloatFifo.h"

TEST(FloatFifo, KeepsTheLastDepthVectorsNewestFirst) {
    FloatFifo* f = nullptr;
    ASSERT_EQ(CreateFloatFifo(&f, 3, 4), nullptr);
    for (int p = 1; p <= 4; ++p) {
        const float v[4] = {float(p), float(p), float(p), float(p)};
        FloatFifoPush(f, v);
    }
    EXPECT_EQ(f->fill, 3);
    ASSERT_NE(FloatFifoEntry(f, 0), nullptr);
    EXPECT_EQ(FloatFifoEntry(f, 0)[3], 4.0f);
    EXPECT_EQ(FloatFifoEntry(f, 2)[0], 2.0f);
    EXPECT_EQ(FloatFifoEntry(f, 3), nullptr);
    FloatFifoPushZeros(f);
    EXPECT_EQ(FloatFifoEntry(f, 0)[1], 0.0f);
    EXPECT_EQ(FloatFifoEntry(f, 1)[1], 4.0f);
    DeleteFloatFifo(f);
    DeleteFloatFifo(nullptr);

    for (const auto& [depth, length] : {std::pair{0, 4}, std::pair{3, 0}}) {
        FloatFifo* bad = nullptr;
        EncError* e = CreateFloatFifo(&bad, depth, length);
        ASSERT_NE(e, nullptr);
        EXPECT_STREQ(e->message, "invalid function parameters");
        EXPECT_EQ(bad, nullptr);
        ErrorFree(e);
    }
    FloatFifo* empty = nullptr;
    ASSERT_EQ(CreateFloatFifo(&empty, 2, 8), nullptr);
    EXPECT_EQ(FloatFifoEntry(empty, 0), nullptr);
    DeleteFloatFifo(empty);
}
