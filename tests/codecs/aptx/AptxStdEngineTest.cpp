// Standard apt-X engine: argument checks, sync lock at every bit shift, loss
// and regain of the lock, the bounded candidate search, user data.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "codecs/aptx/AptxStdEngine.h"
#include "codecs/aptx/AptxTestSignals.h"

namespace {

constexpr int kCall = 32;  // sample periods per call: 8 words per channel

struct EngineDeleter {
    void operator()(AptxStdEngine* e) const { AptxStdFree(e); }
};
using Engine = std::unique_ptr<AptxStdEngine, EngineDeleter>;

std::vector<uint16_t> Encode(AptxStdEngine* enc, const std::vector<int16_t>& pcm, int channels) {
    const int periods = static_cast<int>(pcm.size()) / channels;
    std::vector<uint8_t> code(static_cast<size_t>(periods / 4) * channels * 2);
    for (int p = 0; p + kCall <= periods; p += kCall)
        EXPECT_EQ(AptxStdEncode(enc, kCall, &pcm[static_cast<size_t>(p) * channels], &code[static_cast<size_t>(p / 4) * channels * 2], nullptr), 0);
    std::vector<uint16_t> words(code.size() / 2);
    std::memcpy(words.data(), code.data(), code.size());
    return words;
}

// The word stream as one bit stream, most significant bit of each word first,
// delayed by `shift` bits (filled with ones, which never form the pattern alone).
std::vector<uint16_t> Shift(const std::vector<uint16_t>& words, int shift) {
    std::vector<uint16_t> out(words.size());
    for (size_t i = 0; i < out.size(); ++i) {
        uint32_t v = 0;
        for (int b = 0; b < 16; ++b) {
            const long bit = static_cast<long>(i) * 16 + b - shift;
            const uint32_t x = bit < 0 ? 1u : (words[static_cast<size_t>(bit / 16)] >> (15 - bit % 16)) & 1u;
            v = (v << 1) | x;
        }
        out[i] = static_cast<uint16_t>(v);
    }
    return out;
}

struct DecodeRun {
    std::vector<int16_t> pcm;
    int firstLockedCall = -1;
    std::vector<int> results;
};

DecodeRun Decode(AptxStdEngine* dec, const std::vector<uint16_t>& words, int channels) {
    DecodeRun run;
    const int wordsPerCall = kCall / 4 * channels;
    std::vector<int16_t> pcm(static_cast<size_t>(kCall) * channels);
    for (size_t w = 0; w + wordsPerCall <= words.size(); w += wordsPerCall) {
        const int r = AptxStdDecode(dec, kCall, pcm.data(), reinterpret_cast<const uint8_t*>(&words[w]), nullptr);
        run.results.push_back(r);
        if (r == 0 && run.firstLockedCall < 0) run.firstLockedCall = static_cast<int>(run.results.size()) - 1;
        run.pcm.insert(run.pcm.end(), pcm.begin(), pcm.end());
    }
    return run;
}

TEST(AptxStdEngine, LengthsNotAMultipleOf32AreRefused) {
    Engine enc(AptxStdCreate(kAptxStdEncoder, 0, nullptr, 1));
    Engine dec(AptxStdCreate(0, 0, nullptr, 1));
    int16_t pcm[2 * 33] = {};
    uint8_t code[64];
    std::memset(code, 0xA5, sizeof code);
    for (const int length : {16, 33}) {
        EXPECT_EQ(AptxStdEncode(enc.get(), length, pcm, code, nullptr), 2);
        EXPECT_EQ(AptxStdDecode(dec.get(), length, pcm, code, nullptr), 2);
    }
    EXPECT_EQ(code[0], 0xA5);  // nothing written
    EXPECT_EQ(AptxStdEncode(nullptr, 32, pcm, code, nullptr), 2);
    EXPECT_EQ(AptxStdDecode(nullptr, 32, pcm, code, nullptr), 2);
    EXPECT_EQ(AptxStdEncode(enc.get(), 32, pcm, code, nullptr), 0);  // exactly 8 words
    EXPECT_EQ(AptxStdCreate(0, 0, nullptr, 3), nullptr);
    EXPECT_EQ(AptxStdCreate(0, 8, nullptr, 1), nullptr);
    AptxStdFree(nullptr);
}

TEST(AptxStdEngine, LocksWithinThreeBlocksAtEveryShift) {
    for (const int channels : {1, 2}) {
        const std::vector<int16_t> pcm = aptxtest::Tone(128 * 4 * 40, channels, 10000, 1000, 1700);
        Engine enc(AptxStdCreate(kAptxStdEncoder, 0, nullptr, channels));
        const std::vector<uint16_t> words = Encode(enc.get(), pcm, channels);
        for (int shift = 0; shift <= 31; ++shift) {
            Engine dec(AptxStdCreate(0, 0, nullptr, channels));
            const DecodeRun run = Decode(dec.get(), Shift(words, shift), channels);
            SCOPED_TRACE(testing::Message() << channels << " channels, shift " << shift);
            // Three blocks of 128 words are 48 calls; the pattern of the third
            // ends at most two words later.
            ASSERT_GE(run.firstLockedCall, 0);
            EXPECT_LE(run.firstLockedCall, 48);
            for (size_t i = run.firstLockedCall; i < run.results.size(); ++i) ASSERT_EQ(run.results[i], 0) << "call " << i;
            for (size_t i = 0; i < static_cast<size_t>(run.firstLockedCall) * kCall * channels; ++i) ASSERT_EQ(run.pcm[i], 0);
            // Locked at the right offset: the tail decodes the tone cleanly.
            const int periods = static_cast<int>(pcm.size()) / channels;
            for (int c = 0; c < channels; ++c) {
                const aptxtest::LagSnr r = aptxtest::BestLag(pcm, run.pcm, channels, c, 0, 200, periods - 6000, periods - 400);
                EXPECT_GE(r.snr, 40) << "channel " << c;
            }
        }
    }
}

TEST(AptxStdEngine, OneCorruptBlockKeepsTheLockThreeDropIt) {
    const std::vector<int16_t> pcm = aptxtest::Tone(128 * 4 * 20, 1, 10000, 1000);
    Engine enc(AptxStdCreate(kAptxStdEncoder, 0, nullptr, 1));
    const std::vector<uint16_t> clean = Encode(enc.get(), pcm, 1);
    auto corrupt = [&](std::vector<uint16_t> w, int firstBlock, int blocks) {
        for (int b = firstBlock; b < firstBlock + blocks; ++b)
            for (int slot = 118; slot < 128; ++slot) w[static_cast<size_t>(b) * 128 + slot] ^= 0x80;
        return w;
    };
    {
        Engine dec(AptxStdCreate(0, 0, nullptr, 1));
        const DecodeRun run = Decode(dec.get(), corrupt(clean, 5, 1), 1);
        ASSERT_GE(run.firstLockedCall, 0);
        for (size_t i = run.firstLockedCall; i < run.results.size(); ++i) EXPECT_EQ(run.results[i], 0) << "call " << i;
    }
    {
        Engine dec(AptxStdCreate(0, 0, nullptr, 1));
        const DecodeRun run = Decode(dec.get(), corrupt(clean, 5, 3), 1);
        // Lost at the third bad block (block 7, calls 112..127), found again
        // after three good blocks (8, 9, 10).
        bool lost = false, regained = false;
        for (size_t i = 112; i < run.results.size(); ++i) {
            if (run.results[i] == 1) lost = true;
            if (lost && run.results[i] == 0) regained = true;
        }
        EXPECT_TRUE(lost);
        EXPECT_TRUE(regained);
        for (size_t i = 16 * 11; i < run.results.size(); ++i) EXPECT_EQ(run.results[i], 0) << "call " << i;
    }
}

TEST(AptxStdEngine, PeriodicStreamCannotStallTheSearch) {
    // Every bit position repeats the pattern every 10 words, at word positions
    // that move from block to block: far more than 32 live candidates.
    const int pattern = kAptxStdSyncPatterns[0];
    std::vector<uint16_t> words(128 * 12);
    for (size_t j = 0; j < words.size(); ++j) {
        uint16_t v = 0;
        for (int k = 0; k < 16; ++k) v |= static_cast<uint16_t>(((pattern >> (9 - (j + 3 * k) % 10)) & 1) << k);
        words[j] = v;
    }
    Engine dec(AptxStdCreate(0, 0, nullptr, 1));
    const DecodeRun run = Decode(dec.get(), words, 1);
    EXPECT_EQ(run.results.size(), words.size() / 8);
    EXPECT_GT(dec->tracker->evictions, 0u);
}

TEST(AptxStdEngine, NoSyncPatternEmbedsNothing) {
    const std::vector<int16_t> pcm = aptxtest::Tone(128 * 4 * 2, 1, 10000, 1000);
    Engine without(AptxStdCreate(kAptxStdEncoder, -1, nullptr, 1));
    const std::vector<uint16_t> b = Encode(without.get(), pcm, 1);
    // Every word is a plain 4-bit-LH word from the coder, bit 7 untouched.
    AptxStdChannel ch;
    AptxStdResetChannel(ch);
    for (size_t w = 0; w < b.size(); ++w) ASSERT_EQ(b[w], AptxStdEncodeWord(ch, &pcm[4 * w], false, false)) << w;
    // A decoder without a pattern decodes from the first word.
    Engine dec(AptxStdCreate(0, -1, nullptr, 1));
    const DecodeRun run = Decode(dec.get(), b, 1);
    EXPECT_EQ(run.firstLockedCall, 0);
}

TEST(AptxStdEngine, BigEndianOptionsSwapBytesOnly) {
    const std::vector<int16_t> pcm = aptxtest::Tone(128 * 4 * 4, 2, 10000, 1000, 3000);
    std::vector<int16_t> swappedPcm(pcm.size());
    for (size_t i = 0; i < pcm.size(); ++i) swappedPcm[i] = static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(pcm[i])));
    Engine native(AptxStdCreate(kAptxStdEncoder, 0, nullptr, 2));
    Engine big(AptxStdCreate(kAptxStdEncoder | kAptxStdPcmBigEndian | kAptxStdCodeBigEndian, 0, nullptr, 2));
    const std::vector<uint16_t> a = Encode(native.get(), pcm, 2);
    const std::vector<uint16_t> b = Encode(big.get(), swappedPcm, 2);
    for (size_t i = 0; i < a.size(); ++i) ASSERT_EQ(a[i], __builtin_bswap16(b[i])) << i;
    Engine decA(AptxStdCreate(0, 0, nullptr, 2));
    Engine decB(AptxStdCreate(kAptxStdPcmBigEndian | kAptxStdCodeBigEndian, 0, nullptr, 2));
    const DecodeRun ra = Decode(decA.get(), a, 2);
    const DecodeRun rb = Decode(decB.get(), b, 2);
    ASSERT_EQ(ra.firstLockedCall, rb.firstLockedCall);
    for (size_t i = 0; i < ra.pcm.size(); ++i) ASSERT_EQ(ra.pcm[i], static_cast<int16_t>(__builtin_bswap16(static_cast<uint16_t>(rb.pcm[i])))) << i;
}

