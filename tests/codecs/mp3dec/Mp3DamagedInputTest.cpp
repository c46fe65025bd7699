// Damaged input: CRC errors, missing main data, truncation, bit flips, lost
// sync, garbage and a change of rate. The decoder conceals, reports the
// status and never crashes or stalls.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <set>

#include "Mp3TestUtil.h"
#include "codecs/mp3dec/Mp3Concealer.h"
#include "common/L3Tables.h"

using namespace mp3test;

namespace {

// A silent MPEG-1 frame whose side information says main_data_begin = mdb.
std::vector<uint8_t> SilentFrame(int mdb, bool crc) {
    FrameSpec f;
    f.crc = crc;
    CBitWriter side;
    side.Put(static_cast<uint32_t>(mdb), 9);
    return BuildFrame(f, side.Bytes());
}

std::vector<Mp3Status> StepStatuses(const std::vector<uint8_t>& stream, std::vector<uint32_t>* produced = nullptr) {
    Mp3DecoderHandle h = nullptr;
    EXPECT_EQ(Mp3DecoderCreate(&h, 0, 0, 0), MP3STATUS_OK);
    uint32_t taken = 0;
    Mp3DecoderFeed(h, stream.data(), static_cast<uint32_t>(stream.size()), &taken);
    h->object->SetEndOfStream();
    std::vector<Mp3Status> out;
    std::vector<uint8_t> pcm(4608);
    for (int i = 0; i < 100; ++i) {
        uint32_t n = 0;
        const Mp3Status s = Mp3DecoderDecode(h, pcm.data(), 4608, &n, nullptr, nullptr);
        if (s == MP3STATUS_W_EOF) break;
        out.push_back(s);
        if (produced) produced->push_back(n);
    }
    Mp3DecoderDestroy(h);
    return out;
}

std::vector<uint8_t> LameStream(const CTempDir& dir, int rate, int channels, const std::string& opts,
                                double seconds = 1.0) {
    WriteWav(dir / "in.wav", TestSignal(rate, channels, seconds, 7), rate, channels);
    if (!mp3test::Run("lame --quiet -t " + opts + " " + (dir / "in.wav") + " " + (dir / "o.mp3"))) return {};
    return ReadFile(dir / "o.mp3");
}

const std::set<Mp3Status> kAllowed = {MP3STATUS_OK,        MP3STATUS_I_CRC,      MP3STATUS_I_NOMAINDATA,
                                      MP3STATUS_W_SEARCHED, MP3STATUS_W_LOST,    MP3STATUS_W_NEEDDATA,
                                      MP3STATUS_W_EOF};

void ExpectSaneDecode(const DecodeResult& r, const char* what) {
    EXPECT_TRUE(r.reachedEof) << what << ": stalled";
    for (Mp3Status s : r.statuses) EXPECT_TRUE(kAllowed.count(s)) << what << ": status " << std::hex << s;
    // Whole frames only: 576 or 1152 samples of one or two channels.
    EXPECT_EQ(r.pcm.size() % 1152, 0u) << what;
}

}  // namespace

TEST(Mp3DamagedInput, CrcFailureConcealsAndEmptiesTheReservoir) {
    std::vector<uint8_t> stream = SilentFrame(0, true);
    for (int i = 0; i < 5; ++i) {
        auto f = SilentFrame(10, true);
        if (i == 1) f[6] ^= 0x01;  // a side-information bit: the CRC no longer holds
        stream.insert(stream.end(), f.begin(), f.end());
    }
    std::vector<uint32_t> produced;
    const auto s = StepStatuses(stream, &produced);
    ASSERT_EQ(s.size(), 6u);
    EXPECT_EQ(s[0], MP3STATUS_OK);
    EXPECT_EQ(s[1], MP3STATUS_OK);
    EXPECT_EQ(s[2], MP3STATUS_I_CRC);
    EXPECT_EQ(s[3], MP3STATUS_I_NOMAINDATA);  // reaches back into the emptied reservoir
    EXPECT_EQ(s[4], MP3STATUS_OK);
    EXPECT_EQ(s[5], MP3STATUS_OK);
    for (uint32_t n : produced) EXPECT_EQ(n, 4608u);  // every frame gives a full frame of samples
}

