#include "codecs/g722/G722Codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

AudioFormat G722Format(int frameBytes = 192) {
    AudioFormat f;
    f.codingType = CODING_G722;
    f.sampleRate = 16000;
    f.deviceMode = DEVICEMODE_MONO;
    f.frameBytes = frameBytes;
    return f;
}

std::vector<int16_t> Tone(double hz, double amplitude, int samples) {
    std::vector<int16_t> s(static_cast<size_t>(samples));
    for (int i = 0; i < samples; ++i) s[static_cast<size_t>(i)] = static_cast<int16_t>(std::lround(amplitude * std::sin(2 * kPi * hz * i / 16000)));
    return s;
}

std::vector<int16_t> Noise(uint32_t seed, int amplitude, int samples) {
    std::printf("noise seed %u\n", seed);
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> d(-amplitude, amplitude);
    std::vector<int16_t> s(static_cast<size_t>(samples));
    for (auto& v : s) v = static_cast<int16_t>(d(rng));
    return s;
}

std::vector<uint8_t> EncodeAll(CG722Codec& codec, const std::vector<int16_t>& pcm) {
    std::vector<uint8_t> out(pcm.size() / 2);
    int consumed = 0;
    const int n = codec.Encode(pcm.data(), static_cast<int>(pcm.size() * 2), &consumed, out.data(), static_cast<int>(out.size()));
    out.resize(static_cast<size_t>(n));
    return out;
}

std::vector<int16_t> DecodeAll(CG722Codec& codec, const std::vector<uint8_t>& coded) {
    std::vector<int16_t> out(coded.size() * 2);
    int consumed = 0;
    const int n = codec.Decode(coded.data(), static_cast<int>(coded.size()), &consumed, out.data(), static_cast<int>(out.size() * 2));
    out.resize(static_cast<size_t>(n / 2));
    return out;
}

// The encoder's and the decoder's QMF together delay the signal by 22 samples.
constexpr int kCodecDelay = 22;

// Signal-to-noise ratio in dB of y against x at the given delay (or the best
// alignment within 64 samples), skipping the first 0.1 s in which the coder adapts.
double SnrDb(const std::vector<int16_t>& x, const std::vector<int16_t>& y, int* delayOut = nullptr) {
    double best = -1e9;
    const size_t skip = 1600;
    for (int delay = delayOut ? 0 : kCodecDelay; delay < (delayOut ? 64 : kCodecDelay + 1); ++delay) {
        double sig = 0, err = 0;
        for (size_t i = skip; i + static_cast<size_t>(delay) < y.size() && i < x.size(); ++i) {
            const double a = x[i], b = y[i + static_cast<size_t>(delay)];
            sig += a * a;
            err += (a - b) * (a - b);
        }
        const double snr = 10 * std::log10(sig / (err + 1e-9));
        if (snr > best) {
            best = snr;
            if (delayOut) *delayOut = delay;
        }
    }
    return best;
}

TEST(G722CodecTest, CountsFollowRoomAndInput) {
    CG722Codec codec;
    const AudioFormat f = G722Format(160);
    EXPECT_EQ(codec.GetDecodeFrameSize(&f), 640);
    EXPECT_EQ(codec.GetEncodeFrameSize(&f), 640);
    const AudioFormat unset = G722Format(0);
    EXPECT_EQ(codec.GetDecodeFrameSize(&unset), 0);

    std::vector<uint8_t> coded(100, 0xFA);
    std::vector<int16_t> pcm(200, 1234);
    int consumed = -1;
    EXPECT_EQ(codec.Decode(coded.data(), 100, &consumed, pcm.data(), 300), 300);
    EXPECT_EQ(consumed, 75);
    EXPECT_EQ(pcm[150], 1234);  // nothing past the room

    std::vector<int16_t> in(3, 0);
    uint8_t out[4] = {};
    EXPECT_EQ(codec.Encode(in.data(), 6, &consumed, out, 4), 1);
    EXPECT_EQ(consumed, 4);
    EXPECT_EQ(codec.Encode(in.data(), 3, &consumed, out, 4), 0);
    EXPECT_EQ(consumed, 0);
    std::vector<int16_t> many(40, 0);
    EXPECT_EQ(codec.Encode(many.data(), 80, &consumed, out, 4), 4);  // the room decides
    EXPECT_EQ(consumed, 16);

    consumed = 55;
    EXPECT_EQ(codec.Decode(nullptr, 1, &consumed, pcm.data(), 4), 0);
    EXPECT_EQ(codec.Encode(in.data(), 4, &consumed, nullptr, 1), 0);
    EXPECT_EQ(consumed, 55);
    EXPECT_EQ(codec.Decode(coded.data(), 1, &consumed, pcm.data(), 3), 0);
    EXPECT_EQ(consumed, 0);
}

