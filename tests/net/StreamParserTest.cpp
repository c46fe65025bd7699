// The packet-protocol parser: every result code, the format confirmation
// rule, the MPEG frame sizes, and streams cut at every byte.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "common/ByteOrder.h"
#include "net/StreamParser.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes Pcm(uint16_t n, uint32_t rate = 48000, uint8_t bits = 16, uint8_t channels = 1, uint8_t extra = 0,
          uint8_t fill = 0x5A) {
    Bytes p(12 + n + extra, fill);
    p[0] = 0xFF;
    p[1] = 0x70;
    PutLe16(p.data() + 2, n);
    PutLe32(p.data() + 4, rate);
    p[8] = bits;
    p[9] = channels;
    p[10] = 0;
    p[11] = extra;
    return p;
}

// A Layer II frame of 128 kbit/s at 48000 Hz (384 bytes), stereo unless told.
Bytes Layer2(uint8_t mode = 0, uint8_t fill = 0x33) {
    Bytes f(384, fill);
    f[0] = 0xFF;
    f[1] = 0xFD;  // MPEG-1, Layer II, no CRC
    f[2] = 0x84;  // index 8 (128 kbit/s), 48000 Hz
    f[3] = static_cast<uint8_t>(mode << 6);
    f[383] = 0;  // no extra bytes follow
    return f;
}

// Layer III, 64 kbit/s: MPEG-2 at 24000 Hz (192 bytes) or MPEG-1 at 32000 Hz
// (288 bytes); then the two trailer bytes.
Bytes Layer3(bool mpeg1, uint8_t count = 0) {
    const int len = mpeg1 ? 288 : 192;
    Bytes f(len + 2 + count, 0x44);
    f[0] = 0xFF;
    f[1] = mpeg1 ? 0xFB : 0xF3;
    f[2] = mpeg1 ? 0x58 : 0x84;
    f[3] = 0xC0;  // mono
    f[len] = 0;
    f[len + 1] = count;
    return f;
}

Bytes Peer(uint16_t subtype, uint16_t len, uint8_t fill = 'A') {
    Bytes p(6 + len, fill);
    p[0] = 0xFF;
    p[1] = 0x10;
    PutLe16(p.data() + 2, subtype);
    PutLe16(p.data() + 4, len);
    return p;
}

int One(CStreamParser& p, const Bytes& b) {
    EXPECT_EQ(p.Append(b.data(), static_cast<int>(b.size())), static_cast<int>(b.size()));
    return p.ParseOne();
}

}  // namespace

TEST(StreamParser, EveryResultCode) {
    CStreamParser p;
    EXPECT_EQ(p.ParseOne(), CStreamParser::kNeedMore);  // nothing buffered
    EXPECT_EQ(One(p, {0x00, 0x70}), CStreamParser::kInvalid);
    CStreamParser q;
    EXPECT_EQ(One(q, {0xFF, 0x0F}), CStreamParser::kInvalid);
    CStreamParser r;
    EXPECT_EQ(One(r, {0xFF, 0x20}), CStreamParser::kInvalid);  // unknown kind
    CStreamParser s;
    const Bytes pcm = Pcm(100);
    EXPECT_EQ(One(s, Bytes(pcm.begin(), pcm.begin() + 11)), CStreamParser::kNeedMore);
    EXPECT_EQ(One(s, Bytes(pcm.begin() + 11, pcm.end())), CStreamParser::kConsumed);
    Bytes other = {0xFF, 0x35, 4, 0, 9, 2, 1, 2, 3, 4, 5, 6};
    EXPECT_EQ(One(s, other), CStreamParser::kConsumed);
    EXPECT_EQ(s.GetInputRoom(), CStreamParser::kInputBytes);
    EXPECT_EQ(One(s, Peer(16, 164)), CStreamParser::kOutput);
    EXPECT_TRUE(s.IsPeerBlockReady());
    // Output full: fill the output with confirmed PCM, then one more packet waits.
    CStreamParser t;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(One(t, Pcm(1024)), CStreamParser::kConsumed);
    for (int i = 0; i < 8; ++i) EXPECT_EQ(One(t, Pcm(1024)), CStreamParser::kOutput);
    EXPECT_EQ(t.GetOutputFill(), 8192);
    EXPECT_EQ(One(t, Pcm(1)), CStreamParser::kOutputFull);
    EXPECT_EQ(t.GetInputRoom(), CStreamParser::kInputBytes - 13);  // still waiting in the input
    uint8_t sink[8192];
    EXPECT_EQ(t.Read(sink, 8192), 8192);
    EXPECT_EQ(t.ParseOne(), CStreamParser::kOutput);
}

