#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "common/L3Tables.h"
#include "mp3enc/Mp3EncTestSupport.h"
#include "mp3enc/l3core/core/bitmux/BitstreamEncoder.h"
#include "support/TempDir.h"

namespace {

// The coding record's starting values: PE range 0 to 0, then p3 to p8,
// minBitSp and maxBitSp (long and short blocks).
constexpr float kLongRecord[11] = {0, 0, 0, 0.25f, 0.9f, 0.05f, 0.25f, 0.2f, 0.9f, -0.1f, 0.4f};
constexpr float kShortRecord[11] = {0, 0, 0, 0.02f, 0.35f, -0.2f, 0.03f, 0.02f, 0.6f, -0.01f, 1.3f};

constexpr int kToneLine = 81;  // the middle of subband 4: no alias butterfly touches it
constexpr int kToneValue = 100;
constexpr int kGain = 16;      // global_gain 166: the tone decodes near -12 dBFS

int SfbRow(int hz) {
    for (int i = 0; i < 9; ++i)
        if (l3tables::kSfbRateHz[i] == hz) return i;
    return -1;
}

struct Options {
    int hz = 44100;
    int bitRate = 128000;
    int stereoMode = 1;  // joint stereo; 3 mono
    int crc = 0;
    int frames = 30;
    int ancillaryPerFrame = 0;  // bytes reserved per frame
    std::vector<uint8_t> ancillary;
};

struct Result {
    std::vector<uint8_t> stream;
    int granules = 0;
    int toneGranules = 0;
    int overBudget = 0;  // granules written above their budget (must stay 0)
    std::vector<int> budgetSums;
    std::vector<int> meanShares;  // bits available / (channels x granules) per frame
    int pendingLeft = 0;
};

// Quantises one granule the simplest way that honours the budget: the tone
// line, then +-1 on as many low lines as still fit.
int Quantise(int budget, const HuffBand* bands, bool withTone, std::mt19937& rng, int* values, GranuleInfo* info,
             int lowerRate) {
    std::vector<int> signs(576);
    for (int& s : signs) s = (rng() & 1) ? 1 : -1;
    auto build = [&](int noiseLines, bool tone) {
        std::fill(values, values + 576, 0);
        for (int k = 0; k < noiseLines; ++k) values[k] = signs[k];
        if (tone) values[kToneLine] = kToneValue * signs[kToneLine];
        *info = GranuleInfo{};
        info->lowerRate = lowerRate;
        info->globalGain = kGain;
        return CountHuffmanBits(values, 576, 0, bands, 22, false, &info->huffman);
    };
    bool tone = withTone && build(0, true) <= budget;
    int lo = 0, hi = 576;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (build(mid, tone) <= budget) lo = mid;
        else hi = mid - 1;
    }
    return build(lo, tone);
}

