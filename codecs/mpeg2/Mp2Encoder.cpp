#include "codecs/mpeg2/Mp2Encoder.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>
#include <vector>

#include "codecs/mpeg2/Mp2Kernels.h"
#include "codecs/mpeg2/Mp2Filters.h"
#include "codecs/mpeg2/Mp2Psy.h"
#include "codecs/mpeg2/tables/l2_scfsi_C4.h"
#include "codecs/mpeg2/tables/window_analysis_C_C1.h"

namespace {

constexpr uint32_t kEncoderGuard = 41094;

struct AnalysisTables {
    float c[512];
    float m[32][16];  // [n][k] = cos((2k + 1) n pi / 64), k < 16
    AnalysisTables() {
        const double pi = 3.14159265358979323846;
        for (int i = 0; i < 512; ++i) c[i] = static_cast<float>(mp2tab::kWindowAnalysisCC1[i][1]);
        for (int n = 0; n < 32; ++n)
            for (int k = 0; k < 16; ++k) m[n][k] = static_cast<float>(std::cos((2 * k + 1) * n * pi / 64.0));
    }
};

const AnalysisTables& Analysis() {
    static const AnalysisTables kTables;
    return kTables;
}

// Table C.4 by the two difference classes (1..5): effective parts and selection.
struct ScfPattern {
    int used[3];  // 1..3 the part's own index, 4 the smallest index of the three
    int scfsi;
};

struct ScfPatterns {
    ScfPattern p[5][5];
    ScfPatterns() {
        for (int r = 0; r < mp2tab::kL2ScfsiC4Rows; ++r) {
            const int c1 = static_cast<int>(mp2tab::kL2ScfsiC4[r][0]) - 1;
            const int c2 = static_cast<int>(mp2tab::kL2ScfsiC4[r][1]) - 1;
            const int used = static_cast<int>(mp2tab::kL2ScfsiC4[r][2]);
            ScfPattern& q = p[c1][c2];
            q.used[0] = used / 100;
            q.used[1] = (used / 10) % 10;
            q.used[2] = used % 10;
            q.scfsi = static_cast<int>(mp2tab::kL2ScfsiC4[r][4]);
        }
    }
};

const ScfPatterns& Patterns() {
    static const ScfPatterns kPatterns;
    return kPatterns;
}

int DiffClass(int d) {
    if (d <= -3) return 0;
    if (d < 0) return 1;
    if (d == 0) return 2;
    if (d < 3) return 3;
    return 4;
}

}  // namespace

struct Mp2Encoder {
    uint8_t open = 0;
    uint32_t guard = kEncoderGuard;
    int model = 0;
    int reducedClass = -501;
    Mp2WriteCallback callback = nullptr;
    void* user = nullptr;
    int ancFormat = 0;
    int ancOverhead = 0;
    int rateFactor = 0;  // 0, 1 (x2) or 4 (x4)
    int inChannels = 1;
    int width = 1;
    int layout = 0x40;
    int paddingMode = 0;
    bool allowReduced = false;
    double threshold = 0.65;
    double dz2[2][7] = {};
    double dz4[2][8] = {};
    // Input history, each block stored twice (at p and p + 512) so the window reads straight through.
    float hist[2][1024] = {};
    int off[2] = {32, 32};
    mp2::PsyModel1 psy[2];
    bool psyReady = false;
    int psyLayer = 0, psyRate = 0, psyRatePerChannel = 0;
    float prevTail[2][192] = {};
    int prevSmr[2][32] = {};
    const SMp2Kernels* kernels = &Mp2Kernels(BestVectorPath());
    int padRemainder = 0;
    int padRate = 0;
    int padStep = 0;
    Mp2BitWriter writer{12288};
    int frameBytes = 0;
    // Working storage, sized at open.
    float input[2][4608];
    float coded[2][1152];
    float sb[2][36][32];
    float psyIn[1024];
};

