#include "codecs/mp3dec/Mp3FrameDecoder.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <new>

#include "codecs/mp3dec/Mp3BitCache.h"
#include "codecs/mp3dec/Mp3Concealer.h"
#include "codecs/mp3dec/Mp3InputStream.h"
#include "common/L3Tables.h"

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kInvSqrt2 = 0.7071067811865476f;

// Binary decoding trees for the pair tables (by code table) and count1 tables.
// A child >= 0 is a node index, < 0 a leaf holding -(value + 1).
struct HuffTrees {
    int16_t node[1600][2];
    int root[32];        // by code table; -1 when the table has no codes
    int count1Root[2];
    int used = 0;

    int NewNode() {
        node[used][0] = node[used][1] = 0;
        return used++;
    }
    void Add(int root, uint32_t bits, int len, int value) {
        int n = root;
        for (int b = len - 1; b >= 0; --b) {
            const int bit = static_cast<int>((bits >> b) & 1);
            if (b == 0) {
                node[n][bit] = static_cast<int16_t>(-(value + 1));
            } else {
                if (node[n][bit] <= 0) node[n][bit] = static_cast<int16_t>(NewNode());
                n = node[n][bit];
            }
        }
    }
    HuffTrees() {
        for (int& r : root) r = -1;
        for (int t = 0; t < 32; ++t) {
            const auto& info = l3tables::kHuffInfo[t];
            if (info.codeTable < 0) continue;
            if (info.codeTable != t) {
                root[t] = root[info.codeTable];
                continue;
            }
            root[t] = NewNode();
            for (int i = 0; i < info.count; ++i) {
                const auto& c = l3tables::kHuffPairs[info.first + i];
                Add(root[t], c.bits, c.len, c.x << 4 | c.y);
            }
        }
        for (int t = 0; t < 2; ++t) {
            count1Root[t] = NewNode();
            for (const auto& c : l3tables::kCount1[t]) Add(count1Root[t], c.bits, c.len, c.value);
        }
        for (int n = 0; n < used; ++n)
            for (uint32_t bits = 0; bits < (1u << kStepBits); ++bits) step[n][bits] = Walk<kStepBits, 3>(n, bits);
        int roots = 0;
        auto first = [&](int n) {
            for (uint32_t bits = 0; bits < (1u << kFirstBits); ++bits) firstStep[roots][bits] = Walk<kFirstBits, 4>(n, bits);
            return roots++;
        };
        for (int t = 0; t < 32; ++t) {
            const auto& info = l3tables::kHuffInfo[t];
            if (info.codeTable == t) firstOf[t] = first(root[t]);
        }
        for (int t = 0; t < 32; ++t)
            if (root[t] >= 0) firstOf[t] = firstOf[l3tables::kHuffInfo[t].codeTable];
        for (int t = 0; t < 2; ++t) count1FirstOf[t] = first(count1Root[t]);
    }

    // Walks kBits bits from node n: a leaf reached on the way, or the node
    // where they end. A missing branch is a leaf of value 0, as one bit at a
    // time. Entry: the bits taken below bit kShift, the leaf value or the next
    // node from there, bit 15 set for a leaf.
    template <int kBits, int kShift>
    uint16_t Walk(int n, uint32_t bits) const {
        for (int b = 1; b <= kBits; ++b) {
            const int next = node[n][(bits >> (kBits - b)) & 1];
            if (next <= 0) return static_cast<uint16_t>(kLeaf | (next < 0 ? -next - 1 : 0) << kShift | b);
            n = next;
        }
        return static_cast<uint16_t>(n << kShift | kBits);
    }

    // One code: kFirstBits bits from the root, which ends most codes, then the
    // tree walk kStepBits bits at a time; consumes exactly the bits that a walk
    // of one bit at a time would.
    template <class Reader>
    int Decode(Reader& r, int firstIndex) const {
        const uint16_t f = firstStep[firstIndex][r.Peek(kFirstBits)];
        r.Advance(f & 15);
        if (f & kLeaf) return (f & ~kLeaf) >> 4;
        int n = f >> 4;
        for (;;) {
            const uint16_t e = step[n][r.Peek(kStepBits)];
            r.Advance(e & 7);
            if (e & kLeaf) return (e & ~kLeaf) >> 3;
            n = e >> 3;
        }
    }