TEST(StreamParser, InvalidPacketsDropTheWholeInput) {
    const Bytes bad[] = {
        Pcm(0),                       // no payload
        Pcm(1600),                    // beyond 1600 with its header
        Pcm(100, 48000, 8),           // 8 bits
        Pcm(100, 48000, 16, 3),       // three channels
        Pcm(100, 0),                  // rate 0
        Pcm(100, 48001),              // rate too high
        Peer(16, 0),                  // empty peer packet
        Peer(16, 1601),               // oversized peer packet
        {0xFF, 0x30, 0, 0, 0, 0},     // other data of length 0
        {0xFF, 0x90, 0x2B, 0x06, 0, 0x10},  // A + B = 1595
    };
    for (const Bytes& b : bad) {
        CStreamParser p;
        Bytes stream = b;
        stream.resize(stream.size() < 2048 ? stream.size() : 2048);
        p.Append(stream.data(), static_cast<int>(stream.size()));
        EXPECT_EQ(p.Parse(), 0);
        EXPECT_EQ(p.GetInputRoom(), CStreamParser::kInputBytes);
    }
}

TEST(StreamParser, NewPcmFormatConfirmedByTheFifthPacket) {
    CStreamParser p;
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(One(p, Pcm(288, 32000, 16, 2)), CStreamParser::kConsumed) << i;
        EXPECT_FALSE(p.IsFormatReady());
        EXPECT_EQ(p.GetOutputFill(), 0);
    }
    EXPECT_EQ(One(p, Pcm(288, 32000, 16, 2)), CStreamParser::kOutput);
    EXPECT_TRUE(p.IsFormatReady());
    AudioFormat f;
    p.TakeFormat(&f);
    EXPECT_FALSE(p.IsFormatReady());
    EXPECT_EQ(f.codingType, CODING_PCM);
    EXPECT_EQ(f.bitRate, 0);
    EXPECT_EQ(f.sampleRate, 32000);
    EXPECT_EQ(f.deviceMode, DEVICEMODE_STEREO);
    EXPECT_EQ(f.frameBytes, 2304);
    EXPECT_EQ(p.GetOutputFill(), 288);
    // The flag is raised once only.
    EXPECT_EQ(One(p, Pcm(288, 32000, 16, 2)), CStreamParser::kOutput);
    EXPECT_FALSE(p.IsFormatReady());
    // 24-bit packets are consumed without output.
    EXPECT_EQ(One(p, Pcm(288, 32000, 24, 2)), CStreamParser::kConsumed);
    EXPECT_EQ(p.GetOutputFill(), 576);
    // Extra bytes after the payload are skipped.
    EXPECT_EQ(One(p, Pcm(4, 32000, 16, 2, 3, 0x77)), CStreamParser::kOutput);
    EXPECT_EQ(p.GetInputRoom(), CStreamParser::kInputBytes);
    EXPECT_EQ(p.GetOutputFill(), 580);
}

