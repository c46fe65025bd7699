#include <gtest/gtest.h>

#include "Mp3TestUtil.h"
#include "codecs/mp3dec/Mp3BitRing.h"
#include "codecs/mp3dec/Mp3InputStream.h"

using namespace mp3test;

TEST(Mp3BitRing, CapacityIsTheNextPowerOfTwoUpTo64k) {
    EXPECT_EQ(CMp3BitRing::CapacityFor(0), 1u);
    EXPECT_EQ(CMp3BitRing::CapacityFor(2048), 2048u);
    EXPECT_EQ(CMp3BitRing::CapacityFor(3000), 4096u);
    EXPECT_EQ(CMp3BitRing::CapacityFor(70000), 65536u);
}

TEST(Mp3BitRing, ReadsBitFieldsAcrossWordsAndTheWrap) {
    CMp3BitRing ring;
    ASSERT_TRUE(ring.Create(8));
    const uint8_t fill[6] = {0, 0, 0, 0, 0, 0};
    EXPECT_EQ(ring.Write(fill, 6), 6u);
    ring.Skip(48);
    // Eight bytes written starting at byte 6: they wrap to bytes 0..5.
    const uint8_t data[8] = {0xA5, 0x3C, 0xF0, 0x0F, 0x81, 0x7E, 0x11, 0x22};
    EXPECT_EQ(ring.Write(data, 8), 8u);
    EXPECT_EQ(ring.FreeBytes(), 0u);
    EXPECT_EQ(ring.Write(data, 8), 0u);  // full: nothing taken
    EXPECT_EQ(ring.Read(4), 0xAu);
    EXPECT_EQ(ring.Read(16), 0x53CFu);  // crosses a 16-bit word and the end of the storage
    EXPECT_EQ(ring.Read(12), 0x00Fu);
    EXPECT_EQ(ring.Read32(), 0x817E1122u);
    ring.Unread(32);
    EXPECT_EQ(ring.Fill(), 32);
    EXPECT_EQ(ring.Read(16), 0x817Eu);
    EXPECT_EQ(ring.Mark(), 48 + 4 + 16 + 12 + 32 - 32 + 16);
}

TEST(Mp3BitRing, CopiesBytesFromAnUnalignedPosition) {
    CMp3BitRing a;
    CMp3BitRing b;
    ASSERT_TRUE(a.Create(16));
    ASSERT_TRUE(b.Create(16));
    const uint8_t data[4] = {0x12, 0x34, 0x56, 0x78};
    a.Write(data, 4);
    a.Read(4);
    EXPECT_EQ(b.CopyFrom(a, 10), 3u);  // only whole bytes the source still holds
    EXPECT_EQ(b.Read(16), 0x2345u);
    EXPECT_EQ(b.Read(8), 0x67u);
    EXPECT_EQ(a.Fill(), 4);
}

namespace {
struct Stream {
    CMp3InputStream in;
    Stream() {
        EXPECT_TRUE(in.Create(8192));
        in.Reset();
    }
    void Feed(const std::vector<uint8_t>& bytes) { in.Ring().Write(bytes.data(), static_cast<uint32_t>(bytes.size())); }
    // Consumes the frame at the read position as the frame decoder would.
    void SkipFrame() { in.Ring().Skip(in.Header().frameLengthBits); }
};
}  // namespace

TEST(Mp3InputStream, ParsesTheHeaderFields) {
    Mp3Header h;
    ASSERT_TRUE(h.Parse(HeaderWord(FrameSpec{})));
    EXPECT_EQ(h.frameLengthBits, 3336);  // 128 kbit/s at 44100 Hz: 417 bytes
    EXPECT_EQ(h.sampleRate, 44100);
    EXPECT_EQ(h.bitRate, 128000);
    EXPECT_EQ(h.version, 0);
    EXPECT_EQ(h.channels, 2);
    EXPECT_FLOAT_EQ(h.durationMs, 1000.0f / 44100.0f * 1152.0f);
    FrameSpec m25{2, 2, 8, 0, 3};
    ASSERT_TRUE(h.Parse(HeaderWord(m25)));
    EXPECT_EQ(h.version, 2);
    EXPECT_EQ(h.sampleRate, 8000);
    EXPECT_EQ(h.bitRate, 64000);
    EXPECT_EQ(h.channels, 1);
    EXPECT_EQ(h.frameLengthBits, 8 * 576);
    FrameSpec freeFormat;
    freeFormat.bitRateIndex = 0;
    EXPECT_FALSE(h.Parse(HeaderWord(freeFormat)));
    EXPECT_EQ(h.valid, 0);
    EXPECT_FALSE(h.Parse(HeaderWord(FrameSpec{}) | 0xF000u));   // index 15
    EXPECT_FALSE(h.Parse(HeaderWord(FrameSpec{}) | 0x0C00u));   // sampling index 3
    EXPECT_FALSE(h.Parse((HeaderWord(FrameSpec{}) & ~0x00100000u)));  // bit 20 = 0, bit 19 = 1
}