    // step: Walk's entries with the bits taken in bits 0-2; firstStep: in bits 0-3.
    static constexpr int kStepBits = 4;
    static constexpr int kFirstBits = 8;
    static constexpr uint16_t kLeaf = 0x8000;
    uint16_t step[1600][1 << kStepBits];
    uint16_t firstStep[34][1 << kFirstBits];  // by root: the code tables that have their own, then count1
    int firstOf[32];                          // by code table; meaningful where root >= 0
    int count1FirstOf[2];
};

const HuffTrees& Trees() {
    static const HuffTrees trees;
    return trees;
}

// |x|^(4/3) for every value the Huffman data can carry (0 .. 15 + 2^13 - 1).
constexpr int kPow43Max = 15 + 8191;

struct Pow43 {
    float v[kPow43Max + 1];
    Pow43() {
        for (int i = 0; i <= kPow43Max; ++i) v[i] = static_cast<float>(std::pow(static_cast<double>(i), 4.0 / 3.0));
    }
};

const Pow43& Pow43Table() {
    static const Pow43 table;
    return table;
}

struct Gains {
    float gain[128];
    float cs[8];
    float ca[8];
    Gains() {
        for (int g = 0; g < 128; ++g) gain[g] = static_cast<float>(32768.0 * std::pow(2.0, -g / 4.0));
        for (int i = 0; i < 8; ++i) {
            const double ci = l3tables::kAliasCi[i];
            cs[i] = static_cast<float>(1.0 / std::sqrt(1.0 + ci * ci));
            ca[i] = static_cast<float>(ci / std::sqrt(1.0 + ci * ci));
        }
    }
};

const Gains& GainTable() {
    static const Gains g;
    return g;
}

// Reads the fixed-size side information copied out of the input ring.
class CBitCursor {
public:
    CBitCursor(const uint8_t* data, int bytes) : m_data(data), m_bits(bytes * 8) {}
    // Up to a byte's worth of bits per step; bits past the end read as 0.
    int Get(int n) {
        int v = 0;
        while (n > 0) {
            if (m_pos >= m_bits) {
                m_pos += n;
                return v << n;
            }
            const int left = 8 - (m_pos & 7);  // bits of the current byte not yet read
            const int take = n < left ? n : left;
            v = v << take | ((m_data[m_pos >> 3] >> (left - take)) & ((1 << take) - 1));
            m_pos += take;
            n -= take;
        }
        return v;
    }

private:
    const uint8_t* m_data;
    int m_bits;
    int m_pos = 0;
};

uint16_t Crc16(uint16_t crc, const uint8_t* data, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        for (int b = 7; b >= 0; --b) {
            const bool in = ((data[i] >> b) & 1) != 0;
            const bool top = (crc & 0x8000) != 0;
            crc = static_cast<uint16_t>(crc << 1);
            if (in != top) crc ^= 0x8005;
        }
    }
    return crc;
}

int SfbRow(int sampleRate) {
    for (int r = 0; r < static_cast<int>(std::size(l3tables::kSfbRateHz)); ++r)
        if (l3tables::kSfbRateHz[r] == sampleRate) return r;
    return 0;
}

}  // namespace

CMp3FrameDecoder::CMp3FrameDecoder(CMp3InputStream& input, int rateShift, int eightBit, int forceMono)
    : m_input(input), m_rateShift(rateShift), m_eightBit(eightBit), m_forceMono(forceMono) {
    Trees();
    Pow43Table();
    GainTable();
    m_reservoir.CreateOver(m_reservoirStorage, sizeof(m_reservoirStorage), false);
    m_concealer.reset(new (std::nothrow) CMp3Concealer());
    m_hybrid.SetRateShift(rateShift);
    m_synth.SetOptions(rateShift, eightBit);
    m_sfbLong = l3tables::kSfbLong[0];
    m_sfbShort = l3tables::kSfbShort[0];
}

CMp3FrameDecoder::~CMp3FrameDecoder() = default;

void CMp3FrameDecoder::Reset(bool full) {
    m_reservoir.Clear();
    if (!full) return;
    m_hybrid.Clear();
    m_synth.Clear();
    if (m_concealer) m_concealer->Reset();
    std::memset(m_spectrum, 0, sizeof(m_spectrum));
    std::memset(m_time, 0, sizeof(m_time));
}

uint32_t CMp3FrameDecoder::OutputBytes(const Mp3Header& h, bool asFloat) const {
    const uint32_t outCh = m_forceMono ? 1u : static_cast<uint32_t>(h.channels);
    const uint32_t spf = static_cast<uint32_t>(h.SamplesPerFrame());
    if (asFloat) return (spf * 4 * outCh) >> m_rateShift;
    return (spf * 2 * outCh) >> (m_rateShift + m_eightBit);
}

