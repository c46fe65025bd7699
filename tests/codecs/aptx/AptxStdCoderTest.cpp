// Standard apt-X sub-band coder: filter-bank limits, quantiser start-up and
// bounds, encoder/decoder agreement, and the quality of a round trip.
#include <gtest/gtest.h>

#include <algorithm>

#include "codecs/aptx/AptxTestSignals.h"
#include "codecs/aptx/AptxStdCoder.h"

namespace {

using aptxtest::BestLag;

// Encodes and decodes a mono signal word by word; slot and user flags as a
// stream with sync pattern and user data would set them.
std::vector<int16_t> RoundTrip(const std::vector<int16_t>& in, bool withSlots) {
    AptxStdChannel enc, dec;
    AptxStdResetChannel(enc);
    AptxStdResetChannel(dec);
    std::vector<int16_t> out(in.size());
    for (size_t k = 0; k + 4 <= in.size(); k += 4) {
        const bool slot = withSlots && ((k / 4) % 128 >= 118 || (k / 4) % 128 == 0);
        const uint16_t word = AptxStdEncodeWord(enc, &in[k], slot, false);
        AptxStdDecodeWord(dec, word, slot, false, &out[k]);
    }
    return out;
}

TEST(AptxStdCoder, FullScaleSaturatesFilterOutputsWithoutWrapping) {
    for (const int16_t level : {int16_t{32767}, int16_t{-32768}}) {
        AptxStdFilter f{};
        int32_t lowest = 0, highest = 0, highBandLowest = 0;
        const int16_t x[4] = {level, level, level, level};
        for (int n = 0; n < 64; ++n) {
            int32_t bands[4];
            AptxStdAnalyse(f, x, bands);
            for (int b = 0; b < 4; ++b) {
                lowest = std::min(lowest, bands[b]);
                highest = std::max(highest, bands[b]);
                ASSERT_GE(bands[b], -32768);
                ASSERT_LE(bands[b], 32767);
            }
            highBandLowest = std::min({highBandLowest, bands[1], bands[3]});
        }
        if (level > 0) {
            EXPECT_EQ(highest, 32767);
        } else {
            EXPECT_EQ(lowest, -32768);
        }
        EXPECT_GE(highBandLowest, -32767);  // high-band outputs stop one short
    }
    // Alternating full-scale samples drive the high branches to their limit.
    AptxStdFilter f{};
    int32_t highLow = 0;
    const int16_t x[4] = {32767, -32768, 32767, -32768};
    for (int n = 0; n < 64; ++n) {
        int32_t bands[4];
        AptxStdAnalyse(f, x, bands);
        highLow = std::min({highLow, bands[1], bands[3]});
    }
    EXPECT_GE(highLow, -32767);
    // The synthesis side of a decoder fed extreme bands also saturates.
    AptxStdFilter s{};
    for (int n = 0; n < 64; ++n) {
        const int32_t bands[4] = {n % 2 ? 32767 : -32768, 32767, -32768, 32767};
        int16_t out[4];
        AptxStdSynthesise(s, bands, out);  // int16 results: no wrap is possible by type; UBSan checks the sums
    }
}

TEST(AptxStdCoder, ClearedStateCodesLargestMagnitudeWithZeroDifference) {
    for (const int16_t v : {int16_t{0}, int16_t{1000}, int16_t{-1000}}) {
        AptxStdChannel ch;
        AptxStdResetChannel(ch);
        const int16_t x[4] = {v, v, v, v};
        const uint16_t word = AptxStdEncodeWord(ch, x, false, false);
        EXPECT_EQ(word & 0x3F, 0x3F) << "LL magnitude";
        EXPECT_EQ((word >> 7) & 7, 7) << "LH magnitude";
        EXPECT_EQ((word >> 11) & 1, 1) << "HL magnitude";
        EXPECT_EQ((word >> 13) & 3, 3) << "HH magnitude";
        for (const AptxStdSubband& b : ch.band) {
            EXPECT_EQ(b.d[0], 0);
            EXPECT_GT(b.fs, 0);  // grows from the largest factor-select offsets
        }
    }
}

TEST(AptxStdCoder, StateStaysInRangeForAnyCodes) {
    const uint32_t seed = aptxtest::Seed("AptxStdCoder.StateStaysInRangeForAnyCodes");
    std::mt19937 rng(seed);
    AptxStdChannel ch;
    AptxStdResetChannel(ch);
    const int32_t maxFs[4] = {2816, 3328, 3584, 3584};
    for (int n = 0; n < 20000; ++n) {
        // Long runs of the largest codes push the factors to their limits.
        const uint16_t word = (n / 500) % 2 ? static_cast<uint16_t>((rng() & 0x7FFF) | 0x4A3F) : static_cast<uint16_t>(rng());
        int16_t out[4];
        AptxStdDecodeWord(ch, word, rng() % 8 == 0, rng() % 4 == 0, out);
        for (int b = 0; b < 4; ++b) {
            const AptxStdSubband& s = ch.band[b];
            ASSERT_GE(s.fs, 0);
            ASSERT_LE(s.fs, maxFs[b]);
            ASSERT_LE(s.qf, 32767);
            ASSERT_GE(s.a2, -12288);
            ASSERT_LE(s.a2, 12288);
            ASSERT_LE(std::abs(s.a1), 15360 - s.a2);
        }
    }
}

TEST(AptxStdCoder, EncoderReconstructionEqualsDecoders) {
    const uint32_t seed = aptxtest::Seed("AptxStdCoder.EncoderReconstructionEqualsDecoders");
    std::mt19937 rng(seed);
    AptxStdChannel enc, dec;
    AptxStdResetChannel(enc);
    AptxStdResetChannel(dec);
    for (int n = 0; n < 4000; ++n) {
        int16_t x[4];
        const int scale = n % 1000 < 500 ? 65536 : 512;  // loud and quiet stretches
        for (int16_t& v : x) v = static_cast<int16_t>(static_cast<int32_t>(rng() % scale) - scale / 2);
        // 3-bit and 4-bit LH words in a row share one fs, qf and predictor.
        const bool slot = n % 5 == 0 || n % 5 == 1;
        const bool user = n % 3 == 0;
        const uint16_t word = AptxStdEncodeWord(enc, x, slot, user);
        int16_t out[4];
        AptxStdDecodeWord(dec, word, slot, user, out);
        for (int b = 0; b < 4; ++b) {
            const AptxStdSubband& e = enc.band[b];
            const AptxStdSubband& d = dec.band[b];
            ASSERT_EQ(e.sr, d.sr) << "word " << n << " band " << b;
            ASSERT_EQ(e.fs, d.fs);
            ASSERT_EQ(e.qf, d.qf);
            ASSERT_EQ(e.a1, d.a1);
            ASSERT_EQ(e.a2, d.a2);
            ASSERT_EQ(e.ps, d.ps);
            ASSERT_TRUE(std::equal(std::begin(e.w), std::end(e.w), std::begin(d.w)));
        }
    }
}

TEST(AptxStdCoder, RoundTripSnrOfTonesAndProgramNoise) {
    const uint32_t seed = aptxtest::Seed("AptxStdCoder.RoundTripSnr");
    struct Case {
        const char* name;
        std::vector<int16_t> in;
        double floor;
    };
    const Case cases[] = {
        {"1 kHz tone", aptxtest::Tone(24000, 1, 12000, 1000), 55},
        {"5 kHz tone", aptxtest::Tone(24000, 1, 12000, 5000), 40},
        {"program noise", aptxtest::ProgramNoise(24000, 1, seed), 30},
    };
    for (const Case& c : cases) {
        for (const bool slots : {false, true}) {
            const std::vector<int16_t> out = RoundTrip(c.in, slots);
            const aptxtest::LagSnr r = BestLag(c.in, out, 1, 0, 0, 160, 4000, 23000);
            std::printf("standard %s%s: %.1f dB at lag %d\n", c.name, slots ? " with sync slots" : "", r.snr, r.lag);
            EXPECT_GE(r.snr, c.floor - (slots ? 3 : 0)) << c.name;
        }
    }
}

}  // namespace
