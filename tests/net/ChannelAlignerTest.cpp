// The channel aligner on streams made the way a sending station frames
// them: 64 kbit/s Layer II and Layer III at every bit offset, the
// two-channel Layer II split with its counters, and Layer III alternating
// over two channels behind its markers.
#include "net/ChannelAligner.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "common/Codes.h"
#include "common/MpegHeader.h"
#include "net/BChannelFraming.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A frame with a valid header and seeded random contents.
Bytes Frame(const uint8_t header[4], int length, std::mt19937& rng) {
    Bytes f(static_cast<size_t>(length));
    for (auto& b : f) b = static_cast<uint8_t>(rng());
    std::memcpy(f.data(), header, 4);
    return f;
}

// The bytes as the receiver sees them after its bit reversal, delayed by
// `shift` bits on the line (the line's idle ones fill in front).
Bytes Shifted(const Bytes& in, int shift) {
    Bytes out(in.size() + 1);
    unsigned carry = 0xFF;
    for (size_t i = 0; i < in.size(); ++i) {
        out[i] = static_cast<uint8_t>(((carry << 8) | in[i]) >> shift);
        carry = in[i];
    }
    out[in.size()] = static_cast<uint8_t>(((carry << 8) | 0xFF) >> shift);
    return out;
}

// Feeds the channels in poll-sized pieces, running the aligner after each,
// and collects its output.
Bytes Feed(CChannelAligner& a, const std::vector<Bytes>& channels, int piece = 160) {
    Bytes out;
    size_t at = 0;
    bool more = true;
    while (more) {
        more = false;
        for (size_t c = 0; c < channels.size(); ++c) {
            if (at >= channels[c].size()) continue;
            const int n = static_cast<int>(std::min<size_t>(piece, channels[c].size() - at));
            a.Write(static_cast<int>(c), channels[c].data() + at, n);
            more = true;
        }
        at += piece;
        for (int r = 0; r < 4; ++r) {
            a.Run();
            uint8_t buf[2048];
            const int n = a.Read(buf, sizeof buf);
            out.insert(out.end(), buf, buf + n);
        }
    }
    return out;
}

// Where the frames start in the output: the index of the first frame found.
int FirstFrameIndex(const Bytes& out, const std::vector<Bytes>& frames, size_t n) {
    for (size_t i = 0; i < frames.size(); ++i) {
        if (out.size() >= n && std::equal(frames[i].begin(), frames[i].begin() + static_cast<long>(n), out.begin()))
            return static_cast<int>(i);
    }
    return -1;
}

// The output from its first frame on is the sent frames in order.
void ExpectFramesInOrder(const Bytes& out, const std::vector<Bytes>& frames, int compare = -1) {
    const int first = FirstFrameIndex(out, frames, compare < 0 ? frames[0].size() : static_cast<size_t>(compare));
    ASSERT_GE(first, 0) << "no frame recovered from " << out.size() << " bytes";
    size_t at = 0;
    for (size_t i = static_cast<size_t>(first); i < frames.size() && at + frames[i].size() <= out.size(); ++i) {
        const size_t n = compare < 0 ? frames[i].size() : static_cast<size_t>(compare);
        ASSERT_TRUE(std::equal(frames[i].begin(), frames[i].begin() + static_cast<long>(n), out.begin() + static_cast<long>(at)))
            << "frame " << i;
        at += frames[i].size();
    }
    EXPECT_GE(at, frames[0].size() * 8);
}

constexpr uint8_t kL2Mono48k64[4] = {0xFF, 0xFD, 0x44, 0xC0};  // MPEG-1 Layer II 64 kbit/s 48 kHz mono
constexpr uint8_t kL3Mono48k64[4] = {0xFF, 0xFB, 0x54, 0xC0};  // MPEG-1 Layer III 64 kbit/s 48 kHz mono

}  // namespace

TEST(ChannelAlignerTest, OneChannelLocksAtEveryShiftAndPolarity) {
    for (int layer : {2, 3}) {
        for (int shift = 0; shift < 8; ++shift) {
            std::mt19937 rng(static_cast<unsigned>(layer * 8 + shift));
            std::vector<Bytes> frames;
            Bytes line;
            for (int i = 0; i < 24; ++i) {
                frames.push_back(Frame(layer == 2 ? kL2Mono48k64 : kL3Mono48k64, 192, rng));
                for (uint8_t b : frames.back()) line.push_back(layer == 3 ? static_cast<uint8_t>(~b) : b);
            }
            CChannelAligner a;
            ASSERT_EQ(a.Init(2, 192), 1);
            SCOPED_TRACE(testing::Message() << "layer " << layer << " shift " << shift);
            const Bytes out = Feed(a, {Shifted(line, shift)});
            ExpectFramesInOrder(out, frames);
            AudioFormat f;
            ASSERT_TRUE(a.IsFormatChanged());
            a.GetFormat(&f);
            EXPECT_EQ(f.codingType, layer == 2 ? CODING_MPEG_L2 : CODING_MPEG_L3);
            EXPECT_EQ(f.bitRate, 64000);
            EXPECT_EQ(f.sampleRate, 48000);
            EXPECT_EQ(f.deviceMode, DEVICEMODE_MONO);
            EXPECT_EQ(f.frameBytes, 192);
        }
    }
}