Mp3Status CMp3FrameDecoder::DecodeFrame(void* output, uint32_t room, uint32_t* produced, bool asFloat,
                                        uint8_t* ancillary, uint32_t* ancillaryLength) {
    const Mp3Header& hd = m_input.Header();
    if (hd.layer != 3 || !hd.valid) return MP3STATUS_E_LAYER;
    const uint32_t outBytes = OutputBytes(hd, asFloat);
    if (room < outBytes) return MP3STATUS_E_BUFFER;
    if (ancillaryLength) *ancillaryLength = 0;

    CMp3BitRing& in = m_input.Ring();
    in.SetMark(0);
    in.Skip(32);
    const uint16_t crcWord = hd.protection ? static_cast<uint16_t>(in.Read(16)) : 0;

    m_h.channels = hd.channels;
    m_h.sampleRateIndex = hd.sampleRateIndex;
    m_h.frameLengthBits = hd.frameLengthBits;
    m_h.mode = hd.mode;
    m_h.modeExtension = hd.modeExtension;
    m_h.headerBits = hd.protection ? 48 : 32;
    m_h.protection = hd.protection;
    m_h.mpeg1 = hd.version == 0;
    m_h.version = hd.version;
    m_h.mpeg25At8k = hd.version == 2 && hd.sampleRate == 8000;
    m_h.sfbRow = SfbRow(hd.sampleRate);
    m_sfbLong = l3tables::kSfbLong[m_h.sfbRow];
    m_sfbShort = l3tables::kSfbShort[m_h.sfbRow];
    m_outChannels = m_forceMono ? 1 : m_h.channels;

    const int sideBytes = m_h.mpeg1 ? (m_h.channels == 1 ? 17 : 32) : (m_h.channels == 1 ? 9 : 17);
    const bool crcOk = ReadSideInfo(hd, crcWord, sideBytes);

    const int mainBytes = std::max(0, (m_h.frameLengthBits - m_h.headerBits) / 8 - sideBytes);
    const uint32_t readBefore = m_reservoir.ReadPos();
    const bool present = FillReservoir(mainBytes);
    if (ancillary && ancillaryLength && present) {
        const uint32_t moved = (m_reservoir.ReadPos() - readBefore) & (m_reservoir.CapacityBits() - 1);
        ReadAncillary(moved, ancillary, ancillaryLength);
    }

    uint8_t* out = static_cast<uint8_t*>(output);
    Mp3Status status = MP3STATUS_OK;
    if (!crcOk) {
        MissingData(out, asFloat);
        status = MP3STATUS_I_CRC;
        m_reservoir.Clear();
    } else if (!present) {
        MissingData(out, asFloat);
        status = MP3STATUS_I_NOMAINDATA;
    } else {
        DecodeGranules(out, asFloat, false);
    }
    // Whatever was consumed, the next frame starts one frame length after this header.
    const int32_t rest = m_h.frameLengthBits - in.Mark();
    if (rest > 0) in.Skip(rest);
    else if (rest < 0) in.Unread(-rest);
    if (produced) *produced = outBytes;
    return status;
}

