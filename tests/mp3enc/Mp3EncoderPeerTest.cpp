#include <gtest/gtest.h>

#include "Mp3EncTestSupport.h"

using namespace l3test;

namespace {
// ffmpeg's demuxer says this about every stream without a Xing header; it is
// about seeking, not about the frames.
std::string WithoutDurationNote(std::string err) {
    const std::string note = "Estimating duration from bitrate, this may be inaccurate";
    std::string kept, line;
    for (char ch : err) {
        if (ch != '\n') {
            line += ch;
            continue;
        }
        if (line.find(note) == std::string::npos) kept += line + "\n";
        line.clear();
    }
    if (!line.empty() && line.find(note) == std::string::npos) kept += line;
    return kept;
}


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
