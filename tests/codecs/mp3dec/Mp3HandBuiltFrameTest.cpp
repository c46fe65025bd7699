// Intensity stereo and mixed blocks, which the Debian encoders never write,
// in frames built bit by bit here; mpg123 decodes the same bytes as a peer.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <random>

#include "Mp3TestUtil.h"
#include "common/L3Tables.h"

using namespace mp3test;

namespace {

struct Granule {
    int globalGain = 170;
    int scalefacCompress = 0;
    int windowSwitching = 0;
    int blockType = 0;
    int mixed = 0;
    int subblockGain[3] = {0, 0, 0};
    int scalefacScale = 0;
    std::vector<std::pair<int, int>> scalefactors;  // (value, bits) in transmission order
    std::vector<int> values = std::vector<int>(576, 0);
};

struct Frame {
    FrameSpec spec;
    Granule gr[2][2];  // [granule][channel]
};

// Pairs with table 15 (no linbits: |value| <= 15); big_values covers up to the last nonzero pair.
void WriteHuffman(CBitWriter& w, const std::vector<int>& values, int& bigValues) {
    int last = 575;
    while (last >= 0 && values[static_cast<size_t>(last)] == 0) --last;
    bigValues = (last + 2) / 2;
    const auto& info = l3tables::kHuffInfo[15];
    for (int i = 0; i < 2 * bigValues; i += 2) {
        const int x = values[static_cast<size_t>(i)];
        const int y = values[static_cast<size_t>(i + 1)];
        for (int k = 0; k < info.count; ++k) {
            const auto& c = l3tables::kHuffPairs[info.first + k];
            if (c.x == std::abs(x) && c.y == std::abs(y)) {
                w.Put(c.bits, c.len);
                break;
            }
        }
        if (x) w.Put(x < 0, 1);
        if (y) w.Put(y < 0, 1);
    }
}

std::vector<uint8_t> BuildHandFrame(const Frame& f) {
    const bool mpeg1 = f.spec.version == 0;
    const int nch = f.spec.mode == 3 ? 1 : 2;
    const int ngr = mpeg1 ? 2 : 1;
    CBitWriter main;
    int p23[2][2] = {};
    int bigValues[2][2] = {};
    for (int gr = 0; gr < ngr; ++gr)
        for (int ch = 0; ch < nch; ++ch) {
            const Granule& g = f.gr[gr][ch];
            const size_t start = main.Bits();
            for (auto [v, bits] : g.scalefactors)
                if (bits) main.Put(static_cast<uint32_t>(v), bits);
            WriteHuffman(main, g.values, bigValues[gr][ch]);
            p23[gr][ch] = static_cast<int>(main.Bits() - start);
        }
    CBitWriter side;
    side.Put(0, mpeg1 ? 9 : 8);  // main_data_begin
    side.Put(0, mpeg1 ? (nch == 1 ? 5 : 3) : (nch == 1 ? 1 : 2));
    if (mpeg1) side.Put(0, 4 * nch);  // scfsi
    for (int gr = 0; gr < ngr; ++gr)
        for (int ch = 0; ch < nch; ++ch) {
            const Granule& g = f.gr[gr][ch];
            side.Put(static_cast<uint32_t>(p23[gr][ch]), 12);
            side.Put(static_cast<uint32_t>(bigValues[gr][ch]), 9);
            side.Put(static_cast<uint32_t>(g.globalGain), 8);
            side.Put(static_cast<uint32_t>(g.scalefacCompress), mpeg1 ? 4 : 9);
            side.Put(static_cast<uint32_t>(g.windowSwitching), 1);
            if (g.windowSwitching) {
                side.Put(static_cast<uint32_t>(g.blockType), 2);
                side.Put(static_cast<uint32_t>(g.mixed), 1);
                side.Put(15, 5);
                side.Put(15, 5);
                for (int s : g.subblockGain) side.Put(static_cast<uint32_t>(s), 3);
            } else {
                side.Put(15, 5);
                side.Put(15, 5);
                side.Put(15, 5);
                side.Put(7, 4);
                side.Put(7, 3);
            }
            if (mpeg1) side.Put(0, 1);  // preflag
            side.Put(static_cast<uint32_t>(g.scalefacScale), 1);
            side.Put(0, 1);
        }
    auto mainBytes = main.Bytes();
    const size_t room = static_cast<size_t>(FrameBytes(f.spec) - 4 - SideInfoBytes(f.spec));
    EXPECT_LE(mainBytes.size(), room) << "hand-built frame too full";
    return BuildFrame(f.spec, side.Bytes(), mainBytes);
}

// Random values in the first `lines` lines (the last one nonzero).
std::vector<int> RandomLines(std::mt19937& rng, int lines, int maxAbs) {
    std::vector<int> v(576, 0);
    std::uniform_int_distribution<int> d(-maxAbs, maxAbs);
    for (int i = 0; i < lines; ++i) v[static_cast<size_t>(i)] = d(rng);
    v[static_cast<size_t>(lines - 1)] = maxAbs;
    return v;
}

struct Compared {
    DecodeResult ours;
    std::vector<int16_t> ref;
    bool haveRef = false;
};

Compared DecodeBoth(const std::vector<uint8_t>& stream, const std::string& tag) {
    Compared c;
    c.ours = DecodeAll(stream);
    if (!HaveTool("mpg123")) return c;
    CTempDir dir(tag);
    WriteFile(dir / "h.mp3", stream);
    if (!mp3test::Run("mpg123 --no-gapless -q -s -O " + (dir / "ref.raw") + " " + (dir / "h.mp3"))) return c;
    c.ref = AsSamples(ReadFile(dir / "ref.raw"));
    c.haveRef = true;
    return c;
}

void ExpectMatchesPeer(const Compared& c, const char* what) {
    const auto pcm = AsSamples(c.ours.pcm);
    ASSERT_EQ(pcm.size(), c.ref.size()) << what;
    double sum = 0.0;
    int peak = 0;
    for (size_t i = 0; i < pcm.size(); ++i) {
        const int d = pcm[i] - c.ref[i];
        sum += static_cast<double>(d) * d;
        peak = std::max(peak, std::abs(d));
    }
    const double rms = std::sqrt(sum / static_cast<double>(std::max<size_t>(pcm.size(), 1))) / 32768.0;
    std::printf("[ accuracy ] %-28s rms %.3e peak %.3e\n", what, rms, peak / 32768.0);
    EXPECT_LT(rms, std::pow(2.0, -15) / std::sqrt(12.0)) << what;
    EXPECT_LE(peak / 32768.0, std::pow(2.0, -14)) << what;
}

// MPEG-1 joint stereo at 44100 Hz, 320 kbit/s, intensity on (and M/S when ms).
std::vector<uint8_t> Mpeg1IntensityStream(uint32_t seed, bool ms, bool shortBlocks, int fixedIsPos) {
    std::mt19937 rng(seed);
    std::printf("seed %u\n", seed);
    std::vector<uint8_t> stream;
    for (int n = 0; n < 6; ++n) {
        Frame f;
        f.spec.bitRateIndex = 14;
        f.spec.mode = 1;
        f.spec.modeExtension = ms ? 3 : 1;
        for (int gr = 0; gr < 2; ++gr) {
            for (int ch = 0; ch < 2; ++ch) {
                Granule& g = f.gr[gr][ch];
                g.scalefacCompress = 13;  // slen1 = slen2 = 3
                if (shortBlocks) {
                    g.windowSwitching = 1;
                    g.blockType = 2;
                }
            }
            Granule& l = f.gr[gr][0];
            Granule& r = f.gr[gr][1];
            l.values = RandomLines(rng, 200, 7);
            // Left scale factors small, right ones are the intensity positions.
            std::uniform_int_distribution<int> pos(0, 7);
            if (!shortBlocks) {
                for (int b = 0; b < 21; ++b) l.scalefactors.push_back({b % 3, 3});
                for (int b = 0; b < 21; ++b)
                    r.scalefactors.push_back({fixedIsPos >= 0 ? fixedIsPos : b < 4 ? 1 : pos(rng), 3});
                // Right channel nonzero only in bands 0..3 (lines 0..15): intensity from band 4 on.
                r.values.assign(576, 0);
                if (fixedIsPos < 0)
                    for (int i = 0; i < 16; ++i) r.values[static_cast<size_t>(i)] = static_cast<int>(rng() % 7) - 3;
                if (fixedIsPos < 0) r.values[15] = 2;
            } else {
                for (int b = 0; b < 12; ++b)
                    for (int w = 0; w < 3; ++w) l.scalefactors.push_back({(b + w) % 4, 3});
                for (int b = 0; b < 12; ++b)
                    for (int w = 0; w < 3; ++w) r.scalefactors.push_back({pos(rng), 3});
                // Right channel: window w nonzero up to band w + 1, so each window has its own bound.
                r.values.assign(576, 0);
                for (int sfb = 0; sfb < 4; ++sfb) {
                    const int width = l3tables::kSfbShort[1][sfb + 1] - l3tables::kSfbShort[1][sfb];
                    for (int w = 0; w < 3; ++w) {
                        if (sfb > w + 1) continue;
                        const int base = 3 * l3tables::kSfbShort[1][sfb] + w * width;
                        for (int j = 0; j < width; ++j) r.values[static_cast<size_t>(base + j)] = (j % 3) - 1;
                        r.values[static_cast<size_t>(base + width - 1)] = 1;
                    }
                }
            }
        }
        const auto bytes = BuildHandFrame(f);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}

}  // namespace

TEST(Mp3HandBuiltFrames, Mpeg1IntensityStereoLongBlocks) {
    for (bool ms : {false, true}) {
        const Compared c = DecodeBoth(Mpeg1IntensityStream(1234 + ms, ms, false, -1), "is1");
        EXPECT_EQ(c.ours.frames, 6);
        EXPECT_EQ(c.ours.concealed, 0);
        if (!c.haveRef) GTEST_SKIP() << "mpg123 not on PATH";
        ExpectMatchesPeer(c, ms ? "mpeg1 intensity + m/s" : "mpeg1 intensity");
    }
}

TEST(Mp3HandBuiltFrames, Mpeg1IntensityStereoShortBlocksBoundPerWindow) {
    const Compared c = DecodeBoth(Mpeg1IntensityStream(777, false, true, -1), "is1s");
    EXPECT_EQ(c.ours.frames, 6);
    if (!c.haveRef) GTEST_SKIP() << "mpg123 not on PATH";
    ExpectMatchesPeer(c, "mpeg1 intensity short");
}

TEST(Mp3HandBuiltFrames, IntensityPositionsSteerTheSignal) {
    // Right channel silent in the spectrum: everything is intensity coded.
    auto channelEnergy = [](const DecodeResult& r, int ch) {
        double e = 0.0;
        const auto s = AsSamples(r.pcm);
        for (size_t i = static_cast<size_t>(ch); i < s.size(); i += 2) e += static_cast<double>(s[i]) * s[i];
        return e;
    };
    const DecodeResult allLeft = DecodeAll(Mpeg1IntensityStream(5, false, false, 6));
    EXPECT_GT(channelEnergy(allLeft, 0), 0.0);
    EXPECT_EQ(channelEnergy(allLeft, 1), 0.0);
    const DecodeResult allRight = DecodeAll(Mpeg1IntensityStream(5, false, false, 0));
    EXPECT_EQ(channelEnergy(allRight, 0), 0.0);
    EXPECT_GT(channelEnergy(allRight, 1), 0.0);
    const DecodeResult centre = DecodeAll(Mpeg1IntensityStream(5, false, false, 3));
    const auto s = AsSamples(centre.pcm);
    for (size_t i = 0; i + 1 < s.size(); i += 2) ASSERT_EQ(s[i], s[i + 1]) << i;
    EXPECT_GT(channelEnergy(centre, 0), 0.0);
}

TEST(Mp3HandBuiltFrames, Mpeg2IntensityStereo) {
    std::mt19937 rng(99);
    std::printf("seed 99\n");
    // Right channel: an intensity scale-factor coding with three 3-bit... partitions from the table.
    int key = -1;
    for (int k = 0; k < 256 && key < 0; ++k) {
        const auto& e = l3tables::kLsfSlen[1][k];
        if (e.block < 6 && e.slen[0] >= 2 && e.slen[1] >= 2 && e.slen[2] >= 2) key = k;
    }
    ASSERT_GE(key, 0);
    const auto& e = l3tables::kLsfSlen[1][key];
    std::vector<uint8_t> stream;
    for (int n = 0; n < 6; ++n) {
        Frame f;
        f.spec = FrameSpec{1, 0, 14, 0, 1, 1};  // 22050 Hz, 160 kbit/s, joint, intensity
        Granule& l = f.gr[0][0];
        Granule& r = f.gr[0][1];
        l.scalefacCompress = 0;  // mode 0 key 0: every slen 0
        ASSERT_EQ(l3tables::kLsfSlen[0][0].slen[0], 0);
        l.values = RandomLines(rng, 150, 6);
        r.scalefacCompress = key << 1 | (n & 1);  // low bit: intensity_scale  // low bit: intensity_scale
        const auto* nr = l3tables::kLsfPartitions[e.block][0];
        for (int p = 0; p < 4; ++p)
            for (int i = 0; i < nr[p]; ++i)
                // Legal positions only: peers disagree on the illegal one (all ones) at these rates.
                r.scalefactors.push_back(
                    {e.slen[p] ? static_cast<int>(rng() % ((1u << e.slen[p]) - 1)) : 0, e.slen[p]});
        r.values.assign(576, 0);
        for (int i = 0; i < 18; ++i) r.values[static_cast<size_t>(i)] = static_cast<int>(rng() % 5) - 2;
        r.values[17] = 1;
        const auto bytes = BuildHandFrame(f);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    const Compared c = DecodeBoth(stream, "is2");
    EXPECT_EQ(c.ours.frames, 6);
    EXPECT_EQ(c.ours.concealed, 0);
    if (!c.haveRef) GTEST_SKIP() << "mpg123 not on PATH";
    ExpectMatchesPeer(c, "mpeg2 intensity");
}

namespace {
std::vector<uint8_t> MixedStream(const FrameSpec& spec, uint32_t seed) {
    std::mt19937 rng(seed);
    std::printf("seed %u\n", seed);
    std::vector<uint8_t> stream;
    const int ngr = spec.version == 0 ? 2 : 1;
    const int nch = spec.mode == 3 ? 1 : 2;
    for (int n = 0; n < 6; ++n) {
        Frame f;
        f.spec = spec;
        for (int gr = 0; gr < ngr; ++gr)
            for (int ch = 0; ch < nch; ++ch) {
                Granule& g = f.gr[gr][ch];
                // Alternate mixed, short and long granules so that the overlap crosses block types.
                const int kind = (n + gr + ch) % 3;
                g.windowSwitching = kind != 2;
                g.blockType = kind != 2 ? 2 : 0;
                g.mixed = kind == 0;
                g.subblockGain[0] = n % 2;
                g.subblockGain[2] = 1;
                g.scalefacScale = n % 2;
                g.values = RandomLines(rng, spec.version == 0 ? 160 : 120, 6);
            }
        const auto bytes = BuildHandFrame(f);
        stream.insert(stream.end(), bytes.begin(), bytes.end());
    }
    return stream;
}
}  // namespace

TEST(Mp3HandBuiltFrames, MixedBlocksAtEveryVersion) {
    struct Case {
        FrameSpec spec;
        const char* name;
    };
    const Case cases[] = {
        {FrameSpec{0, 0, 14, 0, 0}, "mixed mpeg1 44100 stereo"},
        {FrameSpec{0, 2, 14, 0, 1}, "mixed mpeg1 32000 joint"},
        {FrameSpec{1, 0, 14, 0, 3}, "mixed mpeg2 22050 mono"},
        {FrameSpec{1, 1, 14, 0, 0}, "mixed mpeg2 24000 stereo"},
        {FrameSpec{2, 0, 14, 0, 0}, "mixed mpeg2.5 11025 stereo"},
    };
    for (const Case& c : cases) {
        const Compared r = DecodeBoth(MixedStream(c.spec, 4242), "mixed");
        EXPECT_EQ(r.ours.frames, 6) << c.name;
        EXPECT_EQ(r.ours.concealed, 0) << c.name;
        if (r.haveRef) ExpectMatchesPeer(r, c.name);
    }
    if (!HaveTool("mpg123")) GTEST_SKIP() << "mpg123 not on PATH";
}

TEST(Mp3HandBuiltFrames, MixedBlocksAt8000HzHaveFourLongSubbands) {
    // At 8000 Hz the long part of a mixed block spans lines 0..71, four
    // subbands with the normal window (mpg123 uses two, so it is no peer
    // here). Lines only in subbands 0..2 must then decode as the same lines
    // in a long block: same window, same three alias boundaries, silent short part.
    std::vector<uint8_t> mixed;
    std::vector<uint8_t> plain;
    std::mt19937 rng(8000);
    std::printf("seed 8000\n");
    for (int n = 0; n < 4; ++n) {
        Frame f;
        f.spec = FrameSpec{2, 2, 14, 0, 3};
        Granule& g = f.gr[0][0];
        g.values = RandomLines(rng, 40, 6);  // subbands 0..2 only
        Frame m = f;
        m.gr[0][0].windowSwitching = 1;
        m.gr[0][0].blockType = 2;
        m.gr[0][0].mixed = 1;
        const auto a = BuildHandFrame(m);
        const auto b = BuildHandFrame(f);
        mixed.insert(mixed.end(), a.begin(), a.end());
        plain.insert(plain.end(), b.begin(), b.end());
    }
    const auto x = AsSamples(DecodeAll(mixed).pcm);
    const auto y = AsSamples(DecodeAll(plain).pcm);
    ASSERT_EQ(x.size(), y.size());
    ASSERT_EQ(x.size(), 4u * 576u);
    double energy = 0.0;
    for (size_t i = 0; i < x.size(); ++i) {
        ASSERT_LE(std::abs(x[i] - y[i]), 1) << i;
        energy += static_cast<double>(x[i]) * x[i];
    }
    EXPECT_GT(energy, 0.0);
}