Result Encode(const Options& o) {
    Result r;
    BitstreamEncoder* e = nullptr;
    EncError* err = CreateBitstreamEncoder(o.hz, o.bitRate, 0, o.crc, 0, 0, 1, 0, o.stereoMode, 0, &e);
    EXPECT_EQ(err, nullptr) << (err && err->message ? err->message : "");
    if (!e) return r;
    const int row = SfbRow(o.hz);
    HuffBand bands[22];
    for (int b = 0; b < 22; ++b) bands[b] = {l3tables::kSfbLong[row][b + 1] - l3tables::kSfbLong[row][b], -1};
    DemandParam longSet = DemandParamFromRecord(kLongRecord), shortSet = DemandParamFromRecord(kShortRecord);
    const int channels = o.stereoMode == 3 ? 1 : 2;
    const int granules = o.hz > 24000 ? 2 : 1;
    std::mt19937 rng(12345);
    std::vector<float> spectrum(576), thresholdLong(kLongBands, 1.0f), thresholdShort(kShortBands, 1.0f);
    auto q = std::make_unique<QuantFrame>();
    std::vector<uint8_t> out(8000);
    std::vector<uint8_t> ancillary = o.ancillary;
    int pending = static_cast<int>(ancillary.size());
    for (int f = 0; f < o.frames; ++f) {
        int budgets[4] = {0, 0, 0, 0};
        for (int g = 0; g < granules; ++g) {
            // Loud and quiet granules in turn, so the reservoir fills and drains.
            const bool loud = ((f * granules + g) % 3) != 2;
            for (int k = 0; k < 576; ++k) spectrum[k] = loud && k < 400 ? 3.0f : 0.0f;
            spectrum[kToneLine] = 1000.0f;
            PsyGranule p{};
            p.channels = channels;
            p.granule = g;
            for (int c = 0; c < channels; ++c) {
                p.channel[c].blockType = 0;
                p.channel[c].spectrum = spectrum.data();
                p.channel[c].thresholdLong = thresholdLong.data();
                for (int w = 0; w < 3; ++w) p.channel[c].thresholdShort[w] = thresholdShort.data();
                p.channel[c].midSide = o.stereoMode == 1;
            }
            p.demandLong = &longSet;
            p.demandShort = &shortSet;
            EXPECT_EQ(AdvanceBitstreamEncoder(e, &p, o.ancillaryPerFrame, budgets), 1);
        }
        r.meanShares.push_back(e->bitsAvailable / (channels * granules));
        int sum = 0;
        q->complete = 1;
        for (int g = 0; g < granules; ++g)
            for (int c = 0; c < channels; ++c) {
                const int k = 2 * g + c;
                const int bits = Quantise(budgets[k], bands, true, rng, q->values[k], &q->info[k], granules == 1);
                q->part23Length[k] = bits;
                r.overBudget += bits > budgets[k];
                r.toneGranules += q->values[k][kToneLine] != 0;
                ++r.granules;
                sum += budgets[k];
            }
        r.budgetSums.push_back(sum);
        int n = 0;
        const int before = pending;
        WriteBitstream(e, q.get(), ancillary.data(), &pending, &n, out.data(), static_cast<int>(out.size()));
        ancillary.erase(ancillary.begin(), ancillary.begin() + (before - pending));
        r.stream.insert(r.stream.end(), out.begin(), out.begin() + n);
    }
    int n = 0;
    FlushBitstreamEncoder(e, &n, out.data(), static_cast<int>(out.size()));
    r.stream.insert(r.stream.end(), out.begin(), out.begin() + n);
    FlushBitstreamEncoder(e, &n, out.data(), static_cast<int>(out.size()));
    EXPECT_EQ(n, 0);  // a second flush has nothing more
    r.pendingLeft = pending;
    DeleteBitstreamEncoder(e);
    return r;
}

// main_data_begin of every frame, read from its side information.
std::vector<int> MainDataBegins(const std::vector<uint8_t>& s, const std::vector<l3test::FrameHeader>& frames) {
    std::vector<int> begins;
    for (const auto& f : frames) {
        const size_t at = f.offset + 4 + (f.crc ? 2 : 0);
        const int v = (s[at] << 8) | s[at + 1];
        begins.push_back(f.version == 1 ? v >> 7 : v >> 8);
    }
    return begins;
}

int ExpectedLimitBytes(int bitRate, int hz) {
    const bool mpeg1 = hz > 24000;
    long long limit = 7680 - (mpeg1 ? 2 : 1) * (576LL * bitRate / hz);
    limit = std::clamp<long long>(limit, 0, mpeg1 ? 4088 : 2040);
    return static_cast<int>((limit + 7) / 8);
}

// The line (of 576) whose centre frequency carries the most power.
int PeakLine(const std::vector<int16_t>& pcm, int channels, int hz) {
    const size_t n = std::min<size_t>(pcm.size() / channels, 8192);
    double best = -1.0;
    int bestLine = -1;
    for (int line = 0; line < 576; ++line) {
        const double w = 2.0 * M_PI * (line + 0.5) * (hz / 1152.0) / hz;
        const double c = 2.0 * std::cos(w);
        double s1 = 0.0, s2 = 0.0;
        for (size_t i = 0; i < n; ++i) {
            const double s0 = pcm[i * channels] + c * s1 - s2;
            s2 = s1;
            s1 = s0;
        }
        const double power = s1 * s1 + s2 * s2 - c * s1 * s2;
        if (power > best) {
            best = power;
            bestLine = line;
        }
    }
    return bestLine;
}