TEST(Mp3InputStream, LocksOnlyWhenTheNextHeaderIsThere) {
    Stream s;
    const auto frame = BuildFrame(FrameSpec{});
    s.Feed(frame);
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_W_SEARCHED);
    EXPECT_EQ(s.in.Ring().Fill(), static_cast<int32_t>(frame.size() * 8));  // nothing consumed
    s.Feed(std::vector<uint8_t>(frame.begin(), frame.begin() + 4));
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_OK);
    EXPECT_EQ(s.in.SkippedBits(), 0);
    EXPECT_EQ(s.in.Ring().ReadPos(), 0u);
}

TEST(Mp3InputStream, SkipsGarbageBitByBit) {
    Stream s;
    // Three bytes and three bits of garbage in front of the stream.
    CBitWriter w;
    w.Put(0x123456, 24);
    w.Put(5, 3);
    for (uint8_t b : Repeat(BuildFrame(FrameSpec{}), 3)) w.Put(b, 8);
    s.Feed(w.Bytes());
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_OK);
    EXPECT_EQ(s.in.SkippedBits(), 27);
}

TEST(Mp3InputStream, DoesNotLockAcrossARateChange) {
    Stream s;
    FrameSpec other;
    other.sampleRateIndex = 1;
    auto bytes = BuildFrame(FrameSpec{});
    const auto second = BuildFrame(other);
    bytes.insert(bytes.end(), second.begin(), second.end());
    s.Feed(bytes);
    // The first candidate fails; the search slides on and locks nowhere before the second frame.
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_W_SEARCHED);
    EXPECT_GT(s.in.SkippedBits(), 0);
}

TEST(Mp3InputStream, StaysLockedThroughBitRateAndChannelChanges) {
    Stream s;
    std::vector<uint8_t> bytes;
    for (int i = 0; i < 14; ++i) {
        FrameSpec f;
        f.bitRateIndex = 5 + i % 6;
        f.mode = (i % 3 == 0) ? 3 : 1;
        f.crc = i % 2 == 0;
        const auto fr = BuildFrame(f);
        bytes.insert(bytes.end(), fr.begin(), fr.end());
    }
    s.Feed(bytes);
    for (int i = 0; i < 13; ++i) {
        ASSERT_EQ(s.in.Synchronise(), MP3STATUS_OK) << i;
        EXPECT_EQ(s.in.Header().channels, (i % 3 == 0) ? 1 : 2);
        s.SkipFrame();
    }
}

TEST(Mp3InputStream, NeverLocksOnFreeFormatOrLayerTwo) {
    FrameSpec freeFormat;
    freeFormat.bitRateIndex = 0;
    FrameSpec layer2;
    layer2.layerBits = 2;
    for (const FrameSpec& f : {freeFormat, layer2}) {
        Stream s;
        // Free format has no computed length: build 10 frames of 417 bytes.
        std::vector<uint8_t> frame(417, 0);
        const uint32_t w = HeaderWord(f);
        for (int i = 0; i < 4; ++i) frame[static_cast<size_t>(i)] = static_cast<uint8_t>(w >> (24 - 8 * i));
        s.Feed(Repeat(frame, 10));
        EXPECT_EQ(s.in.Synchronise(), MP3STATUS_W_SEARCHED);
    }
}

TEST(Mp3InputStream, WaitsForAnIncompleteFrameAndDecodesItLater) {
    Stream s;
    const auto frame = BuildFrame(FrameSpec{});
    const auto three = Repeat(frame, 3);
    s.Feed(std::vector<uint8_t>(three.begin(), three.begin() + static_cast<long>(2 * frame.size() - 10)));
    ASSERT_EQ(s.in.Synchronise(), MP3STATUS_OK);
    s.SkipFrame();
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_W_NEEDDATA);
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_W_NEEDDATA);
    s.Feed(std::vector<uint8_t>(three.begin() + static_cast<long>(2 * frame.size() - 10), three.end()));
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_OK);
}

TEST(Mp3InputStream, EndOfInputWithAPartialFrameIsStickyEof) {
    Stream s;
    const auto frame = BuildFrame(FrameSpec{});
    const auto two = Repeat(frame, 2);
    s.Feed(std::vector<uint8_t>(two.begin(), two.end() - 100));
    s.in.Ring().SetEndOfInput(true);
    ASSERT_EQ(s.in.Synchronise(), MP3STATUS_OK);
    s.SkipFrame();
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_W_EOF);
    s.Feed(frame);
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_W_EOF);
    s.in.Reset();
    s.Feed(Repeat(frame, 2));
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_OK);
}

TEST(Mp3InputStream, ForeignHeaderAfterLockIsLostSync) {
    Stream s;
    FrameSpec other;
    other.sampleRateIndex = 1;
    auto bytes = Repeat(BuildFrame(FrameSpec{}), 2);
    const auto tail = Repeat(BuildFrame(other), 2);
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    s.Feed(bytes);
    ASSERT_EQ(s.in.Synchronise(), MP3STATUS_OK);
    s.SkipFrame();
    // The successor of the second frame has another sampling frequency.
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_W_LOST);
    // The search slides past the 44100 Hz frame and locks on the 48000 Hz pair.
    EXPECT_EQ(s.in.Synchronise(), MP3STATUS_OK);
    EXPECT_EQ(s.in.Header().sampleRate, 48000);
}
