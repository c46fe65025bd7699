// apt-X framed on B-channels: the frame and sync word layout on the line,
// and a receiver that finds the frames at any bit offset and undoes the
// delay between two channels up to what its history holds.
#include "net/IsdnAptxFramedPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "codecs/AptxEnhCodec.h"
#include "codecs/AptxStdCodec.h"
#include "common/Codes.h"
#include "net/BChannelFraming.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The line's bytes as the receiver's bit reversal hands them on.
Bytes Received(const Bytes& line) {
    Bytes out(line.size());
    for (size_t i = 0; i < line.size(); ++i) out[i] = CBChannelFraming::Reverse(line[i]);
    return out;
}

// Frames `input` and returns each channel's line bytes.
std::vector<Bytes> Framed(int channels, const Bytes& input) {
    CIsdnAptxFramedPath p;
    EXPECT_EQ(p.Init(channels, 192), 1);
    std::vector<Bytes> line(static_cast<size_t>(channels));
    for (size_t at = 0; at < input.size(); at += 1024) {
        const int n = static_cast<int>(std::min<size_t>(1024, input.size() - at));
        EXPECT_EQ(p.WriteSend(input.data() + at, n), 1);
        p.Frame();
        for (int c = 0; c < channels; ++c) {
            uint8_t buf[4096];
            const int got = p.ReadChannel(c, buf, sizeof buf);
            line[static_cast<size_t>(c)].insert(line[static_cast<size_t>(c)].end(), buf, buf + got);
        }
    }
    return line;
}

// `bits` bits of idle line (ones) in front of the received bytes.
Bytes Delayed(const Bytes& in, int bits) {
    Bytes out(static_cast<size_t>(bits / 8), 0x00);  // idle ones, inverted on the line
    const int shift = bits % 8;
    unsigned carry = 0x00;
    for (uint8_t b : in) {
        out.push_back(static_cast<uint8_t>(((carry << 8) | b) >> shift));
        carry = b;
    }
    return out;
}

Bytes RandomWords(size_t bytes, unsigned seed) {
    std::mt19937 rng(seed);
    Bytes b(bytes);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

constexpr size_t kPiece = 65;

// What the receiver showed along the way.
struct Seen {
    bool bothLocked = false;
    bool aligned = false;
    int delayDifference = 0;  // first channel's delay minus the second's, once aligned
    bool detected = false;
    AudioFormat format;  // as first detected
};

// Feeds the channels' received bytes in pieces of 8 frames and collects the
// code words the path puts back together once it has told their kind.
Bytes Receive(CIsdnAptxFramedPath& p, std::vector<Bytes> channels, Seen* seen) {
    // The channels end together: the shorter ones idle.
    size_t longest = 0;
    for (const Bytes& c : channels) longest = std::max(longest, c.size());
    for (Bytes& c : channels) c.resize(longest, 0x00);
    Bytes out;
    size_t at = 0;
    bool more = true;
    while (more) {
        more = false;
        for (size_t c = 0; c < channels.size(); ++c) {
            if (at >= channels[c].size()) continue;
            const int n = static_cast<int>(std::min<size_t>(kPiece, channels[c].size() - at));
            EXPECT_EQ(p.WriteReceived(static_cast<int>(c), channels[c].data() + at, n), 1);
            more = true;
        }
        at += kPiece;
        p.Receive();
        seen->bothLocked = seen->bothLocked || (p.IsLocked(0) && p.IsLocked(1));
        if (p.IsAligned() && !seen->aligned) {
            seen->aligned = true;
            seen->delayDifference = p.GetDelayBits(0) - p.GetDelayBits(1);
        }
        if (p.IsFormatChanged() && p.IsDetected() && !seen->detected) {
            seen->detected = true;
            p.GetFormat(&seen->format);
            EXPECT_FALSE(p.IsFormatChanged());
        }
        uint8_t buf[4096];
        const int n = p.ReadReceived(buf, sizeof buf);
        out.insert(out.end(), buf, buf + n);
    }
    return out;
}

}  // namespace