// Decodes every stream with one ffmpeg run for all of them and one mpg123
// run per sample rate (their start-up dominates otherwise); not a word may
// come back. mpg123 writes the streams of a rate back to back, every one as
// stereo (a mono stream twice); its results here are channel 0 only.
struct NamedStream {
    std::string name;
    std::vector<uint8_t> bytes;
    bool crc;
    int hz;
    size_t frames;  // sample frames expected
};
std::vector<std::vector<int16_t>> DecodeAll(const std::vector<NamedStream>& streams,
                                            std::vector<std::vector<int16_t>>* ffmpegOut) {
    CTempDir dir("l3bits");
    std::string ff = "ffmpeg -nostdin -hide_banner -loglevel warning";
    for (const NamedStream& s : streams) {
        const std::string file = dir / (s.name + ".mp3");
        l3test::WriteFile(file, s.bytes);
        ff += std::string(s.crc ? " -err_detect crccheck+bitstream" : " -err_detect bitstream") + " -i " + file;
    }
    ff += " -xerror -y";
    for (size_t i = 0; i < streams.size(); ++i)
        ff += " -map " + std::to_string(i) + " -f s16le " + dir / (streams[i].name + ".ff");
    const auto ffRun = l3test::RunShell(ff, dir / "ff.err");
    EXPECT_EQ(ffRun.status, 0);
    EXPECT_EQ(l3test::WithoutDurationNote(ffRun.err), "");
    for (const NamedStream& s : streams) ffmpegOut->push_back(l3test::ToPcm(l3test::ReadFile(dir / (s.name + ".ff"))));

    std::vector<std::vector<int16_t>> mpg123(streams.size());
    std::vector<int> rates;
    for (const NamedStream& s : streams)
        if (std::find(rates.begin(), rates.end(), s.hz) == rates.end()) rates.push_back(s.hz);
    for (int hz : rates) {
        std::string mp = "mpg123 -q --no-gapless --stereo -s";
        for (const NamedStream& s : streams)
            if (s.hz == hz) mp += " " + dir / (s.name + ".mp3");
        const std::string raw = dir / (std::to_string(hz) + ".raw");
        const auto mpRun = l3test::RunShell(mp + " > " + raw, dir / "mp.err");
        EXPECT_EQ(mpRun.status, 0) << hz;
        EXPECT_EQ(mpRun.err, "") << hz;
        const std::vector<int16_t> all = l3test::ToPcm(l3test::ReadFile(raw));
        size_t at = 0;
        for (size_t i = 0; i < streams.size(); ++i) {
            if (streams[i].hz != hz) continue;
            for (size_t k = 0; k < streams[i].frames && at + 1 < all.size(); ++k, at += 2) mpg123[i].push_back(all[at]);
        }
        EXPECT_EQ(at, all.size()) << hz;
    }
    return mpg123;
}

}  // namespace

