#include "codecs/aptx/AptxEnhCoder.h"

#include <algorithm>

namespace {

// Each Ti and Td list carries its index -1 entry first (Ti[-1] = -Ti[0], Td[-1] = Td[0]).
constexpr int32_t kLlTi[65] = {
    -4974,   4974,    14930,   24904,   34911,   44963,   55072,   65251,   75513,   85869,   96333,
    106916,  117632,  128491,  139507,  150692,  162059,  173622,  185395,  197391,  209625,  222113,
    234871,  247916,  261268,  274945,  288968,  303360,  318145,  333350,  349003,  365135,  381781,
    398979,  416769,  435199,  454320,  474188,  494870,  516437,  538974,  562575,  587350,  613425,
    640950,  670098,  701078,  734141,  769591,  807805,  849257,  894549,  944472,  1000084, 1062850,
    1134875, 1219335, 1321330, 1449731, 1621620, 1873039, 2267569, 2832049, 3551212, 4448731};
constexpr int32_t kLlTo[64] = {-21, -19, -17, -15, -12, -10, -8,  -6,  -4,  -1,  1,   3,   6,   8,   10,  13,
                               15,  18,  20,  23,  26,  29,  31,  34,  37,  40,  43,  47,  50,  53,  57,  60,
                               64,  68,  72,  76,  80,  85,  89,  94,  99,  105, 110, 116, 123, 129, 136, 144,
                               152, 161, 171, 182, 194, 207, 223, 241, 263, 291, 328, 382, 467, 522, 522, 522};
constexpr int32_t kLlTd[65] = {
    4974,   4974,   4981,   4994,   5013,   5039,   5071,   5109,   5153,   5204,   5260,   5323,   5392,
    5467,   5549,   5637,   5731,   5832,   5940,   6056,   6179,   6309,   6449,   6597,   6755,   6922,
    7101,   7291,   7494,   7711,   7942,   8190,   8456,   8742,   9049,   9381,   9740,   10129,  10553,
    11015,  11522,  12079,  12695,  13380,  14145,  15004,  15977,  17086,  18364,  19850,  21601,  23691,
    26231,  29381,  33385,  38640,  45821,  56174,  72226,  99663,  151756, 242773, 321707, 397457, 500062};
constexpr int32_t kLhTi[9] = {-44903, 44903, 139251, 247169, 379721, 556556, 826161, 1360128, 2595093};
constexpr int32_t kLhTo[8] = {-14, 6, 29, 58, 96, 154, 270, 521};
constexpr int32_t kLhTd[9] = {44903, 44903, 49445, 58473, 74079, 102756, 166849, 367118, 867848};
constexpr int32_t kHlTi[3] = {-97040, 97040, 445281};
constexpr int32_t kHlTo[2] = {-33, 136};
constexpr int32_t kHlTd[3] = {97040, 97040, 251201};
constexpr int32_t kHhTi[5] = {-81503, 81503, 271354, 560277, 1334619};
constexpr int32_t kHhTo[4] = {-8, 33, 95, 262};
constexpr int32_t kHhTd[5] = {81503, 81503, 108349, 180574, 593769};

constexpr AptxEnhBandTable kTables16[4] = {
    {kLlTi + 1, kLlTo, kLlTd + 1, 7, -20, 4607, 24},
    {kLhTi + 1, kLhTo, kLhTd + 1, 4, -23, 5375, 12},
    {kHlTi + 1, kHlTo, kHlTd + 1, 2, -25, 5887, 6},
    {kHhTi + 1, kHhTo, kHhTd + 1, 3, -24, 5631, 12},
};

constexpr int32_t kFactors[32] = {4194304, 4286464, 4380672, 4476928, 4573184, 4673536, 4775936, 4880384,
                                  4986880, 5097472, 5208064, 5322752, 5439488, 5558272, 5681152, 5804032,
                                  5931008, 6062080, 6195200, 6330368, 6467584, 6610944, 6754304, 6903808,
                                  7053312, 7208960, 7366656, 7528448, 7692288, 7860224, 8032256, 8208384};

constexpr int32_t kP16[16] = {-897,    730,    688,     -413,    3511,    -9611,  -10043, 43626,
                              8478,    -121026, 27611,  269973,  -160481, -585547, 697128, 2801966};
constexpr int32_t kG16[16] = {-1268,   1033,   973,     -584,    4966,    -13592, -14203, 61697,
                              11990,   -171156, 39048,  381799,  -226954, -828088, 985888, 3962579};
constexpr int32_t P(int k) { return k < 16 ? kP16[k] : kP16[31 - k]; }
constexpr int32_t G(int k) { return k < 16 ? kG16[k] : kG16[31 - k]; }

// 32-bit wrapping arithmetic, defined for every input.
int32_t Wrap(int64_t v) { return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(v))); }
int32_t WrapAdd(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b)); }
int32_t WrapMul(int32_t a, int32_t b) { return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b)); }
int32_t Shl(int32_t a, int n) { return static_cast<int32_t>(static_cast<uint32_t>(a) << n); }

