#include "mp3enc/bitmux/Huffman.h"

#include <algorithm>
#include <array>
#include <iterator>
#include <cstdlib>

namespace {
using l3tables::kHuffInfo;

struct Row {
    int limit;
    int count;
    int tables[3];
};

// The first row whose limit reaches a region's largest value names its candidates.
constexpr Row kRows[] = {
    {0, 1, {0}},          {1, 1, {1}},          {2, 2, {2, 3}},       {3, 2, {5, 6}},       {5, 3, {7, 8, 9}},
    {7, 3, {10, 11, 12}}, {15, 2, {13, 15}},    {16, 2, {16, 24}},    {18, 2, {17, 24}},    {22, 2, {18, 24}},
    {30, 2, {19, 24}},    {46, 2, {20, 25}},    {78, 2, {20, 26}},    {142, 2, {21, 27}},   {270, 2, {21, 28}},
    {526, 2, {22, 29}},   {1038, 2, {22, 30}},  {2062, 2, {23, 30}},  {8206, 2, {23, 31}},
};

// Code length plus one sign bit per non-zero value, per table entry.
struct SignedLengths {
    std::array<uint8_t, std::size(l3tables::kHuffPairs)> len{};
    SignedLengths() {
        for (int t = 0; t < 32; ++t) {
            const auto& info = kHuffInfo[t];
            for (int x = 0; x < info.xlen; ++x)
                for (int y = 0; y < info.xlen; ++y) {
                    const int i = info.first + x * info.xlen + y;
                    len[i] = static_cast<uint8_t>(l3tables::kHuffPairs[i].len + (x != 0) + (y != 0));
                }
        }
    }
};

const SignedLengths& Lengths() {
    static const SignedLengths kLengths;
    return kLengths;
}

const Row* FindRow(int largest) {
    for (const Row& r : kRows)
        if (r.limit >= largest) return &r;
    return nullptr;
}

// Counts pairs [begin, end) with every table of the row; picks the cheapest.
void CountRegion(const int* v, int begin, int end, int largest, int* table, int* bits) {
    if (begin >= end || largest == 0) {
        *table = 0;
        *bits = 0;
        return;
    }
    const Row* row = FindRow(largest);
    if (!row) {  // cannot be coded: callers keep values at 8191 or below
        *table = 31;
        *bits = 1 << 20;
        return;
    }
    const auto& len = Lengths().len;
    int sum[3] = {0, 0, 0};
    for (int i = begin; i < end; i += 2) {
        const int ax = std::abs(v[i]), ay = std::abs(v[i + 1]);
        const int cx = ax > 15 ? 15 : ax, cy = ay > 15 ? 15 : ay;
        for (int k = 0; k < row->count; ++k) {
            const auto& t = kHuffInfo[row->tables[k]];
            sum[k] += len[t.first + cx * t.xlen + cy];
            if (t.linbits) sum[k] += t.linbits * ((cx == 15) + (cy == 15));
        }
    }
    int best = 0;
    for (int k = 1; k < row->count; ++k)
        if (sum[k] < sum[best]) best = k;
    *table = row->tables[best];
    *bits = sum[best];
}

int BandLargest(const int* v, int begin, int end, const HuffBand& band) {
    if (band.peakLine >= begin && band.peakLine < end) return std::abs(v[band.peakLine]);
    int m = 0;
    for (int i = begin; i < end; ++i) m = std::max(m, std::abs(v[i]));
    return m;
}

struct Split {
    int bands[3];
};

// Lines, largest value, table and bits of each region of one split.
int EvaluateSplit(const int* v, int bigLines, const HuffBand* bands, int bandCount, const Split& split, int table[3],
                  int bits[3], int pairs[3]) {
    int line = 0, b = 0, total = 0;
    for (int r = 0; r < 3; ++r) {
        const int begin = line;
        int largest = 0;
        for (int n = 0; n < split.bands[r] && line < bigLines && b < bandCount; ++n, ++b) {
            const int end = std::min(line + bands[b].width, bigLines);
            largest = std::max(largest, BandLargest(v, line, end, bands[b]));
            line = end;
        }
        if (r == 2 || (r == 1 && split.bands[2] == 0)) {  // the last region takes the rest
            for (int i = line; i < bigLines; ++i) largest = std::max(largest, std::abs(v[i]));
            line = bigLines;
        }
        CountRegion(v, begin, line, largest, &table[r], &bits[r]);
        pairs[r] = (line - begin) / 2;
        total += bits[r];
    }
    return total;
}
}  // namespace