TEST(AptxStdEngine, UserDataInModeOne) {
    for (const int sync : {-1, 0}) {
        const int modes[2] = {1, 1};
        Engine enc(AptxStdCreate(kAptxStdEncoder, sync, modes, 2));
        Engine dec(AptxStdCreate(0, sync, modes, 2));
        const std::vector<int16_t> pcm = aptxtest::Tone(kCall * 80, 2, 8000, 1000, 2000);
        int delivered = 0;
        for (int call = 0; call < 80; ++call) {
            uint8_t bytes[2] = {static_cast<uint8_t>(call), static_cast<uint8_t>(0xC0 + call)};
            AptxUserData out[2] = {{&bytes[0], 1}, {&bytes[1], 1}};
            uint8_t code[kCall / 4 * 2 * 2];
            ASSERT_EQ(AptxStdEncode(enc.get(), kCall, &pcm[static_cast<size_t>(call) * kCall * 2], code, out), 0);
            int16_t dpcm[kCall * 2];
            AptxUserData in[2];
            const int r = AptxStdDecode(dec.get(), kCall, dpcm, code, in);
            if (r != 0) {
                EXPECT_EQ(in[0].bytes, nullptr);
                continue;
            }
            ASSERT_EQ(in[0].mask, 1) << "call " << call;
            ASSERT_EQ(in[1].mask, 1);
            EXPECT_EQ(in[0].bytes[0], bytes[0]);
            EXPECT_EQ(in[1].bytes[0], bytes[1]);
            ++delivered;
        }
        EXPECT_GE(delivered, sync < 0 ? 80 : 30);
    }
}