void Push(int32_t* ring, int32_t& pos, int size, int32_t v) {
    pos = pos == 0 ? size - 1 : pos - 1;
    ring[pos] = v;
    ring[pos + size] = v;
}

void Stage1(AptxEnhCoderState& s) {
    const int32_t* y = s.in + s.inPos;
    int64_t lo = 0, hi = 0;
    for (int k = 0; k < 32; ++k) {
        const int64_t t = int64_t{P(k)} * y[k];
        lo += t;
        hi += (k & 1) ? -t : t;
    }
    int32_t pos = s.outPos;
    Push(s.low, pos, 32, Wrap((lo + (1 << 22)) >> 23));
    pos = s.outPos;
    Push(s.high, pos, 32, Wrap((hi + (1 << 22)) >> 23));
    s.outPos = pos;
}

void Stage2(const int32_t* z, int64_t& sum, int64_t& diff) {
    sum = 0;
    diff = 0;
    for (int k = 0; k < 32; ++k) {
        const int64_t t = int64_t{G(k)} * z[k];
        sum += t;
        diff += (k & 1) ? -t : t;
    }
}

void Quantise(AptxEnhSubband& b, int64_t sum) {
    const AptxEnhBandTable& t = *b.table;
    const int64_t dv = sum - (int64_t{b.ps} << 23);
    uint64_t mag = dv < 0 ? 0 - static_cast<uint64_t>(dv) : static_cast<uint64_t>(dv);
    if (mag >> 24) {
        const int top = 63 - __builtin_clzll(mag);
        mag &= ~((uint64_t{1} << (top - 23)) - 1);
    }
    const int64_t v = static_cast<int64_t>(mag >> 3);
    const int n = 1 << (t.bits - 1);
    int lo = 0, hi = n - 1;
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (2 * int64_t{b.qf} * t.ti[mid] <= v)
            lo = mid + 1;
        else
            hi = mid;
    }
    const int q = lo;
    const int32_t dd = b.dither >> 8;
    const int64_t r = b.dither == INT32_MIN ? 0x7FFFFF : (int64_t{dd} * dd) >> 23;
    const int64_t p1 = (r - (1 << 23)) * (int64_t{t.td[q]} - t.td[q - 1]);
    const int64_t p2 = int64_t{dd} * 2 * (int64_t{t.ti[q]} - t.ti[q - 1]);
    int64_t th = ((dv >= 0 ? p1 + p2 : p1 - p2) >> 24) + t.ti[q] + t.ti[q - 1];
    th = std::clamp<int64_t>(th, -(1 << 23), (1 << 23) - 1);
    const int64_t e = (v - th * b.qf) >> 23;
    int32_t value, alt, err;
    if (e >= 0) {
        value = q;
        alt = q - 1;
        err = static_cast<int32_t>(std::min<int64_t>(e, INT32_MAX));
    } else {
        value = q - 1;
        alt = q;
        err = static_cast<int32_t>(std::min<int64_t>(-e, INT32_MAX));
    }
    if (dv < 0) {
        value = ~value;
        alt = ~alt;
    }
    b.q = value;
    b.alt = alt;
    b.err = err;
}