TEST(ChannelAlignerTest, RefusesHeadersNoFramingCarries) {
    // Layer II at bit-rate index 9 (160 kbit/s), Layer III in normal
    // polarity, and a 44.1 kHz header never lock.
    const uint8_t headers[][4] = {{0xFF, 0xFD, 0x94, 0xC0}, {0xFF, 0xFB, 0x54, 0xC0}, {0xFF, 0xFD, 0x40, 0xC0}};
    for (const auto& h : headers) {
        std::mt19937 rng(7);
        Bytes line;
        for (int i = 0; i < 24; ++i) {
            const Bytes f = Frame(h, 192, rng);
            line.insert(line.end(), f.begin(), f.end());
        }
        CChannelAligner a;
        ASSERT_EQ(a.Init(2, 192), 1);
        EXPECT_TRUE(Feed(a, {line}).empty());
        EXPECT_FALSE(a.IsLocked());
    }
}

namespace {
// The two-channel Layer II split as the receiver sees it: per channel the
// halves of every frame, reversed back, with the counters from `counter0`.
std::vector<Bytes> Split(const std::vector<Bytes>& frames, int counter0) {
    std::vector<Bytes> ch(2);
    int counter = counter0;
    for (const Bytes& f : frames) {
        counter = (counter + 1) & 0x1F;
        const int half = static_cast<int>(f.size()) / 2;
        Bytes a(static_cast<size_t>(half)), b(static_cast<size_t>(half));
        CBChannelFraming::SplitLayer2(f.data(), static_cast<int>(f.size()), counter, a.data(), b.data());
        for (uint8_t x : a) ch[0].push_back(CBChannelFraming::Reverse(x));
        for (uint8_t x : b) ch[1].push_back(CBChannelFraming::Reverse(x));
    }
    return ch;
}

constexpr uint8_t kL2Stereo48k128[4] = {0xFF, 0xFD, 0x84, 0x00};  // MPEG-1 Layer II 128 kbit/s 48 kHz stereo
}  // namespace

TEST(ChannelAlignerTest, TwoChannelLayer2ReassemblesAcrossShiftsAndDelay) {
    for (int shift : {0, 3, 7}) {
        for (int delayBytes : {0, 200, 2400}) {
            std::mt19937 rng(static_cast<unsigned>(shift * 100 + delayBytes));
            std::vector<Bytes> frames;
            for (int i = 0; i < 80; ++i) frames.push_back(Frame(kL2Stereo48k128, 384, rng));
            std::vector<Bytes> ch = Split(frames, 0);
            ch[1].insert(ch[1].begin(), static_cast<size_t>(delayBytes), 0xFF);
            ch[0] = Shifted(ch[0], shift);
            CChannelAligner a;
            ASSERT_EQ(a.Init(2, 384), 1);
            SCOPED_TRACE(testing::Message() << "shift " << shift << " delay " << delayBytes);
            // The last two bytes of each frame are not carried.
            ExpectFramesInOrder(Feed(a, ch), frames, 382);
            AudioFormat f;
            a.GetFormat(&f);
            EXPECT_EQ(f.codingType, CODING_MPEG_L2);
            EXPECT_EQ(f.bitRate, 128000);
            EXPECT_EQ(f.frameBytes, 384);
            EXPECT_EQ(f.deviceMode, DEVICEMODE_STEREO);
        }
    }
}

