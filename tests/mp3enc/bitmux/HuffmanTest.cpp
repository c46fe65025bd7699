// The Huffman coder against a reader built here straight from the table
// files: what is written decodes to the values, in exactly the counted bits.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mp3enc/bitmux/BitBuffer.h"
#include "mp3enc/bitmux/Huffman.h"

namespace {
struct Reader {
    std::map<int, std::map<std::string, std::pair<int, int>>> pairs;  // code table -> code -> (x, y)
    std::map<int, std::map<std::string, int>> quads;                  // 0 A, 1 B -> code -> index
    int codeTable[32], linbits[32];
    Reader() {
        const std::string dir = std::string(VELMORA_SOURCE_DIR) + "/common/tables/";
        std::ifstream idx(dir + "l3_huffman_index.txt"), p(dir + "l3_huffman_pairs.txt"), q(dir + "l3_huffman_count1.txt");
        std::string line;
        while (std::getline(idx, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream s(line);
            int t, xl, yl, lb, ct, n;
            s >> t >> xl >> yl >> lb >> ct >> n;
            codeTable[t] = ct;
            linbits[t] = lb;
        }
        while (std::getline(p, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream s(line);
            int t, x, y, len;
            std::string code;
            s >> t >> x >> y >> len >> code;
            pairs[t][code] = {x, y};
        }
        while (std::getline(q, line)) {
            if (line.empty() || line[0] == '#') continue;
            std::istringstream s(line);
            int t, v, w, x, y, len;
            std::string code;
            s >> t >> v >> w >> x >> y >> len >> code;
            quads[t][code] = 8 * v + 4 * w + 2 * x + y;
        }
    }
};

struct StringSink {
    std::string bits;
    void Put(uint32_t v, int n) {
        for (int i = n - 1; i >= 0; --i) bits += ((v >> i) & 1u) ? '1' : '0';
    }
};

std::vector<int> Decode(const Reader& r, const std::string& bits, const HuffmanData& h) {
    std::vector<int> out(576, 0);
    size_t at = 0;
    auto take = [&](int n) {
        int v = 0;
        for (int i = 0; i < n; ++i) v = 2 * v + (bits.at(at++) == '1');
        return v;
    };
    int line = 0;
    for (int reg = 0; reg < 3; ++reg) {
        const int t = h.table[reg];
        for (int k = 0; k < h.regionPairs[reg]; ++k, line += 2) {
            if (t == 0) continue;
            const auto& codes = r.pairs.at(r.codeTable[t]);
            std::string code;
            while (!codes.count(code)) code += bits.at(at++);
            auto [x, y] = codes.at(code);
            if (r.linbits[t] && x == 15) x += take(r.linbits[t]);
            if (x && take(1)) x = -x;
            if (r.linbits[t] && y == 15) y += take(r.linbits[t]);
            if (y && take(1)) y = -y;
            out[line] = x;
            out[line + 1] = y;
        }
    }
    for (int k = 0; k < h.count1; ++k, line += 4) {
        const auto& codes = r.quads.at(h.count1Table);
        std::string code;
        while (!codes.count(code)) code += bits.at(at++);
        const int q = codes.at(code);
        for (int j = 0; j < 4; ++j) {
            int v = (q >> (3 - j)) & 1;
            if (v && take(1)) v = -v;
            out[line + j] = v;
        }
    }
    EXPECT_EQ(at, bits.size()) << "every written bit is read";
    return out;
}

std::vector<HuffBand> LongBands() {
    static const int edges[23] = {0, 4, 8, 12, 16, 20, 24, 30, 36, 42, 50, 60, 72, 88, 106, 128, 156, 190, 230, 276, 330, 384, 576};
    std::vector<HuffBand> b;
    for (int i = 0; i < 22; ++i) b.push_back({edges[i + 1] - edges[i], -1});
    return b;
}
}  // namespace

TEST(Huffman, WrittenCodesDecodeToTheValuesInTheCountedBits) {
    const Reader reader;
    std::mt19937 rng(17);
    const auto bands = LongBands();
    std::vector<HuffBand> shortBands;
    static const int shortEdges[14] = {0, 4, 8, 12, 16, 22, 28, 38, 50, 64, 80, 100, 126, 192};
    for (int b = 0; b < 13; ++b)
        for (int w = 0; w < 3; ++w) shortBands.push_back({shortEdges[b + 1] - shortEdges[b], -1});
    for (int largest : {0, 1, 2, 3, 5, 7, 15, 16, 18, 30, 100, 1000, 8206}) {
        for (int blockType : {0, 2}) {
            for (bool full : {false, true}) {
                std::vector<int> v(576, 0);
                std::uniform_int_distribution<int> value(-largest, largest);
                const int extent = 400;
                for (int i = 0; i < extent; ++i) v[i] = i < 300 ? value(rng) / (1 + i / 40) : (rng() % 3) - 1;
                const auto& b = blockType == 2 ? shortBands : bands;
                HuffmanData h{};
                const int counted = CountHuffmanBits(v.data(), extent, blockType, b.data(), static_cast<int>(b.size()), full, &h);
                StringSink sink;
                WriteHuffman(v.data(), h, sink);
                ASSERT_EQ(static_cast<int>(sink.bits.size()), counted) << largest;
                EXPECT_EQ(Decode(reader, sink.bits, h), v) << "largest " << largest << " block " << blockType;
                EXPECT_EQ(h.part3Length, counted);
            }
        }
    }
}

TEST(Huffman, SplitsZeroCount1AndBigValues) {
    const auto bands = LongBands();
    std::vector<int> v(576, 0);
    HuffmanData h{};
    EXPECT_EQ(CountHuffmanBits(v.data(), 576, 0, bands.data(), 22, false, &h), 0);
    EXPECT_EQ(h.zeroLines, 576);
    EXPECT_EQ(h.bigValues, 0);
    EXPECT_EQ(h.count1, 0);
    EXPECT_EQ(h.table[0], 0);
    // Ones above two big values: quadruples; A wins a tie with B.
    v[0] = 5;
    v[1] = -3;
    for (int i = 2; i < 10; ++i) v[i] = 1;
    CountHuffmanBits(v.data(), 576, 0, bands.data(), 22, false, &h);
    EXPECT_EQ(h.bigValues, 1);
    EXPECT_EQ(h.count1, 2);
    EXPECT_EQ(h.zeroLines, 566);
    // 15 takes tables 13 or 15; 16 the escape tables.
    v.assign(576, 0);
    v[0] = 15;
    CountHuffmanBits(v.data(), 576, 0, bands.data(), 22, false, &h);
    EXPECT_TRUE(h.table[0] == 13 || h.table[0] == 15) << h.table[0];
    v[0] = 16;
    CountHuffmanBits(v.data(), 576, 0, bands.data(), 22, false, &h);
    EXPECT_TRUE(h.table[0] == 16 || h.table[0] == 24) << h.table[0];
    v[0] = 8206;
    CountHuffmanBits(v.data(), 576, 0, bands.data(), 22, false, &h);
    EXPECT_TRUE(h.table[0] == 23 || h.table[0] == 31) << h.table[0];
    EXPECT_EQ(huffman::TableLimit(h.table[0]), 8206);
}

TEST(Huffman, FullSearchNeverCostsMoreThanTheFixedSplit) {
    std::mt19937 rng(5);
    const auto bands = LongBands();
    for (int round = 0; round < 20; ++round) {
        std::vector<int> v(576, 0);
        for (int i = 0; i < 500; ++i) v[i] = static_cast<int>(rng() % (1 + 40 / (1 + i / 30)));
        HuffmanData fixed{}, full{};
        const int a = CountHuffmanBits(v.data(), 500, 0, bands.data(), 22, false, &fixed);
        const int b = CountHuffmanBits(v.data(), 500, 0, bands.data(), 22, true, &full);
        EXPECT_LE(b, a);
        EXPECT_GT(full.regionPairs[2], 0) << "region 2 is never empty when a split fits";
    }
}
