// l3core streams at every Layer III rate, mono and stereo, at a low, a middle
// and a high legal bit rate, as mpg123 decodes them: whole frames, no word
// from the decoder, and the whole input with the reported delay out.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "mp3enc/Mp3EncTestSupport.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreBitrate.h"
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreEncoder.h"

namespace {

std::vector<uint8_t> Encode(const std::vector<int16_t>& pcm, int channels, int rate, int bitRate, int* delay,
                            std::string* error) {
    std::vector<uint8_t> stream;
    L3CoreConfig config = L3CoreDefaultConfig();
    config.quality = 5;
    config.intensityOff = 1;  // the model codes no intensity stereo yet
    const L3CoreInput in{channels, static_cast<float>(rate), kL3CoreInt16, 32768.0f, nullptr};
    L3CoreParams p{};
    p.channels = channels;
    p.bitRate = bitRate;
    EncError* err = L3CoreCheckBitrate(&in, &p, &config);
    p.sampleRate = static_cast<float>(rate);
    L3CoreEncoder* e = nullptr;
    if (!err) err = L3CoreOpen(&e, &in, &p, &config);
    std::vector<uint8_t> out(8192);
    L3CoreInfo info{};
    L3CoreGetInfo(e, &info);
    *delay = info.delay;
    const auto* bytes = reinterpret_cast<const uint8_t*>(pcm.data());
    const int total = static_cast<int>(pcm.size() * 2);
    for (int at = 0, guard = 0; e && !err && guard < 100000; ++guard) {
        int used = 0, written = 0;
        const int offer = std::min(4608, total - at);
        err = L3CoreEncode(e, offer ? bytes + at : nullptr, offer, out.data(), 8192, &used, &written, nullptr, nullptr);
        stream.insert(stream.end(), out.begin(), out.begin() + written);
        at += used;
        if (offer == 0 && written == 0) break;
    }
    L3CoreClose(e);
    *error = err && err->message ? err->message : (err ? "error" : "");
    L3CoreFreeError(err);
    return stream;
}

}  // namespace

// The three streams of a rate and mode go to one mpg123 run, one after another.
TEST(L3CoreEncoderPeer, EveryRateModeAndBitRateDecodesCleanlyInMpg123) {
    if (!l3test::HaveTool("mpg123")) GTEST_SKIP() << "mpg123 missing";
    CTempDir dir("l3rates");
    for (int rate : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
        const bool mpeg1 = rate >= 32000;
        for (int channels : {1, 2}) {
            SCOPED_TRACE(std::to_string(rate) + " Hz " + std::to_string(channels) + " ch");
            const auto pcm = l3test::Tones(rate, channels, 0.25, {{rate / 37.0, 0.3}, {rate / 5.3, 0.05}},
                                           {{rate / 29.0, 0.3}});
            // Stereo starts at 20000 bit/s; the writer stops MPEG-2.5 at 64000.
            const int low = channels == 1 ? (mpeg1 ? 32000 : 8000) : (mpeg1 ? 40000 : 24000);
            const int high = mpeg1 ? 320000 : (rate > 12000 ? 160000 : 64000);
            std::string files;
            size_t expected = 0;
            for (int bitRate : {low, mpeg1 ? 128000 : high / 2, high}) {
                SCOPED_TRACE(bitRate);
                int delay = 0;
                std::string error;
                const std::vector<uint8_t> stream = Encode(pcm, channels, rate, bitRate, &delay, &error);
                ASSERT_EQ(error, "");
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
                expected += (pcm.size() / channels + static_cast<size_t>(delay)) * channels * 2;
            }
            const std::string raw = dir / "s.raw";
            const auto run = l3test::PeerDecode(l3test::Peer::kMpg123, files, raw, dir / "err", false);
            EXPECT_EQ(run.status, 0);
            EXPECT_EQ(run.err, "");
            EXPECT_GE(l3test::ReadFile(raw).size(), expected);
        }
    }
}