namespace {

bool Valid(const Mp2Encoder* e) { return e && e->guard == kEncoderGuard && e->open; }

int LayoutChannels(int layout) { return layout == 0x40 ? 1 : 2; }
// Frame channels a layout produces, or 0 for a bad layout.
int LayoutFrameChannels(int layout) {
    switch (layout) {
        case 0x40: case 0x81: case 0x82: case 0x83: return 1;
        case 0x86: case 0x89: return 2;
        default: return 0;
    }
}

int CodedRateForPadding(const mp2::FrameInfo& fi) { return fi.codedRate; }

// --- allocation ------------------------------------------------------------

// Per allocation table, what the allocation search asks of each step.
struct AllocCosts {
    int sampleBits[32][16];  // bits of a subband's samples at each allocation
    int gain[32][16];        // whole dB the next allocation step gains
};

struct AllAllocCosts {
    AllocCosts table[6];
    AllAllocCosts() {
        for (int index = 0; index < 6; ++index) {
            const mp2::AllocTable& t = mp2::Table(index);
            const bool layer1 = index == 5;
            AllocCosts& c = table[index];
            double snr[32][17] = {};
            for (int sb = 0; sb < 32; ++sb)
                for (int a = 0; a < 16; ++a) {
                    c.sampleBits[sb][a] = 0;
                    if (a == 0 || t.cls[sb][a] < 0) continue;
                    const mp2::QuantClass& q = mp2::Class(t.cls[sb][a]);
                    c.sampleBits[sb][a] = layer1 ? 12 * q.bits : (q.grouped ? 12 * q.bits : 36 * q.bits);
                    snr[sb][a] = q.snr;
                }
            for (int sb = 0; sb < 32; ++sb)
                for (int a = 0; a < 16; ++a) c.gain[sb][a] = static_cast<int>(std::floor(snr[sb][a + 1] - snr[sb][a]));
        }
    }
};

const AllocCosts& CostsOf(int tableIndex) {
    static const AllAllocCosts kCosts;
    return kCosts.table[tableIndex];
}

struct Alloc {
    const mp2::AllocTable* t = nullptr;
    const AllocCosts* costs = nullptr;
    int layer = 2;
    int nch = 1;
    int sblimit = 0;
    int scfBits[2][32] = {};
    int alloc[2][32] = {};
    int deficit[2][32] = {};
    int stronger[32] = {};