TEST(G722CodecTest, TonesSurviveTheRoundTrip) {
    for (const double hz : {300.0, 1000.0, 3400.0, 6000.0}) {
        CG722Codec codec;
        const std::vector<int16_t> x = Tone(hz, 12000, 16000);
        const std::vector<int16_t> y = DecodeAll(codec, EncodeAll(codec, x));
        ASSERT_EQ(y.size(), x.size());
        const double snr = SnrDb(x, y);
        std::printf("%.0f Hz: SNR %.1f dB\n", hz, snr);
        EXPECT_GT(snr, hz < 4000 ? 30.0 : 20.0) << hz;
    }
}

TEST(G722CodecTest, NoiseSurvivesTheRoundTrip) {
    CG722Codec codec;
    const std::vector<int16_t> x = Noise(std::random_device{}(), 10000, 32000);
    const std::vector<int16_t> y = DecodeAll(codec, EncodeAll(codec, x));
    int delay = 0;
    const double snr = SnrDb(x, y, &delay);
    std::printf("white noise: SNR %.1f dB at a delay of %d samples\n", snr, delay);
    EXPECT_GT(snr, 9.0);
    EXPECT_EQ(delay, kCodecDelay);
}

// Decodes in engine-sized calls of `chunk` code bytes.
std::vector<int16_t> DecodeInCalls(CG722Codec& codec, const std::vector<uint8_t>& coded, size_t begin, size_t end,
                                   size_t chunk) {
    std::vector<int16_t> out;
    std::vector<int16_t> block(chunk * 2);
    for (size_t pos = begin; pos < end; pos += chunk) {
        const int n = static_cast<int>(std::min(chunk, end - pos));
        int consumed = 0;
        const int written = codec.Decode(coded.data() + pos, n, &consumed, block.data(), n * 4);
        EXPECT_EQ(consumed, n);
        out.insert(out.end(), block.begin(), block.begin() + written / 2);
    }
    return out;
}

bool AllZero(const std::vector<int16_t>& s, size_t begin, size_t end) {
    for (size_t i = begin; i < end; ++i) {
        if (s[i] != 0) return false;
    }
    return true;
}

class G722MuteTest : public ::testing::Test {
protected:
    void SetUp() override {
        CG722Codec encoder;
        m_coded = EncodeAll(encoder, Tone(700, 9000, 2 * 40000));  // 2.5 s of code bytes
        m_reference = DecodeInCalls(m_reference_codec, m_coded, 0, m_coded.size(), 160);  // never opened: no mute
    }
    std::vector<uint8_t> m_coded;
    CG722Codec m_reference_codec;
    std::vector<int16_t> m_reference;
};

