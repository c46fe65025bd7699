#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "mp3enc/l3core/core/sigproclib/flexfilt/FlexFilter.h"

namespace {

constexpr int kGranule = 576;

// The encoder's own choice of filter for a rate change with a given relative cutoff.
struct Design {
    double cutoff;
    int halfLength;
    double beta;
    Design(double inputRate, double relativeCutoff) {
        beta = FlexBeta(80.0);
        const double q =
            1.0 - (0.1 - (std::atan((inputRate * relativeCutoff * 0.5 - 9000.0) * 0.004) / M_PI + 0.5) * 0.03);
        halfLength = FlexLength(q, beta);
        cutoff = q * relativeCutoff;
    }
};

// Runs the whole input through in chunks of the given sizes (cycled), then
// drains; returns every output sample, the zero fill at the end left out.
std::vector<float> Filter(FlexFilter* f, const std::vector<float>& in, int channels, std::vector<int> chunks) {
    std::vector<float> out, granule(kGranule * channels);
    size_t at = 0, c = 0;
    while (at < in.size()) {
        const int n = std::min<int>(chunks[c++ % chunks.size()] * channels, static_cast<int>(in.size() - at));
        while (FlexProcess(f, in.data() + at, n, granule.data(), static_cast<int>(granule.size())) == kFlexGranuleFull)
            out.insert(out.end(), granule.begin(), granule.end());
        at += n;
    }
    while (FlexProcess(f, nullptr, 0, granule.data(), static_cast<int>(granule.size())) == kFlexGranuleFull)
        out.insert(out.end(), granule.begin(), granule.end());
    out.insert(out.end(), granule.begin(), granule.begin() + FlexOutputCount(f));
    return out;
}

// Level in dB (0 = full amplitude 1) of a sine of one channel, from its RMS
// over the settled middle of the output.
double LevelDb(double inputRate, double outputRate, double hz, int channels = 1) {
    const Design d(inputRate, outputRate / inputRate);
    FlexFilter f;
    EXPECT_EQ(flfChunkBufInit(&f, outputRate / inputRate, channels, d.cutoff, 0.0, d.halfLength, d.beta, 0),
              kFlexOk);
    const int frames = static_cast<int>(inputRate / 2);
    std::vector<float> in(static_cast<size_t>(frames) * channels);
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) in[i * channels + c] = static_cast<float>(std::sin(2 * M_PI * hz * i / inputRate));
    const std::vector<float> out = Filter(&f, in, channels, {1000});
    FlexFree(&f);
    const int n = static_cast<int>(out.size()) / channels;
    double sum = 0.0;
    int count = 0;
    for (int i = n / 4; i < 3 * n / 4; ++i, ++count) sum += out[i * channels] * out[i * channels];
    return 10.0 * std::log10(2.0 * sum / count + 1e-30);
}

}  // namespace

TEST(FlexFilter, DesignRulesAndRefusedSettings) {
    EXPECT_NEAR(FlexBeta(80.0), 7.9103, 1e-4);
    FlexFilter f;
    EXPECT_EQ(flfChunkBufInit(&f, 1.0, 1, 1.5, 0.0, 20, 7.9, 0), kFlexCutoffTooLarge);
    EXPECT_EQ(flfChunkBufInit(&f, 1.0, 1, 1.0 / (1 << 19), 0.0, 20, 7.9, 0), kFlexCutoffTooSmall);
    EXPECT_EQ(flfChunkBufInit(nullptr, 1.0, 1, 0.5, 0.0, 20, 7.9, 0), kFlexNullState);
    EXPECT_EQ(flfChunkBufInit(&f, 0.0, 1, 0.5, 0.0, 20, 7.9, 0), kFlexBadParameters);
    EXPECT_EQ(flfChunkBufInit(&f, 0.01, 1, 1.0, 0.0, 20, 7.9, 0), kFlexBadParameters);  // steps past a wing
    EXPECT_EQ(flfChunkBufInit(&f, 1.0, 0, 0.5, 0.0, 20, 7.9, 0), kFlexBadParameters);
    EXPECT_EQ(flfChunkBufInit(&f, 1.0, 1, 0.5, 0.0, 0, 7.9, 0), kFlexBadParameters);
    // 2^-18 itself is the smallest cutoff, but its history is more than an encoder needs.
    EXPECT_EQ(flfChunkBufInit(&f, 1.0, 1, 1.0 / (1 << 18), 0.0, 40, 7.9, 0), kFlexOutOfMemory);
    FlexFree(&f);  // never initialised: left alone
}

