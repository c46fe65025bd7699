#include "mp3enc/l3core/core/quant/ScalefactorBits.h"

#include <algorithm>
#include <cstring>

#include "common/L3Tables.h"

namespace {

// MPEG-1 groups by block kind (long, short, mixed).
constexpr int kMpeg1Groups[3][4] = {{6, 5, 5, 5}, {9, 9, 9, 9}, {8, 9, 9, 9}};
// scalefac_compress by 4a + b, a and b the bits groups 0-1 and 2-3 need.
constexpr int kCompressOf[20] = {0, 1, 2, 3, 5, 5, 6, 7, 8, 8, 9, 10, 4, 11, 12, 13, 14, 14, 14, 15};
constexpr int kIntensityKeys = 256;
// Position steps of 2^(-1/4) in level, as the model's lower-rate positions assume.
constexpr int kIntensityScale = 0;
// The MPEG-1 position that means "no intensity processing".
constexpr int kIllegalMpeg1 = 7;

// Record of band b in window w for the block kind (0 long, 1 short, 2 mixed).
int RecordOf(int kind, int mixedLongBands, int w, int b) {
    if (kind == 0) return b;
    if (kind == 1) return 3 * b + w;
    return mixedLongBands + 3 * (b - 3) + w;
}

// Walks down from the top band of each window: positions above the bound,
// then the all-zero bands a decoder also takes for intensity bands, which
// are marked as carrying the "no intensity" position.
void MarkIntensity(GranuleInfo* info, int kind, const bool* zeroBand, bool* illegal) {
    const int bands = kind == 0 ? 21 : 12;
    const int first = kind == 2 ? 3 : 0;
    auto walk = [&](int k, int w, int from, int to) {
        int b = from;
        for (; b >= to; --b) {
            const int r = RecordOf(k, info->mixedLongBands, w, b);
            if (info->isPosition[r] != kNotIntensity) {
                info->scalefac[r] = info->isPosition[r];
            } else if (zeroBand[r]) {
                illegal[r] = true;
            } else {
                break;
            }
        }
        return b < to;
    };
    int empty = 0;
    for (int w = 0; w < (kind == 0 ? 1 : 3); ++w) empty += walk(kind, w, bands - 1, first);
    // A mixed block whose short part is silent continues in its long bands.
    if (kind == 2 && empty == 3) walk(0, 0, info->mixedLongBands - 1, 0);
}

int BitsFor(int value) {
    int bits = 0;
    while (value >> bits) ++bits;
    return bits;
}

// Bits the largest value of each group needs.
void Needed(const int* values, const int* counts, int* needed) {
    int at = 0;
    for (int g = 0; g < 4; ++g) {
        int top = 0;
        for (int k = 0; k < counts[g] && at + k < kMaxScalefactors; ++k) top = std::max(top, values[at + k]);
        needed[g] = BitsFor(top);
        at += counts[g];
    }
}

int Mpeg1(GranuleInfo* info, int kind, const int* values) {
    const int* counts = kMpeg1Groups[kind];
    int needed[4];
    Needed(values, counts, needed);
    const int a = std::max(needed[0], needed[1]), b = std::max(needed[2], needed[3]);
    if (a > 4 || b > 3) return -1;
    info->scalefacCompress = kCompressOf[4 * a + b];
    const int slen1 = l3tables::kSlenMpeg1[info->scalefacCompress][0], slen2 = l3tables::kSlenMpeg1[info->scalefacCompress][1];
    int bits = 0;
    for (int g = 0; g < 4; ++g) {
        info->groupCount[g] = counts[g];
        info->slen[g] = g < 2 ? slen1 : slen2;
        bits += counts[g] * info->slen[g];
    }
    return bits;
}

// MPEG-2 and 2.5: every scalefac_compress of the candidate partition tables
// is tried; the one needing fewest bits wins (the first on a tie).
// The right channel of an intensity granule has its own three tables, keyed
// by scalefac_compress / 2; the low bit is intensity_scale.
int Lower(GranuleInfo* info, int kind, const int* values) {
    const int variant = info->intensity ? 1 : 0;
    const int keys = info->intensity ? kIntensityKeys : 512;
    int candidates[3] = {info->preflag ? 2 : 0, info->preflag ? -1 : 1, -1};
    if (info->intensity) {
        candidates[0] = 3;
        candidates[1] = 4;
        candidates[2] = 5;
    }
    int best = -1, bestBits = 0;
    for (int block : candidates) {
        if (block < 0) continue;
        const uint8_t* counts8 = l3tables::kLsfPartitions[block][kind];
        int counts[4] = {counts8[0], counts8[1], counts8[2], counts8[3]};
        int needed[4];
        Needed(values, counts, needed);
        for (int c = 0; c < keys; ++c) {
            const l3tables::LsfSlen& s = l3tables::kLsfSlen[variant][c];
            if (s.block != block || s.preflag != info->preflag) continue;
            bool fits = true;
            int bits = 0;
            for (int g = 0; g < 4; ++g) {
                if (counts[g] > 0 && s.slen[g] < needed[g]) fits = false;
                bits += counts[g] * s.slen[g];
            }
            if (fits && (best < 0 || bits < bestBits)) {
                best = c;
                bestBits = bits;
            }
        }
    }
    if (best < 0) return -1;
    const l3tables::LsfSlen& s = l3tables::kLsfSlen[variant][best];
    info->scalefacCompress = info->intensity ? 2 * best + kIntensityScale : best;
    for (int g = 0; g < 4; ++g) {
        info->groupCount[g] = l3tables::kLsfPartitions[s.block][kind][g];
        info->slen[g] = s.slen[g];
    }
    return bestBits;
}

}  // namespace