TEST(ChannelAlignerTest, CounterJumpOf16Resynchronises) {
    std::mt19937 rng(16);
    std::vector<Bytes> frames;
    for (int i = 0; i < 30; ++i) frames.push_back(Frame(kL2Stereo48k128, 384, rng));
    CChannelAligner a;
    ASSERT_EQ(a.Init(2, 384), 1);
    ASSERT_FALSE(Feed(a, Split(frames, 0)).empty());
    ASSERT_TRUE(a.IsLocked());
    // Then the second channel's counters jump by 16: the pair no longer
    // belongs together, and both channels search again.
    std::vector<Bytes> more = Split(frames, 30);
    more[1] = Split(frames, 30 + 16)[1];
    bool unlocked = false;
    for (size_t at = 0; at < more[0].size() && !unlocked; at += 32) {
        a.Write(0, more[0].data() + at, 32);
        a.Write(1, more[1].data() + at, 32);
        a.Run();
        unlocked = !a.IsLocked();
    }
    EXPECT_TRUE(unlocked);
    EXPECT_TRUE(a.IsFormatChanged());
}

TEST(ChannelAlignerTest, KeepsTheNewest20480BytesOfAChannel) {
    CChannelAligner a;
    ASSERT_EQ(a.Init(2, 192), 1);
    Bytes bytes(30000);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
    ASSERT_EQ(a.Write(0, bytes.data(), 15000), 1);
    ASSERT_EQ(a.Write(0, bytes.data() + 15000, 15000), 1);
    EXPECT_EQ(a.ChannelFill(0), CChannelAligner::kChannelBytes);
    EXPECT_EQ(a.Write(2, bytes.data(), 10), 0);
    EXPECT_EQ(a.Write(0, bytes.data(), 0), 0);
    EXPECT_EQ(a.Write(-1, bytes.data(), 1), 0);
}

// The line runs in real time, one half frame per channel every 24 ms; the
// receiver polls as a station does (at most 2400 bytes a channel, one frame
// handed on a poll) but may stall. The second channel goes idle for 300 ms
// and then brings its frames that much later, the receiver stalls right
// then, and later the first channel slips by 3 bits: the aligner pairs the
// halves again by their counters each time, and every frame it hands on but
// the one the slip broke on the line is a sent frame, in order.
TEST(ChannelAlignerTest, TwoChannelLayer2RecoversFromADelayJumpWhileTheReceiverStalls) {
    for (int stall : {0, 4, 8, 12}) {
        std::mt19937 rng(static_cast<unsigned>(stall));
        std::vector<Bytes> frames;
        for (int i = 0; i < 300; ++i) frames.push_back(Frame(kL2Stereo48k128, 384, rng));
        std::vector<Bytes> ch = Split(frames, 0);
        ch[1].insert(ch[1].begin() + 60 * 192, 2400, 0xFF);
        // Later the first channel slips by 3 bits.
        const Bytes slipped = Shifted(Bytes(ch[0].begin() + 150 * 192 + 77, ch[0].end()), 3);
        ch[0].resize(150 * 192 + 77);
        ch[0].insert(ch[0].end(), slipped.begin(), slipped.end());
        CChannelAligner a;
        ASSERT_EQ(a.Init(2, 384), 1);
        SCOPED_TRACE(testing::Message() << "stall " << stall << " half frames");
        Bytes out;
        size_t sent[2] = {0, 0};
        const int ticks = static_cast<int>(ch[0].size() / 192);
        for (int t = 1; t <= ticks; ++t) {
            // Stalled from the idle line's end on.
            if (t > 72 && t <= 72 + stall) continue;
            // Two polls a half frame when running, as a station keeps up.
            for (int poll = 0; poll < 2; ++poll) {
                for (int c = 0; c < 2; ++c) {
                    const size_t due = std::min(ch[c].size(), static_cast<size_t>(t) * 192);
                    const size_t n = std::min<size_t>(due - sent[c], 2400);
                    if (n > 0) a.Write(c, ch[c].data() + sent[c], static_cast<int>(n));
                    sent[c] += n;
                }
                for (int pass = 0; pass < 16; ++pass) {
                    if (a.Available() == 0) a.Run();
                    if (a.Available() < 384) continue;
                    uint8_t frame[384];
                    a.Read(frame, 384);
                    out.insert(out.end(), frame, frame + 384);
                    break;
                }
            }
        }
        size_t next = 0;
        int got = 0, lost = 0, broken = 0;
        for (size_t k = 0; k + 384 <= out.size(); k += 384) {
            size_t i = next;
            while (i < frames.size() && !std::equal(frames[i].begin(), frames[i].begin() + 382, out.begin() + static_cast<long>(k))) ++i;
            // The frame on the line when it slipped is broken on the line itself.
            if (i == frames.size() && ++broken <= 1) continue;
            ASSERT_LT(i, frames.size()) << "output frame " << k / 384 << " is no sent frame";
            if (got > 0) lost += static_cast<int>(i - next);
            next = i + 1;
            ++got;
        }
        std::printf("stall %d: frames %d lost %d\n", stall, got, lost);
        // Both faults together: the delay, two searches, two lock-ins.
        EXPECT_LE(lost, 45);
        EXPECT_GE(got, 230);
    }
}