TEST(IsdnAptxFramedPathTest, EightRoundsMakeSixtyFiveBytesWithTheSyncBitLast) {
    CIsdnAptxFramedPath p;
    ASSERT_EQ(p.Init(1, 192), 1);
    const Bytes words = RandomWords(64, 1);
    ASSERT_EQ(p.WriteSend(words.data(), 64), 1);
    p.Frame();
    ASSERT_EQ(p.Available(0), 65);
    uint8_t line[65];
    ASSERT_EQ(p.ReadChannel(0, line, 65), 65);
    // Back from the line: four words, most significant bit first, then the
    // sync bit, 65 bits a frame.
    const Bytes bits = Received(Bytes(line, line + 65));
    auto bit = [&](int i) { return ((~bits[static_cast<size_t>(i / 8)]) >> (7 - i % 8)) & 1; };
    for (int f = 0; f < 8; ++f) {
        for (int k = 0; k < 4; ++k) {
            unsigned w = 0;
            for (int b = 0; b < 16; ++b) w = w << 1 | static_cast<unsigned>(bit(f * 65 + k * 16 + b));
            const unsigned sent = words[static_cast<size_t>(f * 8 + 2 * k)] | words[static_cast<size_t>(f * 8 + 2 * k + 1)] << 8;
            EXPECT_EQ(w, sent) << "frame " << f << " word " << k;
        }
    }
    EXPECT_EQ(p.WriteSend(words.data(), CIsdnAptxFramedPath::kBufferBytes + 1), 0);
}

TEST(IsdnAptxFramedPathTest, SyncWordsCountNameTheChannelsAndGoOutMostSignificantBitFirst) {
    CIsdnAptxFramedPath p;
    ASSERT_EQ(p.Init(2, 192), 1);
    // Counter 0, bit 18, two channels, stream index + 1, 0x2FD.
    EXPECT_EQ(p.SyncWord(0), (1u << 18) | (2u << 15) | (1u << 12) | 0x2FDu);
    EXPECT_EQ(p.SyncWord(1), (1u << 18) | (2u << 15) | (2u << 12) | 0x2FDu);
    CIsdnAptxFramedPath one;
    ASSERT_EQ(one.Init(1, 192), 1);
    EXPECT_EQ(one.SyncWord(1) >> 12 & 7, 0u);
    // Two words of frames (and the bytes the last one ends in): the sync
    // bits spell counter 0, then counter 1.
    const std::vector<Bytes> line = Framed(2, RandomWords(56 * 16, 2));
    for (int c = 0; c < 2; ++c) {
        const Bytes bits = Received(line[static_cast<size_t>(c)]);
        unsigned word[2] = {0, 0};
        for (int f = 0; f < 54; ++f) {
            const int i = f * 65 + 64;
            word[f / 27] = word[f / 27] << 1 | static_cast<unsigned>(((~bits[static_cast<size_t>(i / 8)]) >> (7 - i % 8)) & 1);
        }
        const unsigned expect = (1u << 18) | (2u << 15) | (static_cast<unsigned>(c + 1) << 12) | 0x2FDu;
        EXPECT_EQ(word[0], expect);
        EXPECT_EQ(word[1], expect | (1u << 19));
    }
}

TEST(IsdnAptxFramedPathTest, TwoChannelsFiveHundredFramesApartAlignAtAnyBitOffset) {
    // Words of no apt-X kind: the path tries its decoders for a while, then
    // hands them on as standard apt-X without sync.
    const Bytes words = RandomWords(2800 * 16, 3);
    const std::vector<Bytes> line = Framed(2, words);
    for (int offset : {0, 3, 7}) {
        SCOPED_TRACE(offset);
        CIsdnAptxFramedPath p;
        ASSERT_EQ(p.Init(2, 192), 1);
        // The second channel arrives 500 frames later, both at a bit offset.
        Seen seen;
        const Bytes out = Receive(p, {Delayed(Received(line[0]), offset), Delayed(Received(line[1]), 500 * 65 + offset + 5)}, &seen);
        ASSERT_TRUE(seen.aligned);
        // The first channel is held back by the bits between the two.
        EXPECT_EQ(seen.delayDifference, 500 * 65 + 5);
        EXPECT_TRUE(seen.detected);
        const AudioFormat& f = seen.format;
        EXPECT_EQ(f.codingType, CODING_APTX);
        EXPECT_EQ(f.deviceMode, DEVICEMODE_MONO);
        EXPECT_EQ(f.aptxOption, 0);
        // The words come back in the order they were sent, from some frame on.
        ASSERT_GE(out.size(), 100u * 16);
        const auto hit = std::search(words.begin(), words.end(), out.begin(), out.end());
        EXPECT_TRUE(hit != words.end());
        EXPECT_EQ((hit - words.begin()) % 16, 0);
    }
}

