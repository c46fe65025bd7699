// The front end as its callers use it: the engine choice, refused settings,
// the mends of its error paths, down-mixing and chunking.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "Mp3EncTestSupport.h"
#include "mp3enc/Mp3EngineChoice.h"

using namespace l3test;

TEST(Mp3EngineChoice, FollowsTheRuleOfPresetsRatesAndVbr) {
    using E = Mp3Engine;
    EXPECT_EQ(ChooseMp3Engine(48000, 48000, 128000, 2, 0, 0), E::kSecond);  // the codec's own settings
    EXPECT_EQ(ChooseMp3Engine(48000, 48000, 128000, 2, 1, 0), E::kL3Core);  // 64000 per channel
    EXPECT_EQ(ChooseMp3Engine(48000, 48000, 64000, 2, 1, 0), E::kSecondWithResampler);
    EXPECT_EQ(ChooseMp3Engine(48000, 48000, 320000, 2, 1, 0), E::kSecondWithResampler);
    EXPECT_EQ(ChooseMp3Engine(48000, 32000, 96000, 2, 0, 0), E::kSecondWithResampler);  // ratio 1.5
    EXPECT_EQ(ChooseMp3Engine(44100, 32000, 96000, 2, 0, 0), E::kL3Core);
    for (int o : {24000, 16000, 12000, 8000}) EXPECT_EQ(ChooseMp3Engine(48000, o, 32000, 1, 0, 0), E::kSecondWithResampler);
    EXPECT_EQ(ChooseMp3Engine(24000, 12000, 0, 1, 0, 50), E::kRefused);  // VBR below 16000 Hz
    EXPECT_EQ(ChooseMp3Engine(48000, 48000, 0, 2, 2, 50), E::kSecond);
    EXPECT_EQ(ChooseMp3Engine(48000, 48000, 128000, 0, 0, 0), E::kRefused);  // no division by 0 channels
}

TEST(Mp3Encoder, CreateRefusesWhatItCannotOpenAndOpensEveryPathOfTheRule) {
    EXPECT_EQ(Mp3EncoderCreate(96000, 2, 0), nullptr);
    EXPECT_EQ(Mp3EncoderCreate(48000, 3, 0), nullptr);
    EXPECT_EQ(Mp3EncoderCreate(48000, 0, 0), nullptr);
    EXPECT_EQ(Mp3EncoderCreate(48000, 2, 3), nullptr);
    // Preset 1 at 64000 bit/s per channel is the library's path.
    Mp3Encoder* p1 = Mp3EncoderCreate(48000, 2, 1);
    ASSERT_NE(p1, nullptr);
    EXPECT_EQ(Mp3EncoderGetEngine(p1), Mp3Engine::kL3Core);
    EXPECT_EQ(Mp3EncoderGetConfig(p1)->paddingPeriod, 1);
    EXPECT_EQ(Mp3EncoderGetConfig(p1)->paddingBytes, 384);
    Mp3EncoderDestroy(p1);
    Mp3Encoder* e = Mp3EncoderCreate(48000, 2, 0);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(Mp3EncoderGetEngine(e), Mp3Engine::kSecond);
    EXPECT_EQ(Mp3EncoderGetConfig(e)->delay, 1633);
    EXPECT_EQ(Mp3EncoderGetConfig(e)->paddingPeriod, 0);
    // 44100 to 32000 is no listed ratio: the library converts the rate.
    Mp3Encoder* e441 = Mp3EncoderCreate(44100, 1, 0);
    ASSERT_NE(e441, nullptr);
    Mp3EncoderFormat unlisted{32000, 1, 48000};
    EXPECT_EQ(Mp3EncoderSetFormat(e441, &unlisted), 1);
    EXPECT_EQ(Mp3EncoderGetEngine(e441), Mp3Engine::kL3Core);
    EXPECT_GT(Mp3EncoderGetConfig(e441)->delay, 1633);  // the rate filter's delay on top
    int used = -1;
    std::vector<uint8_t> out(8192);
    const int16_t pcm[4608] = {};
    EXPECT_EQ(Mp3EncoderEncode(e441, pcm, sizeof pcm, &used, out.data(), 5499, nullptr, nullptr), 0);  // too little room
    EXPECT_EQ(used, 0);
    EXPECT_GE(Mp3EncoderEncode(e441, pcm, sizeof pcm, &used, out.data(), 8192, nullptr, nullptr), 0);
    EXPECT_EQ(used, static_cast<int>(sizeof pcm));
    Mp3EncoderDestroy(e441);
    Mp3EncoderDestroy(e);
    EXPECT_EQ(Mp3EncoderDestroy(nullptr), 0);
    EXPECT_EQ(Mp3EncoderEncode(nullptr, pcm, 4, &used, out.data(), 1, nullptr, nullptr), -1);
}