TEST(Mp3DamagedInput, MainDataBeforeTheFirstFrameIsMissing) {
    auto stream = Repeat(SilentFrame(20, false), 3);
    const auto s = StepStatuses(stream);
    ASSERT_EQ(s.size(), 3u);
    EXPECT_EQ(s[0], MP3STATUS_I_NOMAINDATA);
    EXPECT_EQ(s[1], MP3STATUS_OK);
    // Without protection no frame is ever a CRC error, even with a damaged side.
    auto damaged = Repeat(SilentFrame(0, false), 3);
    damaged[10] ^= 0x40;
    for (Mp3Status st : StepStatuses(damaged)) EXPECT_NE(st, MP3STATUS_I_CRC);
}

TEST(Mp3DamagedInput, ConcealedGranulesKeepTheBandEnergiesOfTheHistory) {
    const int16_t* sfb = l3tables::kSfbLong[1];  // 44100 Hz
    CMp3Concealer c;
    std::mt19937 rng(31);
    std::printf("seed 31\n");
    std::normal_distribution<float> d(0.0f, 100.0f);
    float history[3][576];
    Mp3GranuleChannel gc{};
    for (int k = 0; k < 3; ++k) {
        for (float& v : history[k]) v = d(rng);
        c.ConcealOrStore(false, sfb, gc, history[k], 0);
    }
    // A short-block granule never enters the history.
    Mp3GranuleChannel shortGc{};
    shortGc.windowSwitching = 1;
    shortGc.blockType = 2;
    float loud[576];
    for (float& v : loud) v = 1e6f;
    c.ConcealOrStore(false, sfb, shortGc, loud, 0);

    float out[576] = {};
    Mp3GranuleChannel target = shortGc;
    c.ConcealOrStore(true, sfb, target, out, 0);
    EXPECT_EQ(target.blockType, 0);  // side information of the last good long granule
    EXPECT_EQ(target.nonzeroLines, 576);
    for (int b = 0; b < 22; ++b) {
        double expected = 0.0;
        double got = 0.0;
        for (int i = sfb[b]; i < sfb[b + 1]; ++i) {
            const double avg = (std::fabs(history[0][i]) + std::fabs(history[1][i]) + std::fabs(history[2][i])) / 3.0;
            expected += avg * avg;
            got += static_cast<double>(out[i]) * out[i];
        }
        EXPECT_NEAR(got, expected, expected * 1e-4) << "band " << b;
    }
}

TEST(Mp3DamagedInput, ConcealmentIsSilentWithoutHistoryAndRepeatable) {
    // A CRC failure as the very first frame gives digital silence.
    std::vector<uint8_t> bad = SilentFrame(0, true);
    bad[7] ^= 0x80;
    auto stream = bad;
    const auto more = Repeat(SilentFrame(0, true), 2);
    stream.insert(stream.end(), more.begin(), more.end());
    const DecodeResult r = DecodeAll(stream);
    ASSERT_GE(r.frames, 1);
    ASSERT_FALSE(r.statuses.empty());
    EXPECT_EQ(r.statuses[0], MP3STATUS_I_CRC);
    for (uint8_t b : r.pcm) ASSERT_EQ(b, 0);
    if (!HaveTool("lame")) GTEST_SKIP() << "lame not on PATH";
    // Two decoders fed the same damaged stream give the same samples.
    CTempDir dir("repeat");
    auto s = LameStream(dir, 44100, 2, "-p -b 128", 0.5);
    ASSERT_FALSE(s.empty());
    // Side information of every fourth protected frame (headers FF FA/FB with CRC).
    int seen = 0;
    for (size_t i = 0; i + 8 < s.size(); ++i)
        if (s[i] == 0xFF && (s[i + 1] & 0xFE) == 0xFA && ++seen % 4 == 0) s[i + 8] ^= 0x10;
    const DecodeResult a = DecodeAll(s);
    const DecodeResult b = DecodeAll(s);
    EXPECT_GT(a.concealed, 0);
    EXPECT_EQ(a.pcm, b.pcm);
}