TEST(IsdnAptxFramedPathTest, ADelayBeyondTheHistoryNeverAligns) {
    const Bytes words = RandomWords(4200 * 16, 4);
    const std::vector<Bytes> line = Framed(2, words);
    // 1968 frames of 65 bits: 127920 bits, just beyond the 127903 the
    // history can undo.
    CIsdnAptxFramedPath p;
    ASSERT_EQ(p.Init(2, 192), 1);
    Seen seen;
    const Bytes out = Receive(p, {Received(line[0]), Delayed(Received(line[1]), 1968 * 65)}, &seen);
    EXPECT_TRUE(seen.bothLocked);
    EXPECT_FALSE(seen.aligned);
    EXPECT_TRUE(out.empty());
    // One frame less (127855 bits) is still within reach.
    CIsdnAptxFramedPath q;
    ASSERT_EQ(q.Init(2, 192), 1);
    Seen near;
    const Bytes back = Receive(q, {Received(line[0]), Delayed(Received(line[1]), 1967 * 65)}, &near);
    EXPECT_TRUE(near.aligned);
    EXPECT_EQ(near.delayDifference, 1967 * 65);
    const auto hit = std::search(words.begin(), words.end(), back.begin(), back.end());
    EXPECT_TRUE(!back.empty() && hit != words.end());
}

namespace {

// `words` code words of a tone from the real encoder of the kind, as the
// audio engine hands them to the transport.
Bytes AptxTone(int coding, int mode, size_t words) {
    CAptxStdCodec std;
    CAptxEnhCodec enh;
    CCodec& codec = coding == CODING_APTX ? static_cast<CCodec&>(std) : static_cast<CCodec&>(enh);
    AudioFormat f;
    f.codingType = coding;
    f.deviceMode = mode;
    f.aptxOption = 1;
    codec.SetEncodeFormat(&f);
    EXPECT_EQ(codec.OpenEncoder(), 1);
    const int ch = mode == DEVICEMODE_MONO ? 1 : 2;
    std::vector<int16_t> pcm(static_cast<size_t>(words) * 4);
    for (size_t i = 0; i < pcm.size(); ++i) {
        const size_t t = i / static_cast<size_t>(ch);
        pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * (i % 2 ? 700 : 1000) * static_cast<double>(t) / 16000));
    }
    Bytes code(words * 2);
    size_t in = 0, out = 0;
    while (in < pcm.size()) {
        int used = 0;
        const int n = codec.Encode(pcm.data() + in, static_cast<int>(std::min<size_t>(4096, pcm.size() - in) * 2), &used,
                                   code.data() + out, static_cast<int>(code.size() - out));
        if (used <= 0) break;
        in += static_cast<size_t>(used) / 2;
        out += static_cast<size_t>(n);
    }
    code.resize(out);
    return code;
}

struct KindCase {
    int coding;
    int mode;
    int channels;
    int rate;
};

}  // namespace

