// Enhanced apt-X sub-band coder: start-up, bounds, encoder/decoder agreement
// and round-trip quality, without the engine's sync embedding.
#include <gtest/gtest.h>

#include <algorithm>

#include "codecs/aptx/AptxEnhCoder.h"
#include "codecs/aptx/AptxTestSignals.h"

namespace {

struct Pair {
    AptxEnhCoderState enc, dec;
    Pair() {
        AptxEnhSetupBands(enc, AptxEnhTables16());
        AptxEnhSetupBands(dec, AptxEnhTables16());
    }
    // One frame through both sides; the decoder gets the encoder's values as
    // the engine's unpacking would hand them over.
    void Frame(const int32_t x[4], int32_t out[4]) {
        AptxEnhUpdateHistory(enc);
        AptxEnhDither(enc, 3);
        AptxEnhAnalyse(enc, x);
        AptxEnhFinishEncode(enc);
        AptxEnhDither(dec, 3);
        for (int k = 0; k < 4; ++k) dec.band[k].q = enc.band[k].q;
        AptxEnhUpdateHistory(dec);
        AptxEnhSynthesise(dec, out);
    }
};

TEST(AptxEnhCoder, ClearedStateQuantisesToTheLargestMagnitude) {
    for (const int32_t v : {0, 256 * 1000, -256 * 1000}) {
        AptxEnhCoderState s;
        AptxEnhSetupBands(s, AptxEnhTables16());
        AptxEnhUpdateHistory(s);
        AptxEnhDither(s, 3);
        const int32_t x[4] = {v, v, v, v};
        AptxEnhAnalyse(s, x);
        const int32_t largest[4] = {63, 7, 1, 3};
        for (int k = 0; k < 4; ++k) {
            const int32_t q = s.band[k].q;
            EXPECT_EQ(q >= 0 ? q : ~q, largest[k]) << "band " << k;
        }
        AptxEnhFinishEncode(s);
        for (const AptxEnhSubband& b : s.band) {
            EXPECT_GT(b.fs, 0);  // grows from the offsets of the largest codes
            EXPECT_GT(b.qf, 0);
        }
    }
}

TEST(AptxEnhCoder, StateStaysInRangeForAnyValues) {
    const uint32_t seed = aptxtest::Seed("AptxEnhCoder.StateStaysInRangeForAnyValues");
    std::mt19937 rng(seed);
    AptxEnhCoderState s;
    AptxEnhSetupBands(s, AptxEnhTables16());
    const int32_t maxFs[4] = {4607, 5375, 5887, 5631};
    const int32_t n[4] = {64, 8, 2, 4};
    for (int f = 0; f < 20000; ++f) {
        AptxEnhDither(s, 3);
        const bool loud = (f / 700) % 2;
        for (int k = 0; k < 4; ++k) {
            const int32_t m = loud ? n[k] - 1 : static_cast<int32_t>(rng() % n[k]);
            s.band[k].q = rng() % 2 ? m : ~m;
        }
        AptxEnhUpdateHistory(s);
        int32_t out[4];
        AptxEnhSynthesise(s, out);
        for (int k = 0; k < 4; ++k) {
            const AptxEnhSubband& b = s.band[k];
            ASSERT_GE(b.fs, 0);
            ASSERT_LE(b.fs, maxFs[k]);
            ASSERT_GE(b.a2, -12288);
            ASSERT_LE(b.a2, 12288);
            ASSERT_LE(std::abs(b.a1), 15360 - b.a2);
        }
    }
}

TEST(AptxEnhCoder, EncoderReconstructionEqualsDecoders) {
    const uint32_t seed = aptxtest::Seed("AptxEnhCoder.EncoderReconstructionEqualsDecoders");
    std::mt19937 rng(seed);
    Pair p;
    for (int f = 0; f < 4000; ++f) {
        int32_t x[4];
        const int scale = f % 1000 < 500 ? 65536 : 300;
        for (int32_t& v : x) v = (static_cast<int32_t>(rng() % scale) - scale / 2) * 256;
        int32_t out[4];
        p.Frame(x, out);
        for (int k = 0; k < 4; ++k) {
            const AptxEnhSubband& e = p.enc.band[k];
            const AptxEnhSubband& d = p.dec.band[k];
            ASSERT_EQ(e.sr, d.sr) << "frame " << f << " band " << k;
            ASSERT_EQ(e.ps, d.ps);
            ASSERT_EQ(e.pz, d.pz);
            ASSERT_EQ(e.fs, d.fs);
            ASSERT_EQ(e.qf, d.qf);
            ASSERT_EQ(e.a1, d.a1);
            ASSERT_EQ(e.a2, d.a2);
            ASSERT_TRUE(std::equal(std::begin(e.w), std::end(e.w), std::begin(d.w)));
        }
        // The encoder folds this frame into its history at the start of the next.
        AptxEnhCoderState next = p.enc;
        AptxEnhUpdateHistory(next);
        ASSERT_EQ(next.history, p.dec.history);
        ASSERT_EQ(p.enc.ditherParity, p.dec.ditherParity);
    }
}

TEST(AptxEnhCoder, RoundTripSnrOfTonesAndProgramNoise) {
    const uint32_t seed = aptxtest::Seed("AptxEnhCoder.RoundTripSnr");
    struct Case {
        const char* name;
        std::vector<int16_t> in;
        double floor;
    };
    const Case cases[] = {
        {"1 kHz tone", aptxtest::Tone(24000, 1, 12000, 1000), 60},
        {"5 kHz tone", aptxtest::Tone(24000, 1, 12000, 5000), 45},
        {"program noise", aptxtest::ProgramNoise(24000, 1, seed), 30},
    };
    for (const Case& c : cases) {
        Pair p;
        std::vector<int16_t> out(c.in.size());
        for (size_t k = 0; k + 4 <= c.in.size(); k += 4) {
            int32_t x[4], y[4];
            for (int i = 0; i < 4; ++i) x[i] = c.in[k + i] * 256;
            p.Frame(x, y);
            for (int i = 0; i < 4; ++i) out[k + i] = static_cast<int16_t>(std::clamp(y[i] >> 8, -32768, 32767));
        }
        const aptxtest::LagSnr r = aptxtest::BestLag(c.in, out, 1, 0, 0, 160, 4000, 23000);
        std::printf("enhanced %s: %.1f dB at lag %d\n", c.name, r.snr, r.lag);
        EXPECT_GE(r.snr, c.floor) << c.name;
    }
}

}  // namespace
