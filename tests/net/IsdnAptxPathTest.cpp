// Standard apt-X unframed on one B-channel: the line carries each code word
// high byte first, bit-reversed and inverted, and the receiver knows the
// stream only by decoding it.
#include "net/IsdnAptxPath.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "common/Codes.h"
#include "net/BChannelFraming.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes StdTone(size_t words) {
    CAptxStdCodec codec;
    AudioFormat f;
    f.codingType = CODING_APTX;
    f.deviceMode = DEVICEMODE_MONO;
    f.aptxOption = 1;
    codec.SetEncodeFormat(&f);
    EXPECT_EQ(codec.OpenEncoder(), 1);
    std::vector<int16_t> pcm(words * 4);
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 1000 * static_cast<double>(i) / 16000));
    Bytes code(words * 2);
    int used = 0;
    EXPECT_EQ(codec.Encode(pcm.data(), static_cast<int>(pcm.size() * 2), &used, code.data(), static_cast<int>(code.size())),
              static_cast<int>(code.size()));
    return code;
}

// The sender's line bytes as the receiver's bit reversal hands them on.
Bytes SendAndReverse(CIsdnAptxPath& p, const Bytes& code) {
    Bytes line;
    for (size_t at = 0; at < code.size(); at += 192) {
        EXPECT_EQ(p.WriteSend(code.data() + at, 192), 1);
        uint8_t block[192];
        EXPECT_EQ(p.ReadSend(block, 192), 192);
        for (uint8_t b : block) line.push_back(CBChannelFraming::Reverse(b));
    }
    return line;
}

// Feeds `line` in reads of `piece` bytes; returns what the path handed on.
Bytes Receive(CIsdnAptxPath& p, const Bytes& line, size_t piece, bool* changed) {
    Bytes out;
    for (size_t at = 0; at < line.size(); at += piece) {
        const int n = static_cast<int>(std::min(piece, line.size() - at));
        EXPECT_EQ(p.WriteReceived(line.data() + at, n), 1);
        *changed = *changed || p.IsFormatChanged();
        uint8_t buf[4096];
        const int got = p.ReadReceived(buf, sizeof buf);
        out.insert(out.end(), buf, buf + got);
    }
    return out;
}

}  // namespace

TEST(IsdnAptxPathTest, LineBytesAreSwappedReversedAndInverted) {
    CIsdnAptxPath p;
    ASSERT_EQ(p.Init(192), 1);
    const uint8_t word[2] = {0x34, 0x12};
    ASSERT_EQ(p.WriteSend(word, 2), 1);
    uint8_t line[2];
    ASSERT_EQ(p.ReadSend(line, 2), 2);
    EXPECT_EQ(line[0], static_cast<uint8_t>(~CBChannelFraming::Reverse(0x12)));
    EXPECT_EQ(line[1], static_cast<uint8_t>(~CBChannelFraming::Reverse(0x34)));
    // Half a word, or more than the buffer holds, is refused whole.
    EXPECT_EQ(p.WriteSend(word, 1), 0);
    Bytes big(2 * 192 + 2);
    EXPECT_EQ(p.WriteSend(big.data(), static_cast<int>(big.size())), 0);
    EXPECT_EQ(p.SendAvailable(), 0);
}

// A tone's code words, read in pieces that cut words in two, lock the
// receiver and come back as sent; the lock is announced as a 64 kbit/s
// 16 kHz mono apt-X format.
TEST(IsdnAptxPathTest, StandardStreamLocksAtAnyReadSize) {
    const Bytes code = StdTone(192 * 60 / 2);
    for (size_t piece : {size_t{192}, size_t{77}, size_t{2400}}) {
        SCOPED_TRACE(piece);
        CIsdnAptxPath tx, rx;
        ASSERT_EQ(tx.Init(192), 1);
        ASSERT_EQ(rx.Init(192), 1);
        bool changed = false;
        const Bytes out = Receive(rx, SendAndReverse(tx, code), piece, &changed);
        ASSERT_TRUE(rx.IsLocked());
        EXPECT_TRUE(changed);
        AudioFormat f;
        rx.GetFormat(&f);
        EXPECT_FALSE(rx.IsFormatChanged());
        EXPECT_EQ(f.codingType, CODING_APTX);
        EXPECT_EQ(f.bitRate, 64000);
        EXPECT_EQ(f.sampleRate, 16000);
        EXPECT_EQ(f.deviceMode, DEVICEMODE_MONO);
        EXPECT_EQ(f.frameBytes, 192);
        EXPECT_EQ(f.aptxOption, 1);
        ASSERT_GE(out.size(), code.size() / 2);
        const auto hit = std::search(code.begin(), code.end(), out.begin(), out.end());
        ASSERT_TRUE(hit != code.end());
        EXPECT_EQ((hit - code.begin()) % 2, 0);
    }
}

// Bytes of no apt-X (noise, a steady pattern) never lock, and nothing of
// them is handed on.
TEST(IsdnAptxPathTest, OtherBytesNeverLock) {
    std::mt19937 rng(7);
    Bytes noise(192 * 80);
    for (auto& b : noise) b = static_cast<uint8_t>(rng());
    for (const Bytes& line : {noise, Bytes(192 * 80, 0x55)}) {
        CIsdnAptxPath rx;
        ASSERT_EQ(rx.Init(192), 1);
        bool changed = false;
        const Bytes out = Receive(rx, line, 192, &changed);
        EXPECT_FALSE(rx.IsLocked());
        EXPECT_FALSE(changed);
        EXPECT_TRUE(out.empty());
        AudioFormat f;
        rx.GetFormat(&f);
        EXPECT_EQ(f.codingType, 0);
    }
}

// A held-up sender's idle fill (0xFF on the line) anywhere in a locked
// stream, of any length from a few bytes to over a second's pattern blocks:
// the path cuts it out and hands on the sent code words unbroken.
TEST(IsdnAptxPathTest, IdleFillIsCutOutOfALockedStream) {
    const Bytes code = StdTone(192 * 80 / 2);
    for (const auto& [at, fill] : {std::pair<size_t, size_t>{4001, 6},
                                   {4000, 77},
                                   {5555, 256},
                                   {6002, 601},
                                   {4097, 2400},
                                   {7000, 255},
                                   {4500, 7000}}) {
        SCOPED_TRACE(std::to_string(fill) + " bytes of fill at " + std::to_string(at));
        CIsdnAptxPath tx, rx;
        ASSERT_EQ(tx.Init(192), 1);
        ASSERT_EQ(rx.Init(192), 1);
        Bytes line = SendAndReverse(tx, code);
        line.insert(line.begin() + static_cast<long>(at), fill, 0xFF);
        bool changed = false;
        const Bytes out = Receive(rx, line, 192, &changed);
        ASSERT_TRUE(rx.IsLocked());
        EXPECT_EQ(rx.FillBytesCut(), static_cast<long>(fill));
        ASSERT_GE(out.size(), code.size() / 2);
        const auto hit = std::search(code.begin(), code.end(), out.begin(), out.begin() + 192);
        ASSERT_TRUE(hit != code.end());
        EXPECT_TRUE(std::equal(out.begin(), out.end(), hit)) << "the stream breaks";
    }
}