// Each kind the far end may send is told by decoding it: standard or
// enhanced, mono or stereo, on one channel or two; the words then flow on
// in the order sent.
TEST(IsdnAptxFramedPathTest, DetectsKindAndModeByDecoding) {
    for (const KindCase& k : {KindCase{CODING_APTX, DEVICEMODE_MONO, 2, 31508}, KindCase{CODING_APTX, DEVICEMODE_STEREO, 2, 15754},
                              KindCase{CODING_APTX_ENH, DEVICEMODE_MONO, 1, 15754},
                              KindCase{CODING_APTX_ENH, DEVICEMODE_MONO, 2, 31508},
                              KindCase{CODING_APTX_ENH, DEVICEMODE_STEREO, 2, 15754}}) {
        SCOPED_TRACE(testing::Message() << "coding " << k.coding << " mode " << k.mode << " channels " << k.channels);
        const Bytes words = AptxTone(k.coding, k.mode, 2000 * 4 * static_cast<size_t>(k.channels));
        std::vector<Bytes> line = Framed(k.channels, words);
        CIsdnAptxFramedPath p;
        ASSERT_EQ(p.Init(k.channels, 192), 1);
        std::vector<Bytes> received;
        for (size_t c = 0; c < line.size(); ++c) received.push_back(Delayed(Received(line[c]), static_cast<int>(3 + 40 * c)));
        Seen seen;
        const Bytes out = Receive(p, received, &seen);
        ASSERT_TRUE(seen.detected);
        const AudioFormat& f = seen.format;
        EXPECT_EQ(f.codingType, k.coding);
        EXPECT_EQ(f.deviceMode, k.mode);
        EXPECT_EQ(f.bitRate, 64000 * k.channels);
        EXPECT_EQ(f.sampleRate, k.rate);
        EXPECT_EQ(f.frameBytes, 192 * k.channels);
        EXPECT_EQ(f.aptxOption, 1);
        // What follows is the words as sent (the line's idle tail aside).
        ASSERT_GE(out.size(), 4000u);
        EXPECT_TRUE(std::search(words.begin(), words.end(), out.begin(), out.begin() + 4000) != words.end());
    }
}

// A channel that slips by 3 bits mid-call loses its lock; the path finds
// the channels again and goes on with the kind it found, within a bound.
TEST(IsdnAptxFramedPathTest, ASlipMidCallIsRecoveredWithinABound) {
    const Bytes words = AptxTone(CODING_APTX_ENH, DEVICEMODE_MONO, 6000 * 8);
    std::vector<Bytes> line = Framed(2, words);
    std::vector<Bytes> received = {Received(line[0]), Received(line[1])};
    // From byte 20000 on (frame 2461) the second channel runs 3 bits late.
    const size_t at = 20000;
    Bytes tail(received[1].begin() + static_cast<long>(at), received[1].end());
    received[1].resize(at);
    const Bytes slipped = Delayed(tail, 3);
    received[1].insert(received[1].end(), slipped.begin(), slipped.end());
    CIsdnAptxFramedPath p;
    ASSERT_EQ(p.Init(2, 192), 1);
    Seen seen;
    int lostAt = -1, backAt = -1, formatLost = 0;
    size_t out = 0;
    for (size_t pos = 0; pos + kPiece <= received[0].size(); pos += kPiece) {
        for (int c = 0; c < 2; ++c) ASSERT_EQ(p.WriteReceived(c, received[static_cast<size_t>(c)].data() + pos, kPiece), 1);
        p.Receive();
        const int frame = static_cast<int>(pos * 8 / 65);
        if (p.IsFormatChanged()) {
            AudioFormat f;
            p.GetFormat(&f);
            formatLost += f.codingType == 0 && seen.detected ? 1 : 0;
            seen.detected = seen.detected || f.codingType != 0;
        }
        if (pos > at && !p.IsAligned() && lostAt < 0) lostAt = frame;
        if (lostAt >= 0 && p.IsAligned() && backAt < 0) backAt = frame;
        uint8_t buf[4096];
        out += static_cast<size_t>(p.ReadReceived(buf, sizeof buf));
    }
    std::printf("slip at frame %zu: alignment lost at frame %d, back at frame %d\n", at * 8 / 65, lostAt, backAt);
    ASSERT_TRUE(seen.detected);
    ASSERT_GE(lostAt, 0);
    ASSERT_GE(backAt, 0);
    EXPECT_GT(out, 0u) << "no audio handed on";
    EXPECT_LE(backAt - static_cast<int>(at * 8 / 65), 200);
    EXPECT_EQ(formatLost, 0);
}