bool CMp3FrameDecoder::ReadSideInfo(const Mp3Header& hd, uint16_t crcWord, int sideBytes) {
    CMp3BitRing& in = m_input.Ring();
    uint8_t buf[32];
    for (int i = 0; i < sideBytes; ++i) buf[i] = static_cast<uint8_t>(in.Read(8));
    bool crcOk = true;
    if (hd.protection) {
        const uint8_t head[2] = {static_cast<uint8_t>(hd.word >> 8), static_cast<uint8_t>(hd.word)};
        uint16_t crc = Crc16(0xFFFF, head, 2);
        crc = Crc16(crc, buf, sideBytes);
        crcOk = crc == crcWord;
    }
    CBitCursor b(buf, sideBytes);
    const int nch = m_h.channels;
    const int ngr = m_h.mpeg1 ? 2 : 1;
    if (m_h.mpeg1) {
        m_mainDataBegin = b.Get(9);
        m_privateBits = b.Get(nch == 1 ? 5 : 3);
        for (int ch = 0; ch < nch; ++ch)
            for (int g = 0; g < 4; ++g) m_scfsi[ch][g] = b.Get(1);
    } else {
        m_mainDataBegin = b.Get(8);
        m_privateBits = b.Get(nch == 1 ? 1 : 2);
        std::memset(m_scfsi, 0, sizeof(m_scfsi));
    }
    for (int gr = 0; gr < ngr; ++gr) {
        for (int ch = 0; ch < nch; ++ch) {
            Mp3GranuleChannel& gc = m_gc[gr][ch];
            gc = Mp3GranuleChannel{};
            gc.part23Length = b.Get(12);
            gc.bigValues = b.Get(9);
            gc.globalGain = b.Get(8);
            gc.scalefacCompress = b.Get(m_h.mpeg1 ? 4 : 9);
            gc.windowSwitching = b.Get(1);
            if (gc.windowSwitching) {
                gc.blockType = b.Get(2);
                gc.mixed = b.Get(1);
                gc.tableSelect[0] = b.Get(5);
                gc.tableSelect[1] = b.Get(5);
                for (int w = 0; w < 3; ++w) gc.subblockGain[w] = b.Get(3);
                gc.region0Count = (gc.blockType == 2 && !gc.mixed) ? 8 : 7;
                gc.region1Count = 36;
                if (gc.blockType == 0) gc.zeroed = 1;
            } else {
                for (int r = 0; r < 3; ++r) gc.tableSelect[r] = b.Get(5);
                gc.region0Count = b.Get(4);
                gc.region1Count = b.Get(3);
            }
            if (m_h.mpeg1) gc.preflag = b.Get(1);
            gc.scalefacScale = b.Get(1);
            gc.count1Table = b.Get(1);
            if (gc.bigValues > 288) gc.zeroed = 1;
        }
    }
    return crcOk;
}

bool CMp3FrameDecoder::FillReservoir(int mainBytes) {
    const int32_t fillBefore = m_reservoir.Fill();
    const uint32_t freeBytes = m_reservoir.FreeBytes();
    if (freeBytes < static_cast<uint32_t>(mainBytes))
        m_reservoir.Skip(static_cast<int32_t>((static_cast<uint32_t>(mainBytes) - freeBytes) * 8));
    const uint32_t copied = m_reservoir.CopyFrom(m_input.Ring(), static_cast<uint32_t>(mainBytes));
    if (copied < static_cast<uint32_t>(mainBytes)) return false;
    if (fillBefore / 8 < m_mainDataBegin) return false;
    const int32_t target = (mainBytes + m_mainDataBegin) * 8;
    if (m_reservoir.Fill() < target) return false;
    m_reservoir.Skip(m_reservoir.Fill() - target);
    return true;
}

void CMp3FrameDecoder::ReadAncillary(uint32_t movedBits, uint8_t* ancillary, uint32_t* ancillaryLength) {
    // The caller's buffer holds at least 2049 bytes; the reservoir never holds more than 2048.
    uint32_t bytes = std::min<uint32_t>(movedBits / 8, 2048);
    m_reservoir.Unread(static_cast<int32_t>(movedBits));
    for (uint32_t i = 0; i < bytes; ++i) ancillary[i] = static_cast<uint8_t>(m_reservoir.Read(8));
    m_reservoir.Skip(static_cast<int32_t>(movedBits - bytes * 8));
    ancillary[bytes] = 0;
    if (bytes >= 4 && (std::memcmp(ancillary, "VBRI", 4) == 0 || std::memcmp(ancillary, "XING", 4) == 0)) {
        ancillary[0] = 0;
        bytes = 0;
    }
    *ancillaryLength = bytes;
}