TEST(Mp3DamagedInput, IntactProtectedStreamsHaveNoCrcErrors) {
    if (!HaveTool("lame")) GTEST_SKIP() << "lame not on PATH";
    CTempDir dir("crc");
    struct Case {
        int rate, channels;
        const char* opts;
    };
    for (const Case& c : {Case{44100, 2, "-p -b 128"}, Case{22050, 1, "-p -b 32"}, Case{8000, 2, "-p -b 16"}}) {
        const auto s = LameStream(dir, c.rate, c.channels, c.opts, 0.3);
        ASSERT_FALSE(s.empty());
        const DecodeResult r = DecodeAll(s);
        EXPECT_GT(r.frames, 5) << c.rate;
        EXPECT_EQ(r.concealed, 0) << c.rate;
    }
}

TEST(Mp3DamagedInput, TruncationEndsCleanlyAtEveryLength) {
    if (!HaveTool("lame")) GTEST_SKIP() << "lame not on PATH";
    CTempDir dir("trunc");
    const auto s = LameStream(dir, 22050, 1, "-b 32", 0.4);
    ASSERT_FALSE(s.empty());
    const DecodeResult whole = DecodeAll(s);
    for (size_t cut = 0; cut < s.size(); cut += 37) {
        const DecodeResult r = DecodeAll(std::vector<uint8_t>(s.begin(), s.begin() + static_cast<long>(cut)), 333);
        ExpectSaneDecode(r, "truncated");
        ASSERT_LE(r.frames, whole.frames);
        // What was decoded is what the whole stream gives up to there.
        ASSERT_TRUE(std::equal(r.pcm.begin(), r.pcm.end(), whole.pcm.begin())) << cut;
    }
}

TEST(Mp3DamagedInput, BitFlipsGarbageAndLostSync) {
    if (!HaveTool("lame")) GTEST_SKIP() << "lame not on PATH";
    CTempDir dir("flip");
    const auto s = LameStream(dir, 44100, 2, "-p -b 128");
    ASSERT_FALSE(s.empty());
    const DecodeResult clean = DecodeAll(s);
    const uint32_t seed = 20261209;
    std::printf("seed %u\n", seed);
    std::mt19937 rng(seed);
    for (int round = 0; round < 8; ++round) {
        auto d = s;
        for (int k = 0; k < 40; ++k) d[rng() % d.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        const DecodeResult r = DecodeAll(d, 1000);
        ExpectSaneDecode(r, "bit flips");
        EXPECT_GT(r.frames, clean.frames / 2);
    }
    // Garbage in the middle: sync is lost once and found again.
    auto g = s;
    std::vector<uint8_t> garbage(3000);
    for (auto& b : garbage) b = static_cast<uint8_t>(rng());
    g.insert(g.begin() + static_cast<long>(s.size() / 2), garbage.begin(), garbage.end());
    const DecodeResult r = DecodeAll(g, 700);
    ExpectSaneDecode(r, "garbage");
    EXPECT_GE(r.lost, 1);
    EXPECT_GE(r.frames, clean.frames - 3);
    // Only garbage: nothing but searching, then the end.
    const DecodeResult none = DecodeAll(garbage);
    ExpectSaneDecode(none, "only garbage");
    EXPECT_EQ(none.frames, 0);
}

TEST(Mp3DamagedInput, RateChangeLosesSyncAndFollowsTheNewRate) {
    if (!HaveTool("lame")) GTEST_SKIP() << "lame not on PATH";
    CTempDir dir("rate");
    auto a = LameStream(dir, 44100, 2, "-b 128", 0.5);
    const auto b = LameStream(dir, 32000, 1, "-b 64", 0.5);
    ASSERT_FALSE(a.empty());
    ASSERT_FALSE(b.empty());
    const DecodeResult ra = DecodeAll(a);
    const DecodeResult rb = DecodeAll(b);
    a.insert(a.end(), b.begin(), b.end());
    const DecodeResult r = DecodeAll(a, 900);
    ExpectSaneDecode(r, "rate change");
    EXPECT_GE(r.lost, 1);
    EXPECT_EQ(r.lastInfo.sampleRate, 32000);
    EXPECT_EQ(r.lastInfo.channels, 1);
    EXPECT_GE(r.frames, ra.frames + rb.frames - 2);
    EXPECT_LE(r.frames, ra.frames + rb.frames);
}