    int MaxAlloc(int sb) const { return layer == 1 ? 14 : (1 << t->nbal[sb]) - 1; }
    int SampleBits(int sb, int a) const { return a <= 0 ? 0 : costs->sampleBits[sb][a]; }
    int Gain(int sb, int a) const { return costs->gain[sb][a]; }
    int StepCost(int sb, int a) const { return a >= MaxAlloc(sb) ? 32767 : SampleBits(sb, a + 1) - SampleBits(sb, a); }
    int FieldBits(int bound) const {
        int bits = 0;
        for (int sb = 0; sb < sblimit; ++sb) bits += t->nbal[sb] * (sb < bound ? nch : 1);
        return bits;
    }
    // Bits of allocation field, selection information, scale factors and samples.
    int Bits(int bound) const {
        int bits = FieldBits(bound);
        for (int sb = 0; sb < sblimit; ++sb) {
            if (sb < bound) {
                for (int ch = 0; ch < nch; ++ch)
                    if (alloc[ch][sb]) bits += scfBits[ch][sb] + SampleBits(sb, alloc[ch][sb]);
            } else {
                const int a = alloc[stronger[sb]][sb];
                if (a) bits += scfBits[0][sb] + scfBits[1][sb] + SampleBits(sb, a);
            }
        }
        return bits;
    }
};

struct Cand {
    int ch;
    int sb;
    bool shared;
};

int Cost(const Alloc& s, const Cand& c) {
    const int a = s.alloc[c.ch][c.sb];
    int cost = s.StepCost(c.sb, a);
    if (cost >= 32767) return 32767;
    if (a == 0) cost += s.scfBits[c.ch][c.sb] + (c.shared ? s.scfBits[1 - c.ch][c.sb] : 0);
    return cost;
}

struct CandList {
    Cand c[64];  // two channels of 32 subbands at most
    int n = 0;
    void Add(const Cand& x) { c[n++] = x; }
};

// The walk's order as one number: a comes before b (the larger deficit, on
// a tie the lower subband) exactly when its key is larger.
int64_t Key(const Alloc& s, const Cand& c) { return int64_t{s.deficit[c.ch][c.sb]} * 64 + (31 - c.sb); }

// Greedy pass: the head of the list takes a step when it fits, else it is
// passed over for good. stopBelow: the walk ends at a head deficit below it.
void Greedy(Alloc& s, CandList& list, int& avail, int stopBelow) {
    const int n = list.n;
    int64_t key[64];
    // Insertion sort, largest key first; equal keys keep their order.
    for (int i = 0; i < n; ++i) {
        const Cand c = list.c[i];
        const int64_t k = Key(s, c);
        int j = i;
        for (; j > 0 && key[j - 1] < k; --j) {
            key[j] = key[j - 1];
            list.c[j] = list.c[j - 1];
        }
        key[j] = k;
        list.c[j] = c;
    }
    int i = 0;
    while (i < n) {
        const Cand c = list.c[i];
        if (s.deficit[c.ch][c.sb] < stopBelow) break;
        const int cost = Cost(s, c);
        if (cost > avail) {
            ++i;
            continue;
        }
        avail -= cost;
        s.deficit[c.ch][c.sb] -= s.Gain(c.sb, s.alloc[c.ch][c.sb]);
        ++s.alloc[c.ch][c.sb];
        // Down past every entry it no longer comes before.
        const int64_t k = Key(s, c);
        int j = i;
        for (; j + 1 < n && !(k > key[j + 1]); ++j) {
            key[j] = key[j + 1];
            list.c[j] = list.c[j + 1];
        }
        key[j] = k;
        list.c[j] = c;
    }
}

void AllocatePlain(Alloc& s, int budget, bool freeFormat, double threshold) {
    int avail = budget - s.FieldBits(s.sblimit);
    CandList list;
    for (int sb = 0; sb < s.sblimit; ++sb)
        for (int ch = 0; ch < s.nch; ++ch) list.Add({ch, sb, false});
    if (freeFormat) {
        Greedy(s, list, avail, 1);
        return;
    }
    const double per = s.layer == 1 ? 12.0 : 36.0;
    int highest[2] = {-1, -1};
    bool early = false;
    if (avail / per < threshold) {
        early = true;
    } else {
        int steps = 0;
        for (int sb = 0; sb < s.sblimit && !early; ++sb)
            for (int ch = 0; ch < s.nch; ++ch) {
                if (s.deficit[ch][sb] <= 0) continue;
                const int cost = Cost(s, {ch, sb, false});
                if (cost > avail) {
                    early = true;
                    break;
                }
                avail -= cost;
                s.deficit[ch][sb] -= s.Gain(sb, 0);
                s.alloc[ch][sb] = 1;
                highest[ch] = sb;
                ++steps;
                if (avail / ((steps + 1) * per) < threshold) {
                    early = true;
                    break;
                }
            }
    }
    if (early)
        for (int ch = 0; ch < s.nch; ++ch)
            for (int sb = std::max(highest[ch], 0) + 1; sb < s.sblimit; ++sb) s.deficit[ch][sb] = -100;
    Greedy(s, list, avail, -1000000);
}

// Joint stereo: returns the bound; bound == sblimit means plain stereo.
int AllocateJoint(Alloc& s, const int (*smr)[32], int budget, bool freeFormat, int* raisesOut) {
    int bound = std::min(4, s.sblimit);
    for (int sb = 0; sb < s.sblimit; ++sb) {
        if (freeFormat) {
            s.stronger[sb] = smr[0][sb] > smr[1][sb] ? 1 : 0;  // the smaller SMR drives a shared subband
        } else {
            s.stronger[sb] = smr[0][sb] > smr[1][sb] ? 0 : 1;
        }
    }
    auto build = [&](int b) {
        CandList list;
        for (int sb = 0; sb < s.sblimit; ++sb) {
            if (sb < b) {
                list.Add({0, sb, false});
                list.Add({1, sb, false});
            } else {
                list.Add({s.stronger[sb], sb, true});
            }
        }
        return list;
    };
    CandList list = build(bound);
    int avail = budget - s.Bits(bound);
    *raisesOut = 0;
    if (freeFormat) {
        Greedy(s, list, avail, 1);
        for (int sb = bound; sb < s.sblimit; ++sb) s.alloc[1 - s.stronger[sb]][sb] = s.alloc[s.stronger[sb]][sb];
        return bound;
    }
    Greedy(s, list, avail, 0);
    int raises = 0;
    if (s.sblimit >= 5) {
        const int tries[] = {8, 12, 16, s.sblimit};
        for (int next : tries) {
            if (next <= bound) continue;
            next = std::min(next, s.sblimit);
            Alloc trial = s;
            for (int sb = bound; sb < next; ++sb) {
                const int w = 1 - trial.stronger[sb];
                trial.alloc[w][sb] = 0;
                trial.deficit[w][sb] = smr[w][sb];
                while (trial.deficit[w][sb] >= 0 && trial.alloc[w][sb] < trial.MaxAlloc(sb)) {
                    trial.deficit[w][sb] -= trial.Gain(sb, trial.alloc[w][sb]);
                    ++trial.alloc[w][sb];
                }
            }
            const int extra = trial.Bits(next) - s.Bits(bound);
            if (extra > avail) break;
            avail -= extra;
            s = trial;
            bound = next;
            ++raises;
            if (bound >= s.sblimit) break;
        }
    }
    *raisesOut = raises;
    list = build(bound);
    avail = budget - s.Bits(bound);
    Greedy(s, list, avail, -1000000);
    for (int sb = bound; sb < s.sblimit; ++sb) s.alloc[1 - s.stronger[sb]][sb] = s.alloc[s.stronger[sb]][sb];
    return bound;
}

// --- per-frame steps ---------------------------------------------------------

// The matrix cos((2k + 1)(i - 16) pi / 64) folds the 64 windowed values into
// 32, a[n] with cos((2k + 1) n pi / 64) (it is even in i - 16, changes sign at
// i - 16 -> 64 - (i - 16) and vanishes at i = 48); bands k and 31 - k then
// share the even terms and differ in the sign of the odd ones.
void Analyse(Mp2Encoder* e, int ch, const float* x, int blocks) {
    const AnalysisTables& t = Analysis();
    int& off = e->off[ch];
    for (int b = 0; b < blocks; ++b) {
        off = (off - 32) & 511;
        float* h = e->hist[ch] + off;
        for (int i = 0; i < 32; ++i) h[i] = h[i + 512] = x[b * 32 + 31 - i] * (1.0f / 32768.0f);
        float y[64];
        e->kernels->analysisWindow(t.c, h, y);
        float a[32];
        a[0] = y[16];
        for (int n = 1; n <= 16; ++n) a[n] = y[16 + n] + y[16 - n];
        for (int n = 17; n < 32; ++n) a[n] = y[16 + n] - y[80 - n];
        e->kernels->analysisMatrix(a, t.m[0], e->sb[ch][b]);
    }
}

int ScaleIndex(double maxAbs) {
    // Largest index whose scale factor still lies above maxAbs (values fall with the index).
    const double* scf = mp2::ScaleFactors();
    int lo = 0, hi = 62;
    if (!(scf[0] > maxAbs)) return 0;
    while (lo < hi) {
        const int mid = (lo + hi + 1) / 2;
        if (scf[mid] > maxAbs)
            lo = mid;
        else
            hi = mid - 1;
    }
    return lo;
}

int Quantise(const mp2::QuantClass& q, double x) {
    const double y = q.a * x + q.b;
    const int half = 1 << (q.fracBits - 1);
    int v = static_cast<int>(std::floor(y * half)) + half;
    return std::clamp(v, 0, q.steps - 1);
}

}  // namespace

