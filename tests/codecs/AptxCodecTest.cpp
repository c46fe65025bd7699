// The two apt-X codec classes: block arithmetic, byte order on the connection,
// channel choice, round trips, and the enhanced decoder's recovery after a
// lost byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>

#include "codecs/AptxEnhCodec.h"
#include "codecs/AptxStdCodec.h"
#include "codecs/aptx/AptxTestSignals.h"

namespace {

AudioFormat Format(int codingType, int deviceMode, int frameBytes, int aptxOption = 1) {
    AudioFormat f;
    f.codingType = codingType;
    f.bitRate = deviceMode == 10 || deviceMode == 11 ? 192000 : 384000;
    f.sampleRate = 48000;
    f.deviceMode = deviceMode;
    f.frameBytes = frameBytes;
    f.aptxOption = aptxOption;
    return f;
}

TEST(AptxCodec, FrameSizes) {
    CAptxStdCodec std;
    CAptxEnhCodec enh;
    const AudioFormat stereo = Format(256, 20, 100);
    const AudioFormat monoMix = Format(256, 11, 100);
    const AudioFormat usual = Format(256, 20, 384);
    for (CCodec* c : {static_cast<CCodec*>(&std), static_cast<CCodec*>(&enh)}) {
        EXPECT_EQ(c->GetDecodeFrameSize(&stereo), 768);
        EXPECT_EQ(c->GetEncodeFrameSize(&monoMix), 384);
        EXPECT_EQ(c->GetEncodeFrameSize(&usual), 3072);
    }
}

TEST(AptxCodec, StandardBlockArithmetic) {
    CAptxStdCodec codec;
    const AudioFormat stereo = Format(256, 20, 384, 0);  // no sync pattern: decodes at once
    codec.SetDecodeFormat(&stereo);
    codec.SetEncodeFormat(&stereo);
    ASSERT_EQ(codec.OpenDecoder(), 1);
    ASSERT_EQ(codec.OpenEncoder(), 1);
    std::vector<uint8_t> code(100, 0);
    std::vector<int16_t> pcm(2048);
    int consumed = -1;
    EXPECT_EQ(codec.Decode(code.data(), 100, &consumed, pcm.data(), 4096), 384);
    EXPECT_EQ(consumed, 96);
    EXPECT_EQ(codec.Decode(code.data(), 48, &consumed, pcm.data(), 4096), 128);
    EXPECT_EQ(consumed, 32);
    EXPECT_EQ(codec.Encode(pcm.data(), 4096, &consumed, code.data(), 48), 32);
    EXPECT_EQ(consumed, 128);

    const AudioFormat mono = Format(256, 10, 384);
    codec.SetEncodeFormat(&mono);
    ASSERT_EQ(codec.OpenEncoder(), 1);
    EXPECT_EQ(codec.Encode(pcm.data(), 60, &consumed, code.data(), 100), 0);
    EXPECT_EQ(consumed, 0);
}

TEST(AptxCodec, ClosedOrNeverOpenedSidesAreHarmless) {
    CAptxStdCodec std;
    CAptxEnhCodec enh;
    for (CCodec* c : {static_cast<CCodec*>(&std), static_cast<CCodec*>(&enh)}) {
        c->CloseDecoder();
        c->CloseEncoder();
        uint8_t code[64] = {};
        int16_t pcm[256] = {};
        int consumed = -1;
        EXPECT_EQ(c->Decode(code, 64, &consumed, pcm, sizeof pcm), 0);
        EXPECT_EQ(consumed, 0);
        EXPECT_EQ(c->Encode(pcm, sizeof pcm, &consumed, code, 64), 0);
        EXPECT_EQ(consumed, 0);
    }
}

TEST(AptxCodec, EnhancedSwapsEachWordOnTheConnection) {
    CAptxEnhCodec codec;
    const AudioFormat stereo = Format(272, 20, 384);
    codec.SetEncodeFormat(&stereo);
    codec.SetDecodeFormat(&stereo);
    ASSERT_EQ(codec.OpenEncoder(), 1);
    ASSERT_EQ(codec.OpenDecoder(), 1);
    const std::vector<int16_t> pcm = aptxtest::Tone(64, 2, 9000, 1000, 2000);
    uint8_t wire[64];
    int consumed = 0;
    ASSERT_EQ(codec.Encode(pcm.data(), 256, &consumed, wire, sizeof wire), 64);
    EXPECT_EQ(consumed, 256);
    // The engine alone writes each word most significant byte first.
    AptxEnhEncoder* engine = AptxEnhEncoderCreate(0, AptxEnhFormat(2, 16), 0);
    const uint8_t user[3] = {};
    for (int step = 0; step < 16; ++step) {
        int32_t s[8];
        for (int i = 0; i < 8; ++i) s[i] = pcm[step * 8 + i] * 65536;
        uint8_t code[4];
        ASSERT_EQ(AptxEnhEncode(engine, s, code, user), 0);
        for (int i = 0; i < 4; i += 2) {
            EXPECT_EQ(wire[step * 4 + i], code[i + 1]);
            EXPECT_EQ(wire[step * 4 + i + 1], code[i]);
        }
    }
    AptxEnhEncoderFree(engine);
    // Before sync: 4 steps consumed, nothing played.
    int16_t out[64];
    EXPECT_EQ(codec.Decode(wire, 16, &consumed, out, sizeof out), 0);
    EXPECT_EQ(consumed, 16);
}

TEST(AptxCodec, MonoMixOpensOneChannelEngines) {
    CAptxEnhCodec enh;
    CAptxStdCodec std;
    const AudioFormat monoMix = Format(272, 11, 384);
    enh.SetEncodeFormat(&monoMix);
    std.SetEncodeFormat(&monoMix);
    ASSERT_EQ(enh.OpenEncoder(), 1);
    ASSERT_EQ(std.OpenEncoder(), 1);
    std::vector<int16_t> pcm(256, 100);
    uint8_t code[256];
    int consumed = 0;
    EXPECT_EQ(enh.Encode(pcm.data(), 512, &consumed, code, sizeof code), 128);  // 8 PCM bytes per 2 code bytes
    EXPECT_EQ(consumed, 512);
    EXPECT_EQ(std.Encode(pcm.data(), 512, &consumed, code, sizeof code), 128);
    EXPECT_EQ(consumed, 512);
}

// Runs `periods` of interleaved PCM through one codec object in engine-sized
// blocks, as the audio engine would, and returns the decoded PCM.
std::vector<int16_t> Through(CCodec& codec, const AudioFormat& f, const std::vector<int16_t>& pcm,
                             size_t dropByteAt = SIZE_MAX) {
    codec.SetEncodeFormat(&f);
    codec.SetDecodeFormat(&f);
    EXPECT_EQ(codec.OpenEncoder(), 1);
    EXPECT_EQ(codec.OpenDecoder(), 1);
    const int unit = codec.GetEncodeFrameSize(&f);
    std::vector<uint8_t> wire;
    // The engine offers its whole capture fill; one coded block takes what fits.
    for (size_t pos = 0; pos + unit / 2 <= pcm.size();) {
        std::vector<uint8_t> code(f.frameBytes);
        int consumed = 0;
        const int n = codec.Encode(&pcm[pos], unit, &consumed, code.data(), f.frameBytes);
        EXPECT_EQ(n, f.frameBytes);
        EXPECT_EQ(consumed, 4 * f.frameBytes);
        if (consumed <= 0) break;
        pos += static_cast<size_t>(consumed) / 2;
        wire.insert(wire.end(), code.begin(), code.begin() + n);
    }
    if (dropByteAt < wire.size()) wire.erase(wire.begin() + static_cast<long>(dropByteAt));
    std::vector<int16_t> out;
    std::vector<int16_t> buffer(codec.GetDecodeFrameSize(&f) / 2);
    size_t pos = 0;
    while (wire.size() - pos >= static_cast<size_t>(f.frameBytes)) {
        int consumed = 0;
        const int n = codec.Decode(&wire[pos], f.frameBytes, &consumed, buffer.data(), static_cast<int>(buffer.size() * 2));
        EXPECT_GT(consumed, 0);
        pos += consumed;
        out.insert(out.end(), buffer.begin(), buffer.begin() + n / 2);
    }
    return out;
}

TEST(AptxCodec, BothTypesCarryATone) {
    for (const int type : {256, 272}) {
        for (const int mode : {10, 20}) {
            const int channels = mode == 10 ? 1 : 2;
            const AudioFormat f = Format(type, mode, 384);
            const std::vector<int16_t> pcm = aptxtest::Tone(48000, channels, 10000, 1000, 1500);
            CAptxStdCodec std;
            CAptxEnhCodec enh;
            CCodec& codec = type == 256 ? static_cast<CCodec&>(std) : static_cast<CCodec&>(enh);
            const std::vector<int16_t> out = Through(codec, f, pcm);
            // Silence before sync is dropped, so the output is shorter: align by search.
            const int missing = static_cast<int>(pcm.size() - out.size()) / channels;
            for (int c = 0; c < channels; ++c) {
                const aptxtest::LagSnr r =
                    aptxtest::BestLag(pcm, out, channels, c, -missing - 200, -missing + 200, 36000, 47000);
                std::printf("type %d, %d channels, channel %d: %.1f dB\n", type, channels, c, r.snr);
                EXPECT_GE(r.snr, 45) << type << " " << channels << " " << c;
            }
        }
    }
}

TEST(AptxCodec, EnhancedDecoderRelocksAfterAnOddByteSlip) {
    for (const int mode : {10, 20}) {
        const int channels = mode == 10 ? 1 : 2;
        const AudioFormat f = Format(272, mode, 384);
        const std::vector<int16_t> pcm = aptxtest::Tone(96000, channels, 10000, 1000, 1500);
        CAptxEnhCodec codec;
        const std::vector<int16_t> out = Through(codec, f, pcm, 20001 * channels);
        EXPECT_TRUE(codec.IsDecoderSynced());
        EXPECT_EQ(codec.GetRealignments(), 1);
        const int missing = static_cast<int>(pcm.size() - out.size()) / channels;
        for (int c = 0; c < channels; ++c) {
            const aptxtest::LagSnr r =
                aptxtest::BestLag(pcm, out, channels, c, -missing - 200, -missing + 200, 84000, 95000);
            EXPECT_GE(r.snr, 45) << channels << " channels, channel " << c;
        }
    }
}

}  // namespace

