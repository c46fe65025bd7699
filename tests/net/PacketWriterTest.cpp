// The packet writer against the stream parser that reads its packets on the
// far side: PCM headers, MPEG frames as they are, the Layer III trailer.
#include "net/PacketWriter.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <vector>

#include "common/ByteOrder.h"
#include "net/StreamParser.h"

namespace {

AudioFormat Format(int codingType, int sampleRate, int mode, int frameBytes) {
    AudioFormat f;
    f.codingType = codingType;
    f.sampleRate = sampleRate;
    f.deviceMode = mode;
    f.frameBytes = frameBytes;
    return f;
}

TEST(PacketWriter, PcmPacketsAreReadBackByTheParser) {
    const AudioFormat f = Format(CODING_PCM, 32000, DEVICEMODE_STEREO, 2304);
    const AudioPacketLayout layout = AudioPacketLayoutFor(f);
    EXPECT_EQ(layout.header, 12);
    EXPECT_EQ(layout.payload, 288);
    EXPECT_EQ(layout.trailer, 0);

    std::vector<uint8_t> audio(static_cast<size_t>(layout.payload));
    for (size_t i = 0; i < audio.size(); ++i) audio[i] = static_cast<uint8_t>(i * 7);
    std::vector<uint8_t> packet(static_cast<size_t>(layout.Total()));
    ASSERT_EQ(WriteAudioPacket(layout, f, audio.data(), packet.data()), layout.Total());
    EXPECT_EQ(GetLe32(packet.data() + 4), 32000u);
    EXPECT_EQ(packet[9], 2);

    CStreamParser parser;
    // Four packets confirm the format; the fifth is audio.
    for (int i = 0; i < 5; ++i) {
        ASSERT_EQ(parser.Append(packet.data(), layout.Total()), layout.Total());
        parser.Parse();
    }
    ASSERT_EQ(parser.IsFormatReady(), 1);
    AudioFormat got;
    parser.TakeFormat(&got);
    EXPECT_EQ(got.codingType, CODING_PCM);
    EXPECT_EQ(got.sampleRate, 32000);
    EXPECT_EQ(got.deviceMode, DEVICEMODE_STEREO);
    std::vector<uint8_t> out(audio.size());
    ASSERT_EQ(parser.Read(out.data(), static_cast<int>(out.size())), layout.payload);
    EXPECT_EQ(out, audio);
}

TEST(PacketWriter, MpegFramesGoAsTheyAreLayer3WithTwoZeroTrailerBytes) {
    const AudioPacketLayout l2 = AudioPacketLayoutFor(Format(CODING_MPEG_L2, 48000, DEVICEMODE_MONO, 384));
    EXPECT_EQ(l2.header + l2.trailer, 0);
    EXPECT_EQ(l2.payload, 384);

    const AudioFormat f3 = Format(CODING_MPEG_L3, 24000, DEVICEMODE_MONO, 192);
    const AudioPacketLayout l3 = AudioPacketLayoutFor(f3);
    EXPECT_EQ(l3.Total(), 194);
    const std::vector<uint8_t> frame(192, 0x44);
    std::vector<uint8_t> packet(194, 0xEE);
    WriteAudioPacket(l3, f3, frame.data(), packet.data());
    EXPECT_EQ(packet[191], 0x44);
    EXPECT_EQ(packet[192], 0);
    EXPECT_EQ(packet[193], 0);
}

TEST(PacketWriter, FormatsTheProtocolCannotCarryHaveNoPayload) {
    for (const int coding : std::initializer_list<int>{CODING_G711_ALAW, CODING_G711_ULAW, CODING_G722, CODING_APTX, CODING_APTX_ENH, 0})
        EXPECT_EQ(AudioPacketLayoutFor(Format(coding, 48000, DEVICEMODE_MONO, 1024)).payload, 0) << coding;
}

}  // namespace
