#include "mp3enc/engine/L3FrameFormatter.h"

#include <algorithm>

#include "common/MpegHeaderTables.h"

namespace l3 {
namespace {
struct RingSink {
    CBitRing& ring;
    void Put(uint32_t v, int bits) { ring.Put(v, bits); }
};

// CRC-16, polynomial 0x8005, most significant bit first.
void CrcUpdate(uint16_t& crc, uint8_t byte) {
    for (int i = 7; i >= 0; --i) {
        const bool top = (crc & 0x8000u) != 0;
        const bool bit = ((byte >> i) & 1u) != 0;
        crc = static_cast<uint16_t>(crc << 1);
        if (top != bit) crc ^= 0x8005u;
    }
}
}  // namespace

CL3FrameFormatter::CL3FrameFormatter() : m_header(19456 / 8), m_main(16384 / 8) { m_sizes[0] = 0; }

int CL3FrameFormatter::Setup(int mode, int sampleRate, bool crc, bool privateBit, bool copyright, bool original) {
    if (mode < 0 || mode > 3 || !m_header.Valid() || !m_main.Valid()) return 1;
    switch (sampleRate) {
        case 44100: case 22050: case 11025: m_sampleRateIndex = 0; break;
        case 48000: case 24000: case 12000: m_sampleRateIndex = 1; break;
        case 32000: case 16000: case 8000: m_sampleRateIndex = 2; break;
        default: return 1;
    }
    m_sampleRate = sampleRate;
    m_version = sampleRate > 24000 ? 0 : (sampleRate < 12001 ? 2 : 1);
    m_mode = mode;
    m_granules = m_version == 0 ? 2 : 1;
    m_channels = mode == 3 ? 1 : 2;
    m_crc = crc;
    m_private = privateBit;
    m_copyright = copyright;
    m_original = original;
    const int side = m_version == 0 ? (m_channels == 2 ? 256 : 136) : (m_channels == 2 ? 136 : 72);
    m_sideBits = 32 + (crc ? 16 : 0) + side;
    m_fill = 0;
    return 0;
}

int CL3FrameFormatter::FrameBits(int index) const {
    const int kbps = mpeg_header::kBitRateKbps[m_version == 0 ? 0 : 1][3 - 1][index];
    const int perFrame = m_version == 0 ? 144 : 72;
    return static_cast<int>(static_cast<long long>(perFrame) * kbps * 1000 / m_sampleRate) * 8;
}

void CL3FrameFormatter::WriteMainData(GranuleChannel& g) {
    RingSink sink{m_main};
    const int before = m_main.BitsHeld();
    int r = 0;
    for (int p = 0; p < 4; ++p)
        for (int k = 0; k < g.nrSfb[p]; ++k, ++r)
            if (g.slen[p]) m_main.Put(static_cast<uint32_t>(g.scalefac[r]), g.slen[p]);
    WriteHuffman(g.q, g.huff, sink);
    // Stuffing inside part2_3_length: ones read as all-zero count1 quadruples.
    int missing = g.part23Length - (m_main.BitsHeld() - before);
    for (; missing >= 16; missing -= 16) m_main.Put(0xFFFFu, 16);
    if (missing > 0) m_main.Put((1u << missing) - 1u, missing);
}

int CL3FrameFormatter::Format(GranuleResult* granules, int index, int padding, int modeExtension, uint8_t* out,
                              int capacity, int* written) {
    const int d = FrameBits(index) + (padding ? 8 : 0);
    int e = m_version == 0 ? 511 : 255;
    if (d + 8 * e > 7680) e = std::max(0, (7680 - d) / 8);
    int used = 0;
    for (int gr = 0; gr < m_granules; ++gr)
        for (int ch = 0; ch < m_channels; ++ch) used += granules[gr].ch[ch].part23Length;
    int n = (d - m_sideBits - used) + 8 * (m_fill - e);
    if (n <= 0) n = (8 - used % 8) % 8;
    for (int gr = 0; gr < m_granules && n > 0; ++gr) {
        int m = m_sideBits;
        for (int ch = 0; ch < m_channels && n > 0; ++ch) {
            GranuleChannel& g = granules[gr].ch[ch];
            int t = std::min({n, 4092 - g.part23Length, 7680 - m - g.part23Length});
            t = std::max(t, 0) & ~3;
            g.part23Length += t;
            used += t;
            n -= t;
            m += g.part23Length;
        }
    }

    // Header and side information.
    m_header.Put(m_version == 2 ? 4094u : 4095u, 12);
    m_header.Put(m_version == 0 ? 1u : 0u, 1);
    m_header.Put(1u, 2);
    m_header.Put(m_crc ? 0u : 1u, 1);
    m_header.Put(static_cast<uint32_t>(index), 4);
    m_header.Put(static_cast<uint32_t>(m_sampleRateIndex), 2);
    m_header.Put(padding ? 1u : 0u, 1);
    m_header.Put(m_private ? 1u : 0u, 1);
    m_header.Put(static_cast<uint32_t>(m_mode), 2);
    m_header.Put(static_cast<uint32_t>(modeExtension), 2);
    m_header.Put(m_copyright ? 1u : 0u, 1);
    m_header.Put(m_original ? 1u : 0u, 1);
    m_header.Put(0u, 2);
    if (m_crc) m_header.Put(0u, 16);
    m_header.Put(static_cast<uint32_t>(m_fill), m_version == 0 ? 9 : 8);
    m_header.Put(0u, m_version == 0 ? (m_channels == 1 ? 5 : 3) : (m_channels == 1 ? 1 : 2));
    if (m_version == 0) m_header.Put(0u, 4 * m_channels);
    for (int gr = 0; gr < m_granules; ++gr)
        for (int ch = 0; ch < m_channels; ++ch) {
            const GranuleChannel& g = granules[gr].ch[ch];
            m_header.Put(static_cast<uint32_t>(g.part23Length), 12);
            m_header.Put(static_cast<uint32_t>(g.huff.bigValues), 9);
            m_header.Put(static_cast<uint32_t>(g.globalGain), 8);
            m_header.Put(static_cast<uint32_t>(g.scalefacCompress), m_version == 0 ? 4 : 9);
            if (g.blockType != kNormal) {
                m_header.Put(1u, 1);
                m_header.Put(static_cast<uint32_t>(g.blockType), 2);
                m_header.Put(0u, 1);
                m_header.Put(static_cast<uint32_t>(g.huff.table[0]), 5);
                m_header.Put(static_cast<uint32_t>(g.huff.table[1]), 5);
                for (int w = 0; w < 3; ++w) m_header.Put(static_cast<uint32_t>(g.subblockGain[w]), 3);
            } else {
                m_header.Put(0u, 1);
                for (int r = 0; r < 3; ++r) m_header.Put(static_cast<uint32_t>(g.huff.table[r]), 5);
                m_header.Put(static_cast<uint32_t>(g.huff.region0Count), 4);
                m_header.Put(static_cast<uint32_t>(g.huff.region1Count), 3);
            }
            if (m_version == 0) m_header.Put(static_cast<uint32_t>(g.preflag), 1);
            m_header.Put(static_cast<uint32_t>(g.scalefacScale), 1);
            m_header.Put(static_cast<uint32_t>(g.huff.count1Table), 1);
        }

    for (int gr = 0; gr < m_granules; ++gr)
        for (int ch = 0; ch < m_channels; ++ch) WriteMainData(granules[gr].ch[ch]);
    for (int left = n; left > 0; left -= 16) m_main.Put(0u, std::min(left, 16));

    m_fill = m_fill + (d - m_sideBits) / 8 - (used + std::max(n, 0)) / 8;
    const int slot = (m_queueHead + m_queued) % 64;
    m_queue[slot] = Pending_{m_sideBits, d - m_sideBits};
    ++m_queued;
    *written = 0;
    Drain(out, capacity, written, false);
    return std::max(n, 0) + m_sideBits + used;
}

void CL3FrameFormatter::Drain(uint8_t* out, int capacity, int* written, bool flush) {
    while (m_queued > 0) {
        const Pending_& f = m_queue[m_queueHead];
        if (!flush && m_main.BitsHeld() < f.slotBits) break;
        const int bytes = (f.sideBits + f.slotBits) / 8;
        if (*written + bytes > capacity || m_sizes[0] >= 64) break;
        uint8_t* p = out + *written;
        for (int i = 0; i < 4; ++i) p[i] = m_header.ReadByte();
        int at = 4;
        if (m_crc) {
            uint16_t crc = 0xFFFF;
            CrcUpdate(crc, p[2]);
            CrcUpdate(crc, p[3]);
            p[4] = m_header.ReadByte();
            p[5] = m_header.ReadByte();
            at = 6;
            for (; at < f.sideBits / 8; ++at) {
                p[at] = m_header.ReadByte();
                CrcUpdate(crc, p[at]);
            }
            p[4] = static_cast<uint8_t>(crc >> 8);
            p[5] = static_cast<uint8_t>(crc);
        } else {
            for (; at < f.sideBits / 8; ++at) p[at] = m_header.ReadByte();
        }
        const int slotBytes = f.slotBits / 8;
        for (int i = 0; i < slotBytes; ++i) p[at + i] = m_main.BytesHeld() > 0 ? m_main.ReadByte() : 0;
        *written += bytes;
        m_sizes[++m_sizes[0]] = bytes;
        m_queueHead = (m_queueHead + 1) % 64;
        --m_queued;
    }
}

void CL3FrameFormatter::Flush(uint8_t* out, int capacity, int* written) {
    *written = 0;
    m_main.FlushPartial();
    Drain(out, capacity, written, true);
}

}  // namespace l3