// A held-up sender leaves idle fill (0xFF on the line, whatever the
// polarity) between two frames: a locked aligner skips it at any bit offset
// and goes on with the next frame, losing none and reporting no change;
// fill longer than the bound makes it start over.
TEST(ChannelAlignerTest, OneChannelRidesOutIdleFillUpToTheBound) {
    for (int layer : {2, 3}) {
        for (int shift : {0, 3, 7}) {
            for (int fill : {1, 2, 191, 3000, CChannelAligner::kMaxIdleBytes + 400}) {
                std::mt19937 rng(static_cast<unsigned>(layer * 8 + shift + fill));
                std::vector<Bytes> frames;
                Bytes first, second;
                for (int i = 0; i < 60; ++i) {
                    frames.push_back(Frame(layer == 2 ? kL2Mono48k64 : kL3Mono48k64, 192, rng));
                    for (uint8_t b : frames.back()) (i < 30 ? first : second).push_back(layer == 3 ? static_cast<uint8_t>(~b) : b);
                }
                Bytes line = first;
                line.insert(line.end(), static_cast<size_t>(fill), 0xFF);
                line.insert(line.end(), second.begin(), second.end());
                const Bytes shifted = Shifted(line, shift);
                SCOPED_TRACE(testing::Message() << "layer " << layer << " shift " << shift << " fill " << fill);
                CChannelAligner a;
                ASSERT_EQ(a.Init(2, 192), 1);
                const size_t cut = first.size() - 100;
                Bytes out = Feed(a, {Bytes(shifted.begin(), shifted.begin() + static_cast<long>(cut))});
                ASSERT_TRUE(a.IsLocked());
                AudioFormat f;
                a.GetFormat(&f);
                const Bytes rest = Feed(a, {Bytes(shifted.begin() + static_cast<long>(cut), shifted.end())});
                if (fill > CChannelAligner::kMaxIdleBytes) {
                    EXPECT_TRUE(a.IsFormatChanged()) << "fill past the bound is a stream gone";
                    continue;
                }
                EXPECT_FALSE(a.IsFormatChanged());
                EXPECT_EQ(a.IdleBytesSkipped(), fill);
                out.insert(out.end(), rest.begin(), rest.end());
                ExpectFramesInOrder(out, frames);
                EXPECT_EQ(out.size() % 192, 0u);
                EXPECT_GE(out.size(), 192u * 40);
            }
        }
    }
}

// The two-channel Layer II split with idle fill on both channels, of other
// lengths at other places, one channel shifted: every frame comes through
// in order and the format stays.
TEST(ChannelAlignerTest, TwoChannelLayer2RidesOutIdleFillOnEachChannel) {
    std::mt19937 rng(720);
    std::vector<Bytes> frames;
    for (int i = 0; i < 80; ++i) frames.push_back(Frame(kL2Stereo48k128, 384, rng));
    std::vector<Bytes> ch = Split(frames, 0);
    ch[0].insert(ch[0].begin() + 20 * 192, 1500, 0xFF);
    ch[1].insert(ch[1].begin() + 26 * 192, 700, 0xFF);
    ch[1].insert(ch[1].begin() + 40 * 192 + 700, 2, 0xFF);
    ch[0] = Shifted(ch[0], 3);
    CChannelAligner a;
    ASSERT_EQ(a.Init(2, 384), 1);
    const size_t cut = 15 * 192;
    Bytes out = Feed(a, {Bytes(ch[0].begin(), ch[0].begin() + static_cast<long>(cut)),
                         Bytes(ch[1].begin(), ch[1].begin() + static_cast<long>(cut))});
    ASSERT_TRUE(a.IsLocked());
    AudioFormat f;
    a.GetFormat(&f);
    const Bytes rest = Feed(a, {Bytes(ch[0].begin() + static_cast<long>(cut), ch[0].end()),
                                Bytes(ch[1].begin() + static_cast<long>(cut), ch[1].end())});
    EXPECT_FALSE(a.IsFormatChanged());
    EXPECT_EQ(a.IdleBytesSkipped(), 1500 + 700 + 2);
    out.insert(out.end(), rest.begin(), rest.end());
    ExpectFramesInOrder(out, frames, 382);
    EXPECT_GE(out.size(), 384u * 64);
}

