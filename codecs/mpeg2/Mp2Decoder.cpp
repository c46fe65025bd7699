#include "codecs/mpeg2/Mp2Decoder.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <new>

#include "codecs/MulAdd.h"
#include "codecs/mp3dec/Mp3Kernels.h"
#include "codecs/mpeg2/Mp2Kernels.h"
#include "codecs/mpeg2/Mp2LaneDct.h"
#include "codecs/SubbandDct.h"
#include "codecs/mpeg2/Mp2Filters.h"
#include "codecs/mpeg2/Spl.h"
#include "codecs/mpeg2/tables/window_synthesis_D_B3.h"

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

namespace {

constexpr uint32_t kDecoderGuard = 41093;
constexpr int kSearchBits = 23040;
constexpr float kPcmScale = 32768.0f;

struct SynthesisTables {
    CSubbandDct dct;
    CMp2LaneDct laneDct;
    // Full width: the window on the 16-bit scale (a power of two, so every
    // product and sum is the unscaled one times 32768, bit for bit).
    float d32[512];
    float d16[256];
    SynthesisTables() {
        for (int i = 0; i < 512; ++i) d32[i] = static_cast<float>(mp2tab::kWindowSynthesisDB3[i][1]) * kPcmScale;
        // Half width: the standard window taken at every second tap, which
        // keeps the prototype's shape over half as many bands and a tone's level.
        for (int i = 0; i < 256; ++i) d16[i] = static_cast<float>(mp2tab::kWindowSynthesisDB3[2 * i][1]);
    }
};

const SynthesisTables& Synth() {
    static const SynthesisTables kTables;
    return kTables;
}

// The three values of each grouped codeword, split once instead of by two
// divisions per codeword; kBadCode where the third value is out of range.
constexpr uint32_t kBadCode = 0xFFFFFFFF;
struct GroupedCodes {
    uint32_t split[mp2::kClassCount][1024] = {};
    double level[mp2::kClassCount][9] = {};  // the requantised value of each step, as the loop would make it
    GroupedCodes() {
        for (int i = 0; i < mp2::kClassCount; ++i) {
            const mp2::QuantClass& q = mp2::Class(i);
            if (!q.grouped || q.bits > 10) continue;
            const uint32_t steps = static_cast<uint32_t>(q.steps);
            for (uint32_t code = 0; code < (1u << q.bits); ++code) {
                const uint32_t v0 = code % steps, v1 = (code / steps) % steps, v2 = code / steps / steps;
                split[i][code] = v2 >= steps ? kBadCode : (v0 | (v1 << 8) | (v2 << 16));
            }
            const double unit = 1.0 / static_cast<double>(1 << (q.fracBits - 1));
            for (uint32_t v = 0; v < steps && v < 9; ++v) level[i][v] = q.c * (static_cast<double>(v) * unit - 1.0 + q.d);
        }
    }
};

const GroupedCodes& Grouped() {
    static const GroupedCodes kCodes;
    return kCodes;
}

}  // namespace

struct Mp2Decoder {
    uint8_t open = 0;
    uint32_t guard = kDecoderGuard;
    int width = 1;
    int ancFormat = 0;
    int route2 = 13;
    int route1 = 4;
    bool halfWidth = false;
    bool allowReduced = false;
    bool downmix = false;
    Mp2BitReader reader;
    Mp2BitCursor cursor;  // the frame being read
    const SMp3Kernels* synthKernels = nullptr;
    const SMp2Kernels* kernels = nullptr;
    // Synthesis history per channel, newest block at off; each block is stored
    // twice (at p and p + ring size) so the window reads straight through.
    float v32[2][2048];
    int off32[2];
    float v16[2][1024];
    int off16[2];
    // Interpolation filter states per channel.
    double z2[2][10];
    double z4[2][11];
    // Subband samples of the frame being read: [channel][sample][subband].
    float sb[2][36][32];
    // The last good frame (floats on the 16-bit scale), per channel.
    float block[2][kMp2MaxSamplesPerChannel];
    int blockChannels = 0;
    int blockSamples = 0;
    // Scratch for interleaving before the conversion.
    float inter[2 * kMp2MaxSamplesPerChannel];
    int lastChannels = 0;  // PCM block channels and samples of the last good frame
    int lastSamples = 0;
    int state = 0;
    int failures = 0;
    uint64_t frameEnd = 0;  // bit position after the last frame decoded or found; 0 unknown
};

