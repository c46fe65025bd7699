#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "mp3enc/l3core/core/bitmux/BitFrame.h"
#include "mp3enc/l3core/core/cmdllib/uci/Uci.h"

namespace {

std::string InitMessage(int bitRate, int sampleRate, int version, int mode) {
    BitFrame f{};
    EncError* e = InitBitFrame(&f, bitRate, sampleRate, version, mode);
    std::string text = e && e->message ? e->message : "";
    if (e) {
        EXPECT_STREQ(e->source, "BitFrame.cpp");
        ErrorFree(e);
    }
    return text;
}

// Reservoir limit as the decoder's buffer allows it, worked out here apart.
int ExpectedLimit(int bitRate, int sampleRate) {
    const bool mpeg1 = sampleRate > 24000;
    const long long granuleBits = 576LL * bitRate / sampleRate;
    long long limit = 7680 - (mpeg1 ? 2 : 1) * granuleBits;
    if (limit > (mpeg1 ? 4088 : 2040)) limit = mpeg1 ? 4088 : 2040;
    if (limit < 0) limit = 0;
    return static_cast<int>((limit + 7) & ~7LL);
}

int VersionOf(int sampleRate) { return sampleRate > 24000 ? 0 : (sampleRate > 12000 ? 1 : 2); }

}  // namespace

TEST(BitFrame, PaddingCycleAt44100And128000) {
    BitFrame f{};
    ASSERT_EQ(InitBitFrame(&f, 128000, 44100, 0, kBitFrameMixed), nullptr);
    EXPECT_EQ(f.targetBytes, 417);
    EXPECT_EQ(f.targetRemainder, 42300);
    long long total = 0;
    for (int n = 1; n <= 441; ++n) {
        const int mean = BeginBitFrame(&f);
        EXPECT_EQ(mean, (417 + f.paddingBit) * 8);
        EXPECT_EQ(f.bitRateIndex, 9);
        EXPECT_EQ(f.frameBytes, 417 + f.paddingBit);
        if (n == 1 || n == 26) {
            EXPECT_EQ(f.paddingBit, 0) << "frame " << n;
        } else if (n <= 25) {
            EXPECT_EQ(f.paddingBit, 1) << "frame " << n;
        }
        total += f.frameBytes;
        // Never more than one byte off the exact rate.
        const double exact = n * 128000.0 * 144.0 / 44100.0;
        EXPECT_LT(std::abs(static_cast<double>(total) - exact), 1.0) << "frame " << n;
        EndBitFrame(&f, 0);
    }
    EXPECT_EQ(total, 441LL * 128000 * 144 / 44100);  // 441 frames are a whole number of bytes

    ASSERT_EQ(InitBitFrame(&f, 128000, 48000, 0, kBitFrameMixed), nullptr);
    for (int n = 0; n < 100; ++n) {
        BeginBitFrame(&f);
        EXPECT_EQ(f.paddingBit, 0);
        EXPECT_EQ(f.frameBytes, 384);
    }
}

TEST(BitFrame, PaddingOptionOverridesTheCallersMode) {
    ASSERT_EQ(UciBegin(), kUciDone);
    UciSet("padding", "2");
    BitFrame f{};
    f.paddingMode = kPaddingIso;
    ASSERT_EQ(InitBitFrame(&f, 128000, 48000, 0, kBitFrameMixed), nullptr);
    UciEnd();
    EXPECT_EQ(f.paddingMode, kPaddingAlways);
    EXPECT_EQ(BeginBitFrame(&f), 385 * 8);
    EXPECT_EQ(f.frameBytes, 385);

    f = BitFrame{};
    f.paddingMode = kPaddingNever;  // no scope: the caller's mode stays
    ASSERT_EQ(InitBitFrame(&f, 128000, 44100, 0, kBitFrameMixed), nullptr);
    for (int n = 0; n < 30; ++n) {
        BeginBitFrame(&f);
        EXPECT_EQ(f.paddingBit, 0);
    }
}

TEST(BitFrame, ReservoirLimitFollowsTheDecoderBuffer) {
    struct Case {
        int rate, hz, limit;
    };
    for (const Case& c : {Case{320000, 32000, 0}, Case{56000, 22050, 2040}, Case{128000, 44100, 4088},
                          Case{320000, 44100, 0}, Case{160000, 24000, 2040}, Case{8000, 8000, 2040},
                          Case{64000, 8000, 2040}, Case{256000, 44100, ExpectedLimit(256000, 44100)}}) {
        BitFrame f{};
        ASSERT_EQ(InitBitFrame(&f, c.rate, c.hz, VersionOf(c.hz), kBitFrameMixed), nullptr);
        EXPECT_EQ(f.baseLimit, c.limit) << c.rate << " at " << c.hz;
        EXPECT_EQ(f.baseLimit, ExpectedLimit(c.rate, c.hz));
        EXPECT_EQ(f.baseLimit % 8, 0);
    }
}