TEST(AptxStdEngine, StuffedUserDataArrivesWhole) {
    const int modes[1] = {1};
    Engine enc(AptxStdCreate(kAptxStdEncoder | kAptxStdStuffed, -1, modes, 1));
    Engine dec(AptxStdCreate(kAptxStdStuffed, -1, modes, 1));
    const std::vector<int16_t> pcm = aptxtest::Tone(kCall * 4 * 40, 1, 8000, 1000);
    std::vector<uint8_t> sent, got;
    for (int call = 0; call < 40; ++call) {
        // Four groups per call; send a byte in every other call: 10-bit units
        // straddle groups and calls.
        uint8_t bytes[2] = {static_cast<uint8_t>(0x5A ^ call), static_cast<uint8_t>(call)};
        AptxUserData out{bytes, call % 2 ? 0 : 3};
        if (!(call % 2)) sent.insert(sent.end(), bytes, bytes + 2);
        uint8_t code[kCall * 2];
        ASSERT_EQ(AptxStdEncode(enc.get(), kCall * 4, &pcm[static_cast<size_t>(call) * kCall * 4], code, &out), 0);
        int16_t dpcm[kCall * 4];
        AptxUserData in;
        ASSERT_EQ(AptxStdDecode(dec.get(), kCall * 4, dpcm, code, &in), 0);
        for (int i = 0; i < 32; ++i)
            if (static_cast<uint32_t>(in.mask) & (1u << i)) got.push_back(in.bytes[i]);
    }
    EXPECT_EQ(got, sent);
}