namespace {

bool Valid(const Mp2Decoder* d) { return d && d->guard == kDecoderGuard && d->open; }


// Header search: leaves the reader at the accepted sync word.
int FindHeader(Mp2Decoder* d, Mp2HeaderWord* out) {
    Mp2BitReader& r = d->reader;
    const uint64_t begin = r.Position();
    for (;;) {
        const uint64_t searched = r.Position() - begin;
        if (searched > static_cast<uint64_t>(kSearchBits)) return kMp2NoSync;
        int s = Mp2SyncSearch(r, kSearchBits - static_cast<int>(searched));
        if (s == kMp2NeedInput) return kMp2NeedInput;
        if (s != 0) return kMp2NoSync;
        const uint64_t syncStart = r.Position() - 12;
        uint32_t bits = 0;
        s = r.Read(20, &bits);
        if (s == -5114) return kMp2NeedInput;
        if (s != 0) return kMp2NoSync;
        const Mp2HeaderWord w = mp2::FromStreamBits(bits);
        mp2::FrameInfo fi;
        bool ok = mp2::ParseHeader(w, d->allowReduced, &fi) == 0;
        if (ok && fi.frameBytes > 0) {
            // Two more headers exactly one frame length apart confirm it.
            uint64_t at = syncStart;
            int length = fi.frameBytes;
            for (int i = 0; i < 2 && ok; ++i) {
                at += static_cast<uint64_t>(length) * 8;
                if (r.SetPosition(at) != 0) {
                    r.Refill();
                    if (r.SetPosition(at) != 0) break;  // input runs out: accepted
                }
                const int t = Mp2SyncSearch(r, 0);
                if (t == kMp2NeedInput || t == kMp2NoSync) break;
                if (t != 0) {
                    ok = false;
                    break;
                }
                uint32_t nb = 0;
                const int rr = r.Read(20, &nb);
                if (rr != 0) break;
                mp2::FrameInfo next;
                if (mp2::ParseHeader(mp2::FromStreamBits(nb), d->allowReduced, &next) != 0 || next.frameBytes <= 0) {
                    ok = false;
                    break;
                }
                length = next.frameBytes;
            }
        }
        if (ok) {
            r.SetPosition(syncStart);
            if (out) *out = w;
            return 0;
        }
        r.SetPosition(syncStart + 1);
    }
}

int16_t RoundAway(float x) {
    double v = x > 0 ? std::trunc(static_cast<double>(x) + 0.5) : std::trunc(static_cast<double>(x) - 0.5);
    if (v > 32767) v = 32767;
    if (v < -32768) v = -32768;
    return static_cast<int16_t>(v);
}

uint8_t To8(float x) {
    const double v = std::trunc(static_cast<double>(x));
    if (v > 32767) return 255;
    if (v < -32768) return 0;
    return static_cast<uint8_t>((static_cast<int>(v) >> 8) + 128);
}

// Converts the last good frame into the caller's block by the routing.
void Output(Mp2Decoder* d, Mp2PcmBlock* pcm) {
    const int n = d->blockSamples;
    const int inCh = d->blockChannels;
    int outCh = 1;
    // Per output channel: source channel, or -1 for silence; custom rounding flag.
    int src[2] = {0, -1};
    bool custom = false;
    if (inCh == 2) {
        switch (d->route2) {
            case 13: outCh = 2; src[0] = 0; src[1] = 1; break;
            case 19: outCh = 2; src[0] = 1; src[1] = 0; break;
            case 4: outCh = 1; src[0] = 0; break;
            default: outCh = 1; src[0] = 1; custom = true; break;  // 16: right alone
        }
    } else {
        switch (d->route1) {
            case 4: outCh = 1; src[0] = 0; break;
            case 7: outCh = 2; src[0] = 0; src[1] = 0; break;
            case 3: outCh = 2; src[0] = -1; src[1] = 0; custom = true; break;
            default: outCh = 2; src[0] = 0; src[1] = -1; custom = true; break;  // 5
        }
    }
    pcm->channels = outCh;
    pcm->samplesPerChannel = n;
    if (d->width == 1 && !custom && n > 0) {
        d->kernels->pcm16(d->block[src[0]], outCh == 2 ? d->block[src[1]] : nullptr, static_cast<int16_t*>(pcm->data), n);
        return;
    }
    for (int i = 0; i < n; ++i)
        for (int c = 0; c < outCh; ++c) d->inter[i * outCh + c] = src[c] < 0 ? 0.0f : d->block[src[c]][i];
    const int total = n * outCh;
    if (total <= 0) return;
    if (d->width == 0) {
        uint8_t* out = static_cast<uint8_t*>(pcm->data);
        for (int i = 0; i < total; ++i) out[i] = To8(d->inter[i]);
    } else {
        int16_t* out = static_cast<int16_t*>(pcm->data);
        for (int i = 0; i < total; ++i) out[i] = RoundAway(d->inter[i]);
    }
}

void Silence(Mp2Decoder* d, Mp2PcmBlock* pcm) {
    pcm->channels = d->lastChannels;
    pcm->samplesPerChannel = d->lastSamples;
    const int total = d->lastChannels * d->lastSamples;
    if (total <= 0) return;
    if (d->width == 0)
        std::memset(pcm->data, 128, static_cast<size_t>(total));
    else
        std::memset(pcm->data, 0, static_cast<size_t>(total) * 2);
}

#if defined(__SSE2__)
// Spread for n = 32 four values at a time: v[16 + m] = -x[32 - m] with x[32] = 0.
void Spread32(const float* x, float* v) {
    const __m128 sign = _mm_set1_ps(-0.0f);
    float xe[36];
    std::memcpy(xe, x, 32 * sizeof(float));
    xe[32] = 0.0f;
    for (int q = 0; q < 16; q += 4) {
        _mm_storeu_ps(v + q, _mm_loadu_ps(x + 16 + q));
        _mm_storeu_ps(v + 48 + q, _mm_xor_ps(_mm_loadu_ps(x + q), sign));
    }
    for (int m = 0; m < 32; m += 4) {
        const __m128 r = _mm_loadu_ps(xe + 29 - m);  // x[29 - m] .. x[32 - m]
        _mm_storeu_ps(v + 16 + m, _mm_xor_ps(_mm_shuffle_ps(r, r, _MM_SHUFFLE(0, 1, 2, 3)), sign));
    }
    v[16] = 0.0f;
}
#endif

// V[i] = X[i + n/2] of the n-point DCT X of the subband samples, with X[n] = 0,
// X[2n - i] = -X[i] and X[2n + i] = -X[i] filling the 2n values of a block.
void Spread(const float* x, int n, float* v) {
#if defined(__SSE2__)
    if (n == 32) {
        Spread32(x, v);
        return;
    }
#endif
    const int h = n / 2;
    for (int j = 0; j < h; ++j) v[j] = x[h + j];
    v[h] = 0.0f;
    for (int j = h + 1; j < n + h; ++j) v[j] = -x[n + h - j];
    for (int j = n + h; j < 2 * n; ++j) v[j] = -x[j - n - h];
}

// out[j] = sum over the 16 taps i of D[j + n i] V[2n i + j (+ n for odd i)], on the 16-bit scale.
void Window(const float* d, const float* v, int n, float* out) {
    float acc[32] = {};
    for (int i = 0; i < 16; ++i) {
        const float* di = d + n * i;
        const float* vi = v + 2 * n * i + ((i & 1) ? n : 0);
        muladd::Products(acc, di, vi, n);
    }
    for (int j = 0; j < n; ++j) out[j] = acc[j] * kPcmScale;
}

void Matrix(const CSubbandDct& dct, const float* s, int n, float* v) {
    float x[32];
    std::memcpy(x, s, sizeof(float) * static_cast<size_t>(n));
    dct.Run(x, n);
    Spread(x, n, v);
}

// One block whose DCT x is done.
void Synthesise32(Mp2Decoder* d, int ch, const float* x, float* out) {
    const SynthesisTables& t = Synth();
    int& off = d->off32[ch];
    off = (off - 64) & 1023;
    float* v = d->v32[ch] + off;
    Spread(x, 32, v);
    std::memcpy(v + 1024, v, 64 * sizeof(float));
    // Taps 2i and 2i + 1 of the window are the Layer III window's pair i.
    d->synthKernels->window(v, t.d32, out);
}

void Synthesise16(Mp2Decoder* d, int ch, const float* s, float* out) {
    const SynthesisTables& t = Synth();
    int& off = d->off16[ch];
    off = (off - 32) & 511;
    float* v = d->v16[ch] + off;
    Matrix(t.dct, s, 16, v);
    std::memcpy(v + 512, v, 32 * sizeof(float));
    Window(t.d16, v, 16, out);
}

// Reads n bits of side information or samples; maps the reader's results.
template <class Bits>
inline int Get(Bits& r, int n, uint32_t* v, int failure) {
    const int s = r.Read(n, v);
    if (s == 0) return 0;
    return s == -5114 ? kMp2NeedInput : failure;
}

// Reads the frame at the reader's position into d->sb; on success returns 0
// and fills fi and the header.
int ReadFrame(Mp2Decoder* d, Mp2HeaderWord* header, mp2::FrameInfo* fiOut, uint64_t* start) {
    Mp2BitReader& r = d->reader;
    *start = r.Position();
    int s = Mp2SyncSearch(r, 0);
    if (s == kMp2NeedInput) return kMp2NeedInput;
    if (s != 0) return kMp2NoSync;
    uint32_t bits = 0;
    if ((s = Get(r, 20, &bits, kMp2BadHeader)) != 0) return s;
    const Mp2HeaderWord w = mp2::FromStreamBits(bits);
    mp2::FrameInfo fi;
    if (mp2::ParseHeader(w, d->allowReduced, &fi) != 0) return kMp2BadHeader;
    *header = w;
    *fiOut = fi;
    uint32_t crcWord = 0;
    if (mp2::ProtectionBit(w) == 0 && (s = Get(r, 16, &crcWord, kMp2BadHeader)) != 0) return s;
    const uint64_t sideStart = r.Position();
    Mp2BitCursor& c = d->cursor;
    c.Load(r);
    const mp2::AllocTable& t = mp2::Table(fi.table);
    const int nch = fi.channels;
    int alloc[2][32] = {};
    int scfsi[2][32] = {};
    int scf[2][32][3] = {};
    int sideBits = fi.crcBits;
    for (int sb = 0; sb < fi.sblimit; ++sb) {
        for (int ch = 0; ch < nch; ++ch) {
            if (sb >= fi.bound && ch == 1) {
                alloc[1][sb] = alloc[0][sb];
                continue;
            }
            uint32_t a = 0;
            if ((s = Get(c, t.nbal[sb], &a, kMp2BadAllocation)) != 0) return s;
            if (a != 0 && t.cls[sb][a] < 0) return kMp2BadAllocation;  // Layer I code 15
            alloc[ch][sb] = static_cast<int>(a);
        }
    }
    const bool layer2 = fi.layer == 2;
    if (layer2) {
        for (int sb = 0; sb < fi.sblimit; ++sb)
            for (int ch = 0; ch < nch; ++ch)
                if (alloc[ch][sb]) {
                    uint32_t v = 0;
                    if ((s = Get(c, 2, &v, kMp2BadScaleFactors)) != 0) return s;
                    scfsi[ch][sb] = static_cast<int>(v);
                    sideBits += 2;
                }
    }
    for (int sb = 0; sb < fi.sblimit; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (!alloc[ch][sb]) continue;
            uint32_t a = 0, b = 0, e = 0;
            int* f = scf[ch][sb];
            const int sel = layer2 ? scfsi[ch][sb] : 2;
            if ((s = Get(c, 6, &a, kMp2BadScaleFactors)) != 0) return s;
            if (sel == 0) {
                if ((s = Get(c, 6, &b, kMp2BadScaleFactors)) != 0 || (s = Get(c, 6, &e, kMp2BadScaleFactors)) != 0)
                    return s;
                f[0] = static_cast<int>(a); f[1] = static_cast<int>(b); f[2] = static_cast<int>(e);
            } else if (sel == 1) {
                if ((s = Get(c, 6, &b, kMp2BadScaleFactors)) != 0) return s;
                f[0] = f[1] = static_cast<int>(a); f[2] = static_cast<int>(b);
            } else if (sel == 2) {
                f[0] = f[1] = f[2] = static_cast<int>(a);
            } else {
                if ((s = Get(c, 6, &b, kMp2BadScaleFactors)) != 0) return s;
                f[0] = static_cast<int>(a); f[1] = f[2] = static_cast<int>(b);
            }
            if (f[0] > 62 || f[1] > 62 || f[2] > 62) return kMp2BadScaleFactors;
        }
    if (mp2::ProtectionBit(w) == 0) {
        // Header bytes 2-3, the CRC word's place, then the side information.
        uint8_t buf[4 + 400] = {};
        const uint32_t sb20 = mp2::StreamBits(w);
        buf[0] = static_cast<uint8_t>(sb20 >> 8);
        buf[1] = static_cast<uint8_t>(sb20);
        c.Sync();
        const uint64_t here = r.Position();
        r.SetPosition(sideStart);
        for (int i = 0; i < sideBits; i += 8) {
            uint32_t v = 0;
            const int n = std::min(8, sideBits - i);
            r.Read(n, &v);
            buf[4 + i / 8] = static_cast<uint8_t>(v << (8 - n));
        }
        r.SetPosition(here);
        if (Mp2Crc16(buf, 0, sideBits) != crcWord) return kMp2CrcMismatch;
    }
    // Samples. What each coded subband needs is looked up once per frame.
    const int perGranule = layer2 ? 3 : 1;
    const mp2::QuantClass* cls[2][32] = {};
    const uint32_t* split[2][32] = {};
    const double* level[2][32] = {};
    double unit[2][32] = {};
    double scale[2][32][3] = {};
    for (int sb = 0; sb < fi.sblimit; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (!alloc[ch][sb]) continue;
            const mp2::QuantClass& q = mp2::Class(t.cls[sb][alloc[ch][sb]]);
            cls[ch][sb] = &q;
            if (layer2 && q.grouped && q.bits <= 10 && q.steps <= 9) {
                split[ch][sb] = Grouped().split[t.cls[sb][alloc[ch][sb]]];
                level[ch][sb] = Grouped().level[t.cls[sb][alloc[ch][sb]]];
            }
            unit[ch][sb] = 1.0 / static_cast<double>(1 << (q.fracBits - 1));  // a power of two: exact
            for (int p = 0; p < 3; ++p) scale[ch][sb][p] = mp2::ScaleFactor(scf[ch][sb][p]);
        }
    // The coded subbands in the order their samples come, each with what its
    // samples need.
    struct Band {
        const mp2::QuantClass* q;
        const uint32_t* split;  // grouped: the codeword's three steps
        const double* level;    // grouped: each step's value
        const double* own;      // scale factor per part
        const double* other;    // the second channel's, for a shared subband
        double unit;
        float* out;             // column in d->sb, one block per 32 floats
        float* otherOut;
    };
    Band bands[64];
    int bandCount = 0;
    for (int sb = 0; sb < fi.sblimit; ++sb) {
        const bool shared = sb >= fi.bound;
        for (int ch = 0; ch < nch; ++ch) {
            if (shared && ch == 1) break;
            if (!cls[ch][sb]) continue;
            bands[bandCount++] = {cls[ch][sb],         split[ch][sb],     level[ch][sb], scale[ch][sb],
                                  shared ? scale[1][sb] : nullptr, unit[ch][sb], &d->sb[ch][0][sb],
                                  shared ? &d->sb[1][0][sb] : nullptr};
        }
    }
    std::memset(d->sb, 0, sizeof d->sb);
    for (int gr = 0; gr < 12; ++gr) {
        const int part = layer2 ? gr / 4 : 0;
        const int block = gr * perGranule;
        for (int i = 0; i < bandCount; ++i) {
            const Band& band = bands[i];
            const mp2::QuantClass* q = band.q;
            const double own = band.own[part];
            float* out = band.out + 32 * block;
            float* otherOut = band.otherOut ? band.otherOut + 32 * block : nullptr;
            if (band.split) {
                uint32_t code = 0;
                if ((s = Get(c, q->bits, &code, kMp2BadSamples)) != 0) return s;
                const uint32_t three = band.split[code];
                if (three == kBadCode) return kMp2BadSamples;
                const double x[3] = {band.level[three & 0xFF], band.level[(three >> 8) & 0xFF], band.level[three >> 16]};
                for (int j = 0; j < 3; ++j) out[32 * j] = static_cast<float>(x[j] * own);
                if (otherOut) {
                    const double other = band.other[part];
                    for (int j = 0; j < 3; ++j) otherOut[32 * j] = static_cast<float>(x[j] * other);
                }
                continue;
            }
            uint32_t vals[3] = {0, 0, 0};
            if (layer2 && q->grouped) {
                uint32_t code = 0;
                if ((s = Get(c, q->bits, &code, kMp2BadSamples)) != 0) return s;
                const uint32_t steps = static_cast<uint32_t>(q->steps);
                vals[0] = code % steps;
                code /= steps;
                vals[1] = code % steps;
                vals[2] = code / steps;
                if (vals[2] >= steps) return kMp2BadSamples;
            } else {
                for (int j = 0; j < perGranule; ++j) {
                    if ((s = Get(c, q->bits, &vals[j], kMp2BadSamples)) != 0) return s;
                    if (vals[j] >= static_cast<uint32_t>(q->steps)) return kMp2BadSamples;
                }
            }
            const double other = otherOut ? band.other[part] : 0.0;
            for (int j = 0; j < perGranule; ++j) {
                const double x = q->c * (static_cast<double>(vals[j]) * band.unit - 1.0 + q->d);
                out[32 * j] = static_cast<float>(x * own);
                if (otherOut) otherOut[32 * j] = static_cast<float>(x * other);
            }
        }
    }
    c.Sync();
    return 0;
}

void ReadAncillary(Mp2Decoder* d, const mp2::FrameInfo& fi, uint64_t start, Mp2AncillaryData* anc) {
    if (!anc) return;
    const int room = anc->length;
    anc->length = 0;
    if (d->ancFormat == 0 || fi.frameBytes <= 0 || !anc->data || room <= 0) return;
    Mp2BitReader& r = d->reader;
    const uint64_t end = std::min<uint64_t>(start + static_cast<uint64_t>(fi.frameBytes) * 8, r.End());
    const uint64_t pos = r.Position();
    if (end <= pos || end - pos < 8) return;
    const uint64_t first = pos + (end - pos) % 8;  // skip bits that fill no whole byte
    const int count = static_cast<int>((end - first) / 8);
    auto byteAt = [&](int i) {  // i-th whole byte from the frame's end, 0 = last
        uint32_t v = 0;
        r.SetPosition(end - 8 * static_cast<uint64_t>(i + 1));
        r.Read(8, &v);
        return static_cast<uint8_t>(v);
    };
    if (d->ancFormat == 5) {
        if (count <= 1) {
            r.SetPosition(pos);
            return;
        }
        const int n = std::min(count, room);
        for (int i = 0; i < n; ++i) anc->data[i] = byteAt(i);
        anc->length = n;
    } else {
        if (count >= 2) {
            const int declared = byteAt(0) >> 1;
            if (declared > 0 && byteAt(1) == 0) {
                const int n = std::min({declared, count - 2, room});
                for (int i = 0; i < n; ++i) anc->data[i] = byteAt(2 + i);
                anc->length = n;
            }
        }
    }
    r.SetPosition(pos);
}

int RateFactor(const mp2::FrameInfo& fi) {
    switch (fi.reducedClass) {
        case 502: return fi.id ? 1 : 2;
        case 503: return fi.id ? 2 : 4;
        default: return 1;
    }
}

// Synthesis, rate conversion and bookkeeping of a frame whose samples are read.
void Reconstruct(Mp2Decoder* d, const mp2::FrameInfo& fi) {
    int nch = fi.channels;
    const int blocks = fi.layer == 2 ? 36 : 12;
    if (d->downmix && nch == 2) {
        for (int b = 0; b < blocks; ++b)
            for (int sb = 0; sb < 32; ++sb) d->sb[0][b][sb] = (d->sb[0][b][sb] + d->sb[1][b][sb]) * 0.5f;
        nch = 1;
    }
    const int step = d->halfWidth ? 16 : 32;
    const int factor = RateFactor(fi);
    for (int ch = 0; ch < nch; ++ch) {
        float* out = d->block[ch];
        if (d->halfWidth) {
            for (int b = 0; b < blocks; ++b) Synthesise16(d, ch, d->sb[ch][b], out + b * step);
        } else {
            // The blocks' DCTs four at a time (in place), then each block's window in order.
            const CMp2LaneDct& dct = Synth().laneDct;
            int b = 0;
            for (; dct.Wide() && b + 8 <= blocks; b += 8) {
                dct.Run8(d->sb[ch] + b);
                for (int l = 0; l < 8; ++l) Synthesise32(d, ch, d->sb[ch][b + l], out + (b + l) * step);
            }
            for (; b < blocks; b += 4) {
                dct.Run4(d->sb[ch] + b);
                for (int l = 0; l < 4; ++l) Synthesise32(d, ch, d->sb[ch][b + l], out + (b + l) * step);
            }
        }
        const int n = blocks * step;
        if (factor > 1) {
            const mp2::IirFilter& f = factor == 2 ? mp2::DecoderInterpolateX2() : mp2::DecoderInterpolateX4();
            double* z = factor == 2 ? d->z2[ch] : d->z4[ch];
            // Backwards so the stretch can happen in place.
            float tmp[1152];
            std::memcpy(tmp, out, sizeof(float) * static_cast<size_t>(n));
            for (int i = 0; i < n; ++i)
                for (int k = 0; k < factor; ++k) {
                    double x = k == 0 ? tmp[i] : 0.0;
                    if (factor == 2) x += 1e-10;
                    out[i * factor + k] = static_cast<float>(factor * mp2::IirStep(f, z, x));
                }
        }
    }
    d->blockChannels = nch;
    d->blockSamples = blocks * step * factor;
}

int DecodeOne(Mp2Decoder* d, Mp2HeaderWord* header, Mp2PcmBlock* pcm, Mp2AncillaryData* anc) {
    Mp2BitReader& r = d->reader;
    mp2::FrameInfo fi{};
    uint64_t start = r.Position();
    Mp2HeaderWord w = 0;
    int code = ReadFrame(d, &w, &fi, &start);
    if (header && w) *header = w;
    if (code == kMp2NeedInput) {
        r.SetPosition(start);
        pcm->channels = 0;
        pcm->samplesPerChannel = 0;
        if (anc) anc->length = 0;
        return kMp2NeedInput;
    }
    if (code == 0) {
        ReadAncillary(d, fi, start, anc);
        Reconstruct(d, fi);
        Output(d, pcm);
        d->lastChannels = pcm->channels;
        d->lastSamples = pcm->samplesPerChannel;
        d->failures = 0;
        d->frameEnd = fi.frameBytes > 0 ? start + static_cast<uint64_t>(fi.frameBytes) * 8 : 0;
        if (fi.frameBytes > 0) {
            const uint64_t next = start + static_cast<uint64_t>(fi.frameBytes) * 8;
            if (r.SetPosition(next) != 0) r.Skip(r.BitsLeft());
        } else {
            if (Mp2SyncSearch(r, fi.layer == 1 ? 32 : 8) == 0) r.StepBack(12);
        }
        r.Advance(r.Position());
        return 0;
    }
    // Concealment.
    if (anc) anc->length = 0;
    ++d->failures;
    if (d->failures >= 3) {
        for (int ch = 0; ch < 2; ++ch) std::fill(d->block[ch], d->block[ch] + kMp2MaxSamplesPerChannel, 0.0f);
        d->state = 2;
        if (r.SetPosition(start + 1) != 0) r.Skip(1);
    } else {
        // Skip the damaged frame when its length is known, then look for the next one.
        uint64_t from = start + 12;
        if (code != kMp2NoSync && code != kMp2BadHeader && fi.frameBytes > 0)
            from = start + static_cast<uint64_t>(fi.frameBytes) * 8;
        if (r.SetPosition(from) != 0) r.SetPosition(start + 12 <= r.End() ? start + 12 : r.End());
        if (Mp2SyncSearch(r, kSearchBits) == 0)
            r.StepBack(12);
        else if (r.SetPosition(start + 12) != 0)
            r.Skip(r.BitsLeft());
    }
    r.Advance(r.Position());
    if (d->blockSamples > 0) {
        Output(d, pcm);
    } else {
        pcm->channels = 0;
        pcm->samplesPerChannel = 0;
    }
    return code;
}

}  // namespace

