// Enhanced apt-X engine: lock at any bit offset with the audio 15 frames late,
// wrong modes never lock, user bytes and auxiliary words, saturation, and
// garbage input handled without undefined behaviour.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "codecs/aptx/AptxEnhEngine.h"
#include "codecs/aptx/AptxTestSignals.h"

namespace {

struct EncDeleter {
    void operator()(AptxEnhEncoder* e) const { AptxEnhEncoderFree(e); }
};
struct DecDeleter {
    void operator()(AptxEnhDecoder* d) const { AptxEnhDecoderFree(d); }
};
using Encoder = std::unique_ptr<AptxEnhEncoder, EncDeleter>;
using Decoder = std::unique_ptr<AptxEnhDecoder, DecDeleter>;

constexpr uint8_t kNoUser[3] = {0, 0, 0};

std::vector<uint8_t> Encode(AptxEnhEncoder* enc, const std::vector<int16_t>& pcm, int channels,
                            const uint8_t* user = kNoUser) {
    const size_t frames = pcm.size() / (4 * channels);
    std::vector<uint8_t> code(frames * 2 * channels);
    for (size_t f = 0; f < frames; ++f) {
        int32_t s[8];
        for (int i = 0; i < 4 * channels; ++i) s[i] = pcm[f * 4 * channels + i] * 65536;
        EXPECT_EQ(AptxEnhEncode(enc, s, &code[f * 2 * channels], user), 0);
    }
    return code;
}

// Drops the first `bits` bits of a byte stream (most significant bit first).
std::vector<uint8_t> DropBits(const std::vector<uint8_t>& in, int bits) {
    const int bytes = bits / 8, b = bits % 8;
    std::vector<uint8_t> out(in.size(), 0);
    for (size_t i = 0; i + bytes + 1 < in.size(); ++i)
        out[i] = static_cast<uint8_t>((in[i + bytes] << b) | (b ? in[i + bytes + 1] >> (8 - b) : 0));
    return out;
}

struct DecodeRun {
    int firstSynced = -1;
    int unsyncedAfterLock = 0;
    std::vector<int16_t> aligned;  // output placed at the input period it should reproduce
};

// Output of call n belongs to frame n - 15 (+1 when bits were dropped, as the
// stream's frame n then holds most of the original frame n + 1).
DecodeRun Decode(AptxEnhDecoder* dec, const std::vector<uint8_t>& code, int channels, int frameShift) {
    DecodeRun run;
    const size_t frames = code.size() / (2 * channels);
    run.aligned.assign(frames * 4 * channels, 0);
    for (size_t f = 0; f + 1 < frames; ++f) {
        int32_t s[8];
        uint8_t user[3];
        EXPECT_EQ(AptxEnhDecode(dec, s, &code[f * 2 * channels], user), 0);
        if (!AptxEnhIsSynced(dec)) {
            if (run.firstSynced >= 0) ++run.unsyncedAfterLock;
            continue;
        }
        if (run.firstSynced < 0) run.firstSynced = static_cast<int>(f);
        const long frame = static_cast<long>(f) - 15 + frameShift;
        if (frame < 0) continue;
        for (int i = 0; i < 4 * channels; ++i) run.aligned[static_cast<size_t>(frame) * 4 * channels + i] = static_cast<int16_t>(s[i] >> 16);
    }
    return run;
}

// Delay of the filter banks alone, measured on the coder without the engine.
int CoderDelay(const std::vector<int16_t>& mono) {
    AptxEnhCoderState enc, dec;
    AptxEnhSetupBands(enc, AptxEnhTables16());
    AptxEnhSetupBands(dec, AptxEnhTables16());
    std::vector<int16_t> out(mono.size());
    for (size_t k = 0; k + 4 <= mono.size(); k += 4) {
        int32_t x[4], y[4];
        for (int i = 0; i < 4; ++i) x[i] = mono[k + i] * 256;
        AptxEnhUpdateHistory(enc);
        AptxEnhDither(enc, 3);
        AptxEnhAnalyse(enc, x);
        AptxEnhFinishEncode(enc);
        AptxEnhDither(dec, 3);
        for (int b = 0; b < 4; ++b) dec.band[b].q = enc.band[b].q;
        AptxEnhUpdateHistory(dec);
        AptxEnhSynthesise(dec, y);
        for (int i = 0; i < 4; ++i) out[k + i] = static_cast<int16_t>(std::clamp(y[i] >> 8, -32768, 32767));
    }
    return aptxtest::BestLag(mono, out, 1, 0, 0, 300, 2000, static_cast<int>(mono.size()) - 400).lag;
}

TEST(AptxEnhEngine, LocksAtEveryBitOffsetWithOutputFifteenFramesLate) {
    const uint32_t seed = aptxtest::Seed("AptxEnhEngine.LocksAtEveryBitOffset");
    const int delay = CoderDelay(aptxtest::ProgramNoise(8000, 1, seed));
    for (const int channels : {1, 2}) {
        const int periods = 4 * 4000;
        const std::vector<int16_t> pcm = aptxtest::ProgramNoise(periods, channels, seed + channels);
        Encoder enc(AptxEnhEncoderCreate(0, AptxEnhFormat(channels, 16), 0));
        const std::vector<uint8_t> code = Encode(enc.get(), pcm, channels);
        for (int offset = 0; offset < 16 * channels; ++offset) {
            SCOPED_TRACE(testing::Message() << channels << " channels, offset " << offset);
            Decoder dec(AptxEnhDecoderCreate(0, AptxEnhFormat(channels, 16), 0));
            const DecodeRun run = Decode(dec.get(), DropBits(code, offset), channels, offset ? 1 : 0);
            ASSERT_GE(run.firstSynced, 0);
            EXPECT_LE(run.firstSynced, 47);  // second half, or the third when the first cycle was cut
            EXPECT_EQ(run.unsyncedAfterLock, 0);
            const AptxEnhSyncRecord* rec = AptxEnhGetSyncRecord(dec.get(), 0);
            ASSERT_NE(rec, nullptr);
            EXPECT_EQ(rec->position, (16 * channels - offset) % (16 * channels));
            for (int c = 0; c < channels; ++c) {
                const aptxtest::LagSnr r = aptxtest::BestLag(pcm, run.aligned, channels, c, 0, 300, periods - 4000, periods - 400);
                EXPECT_EQ(r.lag, delay) << "channel " << c;
                EXPECT_GE(r.snr, 25) << "channel " << c;
            }
        }
    }
}

TEST(AptxEnhEngine, WrongModeOrNoSyncNeverLocks) {
    const std::vector<int16_t> mono = aptxtest::Tone(4 * 2000, 1, 9000, 1000);
    const std::vector<int16_t> stereo = aptxtest::Tone(4 * 1000, 2, 9000, 1000, 700);
    Encoder monoEnc(AptxEnhEncoderCreate(0, AptxEnhFormat(1, 16), 0));
    Encoder stereoEnc(AptxEnhEncoderCreate(0, AptxEnhFormat(2, 16), 0));
    Encoder plainEnc(AptxEnhEncoderCreate(0, AptxEnhFormat(1, 16), kAptxEnhNoInsertion));
    const std::vector<uint8_t> monoCode = Encode(monoEnc.get(), mono, 1);
    const std::vector<uint8_t> stereoCode = Encode(stereoEnc.get(), stereo, 2);
    const std::vector<uint8_t> plainCode = Encode(plainEnc.get(), mono, 1);
    struct Case {
        const char* name;
        int decoderChannels;
        const std::vector<uint8_t>* code;
    };
    for (const Case& c : {Case{"stereo decoder, mono stream", 2, &monoCode},
                          Case{"mono decoder, stereo stream", 1, &stereoCode},
                          Case{"insertion off", 1, &plainCode}}) {
        for (int offset = 0; offset < 32; offset += 5) {
            Decoder dec(AptxEnhDecoderCreate(0, AptxEnhFormat(c.decoderChannels, 16), 0));
            const DecodeRun run = Decode(dec.get(), DropBits(*c.code, offset), c.decoderChannels, 0);
            EXPECT_EQ(run.firstSynced, -1) << c.name << ", offset " << offset;
        }
    }
}

TEST(AptxEnhEngine, UserBytesArriveWithFlagsForValidBytesOnly) {
    for (const int channels : {1, 2}) {
        const std::vector<int16_t> pcm = aptxtest::Tone(4 * 800, channels, 9000, 1000, 700);
        const uint8_t blocks[2][3] = {{0xA5, 0x3C, 3}, {0x77, 0x99, 1}};
        // Bit offsets and whole-frame slips move the data bits across the end
        // of the frame and the sync cycle across the halves.
        for (const int drop : {0, 1, 8 * channels + 3, 16 * channels - 1, 16 * channels * 7 + 5})
        for (const auto& block : blocks) {
            Encoder enc(AptxEnhEncoderCreate(0, AptxEnhFormat(channels, 16), 0));
            const std::vector<uint8_t> code = DropBits(Encode(enc.get(), pcm, channels, block), drop);
            Decoder dec(AptxEnhDecoderCreate(0, AptxEnhFormat(channels, 16), 0));
            int arrived = 0;
            for (size_t f = 0; f < code.size() / (2 * channels); ++f) {
                int32_t s[8];
                uint8_t user[3] = {1, 2, 3};
                ASSERT_EQ(AptxEnhDecode(dec.get(), s, &code[f * 2 * channels], user), 0);
                if (!user[2]) continue;
                ASSERT_TRUE(AptxEnhIsSynced(dec.get()));
                EXPECT_EQ(f % 16, 15u);  // only calls that process a half deliver
                EXPECT_EQ(user[2], block[2]) << "frame " << f;
                EXPECT_EQ(user[0], block[0]);
                if (block[2] & 2) {
                    EXPECT_EQ(user[1], block[1]);
                }
                ++arrived;
            }
            EXPECT_GE(arrived, 40) << channels << " channels, " << drop << " bits dropped";
        }
    }
}

TEST(AptxEnhEngine, AuxiliaryWordsArriveAndBadParityIsIgnored) {
    const std::vector<int16_t> pcm = aptxtest::Tone(4 * 16 * 200, 1, 9000, 1000);
    for (const bool spoil : {false, true}) {
        Encoder enc(AptxEnhEncoderCreate(0, AptxEnhFormat(1, 16), 0));
        for (int slot = 0; slot < 16; ++slot) ASSERT_EQ(AptxEnhSetAuxWord(enc.get(), 0, slot, static_cast<uint16_t>(0x1111 * slot + 7)), 0);
        Decoder dec(AptxEnhDecoderCreate(0, AptxEnhFormat(1, 16), 0));
        std::vector<uint16_t> got;
        bool spoiled = false;
        for (size_t f = 0; f < pcm.size() / 4; ++f) {
            // Spoil the parity of the first frame (slot 15) right after it is built.
            const bool due = AptxEnhAuxWordDue(enc.get(), 0) == 1;
            int32_t s[4];
            for (int i = 0; i < 4; ++i) s[i] = pcm[f * 4 + i] * 65536;
            uint8_t code[2];
            ASSERT_EQ(AptxEnhEncode(enc.get(), s, code, kNoUser), 0);
            if (due && spoil && !spoiled) {
                enc->aux[0].frame ^= 1u << 26;  // bit 25 of the frame, one bit already sent
                spoiled = true;
            }
            uint8_t user[3];
            ASSERT_EQ(AptxEnhDecode(dec.get(), s, code, user), 0);
            uint16_t word;
            if (AptxEnhGetAuxWord(dec.get(), 0, &word)) {
                got.push_back(word);
                EXPECT_EQ(AptxEnhGetAuxWord(dec.get(), 0, &word), 0);  // delivered once
            }
        }
        // 200 cycles: frames built in cycles 31, 63, 95, 127, 159, each complete 32 cycles later.
        std::vector<uint16_t> want;
        for (int slot = 15; slot >= 11; --slot) want.push_back(static_cast<uint16_t>(0x1111 * slot + 7));
        if (spoil) want.erase(want.begin());
        EXPECT_EQ(got, want) << (spoil ? "spoiled" : "clean");
    }
}

TEST(AptxEnhEngine, FullScaleSquareWaveSaturatesWithoutWrapping) {
    for (const int channels : {1, 2}) {
        const int periods = 4 * 1500;
        std::vector<int16_t> pcm(static_cast<size_t>(periods) * channels);
        for (int i = 0; i < periods; ++i)
            for (int c = 0; c < channels; ++c) pcm[static_cast<size_t>(i) * channels + c] = (i / 48) % 2 ? -32768 : 32767;
        Encoder enc(AptxEnhEncoderCreate(0, AptxEnhFormat(channels, 16), 0));
        Decoder dec(AptxEnhDecoderCreate(0, AptxEnhFormat(channels, 16), 0));
        const DecodeRun run = Decode(dec.get(), Encode(enc.get(), pcm, channels), channels, 0);
        ASSERT_GE(run.firstSynced, 0);
        const int delay = aptxtest::BestLag(pcm, run.aligned, channels, 0, 0, 300, 2000, periods - 400).lag;
        int16_t lo = 0, hi = 0;
        for (int i = 2000; i < periods - 400; ++i) {
            const int phase = i % 48;
            for (int c = 0; c < channels; ++c) {
                const int16_t want = pcm[static_cast<size_t>(i) * channels + c];
                const int16_t got = run.aligned[static_cast<size_t>(i + delay) * channels + c];
                lo = std::min(lo, got);
                hi = std::max(hi, got);
                // Away from the edges, where the overshoot rings, a wrapped sample would show as a sign flip.
                if (phase >= 12 && phase <= 36) {
                    ASSERT_EQ(want > 0, got > 0) << "wrapped at " << i;
                }
            }
        }
        EXPECT_EQ(hi, 32767);
        EXPECT_EQ(lo, -32768);
    }
}

TEST(AptxEnhEngine, RandomAndCorruptedCodeWordsAreDecodedSafely) {
    const uint32_t seed = aptxtest::Seed("AptxEnhEngine.RandomAndCorruptedCodeWords");
    std::mt19937 rng(seed);
    for (const int channels : {1, 2}) {
        const std::vector<int16_t> pcm = aptxtest::Tone(4 * 600, channels, 30000, 3000, 9000);
        Encoder enc(AptxEnhEncoderCreate(0, AptxEnhFormat(channels, 16), 0));
        std::vector<uint8_t> code = Encode(enc.get(), pcm, channels);
        // Corrupt a word in every frame after the lock: the sync survives a
        // while, the coder sees nonsense.
        for (size_t i = 64 * 2 * channels; i < code.size(); i += 2 * channels) code[i] = static_cast<uint8_t>(rng());
        for (int n = 0; n < 400; ++n) code.push_back(n % 2 ? 0x7F : 0x80);  // extreme values
        for (int n = 0; n < 800; ++n) code.push_back(static_cast<uint8_t>(rng()));
        Decoder dec(AptxEnhDecoderCreate(0, AptxEnhFormat(channels, 16), 0));
        Decode(dec.get(), code, channels, 0);
    }
}

TEST(AptxEnhEngine, ArgumentsAndRefusedFormats) {
    EXPECT_EQ(AptxEnhEncoderCreate(0, AptxEnhFormat(1, 24), 0), nullptr);
    EXPECT_EQ(AptxEnhDecoderCreate(0, AptxEnhFormat(2, 24), 0), nullptr);
    ASSERT_NE(AptxEnhFormatError(AptxEnhFormat(1, 24)), nullptr);
    EXPECT_NE(std::string(AptxEnhFormatError(AptxEnhFormat(1, 24))).find("24-bit"), std::string::npos);
    EXPECT_EQ(AptxEnhFormatError(AptxEnhFormat(2, 16)), nullptr);
    EXPECT_NE(AptxEnhFormatError(AptxEnhFormat(3, 16)), nullptr);
    Encoder enc(AptxEnhEncoderCreate(0, AptxEnhFormat(1, 16), 0));
    EXPECT_EQ(AptxEnhSetAuxWord(enc.get(), 0, 16, 1), 2);
    EXPECT_EQ(AptxEnhSetAuxWord(enc.get(), 1, 0, 1), 2);
    EXPECT_EQ(AptxEnhSetAuxWord(nullptr, 0, 0, 1), 1);
    EXPECT_EQ(AptxEnhSetAuxWord(enc.get(), 0, 15, 1), 0);
    int32_t s[8] = {};
    uint8_t code[4] = {}, user[3] = {};
    EXPECT_EQ(AptxEnhEncode(enc.get(), s, code, nullptr), 1);
    EXPECT_EQ(AptxEnhEncode(nullptr, s, code, user), 1);
    EXPECT_EQ(AptxEnhDecode(nullptr, s, code, user), 1);
    EXPECT_EQ(AptxEnhAtSyncStart(enc.get()), 1);
    EXPECT_EQ(AptxEnhGetSyncRecord(nullptr, 0), nullptr);
    AptxEnhEncoderFree(nullptr);
    AptxEnhDecoderFree(nullptr);
}

TEST(AptxEnhEngine, SignaturesOfTheSixteenBitModesAreUnique) {
    for (const int mode : {1, 3}) {
        const uint32_t odd = static_cast<uint32_t>(AptxEnhModeWord(mode)) & 0xAAAA;
        for (int r = 0; r < 16; r += 2) {
            const uint32_t rot = ((odd << r) | (odd >> (16 - r))) & 0xFFFF;
            EXPECT_EQ(AptxEnhSignature(static_cast<int>((rot | (rot >> 9)) & 0xFF)), (mode << 8) | r) << mode << " " << r;
        }
    }
}

}  // namespace
