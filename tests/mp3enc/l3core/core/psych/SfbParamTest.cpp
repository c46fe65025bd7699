#include <gtest/gtest.h>

#include <vector>

#include "mp3enc/l3core/core/psych/SfbParam.h"

TEST(SfbParam, RecordsHoldTheWidthsStartsAndLineLimitsOfEveryRate) {
    SfbParam* p = SfbParamCreate(0, 48000.0f);
    ASSERT_NE(p, nullptr);
    const std::vector<int> starts48k = {0,  4,  8,  12, 16,  20,  24,  30,  36,  42,  50, 60,
                                        72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576};
    EXPECT_EQ(std::vector<int>(p->start, p->start + 23), starts48k);
    EXPECT_EQ(p->lineCount, 576);
    EXPECT_EQ(p->bandCount, 21);
    EXPECT_EQ(p->lineLimit, 482);
    EXPECT_EQ(p->width[21], 192);
    SfbParamFree(p);

    // 8000 Hz has tables of its own; 11025 and 12000 Hz take the 16000 Hz widths.
    SfbParam* l8 = SfbParamCreate(3, 8000.0f);
    SfbParam* s8 = SfbParamCreate(2, 8000.0f);
    ASSERT_TRUE(l8 && s8);
    EXPECT_EQ(std::vector<int>(l8->width, l8->width + 22),
              (std::vector<int>{12, 12, 12, 12, 12, 12, 16, 20, 24, 28, 32, 40, 48, 56, 64, 76, 90, 2, 2, 2, 2, 2}));
    EXPECT_EQ(std::vector<int>(s8->width, s8->width + 13),
              (std::vector<int>{8, 8, 8, 12, 16, 20, 24, 28, 36, 2, 2, 2, 26}));
    EXPECT_EQ(s8->lineCount, 192);
    EXPECT_EQ(s8->lineLimit, 166);
    EXPECT_EQ(s8->width[13], 0);
    EXPECT_EQ(s8->start[13], 192);
    SfbParamFree(l8);
    SfbParamFree(s8);
    SfbParam* a = SfbParamCreate(1, 11025.0f);
    SfbParam* b = SfbParamCreate(1, 16000.0f);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(std::vector<int>(a->start, a->start + 23), std::vector<int>(b->start, b->start + 23));
    SfbParamFree(a);
    SfbParamFree(b);

    for (const float hz : {8000.f, 11025.f, 12000.f, 16000.f, 22050.f, 24000.f, 32000.f, 44100.f, 48000.f}) {
        for (const int kind : {0, 2}) {
            SfbParam* r = SfbParamCreate(kind, hz);
            ASSERT_NE(r, nullptr) << hz;
            int sum = 0;
            for (int i = 0; i <= r->bandCount; ++i) {
                EXPECT_GT(r->width[i], 0) << hz;
                sum += r->width[i];
            }
            EXPECT_EQ(sum, r->lineCount) << hz;
            EXPECT_LE(r->lineLimit, r->lineCount);
            SfbParamFree(r);
        }
    }
    EXPECT_EQ(SfbParamCreate(0, 44000.0f), nullptr);
    EXPECT_EQ(SfbParamCreate(4, 44100.0f), nullptr);
    SfbParamFree(nullptr);
}

TEST(SfbParam, FrequenciesMapToBordersAndBandsOnTheTablesOwnScale) {
    SfbParam* p = SfbParamCreate(0, 44100.0f);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(p->start[21], 418);
    // 1000 Hz is line 19 of 418: between starts 16 and 20.
    EXPECT_EQ(SfbNearestBorder(1000.0f, 44100.0f, 21, p->start), 5);
    EXPECT_EQ(SfbBandOf(1000.0f, 44100.0f, 21, p->start), 4);
    EXPECT_EQ(SfbNearestBorder(22050.0f, 44100.0f, 21, p->start), 21);
    EXPECT_EQ(SfbBandOf(22050.0f, 44100.0f, 21, p->start), 21);
    // Line 18, midway between 16 and 20: the lower border.
    EXPECT_EQ(SfbNearestBorder(18.0f * 22050.0f / 418.0f, 44100.0f, 21, p->start), 4);
    EXPECT_EQ(SfbNearestBorder(0.0f, 44100.0f, 21, p->start), 0);
    EXPECT_EQ(SfbBandOf(-5.0f, 44100.0f, 21, p->start), 0);
    EXPECT_EQ(SfbBandOf(1000.0f, 0.0f, 21, p->start), 0);  // no rate: no division by zero
    SfbParamFree(p);
}