TEST(FlexFilter, BypassCopiesUnchangedWithoutDelay) {
    FlexFilter f;
    ASSERT_EQ(flfChunkBufInit(&f, 1.0, 2, 1.0, 0.0, 20, 7.9, 1), kFlexOk);
    EXPECT_EQ(FlexDelay(&f), 0);
    std::vector<float> in(2 * 1500);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<float>(i) - 700.5f;
    const std::vector<float> out = Filter(&f, in, 2, {333, 1, 576});
    FlexFree(&f);
    FlexFree(&f);  // once only
    EXPECT_EQ(out, in);
}

// 44100 Hz coded at 32000 Hz: flat to within 0.2 dB in the pass band and
// more than 70 dB down above the new Nyquist rate, mono and stereo alike.
TEST(FlexFilter, ConvertsByAnyRatioWithAFlatPassBandAndADeepStopBand) {
    for (const int channels : {1, 2}) {
        for (const double hz : {100.0, 1000.0, 5000.0, 10000.0, 13000.0}) {
            const double db = LevelDb(44100.0, 32000.0, hz, channels);
            std::printf("44100->32000 %d ch %6.0f Hz: %+7.3f dB\n", channels, hz, db);
            EXPECT_NEAR(db, 0.0, 0.2) << hz;
        }
        for (const double hz : {17000.0, 19000.0, 21000.0}) {
            const double db = LevelDb(44100.0, 32000.0, hz, channels);
            std::printf("44100->32000 %d ch %6.0f Hz: %+7.1f dB\n", channels, hz, db);
            EXPECT_LT(db, -70.0) << hz;
        }
    }
    EXPECT_NEAR(LevelDb(48000.0, 22050.0, 1000.0), 0.0, 0.2);
    EXPECT_LT(LevelDb(48000.0, 22050.0, 13000.0), -70.0);
}

// The output lags the input by exactly the delay the filter reports, and
// chunked input gives the same samples as whole input.
TEST(FlexFilter, DelayIsAsReportedAndChunkingChangesNothing) {
    const Design d(44100.0, 1.0);
    FlexFilter f;
    ASSERT_EQ(flfChunkBufInit(&f, 1.0, 1, 0.9, 0.0, d.halfLength, d.beta, 0), kFlexOk);
    std::vector<float> impulse(4000, 0.0f);
    impulse[0] = 1.0f;
    const std::vector<float> out = Filter(&f, impulse, 1, {4000});
    const int delay = FlexDelay(&f);
    FlexFree(&f);
    int peak = 0;
    for (int i = 1; i < static_cast<int>(out.size()); ++i)
        if (std::fabs(out[i]) > std::fabs(out[peak])) peak = i;
    EXPECT_EQ(peak, delay);
    EXPECT_GT(delay, 0);
    EXPECT_GE(static_cast<int>(out.size()), 4000 + delay);  // the drain covers the delay
    for (size_t i = 4000 + 2 * delay; i < out.size(); ++i) ASSERT_EQ(out[i], 0.0f) << i;

    std::mt19937 rng(1234);
    std::uniform_int_distribution<int> size(1, 1500);
    std::vector<float> noise(2 * 20000);
    std::uniform_real_distribution<float> value(-1.0f, 1.0f);
    for (float& v : noise) v = value(rng);
    std::vector<int> chunks(64);
    for (int& c : chunks) c = size(rng);
    const Design r(44100.0, 32000.0 / 44100.0);
    FlexFilter whole, chunked;
    ASSERT_EQ(flfChunkBufInit(&whole, 32000.0 / 44100.0, 2, r.cutoff, 0.0, r.halfLength, r.beta, 0), kFlexOk);
    ASSERT_EQ(flfChunkBufInit(&chunked, 32000.0 / 44100.0, 2, r.cutoff, 0.0, r.halfLength, r.beta, 0), kFlexOk);
    EXPECT_EQ(Filter(&whole, noise, 2, {20000}), Filter(&chunked, noise, 2, chunks)) << "seed 1234";
    FlexFree(&whole);
    FlexFree(&chunked);
}
