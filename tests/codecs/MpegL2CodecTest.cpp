#include "codecs/MpegL2Codec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <random>
#include <vector>

#include "tests/codecs/mpeg2/Mp2TestSupport.h"

namespace {

using namespace mp2test;

AudioFormat Format(int rate, int mode, int bitRate) {
    AudioFormat f;
    f.codingType = 32;
    f.sampleRate = rate;
    f.deviceMode = mode;
    f.bitRate = bitRate;
    return f;
}

// Frames of the codec class for a short signal, one vector per frame.
std::vector<std::vector<uint8_t>> Frames(int rate, int mode, int bitRate, int count, Signal sig = Signal::Multitone) {
    CMpegL2Codec codec;
    const AudioFormat f = Format(rate, mode, bitRate);
    codec.SetEncodeFormat(&f);
    EXPECT_EQ(codec.OpenEncoder(), 1);
    const int ch = mode == 10 ? 1 : 2;
    const auto pcm = Make(sig, rate, ch, (count * 1152.0 + 1) / rate);
    std::vector<std::vector<uint8_t>> frames;
    uint8_t buf[2048];
    for (int i = 0; i < count; ++i) {
        int used = 0;
        const int n = codec.Encode(pcm.data() + static_cast<size_t>(i) * 1152 * static_cast<size_t>(ch), 2304 * ch, &used,
                                   buf, sizeof buf);
        frames.emplace_back(buf, buf + n);
    }
    return frames;
}

TEST(MpegL2CodecTest, HeaderWordFromTheSendFormat) {
    struct Row {
        int rate, mode, bitRate;
        int ok;
        uint32_t word;
    };
    const Row rows[] = {
        {48000, 20, 128000, 1, 0x4041C8}, {48000, 21, 256000, 1, 0x4045CC}, {22050, 10, 64000, 1, 0x402D58},
        {24000, 10, 64500, 1, 0x404D58},  {24000, 10, 192000, 0, 0},        {48000, 11, 128000, 0, 0},
        {11025, 10, 64000, 0, 0},
    };
    for (const Row& r : rows) {
        CMpegL2Codec codec;
        const AudioFormat f = Format(r.rate, r.mode, r.bitRate);
        codec.SetEncodeFormat(&f);
        Mp2HeaderWord w = 0;
        EXPECT_EQ(codec.MakeHeader(&w), r.ok) << r.rate << " " << r.mode << " " << r.bitRate;
        if (r.ok) {
            EXPECT_EQ(w, r.word) << std::hex << w;
        }
        EXPECT_EQ(codec.OpenEncoder(), r.ok);
    }
}

TEST(MpegL2CodecTest, FrameSizes) {
    CMpegL2Codec codec;
    for (int mode : {20, 21, 22}) {
        const AudioFormat f = Format(48000, mode, 256000);
        EXPECT_EQ(codec.GetDecodeFrameSize(&f), 4608);
        EXPECT_EQ(codec.GetEncodeFrameSize(&f), 4608);
    }
    for (int mode : {10, 11}) {
        const AudioFormat f = Format(48000, mode, 128000);
        EXPECT_EQ(codec.GetDecodeFrameSize(&f), 2304);
    }
}

TEST(MpegL2CodecTest, EncodeTakesWholeFramesAndChecksItsRoom) {
    CMpegL2Codec codec;
    const AudioFormat mono = Format(48000, 10, 128000);
    codec.SetEncodeFormat(&mono);
    ASSERT_EQ(codec.OpenEncoder(), 1);
    std::vector<int16_t> pcm(2 * 1152, 1000);
    uint8_t out[1000];
    int used = -1;
    EXPECT_EQ(codec.Encode(pcm.data(), 2303, &used, out, sizeof out), 0);
    EXPECT_EQ(used, 0);
    // 384 bytes per frame: a room of 383 is refused, nothing consumed, nothing cut.
    EXPECT_EQ(codec.Encode(pcm.data(), 2304, &used, out, 383), 0);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(codec.GetRefusedEncodes(), 1);
    EXPECT_EQ(codec.Encode(pcm.data(), 2304, &used, out, sizeof out), 384);
    EXPECT_EQ(used, 2304);
    // The last three bytes: ancillary byte 0, then the trailer cleared.
    EXPECT_EQ(out[381], 0);
    EXPECT_EQ(out[382], 0);
    EXPECT_EQ(out[383], 0);
    const AudioFormat stereo = Format(48000, 20, 256000);
    codec.SetEncodeFormat(&stereo);
    ASSERT_EQ(codec.OpenEncoder(), 1);
    EXPECT_EQ(codec.Encode(pcm.data(), 2304 * 2 - 1, &used, out, sizeof out), 0);
    EXPECT_EQ(used, 0);
}

TEST(MpegL2CodecTest, EncodesIntoRoomForExactlyTheFramesItCanGive) {
    // The call leaves room for one frame of the format: that is enough where
    // frames never pad, and the padded frame's room is enough where they do.
    struct Row {
        int rate, mode, bitRate, room;
    };
    for (const Row& r : {Row{48000, 20, 256000, 768}, Row{48000, 21, 128000, 384}, Row{24000, 10, 64000, 384},
                         Row{32000, 20, 192000, 864}, Row{44100, 20, 128000, 418}, Row{22050, 10, 64000, 418}}) {
        CMpegL2Codec codec;
        const AudioFormat f = Format(r.rate, r.mode, r.bitRate);
        codec.SetEncodeFormat(&f);
        ASSERT_EQ(codec.OpenEncoder(), 1);
        const int ch = r.mode == 10 ? 1 : 2;
        const auto pcm = Make(Signal::Multitone, r.rate, ch, 40 * 1152.0 / r.rate);
        std::vector<uint8_t> out(static_cast<size_t>(r.room));
        int longest = 0;
        for (int i = 0; i < 40; ++i) {
            int used = 0;
            const int n = codec.Encode(pcm.data() + static_cast<size_t>(i) * 1152 * static_cast<size_t>(ch), 2304 * ch,
                                       &used, out.data(), r.room);
            ASSERT_GT(n, 0) << r.rate << " Hz, frame " << i;
            EXPECT_EQ(used, 2304 * ch);
            longest = std::max(longest, n);
        }
        EXPECT_EQ(longest, r.room) << r.rate;
        EXPECT_EQ(codec.GetRefusedEncodes(), 0) << r.rate;
    }
}

TEST(MpegL2CodecTest, BitRateChangeWhileOpenTakesEffectAtTheNextFrame) {
    CMpegL2Codec codec;
    AudioFormat f = Format(48000, 20, 256000);
    codec.SetEncodeFormat(&f);
    ASSERT_EQ(codec.OpenEncoder(), 1);
    std::vector<int16_t> pcm(2 * 2304, 0);
    uint8_t out[2048];
    int used = 0;
    EXPECT_EQ(codec.Encode(pcm.data(), 4608, &used, out, sizeof out), 768);
    f.bitRate = 384000;
    codec.SetEncodeFormat(&f);
    EXPECT_EQ(codec.Encode(pcm.data(), 4608, &used, out, sizeof out), 1152);
    f.bitRate = 1000;  // not a Layer II rate: the running stream keeps its word
    codec.SetEncodeFormat(&f);
    EXPECT_EQ(codec.Encode(pcm.data(), 4608, &used, out, sizeof out), 1152);
}

TEST(MpegL2CodecTest, DecodeLocksOnTheFirstFrameThenDecodesOnePerCall) {
    const auto frames = Frames(48000, 20, 256000, 4);
    CMpegL2Codec codec;
    ASSERT_EQ(codec.OpenDecoder(), 1);
    std::vector<int16_t> pcm(4608);
    int used = 0;
    EXPECT_EQ(codec.Decode(frames[0].data(), static_cast<int>(frames[0].size()), &used, pcm.data(), 9216), 0);
    EXPECT_EQ(used, 768);
    for (int i = 1; i < 4; ++i) {
        EXPECT_EQ(codec.Decode(frames[i].data(), 768, &used, pcm.data(), 9216), 4608);
        EXPECT_EQ(used, 768);
    }
    // A mono format's room cannot take a stereo frame: refused, not overrun.
    EXPECT_EQ(codec.Decode(frames[3].data(), 768, &used, pcm.data(), 2304), 0);
    EXPECT_EQ(used, 768);
    EXPECT_EQ(codec.GetRefusedDecodes(), 1);
    // Half a frame: nothing complete, all of it consumed... and concealed from the last frame.
    const int got = codec.Decode(frames[2].data(), 300, &used, pcm.data(), 9216);
    EXPECT_EQ(used, 300);
    EXPECT_TRUE(got == 0 || got == 4608) << got;
}

TEST(MpegL2CodecTest, DamagedFramesAreConcealedNotDropped) {
    const auto frames = Frames(48000, 20, 256000, 8);
    CMpegL2Codec codec;
    ASSERT_EQ(codec.OpenDecoder(), 1);
    std::vector<int16_t> pcm(2304), good(2304);  // one stereo frame
    int used = 0;
    codec.Decode(frames[0].data(), 768, &used, pcm.data(), 4608);
    ASSERT_EQ(codec.Decode(frames[1].data(), 768, &used, good.data(), 4608), 4608);
    // Damage the allocation field: the CRC no longer matches.
    for (int i = 2; i <= 4; ++i) {
        auto bad = frames[static_cast<size_t>(i)];
        bad[7] ^= 0x20;
        std::fill(pcm.begin(), pcm.end(), 12345);
        EXPECT_EQ(codec.Decode(bad.data(), 768, &used, pcm.data(), 4608), 4608) << "frame " << i;
        EXPECT_EQ(used, 768);
        if (i < 4) {
            EXPECT_EQ(pcm, good) << "the first two failures repeat the last good frame";
        } else {
            EXPECT_EQ(pcm, std::vector<int16_t>(2304, 0)) << "the third one is silent";
        }
    }
    // The decoder searches anew, finds the next header and then decodes again.
    int total = 0;
    for (int i = 5; i < 8; ++i) total += codec.Decode(frames[static_cast<size_t>(i)].data(), 768, &used, pcm.data(), 4608);
    EXPECT_GE(total, 4608);
}

TEST(MpegL2CodecTest, FailureCountsBelongToEachDecoder) {
    const auto frames = Frames(48000, 10, 128000, 6);
    CMpegL2Codec a, b;
    ASSERT_EQ(a.OpenDecoder(), 1);
    ASSERT_EQ(b.OpenDecoder(), 1);
    std::vector<int16_t> pcm(1152);  // one mono frame
    int used = 0;
    for (int i = 0; i < 2; ++i) {
        a.Decode(frames[static_cast<size_t>(i)].data(), 384, &used, pcm.data(), 2304);
        b.Decode(frames[static_cast<size_t>(i)].data(), 384, &used, pcm.data(), 2304);
    }
    std::vector<uint8_t> garbage(384, 0x55);
    // Two failures on a: still repeating. b's good frames must not reset a's count,
    // nor a's failures push b into silence.
    EXPECT_EQ(a.Decode(garbage.data(), 384, &used, pcm.data(), 2304), 2304);
    EXPECT_EQ(b.Decode(frames[2].data(), 384, &used, pcm.data(), 2304), 2304);
    EXPECT_EQ(a.Decode(garbage.data(), 384, &used, pcm.data(), 2304), 2304);
    EXPECT_EQ(b.Decode(frames[3].data(), 384, &used, pcm.data(), 2304), 2304);
    std::vector<int16_t> out(1152, 1);
    EXPECT_EQ(a.Decode(garbage.data(), 384, &used, out.data(), 2304), 2304);
    EXPECT_EQ(out, std::vector<int16_t>(1152, 0)) << "a's third failure in a row is silent";
    EXPECT_EQ(b.Decode(frames[4].data(), 384, &used, out.data(), 2304), 2304);
    EXPECT_NE(out, std::vector<int16_t>(1152, 0)) << "b still decodes";
}

TEST(MpegL2CodecTest, DamagedInputNeverCrashesOrStalls) {
    const unsigned seed = std::random_device{}();
    std::printf("seed %u\n", seed);
    std::mt19937 rng(seed);
    const auto frames = Frames(44100, 21, 192000, 6);
    CMpegL2Codec codec;
    ASSERT_EQ(codec.OpenDecoder(), 1);
    std::vector<int16_t> pcm(2 * kMp2MaxSamplesPerChannel);
    int used = 0;
    auto offer = [&](const std::vector<uint8_t>& block) {
        const int got = codec.Decode(block.data(), static_cast<int>(block.size()), &used, pcm.data(), 4608);
        // Always progress; bytes after a decoded frame may stay with the caller.
        EXPECT_GT(used, 0);
        EXPECT_LE(used, static_cast<int>(block.size()));
        EXPECT_TRUE(got == 0 || got == 4608) << got;
    };
    for (const auto& f : frames) offer(f);
    // Truncation at every byte of a frame.
    for (size_t cut = 1; cut < frames[3].size(); ++cut) offer(std::vector<uint8_t>(frames[3].begin(), frames[3].begin() + static_cast<long>(cut)));
    offer(frames[4]);
    // Random bit flips.
    for (int i = 0; i < 300; ++i) {
        auto f = frames[static_cast<size_t>(i) % frames.size()];
        for (int k = 0; k < 1 + static_cast<int>(rng() % 8); ++k) f[rng() % f.size()] ^= static_cast<uint8_t>(1u << (rng() % 8));
        offer(f);
    }
    // Garbage, and headers of other formats (Layer III, Layer I with bad fields, AAC ADTS).
    for (int i = 0; i < 50; ++i) {
        std::vector<uint8_t> g(1 + rng() % 1500);
        for (auto& b : g) b = static_cast<uint8_t>(rng());
        offer(g);
    }
    for (const std::vector<uint8_t>& foreign :
         {std::vector<uint8_t>{0xFF, 0xFB, 0x90, 0x64}, std::vector<uint8_t>{0xFF, 0xF1, 0x50, 0x80, 0x2E, 0x7F, 0xFC},
          std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}, std::vector<uint8_t>{0xFF, 0xFE, 0xF0, 0x00}}) {
        auto f = foreign;
        f.resize(600, 0xAA);
        offer(f);
    }
    // And good frames afterwards decode again.
    int total = 0;
    for (int round = 0; round < 2; ++round)
        for (const auto& f : frames) total += codec.Decode(f.data(), static_cast<int>(f.size()), &used, pcm.data(), 4608);
    EXPECT_GT(total, 4608 * 6);
}

