// l3core streams at every Layer III rate, mono and stereo, at a low, a middle
// (CRC on) and a high legal bit rate, as ffmpeg (CRC checked), mpg123 and sox
// decode them: whole frames, no word from a decoder, and the whole input with
// the reported delay out.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mp3enc/Mp3EncTestSupport.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreTestEncode.h"

// The three streams of a rate and mode go to one mpg123 run, one after
// another; ffmpeg (checking the middle stream's CRC) and sox take them as one
// file, a stream whose bit rate changes twice.
class L3CoreEncoderRates : public ::testing::TestWithParam<int> {};

TEST_P(L3CoreEncoderRates, EveryModeAndBitRateDecodesCleanlyInEveryPeer) {
    if (!l3test::HaveTool("ffmpeg") || !l3test::HaveTool("mpg123") || !l3test::HaveTool("sox"))
        GTEST_SKIP() << "peer missing";
    CTempDir dir("l3rates");
    const int rate = GetParam();
    const bool mpeg1 = rate >= 32000;
    for (int channels : {1, 2}) {
        SCOPED_TRACE(std::to_string(rate) + " Hz " + std::to_string(channels) + " ch");
        const auto pcm = l3test::Tones(rate, channels, 0.12, {{rate / 37.0, 0.3}, {rate / 5.3, 0.05}},
                                       {{rate / 29.0, 0.3}});
        // Stereo starts at 20000 bit/s; the writer stops MPEG-2.5 at 64000.
        const int low = channels == 1 ? (mpeg1 ? 32000 : 8000) : (mpeg1 ? 40000 : 24000);
        const int high = mpeg1 ? 320000 : (rate > 12000 ? 160000 : 64000);
        std::string files;
        std::vector<uint8_t> all;  // the three streams one after another
        size_t expected = 0;
        const int middle = mpeg1 ? 128000 : high / 2;
        for (int bitRate : {low, middle, high}) {
            SCOPED_TRACE(bitRate);
            l3coretest::Settings s;
            s.channels = channels;
            s.inRate = static_cast<float>(rate);
            s.bitRate = bitRate;
            s.crc = bitRate == middle;
            const l3coretest::Stream coded = l3coretest::Encode(pcm, s);
            ASSERT_EQ(coded.error, "");
            const std::vector<uint8_t>& stream = coded.bytes;
            const int delay = coded.info.delay;
            bool clean = false;
            const auto frames = l3test::ParseFrames(stream, &clean);
            EXPECT_TRUE(clean);
            ASSERT_FALSE(frames.empty());
            EXPECT_EQ(frames[0].rate, rate);
            EXPECT_EQ(frames[0].kbps * 1000, bitRate);
            EXPECT_EQ(frames[0].mode == 3, channels == 1);
            const std::string mp3 = dir / ("s" + std::to_string(bitRate) + ".mp3");
            l3test::WriteFile(mp3, stream);
            files += " " + mp3;
            all.insert(all.end(), stream.begin(), stream.end());
            expected += (pcm.size() / channels + static_cast<size_t>(delay)) * channels * 2;
        }
        l3test::WriteFile(dir / "all.mp3", all);
        // The checked builds code the same bytes: mpg123 alone reads them there.
        for (auto peer : {l3test::Peer::kFfmpeg, l3test::Peer::kSox}) {
            if (l3coretest::kCheckedBuild) break;
            const auto run = l3test::PeerDecode(peer, dir / "all.mp3", dir / "p.raw", dir / "p.err", true);
            EXPECT_EQ(run.status, 0) << "peer " << static_cast<int>(peer);
            EXPECT_EQ(l3test::WithoutDurationNote(run.err), "") << "peer " << static_cast<int>(peer);
        }
        const std::string raw = dir / "s.raw";
        const auto run = l3test::PeerDecode(l3test::Peer::kMpg123, files, raw, dir / "err", false);
        EXPECT_EQ(run.status, 0);
        EXPECT_EQ(run.err, "");
        EXPECT_GE(l3test::ReadFile(raw).size(), expected);
    }
}

INSTANTIATE_TEST_SUITE_P(AllRates, L3CoreEncoderRates,
                         ::testing::Values(8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000));
