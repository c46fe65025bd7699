#include "mp3enc/l3core/core/quant/ScalefactorBits.h"

#include <algorithm>
#include <cstring>

#include "common/L3Tables.h"

namespace {

// MPEG-1 groups by block kind (long, short, mixed).
constexpr int kMpeg1Groups[3][4] = {{6, 5, 5, 5}, {9, 9, 9, 9}, {8, 9, 9, 9}};
// scalefac_compress by 4a + b, a and b the bits groups 0-1 and 2-3 need.
constexpr int kCompressOf[20] = {0, 1, 2, 3, 5, 5, 6, 7, 8, 8, 9, 10, 4, 11, 12, 13, 14, 14, 14, 15};

int BitsFor(int value) {
    int bits = 0;
    while (value >> bits) ++bits;
    return bits;
}

// Bits the largest factor of each group needs.
void Needed(const GranuleInfo& info, const int* counts, int* needed) {
    int at = 0;
    for (int g = 0; g < 4; ++g) {
        int top = 0;
        for (int k = 0; k < counts[g] && at + k < kMaxScalefactors; ++k) top = std::max(top, info.scalefac[at + k]);
        needed[g] = BitsFor(top);
        at += counts[g];
    }
}

int Mpeg1(GranuleInfo* info, int kind) {
    const int* counts = kMpeg1Groups[kind];
    int needed[4];
    Needed(*info, counts, needed);
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
int Lower(GranuleInfo* info, int kind) {
    const int candidates[2] = {info->preflag ? 2 : 0, info->preflag ? -1 : 1};
    int best = -1, bestBits = 0;
    for (int block : candidates) {
        if (block < 0) continue;
        const uint8_t* counts8 = l3tables::kLsfPartitions[block][kind];
        int counts[4] = {counts8[0], counts8[1], counts8[2], counts8[3]};
        int needed[4];
        Needed(*info, counts, needed);
        for (int c = 0; c < 512; ++c) {
            const l3tables::LsfSlen& s = l3tables::kLsfSlen[0][c];
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
    const l3tables::LsfSlen& s = l3tables::kLsfSlen[0][best];
    info->scalefacCompress = best;
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
    const int bits = info->lowerRate ? Lower(info, kind) : Mpeg1(info, kind);
    if (!keep) std::memcpy(info->scalefac, saved, sizeof saved);
    info->part2Length = bits < 0 ? 0 : bits;
    return bits;
}