// Inverse quantisation, factor adaptation and prediction; returns rd.
int32_t Reconstruct(AptxEnhSubband& b) {
    const AptxEnhBandTable& t = *b.table;
    const int n = 1 << (t.bits - 1);
    int i = b.q >= 0 ? b.q : ~b.q;
    if (i >= n) i = n - 1;  // values come from our own unpacking; keep the table index sound regardless
    const int64_t level = b.q >= 0 ? t.ti[i] : -int64_t{t.ti[i]};
    const int64_t u = (int64_t{b.dither} * 2 * t.td[i]) >> 32;
    const int32_t rd = Wrap(((level + u) * b.qf) >> 18);
    b.fs = std::clamp<int32_t>(((b.fs * 8155) >> 13) + t.to[i], 0, t.maxFs);
    b.qf = kFactors[(b.fs >> 3) & 31] >> (-t.shift - 3 - (b.fs >> 8));

    const int32_t x = rd >> 1;
    b.sr = WrapAdd(x, b.ps);
    const int32_t tt = WrapAdd(x, b.pz);
    const int s0 = tt > 0 ? 1 : (tt < 0 ? -1 : 0);
    const int c1 = b.s1 >= 0 ? s0 : -s0;
    const int c2 = b.s2 >= 0 ? s0 : -s0;
    b.s2 = b.s1;
    b.s1 = static_cast<int8_t>(s0);
    const int32_t a1new = 192 * c1 + ((b.a1 * 255 + 128) >> 8);
    int32_t a2new = (b.a2 * 127 + 4 * (4096 * c2 - c1 * std::clamp(b.a1, -8192, 8192)) + 64) >> 7;
    a2new = std::clamp(a2new, -12288, 12288);
    b.a1 = std::clamp(a1new, -(15360 - a2new), 15360 - a2new);
    b.a2 = a2new;

    const int order = t.order;
    const int32_t step = x > 0 ? 128 : (x < 0 ? -128 : 0);
    const int32_t* d = b.d + b.ringPos;
    for (int j = 0; j < order; ++j) b.w[j] = ((b.w[j] * 255 + 128) >> 8) + (d[j] < 0 ? -step : step);
    Push(b.d, b.ringPos, order, x);
    d = b.d + b.ringPos;
    int64_t z = 0;
    for (int j = 0; j < order; ++j) z += int64_t{b.w[j]} * d[j];
    b.pz = Wrap(z >> 14);
    b.ps = Wrap((z + int64_t{b.a1} * b.sr + int64_t{b.a2} * b.srPrev) >> 14);
    b.srPrev = b.sr;
    return rd;
}

int32_t R22(int64_t v) { return Wrap((v + (1 << 21)) >> 22); }
int32_t R21(int64_t v) { return Wrap((v + (1 << 20)) >> 21); }

}  // namespace

const AptxEnhBandTable* AptxEnhTables16() { return kTables16; }

void AptxEnhSetupBands(AptxEnhCoderState& s, const AptxEnhBandTable* tables) {
    for (int k = 0; k < 4; ++k) {
        AptxEnhSubband& b = s.band[k];
        b.s1 = 1;
        b.s2 = 1;
        b.table = &tables[k];
        b.mask = (1 << tables[k].bits) - 1;
    }
}

void AptxEnhUpdateHistory(AptxEnhCoderState& s) {
    const int32_t bits = (s.band[0].q & 3) | ((s.band[1].q & 2) << 1) | ((s.band[2].q & 1) << 3);
    s.history = WrapAdd(WrapMul(s.history, 16), bits * 256);
}

