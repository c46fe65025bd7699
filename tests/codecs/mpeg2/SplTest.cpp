#include "codecs/mpeg2/Spl.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

struct Reports {
    std::vector<std::string> contexts;
};
Reports* g_reports = nullptr;

int Collect(int status, const char*, const char* context, const char*, int) {
    if (g_reports) g_reports->contexts.emplace_back(context ? context : "");
    return status;
}

struct SplTest : ::testing::Test {
    Reports reports;
    SplErrorHandler previous = nullptr;
    void SetUp() override {
        g_reports = &reports;
        previous = SplSetErrorHandler(Collect);
    }
    void TearDown() override {
        SplSetErrorHandler(previous);
        g_reports = nullptr;
        SplSetStatus(0);
    }
};

TEST_F(SplTest, RoundsToNearestEvenAndSaturates) {
    const float src[] = {32767.4f, 32767.6f, 2.5f, 3.5f, -2.5f, -40000.0f, 40000.0f, -32768.5f};
    int16_t dst[8] = {};
    splsbFloatToInt(src, dst, 8, 16, CONVERT_ROUND | CONVERT_CLIP);
    const int16_t want[] = {32767, 32767, 2, 4, -2, -32768, 32767, -32768};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(dst[i], want[i]) << i;
    EXPECT_EQ(SplGetStatus(), 0);
    EXPECT_TRUE(reports.contexts.empty());
}

TEST_F(SplTest, OverflowIsReportedAfterWriting) {
    const float src[] = {40000.0f};
    int16_t dst[1] = {};
    splsbFloatToInt(src, dst, 1, 16, CONVERT_ROUND | CONVERT_CLIP | CONVERT_OVERFLOW_ERROR);
    EXPECT_EQ(dst[0], 32767);
    ASSERT_EQ(reports.contexts.size(), 1u);
    EXPECT_EQ(reports.contexts[0], "A float exceeds an integer");
    EXPECT_EQ(SplGetStatus(), -5);
}

TEST_F(SplTest, BadArgumentsAreAllReportedAndNothingIsConverted) {
    const float src[] = {1.0f};
    int16_t dst[1] = {77};
    splsbFloatToInt(src, dst, 1, 16, 0x0180);
    EXPECT_EQ(dst[0], 77);
    splsbFloatToInt(nullptr, dst, 0, 16, CONVERT_ROUND);
    splsbFloatToInt(src, dst, 1, 24, CONVERT_ROUND);
    ASSERT_EQ(reports.contexts.size(), 4u);
    EXPECT_EQ(reports.contexts[0], "Invalid conversion flag");
    EXPECT_EQ(reports.contexts[1], "len<=0");
    EXPECT_EQ(reports.contexts[2], "src==0");
    EXPECT_EQ(reports.contexts[3], "Invalid size of an integer");
    EXPECT_EQ(dst[0], 77);
}

TEST_F(SplTest, WrapAroundAndOtherDirections) {
    const float src[] = {40000.0f, -1.5f, 1.5f, -1.5f, 1.2f};
    int16_t w[1];
    splsbFloatToInt(src, w, 1, 16, CONVERT_ROUND);
    EXPECT_EQ(w[0], -25536);
    int32_t z[1], n[1], p[1];
    splsbFloatToInt(src + 1, z, 1, 32, CONVERT_TRUNC_ZERO);
    splsbFloatToInt(src + 3, n, 1, 32, CONVERT_TRUNC_NEG);
    splsbFloatToInt(src + 4, p, 1, 32, CONVERT_TRUNC_POS);
    EXPECT_EQ(z[0], -1);
    EXPECT_EQ(n[0], -2);
    EXPECT_EQ(p[0], 2);
    const float u[] = {-3.0f, 300.0f, 65535.4f};
    uint8_t b[2];
    splsbFloatToInt(u, b, 2, 8, CONVERT_ROUND | CONVERT_UNSIGNED | CONVERT_CLIP);
    EXPECT_EQ(b[0], 0);
    EXPECT_EQ(b[1], 255);
    uint16_t h[1];
    splsbFloatToInt(u + 2, h, 1, 16, CONVERT_ROUND | CONVERT_UNSIGNED | CONVERT_CLIP);
    EXPECT_EQ(h[0], 65535);
}

TEST_F(SplTest, StatusTextsAndSilentMode) {
    EXPECT_STREQ(SplStatusText(0), "No Error");
    EXPECT_STREQ(SplStatusText(-5), "Bad argument");
    EXPECT_STREQ(SplStatusText(-9), "Unknown error code -9");
    EXPECT_STREQ(SplStatusText(4), "Unknown status code 4");
    SplSetErrorHandler(nullptr);  // the default handler
    SplSetErrorMode(SPL_ErrorModeSilent);
    const float src[] = {1.0f};
    splsbFloatToInt(src, nullptr, 1, 16, CONVERT_ROUND);
    EXPECT_EQ(SplGetStatus(), -5);
    SplSetErrorMode(SPL_ErrorModeLeaf);
    EXPECT_EQ(SplReportError(0, "f", "c", "x", 1), 0);
    EXPECT_EQ(SplGetVersion()->major, 3);
    float f[2];
    const int16_t in[] = {-2, 4};
    SplIntToFloat16sScaled(in, f, 2, 1);
    EXPECT_EQ(f[0], -1.0f);
    EXPECT_EQ(f[1], 2.0f);
}

}  // namespace
