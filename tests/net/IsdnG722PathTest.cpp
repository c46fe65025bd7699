// The G.722 receive path on what our G.722 encoder makes, delayed by every
// bit offset a B-channel may put in front: it finds the code bytes'
// position, locks, and hands on exactly the code bytes; on streams no
// G.722 encoder makes it never locks.
#include "net/IsdnG722Path.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "codecs/g722/G722Codec.h"
#include "common/Codes.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr int kBlock = 192;

// Seconds of G.722 from our encoder for a signal of samples at 16 kHz.
template <typename Signal>
Bytes Encoded(double seconds, Signal signal) {
    std::vector<int16_t> pcm(static_cast<size_t>(16000 * seconds));
    for (size_t i = 0; i < pcm.size(); ++i) pcm[i] = static_cast<int16_t>(std::clamp(signal(i), -32768.0, 32767.0));
    Bytes code(pcm.size() / 2);
    CG722Codec codec;
    int used = 0;
    const int n = codec.Encode(pcm.data(), static_cast<int>(pcm.size() * 2), &used, code.data(), static_cast<int>(code.size()));
    code.resize(static_cast<size_t>(std::max(n, 0)));
    return code;
}

double Tone(size_t i, double hz, double dbfs) { return 32767 * std::pow(10, dbfs / 20) * std::sin(2 * M_PI * hz * i / 16000.0); }

// The bytes a receiver sees when the line put `shift` bits in front.
Bytes Shifted(const Bytes& in, int shift) {
    Bytes out(in.size());
    unsigned carry = 0xFF;
    for (size_t i = 0; i < in.size(); ++i) {
        out[i] = static_cast<uint8_t>(((carry << 8) | in[i]) >> shift);
        carry = in[i];
    }
    return out;
}

struct Fed {
    Bytes out;
    long lockedAt = -1;  // input bytes fed when it locked
};

// Feeds B3 blocks, processing after each, and collects the output.
Fed Feed(CIsdnG722Path& path, const Bytes& line, int block = kBlock) {
    Fed r;
    for (size_t at = 0; at + static_cast<size_t>(block) <= line.size(); at += static_cast<size_t>(block)) {
        EXPECT_EQ(path.Write(line.data() + at, block), 1);
        path.Process();
        if (path.IsLocked() && r.lockedAt < 0) r.lockedAt = static_cast<long>(at) + block;
        uint8_t buf[2 * kBlock];
        const int n = path.Read(buf, sizeof buf);
        r.out.insert(r.out.end(), buf, buf + n);
    }
    return r;
}

// The output is one stretch of the code stream.
bool IsStretchOf(const Bytes& out, const Bytes& code) {
    return !out.empty() && std::search(code.begin(), code.end(), out.begin(), out.end()) != code.end();
}

}  // namespace

TEST(IsdnG722PathTest, LocksAtEveryShiftOnTonesNoiseAndSilence) {
    std::mt19937 rng(20);
    std::normal_distribution<double> noise(0, 1);
    struct Case {
        std::string name;
        Bytes code;
    };
    // 997 Hz at -6 dBFS is a tone on which bit 4 alone points at the wrong shift.
    std::vector<Case> cases = {
        {"997 Hz -6 dBFS", Encoded(6, [](size_t i) { return Tone(i, 997, -6); })},
        {"1 kHz -20 dBFS", Encoded(6, [](size_t i) { return Tone(i, 1000, -20); })},
        {"6 kHz -20 dBFS", Encoded(6, [](size_t i) { return Tone(i, 6000, -20); })},
        {"60 Hz -3 dBFS", Encoded(6, [](size_t i) { return Tone(i, 60, -3); })},
        {"speech-like noise", Encoded(6, [&](size_t i) { return 3000 * noise(rng) * (0.6 + 0.4 * std::sin(2 * M_PI * 4 * i / 16000.0)); })},
        {"silence", Encoded(6, [](size_t) { return 0.0; })},
    };
    for (const Case& c : cases) {
        for (int shift = 0; shift < 8; ++shift) {
            SCOPED_TRACE(c.name + ", shift " + std::to_string(shift));
            CIsdnG722Path path;
            ASSERT_EQ(path.Init(kBlock, 4800), 1);
            const Fed fed = Feed(path, Shifted(c.code, shift));
            ASSERT_TRUE(path.IsLocked());
            // 9600 bytes of agreement, after the encoder's first blocks.
            EXPECT_GE(fed.lockedAt, CIsdnG722Path::kLockBytes);
            EXPECT_LE(fed.lockedAt, 6 * CIsdnG722Path::kLockBytes);
            EXPECT_EQ(path.GetShift(), shift);
            ASSERT_GT(fed.out.size(), 1000u);
            EXPECT_TRUE(IsStretchOf(Bytes(fed.out.begin() + 1, fed.out.end()), c.code));
            ASSERT_TRUE(path.IsFormatChanged());
            AudioFormat f;
            path.GetFormat(&f);
            EXPECT_FALSE(path.IsFormatChanged());
            EXPECT_EQ(f.codingType, CODING_G722);
            EXPECT_EQ(f.bitRate, 64000);
            EXPECT_EQ(f.sampleRate, 16000);
            EXPECT_EQ(f.deviceMode, DEVICEMODE_MONO);
            EXPECT_EQ(f.frameBytes, kBlock);
        }
    }
}