void CMp3FrameDecoder::ReadScaleFactors(int gr, int ch) {
    Mp3GranuleChannel& gc = m_gc[gr][ch];
    auto rd = [this](int n) -> int32_t { return n ? static_cast<int32_t>(m_reservoir.Read(n)) : 0; };
    int32_t* sl = m_scalefacLong[ch];
    int32_t(*ss)[3] = m_scalefacShort[ch];
    const bool isShort = gc.windowSwitching && gc.blockType == 2;
    if (m_h.mpeg1) {
        const int slen1 = l3tables::kSlenMpeg1[gc.scalefacCompress][0];
        const int slen2 = l3tables::kSlenMpeg1[gc.scalefacCompress][1];
        for (int b = 0; b < 22; ++b) m_illegalLong[ch][b] = 7;
        for (int b = 0; b < 13; ++b) m_illegalShort[ch][b] = 7;
        if (isShort) {
            int sfb = 0;
            if (gc.mixed) {
                for (int b = 0; b < 8; ++b) sl[b] = rd(slen1);
                sfb = 3;
            }
            for (; sfb < 12; ++sfb)
                for (int w = 0; w < 3; ++w) ss[sfb][w] = rd(sfb < 6 ? slen1 : slen2);
            for (int w = 0; w < 3; ++w) ss[12][w] = 0;
        } else {
            static constexpr int kGroup[5] = {0, 6, 11, 16, 21};
            for (int g = 0; g < 4; ++g) {
                if (gr == 1 && m_scfsi[ch][g]) continue;
                for (int b = kGroup[g]; b < kGroup[g + 1]; ++b) sl[b] = rd(g < 2 ? slen1 : slen2);
            }
            sl[21] = 0;
        }
        return;
    }
    const bool intensityRight = ch == 1 && m_h.mode == 1 && (m_h.modeExtension & 1);
    const l3tables::LsfSlen& e =
        intensityRight ? l3tables::kLsfSlen[1][gc.scalefacCompress >> 1] : l3tables::kLsfSlen[0][gc.scalefacCompress];
    if (intensityRight) m_intensityScale = gc.scalefacCompress & 1;
    gc.preflag = e.preflag;
    const int cls = isShort ? (gc.mixed ? 2 : 1) : 0;
    const uint8_t* nr = l3tables::kLsfPartitions[e.block < 6 ? e.block : 0][cls];
    std::memset(sl, 0, sizeof(m_scalefacLong[ch]));
    std::memset(ss, 0, sizeof(m_scalefacShort[ch]));
    int k = 0;
    int lastIllegal = 0;
    for (int p = 0; p < 4; ++p) {
        const int slen = e.slen[p];
        const int illegal = (1 << slen) - 1;
        for (int i = 0; i < nr[p]; ++i, ++k) {
            const int32_t v = rd(slen);
            if (cls == 0) {
                if (k < 22) {
                    sl[k] = v;
                    m_illegalLong[ch][k] = illegal;
                }
            } else {
                const int kk = cls == 2 ? k - 6 : k;
                if (cls == 2 && k < 6) {
                    sl[k] = v;
                    m_illegalLong[ch][k] = illegal;
                } else {
                    const int sfb = (cls == 2 ? 3 : 0) + kk / 3;
                    if (sfb < 13) {
                        ss[sfb][kk % 3] = v;
                        m_illegalShort[ch][sfb] = illegal;
                    }
                }
            }
            lastIllegal = illegal;
        }
    }
    // Bands without a transmitted scale factor keep 0.
    for (int b = (cls == 0 ? k : 0); cls == 0 && b < 22; ++b) m_illegalLong[ch][b] = lastIllegal;
    if (cls != 0) {
        const int used = cls == 2 ? 3 + (k - 6) / 3 : k / 3;
        for (int b = std::max(used, 0); b < 13; ++b) m_illegalShort[ch][b] = lastIllegal;
    }
}