TEST(StreamParser, Layer2FrameWithItsLastTwoBytesZeroed) {
    CStreamParser p;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(One(p, Layer2()), CStreamParser::kConsumed);
    // A change of mode alone keeps the count: the fifth frame gives output.
    EXPECT_EQ(One(p, Layer2(1)), CStreamParser::kOutput);
    EXPECT_TRUE(p.IsFormatReady());
    AudioFormat f;
    p.TakeFormat(&f);
    EXPECT_EQ(f.codingType, CODING_MPEG_L2);
    EXPECT_EQ(f.bitRate, 128000);
    EXPECT_EQ(f.sampleRate, 48000);
    EXPECT_EQ(f.deviceMode, DEVICEMODE_STEREO);
    uint8_t out[384];
    ASSERT_EQ(p.Read(out, 384), 384);
    EXPECT_EQ(out[381], 0x33);
    EXPECT_EQ(out[382], 0);
    EXPECT_EQ(out[383], 0);
    // A frame whose last byte counts extra bytes: they are skipped.
    Bytes withExtra = Layer2();
    withExtra[383] = 5;
    withExtra.insert(withExtra.end(), 5, 0xEE);
    EXPECT_EQ(One(p, withExtra), CStreamParser::kOutput);
    EXPECT_EQ(p.GetInputRoom(), CStreamParser::kInputBytes);
    EXPECT_EQ(p.GetOutputFill(), 384);
}

TEST(StreamParser, Layer3FrameSizesAndTrailer) {
    CStreamParser low;
    for (int i = 0; i < 4; ++i) EXPECT_EQ(One(low, Layer3(false)), CStreamParser::kConsumed);
    EXPECT_EQ(One(low, Layer3(false, 3)), CStreamParser::kOutput);
    EXPECT_EQ(low.GetOutputFill(), 192);
    EXPECT_EQ(low.GetInputRoom(), CStreamParser::kInputBytes);
    AudioFormat f;
    low.TakeFormat(&f);
    EXPECT_EQ(f.codingType, CODING_MPEG_L3);
    EXPECT_EQ(f.sampleRate, 24000);
    EXPECT_EQ(f.bitRate, 64000);
    EXPECT_EQ(f.deviceMode, DEVICEMODE_MONO);

    CStreamParser high;
    const Bytes frame = Layer3(true);
    ASSERT_EQ(frame.size(), 290u);
    EXPECT_EQ(One(high, Bytes(frame.begin(), frame.begin() + 289)), CStreamParser::kNeedMore);
    EXPECT_EQ(One(high, Bytes(frame.begin() + 289, frame.end())), CStreamParser::kConsumed);
    // A different bit rate or rate starts over and drops what was output.
    for (int i = 0; i < 4; ++i) One(high, Layer3(true));
    EXPECT_EQ(high.GetOutputFill(), 288);
    EXPECT_EQ(One(high, Layer3(false)), CStreamParser::kConsumed);
    EXPECT_EQ(high.GetOutputFill(), 0);
}