TEST(IsdnG722PathTest, NeverLocksOnStreamsNoG722EncoderMakes) {
    Bytes alternating(48000);
    for (size_t i = 0; i < alternating.size(); ++i) alternating[i] = (i & 1) ? 0xAA : 0x55;
    Bytes random(48000);
    std::mt19937 rng(722);
    for (auto& b : random) b = static_cast<uint8_t>(rng());
    Bytes idle(48000, 0xFF);
    for (const Bytes* line : {&alternating, &random, &idle}) {
        for (int shift = 0; shift < 8; ++shift) {
            CIsdnG722Path path;
            ASSERT_EQ(path.Init(kBlock, 4800), 1);
            const Fed fed = Feed(path, Shifted(*line, shift));
            EXPECT_FALSE(path.IsLocked()) << shift;
            EXPECT_TRUE(fed.out.empty());
            EXPECT_FALSE(path.IsFormatChanged());
            AudioFormat f;
            path.GetFormat(&f);
            EXPECT_EQ(f.codingType, 0);
            EXPECT_EQ(f.frameBytes, 0);
        }
    }
}

TEST(IsdnG722PathTest, ALockedPathFollowsABitSlipAfterItsBound) {
    const Bytes code = Encoded(8, [](size_t i) { return Tone(i, 440, -12) + Tone(i, 2500, -24); });
    const size_t half = code.size() / 2 / kBlock * kBlock;
    CIsdnG722Path path;
    ASSERT_EQ(path.Init(kBlock, 4800), 1);
    Feed(path, Bytes(code.begin(), code.begin() + static_cast<long>(half)));
    ASSERT_TRUE(path.IsLocked());
    ASSERT_EQ(path.GetShift(), 0);
    AudioFormat f;
    path.GetFormat(&f);
    // The line slips by 3 bits: the old shift holds for 5760 bytes, then
    // the path unlocks, says so, and locks again at the new one.
    const Bytes rest = Shifted(Bytes(code.begin() + static_cast<long>(half), code.end()), 3);
    bool unlocked = false;
    long unlockedAt = -1;
    Bytes out;
    for (size_t at = 0; at + kBlock <= rest.size(); at += kBlock) {
        path.Write(rest.data() + at, kBlock);
        path.Process();
        if (!path.IsLocked() && !unlocked) {
            unlocked = true;
            unlockedAt = static_cast<long>(at) + kBlock;
            ASSERT_TRUE(path.IsFormatChanged());
            path.GetFormat(&f);
            EXPECT_EQ(f.codingType, 0);
            path.Read(nullptr, 0);
            uint8_t drop[4800];
            path.Read(drop, sizeof drop);
        }
        uint8_t buf[2 * kBlock];
        const int n = path.Read(buf, sizeof buf);
        if (unlocked) out.insert(out.end(), buf, buf + n);
    }
    ASSERT_TRUE(unlocked);
    EXPECT_GT(unlockedAt, CIsdnG722Path::kUnlockBytes);
    EXPECT_LE(unlockedAt, CIsdnG722Path::kUnlockBytes + 2 * kBlock);
    ASSERT_TRUE(path.IsLocked());
    EXPECT_EQ(path.GetShift(), 3);
    ASSERT_GT(out.size(), 1000u);
    EXPECT_TRUE(IsStretchOf(Bytes(out.begin() + 1, out.end()), code));
}

TEST(IsdnG722PathTest, RefusesWhatDoesNotFitAndKeepsALoneByte) {
    CIsdnG722Path path;
    EXPECT_EQ(path.Init(kBlock, kBlock - 1), 0);
    ASSERT_EQ(path.Init(kBlock, 400), 1);
    const Bytes bytes(401, 0x3C);
    EXPECT_EQ(path.Write(bytes.data(), 401), 0);
    EXPECT_EQ(path.Write(bytes.data(), -1), 0);
    EXPECT_EQ(path.Write(nullptr, 4), 0);
    ASSERT_EQ(path.Write(bytes.data(), 1), 1);
    path.Process();
    // Still there: the next byte completes the pair the detector needs.
    EXPECT_EQ(path.Write(bytes.data(), 399), 1);
    EXPECT_EQ(path.Write(bytes.data(), 1), 0);
}

// A held-up sender leaves idle fill between its bytes, at any bit offset the
// line puts in front: a locked path leaves the fill out and hands on the
// stream whole, without a format change, unless the fill outlasts the bound.
TEST(IsdnG722PathTest, ALockedPathRidesOutIdleFillUpToItsBound) {
    const Bytes code = Encoded(6, [](size_t i) { return Tone(i, 997, -6) * (i < 48000 ? 1.0 : 0.0); });
    const size_t cut = 4 * 9600 + 77;  // inside a block, in the silence after the tone
    for (int fill : {300, 2500, CIsdnG722Path::kUnlockBytes + 2 * kBlock}) {
        for (int shift : {0, 5}) {
            SCOPED_TRACE("fill " + std::to_string(fill) + ", shift " + std::to_string(shift));
            Bytes sent(code.begin(), code.begin() + static_cast<long>(cut));
            sent.insert(sent.end(), static_cast<size_t>(fill), 0xFF);
            sent.insert(sent.end(), code.begin() + static_cast<long>(cut), code.end());
            CIsdnG722Path path;
            ASSERT_EQ(path.Init(kBlock, 4800), 1);
            const Fed fed = Feed(path, Shifted(sent, shift));
            if (fill > CIsdnG722Path::kUnlockBytes) {
                // Gone for longer than the bound: given up, and found again.
                EXPECT_EQ(path.GetShift(), shift);
                AudioFormat f;
                path.GetFormat(&f);
                continue;
            }
            ASSERT_TRUE(path.IsLocked());
            AudioFormat f;
            path.GetFormat(&f);
            EXPECT_EQ(f.codingType, CODING_G722);
            const Bytes out(fed.out.begin() + 1, fed.out.end());
            EXPECT_TRUE(IsStretchOf(out, code)) << "the fill or a gap reached the output";
            EXPECT_GE(out.size() + 2 * kBlock, code.size() - static_cast<size_t>(fed.lockedAt));
        }
    }
}
