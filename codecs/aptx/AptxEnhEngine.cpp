#include "codecs/aptx/AptxEnhEngine.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace {

constexpr int32_t kModeWords[12] = {0,      0x0002, 0x082A, 0x000A, 0x088A, 0x0022,
                                    0x08A2, 0x002A, 0,      0x0082, 0x0A22, 0x008A};

constexpr std::array<int32_t, 256> MakeSignatures() {
    std::array<int32_t, 256> t{};
    for (int32_t& e : t) e = 0xFFFF00;
    for (int m = 0; m < 12; ++m) {
        const uint32_t odd = static_cast<uint32_t>(kModeWords[m]) & 0xAAAA;
        if (!odd) continue;
        for (int r = 0; r < 16; r += 2) {
            const uint32_t rot = ((odd << r) | (odd >> (16 - r))) & 0xFFFF;
            t[(rot | (rot >> 9)) & 0xFF] = (m << 8) | r;
        }
    }
    return t;
}
constexpr std::array<int32_t, 256> kSignatures = MakeSignatures();

int Channels(int32_t format) { return format & 0xFFFF; }
int Width(int32_t format) { return (format >> 16) & 0xFFFF; }

int32_t Bswap32(uint32_t v) { return static_cast<int32_t>(__builtin_bswap32(v)); }

// 16-bit sample out of its container, as an internal 24-bit value.
int32_t ReadSample(int32_t c, bool swapped) {
    const int32_t s = swapped ? static_cast<int16_t>(Bswap32(static_cast<uint32_t>(c)) & 0xFFFF) : (c >> 16);
    return s * 256;
}

int32_t WriteSample(int32_t s, bool swapped) {
    const uint32_t u = static_cast<uint32_t>(s) & 0xFFFF;
    return swapped ? static_cast<int32_t>(((u & 0xFF) << 24) | ((u >> 8) << 16)) : static_cast<int32_t>(u << 16);
}

template <typename Object>
void InitChannel(Object& o, AptxEnhChannel& ch, int32_t mode) {
    o.ditherState = 12345;
    ch.modeIndex = mode;
    ch.modeWord = kModeWords[mode & 11];
    ch.width = 16 + 8 * ((mode >> 3) & 1);
    ch.halfRange = 1 << (ch.width - 1);
    ch.parityMask = (mode & 2) ? 2 : 3;
    ch.coder.history = 0;
    AptxEnhSetupBands(ch.coder, AptxEnhTables16());
}

uint32_t BuildAuxFrame(uint16_t word, int slot) {
    const uint32_t parity = static_cast<uint32_t>(__builtin_parity(word) ^ __builtin_parity(slot));
    return 0x7C000000u | (parity << 25) | (static_cast<uint32_t>(slot) << 20) |
           (static_cast<uint32_t>(word >> 12) << 15) | (static_cast<uint32_t>((word >> 8) & 15) << 10) |
           (static_cast<uint32_t>((word >> 4) & 15) << 5) | (word & 15u);
}

int AuxStep(AptxEnhAuxSender& a) {
    if (--a.countdown <= 0) {
        a.slot = (a.slot - 1) & 15;
        a.frame = BuildAuxFrame(a.words[a.slot], a.slot);
        a.built = 1;
        a.countdown = 32;
    }
    const int bit = static_cast<int>(a.frame >> 31);
    a.frame <<= 1;
    return bit;
}

bool AuxFrameValid(uint32_t reg, uint16_t& word, int& slot) {
    if ((reg & 0xFD084210u) != 0x7C000000u) return false;
    slot = static_cast<int>((reg >> 20) & 15);
    word = static_cast<uint16_t>((((reg >> 15) & 15) << 12) | (((reg >> 10) & 15) << 8) | (((reg >> 5) & 15) << 4) |
                                 (reg & 15));
    const int parity = __builtin_parity(word) ^ __builtin_parity(static_cast<unsigned>(slot));
    return static_cast<int>((reg >> 25) & 1) == parity;
}