int Mp2EncoderOpen(Mp2WriteCallback callback, void* user, const Mp2HeaderWord* header,
                   const Mp2InputDescriptor* desc, int* samplesPerFrame, int modelSelector, Mp2Encoder** handle) {
    if (!handle) return -18;
    *handle = nullptr;
    if (!header || !desc) return -18;
    const Mp2HeaderWord w = *header;
    if (mp2::SamplingField(w) == 3) return -4;
    if (mp2::LayerOf(w) == 0) return -2;
    if (mp2::BitrateIndex(w) == 15) return -3;
    if (desc->padding > 2) return -1;
    if (modelSelector != 0 && modelSelector != 1) return -3003;
    const bool reduced = mp2::Emphasis(w) == 2;
    if (reduced && desc->allowReduced != 1) return -5;
    if (desc->rateFactor > 2) return -11;
    int rateFactor = 0;
    const int cls = Mp2ReducedRateClass(w);
    const int id = mp2::IdBit(w);
    if (reduced) {
        if (cls == -501) return -16;
        rateFactor = cls == 501 ? 0 : (cls == 502 ? (id ? 0 : 1) : (id ? 1 : 4));
    } else {
        rateFactor = desc->rateFactor == 2 ? 0 : desc->rateFactor;
        if (rateFactor == 1 && id == 1) return -11;
    }
    if (desc->ancFormat != 0 && desc->ancFormat != 1 && desc->ancFormat != 5) return -9;
    if (desc->width > 1) return -12;
    const int frameCh = LayoutFrameChannels(desc->layout);
    if (frameCh == 0 || frameCh != mp2::Channels(w)) return -12;
    Mp2Encoder* e = new (std::nothrow) Mp2Encoder;
    if (!e) return -17;
    mp2::FrameInfo fi{};
    // The full check runs at every frame; here only what the bookkeeping needs.
    if (mp2::ParseHeader(w, desc->allowReduced == 1, &fi) != 0) {
        fi.codedRate = 0;
        fi.bitrate = 0;
        fi.layer = mp2::LayerOf(w);
    }
    e->model = modelSelector;
    e->reducedClass = cls;
    e->callback = callback;
    e->user = user;
    e->ancFormat = desc->ancFormat;
    e->ancOverhead = desc->ancFormat == 1 ? 16 : 0;
    e->rateFactor = rateFactor;
    e->inChannels = LayoutChannels(desc->layout);
    e->width = desc->width;
    e->layout = desc->layout;
    e->paddingMode = desc->padding;
    e->allowReduced = desc->allowReduced == 1;
    e->padRate = CodedRateForPadding(fi);
    e->padStep = e->padRate > 0 ? static_cast<int>((static_cast<int64_t>(fi.bitrate) * (fi.layer == 1 ? 12 : 144)) % e->padRate) : 0;
    e->padRemainder = e->padRate;
    std::memset(e->input, 0, sizeof e->input);
    e->open = 1;
    const int base = mp2::LayerOf(w) == 1 ? 384 : 1152;
    if (samplesPerFrame) *samplesPerFrame = base * (rateFactor == 1 ? 2 : (rateFactor == 4 ? 4 : 1));
    *handle = e;
    return 0;
}