namespace {
constexpr uint8_t kL3Stereo24k128[4] = {0xFF, 0xF3, 0xC4, 0x00};  // MPEG-2 Layer III 128 kbit/s 24 kHz stereo

// Layer III at 24 kHz over two channels as a sending station frames it:
// blocks of two 384-byte frames with their markers, block i on channel
// i % 2, inverted.
struct Layer3Split {
    std::vector<Bytes> blocks;
    Bytes channel[2];
};

Layer3Split SplitLayer3(int count, unsigned seed) {
    std::mt19937 rng(seed);
    Layer3Split s;
    for (int i = 0; i < count; ++i) {
        Bytes block = Frame(kL3Stereo24k128, 384, rng);
        const Bytes second = Frame(kL3Stereo24k128, 384, rng);
        block.insert(block.end(), second.begin(), second.end());
        for (int at : {5, 384 + 5}) block[static_cast<size_t>(at)] &= 0x3F;  // the codec's private bits
        CBChannelFraming::MarkLayer3(block.data(), 768, i % 32);
        s.blocks.push_back(block);
        for (uint8_t b : block) s.channel[i % 2].push_back(static_cast<uint8_t>(~b));
    }
    return s;
}

// Feeds both channels and expects every block from the first recovered one
// on in order, up to the last few (a block goes out once the next one's
// header has come).
void ExpectWholeLayer3Stream(const Layer3Split& s, const Bytes& ch0, const Bytes& ch1, long idle) {
    CChannelAligner a;
    ASSERT_EQ(a.Init(2, 192), 1);
    const Bytes out = Feed(a, {ch0, ch1}, 192);
    EXPECT_TRUE(a.IsLocked());
    EXPECT_EQ(a.IdleBytesSkipped(), idle);
    ExpectFramesInOrder(out, s.blocks);
    const int first = FirstFrameIndex(out, s.blocks, 768);
    EXPECT_GE(out.size(), 768u * static_cast<size_t>(static_cast<int>(s.blocks.size()) - 3 - first));
}
}  // namespace

// A sender held up between the B3 blocks of one Layer III block leaves the
// fill inside it, as the exchange's capture showed (192 bytes three B3
// blocks into a 768-byte block, 384 between its two frames): the fill is
// cut out at any bit offset, the lock holds and no block is lost.
TEST(ChannelAlignerTest, Layer3At128kCutsIdleFillOutOfABlock) {
    for (int shift : {0, 3}) {
        SCOPED_TRACE(testing::Message() << "shift " << shift);
        const Layer3Split s = SplitLayer3(96, 24 + static_cast<unsigned>(shift));
        Bytes ch0 = s.channel[0], ch1 = s.channel[1];
        ch0.insert(ch0.begin() + 30 * 768 + 576, 192, 0xFF);
        ch1.insert(ch1.begin() + 36 * 768 + 384, 384, 0xFF);
        ch1.insert(ch1.begin() + 40 * 768 + 384 + 192, 960, 0xFF);
        ExpectWholeLayer3Stream(s, Shifted(ch0, shift), ch1, 192 + 384 + 960);
    }
}

// A channel whose first bytes are a block's second frame locks on it: in
// stereo that frame carries no marker bits, which must not read as counter
// 0 and pair with the other channel's counter 1. The channel moves on to
// the block's start and the output is the blocks in order.
TEST(ChannelAlignerTest, Layer3At128kFindsTheBlockStartOfAChannelLockedInside) {
    const Layer3Split s = SplitLayer3(96, 25);
    const Bytes ch0(s.channel[0].begin() + 384, s.channel[0].end());
    ExpectWholeLayer3Stream(s, ch0, s.channel[1], 0);
}