int P1(const AptxEnhChannel& ch) {
    const AptxEnhSubband* b = ch.coder.band;
    return ((b[0].q ^ b[1].q ^ b[2].q ^ b[3].q) & 1) ^ ((ch.coder.ditherParity >> 1) & 1);
}
int P0(const AptxEnhChannel& ch) {
    const AptxEnhSubband* b = ch.coder.band;
    return ((b[1].q ^ b[2].q) & 1) ^ (ch.coder.ditherParity & 1);
}
void Flip(AptxEnhChannel& ch, int band) { std::swap(ch.coder.band[band].q, ch.coder.band[band].alt); }
int Best(const AptxEnhChannel& ch) {
    const AptxEnhSubband* b = ch.coder.band;
    int best = 1;
    if (!(b[1].err < b[2].err)) best = 2;
    if (b[0].err < b[best].err) best = 0;
    if (b[3].err < b[best].err) best = 3;
    return best;
}

void ForceParity(AptxEnhEncoder* e, int b, bool hasData, int v) {
    AptxEnhChannel& c0 = e->channel[0];
    if (e->channels < 2) {
        if (hasData) {
            if (P0(c0) != v) Flip(c0, c0.coder.band[1].err < c0.coder.band[2].err ? 1 : 2);
            if (P1(c0) != b) Flip(c0, c0.coder.band[3].err < c0.coder.band[0].err ? 3 : 0);
        } else if (P1(c0) != b) {
            Flip(c0, Best(c0));
        }
        return;
    }
    AptxEnhChannel& c1 = e->channel[1];
    if (hasData) {
        if (P1(c1) != v) Flip(c1, Best(c1));
        if ((P1(c0) ^ P1(c1)) != b) Flip(c0, Best(c0));
    } else if ((P1(c0) ^ P1(c1)) != b) {
        const int b0 = Best(c0), b1 = Best(c1);
        if (c1.coder.band[b1].err <= c0.coder.band[b0].err)
            Flip(c1, b1);
        else
            Flip(c0, b0);
    }
}

uint32_t Pack(const AptxEnhChannel& ch) {
    const AptxEnhSubband* b = ch.coder.band;
    uint32_t p = static_cast<uint32_t>((b[1].q ^ b[2].q) & 1);
    p = p + 2 * ((p ^ static_cast<uint32_t>(b[0].q) ^ static_cast<uint32_t>(b[3].q)) & 1);
    p ^= static_cast<uint32_t>(ch.coder.ditherParity);
    uint32_t c = p;
    c = ((c << b[3].table->bits) + (static_cast<uint32_t>(b[3].q) & static_cast<uint32_t>(b[3].mask))) >> 1;
    c = (c << b[2].table->bits) + (static_cast<uint32_t>(b[2].q) & static_cast<uint32_t>(b[2].mask));
    c = ((c << b[1].table->bits) + (static_cast<uint32_t>(b[1].q) & static_cast<uint32_t>(b[1].mask))) >> 1;
    c = (c << b[0].table->bits) + (static_cast<uint32_t>(b[0].q) & static_cast<uint32_t>(b[0].mask));
    return c & ((1u << ch.width) - 1);
}

int32_t SignExtend(uint32_t v, int bits) {
    const uint32_t m = 1u << (bits - 1);
    return static_cast<int32_t>((v & ((m << 1) - 1)) ^ m) - static_cast<int32_t>(m);
}

void Unpack(AptxEnhChannel& ch, uint32_t c) {
    AptxEnhSubband* b = ch.coder.band;
    const int b0 = b[0].table->bits, b1 = b[1].table->bits, b2 = b[2].table->bits, b3 = b[3].table->bits;
    const int32_t q0 = SignExtend(c, b0);
    c >>= b0;
    const int32_t q1 = SignExtend(c, b1 - 1) * 2;
    c >>= b1 - 1;
    const int32_t q2 = SignExtend(c, b2);
    c >>= b2;
    const int32_t q3 = SignExtend(c, b3 - 1) * 2;
    c = (c >> (b3 - 1)) ^ static_cast<uint32_t>(ch.coder.ditherParity);
    b[0].q = q0;
    b[1].q = q1 | static_cast<int32_t>((c ^ static_cast<uint32_t>(q2)) & 1);
    b[2].q = q2;
    b[3].q = q3 | static_cast<int32_t>((c ^ (c >> 1) ^ static_cast<uint32_t>(q0)) & 1);
}