int Mp2EncodeFrame(const Mp2FrameControl* control, const Mp2PcmBlock* pcm, const Mp2AncillaryData* anc,
                   Mp2Encoder* e) {
    if (!Valid(e)) return -18;
    if (!control || !control->header || !pcm || !pcm->data) return -18;
    // 1. Working header and its checks.
    Mp2HeaderWord w = *control->header & ~((1u << 13) | (3u << 8));
    mp2::FrameInfo fi;
    int r = mp2::ParseHeader(w, e->allowReduced, &fi);
    if (r != 0) return r;
    if (fi.mode == 1 && fi.sblimit < 4) return -7;
    const bool freeFormat = mp2::BitrateIndex(w) == 0;
    if (freeFormat && e->ancFormat == 1) return -10;
    if (LayoutFrameChannels(e->layout) != fi.channels) return -12;
    const int layer = fi.layer;
    const int blocks = layer == 2 ? 36 : 12;
    const int codedSamples = blocks * 32;
    const int factor = e->rateFactor == 1 ? 2 : (e->rateFactor == 4 ? 4 : 1);
    const int inSamples = codedSamples * factor;
    if (pcm->channels != e->inChannels || pcm->samplesPerChannel != inSamples) return -12;
    // 2. Padding.
    bool pad = false;
    if (!freeFormat) {
        if (e->paddingMode == 2) {
            pad = true;
        } else if (e->paddingMode == 0 && mp2::SamplingField(w) == 0) {
            e->padRemainder -= e->padStep;
            if (e->padRemainder < 0) {
                pad = true;
                e->padRemainder += e->padRate;
            }
        }
    }
    if (pad) {
        w |= 1u << 13;
        mp2::ParseHeader(w, e->allowReduced, &fi);
    }
    // 3. Bit budget. Free format is bounded by the largest fixed frame.
    int frameBits = fi.frameBytes * 8;
    if (freeFormat) frameBits = mp2::FrameBytes((w & ~15u) | 14u) * 8;
    int budget = frameBits - 32 - (mp2::ProtectionBit(w) == 0 ? 16 : 0);
    int result = 0;
    int ancLen = 0;
    const uint8_t* ancData = nullptr;
    if (anc && e->ancFormat != 0) {
        if (anc->length <= 0 || !anc->data) {
            result = -3302;
        } else {
            const int need = 8 * anc->length + e->ancOverhead;
            const int minimum = mp2::Table(fi.table).fieldBits * fi.channels;
            if (budget - need < minimum) {
                result = -3301;
            } else {
                ancLen = anc->length;
                ancData = anc->data;
                budget -= need;
            }
        }
    }
    // 4. Input conversion.
    const int nch = fi.channels;
    const int16_t* in16 = static_cast<const int16_t*>(pcm->data);
    if (e->width == 1 && e->layout == 0x86) {  // the engine's stereo: one plain pass
        for (int i = 0; i < inSamples; ++i) {
            e->input[0][i] = static_cast<float>(in16[2 * i]);
            e->input[1][i] = static_cast<float>(in16[2 * i + 1]);
        }
    } else if (e->width == 1 && e->layout == 0x40) {
        for (int i = 0; i < inSamples; ++i) e->input[0][i] = static_cast<float>(in16[i]);
    } else {
        for (int i = 0; i < inSamples; ++i) {
            float v[2];
            for (int c = 0; c < e->inChannels; ++c) {
                const size_t at = static_cast<size_t>(i) * static_cast<size_t>(e->inChannels) + static_cast<size_t>(c);
                v[c] = e->width == 1 ? static_cast<float>(static_cast<const int16_t*>(pcm->data)[at])
                                     : static_cast<float>((static_cast<int>(static_cast<const uint8_t*>(pcm->data)[at]) - 128) * 256);
            }
            switch (e->layout) {
                case 0x40: e->input[0][i] = v[0]; break;
                case 0x81: e->input[0][i] = v[1]; break;
                case 0x82: e->input[0][i] = v[0]; break;
                case 0x83: e->input[0][i] = static_cast<float>((static_cast<int>(v[0]) + static_cast<int>(v[1])) >> 1); break;
                case 0x86: e->input[0][i] = v[0]; e->input[1][i] = v[1]; break;
                default: e->input[0][i] = v[1]; e->input[1][i] = v[0]; break;
            }
        }
    }
    // 5. Decimation to the coded rate.
    for (int ch = 0; ch < nch; ++ch) {
        if (factor == 1) {
            std::copy_n(e->input[ch], codedSamples, e->coded[ch]);
            continue;
        }
        const mp2::IirFilter& f = factor == 2 ? mp2::EncoderDecimateX2() : mp2::EncoderDecimateX4();
        double* z = factor == 2 ? e->dz2[ch] : e->dz4[ch];
        for (int i = 0; i < inSamples; ++i) {
            const double x = e->input[ch][i] + ((i & 1) ? -1e-10 : 1e-10);
            const double y = mp2::IirStep(f, z, x);
            if (i % factor == factor - 1) e->coded[ch][i / factor] = static_cast<float>(y);
        }
    }
    // 6. Analysis.
    for (int ch = 0; ch < nch; ++ch) Analyse(e, ch, e->coded[ch], blocks);
    // 7. Scale factors and selection information.
    const mp2::AllocTable& table = mp2::Table(fi.table);
    const int sblimit = fi.sblimit;
    const int parts = layer == 2 ? 3 : 1;
    int scfIndex[2][32][3];
    int effective[2][32][3];
    int scfsi[2][32] = {};
    double scfMax[2][32];
    for (int ch = 0; ch < nch; ++ch)
        for (int sb = 0; sb < 32; ++sb) {
            for (int p = 0; p < 3; ++p) scfIndex[ch][sb][p] = 63;
            scfMax[ch][sb] = 0;
            if (sb >= sblimit) continue;
            const int per = blocks / parts;
            for (int p = 0; p < parts; ++p) {
                float m = 0;
                for (int b = p * per; b < (p + 1) * per; ++b) m = std::max(m, std::fabs(e->sb[ch][b][sb]));
                scfIndex[ch][sb][p] = ScaleIndex(m);
            }
            if (parts == 1) {
                scfIndex[ch][sb][1] = scfIndex[ch][sb][2] = scfIndex[ch][sb][0];
                for (int p = 0; p < 3; ++p) effective[ch][sb][p] = scfIndex[ch][sb][0];
            } else {
                const int* ix = scfIndex[ch][sb];
                const ScfPattern& pat = Patterns().p[DiffClass(ix[0] - ix[1])][DiffClass(ix[1] - ix[2])];
                const int smallest = std::min({ix[0], ix[1], ix[2]});
                for (int p = 0; p < 3; ++p) effective[ch][sb][p] = pat.used[p] == 4 ? smallest : ix[pat.used[p] - 1];
                scfsi[ch][sb] = pat.scfsi;
            }
            scfMax[ch][sb] = mp2::ScaleFactor(std::min({scfIndex[ch][sb][0], scfIndex[ch][sb][1], scfIndex[ch][sb][2]}));
        }
    // 8-9. Signal-to-mask ratios, kept within 20 dB of the previous frame's.
    int smr[2][32] = {};
    const int perChannel = fi.bitrate / std::max(nch, 1);
    if (e->model == 0 && (!e->psyReady || e->psyLayer != layer || e->psyRate != fi.codedRate ||
                          e->psyRatePerChannel != perChannel)) {
        e->psyReady = e->psy[0].Init(layer, fi.codedRate, perChannel) && e->psy[1].Init(layer, fi.codedRate, perChannel);
        e->psyLayer = layer;
        e->psyRate = fi.codedRate;
        e->psyRatePerChannel = perChannel;
    }
    for (int ch = 0; ch < nch; ++ch) {
        if (e->model == 0 && e->psyReady) {
            const int n = e->psy[ch].FftSize();
            std::copy_n(e->prevTail[ch], 192, e->psyIn);
            std::copy_n(e->coded[ch], n - 192, e->psyIn + 192);
            e->psy[ch].Compute(e->psyIn, scfMax[ch], sblimit, smr[ch]);
        } else {
            mp2::FixedModelSmr(fi.codedRate, scfIndex[ch], sblimit, fi.mode == 1, smr[ch]);
        }
        std::copy_n(e->coded[ch] + codedSamples - 192, 192, e->prevTail[ch]);
        for (int sb = 0; sb < sblimit; ++sb) {
            smr[ch][sb] = std::clamp(smr[ch][sb], e->prevSmr[ch][sb] - 20, e->prevSmr[ch][sb] + 20);
            e->prevSmr[ch][sb] = smr[ch][sb];
        }
    }
    // 10. Allocation.
    Alloc s;
    s.t = &table;
    s.costs = &CostsOf(fi.table);
    s.layer = layer;
    s.nch = nch;
    s.sblimit = sblimit;
    for (int ch = 0; ch < nch; ++ch)
        for (int sb = 0; sb < sblimit; ++sb) {
            static constexpr int kScfBits[4] = {20, 14, 8, 14};
            s.scfBits[ch][sb] = layer == 2 ? kScfBits[scfsi[ch][sb]] : 6;
            s.deficit[ch][sb] = smr[ch][sb];
        }
    double threshold = e->threshold;
    if (fi.reducedClass != -501 && e->allowReduced) {
        const int i = mp2::BitrateIndex(w);
        const int y = nch == 1 ? 8 : 12, x = y - 3;
        threshold = i <= x ? 0.05 : (i >= y ? 0.65 : 0.6 * (i - x) / (y - x) + 0.05);
        e->threshold = threshold;
    }
    int bound = sblimit;
    int modeExt = 0;
    if (fi.mode == 1) {
        int raises = 0;
        bound = AllocateJoint(s, smr, budget, freeFormat, &raises);
        if (bound >= sblimit) {
            w &= ~(3u << 10);  // every subband coded apart: plain stereo
            bound = sblimit;
        } else {
            modeExt = raises;
            w |= static_cast<uint32_t>(modeExt) << 8;
        }
    } else {
        if (fi.mode != 3) for (int sb = 0; sb < sblimit; ++sb) s.stronger[sb] = 0;
        AllocatePlain(s, budget, freeFormat, threshold);
    }
    // 11-12. Quantisation and frame assembly.
    Mp2BitWriter& out = e->writer;
    out.Reset();
    out.Write(0xFFF, 12);
    out.Write(mp2::StreamBits(w), 20);
    if (mp2::ProtectionBit(w) == 0) out.Write(0, 16);
    const int sideStart = out.BitCount();
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (sb >= bound && ch == 1) break;
            out.Write(static_cast<uint32_t>(s.alloc[ch][sb]), table.nbal[sb]);
        }
    if (layer == 2)
        for (int sb = 0; sb < sblimit; ++sb)
            for (int ch = 0; ch < nch; ++ch)
                if (s.alloc[ch][sb]) out.Write(static_cast<uint32_t>(scfsi[ch][sb]), 2);
    const int sideBits = out.BitCount() - sideStart;
    for (int sb = 0; sb < sblimit; ++sb)
        for (int ch = 0; ch < nch; ++ch) {
            if (!s.alloc[ch][sb]) continue;
            const int* ix = scfIndex[ch][sb];
            if (layer == 1) {
                out.Write(static_cast<uint32_t>(ix[0]), 6);
                continue;
            }
            const int* ef = effective[ch][sb];
            switch (scfsi[ch][sb]) {
                case 0: out.Write(static_cast<uint32_t>(ef[0]), 6); out.Write(static_cast<uint32_t>(ef[1]), 6); out.Write(static_cast<uint32_t>(ef[2]), 6); break;
                case 1: out.Write(static_cast<uint32_t>(ef[0]), 6); out.Write(static_cast<uint32_t>(ef[2]), 6); break;
                case 2: out.Write(static_cast<uint32_t>(ef[0]), 6); break;
                default: out.Write(static_cast<uint32_t>(ef[0]), 6); out.Write(static_cast<uint32_t>(ef[1]), 6); break;
            }
        }
    const int per = layer == 2 ? 3 : 1;
    for (int gr = 0; gr < 12; ++gr) {
        const int part = layer == 2 ? gr / 4 : 0;
        for (int sb = 0; sb < sblimit; ++sb)
            for (int ch = 0; ch < nch; ++ch) {
                if (sb >= bound && ch == 1) break;
                const int a = s.alloc[ch][sb];
                if (!a) continue;
                const mp2::QuantClass& q = mp2::Class(table.cls[sb][a]);
                int v[3] = {0, 0, 0};
                const double* scf = mp2::ScaleFactors();
                for (int j = 0; j < per; ++j) {
                    const int b = gr * per + j;
                    double x = e->sb[ch][b][sb] / scf[effective[ch][sb][part]];
                    if (sb >= bound)
                        x = 0.5 * (e->sb[0][b][sb] / scf[effective[0][sb][part]] + e->sb[1][b][sb] / scf[effective[1][sb][part]]);
                    v[j] = Quantise(q, std::clamp(x, -1.0, 0.9999999));
                }
                if (layer == 2 && q.grouped)
                    out.Write(static_cast<uint32_t>(v[0] + q.steps * (v[1] + q.steps * v[2])), q.bits);
                else
                    for (int j = 0; j < per; ++j) out.Write(static_cast<uint32_t>(v[j]), q.bits);
            }
    }
    int frameLength;
    if (freeFormat) {
        frameLength = out.FlushBytes();
        if (layer == 1) frameLength = (frameLength + 3) / 4 * 4;
    } else {
        frameLength = fi.frameBytes;
    }
    if (ancLen > 0) {
        const int trailer = 8 * ancLen + e->ancOverhead;
        const int fill = frameLength * 8 - trailer - out.BitCount();
        if (fill < 0) return kMp2FrameOverflow;
        for (int i = 0; i < fill; i += 32) out.Write(0, std::min(32, fill - i));
        for (int i = ancLen - 1; i >= 0; --i) out.Write(ancData[i], 8);
        if (e->ancFormat == 1) {
            out.Write(0, 8);
            out.Write(static_cast<uint32_t>(ancLen * 2) & 0xFF, 8);
        }
    }
    // 13. Never hand over a frame that ran past its length.
    if (out.Overflowed() || out.BitCount() > frameLength * 8) return kMp2FrameOverflow;
    uint8_t* buf = out.Data();
    if (out.FlushBytes() < frameLength) std::memset(buf + out.FlushBytes(), 0, static_cast<size_t>(frameLength - out.FlushBytes()));
    // 14. CRC over header bytes 2-3 and the side information.
    if (mp2::ProtectionBit(w) == 0) {
        const uint16_t crc = Mp2Crc16(buf + 2, 0, sideBits);
        buf[4] = static_cast<uint8_t>(crc >> 8);
        buf[5] = static_cast<uint8_t>(crc & 0xFF);
    }
    // 15. Hand over.
    e->frameBytes = frameLength;
    int length = frameLength;
    if (e->callback) e->callback(buf, &length, e->user);
    e->frameBytes = 0;
    return result;
}

int Mp2EncoderClose(Mp2Encoder** handle) {
    if (!handle || !*handle || (*handle)->guard != kEncoderGuard) return -18;
    Mp2Encoder* e = *handle;
    if (!e->open) return -20;
    e->open = 0;
    e->guard = 0;
    delete e;
    *handle = nullptr;
    return 0;
}
