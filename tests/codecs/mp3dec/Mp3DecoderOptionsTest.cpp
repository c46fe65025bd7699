// The creation options: reduced rate, 8-bit output, forced mono, float output.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "Mp3TestUtil.h"

using namespace mp3test;

namespace {
std::vector<uint8_t> ToneStream(const CTempDir& dir, int channels, const char* mode) {
    const int rate = 44100;
    std::vector<int16_t> pcm(static_cast<size_t>(rate / 2 * channels));
    for (size_t i = 0; i < pcm.size(); ++i) {
        const double t = static_cast<double>(i / static_cast<size_t>(channels)) / rate;
        const double f = (i % 2 && channels == 2) ? 1500.0 : 1000.0;
        pcm[i] = static_cast<int16_t>(12000 * std::sin(2 * 3.14159265358979 * f * t));
    }
    WriteWav(dir / "tone.wav", pcm, rate, channels);
    if (!mp3test::Run("lame --quiet -t -b 128 -m " + std::string(mode) + " " + (dir / "tone.wav") + " " +
                      (dir / "tone.mp3")))
        return {};
    return ReadFile(dir / "tone.mp3");
}

// Share of a signal's energy at frequency f (Goertzel), samples of one channel.
double ToneShare(const std::vector<int16_t>& s, int step, int offset, double f, double rate) {
    const double w = 2 * 3.14159265358979 * f / rate;
    double s1 = 0, s2 = 0, total = 0;
    size_t n = 0;
    for (size_t i = static_cast<size_t>(offset); i < s.size(); i += static_cast<size_t>(step), ++n) {
        const double s0 = s[i] + 2 * std::cos(w) * s1 - s2;
        s2 = s1;
        s1 = s0;
        total += static_cast<double>(s[i]) * s[i];
    }
    const double power = s1 * s1 + s2 * s2 - 2 * std::cos(w) * s1 * s2;
    return total > 0 ? 2.0 * power / (static_cast<double>(n) * total) : 0.0;
}
}  // namespace

TEST(Mp3DecoderOptions, ReducedRateEightBitAndForcedMono) {
    if (!HaveTool("lame")) GTEST_SKIP() << "lame not on PATH";
    CTempDir dir("opts");
    const auto stereo = ToneStream(dir, 2, "s");
    ASSERT_FALSE(stereo.empty());
    const DecodeResult full = DecodeAll(stereo);
    const auto f16 = AsSamples(full.pcm);
    ASSERT_GT(f16.size(), 0u);
    EXPECT_GT(ToneShare(f16, 2, 0, 1000.0, 44100.0), 0.85);
    EXPECT_GT(ToneShare(f16, 2, 1, 1500.0, 44100.0), 0.85);

    // Half and quarter rate: the same tones at 22050 and 11025 Hz, a half and a quarter of the samples.
    for (int shift : {1, 2}) {
        const DecodeResult r = DecodeAll(stereo, 4096, shift);
        const auto s = AsSamples(r.pcm);
        EXPECT_EQ(s.size(), f16.size() >> shift);
        EXPECT_EQ(r.lastInfo.outSampleRate, 44100 >> shift);
        EXPECT_GT(ToneShare(s, 2, 0, 1000.0, 44100.0 / (1 << shift)), 0.85) << shift;
        EXPECT_GT(ToneShare(s, 2, 1, 1500.0, 44100.0 / (1 << shift)), 0.85) << shift;
    }

    // 8-bit: the unsigned top byte of the 16-bit sample.
    const DecodeResult r8 = DecodeAll(stereo, 4096, 0, 1);
    ASSERT_EQ(r8.pcm.size(), f16.size());
    for (size_t i = 0; i < f16.size(); ++i) ASSERT_EQ(r8.pcm[i], (f16[i] + 32768) >> 8) << i;

    // Forced mono: the mean of the two channels, within the rounding of each.
    const DecodeResult rm = DecodeAll(stereo, 4096, 0, 0, 1);
    const auto m = AsSamples(rm.pcm);
    ASSERT_EQ(m.size(), f16.size() / 2);
    EXPECT_EQ(rm.lastInfo.outChannels, 1);
    for (size_t i = 0; i < m.size(); ++i) ASSERT_NEAR(m[i], (f16[2 * i] + f16[2 * i + 1]) / 2.0, 1.5) << i;
}

TEST(Mp3DecoderOptions, FloatOutputIsTheUnroundedSample) {
    if (!HaveTool("lame")) GTEST_SKIP() << "lame not on PATH";
    CTempDir dir("float");
    const auto mono = ToneStream(dir, 1, "m");
    ASSERT_FALSE(mono.empty());
    const auto ints = AsSamples(DecodeAll(mono).pcm);
    IMp3Decoder* d = nullptr;
    ASSERT_EQ(Mp3DecoderCreateObject(0, 0, 0, &d), MP3STATUS_OK);
    std::vector<float> floats;
    std::vector<uint8_t> out(4608);
    size_t pos = 0;
    for (int i = 0; i < 1000; ++i) {
        if (pos < mono.size()) {
            pos += d->Feed(mono.data() + pos, static_cast<uint32_t>(mono.size() - pos));
            if (pos == mono.size()) d->SetEndOfStream();
        }
        uint32_t produced = 0;
        // One mono frame of floats is 4608 bytes: a byte less is refused and consumes nothing.
        if (i == 1) {
            EXPECT_EQ(d->DecodeFloat(out.data(), 4607, &produced, nullptr, nullptr), MP3STATUS_E_BUFFER);
        }
        if (d->DecodeFloat(out.data(), 4608, &produced, nullptr, nullptr) == MP3STATUS_W_EOF) break;
        for (uint32_t k = 0; k < produced; k += 4) {
            float v;
            std::memcpy(&v, out.data() + k, 4);
            floats.push_back(v);
        }
    }
    d->Release();
    ASSERT_EQ(floats.size(), ints.size());
    for (size_t i = 0; i < ints.size(); ++i) ASSERT_NEAR(floats[i] * 32768.0f, ints[i], 0.5001f) << i;
}
