#pragma once
// Layer III Huffman coding of one granule and channel: splits the 576
// quantised values into the zero, count1 and big-value parts, divides the big
// values into regions, picks each region's table by counting bits, and writes
// the codes. Shared by both encoder engines; no state, no allocation.
#include <cstdint>
#include <initializer_list>

#include "common/L3Tables.h"

// One scale-factor band as the region division sees it: its width in lines
// and the line of its largest magnitude (-1: scan the band).
struct HuffBand {
    int width;
    int peakLine;
};

struct HuffmanData {
    int zeroLines;
    int count1;       // quadruples
    int count1Table;  // 0 table A, 1 table B
    int count1Bits;
    int bigValues;    // pairs
    int regionCount;  // 3 for block type 0, 2 with window switching
    int region0Count; // as written: bands less 1
    int region1Count;
    int table[3];
    int regionBits[3];
    int regionPairs[3];
    int bigValueBits;
    int part3Length;  // big-value bits + count1 bits
};

// bands: 22 long bands for block types 0, 1 and 3; 39 records (13 short
// bands x 3 windows, band by band) for block type 2. Returns part3Length.
int CountHuffmanBits(const int* values, int extent, int blockType, const HuffBand* bands, int bandCount,
                     bool fullSearch, HuffmanData* data);

namespace huffman {
// Largest value a table can code (escape tables: 15 + 2^linbits - 1).
int TableLimit(int table);
}  // namespace huffman

// Writes one pair with table `table`; Sink has Put(uint32_t value, int bits).
template <typename Sink>
void WritePair(int x, int y, int table, Sink& sink) {
    const l3tables::HuffInfo& t = l3tables::kHuffInfo[table];
    if (t.xlen == 0) return;
    const int ax = x < 0 ? -x : x, ay = y < 0 ? -y : y;
    const int cx = ax > 15 ? 15 : ax, cy = ay > 15 ? 15 : ay;
    const l3tables::HuffCode& code = l3tables::kHuffPairs[t.first + cx * t.xlen + cy];
    sink.Put(code.bits, code.len);
    if (t.linbits && cx == 15) sink.Put(static_cast<uint32_t>(ax - 15), t.linbits);
    if (ax) sink.Put(x < 0 ? 1u : 0u, 1);
    if (t.linbits && cy == 15) sink.Put(static_cast<uint32_t>(ay - 15), t.linbits);
    if (ay) sink.Put(y < 0 ? 1u : 0u, 1);
}

template <typename Sink>
void WriteQuadruple(int v, int w, int x, int y, int table, Sink& sink) {
    const int q = 8 * (v != 0) + 4 * (w != 0) + 2 * (x != 0) + (y != 0);
    const l3tables::Count1Code& code = l3tables::kCount1[table][q];
    sink.Put(code.bits, code.len);
    for (int s : {v, w, x, y})
        if (s) sink.Put(s < 0 ? 1u : 0u, 1);
}

// Writes the big values region by region, then the count1 quadruples.
template <typename Sink>
void WriteHuffman(const int* values, const HuffmanData& h, Sink& sink) {
    int line = 0;
    for (int r = 0; r < 3; ++r)
        for (int p = 0; p < h.regionPairs[r]; ++p, line += 2) WritePair(values[line], values[line + 1], h.table[r], sink);
    for (int k = 0; k < h.count1; ++k, line += 4)
        WriteQuadruple(values[line], values[line + 1], values[line + 2], values[line + 3], h.count1Table, sink);
}
