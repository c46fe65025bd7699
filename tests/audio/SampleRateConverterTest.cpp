#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <vector>

#include "audio/SampleRateConverter.h"
#include "tests/audio/SrcDesign.h"
#include "tests/audio/ToneAnalysis.h"

namespace {

constexpr int kTableRates[] = {7877, 8000, 15754, 16000, 22050, 24000, 31508, 32000, 44100, 50000, 52000};

// Runs all of `in` through the converter, `piece` input bytes per call
// (0: everything at once), offering `room` output bytes each time.
std::vector<int16_t> ConvertAll(CSampleRateConverter& c, const std::vector<int16_t>& in, int piece, int room) {
    std::vector<int16_t> out;
    std::vector<int16_t> buf(static_cast<size_t>(room) / 2);
    size_t pos = 0;
    const size_t total = in.size() * 2;
    int idle = 0;
    while (pos < total && idle < 4) {
        const int offer = static_cast<int>(std::min<size_t>(piece > 0 ? piece : total, total - pos));
        int used = 0;
        const int n = c.Convert(in.data() + pos / 2, offer, &used, buf.data(), room);
        EXPECT_GE(used, 0);
        EXPECT_LE(used, offer);
        EXPECT_LE(n, room);
        EXPECT_EQ(used % 2, 0);
        pos += static_cast<size_t>(used);
        out.insert(out.end(), buf.begin(), buf.begin() + n / 2);
        idle = (used == 0 && n == 0) ? idle + 1 : 0;
    }
    return out;
}

struct Pair {
    int in, out;
};

std::vector<Pair> TablePairs() {
    std::vector<Pair> v;
    for (int r : kTableRates) v.push_back({r, 48000}), v.push_back({48000, r});
    return v;
}

TEST(SampleRateConverterTest, EveryTablePairCarriesAToneAtTheDesignGain) {
    for (const Pair p : TablePairs()) {
        for (int ch : {1, 2}) {
            CSampleRateConverter c;
            ASSERT_EQ(c.Init(p.in, ch, p.out, ch, 96), 1) << p.in << "->" << p.out;
            const SrcDesign design(c, p.in);
            const double f = 0.1 * std::min(p.in, p.out);
            const auto in = MakeTone(static_cast<size_t>(p.in) / 2, ch, f, p.in, 16000);
            const auto out = ConvertAll(c, in, 0, 1 << 20);
            const size_t frames = out.size() / ch;
            const double expectFrames = in.size() / ch * double(c.GetL()) / c.GetM();
            EXPECT_NEAR(double(frames), expectFrames, 2.0 * 192 + 2) << p.in << "->" << p.out;
            ASSERT_GT(frames, 3000u);
            const double outRate = double(p.in) * c.GetL() / c.GetM();  // 31508 x 195/128 is not quite 48000
            const ToneFit fit = FitTone(out.data(), 1000, frames - 2000, ch, ch - 1, f, outRate);
            EXPECT_NEAR(Db(fit.amplitude / 16000), Db(design.Gain(f)), 0.05) << p.in << "->" << p.out;
            EXPECT_LT(Db(fit.residualRms / fit.amplitude), -40) << p.in << "->" << p.out;
        }
    }
}

TEST(SampleRateConverterTest, OutputDoesNotDependOnHowTheInputIsCut) {
    const unsigned seed = std::random_device{}();
    std::printf("seed %u\n", seed);
    std::mt19937 rng(seed);
    for (const Pair p : {Pair{44100, 48000}, Pair{48000, 8000}, Pair{7877, 48000}, Pair{48000, 22050}}) {
        for (const auto& [inCh, outCh] : {std::pair{1, 1}, {2, 2}, {2, 1}, {1, 2}}) {
            auto in = MakeTone(8000, inCh, 700.0, p.in, 12000);
            for (auto& s : in) s = static_cast<int16_t>(s + static_cast<int>(rng() % 2001) - 1000);
            CSampleRateConverter whole, pieces;
            ASSERT_EQ(whole.Init(p.in, inCh, p.out, outCh, 96), 1);
            ASSERT_EQ(pieces.Init(p.in, inCh, p.out, outCh, 96), 1);
            const auto a = ConvertAll(whole, in, 0, 1 << 20);
            std::vector<int16_t> b;
            std::vector<int16_t> buf(1 << 16);
            size_t pos = 0;
            while (pos < in.size() * 2) {
                const int offer = std::min<int>(4 * (1 + rng() % 300), static_cast<int>(in.size() * 2 - pos));
                const int room = pieces.GetChunkBytes() * (1 + static_cast<int>(rng() % 3));
                int used = 0;
                const int n = pieces.Convert(in.data() + pos / 2, offer, &used, buf.data(), room);
                pos += static_cast<size_t>(used);
                b.insert(b.end(), buf.begin(), buf.begin() + n / 2);
                if (used == 0 && n == 0) break;
            }
            ASSERT_GT(a.size(), 1000u);
            const size_t common = std::min(a.size(), b.size());
            EXPECT_GE(common + 4 * 192, a.size());
            EXPECT_TRUE(std::equal(a.begin(), a.begin() + common, b.begin()))
                << p.in << "->" << p.out << " " << inCh << "->" << outCh;
        }
    }
}

TEST(SampleRateConverterTest, PassBandAndStopBandFollowTheDesign) {
    // Pass band: tones up to 80 % of the cutoff keep the design gain.
    // Stop band: everything that should not be there stays where the
    // prototype filter puts it, within 2 dB, above the 16-bit floor.
    for (const Pair p : TablePairs()) {
        CSampleRateConverter c;
        ASSERT_EQ(c.Init(p.in, 1, p.out, 1, 96), 1);
        const SrcDesign design(c, p.in);
        double lo = 1e9, hi = -1e9;
        for (double frac : {0.02, 0.2, 0.4, 0.6, 0.8}) {
            const double f = frac * c.GetCutoff();
            CSampleRateConverter run;
            ASSERT_EQ(run.Init(p.in, 1, p.out, 1, 96), 1);
            const auto out = ConvertAll(run, MakeTone(static_cast<size_t>(p.in) / 4, 1, f, p.in, 16000), 0, 1 << 20);
            const ToneFit fit = FitTone(out.data(), 500, out.size() - 1000, 1, 0, f, double(p.in) * c.GetL() / c.GetM());
            const double db = Db(fit.amplitude / 16000);
            EXPECT_NEAR(db, Db(design.Gain(f)), 0.05) << p.in << "->" << p.out << " f " << f;
            lo = std::min(lo, db), hi = std::max(hi, db);
        }
        EXPECT_LT(hi - lo, 1.0) << "ripple " << p.in << "->" << p.out;

        // A tone the output cannot carry (decimation) or the images of one
        // it can (interpolation): compare the leftover with the prototype.
        const double f = p.out < p.in ? 0.25 * p.out + 0.2437 * p.in : 0.2137 * p.in;
        CSampleRateConverter run;
        ASSERT_EQ(run.Init(p.in, 1, p.out, 1, 96), 1);
        const auto out = ConvertAll(run, MakeTone(static_cast<size_t>(p.in) / 4, 1, f, p.in, 16000), 0, 1 << 20);
        const double outRate = double(p.in) * c.GetL() / c.GetM();
        auto fold = [&](double x) {
            x = std::fmod(x, outRate);
            return x > outRate / 2 ? outRate - x : x;
        };
        const bool carried = f < outRate / 2;
        double expect2 = 0;
        for (int k = 0; k * p.in - f < design.protoRate / 2; ++k) {
            for (double img : {k * p.in - f, k * p.in + f}) {
                if (img <= 0 || img >= design.protoRate / 2) continue;
                if (carried && std::fabs(fold(img) - f) < 1.0) continue;  // lands on the tone itself
                expect2 += std::pow(design.Gain(img), 2);
            }
        }
        double leftover = 0;
        if (carried) {
            leftover = std::sqrt(2.0) * FitTone(out.data(), 500, out.size() - 1000, 1, 0, f, outRate).residualRms;
        } else {
            double e = 0;
            for (size_t i = 500; i + 500 < out.size(); ++i) e += double(out[i]) * out[i];
            leftover = std::sqrt(2.0 * e / double(out.size() - 1000));
        }
        const double expectDb = Db(std::sqrt(expect2)), gotDb = Db(leftover / 16000);
        if (expectDb > -80) {
            EXPECT_NEAR(gotDb, expectDb, 3.0) << p.in << "->" << p.out << " stop band at " << f;
        } else {
            EXPECT_LT(gotDb, -75) << p.in << "->" << p.out;
        }
    }
}

TEST(SampleRateConverterTest, InitRefusesWhatItCannotBuild) {
    CSampleRateConverter c;
    EXPECT_EQ(c.Init(11025, 2, 48000, 2, 96), 0);  // no whole ratio, not in the table
    EXPECT_EQ(c.Init(0, 2, 48000, 2, 96), 0);
    EXPECT_EQ(c.Init(48000, 2, 0, 2, 96), 0);
    EXPECT_EQ(c.Init(8000, 3, 48000, 2, 96), 0);
    EXPECT_EQ(c.Init(8000, 2, 48000, 2, 10), 0);  // no taps left
    EXPECT_EQ(c.Convert(nullptr, 100, nullptr, nullptr, 100), 0);
    ASSERT_EQ(c.Init(12000, 1, 48000, 1, 96), 1);  // a whole multiple
    EXPECT_EQ(c.GetL(), 4);
    ASSERT_EQ(c.Init(44100, 2, 48000, 2, 96), 1);
    EXPECT_EQ(c.GetL(), 160);
    EXPECT_EQ(c.GetTaps(), 86);
    ASSERT_EQ(c.Init(44100, 2, 48000, 2, 400), 1);
    EXPECT_EQ(c.GetTaps(), 100);
}

TEST(SampleRateConverterTest, EightKilohertzPlaysAtTheLevelOfEveryOtherRate) {
    // A 1 kHz tone brought up from 8000 Hz keeps the level it has from 16000 Hz.
    double level[2] = {};
    const int rates[2] = {8000, 16000};
    for (int k = 0; k < 2; ++k) {
        CSampleRateConverter c;
        ASSERT_EQ(c.Init(rates[k], 1, 48000, 1, 96), 1);
        const auto out = ConvertAll(c, MakeTone(static_cast<size_t>(rates[k]) / 2, 1, 1000.0, rates[k], 16000), 0,
                                    1 << 20);
        const ToneFit fit = FitTone(out.data(), 1000, out.size() - 2000, 1, 0, 1000.0, 48000);
        level[k] = Db(fit.amplitude / 16000);
    }
    std::printf("1 kHz from 8000 Hz %.2f dB, from 16000 Hz %.2f dB\n", level[0], level[1]);
    EXPECT_NEAR(level[0], level[1], 0.3);
    EXPECT_NEAR(level[0], Db(0.89), 0.3);
}

TEST(SampleRateConverterTest, EqualRatesCopyOrFoldChannels) {
    CSampleRateConverter c;
    ASSERT_EQ(c.Init(48000, 2, 48000, 2, 96), 1);
    EXPECT_FALSE(c.IsResampling());
    const int16_t in[] = {1, -2, 300, -400, 32767, -32768};
    int16_t out[12] = {};
    int used = 0;
    EXPECT_EQ(c.Convert(in, 12, &used, out, 24), 12);
    EXPECT_EQ(used, 12);
    EXPECT_TRUE(std::equal(in, in + 6, out));
    EXPECT_EQ(c.Convert(in, 2, &used, out, 24), 0);  // fewer than 4 bytes

    ASSERT_EQ(c.Init(48000, 2, 48000, 1, 96), 1);
    EXPECT_EQ(c.Convert(in, 12, &used, out, 24), 6);
    EXPECT_EQ(out[0], 0 + -1);
    EXPECT_EQ(out[2], 16383 - 16384);

    ASSERT_EQ(c.Init(48000, 1, 48000, 2, 96), 1);
    EXPECT_EQ(c.Convert(in, 12, &used, out, 12), 8);  // room limits: 2 samples in
    EXPECT_EQ(used, 4);
    EXPECT_EQ(out[0], 1);
    EXPECT_EQ(out[1], 1);
    EXPECT_EQ(out[2], -2);
    EXPECT_EQ(c.GetOutputLength(10), 20);
    EXPECT_EQ(c.GetInputLength(20), 8);  // rounded down to 4
}

TEST(SampleRateConverterTest, FullScaleInputSaturatesInsteadOfWrapping) {
    CSampleRateConverter c;
    ASSERT_EQ(c.Init(16000, 1, 48000, 1, 96), 1);
    std::vector<int16_t> square(16000);
    for (size_t i = 0; i < square.size(); ++i) square[i] = (i / 8) % 2 ? -32768 : 32767;
    const auto out = ConvertAll(c, square, 0, 1 << 20);
    int flips = 0;
    for (size_t i = 1; i < out.size(); ++i)
        if ((out[i - 1] > 20000 && out[i] < -20000) || (out[i - 1] < -20000 && out[i] > 20000)) ++flips;
    EXPECT_EQ(flips, 0);  // a wrap would jump from + to - full scale in one sample
}

}  // namespace