void ScalefactorLimits(int lowerRate, int kind, int preflag, int* counts, int* limits) {
    if (!lowerRate) {
        for (int g = 0; g < 4; ++g) {
            counts[g] = kMpeg1Groups[kind][g];
            limits[g] = g < 2 ? 15 : 7;
        }
        return;
    }
    // The partitions of the plain table (slen up to 4, 4, 3, 3), or of the
    // preflag table (3, 2, 0, 0).
    const int block = preflag ? 2 : 0;
    static constexpr int kPlain[4] = {15, 15, 7, 7}, kPreflag[4] = {7, 3, 0, 0};
    for (int g = 0; g < 4; ++g) {
        counts[g] = l3tables::kLsfPartitions[block][kind][g];
        limits[g] = preflag ? kPreflag[g] : kPlain[g];
    }
}

int ScalefactorBits(GranuleInfo* info, int kind, const bool* zeroBand, int scalefactorCount, bool keep) {
    int saved[kMaxScalefactors];
    std::memcpy(saved, info->scalefac, sizeof saved);
    for (int r = 0; r < scalefactorCount && r < kMaxScalefactors; ++r)
        if (zeroBand[r]) info->scalefac[r] = 0;
    bool illegal[kMaxScalefactors] = {};
    if (info->intensity) MarkIntensity(info, kind, zeroBand, illegal);
    // What each factor needs room for: in MPEG-2 and 2.5 a group's largest
    // value means "no intensity", so a position needs one more.
    int values[kMaxScalefactors];
    for (int r = 0; r < kMaxScalefactors; ++r) {
        values[r] = info->scalefac[r];
        if (!info->intensity) continue;
        if (illegal[r]) values[r] = info->lowerRate ? 0 : kIllegalMpeg1;
        else if (info->lowerRate && info->isPosition[r] != kNotIntensity) values[r] = info->isPosition[r] + 1;
    }
    const int bits = info->lowerRate ? Lower(info, kind, values) : Mpeg1(info, kind, values);
    if (bits >= 0)
        for (int g = 0, at = 0; g < 4; at += info->groupCount[g], ++g)
            for (int k = at; k < at + info->groupCount[g] && k < kMaxScalefactors; ++k)
                if (illegal[k]) info->scalefac[k] = info->lowerRate ? (1 << info->slen[g]) - 1 : kIllegalMpeg1;
    if (!keep) std::memcpy(info->scalefac, saved, sizeof saved);
    info->part2Length = bits < 0 ? 0 : bits;
    return bits;
}
