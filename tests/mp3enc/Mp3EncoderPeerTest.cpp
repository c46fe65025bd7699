#include <gtest/gtest.h>

#include <set>

#include "Mp3EncTestSupport.h"

using namespace l3test;

namespace {

std::vector<int16_t> TestSignal(int rate, int channels, double seconds) {
    auto pcm = Tones(rate, channels, seconds, {{440, 0.3}, {rate / 7.3, 0.1}}, {{660, 0.25}, {rate / 9.1, 0.1}});
    // A click half-way forces short blocks.
    const size_t at = pcm.size() / channels / 2;
    for (int k = 0; k < 40; ++k)
        for (int c = 0; c < channels; ++c) pcm[(at + k) * channels + c] = static_cast<int16_t>(k % 2 ? 24000 : -24000);
    return pcm;
}

// Encodes, checks the frames with the independent parser and decodes with every peer.
void CheckStream(const EncodeSettings& s, const char* label) {
    SCOPED_TRACE(label);
    CTempDir dir;
    const int coded = s.codedChannels ? s.codedChannels : s.channels;
    const auto pcm = TestSignal(s.rate, s.channels, 1.0);
    const EncodeResult r = Encode(pcm, s);
    ASSERT_TRUE(r.opened);
    bool clean = false;
    const auto frames = ParseFrames(r.stream, &clean);
    EXPECT_TRUE(clean) << "stream does not split into whole frames";
    ASSERT_FALSE(frames.empty());
    const int samplesPerFrame = s.rate > 24000 ? 1152 : 576;
    for (const FrameHeader& f : frames) {
        EXPECT_EQ(f.rate, s.rate);
        EXPECT_EQ(f.mode, coded == 1 ? 3 : 1);
        EXPECT_EQ(f.crc, s.crc != 0);
        if (!s.vbrQuality && s.paddingMode == 1) {
            EXPECT_FALSE(f.padding);
        }
    }
    const size_t inputFrames = pcm.size() / s.channels;
    EXPECT_GE(frames.size() * samplesPerFrame, inputFrames + static_cast<size_t>(r.delay) - 529);
    const std::string mp3 = dir.File("s.mp3");
    WriteFile(mp3, r.stream);
    for (Peer peer : {Peer::kFfmpeg, Peer::kMpg123, Peer::kSox}) {
        const std::string raw = dir.File("s.raw");
        const RunResult run = PeerDecode(peer, mp3, raw, dir.File("err"), s.crc != 0);
        EXPECT_EQ(run.status, 0) << "peer " << static_cast<int>(peer);
        EXPECT_EQ(WithoutDurationNote(run.err), "") << "peer " << static_cast<int>(peer);
        const size_t decoded = ReadFile(raw).size() / 2 / coded;
        if (peer == Peer::kMpg123) {
            EXPECT_GE(decoded, inputFrames);
        }
    }
}

class Mp3EncoderRates : public ::testing::TestWithParam<int> {};

constexpr int kAllRates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
}  // namespace