// Sync tracking over the half of 16 frames that starts at ring frame `start`.
void ProcessHalf(AptxEnhDecoder* d, int start, uint8_t* user) {
    AptxEnhTracker& t = d->tracker;
    const int n = t.bitsPerFrame;
    const int bytes = n / 8;
    for (AptxEnhSyncRecord& r : t.record) r.stateAtHalfStart = r.state;
    for (int i = 0; i < n; ++i) {
        uint32_t bits = 0;
        for (int f = 0; f < 16; ++f) bits = (bits << 1) | ((t.ring[(start + f) * bytes + (i >> 3)] >> (7 - (i & 7))) & 1u);
        t.history[i] = (t.history[i] << 16) | bits;
    }
    AptxEnhSyncRecord& r0 = t.record[0];
    if (t.sync) {
        const uint32_t x = t.history[r0.position] << (r0.phase & 1);
        if (__builtin_popcount((x ^ (x >> 16)) & 0xAAAA) >= 2) {
            // Both records go: a second channel left locked would decode noise.
            r0.state = 0;
            t.record[1].state = 0;
            t.sync = 0;
        }
    }
    if (!t.sync) {
        for (int i = 0; i < n && !t.sync; ++i) {
            const uint32_t b = t.history[i];
            const uint32_t x = b ^ (b >> 16);
            for (int f = 0; f < 2; ++f) {
                const uint32_t s = (b << f) & 0xAAAAAAAAu;
                if ((s >> 16) != (s & 0xFFFF)) continue;
                const int32_t e = kSignatures[(s | (s >> 9)) & 0xFF];
                const int32_t cand = (e & ~0xFF) | (((e & 15) - f) & 15);
                if (!((x >> ((cand + 14) & 15)) & 1)) continue;
                const int mode = cand >> 8;
                if (!(cand & 0x100) || cand >= 0xC00 || mode != t.expectedMode) continue;
                if ((cand & 0x200) && d->channels < 2) continue;
                t.sync = 1;
                const int w = 16 + 8 * ((mode >> 3) & 1);
                const bool stereo = (cand & 0x200) != 0;
                r0.mode = mode;
                r0.phase = cand & 0xFF;
                r0.position = static_cast<int16_t>(i);
                r0.width = static_cast<int16_t>(w);
                r0.stereo = stereo;
                r0.needsInit = 1;
                r0.state = stereo ? 2 : 1;
                if (stereo) {
                    AptxEnhSyncRecord& r1 = t.record[1];
                    r1.state = 3;
                    r1.width = static_cast<int16_t>(w);
                    r1.mode = mode;
                    r1.phase = r0.phase;
                    r1.stereo = 1;
                    r1.needsInit = 1;
                    r1.position = static_cast<int16_t>(i + w);
                }
                break;
            }
        }
    }
    for (AptxEnhSyncRecord& r : t.record) {
        if (r.state != 1 && r.state != 2) continue;
        const int pos = r.position;
        uint32_t f = (t.history[pos] >> r.phase) & 0x5555;
        if (user) {
            const int k = r.stereo ? r.width : 1;
            uint32_t data;
            if (pos + k < n) {
                data = t.history[pos + k] >> r.phase;
            } else if (r.phase > 0) {
                data = t.history[pos + k - n] >> (r.phase - 1);
            } else {
                data = t.history[pos + k - n] >> 15;
                f = (t.history[pos] >> 16) & 0x5555;
            }
            user[0] = static_cast<uint8_t>(data >> 8);
            user[1] = static_cast<uint8_t>(data);
            user[2] = static_cast<uint8_t>(((f & 0x100) ? 1 : 0) | ((f & 1) ? 2 : 0));
        }
        r.auxRegister = (r.auxRegister << 1) | ((f >> 6) & 1);
        uint16_t word;
        int slot;
        if (AuxFrameValid(r.auxRegister, word, slot)) {
            r.auxWords[slot] = word;
            r.newWord = 1;
            r.newestSlot = static_cast<int16_t>(slot);
        }
    }
}

}  // namespace

int32_t AptxEnhModeWord(int32_t modeIndex) { return modeIndex >= 0 && modeIndex < 12 ? kModeWords[modeIndex] : 0; }
int32_t AptxEnhSignature(int fold) { return kSignatures[fold & 0xFF]; }

const char* AptxEnhFormatError(int32_t format) {
    const int ch = Channels(format);
    if (ch < 1 || ch > 2) return "enhanced apt-X carries one or two channels";
    if (Width(format) == 24) return "24-bit enhanced apt-X is not supported (16-bit only)";
    return nullptr;
}

