// The B-channel wire format by hand-worked bytes: the tables, the counter
// bytes of the two-channel split, the last-byte markers, the filler frames
// and the Layer III private-bit markers at both MPEG versions.
#include "net/BChannelFraming.h"

#include <gtest/gtest.h>

#include <vector>

#include "common/MpegHeader.h"

TEST(BChannelFramingTest, TablesReverseAndSplitBits) {
    EXPECT_EQ(CBChannelFraming::Reverse(0x01), 0x80);
    EXPECT_EQ(CBChannelFraming::Reverse(0xC4), 0x23);
    // 0xB4 = 1011 0100: odd bits 1, 3, 5, 7 are 0, 0, 1, 1; even bits 0, 2, 4, 6 are 0, 1, 1, 0.
    EXPECT_EQ(CBChannelFraming::OddNibble(0xB4), 0x3);
    EXPECT_EQ(CBChannelFraming::EvenNibble(0xB4), 0x6);
    for (int i = 0; i < 256; ++i) EXPECT_EQ(CBChannelFraming::Reverse(CBChannelFraming::Reverse(static_cast<uint8_t>(i))), i);
}

TEST(BChannelFramingTest, TwoChannelSplitCarries191BytesAndCounters) {
    std::vector<uint8_t> frame(384);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint8_t>(i * 37 + 5);
    uint8_t a[192], b[192];
    int counter = 0;
    for (int n = 1; n <= 40; ++n) {
        counter = (counter + 1) & 0x1F;
        CBChannelFraming::SplitLayer2(frame.data(), 384, counter, a, b);
        EXPECT_EQ(a[191], CBChannelFraming::Reverse(static_cast<uint8_t>(n & 0x1F)));
        EXPECT_EQ(b[191], CBChannelFraming::Reverse(static_cast<uint8_t>((n & 0x1F) + 32)));
    }
    // Byte k of each channel carries frame bytes 2k and 2k + 1: the odd bits
    // on the first channel, the even bits on the second.
    for (int k = 0; k < 191; ++k) {
        EXPECT_EQ(a[k], CBChannelFraming::OddNibble(frame[2 * k + 1]) * 16 + CBChannelFraming::OddNibble(frame[2 * k]));
        EXPECT_EQ(b[k], CBChannelFraming::EvenNibble(frame[2 * k + 1]) * 16 + CBChannelFraming::EvenNibble(frame[2 * k]));
    }
}

TEST(BChannelFramingTest, OneFrameMarkersAndTheirModes) {
    EXPECT_EQ(CBChannelFraming::OneFrameMarker(0, 5, 0), -1);
    EXPECT_EQ(CBChannelFraming::OneFrameMarker(1, 5, 1), 0);
    EXPECT_EQ(CBChannelFraming::OneFrameMarker(10, 3, 0), CBChannelFraming::Reverse(0x63));
    EXPECT_EQ(CBChannelFraming::OneFrameMarker(10, 3, 1), CBChannelFraming::Reverse(0x83));
    // Mode 20 at counter 0 sends 0x40 on the first channel.
    EXPECT_EQ(CBChannelFraming::OneFrameMarker(20, 0, 0), CBChannelFraming::Reverse(0x40));
    EXPECT_EQ(CBChannelFraming::OneFrameMarker(21, 2, 1), CBChannelFraming::Reverse(0x62));
    EXPECT_EQ(CBChannelFraming::OneFrameMarker(22, 31, 1), CBChannelFraming::Reverse(0x3F));
    EXPECT_EQ(CBChannelFraming::NextMarkerMode(20, 30), 20);
    EXPECT_EQ(CBChannelFraming::NextMarkerMode(20, 31), 21);
    EXPECT_EQ(CBChannelFraming::NextMarkerMode(21, 22), 22);
    EXPECT_EQ(CBChannelFraming::NextMarkerMode(22, 31), 22);
}