void CMp3FrameDecoder::DecodeHuffman(int ch, Mp3GranuleChannel& gc) {
    (void)ch;
    const HuffTrees& trees = Trees();
    CMp3BitCache r(m_reservoir);
    const int32_t p23 = gc.part23Length;
    int32_t* val = m_values;
    int r0;
    int r1;
    if (!gc.windowSwitching || gc.blockType != 2) {
        const int b0 = std::min(gc.region0Count + 1, 22);
        const int b1 = std::min(gc.region0Count + gc.region1Count + 2, 22);
        r0 = m_sfbLong[b0];
        r1 = m_sfbLong[b1];
    } else if (!gc.mixed) {
        r0 = 3 * m_sfbShort[3];
        r1 = 576;
    } else {
        r0 = m_h.mpeg1 ? m_sfbLong[8] : m_sfbLong[6] + 2 * (m_sfbShort[4] - m_sfbShort[3]);
        r1 = 576;
    }
    const int bv2 = 2 * gc.bigValues;
    r0 = std::min(r0, bv2);
    r1 = std::min(std::max(r1, r0), bv2);
    const int ends[3] = {r0, r1, bv2};
    int i = 0;
    for (int region = 0; region < 3; ++region) {
        const int table = gc.tableSelect[region];
        const int root = trees.root[table];
        const int first = root < 0 ? 0 : trees.firstOf[table];
        const int linbits = l3tables::kHuffInfo[table].linbits;
        for (; i < ends[region]; i += 2) {
            if (root < 0 || r.Mark() > p23) {
                val[i] = val[i + 1] = 0;
                continue;
            }
            const int leaf = trees.Decode(r, first);
            int x = leaf >> 4;
            int y = leaf & 15;
            if (linbits && x == 15) x += static_cast<int>(r.Read(linbits));
            if (x && r.Read(1)) x = -x;
            if (linbits && y == 15) y += static_cast<int>(r.Read(linbits));
            if (y && r.Read(1)) y = -y;
            val[i] = x;
            val[i + 1] = y;
        }
    }
    const int c1first = trees.count1FirstOf[gc.count1Table];
    bool dropLast = false;
    while (i <= 572 && r.Mark() < p23) {
        const int q = trees.Decode(r, c1first);
        for (int k = 0; k < 4; ++k) {
            int v = (q >> (3 - k)) & 1;
            if (v && r.Read(1)) v = -v;
            val[i + k] = v;
        }
        i += 4;
        dropLast = true;
    }
    r.Commit();
    CMp3BitRing& ring = m_reservoir;
    if (ring.Mark() > p23) {
        ring.Unread(ring.Mark() - p23);
        if (dropLast) {
            i -= 4;
        }
    } else if (ring.Mark() < p23) {
        ring.Skip(p23 - ring.Mark());
    }
    for (int k = i; k < 576; ++k) val[k] = 0;
    int last = i - 1;
    while (last >= 0 && val[last] == 0) --last;
    gc.nonzeroLines = last + 1;
    gc.maxLongBand = -1;
    gc.maxShortBand[0] = gc.maxShortBand[1] = gc.maxShortBand[2] = -1;
    const bool isShort = gc.windowSwitching && gc.blockType == 2;
    const int longEnd = isShort ? (gc.mixed ? 3 * m_sfbShort[3] : 0) : 576;
    for (int b = 0; b < 22 && m_sfbLong[b] < std::min(longEnd, gc.nonzeroLines); ++b) gc.maxLongBand = b;
    if (isShort) {
        for (int sfb = gc.mixed ? 3 : 0; sfb < 13; ++sfb) {
            const int width = m_sfbShort[sfb + 1] - m_sfbShort[sfb];
            for (int w = 0; w < 3; ++w) {
                const int base = 3 * m_sfbShort[sfb] + w * width;
                for (int j = 0; j < width; ++j)
                    if (val[base + j]) {
                        gc.maxShortBand[w] = sfb;
                        break;
                    }
            }
        }
    }
}

void CMp3FrameDecoder::Requantize(int ch, Mp3GranuleChannel& gc) {
    const Gains& gt = GainTable();
    const Pow43& p43 = Pow43Table();
    float* xr = m_spectrum[ch];
    const int32_t* val = m_values;
    const int mult = 2 * (1 + gc.scalefacScale);
    // Lines [lo, hi) at one gain; a band whose gain is out of range is silent.
    // A Huffman value is at most 15 + 2^13 - 1, inside the table, so the look-up
    // needs no test; the limit only keeps a broken caller inside it. The table
    // holds 0 for 0, so zeros need no branch either.
    auto lines = [&](int lo, int hi, int g) {
        if (g < 0 || g >= 128) {
            std::fill(xr + lo, xr + hi, 0.0f);
            return;
        }
        m_kernels->requantize(val + lo, hi - lo, gt.gain[g], p43.v, kPow43Max, xr + lo);
    };
    const bool isShort = gc.windowSwitching && gc.blockType == 2;
    int done = 0;
    const int nz = gc.nonzeroLines;
    if (!isShort || gc.mixed) {
        const int longBands = isShort ? (m_h.mpeg1 ? 8 : 6) : 22;
        for (int b = 0; b < longBands && m_sfbLong[b] < nz; ++b) {
            const int g = mult * (m_scalefacLong[ch][b] + gc.preflag * l3tables::kPretab[b]) - gc.globalGain + 210;
            lines(m_sfbLong[b], m_sfbLong[b + 1], g);
            done = m_sfbLong[b + 1];
        }
    }
    if (isShort) {
        const int start = gc.mixed ? 3 : 0;
        for (int sfb = start; sfb < 13 && 3 * m_sfbShort[sfb] < nz; ++sfb) {
            const int width = m_sfbShort[sfb + 1] - m_sfbShort[sfb];
            for (int w = 0; w < 3; ++w) {
                const int g = mult * m_scalefacShort[ch][sfb][w] + 8 * gc.subblockGain[w] - gc.globalGain + 210;
                const int base = 3 * m_sfbShort[sfb] + w * width;
                lines(base, base + width, g);
            }
            done = 3 * m_sfbShort[sfb + 1];
        }
    }
    for (int i = done; i < 576; ++i) xr[i] = 0.0f;
}