namespace {

// Found by EnhancedAptxDecoderFuzz: a realignment due right after the last
// step of a block once reported one byte more than was offered.
TEST(AptxCodec, RealignmentAtTheEndOfABlockStaysInsideTheOffer) {
    FILE* f = std::fopen(VELMORA_TEST_DATA "/corpus/EnhancedAptxDecoderFuzz/regression_realign_at_block_end", "rb");
    ASSERT_NE(f, nullptr);
    std::vector<uint8_t> data(4096);
    data.resize(std::fread(data.data(), 1, data.size(), f));
    std::fclose(f);
    ASSERT_GT(data.size(), 2u);
    AudioFormat format = Format(272, (data[0] & 1) ? 20 : 10, 4 + (data[1] & 63) * 4);
    CAptxEnhCodec codec;
    codec.SetDecodeFormat(&format);
    ASSERT_EQ(codec.OpenDecoder(), 1);
    std::vector<int16_t> pcm(static_cast<size_t>(codec.GetDecodeFrameSize(&format)) / 2);
    int realignedOffers = 0;
    for (int pass = 0; pass < 2; ++pass) {
        for (size_t pos = 2; pos < data.size();) {
            const int offer = static_cast<int>(std::min<size_t>(data.size() - pos, format.frameBytes));
            int consumed = 0;
            const int before = codec.GetRealignments();
            codec.Decode(&data[pos], offer, &consumed, pcm.data(), static_cast<int>(pcm.size() * 2));
            ASSERT_LE(consumed, offer);
            if (codec.GetRealignments() != before) ++realignedOffers;
            if (consumed == 0) break;
            pos += static_cast<size_t>(consumed);
        }
    }
    EXPECT_GT(realignedOffers, 0);
}

}  // namespace