namespace {
// A sender held up between the B3 blocks of one frame: the exchange's idle
// fill (0xFF) of `bytes` at `at` on the line, placed by the offsets the line
// had without it (in order).
struct Fill {
    size_t at;
    int bytes;
};

Bytes WithFill(Bytes line, const std::vector<Fill>& fills) {
    for (auto f = fills.rbegin(); f != fills.rend(); ++f)
        line.insert(line.begin() + static_cast<long>(f->at), static_cast<size_t>(f->bytes), 0xFF);
    return line;
}

long FillBytes(const std::vector<Fill>& fills) {
    long n = 0;
    for (const Fill& f : fills) n += f.bytes;
    return n;
}

// Feeds the channels in two goes, the fill in the second, and expects the
// lock to hold through it: no format change, every fill byte cut out, and
// from the first recovered frame on the frames in order (`compare` bytes of
// each), up to the last two (a frame goes out once the next one's header
// has come).
void ExpectLockHoldsThroughFill(const std::vector<Bytes>& channels, const std::vector<Bytes>& frames, int block,
                                size_t cut, long idle, int compare) {
    CChannelAligner a;
    ASSERT_EQ(a.Init(2, block), 1);
    std::vector<Bytes> head, tail;
    for (const Bytes& c : channels) {
        head.emplace_back(c.begin(), c.begin() + static_cast<long>(cut));
        tail.emplace_back(c.begin() + static_cast<long>(cut), c.end());
    }
    Bytes out = Feed(a, head);
    ASSERT_TRUE(a.IsLocked());
    AudioFormat f;
    a.GetFormat(&f);
    const Bytes rest = Feed(a, tail);
    EXPECT_FALSE(a.IsFormatChanged()) << "the far end started over";
    EXPECT_EQ(a.IdleBytesSkipped(), idle);
    out.insert(out.end(), rest.begin(), rest.end());
    ExpectFramesInOrder(out, frames, compare);
    const int first = FirstFrameIndex(out, frames, static_cast<size_t>(compare));
    const size_t length = frames[0].size();
    EXPECT_GE(out.size(), length * static_cast<size_t>(static_cast<int>(frames.size()) - 2 - first));
}

struct Layer2Rate {
    int rate;
    uint8_t header[4];
};

const Layer2Rate kLayer2Rates[] = {{48000, {0xFF, 0xFD, 0x84, 0x00}},   // MPEG-1 stereo, 384 bytes
                                   {32000, {0xFF, 0xFD, 0x88, 0x00}},   // MPEG-1 stereo, 576 bytes
                                   {24000, {0xFF, 0xF5, 0xC4, 0x00}},   // MPEG-2 stereo, 768 bytes
                                   {16000, {0xFF, 0xF5, 0xC8, 0x00}}};  // MPEG-2 stereo, 1152 bytes
}  // namespace

// A 64 kbit/s Layer II stream after the line's idle ones, its frames ending
// in a station's counting markers, coming in B3 blocks: read a bit early,
// its headers and markers look much like the split's, and it must still
// lock at 64 kbit/s.
TEST(ChannelAlignerTest, MarkedOneChannelLayer2IsNotTakenForTheSplit) {
    std::mt19937 rng(10);
    std::vector<Bytes> frames;
    Bytes line(2000, 0xFF);
    for (int i = 0; i < 60; ++i) {
        frames.push_back(Frame(kL2Mono48k64, 192, rng));
        frames.back()[191] = static_cast<uint8_t>((i & 0x1F) + 0x60);
        line.insert(line.end(), frames.back().begin(), frames.back().end());
    }
    CChannelAligner a;
    ASSERT_EQ(a.Init(2, 192), 1);
    ExpectFramesInOrder(Feed(a, {line}, 169), frames);
    AudioFormat f;
    a.GetFormat(&f);
    EXPECT_EQ(f.bitRate, 64000);
}

// The split at every rate, the channels coming in B3 blocks and the
// receiver running the aligner several times a block: two half frames at
// 24 and 16 kHz are more than a search pass leaves, and it still locks.
TEST(ChannelAlignerTest, TwoChannelLayer2LocksAtEveryRateFromBlocksOfTheLine) {
    for (const Layer2Rate& r : kLayer2Rates) {
        SCOPED_TRACE(testing::Message() << r.rate << " Hz");
        std::mt19937 rng(static_cast<unsigned>(r.rate));
        const int length = MpegBytesPer1152Samples(128000, r.rate);
        std::vector<Bytes> frames;
        for (int i = 0; i < 40; ++i) frames.push_back(Frame(r.header, length, rng));
        CChannelAligner a;
        ASSERT_EQ(a.Init(2, 192), 1);
        ExpectFramesInOrder(Feed(a, Split(frames, 0), 192), frames, length - 2);
        AudioFormat f;
        a.GetFormat(&f);
        EXPECT_EQ(f.sampleRate, r.rate);
        EXPECT_EQ(f.frameBytes, length);
    }
}