TEST(StreamParser, PaddedFramesKeepTheirLastByte) {
    // 44.1 kHz Layer II at 128 kbit/s: 417 bytes, 418 with the padding slot,
    // whose last byte is the count. Taken short, the next packet would start
    // on that byte and the whole input would be dropped.
    auto frame = [](bool padded) {
        Bytes f(padded ? 418 : 417, 0x55);
        f[0] = 0xFF;
        f[1] = 0xFD;
        f[2] = static_cast<uint8_t>(0x80 | (padded ? 0x02 : 0x00));  // index 8, 44100 Hz
        f[3] = 0x00;
        f.back() = 0;
        return f;
    };
    CStreamParser p;
    Bytes stream;
    for (int i = 0; i < 8; ++i) {
        const Bytes f = frame(i % 3 != 0);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    size_t fed = 0;
    while (fed < stream.size()) {
        fed += static_cast<size_t>(p.Append(stream.data() + fed, static_cast<int>(stream.size() - fed)));
        while (p.Parse() == 1) {
        }
    }
    EXPECT_EQ(p.GetInputRoom(), CStreamParser::kInputBytes) << "every frame taken whole";
    // Frames 4 to 7 are output: padded, padded, unpadded, padded.
    EXPECT_EQ(p.GetOutputFill(), 418 + 418 + 417 + 418);
}

TEST(StreamParser, MpegHeadersThatCannotBeFramesAreInvalid) {
    const Bytes bad[] = {
        {0xFF, 0xFF, 0x84, 0x00},  // Layer I
        {0xFF, 0xF9, 0x84, 0x00},  // layer bits 00
        {0xFF, 0xFD, 0x8C, 0x00},  // sample-rate index 3
        {0xFF, 0xFD, 0x04, 0x00},  // free format
        {0xFF, 0xFD, 0xF4, 0x00},  // bit-rate index 15
    };
    for (const Bytes& b : bad) {
        CStreamParser p;
        EXPECT_EQ(One(p, b), CStreamParser::kInvalid);
    }
    // A count byte that makes the frame longer than 1600 bytes.
    CStreamParser p;
    Bytes big = Layer2();
    big[383] = 255;
    big.resize(384 + 255);
    EXPECT_EQ(One(p, big), CStreamParser::kConsumed);  // 639 bytes: fine
    CStreamParser q;
    Bytes l2 = {0xFF, 0xF5, 0xE8, 0x00};  // MPEG-2 Layer II, 160 kbit/s at 16000 Hz: 1440 bytes
    l2.resize(1440, 0);
    l2[1439] = 200;  // 1440 + 200 > 1600
    EXPECT_EQ(One(q, l2), CStreamParser::kInvalid);
}

TEST(StreamParser, PeerBlocksShortAndUnterminated) {
    CStreamParser p;
    Bytes full = Peer(16, 164, 'N');
    EXPECT_EQ(One(p, full), CStreamParser::kOutput);
    uint8_t block[164];
    p.TakePeerBlock(block);
    EXPECT_FALSE(p.IsPeerBlockReady());
    const StationIdentity id = StationIdentityFromPeerBlock(block);
    EXPECT_EQ(id.size, 124u);
    EXPECT_EQ(std::strlen(id.stationName), 24u);
    EXPECT_EQ(std::strlen(id.productName), 19u);
    EXPECT_EQ(std::strlen(id.editionName), 24u);
    EXPECT_EQ(std::strlen(id.versionText), 9u);
    EXPECT_EQ(std::strlen(id.buildDate), 15u);
    // A short block is taken as far as it goes.
    EXPECT_EQ(One(p, Peer(16, 3, 'x')), CStreamParser::kOutput);
    p.TakePeerBlock(block);
    EXPECT_EQ(block[2], 'x');
    EXPECT_EQ(block[3], 0);
    EXPECT_EQ(block[163], 0);
    // Other subtypes are removed without a block.
    EXPECT_EQ(One(p, Peer(7, 10)), CStreamParser::kOutput);
    EXPECT_FALSE(p.IsPeerBlockReady());
}

TEST(StreamParser, PeerPacketRoundTrip) {
    StationIdentity id;
    std::strcpy(id.stationName, "Studio A with a name longer than 24");
    std::strcpy(id.productName, "Velmora");
    std::strcpy(id.editionName, "Transvoria");
    std::strcpy(id.versionText, "V1.5b  ");
    std::strcpy(id.buildDate, "20-Jan-2010");
    id.versionNumber = kStationVersionNumber;
    uint8_t packet[kPeerPacketBytes];
    BuildPeerPacket(id, packet);
    EXPECT_EQ(packet[0], 0xFF);
    EXPECT_EQ(packet[1], 0x10);
    EXPECT_EQ(GetLe16(packet + 2), 16);
    EXPECT_EQ(GetLe16(packet + 4), 164);
    EXPECT_EQ(GetLe32(packet + 6 + 96), 66818u);
    const StationIdentity back = StationIdentityFromPeerBlock(packet + 6);
    EXPECT_STREQ(back.stationName, "Studio A with a name lon");
    EXPECT_STREQ(back.versionText, "V1.5b  ");
    EXPECT_STREQ(back.buildDate, "20-Jan-2010");
    EXPECT_EQ(back.versionNumber, 66818u);
}

TEST(StreamParser, ParseStopsAfterConsumedPacketsAndFifteenResults) {
    CStreamParser p;
    const Bytes pcm = Pcm(100);
    p.Append(pcm.data(), static_cast<int>(pcm.size()));
    EXPECT_EQ(p.Parse(), 1);  // consumed without output: call again
    EXPECT_EQ(p.Parse(), 0);  // input empty
    // With a confirmed format, at most fifteen packets per call.
    for (int i = 0; i < 3; ++i) {
        p.Append(pcm.data(), static_cast<int>(pcm.size()));
        EXPECT_EQ(p.Parse(), 1);
    }
    for (int i = 0; i < 16; ++i) p.Append(pcm.data(), static_cast<int>(pcm.size()));
    EXPECT_EQ(p.Parse(), 0);
    EXPECT_EQ(p.GetOutputFill(), 1500);
    EXPECT_EQ(p.Parse(), 0);
    EXPECT_EQ(p.GetOutputFill(), 1600);
}

TEST(StreamParser, StreamCutAtEveryByteGivesTheSameOutput) {
    Bytes stream;
    for (int i = 0; i < 5; ++i) {
        const Bytes f = Layer2(0, static_cast<uint8_t>(0x10 + i));
        stream.insert(stream.end(), f.begin(), f.end());
    }
    const Bytes peer = Peer(16, 164);
    stream.insert(stream.end(), peer.begin(), peer.end());
    for (int i = 0; i < 2; ++i) {
        const Bytes f = Layer2(0, static_cast<uint8_t>(0x20 + i));
        stream.insert(stream.end(), f.begin(), f.end());
    }
    auto run = [&](size_t cut) {
        CStreamParser p;
        Bytes out;
        size_t at = 0;
        const size_t pieces[2] = {cut, stream.size()};
        for (size_t end : pieces) {
            while (at < end) {
                const int room = p.GetInputRoom();
                const size_t n = std::min<size_t>(static_cast<size_t>(room), end - at);
                p.Append(stream.data() + at, static_cast<int>(n));
                at += n;
                while (p.Parse() == 1) {
                }
                uint8_t buf[8192];
                const int got = p.Read(buf, sizeof buf);
                out.insert(out.end(), buf, buf + got);
            }
        }
        return std::make_pair(out, p.IsPeerBlockReady());
    };
    const auto whole = run(stream.size());
    ASSERT_EQ(whole.first.size(), 3u * 384u);
    EXPECT_TRUE(whole.second);
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        const auto split = run(cut);
        ASSERT_EQ(split.first, whole.first) << "cut at " << cut;
        ASSERT_TRUE(split.second) << "cut at " << cut;
    }
}

