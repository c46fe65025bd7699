#include "codecs/aptx/AptxStdCoder.h"

#include <algorithm>

namespace {

constexpr int32_t kStage1[32] = {2,     -7,   15,    -25,   35,    -41,  38,   -17,  -32, 124,  -283,
                                 543,   -973, 1733,  -3339, 9059,  30153, -6409, 3633, -2467, 1780, -1307,
                                 956,   -689, 483,   -327,  212,   -130,  75,    -39,  18,    -7};
constexpr int32_t kStage2Half[16] = {147,  -260,  -129, 536,   55,    -933,  136,  1488,
                                     -522, -2291, 1276, 3592, -2918, -6510, 8714, 30387};
constexpr int32_t Stage2(int j) { return j < 16 ? kStage2Half[j] : kStage2Half[31 - j]; }

constexpr int32_t kLevels2[2] = {1614, 7406};
constexpr int32_t kOffsets2[2] = {-30, 130};
constexpr int32_t kThresholds2[1] = {4512};
constexpr int32_t kLevels3[4] = {912, 3216, 6448, 12238};
constexpr int32_t kOffsets3[4] = {-15, 0, 35, 256};
constexpr int32_t kThresholds3[3] = {2046, 4832, 9344};
constexpr int32_t kLevels4[8] = {0, 1152, 2456, 3968, 5784, 8088, 11328, 17120};
constexpr int32_t kOffsets4[8] = {-18, -18, -11, -3, 11, 61, 171, 380};
constexpr int32_t kThresholds4[7] = {576, 1800, 3208, 4872, 6936, 9704, 14224};
constexpr int32_t kLevels7[64] = {
    0,     184,   370,   560,   752,   946,   1144,  1346,  1550,  1756,  1968,  2182,  2398,
    2620,  2846,  3074,  3308,  3544,  3786,  4034,  4284,  4540,  4802,  5070,  5342,  5620,
    5906,  6196,  6494,  6800,  7114,  7434,  7764,  8102,  8450,  8808,  9176,  9556,  9948,
    10354, 10772, 11208, 11658, 12126, 12614, 13122, 13654, 14212, 14798, 15416, 16070, 16764,
    17506, 18302, 19162, 20098, 21130, 22278, 23582, 25094, 26910, 28672, 30720, 32764};
constexpr int32_t kOffsets7[64] = {
    -15, -15, -7,  -7,  -7,  -7,  -7,  -7,  -7,  0,   0,   0,   0,   0,   0,   0,
    1,   3,   4,   7,   8,   10,  12,  14,  16,  18,  20,  22,  23,  26,  29,  32,
    35,  38,  42,  42,  48,  48,  55,  55,  61,  61,  73,  73,  87,  87,  97,  97,
    121, 121, 147, 147, 171, 171, 195, 195, 217, 217, 291, 291, 405, 405, 512, 512};
// Entry 36 (9683) stands off the midpoint of its neighbouring levels; the
// coder uses it as it is, or streams from other coders would not match.
constexpr int32_t kThresholds7[63] = {
    92,    276,   464,   656,   848,   1046,  1244,  1448,  1654,  1862,  2074,  2290,  2510,
    2732,  2960,  3190,  3426,  3666,  3910,  4158,  4412,  4672,  4936,  5206,  5482,  5762,
    6050,  6346,  6648,  6956,  7274,  7598,  7932,  8276,  8628,  8992,  9683,  9752,  10150,
    10564, 10990, 11432, 11892, 12370, 12868, 13388, 13934, 14504, 15106, 15742, 16416, 17134,
    17904, 18732, 19630, 20614, 21704, 22930, 24338, 26002, 27791, 29696, 31744};
constexpr int32_t kFactors[32] = {16384, 16744, 17112, 17488, 17864, 18256, 18656, 19064,
                                  19480, 19912, 20344, 20792, 21248, 21712, 22192, 22672,
                                  23168, 23680, 24200, 24728, 25264, 25824, 26384, 26968,
                                  27552, 28160, 28776, 29408, 30048, 30704, 31376, 32064};

struct Quantiser {
    const int32_t* levels;
    const int32_t* offsets;
    const int32_t* thresholds;
    int bits;
};
constexpr Quantiser kQuant2{kLevels2, kOffsets2, kThresholds2, 2};
constexpr Quantiser kQuant3{kLevels3, kOffsets3, kThresholds3, 3};
constexpr Quantiser kQuant4{kLevels4, kOffsets4, kThresholds4, 4};
constexpr Quantiser kQuant7{kLevels7, kOffsets7, kThresholds7, 7};

struct BandParams {
    int32_t maxFs;
    int32_t shift;
    int order;
};
constexpr BandParams kBands[4] = {{2816, 1, 24}, {3328, 1, 12}, {3584, 0, 6}, {3584, 0, 12}};

int32_t Sat16(int64_t v) { return static_cast<int32_t>(std::clamp<int64_t>(v, -32768, 32767)); }
// floor((x + 32768) / 65536): the arithmetic shift of a 64-bit sum is exact.
int32_t Rlow(int64_t x) { return Sat16((x + 32768) >> 16); }
int32_t Rhigh(int64_t x) { return static_cast<int32_t>(std::clamp<int64_t>((x + 32767) >> 16, -32767, 32767)); }

void Push(int32_t* ring, int32_t& pos, int size, int32_t v) {
    pos = pos == 0 ? size - 1 : pos - 1;
    ring[pos] = v;
    ring[pos + size] = v;
}

// One stage-1 analysis run; h[i] is the input i samples back.
void Stage1(const int32_t* h, int32_t& low, int32_t& high) {
    int64_t a = 0, b = 0;
    for (int j = 0; j < 32; ++j) {
        a += static_cast<int64_t>(kStage1[j]) * h[2 * j];
        b += static_cast<int64_t>(kStage1[31 - j]) * h[2 * j + 1];
    }
    low = Rlow(a + b);
    high = Rhigh(a - b);
}

void Stage2(const int32_t* z, int32_t& sum, int32_t& diff) {
    int64_t se = 0, so = 0;
    for (int j = 0; j < 32; j += 2) {
        se += static_cast<int64_t>(Stage2(j)) * z[j];
        so += static_cast<int64_t>(Stage2(j + 1)) * z[j + 1];
    }
    sum = Rlow(se + so);
    diff = Rhigh(se - so);
}

void Analyse(AptxStdFilter& f, const int16_t x[4], int32_t band[4]) {
    for (int run = 0; run < 2; ++run) {
        Push(f.stage1, f.stage1Pos, 64, x[2 * run]);
        Push(f.stage1, f.stage1Pos, 64, x[2 * run + 1]);
        int32_t low, high;
        Stage1(f.stage1 + f.stage1Pos, low, high);
        int32_t pos = f.stage2Pos;
        Push(f.stage2Low, pos, 32, low);
        pos = f.stage2Pos;
        Push(f.stage2High, pos, 32, high);
        f.stage2Pos = pos;
    }
    Stage2(f.stage2Low + f.stage2Pos, band[0], band[1]);
    Stage2(f.stage2High + f.stage2Pos, band[2], band[3]);
}

void Synthesise(AptxStdFilter& f, const int32_t band[4], int16_t out[4]) {
    int32_t pos = f.synPos2;
    Push(f.u, pos, 16, Sat16(int64_t{band[0]} + band[1]));
    pos = f.synPos2;
    Push(f.v, pos, 16, Sat16(int64_t{band[0]} - band[1]));
    pos = f.synPos2;
    Push(f.wv, pos, 16, Sat16(int64_t{band[2]} + band[3]));
    pos = f.synPos2;
    Push(f.z, pos, 16, Sat16(int64_t{band[2]} - band[3]));
    f.synPos2 = pos;
    const int32_t* u = f.u + pos;
    const int32_t* v = f.v + pos;
    const int32_t* w = f.wv + pos;
    const int32_t* z = f.z + pos;
    int64_t s0 = 0, s4 = 0, s8 = 0, s12 = 0;
    for (int j = 0; j < 16; ++j) {
        s0 += static_cast<int64_t>(Stage2(2 * j + 1)) * u[j];
        s4 += static_cast<int64_t>(Stage2(2 * j)) * v[j];
        s8 += static_cast<int64_t>(Stage2(2 * j + 1)) * w[j];
        s12 += static_cast<int64_t>(Stage2(2 * j)) * z[j];
    }
    const int32_t f0 = Rlow(2 * s0), f4 = Rlow(2 * s4), f8 = Rlow(2 * s8), f12 = Rlow(2 * s12);
    pos = f.synPos1;
    Push(f.x, pos, 34, Sat16(int64_t{f4} + f12));
    Push(f.x, pos, 34, Sat16(int64_t{f0} + f8));
    pos = f.synPos1;
    Push(f.y, pos, 34, Sat16(int64_t{f4} - f12));
    Push(f.y, pos, 34, Sat16(int64_t{f0} - f8));
    f.synPos1 = pos;
    const int32_t* xr = f.x + pos;
    const int32_t* yr = f.y + pos;
    int64_t o0 = 0, o1 = 0, o2 = 0, o3 = 0;
    for (int i = 0; i < 32; ++i) {
        o0 += static_cast<int64_t>(kStage1[i]) * yr[i + 1];
        o1 += static_cast<int64_t>(kStage1[31 - i]) * xr[i + 1];
        o2 += static_cast<int64_t>(kStage1[i]) * yr[i];
        o3 += static_cast<int64_t>(kStage1[31 - i]) * xr[i];
    }
    out[0] = static_cast<int16_t>(Rlow(2 * o0));
    out[1] = static_cast<int16_t>(Rlow(2 * o1));
    out[2] = static_cast<int16_t>(Rlow(2 * o2));
    out[3] = static_cast<int16_t>(Rlow(2 * o3));
}

void Predict(AptxStdSubband& s, int order) {
    const int32_t pole = Sat16((int64_t{s.a2} * s.srPrev + int64_t{s.a1} * s.sr + 8192) >> 14);
    s.srPrev = s.sr;
    int64_t sum = 0;
    for (int j = 0; j < order; ++j) sum += int64_t{s.w[j]} * s.d[j];
    s.pz = Sat16((sum + 8192) >> 14);
    for (int j = order; j >= 1; --j) s.d[j] = s.d[j - 1];
    s.ps = Sat16(int64_t{pole} + s.pz);
}

int Quantise(const AptxStdSubband& s, int32_t x, const Quantiser& q) {
    const int32_t e = Sat16(int64_t{x} - s.ps);
    const int64_t mag = (e < 0 ? -int64_t{e} : int64_t{e}) << 14;
    const int n = 1 << (q.bits - 1);
    // Halving search over the rising thresholds: count of T[j] with qf*T[j] <= |e|*2^14.
    int lo = 0, hi = n - 1;  // answer in [lo, hi]
    while (lo < hi) {
        const int mid = (lo + hi) / 2;
        if (int64_t{s.qf} * q.thresholds[mid] <= mag)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo + (e < 0 ? n : 0);
}

// Inverse quantisation, step adaptation and predictor update; returns nothing,
// leaves the new reconstructed sample in s.sr.
void Reconstruct(AptxStdSubband& s, int code, const Quantiser& q, const BandParams& p) {
    const int n = 1 << (q.bits - 1);
    const int m = code & (n - 1);
    int64_t prod = int64_t{q.levels[m]} * s.qf;
    if (code & n) prod = -prod;
    const int32_t rd = Sat16((prod + 8192) >> 14);
    s.fs = std::clamp<int32_t>(((s.fs * 16310) >> 14) + q.offsets[m], 0, p.maxFs);
    const int64_t factor = int64_t{kFactors[(s.fs >> 3) & 31]} << ((s.fs >> 8) + p.shift + 1);
    s.qf = Sat16((factor + 8192) >> 14);

    s.d[0] = rd;
    s.sr = Sat16(int64_t{rd} + s.ps);
    const int s0 = int64_t{rd} + s.pz >= 0 ? 1 : -1;
    const int c1 = s.s1 >= 0 ? s0 : -s0;
    const int c2 = s.s2 >= 0 ? s0 : -s0;
    s.s2 = s.s1;
    s.s1 = static_cast<int8_t>(s0);
    const int32_t a1new = ((s.a1 * 16320 + 8192) >> 14) + 192 * c1;
    int32_t a2new = (512 * (4096 * c2 - c1 * std::clamp(s.a1, -8192, 8192)) + 16256 * s.a2 + 8192) >> 14;
    a2new = std::clamp(a2new, -12288, 12288);
    s.a2 = a2new;
    s.a1 = std::clamp(a1new, -(15360 - a2new), 15360 - a2new);
    const int32_t step = rd > 0 ? 128 : (rd < 0 ? -128 : 0);
    for (int j = 0; j < p.order; ++j) s.w[j] = ((s.w[j] * 255 + 128) >> 8) + (s.d[j + 1] < 0 ? -step : step);
}

const Quantiser& BandQuantiser(int band, bool syncSlot, bool userBit) {
    switch (band) {
        case 0: return kQuant7;
        case 1: return syncSlot ? kQuant3 : kQuant4;
        case 2: return kQuant2;
        default: return userBit ? kQuant2 : kQuant3;
    }
}

}  // namespace

void AptxStdResetChannel(AptxStdChannel& ch) { ch = AptxStdChannel{}; }

void AptxStdAnalyse(AptxStdFilter& f, const int16_t x[4], int32_t bands[4]) { Analyse(f, x, bands); }
void AptxStdSynthesise(AptxStdFilter& f, const int32_t bands[4], int16_t out[4]) { Synthesise(f, bands, out); }

uint16_t AptxStdEncodeWord(AptxStdChannel& ch, const int16_t x[4], bool syncSlot, bool userBit) {
    int32_t bands[4];
    Analyse(ch.analysis, x, bands);
    int codes[4];
    for (int b = 0; b < 4; ++b) {
        AptxStdSubband& s = ch.band[b];
        const Quantiser& q = BandQuantiser(b, syncSlot, userBit);
        Predict(s, kBands[b].order);
        codes[b] = Quantise(s, bands[b], q);
        Reconstruct(s, codes[b], q, kBands[b]);
    }
    const int lh = syncSlot ? codes[1] << 1 : codes[1];
    const int hh = userBit ? codes[3] << 1 : codes[3];
    return static_cast<uint16_t>(codes[0] | (lh << 7) | (codes[2] << 11) | (hh << 13));
}

void AptxStdDecodeWord(AptxStdChannel& ch, uint16_t word, bool syncSlot, bool userBit, int16_t out[4]) {
    int codes[4];
    codes[0] = word & 0x7F;
    codes[1] = syncSlot ? (word >> 8) & 7 : (word >> 7) & 15;
    codes[2] = (word >> 11) & 3;
    codes[3] = userBit ? (word >> 14) & 3 : (word >> 13) & 7;
    int32_t bands[4];
    for (int b = 0; b < 4; ++b) {
        AptxStdSubband& s = ch.band[b];
        const Quantiser& q = BandQuantiser(b, syncSlot, userBit);
        Predict(s, kBands[b].order);
        Reconstruct(s, codes[b], q, kBands[b]);
        bands[b] = s.sr;
    }
    Synthesise(ch.synthesis, bands, out);
}