int AptxEnhEncoderInit(AptxEnhEncoder* e, int32_t options, int32_t format, int32_t optionWord) {
    if (!e) return 1;
    if (AptxEnhFormatError(format)) return 2;
    *e = AptxEnhEncoder{};
    e->options = options;
    e->channels = static_cast<int16_t>(Channels(format));
    e->width = static_cast<int16_t>(Width(format));
    e->optionWord = optionWord;
    e->counter = 15;
    e->stereo = e->channels == 2;
    for (int c = 0; c < e->channels; ++c) {
        const int32_t mode = (e->channels == 2 ? 2 : 0) | (c == 0 ? 1 : 0);
        InitChannel(*e, e->channel[c], mode);
        e->aux[c].countdown = 31;
        e->aux[c].built = 0;
    }
    return 0;
}

AptxEnhEncoder* AptxEnhEncoderCreate(int32_t options, int32_t format, int32_t optionWord) {
    if (AptxEnhFormatError(format)) return nullptr;
    AptxEnhEncoder* e = new (std::nothrow) AptxEnhEncoder;
    if (e) AptxEnhEncoderInit(e, options, format, optionWord);
    return e;
}

void AptxEnhEncoderFree(AptxEnhEncoder* e) { delete e; }

int AptxEnhEncode(AptxEnhEncoder* e, const int32_t* samples, uint8_t* code, const uint8_t* user) {
    if (!e || !user) return 1;
    const int n = e->channels;
    const bool insert = (static_cast<uint32_t>(e->optionWord) >> 16) != 1;
    if (insert && e->counter == 15) {
        for (int c = 0; c < n; ++c) {
            e->channel[c].modeWord ^= 0x4000;
            e->syncWord[c] = e->channel[c].modeWord;
            e->userMask[c] = 0;
            e->userBits[c] = 0;
        }
        if (user[2] & 1) {
            e->userMask[0] |= 0xFF00;
            e->userBits[0] |= user[0] << 8;
            e->syncWord[0] |= 0x0100;
        }
        if (user[2] & 2) {
            e->userMask[0] |= 0x00FF;
            e->userBits[0] |= user[1];
            e->syncWord[0] |= 0x0001;
        }
        for (int c = 0; c < n; ++c)
            if (AuxStep(e->aux[c])) e->syncWord[c] |= 0x0040;
    }
    const bool swapped = e->options & kAptxEnhSwappedContainers;
    for (int c = 0; c < n; ++c) {
        int32_t x[4];
        for (int p = 0; p < 4; ++p) x[p] = ReadSample(samples[p * n + c], swapped);
        AptxEnhCoderState& s = e->channel[c].coder;
        AptxEnhUpdateHistory(s);
        AptxEnhDither(s, e->channel[c].parityMask);
        AptxEnhAnalyse(s, x);
    }
    if (insert) {
        const int b = (e->syncWord[0] >> e->counter) & 1;
        const bool hasData = (e->userMask[0] >> e->counter) & 1;
        ForceParity(e, b, hasData, (e->userBits[0] >> e->counter) & 1);
        e->counter = e->counter == 0 ? 15 : e->counter - 1;
    }
    uint32_t words[2] = {};
    for (int c = 0; c < n; ++c) {
        AptxEnhFinishEncode(e->channel[c].coder);
        words[c] = Pack(e->channel[c]);
    }
    if (insert && n == 2) words[0] ^= words[1] & static_cast<uint32_t>(e->channel[0].halfRange);
    for (int c = 0; c < n; ++c) {
        code[2 * c] = static_cast<uint8_t>(words[c] >> 8);
        code[2 * c + 1] = static_cast<uint8_t>(words[c]);
    }
    return 0;
}

int AptxEnhDecoderInit(AptxEnhDecoder* d, int32_t options, int32_t format) {
    if (!d) return 1;
    if (AptxEnhFormatError(format)) return 2;
    *d = AptxEnhDecoder{};
    d->options = options;
    d->channels = static_cast<int16_t>(Channels(format));
    d->width = 16;
    d->ditherState = 12345;
    AptxEnhTracker& t = d->tracker;
    t.channels = d->channels;
    t.bitsPerFrame = static_cast<uint16_t>(16 * d->channels);
    t.expectedMode = d->channels == 2 ? 3 : 1;
    return 0;
}