int Mp2DecoderOpen(Mp2DecoderOptions options, Mp2OutputFormat format, Mp2ReadCallback callback, void* user,
                   Mp2Decoder** handle) {
    if (!handle) return -18;
    *handle = nullptr;
    const int b0 = static_cast<int>(options & 0xFF), b1 = static_cast<int>((options >> 8) & 0xFF);
    const int b2 = static_cast<int>((options >> 16) & 0xFF), b3 = static_cast<int>((options >> 24) & 0xFF);
    if (b0 > 4 || b1 > 3 || b2 > 5 || b3 > 3) return kMp2BadOptions;
    const int synthWidth = static_cast<int>((format >> 8) & 0xFF);
    if (synthWidth > 2) return -11;
    if (b2 != 0 && b2 != 1 && b2 != 5) {
        std::fputs("\n Invalid ancillary data format \n", stdout);
        return -9;
    }
    Mp2Decoder* d = new (std::nothrow) Mp2Decoder;
    if (!d) return -17;
    if (d->reader.Open(callback, user) != 0) {
        delete d;
        return -19;
    }
    const int route2 = static_cast<int>(format & 31);
    const int route1 = static_cast<int>((format >> 5) & 7);
    if (b0 > 1 || (route2 != 4 && route2 != 13 && route2 != 16 && route2 != 19 && route2 != 20) ||
        (route1 != 3 && route1 != 4 && route1 != 5 && route1 != 7)) {
        d->reader.Close();
        delete d;
        return -12;
    }
    d->width = b0;
    d->ancFormat = b2;
    d->route2 = route2;
    d->route1 = route1;
    d->downmix = route2 == 20;
    d->halfWidth = synthWidth == 1;
    d->allowReduced = ((format >> 24) & 0xFF) == 1;
    std::memset(d->v32, 0, sizeof d->v32);
    std::memset(d->v16, 0, sizeof d->v16);
    std::memset(d->z2, 0, sizeof d->z2);
    std::memset(d->z4, 0, sizeof d->z4);
    std::memset(d->block, 0, sizeof d->block);
    d->off32[0] = d->off32[1] = 0;
    d->off16[0] = d->off16[1] = 0;
    d->synthKernels = &Mp3Kernels(BestVectorPath());
    d->kernels = &Mp2Kernels(BestVectorPath());
    d->open = 1;
    d->state = 0;
    *handle = d;
    return 0;
}