// Every ISO rate, mono and joint stereo, at the lowest, a middle and the
// highest legal bit rate: the stream parses frame by frame to its end, keeps
// the reservoir within the decoder's buffer, never spends above a budget,
// holds its bit rate, and both peers decode it without a word.
TEST(BitstreamEncoder, PeersDecodeEveryRateAndModeCleanly) {
    if (!l3test::HaveTool("ffmpeg") || !l3test::HaveTool("mpg123")) GTEST_SKIP() << "ffmpeg or mpg123 missing";
    struct RateSet {
        int hz;
        int rates[3];
    };
    const RateSet sets[] = {
        {32000, {32000, 128000, 320000}}, {44100, {32000, 128000, 320000}}, {48000, {32000, 160000, 320000}},
        {16000, {8000, 64000, 160000}},   {22050, {8000, 64000, 160000}},   {24000, {8000, 56000, 160000}},
        {8000, {8000, 32000, 64000}},     {11025, {8000, 32000, 64000}},    {12000, {8000, 24000, 64000}},
    };
    struct Case {
        Options o;
        Result r;
        int level;  // 0 low, 1 middle, 2 high rate
    };
    std::vector<Case> cases;
    std::vector<NamedStream> streams;
    for (const RateSet& set : sets)
        for (int mode : {3, 1})
            for (int i = 0; i < 3; ++i) {
                Options o;
                o.hz = set.hz;
                o.bitRate = set.rates[i];
                o.stereoMode = mode;
                o.crc = (i + mode) % 2;
                o.frames = set.hz > 24000 ? 12 : 24;
                const std::string name = std::to_string(o.hz) + "-" + std::to_string(o.bitRate) + "-" +
                                         (mode == 3 ? "mono" : "joint") + (o.crc ? "-crc" : "");
                cases.push_back({o, Encode(o), i});
                const size_t samples = static_cast<size_t>(o.frames) * (o.hz > 24000 ? 1152 : 576);
                streams.push_back({name, cases.back().r.stream, o.crc != 0, o.hz, samples});
            }
    ASSERT_EQ(cases.size(), 54u);
    std::vector<std::vector<int16_t>> ffmpeg;
    const auto mpg123 = DecodeAll(streams, &ffmpeg);
    int toneChecks = 0;
    for (size_t n = 0; n < cases.size(); ++n) {
        const Options& o = cases[n].o;
        const Result& r = cases[n].r;
        SCOPED_TRACE(streams[n].name);
        EXPECT_EQ(r.overBudget, 0);
        bool clean = false;
        const auto frames = l3test::ParseFrames(r.stream, &clean);
        EXPECT_TRUE(clean);
        ASSERT_EQ(static_cast<int>(frames.size()), o.frames);
        long long bytes = 0;
        for (const auto& f : frames) {
            EXPECT_EQ(f.kbps * 1000, o.bitRate);
            EXPECT_EQ(f.rate, o.hz);
            EXPECT_EQ(f.crc, o.crc != 0);
            EXPECT_EQ(f.mode, o.stereoMode);
            bytes += f.length;
        }
        const int spf = o.hz > 24000 ? 1152 : 576;
        // Within 0.2 %, or the one padding byte a short stream may still owe.
        const double rate = bytes * 8.0 * o.hz / (static_cast<double>(o.frames) * spf);
        EXPECT_NEAR(rate, o.bitRate, std::max(o.bitRate * 0.002, 8.0 * o.hz / (o.frames * spf)));
        const std::vector<int> begins = MainDataBegins(r.stream, frames);
        EXPECT_EQ(begins[0], 0);
        for (int begin : begins) EXPECT_LE(begin, ExpectedLimitBytes(o.bitRate, o.hz));

        const int channels = o.stereoMode == 3 ? 1 : 2;
        EXPECT_EQ(mpg123[n].size(), static_cast<size_t>(o.frames) * spf);
        EXPECT_EQ(ffmpeg[n].size(), mpg123[n].size() * channels);
        // Where the tone made it into nearly every granule it must come out
        // of the decoder at its line's frequency, the same from both peers.
        if (cases[n].level > 0 && r.toneGranules * 10 >= r.granules * 9 && ffmpeg[n].size() == mpg123[n].size() * channels) {
            EXPECT_NEAR(PeakLine(ffmpeg[n], channels, o.hz), kToneLine, 1);
            ++toneChecks;
            std::vector<int16_t> left(mpg123[n].size());
            for (size_t k = 0; k < left.size(); ++k) left[k] = ffmpeg[n][k * channels];
            EXPECT_GT(l3test::BestSnr(left, mpg123[n], 1, 0, 0, nullptr, 0), 40.0);
        }
    }
    EXPECT_GE(toneChecks, 24);
    std::printf("tone found at its line in %d of 54 streams\n", toneChecks);
}