TEST(AptxStdEngine, ReceiveBufferIsBounded) {
    const int modes[1] = {1};
    Engine enc(AptxStdCreate(kAptxStdEncoder, -1, modes, 1));
    Engine dec(AptxStdCreate(0, -1, modes, 1));
    // One call of 2048 periods carries 64 bytes; the buffer keeps 32.
    std::vector<int16_t> pcm(2048, 0);
    std::vector<uint8_t> code(1024);
    ASSERT_EQ(AptxStdEncode(enc.get(), 2048, pcm.data(), code.data(), nullptr), 0);
    AptxUserData in;
    ASSERT_EQ(AptxStdDecode(dec.get(), 2048, pcm.data(), code.data(), &in), 0);
    EXPECT_EQ(in.mask, -1);
    EXPECT_EQ(dec->user[0].dropped, 32u);
}

TEST(AptxStdEngine, RandomAndCorruptedWordsDecodeSafely) {
    const uint32_t seed = aptxtest::Seed("AptxStdEngine.RandomAndCorruptedWordsDecodeSafely");
    std::mt19937 rng(seed);
    for (const int channels : {1, 2}) {
        const std::vector<int16_t> pcm = aptxtest::Tone(128 * 4 * 8, channels, 32000, 3000, 11000);
        Engine enc(AptxStdCreate(kAptxStdEncoder, 0, nullptr, channels));
        std::vector<uint16_t> words = Encode(enc.get(), pcm, channels);
        // Keep the sync slots, spoil the audio bits: the lock holds and the
        // coder meets every kind of code.
        for (size_t i = 0; i < words.size(); ++i) words[i] ^= static_cast<uint16_t>(rng() & 0xFF7F);
        for (int n = 0; n < 128 * 4 * channels; ++n) words.push_back(static_cast<uint16_t>(rng()));
        for (int n = 0; n < 128 * 4 * channels; ++n) words.push_back(n % 2 ? 0x7FFF : 0x8000);
        Engine dec(AptxStdCreate(0, 0, nullptr, channels));
        const DecodeRun run = Decode(dec.get(), words, channels);
        EXPECT_GE(run.firstLockedCall, 0);
    }
}

}  // namespace