TEST(MpegL2CodecTest, ClosedSidesAnswerHarmlessly) {
    CMpegL2Codec codec;
    std::vector<int16_t> pcm(4608);
    uint8_t out[2048] = {};
    int used = 7;
    EXPECT_EQ(codec.Decode(out, 100, &used, pcm.data(), 9216), 0);
    EXPECT_EQ(used, 0);
    EXPECT_EQ(codec.Encode(pcm.data(), 9216, &used, out, sizeof out), 0);
    codec.CloseDecoder();
    codec.CloseEncoder();
    ASSERT_EQ(codec.OpenDecoder(), 1);
    ASSERT_EQ(codec.OpenDecoder(), 1);  // replaces the open one
    EXPECT_EQ(codec.Decode(nullptr, 100, &used, pcm.data(), 9216), 0);
}

}  // namespace

namespace {

TEST(MpegL2CodecTest, BlocksOfTheLongestFrameKeepTheNextFramesFirstByte) {
    // 44.1 kHz frames are 417 or 418 bytes; the engine offers 418 every time.
    const auto frames = Frames(44100, 20, 128000, 12);
    std::vector<uint8_t> fifo;
    int padded = 0;
    for (const auto& f : frames) {
        fifo.insert(fifo.end(), f.begin(), f.end());
        padded += f.size() == 418;
    }
    ASSERT_GT(padded, 8);
    CMpegL2Codec codec;
    ASSERT_EQ(codec.OpenDecoder(), 1);
    std::vector<int16_t> pcm(2304);
    int decoded = 0, calls = 0;
    while (fifo.size() >= 418) {
        int used = 0;
        const int n = codec.Decode(fifo.data(), 418, &used, pcm.data(), 4608);
        ASSERT_GT(used, 0);
        fifo.erase(fifo.begin(), fifo.begin() + used);
        if (calls++ > 0) {
            EXPECT_EQ(n, 4608) << "call " << calls;
        }
        decoded += n > 0;
    }
    EXPECT_EQ(decoded, calls - 1);
    EXPECT_GE(calls, 11);
}

}  // namespace

namespace {

TEST(MpegL2CodecTest, FixedModelWhenProcessingIsNotOne) {
    CMpegL2Codec codec;
    codec.SetProcessing(0);
    const AudioFormat f = Format(48000, 20, 192000);
    codec.SetEncodeFormat(&f);
    ASSERT_EQ(codec.OpenEncoder(), 1);
    const auto pcm = Make(Signal::Multitone, 48000, 2, 0.5);
    std::vector<uint8_t> stream;
    uint8_t buf[2048];
    for (size_t i = 0; i + 2304 <= pcm.size(); i += 2304) {
        int used = 0;
        const int n = codec.Encode(pcm.data() + i, 4608, &used, buf, sizeof buf);
        ASSERT_EQ(n, 576);
        stream.insert(stream.end(), buf, buf + n);
    }
    const StreamResult r = DecodeStream(stream);
    EXPECT_EQ(r.failures, 0);
    const double snr = Snr(pcm, r.pcm, 2, 600);
    std::printf("fixed model, 192 kbit/s multitone: SNR %.1f dB\n", snr);
    EXPECT_GT(snr, 12.0);  // the fixed model spreads bits evenly, whatever the content
}

}  // namespace