AptxEnhDecoder* AptxEnhDecoderCreate(int32_t options, int32_t format, int32_t /*unused*/) {
    if (AptxEnhFormatError(format)) return nullptr;
    AptxEnhDecoder* d = new (std::nothrow) AptxEnhDecoder;
    if (d) AptxEnhDecoderInit(d, options, format);
    return d;
}

void AptxEnhDecoderFree(AptxEnhDecoder* d) { delete d; }

int AptxEnhIsSynced(const AptxEnhDecoder* d) { return d && d->tracker.sync ? 1 : 0; }

int AptxEnhDecode(AptxEnhDecoder* d, int32_t* samples, const uint8_t* code, uint8_t* user) {
    if (!d || !user) return 1;
    user[0] = user[1] = user[2] = 0;
    AptxEnhTracker& t = d->tracker;
    const int bytes = t.bitsPerFrame / 8;
    const int ringBytes = 32 * bytes;
    const int current = t.fill;
    std::memcpy(t.ring + current * bytes, code, static_cast<size_t>(bytes));
    t.fill = (t.fill + 1) & 31;
    if (current == 15) ProcessHalf(d, 0, user);
    if (current == 31) ProcessHalf(d, 16, user);
    const int n = d->channels;
    if (!t.sync) {
        std::memset(samples, 0, sizeof(int32_t) * 4 * static_cast<size_t>(n));
        return 0;
    }
    const int frame = (current - 15) & 31;
    int32_t out[2][4] = {};
    for (int c = 0; c < n; ++c) {
        AptxEnhSyncRecord& r = t.record[c];
        if (r.state == 0) continue;
        AptxEnhChannel& ch = d->channel[c];
        if (r.stateAtHalfStart == 0 && r.needsInit) {
            InitChannel(*d, ch, r.mode);
            r.needsInit = 0;
        }
        const int w = r.width;
        uint32_t v = 0;
        const int base = frame * bytes + (r.position >> 3);
        for (int j = 0; j < 4; ++j) v = (v << 8) | t.ring[(base + j) % ringBytes];
        uint32_t value = (v >> (32 - (r.position & 7) - w - 1)) & ((2u << w) - 1);
        if (r.state == 2) value = (value << w) ^ value;
        const uint32_t word = (value >> 1) & ((1u << w) - 1);
        AptxEnhDither(ch.coder, ch.parityMask);
        Unpack(ch, word);
        AptxEnhUpdateHistory(ch.coder);
        AptxEnhSynthesise(ch.coder, out[c]);
    }
    const bool swapped = d->options & kAptxEnhSwappedContainers;
    uint32_t s = static_cast<uint16_t>(d->ditherState);
    for (int p = 0; p < 4; ++p)
        for (int c = 0; c < n; ++c) {
            s = ((s * 214013u + 2531011u) >> 16) & 0x7FFF;
            const int64_t v = (int64_t{out[c][p]} + (s >> 8)) >> 8;
            samples[p * n + c] = WriteSample(static_cast<int32_t>(std::clamp<int64_t>(v, -32768, 32767)), swapped);
        }
    d->ditherState = static_cast<int16_t>(s);
    return 0;
}

int AptxEnhSetAuxWord(AptxEnhEncoder* e, int channel, int slot, uint16_t word) {
    if (!e) return 1;
    if (channel < 0 || channel >= e->channels || slot < 0 || slot > 15) return 2;
    e->aux[channel].words[slot] = word;
    return 0;
}

int AptxEnhAtSyncStart(const AptxEnhEncoder* e) { return e && e->counter == 15 ? 1 : 0; }

int AptxEnhAuxWordDue(AptxEnhEncoder* e, int channel) {
    if (!e || channel < 0 || channel >= e->channels) return 0;
    if (e->counter != 15 || e->aux[channel].countdown != 1) return 0;
    e->aux[channel].built = 0;
    return 1;
}

const AptxEnhSyncRecord* AptxEnhGetSyncRecord(const AptxEnhDecoder* d, int channel) {
    if (!d || channel < 0 || channel >= d->channels) return nullptr;
    return &d->tracker.record[channel];
}

int AptxEnhGetAuxWord(AptxEnhDecoder* d, int channel, uint16_t* word) {
    if (!d || !word || channel < 0 || channel >= d->channels) return 0;
    AptxEnhSyncRecord& r = d->tracker.record[channel];
    if (!r.newWord) return 0;
    *word = r.auxWords[r.newestSlot];
    r.newWord = 0;
    return 1;
}