TEST(BitstreamEncoder, UnlistedRateMixesFramesAndHoldsTheMeanWithin0Point2Percent) {
    if (!l3test::HaveTool("ffmpeg") || !l3test::HaveTool("mpg123")) GTEST_SKIP() << "ffmpeg or mpg123 missing";
    Options o;
    o.hz = 44100;
    o.bitRate = 100000;
    o.frames = 200;
    o.crc = 1;
    const Result r = Encode(o);
    EXPECT_EQ(r.overBudget, 0);
    bool clean = false;
    const auto frames = l3test::ParseFrames(r.stream, &clean);
    EXPECT_TRUE(clean);
    ASSERT_EQ(static_cast<int>(frames.size()), o.frames);
    long long bytes = 0;
    int low = 0, high = 0;
    for (const auto& f : frames) {
        bytes += f.length;
        low += f.kbps == 96;
        high += f.kbps == 112;
    }
    EXPECT_EQ(low + high, o.frames);
    EXPECT_GT(low, 0);
    EXPECT_GT(high, 0);
    const double rate = bytes * 8.0 * o.hz / (o.frames * 1152.0);
    EXPECT_NEAR(rate, 100000.0, 200.0);
    for (int begin : MainDataBegins(r.stream, frames)) EXPECT_LE(begin, ExpectedLimitBytes(96000, 44100));
    std::vector<std::vector<int16_t>> ffmpeg;
    const auto mpg123 = DecodeAll({{"mixed", r.stream, true, o.hz, static_cast<size_t>(o.frames) * 1152}}, &ffmpeg);
    EXPECT_EQ(mpg123[0].size(), static_cast<size_t>(o.frames) * 1152);
    EXPECT_EQ(ffmpeg[0].size(), 2 * mpg123[0].size());
}

TEST(BitstreamEncoder, WithoutReservoirEveryGranuleGetsTheMeanShare) {
    Options o;
    o.hz = 32000;
    o.bitRate = 320000;  // 7680 - 2 x 5760 < 0: no reservoir
    o.stereoMode = 3;
    o.frames = 10;
    const Result r = Encode(o);
    ASSERT_EQ(r.budgetSums.size(), 10u);
    for (size_t f = 0; f < r.budgetSums.size(); ++f) EXPECT_EQ(r.budgetSums[f], 2 * r.meanShares[f]) << f;
    bool clean = false;
    const auto frames = l3test::ParseFrames(r.stream, &clean);
    EXPECT_TRUE(clean);
    for (int begin : MainDataBegins(r.stream, frames)) EXPECT_EQ(begin, 0);
}

TEST(BitstreamEncoder, ReservedAncillarySpaceCarriesThePendingBytes) {
    Options o;
    o.hz = 48000;
    o.bitRate = 128000;
    o.frames = 8;
    o.ancillaryPerFrame = 4;
    const std::string text = "VELMORA-ANCDATA!";
    o.ancillary.assign(text.begin(), text.end());
    const Result r = Encode(o);
    EXPECT_EQ(r.pendingLeft, 0);
    const std::string s(r.stream.begin(), r.stream.end());
    for (const char* piece : {"VELM", "ORA-", "ANCD", "ATA!"}) EXPECT_NE(s.find(piece), std::string::npos) << piece;
    bool clean = false;
    l3test::ParseFrames(r.stream, &clean);
    EXPECT_TRUE(clean);
}