int huffman::TableLimit(int table) {
    const auto& t = kHuffInfo[table];
    if (t.xlen == 0) return 0;
    return t.linbits ? 15 + (1 << t.linbits) - 1 : t.xlen - 1;
}

int CountHuffmanBits(const int* values, int extent, int blockType, const HuffBand* bands, int bandCount,
                     bool fullSearch, HuffmanData* h) {
    int top = extent < 0 ? 0 : (extent > 576 ? 576 : extent);
    top += top & 1;
    while (top >= 2 && values[top - 1] == 0 && values[top - 2] == 0) top -= 2;
    h->zeroLines = 576 - top;

    int bitsA = 0, bitsB = 0, quads = 0;
    while (top >= 4) {
        const int* q = values + top - 4;
        if (std::abs(q[0]) > 1 || std::abs(q[1]) > 1 || std::abs(q[2]) > 1 || std::abs(q[3]) > 1) break;
        const int idx = 8 * (q[0] != 0) + 4 * (q[1] != 0) + 2 * (q[2] != 0) + (q[3] != 0);
        const int signs = (q[0] != 0) + (q[1] != 0) + (q[2] != 0) + (q[3] != 0);
        bitsA += l3tables::kCount1[0][idx].len + signs;
        bitsB += l3tables::kCount1[1][idx].len + signs;
        ++quads;
        top -= 4;
    }
    h->count1 = quads;
    h->count1Table = bitsB < bitsA ? 1 : 0;
    h->count1Bits = bitsB < bitsA ? bitsB : bitsA;
    h->bigValues = top / 2;

    const int bigLines = top;
    int bestTable[3] = {0, 0, 0}, bestBits[3] = {0, 0, 0}, bestPairs[3] = {0, 0, 0};
    int bestTotal = -1;
    Split bestSplit{{1, 1, 0}};
    auto consider = [&](const Split& s) {
        int t[3], b[3], p[3];
        const int total = EvaluateSplit(values, bigLines, bands, bandCount, s, t, b, p);
        if (bestTotal < 0 || total < bestTotal) {
            bestTotal = total;
            bestSplit = s;
            for (int r = 0; r < 3; ++r) {
                bestTable[r] = t[r];
                bestBits[r] = b[r];
                bestPairs[r] = p[r];
            }
        }
    };

    if (blockType != 0) {
        // Decoders disagree on where region 1 starts in switched blocks (some
        // use 36 lines at every rate): one table for both regions makes the
        // boundary irrelevant, so every decoder reads the same values.
        h->regionCount = 2;
        int largest = 0;
        for (int i = 0; i < bigLines; ++i) largest = std::max(largest, std::abs(values[i]));
        int region0Lines = 0;
        for (int b = 0; b < (blockType == 2 ? 9 : 8) && b < bandCount; ++b) region0Lines += bands[b].width;
        region0Lines = std::min(region0Lines, bigLines);
        CountRegion(values, 0, bigLines, largest, &bestTable[0], &bestBits[0]);
        bestTable[1] = bestTable[0];
        bestPairs[0] = region0Lines / 2;
        bestPairs[1] = (bigLines - region0Lines) / 2;
        bestTotal = bestBits[0];
        h->region0Count = blockType == 2 ? 8 : 7;
        h->region1Count = 0;  // implicit with window switching
    } else {
        int e = 0;
        for (int lines = bigLines; lines > 0 && e < bandCount; ++e) lines -= bands[e].width;
        h->regionCount = 3;
        if (!fullSearch) {
            int r0 = static_cast<int>(e * 0.33333334f + 0.5f);
            if (r0 > 16) r0 = 16;
            if (r0 < 1) r0 = 1;
            const int r = e - r0;
            int r1 = 1, r2 = 0;
            if (r >= 1) {
                r1 = r == 1 ? 1 : std::min((r + 1) / 2, 8);
                r2 = r - r1;
            }
            consider(Split{{r0, r1, r2}});
        } else {
            for (int i = 1; i <= 16; ++i)
                for (int j = 1; j <= 8; ++j)
                    if (i + j < e) consider(Split{{i, j, e - i - j}});
            if (bestTotal < 0) consider(Split{{1, 1, 0}});
        }
        h->region0Count = bestSplit.bands[0] - 1;
        h->region1Count = bestSplit.bands[1] - 1;
    }
    for (int r = 0; r < 3; ++r) {
        h->table[r] = bestTable[r];
        h->regionBits[r] = bestBits[r];
        h->regionPairs[r] = bestPairs[r];
    }
    h->bigValueBits = bestTotal;
    h->part3Length = bestTotal + h->count1Bits;
    return h->part3Length;
}
