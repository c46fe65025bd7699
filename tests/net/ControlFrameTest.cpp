// Control frames: checksums against vectors made by tests/net/data/control_frame_vectors.py,
// and the stream scan that finds them between audio bytes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "net/ControlFrame.h"

namespace {

std::vector<uint8_t> Hex(const std::string& hex) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) out.push_back(static_cast<uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    return out;
}

std::vector<uint8_t> Build(int type, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> out(16 + payload.size());
    const int n = BuildControlFrame(type, payload.data(), static_cast<int>(payload.size()), out.data(),
                                    static_cast<int>(out.size()));
    EXPECT_EQ(n, static_cast<int>(out.size()));
    return out;
}

struct Vector {
    const char* name;
    int type;
    const char* payload;
    const char* frame;
};
const Vector kVectors[] = {
    {"keepalive", 1, "", "516976000100000000000000a9010000"},
    {"buffering", 40, "140000000a0000002c010000", "51697600280000000c00000029030000140000000a0000002c010000"},
    {"high_bytes", 30, "80ff7f00fe", "516976001e000000050000002102000080ff7f00fe"},
    {"negative_type", -1, "", "51697600ffffffff00000000a4010000"},
};

}  // namespace

TEST(ControlFrame, BuildsTheIndependentVectors) {
    for (const Vector& v : kVectors) {
        SCOPED_TRACE(v.name);
        const std::vector<uint8_t> want = Hex(v.frame);
        EXPECT_EQ(Build(v.type, Hex(v.payload)), want);
        EXPECT_EQ(ControlFrameChecksum(want.data(), want.size()),
                  static_cast<int32_t>(want[12] | want[13] << 8 | want[14] << 16 | want[15] << 24));
        const ControlFrameMatch m = FindControlFrame(want.data(), static_cast<int>(want.size()), 4096);
        EXPECT_EQ(m.status, ControlFrameMatch::Found);
        EXPECT_EQ(m.type, v.type);
        EXPECT_EQ(m.length, static_cast<int>(want.size()) - 16);
    }
}

TEST(ControlFrame, RefusesWhatDoesNotFit) {
    uint8_t out[20];
    const uint8_t payload[8] = {};
    EXPECT_EQ(BuildControlFrame(1, payload, 5, out, 20), 0);
    EXPECT_EQ(BuildControlFrame(1, payload, 4, out, 20), 20);
    EXPECT_EQ(BuildControlFrame(1, payload, -1, out, 20), 0);
    EXPECT_EQ(BuildControlFrame(1, nullptr, 4, out, 20), 0);
}

TEST(ControlFrame, FoundBetweenAudioOnlyWhenComplete) {
    const std::vector<uint8_t> frame = Build(CTRL_BUFFERING, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12});
    std::vector<uint8_t> stream = {0x11, 0x22, 0x33};
    stream.insert(stream.end(), frame.begin(), frame.end());
    stream.push_back(0x44);
    // Cut at every byte: before the last frame byte arrives the frame is
    // partial (or, before its first byte, absent), never found and never lost.
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
        SCOPED_TRACE(cut);
        const ControlFrameMatch m = FindControlFrame(stream.data(), static_cast<int>(cut), 4096);
        if (cut <= 3) {
            EXPECT_EQ(m.status, ControlFrameMatch::None);
        } else if (cut < 3 + frame.size()) {
            EXPECT_EQ(m.status, ControlFrameMatch::Partial);
            EXPECT_EQ(m.offset, 3);
        } else {
            EXPECT_EQ(m.status, ControlFrameMatch::Found);
            EXPECT_EQ(m.offset, 3);
            EXPECT_EQ(m.type, CTRL_BUFFERING);
            EXPECT_EQ(m.length, 12);
        }
    }
}

TEST(ControlFrame, BadChecksumStaysAudioAndScanGoesOn) {
    std::vector<uint8_t> bad = Build(CTRL_KEEPALIVE, {});
    bad[12] ^= 1;
    const std::vector<uint8_t> good = Build(CTRL_PEERINFO, {9, 9});
    std::vector<uint8_t> stream = bad;
    stream.insert(stream.end(), good.begin(), good.end());
    const ControlFrameMatch m = FindControlFrame(stream.data(), static_cast<int>(stream.size()), 4096);
    EXPECT_EQ(m.status, ControlFrameMatch::Found);
    EXPECT_EQ(m.offset, 16);
    EXPECT_EQ(m.type, CTRL_PEERINFO);
    EXPECT_EQ(FindControlFrame(bad.data(), 16, 4096).status, ControlFrameMatch::None);
}

TEST(ControlFrame, PeerLengthsThatCannotBeAFrameAreNotWaitedFor) {
    std::vector<uint8_t> f = Build(CTRL_KEEPALIVE, {});
    f[8] = 0xFF;  // length -1
    f[9] = 0xFF;
    f[10] = 0xFF;
    f[11] = 0xFF;
    EXPECT_EQ(FindControlFrame(f.data(), 16, 4096).status, ControlFrameMatch::None);
    f[8] = 0x00;  // length 0x7FFFFF00: huge
    f[11] = 0x7F;
    EXPECT_EQ(FindControlFrame(f.data(), 16, 4096).status, ControlFrameMatch::None);
    // 100 bytes of payload at offset 0 fit a 116-byte buffer but not a 115-byte one.
    std::vector<uint8_t> g = Build(CTRL_DELAY, std::vector<uint8_t>(100, 7));
    EXPECT_EQ(FindControlFrame(g.data(), 20, 116).status, ControlFrameMatch::Partial);
    EXPECT_EQ(FindControlFrame(g.data(), 20, 115).status, ControlFrameMatch::None);
}

TEST(ControlFrame, MagicAtTheEndIsHeldAsPartial) {
    const uint8_t tail[] = {0x01, 0x02, 'Q', 'i'};
    ControlFrameMatch m = FindControlFrame(tail, 4, 4096);
    EXPECT_EQ(m.status, ControlFrameMatch::Partial);
    EXPECT_EQ(m.offset, 2);
    const uint8_t notMagic[] = {0x01, 'Q', 'x', 0x00};
    EXPECT_EQ(FindControlFrame(notMagic, 4, 4096).status, ControlFrameMatch::None);
    // A buffer too small for any header never waits.
    EXPECT_EQ(FindControlFrame(tail, 4, 10).status, ControlFrameMatch::None);
}

TEST(ControlFrame, PayloadRecordsByteForByte) {
    BufferingValues b;
    b.connectionType = 20;
    b.bufferingMode = 10;
    b.bufferMs = 300;
    uint8_t out[12];
    StoreBufferingValues(b, out);
    EXPECT_EQ(std::vector<uint8_t>(out, out + 12), Hex("140000000a0000002c010000"));
    const BufferingValues back = LoadBufferingValues(out);
    EXPECT_EQ(back.bufferMs, 300);

    DelayFrame d;
    d.exchangeCount = -1;
    d.connectionType = 20;
    d.callerTime = 0x01020304;
    d.answererTime = 5;
    d.maxMs = 6;
    d.minMs = 7;
    d.blockSize = 1152;
    uint8_t dout[32];
    StoreDelayFrame(d, dout);
    EXPECT_EQ(std::vector<uint8_t>(dout, dout + 32),
              Hex("20000000ffffffff140000000403020105000000060000000700000080040000"));
    const DelayFrame dback = LoadDelayFrame(dout);
    EXPECT_EQ(dback.exchangeCount, -1);
    EXPECT_EQ(dback.blockSize, 1152);
}