TEST(BitFrame, EndFrameKeepsWholeBytesUpToTheLimitAndStuffsTheRest) {
    BitFrame f{};
    ASSERT_EQ(InitBitFrame(&f, 128000, 44100, 0, kBitFrameMixed), nullptr);
    BeginBitFrame(&f);
    EXPECT_EQ(f.mainDataBegin, 0);
    EXPECT_EQ(EndBitFrame(&f, 1003), 3);  // 1000 kept, 3 below a byte stuffed
    EXPECT_EQ(f.fill, 1000);
    BeginBitFrame(&f);
    EXPECT_EQ(f.mainDataBegin, 125);
    EXPECT_EQ(EndBitFrame(&f, -600), 0);  // the frame drew on the reservoir
    EXPECT_EQ(f.fill, 400);
    BeginBitFrame(&f);
    EXPECT_EQ(EndBitFrame(&f, 5000), 400 + 5000 - 4088);
    EXPECT_EQ(f.fill, 4088);
    BeginBitFrame(&f);
    EXPECT_EQ(f.mainDataBegin, 511);  // fits the 9-bit field

    ASSERT_EQ(InitBitFrame(&f, 320000, 32000, 0, kBitFrameMixed), nullptr);
    BeginBitFrame(&f);
    EXPECT_EQ(EndBitFrame(&f, 777), 777);  // no reservoir at all
    EXPECT_EQ(f.fill, 0);
}

TEST(BitFrame, UnlistedRatesMixTheirNeighboursAndKeepTheMeanRate) {
    struct Case {
        int rate, hz, lower, upper;
    };
    for (const Case& c : {Case{100000, 44100, 96000, 112000}, Case{50000, 48000, 48000, 56000},
                          Case{150000, 22050, 144000, 160000}, Case{36000, 11025, 32000, 40000},
                          Case{33000, 32000, 32000, 40000}}) {
        BitFrame f{};
        ASSERT_EQ(InitBitFrame(&f, c.rate, c.hz, VersionOf(c.hz), kBitFrameMixed), nullptr);
        long long bytes = 0;
        const int frames = 2000;
        for (int n = 0; n < frames; ++n) {
            BeginBitFrame(&f);
            const int rate = f.rates[f.bitRateIndex];
            EXPECT_TRUE(rate == c.lower || rate == c.upper) << rate;
            bytes += f.frameBytes;
            EXPECT_GE(f.drift, 0);
            EXPECT_LE(f.mainDataBegin * 8, f.baseLimit);
            EXPECT_EQ(EndBitFrame(&f, 0), 0);
        }
        const double seconds = frames * static_cast<double>(f.samplesPerFrame) / c.hz;
        const double rate = bytes * 8.0 / seconds;
        EXPECT_NEAR(rate, c.rate, 0.002 * c.rate) << c.rate << " at " << c.hz;
        // The mean matches within a frame's bytes.
        EXPECT_LT(std::abs(static_cast<double>(bytes) - c.rate * seconds / 8.0),
                  f.rates[f.upperIndex] * f.samplesPerFrame / 8.0 / c.hz + 1.0);
    }
}

TEST(BitFrame, RefusesRatesTheStreamCannotCarry) {
    EXPECT_EQ(InitMessage(7000, 44100, 0, kBitFrameMixed), "bitrate too low");
    EXPECT_EQ(InitMessage(330000, 44100, 0, kBitFrameMixed), "bitrate too high");
    EXPECT_EQ(InitMessage(80000, 8000, 2, kBitFrameMixed), "bitrate too high");  // MPEG-2.5 stops at 64000
    EXPECT_EQ(InitMessage(64000, 8000, 2, kBitFrameMixed), "");
    EXPECT_EQ(InitMessage(170000, 24000, 1, kBitFrameMixed), "bitrate too high");
    EXPECT_EQ(InitMessage(100000, 44100, 0, kBitFrameFixedIso), "non-ISO bitrate");
    EXPECT_EQ(InitMessage(112000, 44100, 0, kBitFrameFixedIso), "");
    EXPECT_EQ(InitMessage(128000, 44100, 3, kBitFrameMixed), "unknown bitstream type");
    EXPECT_EQ(InitMessage(128000, 44100, 0, 7), "unknown bitstream mode");
    EXPECT_NE(InitMessage(0, 44100, 0, kBitFrameMixed), "");
    EXPECT_NE(InitMessage(128000, 0, 0, kBitFrameMixed), "");
}