// Two-channel Layer II at the rates whose half frames are longer than a B3
// block, or not a whole number of them: fill in a held-up sender's B3 block
// lands inside a half frame (and between two), on either channel, at any
// bit offset. The fill is cut out, the halves pair by their counters and
// no frame is lost.
TEST(ChannelAlignerTest, Layer2At128kCutsIdleFillOutOfAHalfFrame) {
    for (const Layer2Rate& r : kLayer2Rates) {
        if (r.rate == 48000) continue;  // a half frame is one B3 block
        for (int shift : {0, 3}) {
            SCOPED_TRACE(testing::Message() << r.rate << " Hz, shift " << shift);
            std::mt19937 rng(static_cast<unsigned>(r.rate + shift));
            const int length = MpegBytesPer1152Samples(128000, r.rate);
            const size_t half = static_cast<size_t>(length / 2);
            std::vector<Bytes> frames;
            for (int i = 0; i < 72; ++i) frames.push_back(Frame(r.header, length, rng));
            std::vector<Bytes> ch = Split(frames, 0);
            const std::vector<Fill> fills[2] = {{{30 * half + 192, 192}, {44 * half + 192, 1152}},
                                                {{34 * half + 192, 384}, {40 * half, 576}, {52 * half + 192, 192}}};
            for (int c = 0; c < 2; ++c) ch[static_cast<size_t>(c)] = WithFill(ch[static_cast<size_t>(c)], fills[c]);
            ch[0] = Shifted(ch[0], shift);
            ExpectLockHoldsThroughFill(ch, frames, 192, 26 * half, FillBytes(fills[0]) + FillBytes(fills[1]),
                                       length - 2);
        }
    }
}

// A late sender leaves fill on both channels between two frames, and the
// next half frame on one channel is held up again inside it, right before
// its counter byte: the half frame after the fill can only be told by its
// header. With CRC the even-bit half begins 0xFE, without 0xFF (which the
// fill before it must not take): either way the lock holds and no frame is
// lost.
TEST(ChannelAlignerTest, TwoChannelLayer2RidesOutFillBeforeAndInsideOneHalfFrame) {
    const uint8_t headers[][4] = {{0xFF, 0xFC, 0x84, 0x00}, {0xFF, 0xFD, 0x84, 0x00}};  // with CRC, without
    for (const auto& header : headers) {
        for (int shift : {0, 3}) {
            SCOPED_TRACE(testing::Message() << "protection bit " << (header[1] & 1) << ", shift " << shift);
            std::mt19937 rng(static_cast<unsigned>(header[1] + shift));
            std::vector<Bytes> frames;
            for (int i = 0; i < 60; ++i) frames.push_back(Frame(header, 384, rng));
            std::vector<Bytes> ch = Split(frames, 0);
            const size_t k = 30 * 192;
            const std::vector<Fill> fills[2] = {{{k, 344}}, {{k, 192}, {k + 191, 333}}};
            for (int c = 0; c < 2; ++c) ch[static_cast<size_t>(c)] = WithFill(ch[static_cast<size_t>(c)], fills[c]);
            ch[1] = Shifted(ch[1], shift);
            ExpectLockHoldsThroughFill(ch, frames, 192, 26 * 192, 344 + 192 + 333, 382);
        }
    }
}

// A 64 kbit/s block longer than a B3 block (a Layer II frame at 24 and 16
// kHz, mono and stereo, and at 32 kHz; two MPEG-2 Layer III frames) holds
// the fill of a sender held up inside it: cut out at any bit offset, no
// frame lost.
TEST(ChannelAlignerTest, OneChannelCutsIdleFillOutOfABlockLongerThanAB3Block) {
    struct Case {
        const char* name;
        uint8_t header[4];
        int length;
        int frames;  // in a block
        bool inverted;
    };
    const Case cases[] = {{"Layer II 24 kHz mono", {0xFF, 0xF5, 0x84, 0xC0}, 384, 1, false},
                          {"Layer II 24 kHz stereo", {0xFF, 0xF5, 0x84, 0x00}, 384, 1, false},
                          {"Layer II 16 kHz mono", {0xFF, 0xF5, 0x88, 0xC0}, 576, 1, false},
                          {"Layer II 16 kHz stereo", {0xFF, 0xF5, 0x88, 0x00}, 576, 1, false},
                          {"Layer II 32 kHz mono", {0xFF, 0xFD, 0x48, 0xC0}, 288, 1, false},
                          {"Layer III 24 kHz mono", {0xFF, 0xF3, 0x84, 0xC0}, 384, 2, true},
                          {"Layer III 16 kHz mono", {0xFF, 0xF3, 0x88, 0xC0}, 576, 2, true}};
    for (const Case& k : cases) {
        for (int shift : {0, 5}) {
            SCOPED_TRACE(testing::Message() << k.name << ", shift " << shift);
            std::mt19937 rng(static_cast<unsigned>(k.length + shift));
            std::vector<Bytes> frames;
            Bytes line;
            for (int i = 0; i < 60; ++i) {
                frames.push_back(Frame(k.header, k.length, rng));
                const int frameLength = k.length / k.frames;
                for (int f = 1; f < k.frames; ++f) std::memcpy(frames.back().data() + f * frameLength, k.header, 4);
                for (uint8_t b : frames.back()) line.push_back(k.inverted ? static_cast<uint8_t>(~b) : b);
            }
            const size_t len = static_cast<size_t>(k.length);
            const std::vector<Fill> fills = {{30 * len + 192, 192}, {38 * len + 192, 960}, {46 * len, 384}};
            const Bytes shifted = Shifted(WithFill(line, fills), shift);
            ExpectLockHoldsThroughFill({shifted}, frames, 192, 26 * len, FillBytes(fills), k.length);
        }
    }
}