TEST_P(Mp3EncoderRates, EveryModeAndRateDecodesCleanlyInEveryPeer) {
    const int rate = GetParam();
    if (!HaveTool("ffmpeg") || !HaveTool("mpg123") || !HaveTool("sox")) GTEST_SKIP() << "peer missing";
    const bool high = rate >= 32000;
    for (int channels : {1, 2}) {
        const int lowest = high ? 32000 : 8000 * channels;
        const int middle = (high ? 128000 : 64000) / (3 - channels) ;
        const int highest = high ? 320000 : 160000;
        for (int bitRate : {lowest, middle, highest}) {
            EncodeSettings s;
            s.rate = rate;
            s.channels = channels;
            s.bitRate = bitRate;
            s.crc = bitRate == middle;
            char label[64];
            std::snprintf(label, sizeof label, "%d Hz, %d ch, %d bit/s%s", rate, channels, bitRate, s.crc ? " CRC" : "");
            CheckStream(s, label);
        }
        for (int quality : {1, 50, 100}) {
            if (rate < 16000) continue;  // the front end refuses VBR below 16000 Hz
            EncodeSettings s;
            s.rate = rate;
            s.channels = channels;
            s.vbrQuality = quality;
            char label[64];
            std::snprintf(label, sizeof label, "%d Hz, %d ch, VBR %d", rate, channels, quality);
            CheckStream(s, label);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(AllRates, Mp3EncoderRates, ::testing::ValuesIn(kAllRates));

namespace {
// Block types of each granule of a one-channel MPEG-1 stream without CRC,
// read from the side information by this test's own reader.
std::vector<int> BlockTypes(const std::vector<uint8_t>& s) {
    bool clean = false;
    std::vector<int> types;
    for (const FrameHeader& f : ParseFrames(s, &clean)) {
        size_t bit = (f.offset + 4) * 8;
        auto take = [&](int n) {
            int v = 0;
            for (int i = 0; i < n; ++i, ++bit) v = 2 * v + ((s[bit / 8] >> (7 - bit % 8)) & 1);
            return v;
        };
        take(9 + 5 + 4);  // main_data_begin, private bits, scfsi
        for (int gr = 0; gr < 2; ++gr) {
            take(12), take(9), take(8), take(4);  // part2_3_length .. scalefac_compress
            if (take(1)) {
                types.push_back(take(2));
                take(1 + 10 + 9);
            } else {
                types.push_back(0);
                take(15 + 7);
            }
            take(3);
        }
    }
    return types;
}

struct LameRun {
    std::vector<int16_t> decoded;
    bool ok = false;
};

// Decodes with mpg123 --no-gapless; ok when it exits cleanly.
LameRun DecodeMpg123(const CTempDir& dir, const std::vector<uint8_t>& stream, const std::string& name) {
    LameRun r;
    WriteFile(dir.File(name + ".mp3"), stream);
    const RunResult run = RunShell("mpg123 -q --no-gapless -s " + dir.File(name + ".mp3") + " > " + dir.File(name + ".raw"),
                              dir.File(name + ".err"));
    r.ok = run.status == 0;
    r.decoded = ToPcm(ReadFile(dir.File(name + ".raw")));
    return r;
}
}  // namespace

TEST(Mp3EncoderPeer, ConstantBitRateHoldsItsRateOver30Seconds) {
    const auto pcm = Tones(44100, 2, 30.0, {{440, 0.3}, {3000, 0.1}}, {{550, 0.3}});
    struct Case {
        int rate, bitRate, padding;
    };
    for (const Case c : {Case{44100, 128000, 0}, Case{44100, 100000, 0}, Case{44100, 100000, 1}}) {
        EncodeSettings s;
        s.rate = 44100;
        s.bitRate = c.bitRate;
        s.paddingMode = c.padding;
        const EncodeResult r = Encode(pcm, s);
        bool clean = false;
        const auto frames = ParseFrames(r.stream, &clean);
        ASSERT_TRUE(clean);
        std::set<int> kbps;
        for (const auto& f : frames) kbps.insert(f.kbps);
        const double seconds = frames.size() * 1152.0 / 44100.0;
        const double rate = r.stream.size() * 8.0 / seconds;
        std::printf("[ rate ] 44100 Hz, %d bit/s, padding mode %d: %zu frames, %.1f bit/s (%+.3f %%), indexes of",
                    c.bitRate, c.padding, frames.size(), rate, 100.0 * (rate / c.bitRate - 1.0));
        for (int k : kbps) std::printf(" %d", k);
        std::printf(" kbit/s\n");
        EXPECT_NEAR(rate / c.bitRate, 1.0, 0.002);
        if (c.bitRate == 100000) {
            EXPECT_EQ(kbps, (std::set<int>{96, 112})) << "only the two neighbouring rates";
        }
    }
    // 48 kHz: the same for a rate between two table rates.
    EncodeSettings s;
    s.bitRate = 100000;
    const auto pcm48 = Tones(48000, 2, 30.0, {{440, 0.3}}, {{550, 0.3}});
    bool clean = false;
    const auto frames = ParseFrames(Encode(pcm48, s).stream, &clean);
    ASSERT_GE(frames.size(), 3u);
    EXPECT_EQ(frames[0].length, 289);
    EXPECT_EQ(frames[1].length, 289);
    EXPECT_EQ(frames[2].length, 336);
    double bytes = 0;
    for (const auto& f : frames) bytes += f.length;
    EXPECT_NEAR(bytes / frames.size(), 300.0, 0.6);
}

TEST(Mp3EncoderPeer, DelayThroughMpg123IsTheReportedOneAndFlushingLosesNothing) {
    if (!HaveTool("mpg123")) GTEST_SKIP();
    CTempDir dir;
    for (int rate : {48000, 22050, 8000}) {
        std::vector<int16_t> pcm(static_cast<size_t>(rate) * 2, 0);
        uint32_t seed = 7;
        for (auto& v : pcm) {
            seed = seed * 1664525u + 1013904223u;
            v = static_cast<int16_t>((static_cast<int>(seed >> 16) & 0x3FFF) - 0x2000);
        }
        EncodeSettings s;
        s.rate = rate;
        s.bitRate = rate >= 32000 ? 256000 : 128000;
        const EncodeResult r = Encode(pcm, s);
        const LameRun d = DecodeMpg123(dir, r.stream, "d");
        ASSERT_TRUE(d.ok);
        int lag = 0;
        const double snr = BestSnr(pcm, d.decoded, 2, 0, 3000, &lag, 100);
        std::printf("[ delay ] %d Hz: measured %d samples (SNR %.1f dB there), reported %d; decoded %zu of %zu\n", rate,
                    lag, snr, r.delay, d.decoded.size() / 2, pcm.size() / 2);
        EXPECT_EQ(lag, r.delay);
        EXPECT_GE(d.decoded.size(), pcm.size() + 2 * static_cast<size_t>(r.delay));
    }
}

TEST(Mp3EncoderPeer, QualityBesideLameAtTheSameRateAndMode) {
    if (!HaveTool("lame") || !HaveTool("mpg123")) GTEST_SKIP();
    CTempDir dir;
    struct Case {
        const char* name;
        int rate, channels, bitRate;
        std::vector<Tone> tones;
    };
    const std::vector<Case> cases = {
        {"tone 1 kHz 48k stereo 128k", 48000, 2, 128000, {{1000, 0.5}}},
        {"multi-tone 44.1k stereo 128k", 44100, 2, 128000, {{220, 0.2}, {1230, 0.15}, {4410, 0.1}, {9000, 0.05}}},
        {"tone 24k mono 32k", 24000, 1, 32000, {{700, 0.5}}},
        {"multi-tone 24k mono 32k", 24000, 1, 32000, {{300, 0.2}, {1700, 0.15}, {3900, 0.1}}},
        {"multi-tone 32k stereo 64k", 32000, 2, 64000, {{500, 0.2}, {2500, 0.1}}},
    };
    for (const Case& c : cases) {
        const auto pcm = Tones(c.rate, c.channels, 4.0, c.tones, c.tones);
        WritePcm(dir.File("in.raw"), pcm);
        EncodeSettings s;
        s.rate = c.rate;
        s.channels = c.channels;
        s.bitRate = c.bitRate;
        const LameRun ours = DecodeMpg123(dir, Encode(pcm, s).stream, "ours");
        const std::string mode = c.channels == 1 ? "m" : "j";
        const std::string khz = std::to_string(c.rate / 1000.0);
        RunShell("lame --quiet -r -s " + khz + " --resample " + khz + " --bitwidth 16 --signed --little-endian -m " +
                mode + " -q 5 -b " + std::to_string(c.bitRate / 1000) + " --cbr " + dir.File("in.raw") + " " +
                dir.File("lame.mp3"),
            dir.File("lame.err"));
        const LameRun lame = DecodeMpg123(dir, ReadFile(dir.File("lame.mp3")), "lame");
        ASSERT_TRUE(ours.ok && lame.ok) << c.name;
        int lagOurs = 0, lagLame = 0;
        const size_t skip = static_cast<size_t>(c.rate) / 4;
        // lame scales its input by 0.95: both are judged after a level fit.
        const double snrOurs = BestSnr(pcm, ours.decoded, c.channels, 0, 3000, &lagOurs, skip, true);
        const double snrLame = BestSnr(pcm, lame.decoded, c.channels, 0, 3000, &lagLame, skip, true);
        std::printf("[ quality ] %-30s ours %5.1f dB, lame -q 5 %5.1f dB (%+.1f dB)\n", c.name, snrOurs, snrLame,
                    snrOurs - snrLame);
        EXPECT_GT(snrOurs, snrLame - 6.0) << c.name;
        EXPECT_GT(snrOurs, 45.0) << c.name;
    }
}

TEST(Mp3EncoderPeer, LeftOnlyInputKeepsTheRightChannelSilent) {
    if (!HaveTool("mpg123")) GTEST_SKIP();
    CTempDir dir;
    auto pcm = Tones(48000, 2, 3.0, {{1000, 0.5}, {3100, 0.2}});
    for (size_t i = 1; i < pcm.size(); i += 2) pcm[i] = 0;
    EncodeSettings s;
    const LameRun d = DecodeMpg123(dir, Encode(pcm, s).stream, "l");
    ASSERT_TRUE(d.ok);
    double left = 0, right = 0;
    for (size_t i = 48000; i + 1 < d.decoded.size(); i += 2) {
        left += double(d.decoded[i]) * d.decoded[i];
        right += double(d.decoded[i + 1]) * d.decoded[i + 1];
    }
    const double db = 10 * std::log10(std::max(right, 1.0) / left);
    std::printf("[ stereo ] left-only input: right channel at %.1f dB of the left\n", db);
    EXPECT_LT(db, -40.0);
}

TEST(Mp3EncoderPeer, AClickSwitchesToShortBlocksAroundIt) {
    std::vector<int16_t> pcm(48000, 0);
    for (int k = 0; k < 32; ++k) pcm[24000 + k] = static_cast<int16_t>(k % 2 ? 20000 : -20000);
    EncodeSettings s;
    s.channels = 1;
    s.bitRate = 64000;
    const auto types = BlockTypes(Encode(pcm, s).stream);
    std::string seq;
    for (int t : types) seq += static_cast<char>('0' + t);
    std::printf("[ blocks ] granule block types: %s\n", seq.c_str());
    const size_t start = seq.find('1');
    ASSERT_NE(start, std::string::npos);
    const size_t stop = seq.find('3', start);
    ASSERT_NE(stop, std::string::npos);
    EXPECT_EQ(seq.substr(start + 1, stop - start - 1), std::string(stop - start - 1, '2')) << "short between start and stop";
    EXPECT_GE(stop - start - 1, 1u);
    EXPECT_LE(stop - start - 1, 3u);
    // Far from the click every granule is long.
    EXPECT_EQ(seq.substr(0, 20), std::string(20, '0'));
}