TEST_F(G722MuteTest, FirstBytesAfterOpenAreSilentButTracked) {
    CG722Codec codec;
    EXPECT_EQ(codec.GetMuteCount(), 0);
    EXPECT_EQ(codec.OpenDecoder(), 1);
    EXPECT_EQ(codec.GetMuteCount(), CG722Codec::kMuteBytes);
    const std::vector<int16_t> out = DecodeInCalls(codec, m_coded, 0, m_coded.size(), 160);
    ASSERT_EQ(out.size(), m_reference.size());
    const size_t muted = 2 * CG722Codec::kMuteBytes;  // 51200 samples, 3.2 s
    EXPECT_TRUE(AllZero(out, 0, muted));
    EXPECT_FALSE(AllZero(m_reference, 0, muted));
    // The decoder ran under the mute: the first audible sample is the reference's.
    for (size_t i = muted; i < out.size(); ++i) ASSERT_EQ(out[i], m_reference[i]) << i;
    EXPECT_LE(codec.GetMuteCount(), 0);
}

TEST_F(G722MuteTest, TheLastMutedCallIsSilentWhole) {
    CG722Codec codec;
    codec.OpenDecoder();
    DecodeInCalls(codec, m_coded, 0, 25500, 25500);
    EXPECT_EQ(codec.GetMuteCount(), 100);
    const std::vector<int16_t> crossing = DecodeInCalls(codec, m_coded, 25500, 25692, 192);
    EXPECT_TRUE(AllZero(crossing, 0, crossing.size()));  // all 192, not just the 100 left
    EXPECT_EQ(codec.GetMuteCount(), -92);
    const std::vector<int16_t> next = DecodeInCalls(codec, m_coded, 25692, 25884, 192);
    for (size_t i = 0; i < next.size(); ++i) ASSERT_EQ(next[i], m_reference[2 * 25692 + i]) << i;
}

TEST_F(G722MuteTest, ReopeningMutesAgainWithoutResettingTheState) {
    CG722Codec codec;
    codec.OpenDecoder();
    DecodeInCalls(codec, m_coded, 0, 26000, 200);
    codec.CloseDecoder();
    EXPECT_EQ(codec.OpenDecoder(), 1);  // a new call: mute again, state continues
    const std::vector<int16_t> second = DecodeInCalls(codec, m_coded, 26000, m_coded.size(), 200);
    const size_t muted = 2 * 25600;
    EXPECT_TRUE(AllZero(second, 0, std::min(muted, second.size())));
    // Past the second mute the output is the continuous decoder's.
    CG722Codec longer;
    std::vector<uint8_t> coded2 = m_coded;
    coded2.insert(coded2.end(), m_coded.begin(), m_coded.end());
    const std::vector<int16_t> ref = DecodeInCalls(longer, coded2, 0, coded2.size(), 200);
    codec.CloseDecoder();
    codec.OpenDecoder();
    codec.Decode(m_coded.data(), 0, nullptr, nullptr, 0);  // harmless
    const std::vector<int16_t> tail = DecodeInCalls(codec, m_coded, 0, m_coded.size(), 200);
    const size_t offset = 2 * m_coded.size();
    ASSERT_EQ(tail.size(), 2 * m_coded.size());
    for (size_t i = muted; i < tail.size(); ++i) ASSERT_EQ(tail[i], ref[offset + i]) << i;
}

// A new call continues from the encoder state the last call left.
TEST(G722CodecTest, EncoderStateCarriesOverBetweenCalls) {
    const std::vector<int16_t> x = Noise(12345, 8000, 8000);
    const std::vector<int16_t> first(x.begin(), x.begin() + 4000), second(x.begin() + 4000, x.end());
    CG722Codec whole;
    const std::vector<uint8_t> expected = EncodeAll(whole, x);

    CG722Codec codec;
    codec.SetEncodeFormat(nullptr);
    codec.OpenEncoder();
    std::vector<uint8_t> got = EncodeAll(codec, first);
    codec.CloseEncoder();
    EXPECT_EQ(codec.OpenEncoder(), 1);
    const std::vector<uint8_t> more = EncodeAll(codec, second);
    got.insert(got.end(), more.begin(), more.end());
    EXPECT_EQ(got, expected);

    CG722Codec fresh;
    const std::vector<uint8_t> fromReset = EncodeAll(fresh, second);
    EXPECT_NE(fromReset, std::vector<uint8_t>(expected.begin() + 2000, expected.end()));
}

}  // namespace