namespace {
// Feeds the channels and returns the sent block of each block handed on;
// fails on a block that was never sent.
std::vector<int> BlocksHandedOn(const Layer3Split& s, const Bytes& ch0, const Bytes& ch1, CChannelAligner& a) {
    const Bytes out = Feed(a, {ch0, ch1}, 192);
    std::vector<int> sent;
    for (size_t at = 0; at + 768 <= out.size(); at += 768) {
        const auto same = [&](const Bytes& b) { return std::equal(b.begin(), b.end(), out.begin() + static_cast<long>(at)); };
        const long i = std::find_if(s.blocks.begin(), s.blocks.end(), same) - s.blocks.begin();
        EXPECT_LT(i, static_cast<long>(s.blocks.size())) << "output block " << at / 768 << " was never sent";
        sent.push_back(static_cast<int>(i));
    }
    return sent;
}

// The last block handed on out of the sent order; -1 for none.
int LastOutOfOrder(const std::vector<int>& sent) {
    int last = -1;
    for (size_t k = 1; k < sent.size(); ++k)
        if (sent[k] <= sent[k - 1]) last = sent[k];
    return last;
}
}  // namespace

// A receiver held up past what the exchange queues loses B3 blocks on each
// channel on its own: here one whole Layer III block on the second channel
// only. Both headers still hold, but taking the channels in turn now puts
// every block beside the wrong neighbour (a decoder reading its bit
// reservoir across them plays noise) until the markers show the turn is
// broken, at most one marker cycle of 32 blocks on; then the channels are
// paired again by the markers and the blocks go on in the sent order to
// the end.
TEST(ChannelAlignerTest, Layer3At128kPairsTheChannelsAgainAfterABlockLostOnOne) {
    constexpr int kLost = 41, kMarkerCycle = 32;
    const Layer3Split s = SplitLayer3(160, 26);
    Bytes ch1 = s.channel[1];
    ch1.erase(ch1.begin() + kLost / 2 * 768, ch1.begin() + (kLost / 2 + 1) * 768);
    CChannelAligner a;
    ASSERT_EQ(a.Init(2, 192), 1);
    const std::vector<int> sent = BlocksHandedOn(s, s.channel[0], ch1, a);
    ASSERT_FALSE(sent.empty());
    std::printf("blocks handed on: %zu of %zu, the last %d; the last out of order: %d\n", sent.size(), s.blocks.size(),
                sent.back(), LastOutOfOrder(sent));
    EXPECT_LT(LastOutOfOrder(sent), kLost + kMarkerCycle);
    EXPECT_TRUE(a.IsLocked());
    EXPECT_GE(sent.back(), 150);
}

// Two B3 blocks lost on the first channel take one frame of an MPEG-2
// block of two, as a receiver held up under load once lost them: the
// channel's header still holds, but it reads the block's second frame and
// the next one's first. The channel moves on to the block's start and the
// channels are paired again; the stream goes on to its end (it once stayed
// silent for the rest of the call, both channels locked on no format).
TEST(ChannelAlignerTest, Layer3At128kGoesOnAfterHalfABlockLostOnOne) {
    constexpr int kLost = 40;
    const Layer3Split s = SplitLayer3(160, 27);
    Bytes ch0 = s.channel[0];
    ch0.erase(ch0.begin() + kLost / 2 * 768, ch0.begin() + kLost / 2 * 768 + 384);
    CChannelAligner a;
    ASSERT_EQ(a.Init(2, 192), 1);
    const std::vector<int> sent = BlocksHandedOn(s, ch0, s.channel[1], a);
    ASSERT_FALSE(sent.empty());
    std::printf("blocks handed on: %zu of %zu, the last %d; the last out of order: %d\n", sent.size(), s.blocks.size(),
                sent.back(), LastOutOfOrder(sent));
    EXPECT_LT(LastOutOfOrder(sent), kLost + 32);
    EXPECT_TRUE(a.IsLocked());
    EXPECT_GE(sent.back(), 150);
}