// A bit rate without a sample rate: the library's check picks the rate, in
// mono when stereo has none; a rate above the input's is refused.
TEST(Mp3Encoder, BitRateAloneChoosesTheCodedRate) {
    Mp3Encoder* e = Mp3EncoderCreate(44100, 2, 0);
    Mp3EncoderFormat stereo{0, 2, 128000};
    ASSERT_EQ(Mp3EncoderSetFormat(e, &stereo), 1);
    EXPECT_EQ(Mp3EncoderGetEngine(e), Mp3Engine::kSecond);  // 44100 itself
    Mp3EncoderFormat low{0, 2, 16000};  // no stereo at 16000: mono at 11025 (44100 / 4)
    ASSERT_EQ(Mp3EncoderSetFormat(e, &low), 1);
    EXPECT_EQ(Mp3EncoderGetEngine(e), Mp3Engine::kSecondWithResampler);
    Mp3EncoderConfig c = *Mp3EncoderGetConfig(e);
    c.monoFallback = 0;
    ASSERT_EQ(Mp3EncoderSetConfig(e, &c), 1);
    EXPECT_EQ(Mp3EncoderSetFormat(e, &low), 0);
    Mp3EncoderFormat tooHigh{0, 2, 320001};
    EXPECT_EQ(Mp3EncoderSetFormat(e, &tooHigh), 0);
    Mp3EncoderDestroy(e);
    Mp3Encoder* m8 = Mp3EncoderCreate(8000, 1, 0);
    Mp3EncoderFormat wide{0, 1, 128000};  // would want 44100 from 8000 Hz input
    EXPECT_EQ(Mp3EncoderSetFormat(m8, &wide), 0);
    Mp3EncoderDestroy(m8);
}

TEST(Mp3Encoder, RefusedFormatsAndConfigurationsLeaveTheEngineAsItWas) {
    Mp3Encoder* e = Mp3EncoderCreate(24000, 1, 0);
    ASSERT_NE(e, nullptr);
    Mp3EncoderFormat up{48000, 1, 64000}, wide{24000, 2, 64000}, none{24000, 0, 32000};
    EXPECT_EQ(Mp3EncoderSetFormat(e, &up), 0);
    EXPECT_EQ(Mp3EncoderSetFormat(e, &wide), 0);
    EXPECT_EQ(Mp3EncoderSetFormat(e, &none), 0);
    EXPECT_EQ(Mp3EncoderGetEngine(e), Mp3Engine::kSecond);
    Mp3EncoderConfig c = *Mp3EncoderGetConfig(e);
    for (auto change : {+[](Mp3EncoderConfig& x) { x.sampleFormat = 2; }, +[](Mp3EncoderConfig& x) { x.paddingMode = 3; },
                        +[](Mp3EncoderConfig& x) { x.vbrQuality = 101; }, +[](Mp3EncoderConfig& x) { x.bandwidth = 12001.0f; },
                        +[](Mp3EncoderConfig& x) { x.bandwidth = -1.0f; },
                        +[](Mp3EncoderConfig& x) { x.bandwidth = std::numeric_limits<float>::quiet_NaN(); }}) {
        Mp3EncoderConfig bad = c;
        change(bad);
        EXPECT_EQ(Mp3EncoderSetConfig(e, &bad), 0);
    }
    EXPECT_EQ(Mp3EncoderGetEngine(e), Mp3Engine::kSecond);
    // A bandwidth that leaves no line of a short window cannot open an engine.
    Mp3EncoderConfig narrow = c;
    narrow.bandwidth = 10.0f;
    EXPECT_EQ(Mp3EncoderSetConfig(e, &narrow), 0);
    EXPECT_EQ(Mp3EncoderGetEngine(e), Mp3Engine::kRefused);
    Mp3EncoderDestroy(e);
}