void AptxEnhDither(AptxEnhCoderState& s, int32_t parityMask) {
    // The 48-bit product of h and 0x9E3776, split into two 24-bit halves.
    const int32_t h = s.history >> 8;
    const int32_t h55 = WrapMul(h, 55), h158 = WrapMul(h, 158);
    int32_t lo = WrapAdd(WrapAdd(WrapMul(h, 118), Shl(h55 & 0xFFFF, 8)), Shl(h158 & 0xFF, 16));
    const int32_t hi = WrapAdd(WrapAdd(h55 >> 16, h158 >> 8), lo >> 24);
    lo &= 0xFFFFFF;
    const int32_t d = WrapAdd(WrapMul(WrapAdd(hi, lo), 4), lo >> 22);
    s.ditherParity = (d >> 24) & parityMask;
    s.band[0].dither = Shl(d, 23);
    s.band[1].dither = Shl(d, 18);
    s.band[2].dither = Shl(d, 13);
    s.band[3].dither = Shl(d, 8);
}

void AptxEnhAnalyse(AptxEnhCoderState& s, const int32_t x[4]) {
    for (int run = 0; run < 2; ++run) {
        Push(s.in, s.inPos, 32, x[2 * run]);
        Push(s.in, s.inPos, 32, x[2 * run + 1]);
        Stage1(s);
    }
    int64_t sums[4];
    Stage2(s.low + s.outPos, sums[0], sums[1]);
    Stage2(s.high + s.outPos, sums[2], sums[3]);
    for (int k = 0; k < 4; ++k) Quantise(s.band[k], sums[k]);
}

void AptxEnhFinishEncode(AptxEnhCoderState& s) {
    for (AptxEnhSubband& b : s.band) Reconstruct(b);
}

void AptxEnhSynthesise(AptxEnhCoderState& s, int32_t out[4]) {
    int32_t band[4];
    for (int k = 0; k < 4; ++k) {
        AptxEnhSubband& b = s.band[k];
        const int32_t ps = b.ps;
        const int32_t rd = Reconstruct(b);
        band[k] = WrapAdd(static_cast<int32_t>((int64_t{rd} + 1) >> 1), ps);
    }
    int32_t pos = s.synPos2;
    Push(s.u, pos, 16, WrapAdd(band[0], band[1]));
    pos = s.synPos2;
    Push(s.v, pos, 16, Wrap(int64_t{band[0]} - band[1]));
    pos = s.synPos2;
    Push(s.wv, pos, 16, WrapAdd(band[2], band[3]));
    pos = s.synPos2;
    Push(s.z, pos, 16, Wrap(int64_t{band[2]} - band[3]));
    s.synPos2 = pos;
    const int32_t* u = s.u + pos;
    const int32_t* v = s.v + pos;
    const int32_t* w = s.wv + pos;
    const int32_t* z = s.z + pos;
    int64_t sa0 = 0, sr0 = 0, sa1 = 0, sr1 = 0;
    for (int j = 0; j < 16; ++j) {
        sa0 += int64_t{G(2 * j + 1)} * u[j];
        sr0 += int64_t{G(2 * j + 1)} * w[j];
        sa1 += int64_t{G(2 * j)} * v[j];
        sr1 += int64_t{G(2 * j)} * z[j];
    }
    const int32_t a0 = R22(sa0), r0 = R22(sr0), a1 = R22(sa1), r1 = R22(sr1);
    pos = s.synPos1;
    Push(s.x, pos, 17, WrapAdd(a1, r1));
    Push(s.x, pos, 17, WrapAdd(a0, r0));
    pos = s.synPos1;
    Push(s.y, pos, 17, Wrap(int64_t{a1} - r1));
    Push(s.y, pos, 17, Wrap(int64_t{a0} - r0));
    s.synPos1 = pos;
    const int32_t* xr = s.x + pos;
    const int32_t* yr = s.y + pos;
    int64_t o0 = 0, o1 = 0, o2 = 0, o3 = 0;
    for (int i = 0; i < 16; ++i) {
        const int64_t hi = P(2 * i + 1), hr = P(2 * (15 - i) + 1);
        o0 += hr * yr[i + 1];
        o1 += hi * xr[i + 1];
        o2 += hr * yr[i];
        o3 += hi * xr[i];
    }
    out[0] = R21(o0);
    out[1] = R21(o1);
    out[2] = R21(o2);
    out[3] = R21(o3);
}