TEST(BitstreamEncoder, CreationRefusesWhatNoStreamCanCarry) {
    auto message = [](int hz, int rate, int mode) {
        BitstreamEncoder* e = reinterpret_cast<BitstreamEncoder*>(1);
        EncError* err = CreateBitstreamEncoder(hz, rate, 0, 0, 0, 0, 0, 0, mode, 0, &e);
        EXPECT_EQ(e, nullptr);
        std::string text = err && err->message ? err->message : "";
        // The frame accounting's error comes with the writer's own link after it.
        if (err && std::string(err->source) == "BitFrame.cpp") {
            EXPECT_NE(err->next, nullptr);
        } else if (err) {
            EXPECT_STREQ(err->source, "BitstreamEncoder.cpp");
        }
        ErrorFree(err);
        return text;
    };
    EXPECT_EQ(message(44000, 128000, 0), "invalid samplerate");
    EXPECT_EQ(message(44100, 128000, 4), "erroneous stereo mode");
    EXPECT_EQ(message(44100, 7000, 0), "bitrate too low");
    EXPECT_EQ(message(8000, 80000, 3), "bitrate too high");

    BitstreamEncoder* e = nullptr;
    ASSERT_EQ(CreateBitstreamEncoder(32000, 64000, 0, 0, 0, 0, 0, 0, 3, 0, &e), nullptr);
    EXPECT_EQ(e->sideInfoBits, 136);
    EXPECT_EQ(e->fixedBits, 32 + 136);
    PsyGranule two{};
    two.channels = 2;  // more channels than a mono encoder
    int budgets[4];
    EXPECT_EQ(AdvanceBitstreamEncoder(e, &two, 0, budgets), 0);
    DeleteBitstreamEncoder(e);
    ASSERT_EQ(CreateBitstreamEncoder(22050, 64000, 0, 1, 0, 0, 0, 0, 0, 0, &e), nullptr);
    EXPECT_EQ(e->sideInfoBits, 136);
    EXPECT_EQ(e->granules, 1);
    EXPECT_EQ(e->fixedBits, 32 + 136 + 16);
    DeleteBitstreamEncoder(e);
    DeleteBitstreamEncoder(nullptr);
}

TEST(BitstreamEncoder, FlushFillsTheLastFramesMainDataWithItsFillerPattern) {
    BitstreamEncoder* e = nullptr;
    ASSERT_EQ(CreateBitstreamEncoder(44100, 128000, 0, 0, 0, 0, 0, 0, 0, 0, &e), nullptr);
    std::vector<float> spectrum(576, 0.0f), thr(kLongBands, 1.0f);
    DemandParam longSet = DemandParamFromRecord(kLongRecord), shortSet = DemandParamFromRecord(kShortRecord);
    int budgets[4];
    for (int g = 0; g < 2; ++g) {
        PsyGranule p{};
        p.channels = 2;
        p.granule = g;
        for (int c = 0; c < 2; ++c) p.channel[c] = {0, spectrum.data(), thr.data(), {thr.data(), thr.data(), thr.data()}, 0, 0};
        p.demandLong = &longSet;
        p.demandShort = &shortSet;
        ASSERT_EQ(AdvanceBitstreamEncoder(e, &p, 0, budgets), 1);
    }
    auto q = std::make_unique<QuantFrame>();  // silence: no bits at all
    q->complete = 1;
    std::vector<uint8_t> out(8000), stream;
    int n = 0;
    WriteBitstream(e, q.get(), nullptr, nullptr, &n, out.data(), static_cast<int>(out.size()));
    EXPECT_EQ(n, 36);  // header and side information; the main data are still owed
    stream.assign(out.begin(), out.begin() + n);
    FlushBitstreamEncoder(e, &n, out.data(), 100);  // the caller's room is honoured
    EXPECT_EQ(n, 100);
    stream.insert(stream.end(), out.begin(), out.begin() + n);
    FlushBitstreamEncoder(e, &n, out.data(), static_cast<int>(out.size()));
    stream.insert(stream.end(), out.begin(), out.begin() + n);
    DeleteBitstreamEncoder(e);
    ASSERT_EQ(stream.size(), 417u);
    // 0x20 and 0x00 in turn while more than a byte is owed, then zero bits.
    for (size_t i = 36; i + 1 < stream.size(); ++i) EXPECT_EQ(stream[i], (i - 36) % 2 ? 0x00 : 0x20) << i;
    EXPECT_EQ(stream.back(), 0x00);
}