// How a frame-protocol stream tells a packet-protocol peer: its peer packet,
// whole, cut, or one that could never fit.
TEST(StreamParser, FindPeerPacketInAFrameStream) {
    Bytes s(10, 0x00);
    const Bytes peer = Peer(16, 164);
    s.insert(s.end(), peer.begin(), peer.end());
    const int fill = static_cast<int>(s.size());

    PeerPacketMatch m = CStreamParser::FindPeerPacket(s.data(), fill, fill, 4096);
    EXPECT_EQ(m.status, PeerPacketMatch::Found);
    EXPECT_EQ(m.offset, 10);
    EXPECT_EQ(m.length, 164);

    EXPECT_EQ(CStreamParser::FindPeerPacket(s.data(), fill - 1, fill - 1, 4096).status, PeerPacketMatch::Partial);
    EXPECT_EQ(CStreamParser::FindPeerPacket(s.data(), 13, 13, 4096).status, PeerPacketMatch::Partial);
    // Beyond `end` (where a control frame starts) nothing is looked at.
    EXPECT_EQ(CStreamParser::FindPeerPacket(s.data(), fill, 10, 4096).status, PeerPacketMatch::None);
    // A packet the buffer could never hold is not one.
    EXPECT_EQ(CStreamParser::FindPeerPacket(s.data(), fill, fill, 100).status, PeerPacketMatch::None);
    const Bytes other = Peer(17, 164);
    EXPECT_EQ(CStreamParser::FindPeerPacket(other.data(), static_cast<int>(other.size()), static_cast<int>(other.size()),
                                            4096)
                  .status,
              PeerPacketMatch::None);
    const Bytes huge = Peer(16, 1495);
    EXPECT_EQ(CStreamParser::FindPeerPacket(huge.data(), static_cast<int>(huge.size()), static_cast<int>(huge.size()),
                                            4096)
                  .status,
              PeerPacketMatch::None);
}