TEST(Mp3Encoder, StereoCodedAsMonoThroughTheResamplerIsTheAverage) {
    // Left and right in opposite phase: the average is silence.
    std::vector<int16_t> pcm(48000 * 2);
    for (size_t n = 0; n < pcm.size() / 2; ++n) {
        const auto v = static_cast<int16_t>(10000 * std::sin(2 * M_PI * 1000 * n / 48000.0));
        pcm[2 * n] = v;
        pcm[2 * n + 1] = static_cast<int16_t>(-v);
    }
    Mp3Encoder* e = Mp3EncoderCreate(48000, 2, 0);
    Mp3EncoderFormat f{24000, 1, 32000};
    ASSERT_EQ(Mp3EncoderSetFormat(e, &f), 1);
    EXPECT_EQ(Mp3EncoderGetEngine(e), Mp3Engine::kSecondWithResampler);
    std::vector<uint8_t> stream, out(8192);
    size_t at = 0;
    while (at < pcm.size() * 2) {
        int used = 0;
        const int n = Mp3EncoderEncode(e, reinterpret_cast<const uint8_t*>(pcm.data()) + at,
                                       static_cast<int>(pcm.size() * 2 - at), &used, out.data(), 8192, nullptr, nullptr);
        ASSERT_GE(n, 0);
        stream.insert(stream.end(), out.begin(), out.begin() + n);
        at += static_cast<size_t>(used);
    }
    Mp3EncoderDestroy(e);
    bool clean = false;
    const auto frames = ParseFrames(stream, &clean);
    ASSERT_FALSE(frames.empty());
    for (const auto& fr : frames) {
        EXPECT_EQ(fr.mode, 3);
        EXPECT_EQ(fr.rate, 24000);
    }
    if (!HaveTool("mpg123")) return;
    CTempDir dir;
    WriteFile(dir.File("m.mp3"), stream);
    RunShell("mpg123 -q -s " + dir.File("m.mp3") + " > " + dir.File("m.raw"), dir.File("err"));
    int peak = 0;
    for (int16_t v : ToPcm(ReadFile(dir.File("m.raw")))) peak = std::max(peak, std::abs(int{v}));
    EXPECT_LT(peak, 50) << "the two channels cancel";
}

TEST(Mp3Encoder, ChunkedInputGivesTheSameBytesAsWholeInput) {
    const auto pcm = Tones(48000, 2, 1.5, {{440, 0.4}, {5000, 0.1}}, {{660, 0.3}});
    for (int coded : {48000, 24000}) {
        EncodeSettings whole;
        whole.rate = 48000;
        whole.bitRate = coded == 48000 ? 128000 : 64000;
        whole.chunkBytes = 1 << 30;
        EncodeSettings chunked = whole;
        chunked.chunkBytes = 1234;
        if (coded != 48000) {
            // Through the resampler: set up by hand, the helper codes at the input rate.
            for (int chunk : {1 << 30, 1234}) {
                Mp3Encoder* e = Mp3EncoderCreate(48000, 2, 0);
                Mp3EncoderFormat f{24000, 2, 64000};
                ASSERT_EQ(Mp3EncoderSetFormat(e, &f), 1);
                std::vector<uint8_t> s, out(8192);
                size_t at = 0;
                int guard = 0;
                while (at < pcm.size() * 2 && guard++ < 100000) {
                    int used = 0;
                    const int n = Mp3EncoderEncode(e, reinterpret_cast<const uint8_t*>(pcm.data()) + at,
                                                   static_cast<int>(std::min<size_t>(chunk, pcm.size() * 2 - at)), &used,
                                                   out.data(), 8192, nullptr, nullptr);
                    s.insert(s.end(), out.begin(), out.begin() + std::max(n, 0));
                    at += static_cast<size_t>(used);
                }
                for (int n = 1; n > 0;) {
                    int used = 0;
                    n = Mp3EncoderEncode(e, nullptr, 0, &used, out.data(), 8192, nullptr, nullptr);
                    s.insert(s.end(), out.begin(), out.begin() + std::max(n, 0));
                }
                Mp3EncoderDestroy(e);
                static std::vector<uint8_t> first;
                if (chunk == (1 << 30)) first = s;
                else EXPECT_EQ(s, first) << "resampled";
            }
            continue;
        }
        EXPECT_EQ(Encode(pcm, whole).stream, Encode(pcm, chunked).stream);
    }
}

TEST(Mp3Encoder, SmallOutputRoomIsAnErrorOnceAFrameIsComplete) {
    Mp3Encoder* e = Mp3EncoderCreate(48000, 2, 0);
    const std::vector<int16_t> pcm(1152 * 2, 1000);
    uint8_t out[64];
    int used = 0;
    EXPECT_EQ(Mp3EncoderEncode(e, pcm.data(), 2000, &used, out, sizeof out, nullptr, nullptr), 0);  // frame incomplete
    int total = used, result = 0;
    while (total < static_cast<int>(pcm.size() * 2) && result == 0) {
        result = Mp3EncoderEncode(e, reinterpret_cast<const uint8_t*>(pcm.data()) + total,
                                  static_cast<int>(pcm.size() * 2) - total, &used, out, sizeof out, nullptr, nullptr);
        total += used;
    }
    EXPECT_EQ(result, -1);
    // Nothing was lost: with room the same granule is coded.
    std::vector<uint8_t> room(4096);
    EXPECT_GE(Mp3EncoderEncode(e, pcm.data(), 4, &used, room.data(), 4096, nullptr, nullptr), 0);
    Mp3EncoderDestroy(e);
}