void CMp3FrameDecoder::StereoProcess(int gr) {
    if (m_h.channels != 2) return;
    float* l = m_spectrum[0];
    float* r = m_spectrum[1];
    Mp3GranuleChannel& g0 = m_gc[gr][0];
    Mp3GranuleChannel& g1 = m_gc[gr][1];
    if (m_h.mode == 1) {
        const bool ms = (m_h.modeExtension & 2) != 0;
        const bool is = (m_h.modeExtension & 1) != 0;
        const double io = m_intensityScale ? std::sqrt(0.5) : std::pow(2.0, -0.25);
        // One band: lines [lo, hi) with the right channel's intensity position pos.
        auto band = [&](int lo, int hi, bool intensity, int pos, int illegal) {
            if (intensity && pos != illegal) {
                float kl;
                float kr;
                if (m_h.mpeg1) {
                    if (pos >= 6) {
                        kl = 1.0f;
                        kr = 0.0f;
                    } else {
                        const double t = std::tan(pos * kPi / 12.0);
                        kl = static_cast<float>(t / (1.0 + t));
                        kr = static_cast<float>(1.0 / (1.0 + t));
                    }
                } else if (pos == 0) {
                    kl = kr = 1.0f;
                } else if (pos & 1) {
                    kl = static_cast<float>(std::pow(io, (pos + 1) / 2));
                    kr = 1.0f;
                } else {
                    kl = 1.0f;
                    kr = static_cast<float>(std::pow(io, pos / 2));
                }
                for (int i = lo; i < hi; ++i) {
                    const float x = l[i];
                    l[i] = x * kl;
                    r[i] = x * kr;
                }
            } else if (ms) {
                for (int i = lo; i < hi; ++i) {
                    const float m = l[i];
                    const float s = r[i];
                    l[i] = (m + s) * kInvSqrt2;
                    r[i] = (m - s) * kInvSqrt2;
                }
            }
        };
        const bool isShort = g0.windowSwitching && g0.blockType == 2;
        if (!isShort) {
            const int bound = g1.maxLongBand + 1;
            // Band 21 has no scale factor: its intensity position is band 20's.
            for (int b = 0; b < 22; ++b) {
                const int p = std::min(b, 20);
                band(m_sfbLong[b], m_sfbLong[b + 1], is && b >= bound, m_scalefacLong[1][p], m_illegalLong[1][p]);
            }
        } else {
            const int start = g0.mixed ? 3 : 0;
            if (g0.mixed) {
                const bool shortNonzero = g1.maxShortBand[0] >= 0 || g1.maxShortBand[1] >= 0 || g1.maxShortBand[2] >= 0;
                const int longBands = m_h.mpeg1 ? 8 : 6;
                const int bound = shortNonzero ? longBands : g1.maxLongBand + 1;
                for (int b = 0; b < longBands; ++b)
                    band(m_sfbLong[b], m_sfbLong[b + 1], is && b >= bound, m_scalefacLong[1][b], m_illegalLong[1][b]);
            }
            for (int sfb = start; sfb < 13; ++sfb) {
                const int width = m_sfbShort[sfb + 1] - m_sfbShort[sfb];
                for (int w = 0; w < 3; ++w) {
                    const int bound = std::max(g1.maxShortBand[w] + 1, start);
                    const int base = 3 * m_sfbShort[sfb] + w * width;
                    // Band 12 has no scale factor: its intensity position is band 11's.
                    const int p = std::min(sfb, 11);
                    band(base, base + width, is && sfb >= bound, m_scalefacShort[1][p][w], m_illegalShort[1][p]);
                }
            }
        }
        const int nz = std::max(g0.nonzeroLines, g1.nonzeroLines);
        g0.nonzeroLines = g1.nonzeroLines = nz;
    }
    if (m_forceMono) {
        const int nz = std::max(g0.nonzeroLines, g1.nonzeroLines);
        for (int i = 0; i < 576; ++i) l[i] = (l[i] + r[i]) * 0.5f;
        g0.nonzeroLines = nz;
    }
}

void CMp3FrameDecoder::ReorderShort(int ch, const Mp3GranuleChannel& gc) {
    if (!(gc.windowSwitching && gc.blockType == 2)) return;
    float* xr = m_spectrum[ch];
    float tmp[576];
    for (int sfb = gc.mixed ? 3 : 0; sfb < 13; ++sfb) {
        const int width = m_sfbShort[sfb + 1] - m_sfbShort[sfb];
        const int base = 3 * m_sfbShort[sfb];
        for (int w = 0; w < 3; ++w)
            for (int j = 0; j < width; ++j) tmp[base + 3 * j + w] = xr[base + w * width + j];
        std::memcpy(xr + base, tmp + base, 3 * width * sizeof(float));
    }
}