TEST(BChannelFramingTest, FillerFramesExistAt48And32And24kHzOnly) {
    uint8_t f[384];
    ASSERT_EQ(CBChannelFraming::FillerFrame(48000, f), 192);
    EXPECT_EQ(f[0], 0xFF);
    EXPECT_EQ(f[1], 0xFC);
    EXPECT_EQ(f[2], 0x44);
    EXPECT_EQ(f[3], 0xCC);
    EXPECT_EQ(f[191], 0xFE);
    MpegHeader h;
    for (int rate : {48000, 32000, 24000}) {
        const int n = CBChannelFraming::FillerFrame(rate, f);
        ASSERT_TRUE(ParseMpegHeader(f, &h)) << rate;
        EXPECT_EQ(h.sampleRate, rate);
        EXPECT_EQ(h.bitRate, 64000);
        EXPECT_EQ(h.frameBytes, n);
    }
    EXPECT_EQ(CBChannelFraming::FillerFrame(44100, f), 0);
    EXPECT_EQ(CBChannelFraming::FillerFrame(16000, f), 0);
}

namespace {
// A Layer III block of zeros behind a header (and a second frame's header
// for MPEG-2, whose block holds two frames).
std::vector<uint8_t> Layer3Block(uint8_t b1, uint8_t b2, uint8_t b3, int frames, int frameBytes) {
    std::vector<uint8_t> block(static_cast<size_t>(frames * frameBytes), 0);
    for (int i = 0; i < frames; ++i) {
        block[i * frameBytes] = 0xFF;
        block[i * frameBytes + 1] = b1;
        block[i * frameBytes + 2] = b2;
        block[i * frameBytes + 3] = b3;
    }
    return block;
}
}  // namespace

TEST(BChannelFramingTest, Layer3MarkersSitInTheFramesOwnPrivateBits) {
    // MPEG-1 at 128 kbit/s 48 kHz: mono 11000 / 11001 / 11111 at byte 5,
    // stereo 000 / 001 / 111; with a CRC two bytes further.
    auto mono = Layer3Block(0xFB, 0x94, 0xC0, 1, 384);
    ASSERT_TRUE(CBChannelFraming::MarkLayer3(mono.data(), 384, 0));
    EXPECT_EQ(mono[5], 0x60);
    mono = Layer3Block(0xFB, 0x94, 0xC0, 1, 384);
    CBChannelFraming::MarkLayer3(mono.data(), 384, 1);
    EXPECT_EQ(mono[5], 0x64);
    EXPECT_EQ(CBChannelFraming::ReadLayer3Marker(mono.data(), 384), 25);
    auto stereo = Layer3Block(0xFA, 0x94, 0x00, 1, 384);  // with CRC
    CBChannelFraming::MarkLayer3(stereo.data(), 384, 7);
    EXPECT_EQ(stereo[7], 0x70);
    EXPECT_EQ(CBChannelFraming::ReadLayer3Marker(stereo.data(), 384), 31);
    stereo = Layer3Block(0xFB, 0x94, 0x00, 1, 384);
    CBChannelFraming::MarkLayer3(stereo.data(), 384, 0);
    EXPECT_EQ(stereo[5], 0x00);
    EXPECT_EQ(CBChannelFraming::ReadLayer3Marker(stereo.data(), 384), 24);

    // MPEG-2 at 128 kbit/s 24 kHz: two 384-byte frames per block. Only the
    // private bits change, so part2_3_length and the rest stay intact.
    for (int counter : {0, 1, 9}) {
        for (uint8_t mode : {0x00, 0xC0}) {
            auto block = Layer3Block(0xF3, 0xC4, mode, 2, 384);
            auto before = block;
            ASSERT_TRUE(CBChannelFraming::MarkLayer3(block.data(), 768, counter));
            EXPECT_EQ(CBChannelFraming::ReadLayer3Marker(block.data(), 768), counter == 0 ? 24 : counter == 1 ? 25 : 31);
            for (size_t i = 0; i < block.size(); ++i) {
                const bool privateByte = i == 5 || (mode == 0xC0 && i == 384 + 5);
                const uint8_t allowed = mode == 0xC0 ? 0x80 : 0xC0;
                if (!privateByte) EXPECT_EQ(block[i], before[i]) << i;
                else EXPECT_EQ(block[i] & ~allowed, before[i] & ~allowed) << i;
            }
        }
    }
    std::vector<uint8_t> notMpeg(384, 0x12);
    EXPECT_FALSE(CBChannelFraming::MarkLayer3(notMpeg.data(), 384, 0));
    EXPECT_EQ(CBChannelFraming::ReadLayer3Marker(notMpeg.data(), 384), -1);
}