int Mp2DecoderRestart(Mp2Decoder* d) {
    if (!Valid(d)) return -18;
    d->reader.Restart();
    d->frameEnd = 0;
    return FindHeader(d, nullptr);
}

int Mp2DecodeFrame(Mp2HeaderWord* header, Mp2PcmBlock* pcm, Mp2AncillaryData* anc, Mp2Decoder* d) {
    if (!Valid(d)) return -18;
    if (!pcm || !pcm->data) return -18;
    pcm->channels = 0;
    pcm->samplesPerChannel = 0;
    if (d->state == 0 || d->state == 2) {
        const int wasState = d->state;
        Mp2HeaderWord w = 0;
        const int r = FindHeader(d, &w);
        if (anc) anc->length = 0;
        if (r == kMp2NeedInput) return kMp2NeedInput;
        if (r != 0) {
            if (wasState == 2) Silence(d, pcm);
            return r;
        }
        if (header) *header = w;
        pcm->channels = mp2::Channels(w);
        d->state = 1;
        const int length = mp2::FrameBytes(w);
        d->frameEnd = length > 0 ? d->reader.Position() + static_cast<uint64_t>(length) * 8 : 0;
        return 0;
    }
    return DecodeOne(d, header, pcm, anc);
}

int Mp2DecoderClose(Mp2Decoder** handle) {
    if (!handle || !*handle || (*handle)->guard != kDecoderGuard) return -18;
    Mp2Decoder* d = *handle;
    if (!d->open) return -20;
    const bool readerOpen = d->reader.IsOpen();
    d->reader.Close();
    d->open = 0;
    d->guard = 0;
    delete d;
    *handle = nullptr;
    return readerOpen ? 0 : -19;
}

int Mp2DecoderFailureCount(const Mp2Decoder* d) { return Valid(d) ? d->failures : -18; }
int Mp2DecoderState(const Mp2Decoder* d) { return Valid(d) ? d->state : -18; }
int Mp2DecoderFrameEndBytes(const Mp2Decoder* d) {
    return Valid(d) && d->frameEnd > 0 ? static_cast<int>((d->frameEnd + 7) / 8) : 0;
}