namespace {

// The line's idle fill (0xFF) as the receiver's bit reversal hands it on.
Bytes IdleFill(size_t bytes) { return Bytes(bytes, 0xFF); }

// Stereo samples of the decoded words.
std::vector<int16_t> DecodeStereo(const Bytes& words) {
    CAptxEnhCodec codec;
    AudioFormat f;
    f.codingType = CODING_APTX_ENH;
    f.deviceMode = DEVICEMODE_STEREO;
    f.aptxOption = 1;
    codec.SetDecodeFormat(&f);
    EXPECT_EQ(codec.OpenDecoder(), 1);
    std::vector<int16_t> pcm(words.size() * 2 + 4096);
    size_t in = 0, out = 0;
    while (in < words.size()) {
        int used = 0;
        const int n = codec.Decode(words.data() + in, static_cast<int>(words.size() - in), &used, pcm.data() + out,
                                   static_cast<int>((pcm.size() - out) * 2));
        if (used <= 0) break;
        in += static_cast<size_t>(used);
        out += static_cast<size_t>(n) / 2;
    }
    pcm.resize(out);
    return pcm;
}

struct IdleCase {
    size_t idleBytes;
    int slipBits;  // the whole second channel arrives this many bits late
};

}  // namespace

// A starved sender leaves idle fill on one channel and not the other, which
// moves that channel against its partner: the fill is left out, the lock and
// the alignment hold, and the words come on in the order sent, so the tone
// plays on without a gap or a misaligned word.
TEST(IsdnAptxFramedPathTest, IdleFillOnOneChannelMidCallLosesNoWord) {
    const Bytes words = AptxTone(CODING_APTX_ENH, DEVICEMODE_STEREO, 5000 * 8);
    const std::vector<Bytes> line = Framed(2, words);
    // One starved block; 300 ms of fill; one block on a line 3 bits late.
    for (const IdleCase& k : {IdleCase{192, 0}, IdleCase{2400, 0}, IdleCase{192, 3}}) {
        SCOPED_TRACE(testing::Message() << k.idleBytes << " bytes of fill, " << k.slipBits << " bits late");
        std::vector<Bytes> received = {Received(line[0]), Received(line[1])};
        // Mid-call, well after the kind is told (frame 2461).
        const size_t at = 20000;
        const Bytes fill = IdleFill(k.idleBytes);
        received[1].insert(received[1].begin() + static_cast<long>(at), fill.begin(), fill.end());
        received[1] = Delayed(received[1], k.slipBits);
        // The first channel's fill comes at the end, where the far end stops.
        received[0].insert(received[0].end(), fill.begin(), fill.end());
        CIsdnAptxFramedPath p;
        ASSERT_EQ(p.Init(2, 192), 1);
        Seen seen;
        const Bytes out = Receive(p, received, &seen);
        ASSERT_TRUE(seen.detected);
        EXPECT_TRUE(p.IsAligned());
        // From where the kind was told to the end, every word as sent.
        ASSERT_GE(out.size(), 4000u);
        const auto hit = std::search(words.begin(), words.end(), out.begin(), out.begin() + 4000);
        ASSERT_TRUE(hit != words.end());
        const size_t from = static_cast<size_t>(hit - words.begin());
        const size_t same = static_cast<size_t>(std::mismatch(out.begin(), out.end(), hit, words.end()).first - out.begin());
        EXPECT_EQ(same, out.size());
        EXPECT_GE(out.size() + 200, words.size() - from) << "words lost";
        // The far end's left tone at a steady level throughout, once the
        // fresh decoder has settled.
        const std::vector<int16_t> pcm = DecodeStereo(out);
        constexpr size_t kWindow = 512;
        int quiet = 0;
        for (size_t w = 16 * kWindow; w + kWindow <= pcm.size() / 2; w += kWindow) {
            double power = 0;
            for (size_t s = w; s < w + kWindow; ++s) power += static_cast<double>(pcm[2 * s]) * pcm[2 * s];
            const double db = 10 * std::log10(power / kWindow / (8000.0 * 8000.0 / 2));
            quiet += std::fabs(db) > 1.0 ? 1 : 0;
        }
        EXPECT_EQ(quiet, 0) << "windows off the tone's level";
    }
}