void CMp3FrameDecoder::UpdateNonzero(int ch, Mp3GranuleChannel& gc) {
    const float* xr = m_spectrum[ch];
    int last = 575;
    while (last >= 0 && xr[last] == 0.0f) --last;
    gc.nonzeroLines = last + 1;
    gc.nonzeroSubbands = (gc.nonzeroLines + 17) / 18;
}

void CMp3FrameDecoder::AntiAlias(int ch, Mp3GranuleChannel& gc) {
    const bool isShort = gc.windowSwitching && gc.blockType == 2;
    int boundaries;
    if (isShort && !gc.mixed) return;
    if (isShort) boundaries = m_h.mpeg25At8k ? 3 : 1;
    else boundaries = std::min((32 >> m_rateShift) - 1, gc.nonzeroSubbands);
    const Gains& gt = GainTable();
    m_kernels->alias(m_spectrum[ch], boundaries, gt.cs, gt.ca);
}

uint8_t* CMp3FrameDecoder::FilterAndOutput(int gr, uint8_t* out, bool asFloat, bool conceal) {
    const int longOfMixed = m_h.mpeg25At8k ? 4 : 2;
    for (int ch = 0; ch < m_outChannels; ++ch) {
        Mp3GranuleChannel& gc = m_gc[gr][ch];
        if (m_concealer) m_concealer->ConcealOrStore(conceal, m_sfbLong, gc, m_spectrum[ch], ch);
        m_hybrid.Run(ch, gc, gc.nonzeroSubbands, longOfMixed, m_spectrum[ch], m_time[ch]);
    }
    const float* const time[2] = {m_time[0], m_time[1]};
    return m_synth.Synthesise(time, m_outChannels, out, asFloat);
}

uint8_t* CMp3FrameDecoder::DecodeGranules(uint8_t* out, bool asFloat, bool conceal) {
    const int ngr = m_h.mpeg1 ? 2 : 1;
    for (int gr = 0; gr < ngr; ++gr) {
        for (int ch = 0; ch < m_h.channels; ++ch) {
            Mp3GranuleChannel& gc = m_gc[gr][ch];
            m_reservoir.SetMark(0);
            const int32_t avail = std::max(m_reservoir.Fill(), 0);
            if (gc.zeroed || gc.part23Length > avail) {
                // Unusable side information or main data shorter than announced:
                // silence for this granule, never a read past what the reservoir holds.
                m_reservoir.Skip(std::min(gc.part23Length, avail));
                std::memset(m_spectrum[ch], 0, sizeof(m_spectrum[ch]));
                std::memset(m_scalefacLong[ch], 0, sizeof(m_scalefacLong[ch]));
                std::memset(m_scalefacShort[ch], 0, sizeof(m_scalefacShort[ch]));
                gc.nonzeroLines = 0;
                gc.maxLongBand = -1;
                gc.maxShortBand[0] = gc.maxShortBand[1] = gc.maxShortBand[2] = -1;
                if (gc.zeroed && gc.windowSwitching && gc.blockType == 0) gc.windowSwitching = 0;
                continue;
            }
            ReadScaleFactors(gr, ch);
            DecodeHuffman(ch, gc);
            Requantize(ch, gc);
        }
        StereoProcess(gr);
        for (int ch = 0; ch < m_outChannels; ++ch) {
            Mp3GranuleChannel& gc = m_gc[gr][ch];
            ReorderShort(ch, gc);
            UpdateNonzero(ch, gc);
            AntiAlias(ch, gc);
        }
        out = FilterAndOutput(gr, out, asFloat, conceal);
    }
    return out;
}

uint8_t* CMp3FrameDecoder::MissingData(uint8_t* out, bool asFloat) {
    const int ngr = m_h.mpeg1 ? 2 : 1;
    for (int gr = 0; gr < ngr; ++gr) {
        std::memset(m_spectrum, 0, sizeof(m_spectrum));
        for (int ch = 0; ch < m_outChannels; ++ch) {
            Mp3GranuleChannel& gc = m_gc[gr][ch];
            gc.nonzeroLines = 0;
            gc.nonzeroSubbands = 0;
            gc.maxLongBand = -1;
            gc.maxShortBand[0] = gc.maxShortBand[1] = gc.maxShortBand[2] = -1;
        }
        out = FilterAndOutput(gr, out, asFloat, true);
    }
    return out;
}
