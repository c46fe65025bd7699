#include "codecs/mpeg2/Mp2Frame.h"

#include <algorithm>
#include <cstring>

#include "common/MpegHeader.h"
#include "common/MpegHeaderTables.h"
#include "codecs/mpeg2/tables/l12_quant_coeff_AB.h"
#include "codecs/mpeg2/tables/l12_scalefactors_B1.h"
#include "codecs/mpeg2/tables/l12_snr_C5.h"
#include "codecs/mpeg2/tables/l1_allocation.h"
#include "codecs/mpeg2/tables/l2_alloc_B2a.h"
#include "codecs/mpeg2/tables/l2_alloc_B2b.h"
#include "codecs/mpeg2/tables/l2_alloc_B2c.h"
#include "codecs/mpeg2/tables/l2_alloc_B2d.h"
#include "codecs/mpeg2/tables/l2_alloc_lsf_B1.h"
#include "codecs/mpeg2/tables/l2_alloc_selection.h"
#include "codecs/mpeg2/tables/l2_bitrate_mode_allowed.h"
#include "codecs/mpeg2/tables/l2_quant_classes_B4.h"

namespace mp2 {
namespace {

// Bit rates of the reduced-rate mode by bit-rate index 1..14.
constexpr int kReducedRateL1[15] = {0, 8000, 12000, 16000, 20000, 24000, 32000, 40000,
                                    48000, 56000, 64000, 80000, 96000, 112000, 128000};
constexpr int kReducedRateL2[15] = {0, 6000, 8000, 10000, 12000, 16000, 20000, 24000,
                                    28000, 32000, 40000, 48000, 56000, 64000, 80000};

struct Tables {
    QuantClass classes[kClassCount];
    AllocTable alloc[6];
    double scf[63];

    int ClassOfSteps(int steps) const {
        for (int i = 0; i < kClassCount; ++i)
            if (classes[i].steps == steps) return i;
        return -1;
    }

    template <int R, int C>
    void LoadAlloc(AllocTable& t, const double (&rows)[R][C], const int (&len)[R]) {
        t.sblimit = R;
        t.fieldBits = 0;
        for (int sb = 0; sb < kMaxSubbands; ++sb)
            for (int a = 0; a < 16; ++a) t.cls[sb][a] = -1;
        for (int sb = 0; sb < R; ++sb) {
            t.nbal[sb] = static_cast<int>(rows[sb][1]);
            t.fieldBits += t.nbal[sb];
            for (int a = 1; a + 1 < len[sb]; ++a)
                t.cls[sb][a] = static_cast<int8_t>(ClassOfSteps(static_cast<int>(rows[sb][a + 1])));
        }
        for (int sb = R; sb < kMaxSubbands; ++sb) t.nbal[sb] = 0;
    }

    Tables() {
        using namespace mp2tab;
        for (int i = 0; i < kClassCount; ++i) {
            QuantClass& q = classes[i];
            q.steps = static_cast<int>(kL2QuantClassesB4[i][1]);
            q.c = kL2QuantClassesB4[i][2];
            q.d = kL2QuantClassesB4[i][3];
            q.grouped = static_cast<int>(kL2QuantClassesB4[i][4]);
            q.bits = static_cast<int>(kL2QuantClassesB4[i][6]);
            int fb = 0;
            while ((1 << fb) < q.steps) ++fb;
            q.fracBits = fb;
            q.a = kL12QuantCoeffAB[i][2];
            q.b = kL12QuantCoeffAB[i][3];
            q.snr = 0;
            for (int r = 0; r < kL12SnrC5Rows; ++r)
                if (static_cast<int>(kL12SnrC5[r][0]) == q.steps) q.snr = kL12SnrC5[r][1];
        }
        LoadAlloc(alloc[0], kL2AllocB2a, kL2AllocB2aRowLen);
        LoadAlloc(alloc[1], kL2AllocB2b, kL2AllocB2bRowLen);
        LoadAlloc(alloc[2], kL2AllocB2c, kL2AllocB2cRowLen);
        LoadAlloc(alloc[3], kL2AllocB2d, kL2AllocB2dRowLen);
        LoadAlloc(alloc[4], kL2AllocLsfB1, kL2AllocLsfB1RowLen);
        AllocTable& one = alloc[5];
        one.sblimit = 32;
        one.fieldBits = 128;
        for (int sb = 0; sb < kMaxSubbands; ++sb) {
            one.nbal[sb] = 4;
            for (int a = 0; a < 16; ++a) one.cls[sb][a] = -1;
            for (int a = 1; a < 15; ++a) one.cls[sb][a] = static_cast<int8_t>(LayerOneClassOf(a));
        }
        for (int i = 0; i < 63; ++i) scf[i] = kL12ScalefactorsB1[i][1];
    }

    int LayerOneClassOf(int code) const {
        for (int r = 0; r < mp2tab::kL1AllocationRows; ++r)
            if (static_cast<int>(mp2tab::kL1Allocation[r][0]) == code)
                return ClassOfSteps(static_cast<int>(mp2tab::kL1Allocation[r][2]));
        return -1;
    }
};

const Tables& T() {
    static const Tables kTables;
    return kTables;
}

int SelectTable(int sampleRate, int kbpsPerChannel) {
    for (int r = 0; r < mp2tab::kL2AllocSelectionRows; ++r)
        if (static_cast<int>(mp2tab::kL2AllocSelection[r][0]) == sampleRate &&
            static_cast<int>(mp2tab::kL2AllocSelection[r][1]) == kbpsPerChannel)
            return static_cast<int>(mp2tab::kL2AllocSelection[r][2]);
    return -1;
}

bool ModeAllowed(int index, int channels) {
    for (int r = 0; r < mp2tab::kL2BitrateModeAllowedRows; ++r)
        if (static_cast<int>(mp2tab::kL2BitrateModeAllowed[r][0]) == index)
            return mp2tab::kL2BitrateModeAllowed[r][channels == 1 ? 2 : 3] != 0;
    return false;
}

}  // namespace

uint32_t StreamBits(Mp2HeaderWord w) {
    return ((w & 0xFF) << 12) | (((w >> 8) & 0xFF) << 4) | ((w >> 20) & 0xF);
}

Mp2HeaderWord FromStreamBits(uint32_t v) {
    return ((v >> 12) & 0xFF) | (((v >> 4) & 0xFF) << 8) | ((v & 0xF) << 20);
}

const AllocTable& Table(int index) { return T().alloc[index]; }
const QuantClass& Class(int index) { return T().classes[index]; }
int LayerOneClass(int code) { return code >= 1 && code <= 14 ? T().alloc[5].cls[0][code] : -1; }
double ScaleFactor(int index) { return index >= 0 && index < 63 ? T().scf[index] : 0.0; }
const double* ScaleFactors() { return T().scf; }

int ParseHeader(Mp2HeaderWord w, bool allowReduced, FrameInfo* info) {
    const int layer = LayerOf(w);
    if (layer == 0) return -2;
    const int index = BitrateIndex(w);
    const int id = IdBit(w);
    const int sf = SamplingField(w);
    const int channels = Channels(w);
    if (index == 15 || (index == 1 && layer == 1 && id == 1 && sf != 2 && channels == 2)) return -3;
    if (sf == 3) return -4;
    const bool reduced = Emphasis(w) == 2;
    if (reduced && !allowReduced) return -5;
    FrameInfo fi{};
    fi.layer = layer;
    fi.id = id;
    fi.channels = channels;
    fi.mode = Mode(w);
    fi.modeExt = ModeExtension(w);
    fi.nominalRate = MpegSampleRate(1, sf);
    fi.reducedClass = Mp2ReducedRateClass(w);
    const int pad = PaddingBit(w);
    if (reduced) {
        const int k = fi.reducedClass == 501 ? 2 : (fi.reducedClass == 502 ? 4 : 8);
        fi.codedRate = fi.nominalRate / k;
        fi.bitrate = layer == 1 ? kReducedRateL1[index] : kReducedRateL2[index];
        fi.table = layer == 1 ? 5 : 4;
        // The reduced rate keeps the MPEG-1 frame of the nominal rate.
        if (index != 0) fi.frameBytes = MpegFrameBytes(1, layer, fi.bitrate * k, fi.nominalRate, pad);
    } else {
        const int version = id ? 1 : 2;
        fi.codedRate = MpegSampleRate(version, sf);
        fi.bitrate = MpegBitRateKbps(version, layer, index) * 1000;
        if (layer == 1) {
            fi.table = 5;
        } else if (id == 0) {
            fi.table = 4;
        } else {
            if (index != 0 && !ModeAllowed(index, channels)) return -6;
            fi.table = SelectTable(fi.codedRate, fi.bitrate / 1000 / channels);
            if (fi.table < 0) return -6;
        }
        if (index != 0) fi.frameBytes = MpegFrameBytes(version, layer, fi.bitrate, fi.codedRate, pad);
    }
    const AllocTable& t = Table(fi.table);
    fi.sblimit = t.sblimit;
    fi.bound = fi.sblimit;
    if (fi.mode == 1) {
        const int bound = mpeg_header::kLayer12Bound[fi.modeExt];
        if (bound > fi.sblimit) return -7;
        fi.bound = bound;
    }
    if (channels == 1) {
        fi.crcBits = t.fieldBits;
    } else {
        fi.crcBits = 0;
        for (int sb = 0; sb < fi.sblimit; ++sb) fi.crcBits += t.nbal[sb] * (sb < fi.bound ? 2 : 1);
    }
    if (info) *info = fi;
    return 0;
}

int FrameBytes(Mp2HeaderWord w) {
    FrameInfo fi;
    if (ParseHeader(w, true, &fi) != 0) return 0;
    return fi.frameBytes;
}

}  // namespace mp2

int Mp2ReducedRateClass(Mp2HeaderWord w) {
    using namespace mp2;
    const int layer = LayerOf(w);
    if (Emphasis(w) != 2 || layer == 0) return -501;
    const int index = BitrateIndex(w);
    if (index == 15 || SamplingField(w) == 3) return -501;
    const int rate = layer == 1 ? kReducedRateL1[index] : kReducedRateL2[index];
    const double nominal = MpegSampleRate(1, SamplingField(w));
    const double r = static_cast<double>(rate / Channels(w)) / nominal;
    int k = 8;
    if (2 * r > 1.3)
        k = 2;
    else if (4 * r > 1.3)
        k = 4;
    if (k == 2) return IdBit(w) ? 502 : 501;
    return k == 4 ? 502 : 503;
}

namespace {

// The CRC-16 (polynomial 0x8005, first bit highest) of each byte, for taking
// whole bytes in one step.
struct CrcTable {
    uint16_t next[256];
    CrcTable() {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t crc = i << 8;
            for (int b = 0; b < 8; ++b) crc = (crc & 0x8000) ? ((crc << 1) ^ 0x8005) & 0xFFFF : (crc << 1) & 0xFFFF;
            next[i] = static_cast<uint16_t>(crc);
        }
    }
};

// Feeds count bits from bit first of bytes.
uint32_t CrcFeed(uint32_t crc, const uint8_t* bytes, int first, int count) {
    static const CrcTable kTable;
    int i = first;
    const int end = first + count;
    auto bit = [&]() {
        const uint32_t b = (bytes[i >> 3] >> (7 - (i & 7))) & 1;
        const uint32_t top = (crc >> 15) & 1;
        crc = (crc << 1) & 0xFFFF;
        if (top ^ b) crc ^= 0x8005;
        ++i;
    };
    while (i < end && (i & 7) != 0) bit();
    for (; i + 8 <= end; i += 8) crc = ((crc << 8) & 0xFFFF) ^ kTable.next[((crc >> 8) ^ bytes[i >> 3]) & 0xFF];
    while (i < end) bit();
    return crc;
}

}  // namespace

uint16_t Mp2Crc16(const uint8_t* bytes, int bitOffset, int sideBits) {
    uint32_t crc = CrcFeed(0xFFFF, bytes, bitOffset, 16);
    crc = CrcFeed(crc, bytes, bitOffset + 32, sideBits);
    return static_cast<uint16_t>(crc);
}

// --- Mp2BitReader ----------------------------------------------------------

int Mp2BitReader::Open(Mp2ReadCallback callback, void* user) {
    try {
        m_ring.assign(kRingBytes, 0);
    } catch (...) {
        return -19;
    }
    m_callback = callback;
    m_user = user;
    Restart();
    return 0;
}

void Mp2BitReader::Close() {
    std::vector<uint8_t>().swap(m_ring);
    m_callback = nullptr;
    m_user = nullptr;
}

void Mp2BitReader::Restart() {
    m_pos = 0;
    m_keepBytes = 0;
    m_writeBytes = 0;
    m_ended = false;
    Fill(kRingBytes);
}

void Mp2BitReader::Fill(uint64_t maxBytes) {
    if (!IsOpen() || !m_callback) return;
    for (int chunk = 0; chunk < 2 && !m_ended; ++chunk) {
        const uint64_t room = kRingBytes - (m_writeBytes - m_keepBytes);
        const uint64_t offset = m_writeBytes % kRingBytes;
        uint64_t want = std::min<uint64_t>({room, maxBytes, kRingBytes - offset});
        if (want == 0) return;
        int count = static_cast<int>(want);
        const int ended = m_callback(m_ring.data() + offset, &count, m_user);
        // The callback is outside code: never trust a count beyond the request.
        if (count < 0) count = 0;
        if (static_cast<uint64_t>(count) > want) count = static_cast<int>(want);
        m_writeBytes += static_cast<uint64_t>(count);
        maxBytes -= static_cast<uint64_t>(count);
        if (ended) m_ended = true;
        if (static_cast<uint64_t>(count) < want) return;
    }
}

int Mp2BitReader::Peek(int n, uint32_t* value) const {
    if (!IsOpen()) return -5001;
    if (n < 0 || n > 32) return -5111;
    *value = BitsAt(m_pos, n);
    if (m_pos + static_cast<uint64_t>(n) <= End()) return 0;
    return m_ended ? -13 : -5114;
}

int Mp2BitReader::ReadSlow(int n, uint32_t* value) {
    if (!IsOpen()) return -5001;
    if (n < 0 || n > 32) return -5111;
    if (m_pos + static_cast<uint64_t>(n) > End() && !m_ended) Fill(kRingBytes);
    if (m_pos + static_cast<uint64_t>(n) <= End()) {
        *value = BitsAt(m_pos, n);
        m_pos += static_cast<uint64_t>(n);
        return 0;
    }
    if (!m_ended) return -5114;
    *value = BitsAt(m_pos, n);
    m_pos = std::max(m_pos, End());
    return -13;
}

int Mp2BitReader::Skip(int64_t n) {
    if (!IsOpen()) return -5001;
    if (n < 0) return StepBack(static_cast<int>(-n));
    if (m_pos + static_cast<uint64_t>(n) > End() && !m_ended) Fill(kRingBytes);
    if (m_pos + static_cast<uint64_t>(n) <= End()) {
        m_pos += static_cast<uint64_t>(n);
        return 0;
    }
    if (!m_ended) return -5114;
    m_pos = std::max(m_pos, End());
    return -13;
}

int Mp2BitReader::SetPosition(uint64_t pos) {
    if (!IsOpen()) return -5001;
    if (pos < m_keepBytes * 8 || pos > End()) return -5002;
    m_pos = pos;
    return 0;
}

int Mp2BitReader::StepBack(int n) {
    if (!IsOpen()) return -5001;
    if (n < 0 || static_cast<uint64_t>(n) > m_pos || m_pos - static_cast<uint64_t>(n) < m_keepBytes * 8) return -5002;
    m_pos -= static_cast<uint64_t>(n);
    return 0;
}

void Mp2BitReader::Advance(uint64_t frameStart) {
    if (!IsOpen()) return;
    const uint64_t keep = std::min(frameStart, m_pos) / 8;
    if (keep > m_keepBytes) m_keepBytes = std::min(keep, m_writeBytes);
    Fill(kRingBytes);
}

int Mp2BitReader::CopyBytes(uint64_t firstByte, uint8_t* dst, int maxBytes) const {
    if (!IsOpen() || firstByte >= m_writeBytes || maxBytes <= 0) return 0;
    const int count = static_cast<int>(std::min<uint64_t>(m_writeBytes - firstByte, static_cast<uint64_t>(maxBytes)));
    const size_t at = static_cast<size_t>(firstByte % kRingBytes);
    const size_t first = std::min<size_t>(static_cast<size_t>(count), kRingBytes - at);
    std::memcpy(dst, m_ring.data() + at, first);
    std::memcpy(dst + first, m_ring.data(), static_cast<size_t>(count) - first);
    return count;
}

// --- Mp2BitCursor ----------------------------------------------------------

void Mp2BitCursor::Load(Mp2BitReader& reader) {
    m_reader = &reader;
    const uint64_t pos = reader.Position();
    m_base = pos & ~uint64_t{7};
    m_bit = pos & 7;
    const int bytes = reader.CopyBytes(m_base / 8, m_copy, kBytes);
    std::memset(m_copy + bytes, 0, 8);
    m_limit = static_cast<uint64_t>(bytes) * 8;
}

int Mp2BitCursor::ReadSlow(int n, uint32_t* value) {
    m_reader->SetPosition(Position());
    const int s = m_reader->Read(n, value);
    m_bit = m_reader->Position() - m_base;
    return s;
}

int Mp2SyncSearch(Mp2BitReader& reader, int limitBits) {
    int64_t skipped = 0;
    for (;;) {
        uint32_t v = 0;
        int r = reader.Peek(12, &v);
        if (r == -5114) {
            reader.Refill();
            r = reader.Peek(12, &v);
        }
        if (r == -5114) return 1001;
        if (r != 0) {
            reader.Skip(reader.BitsLeft());
            return r == -13 ? -1004 : r;
        }
        if (v == 0xFFF) {
            reader.Skip(12);
            return 0;
        }
        int shift = 12;
        while (shift > 0 && ((v >> (12 - shift)) & 1)) --shift;  // bits after the last zero stay
        skipped += shift;
        if (skipped > limitBits) return -1301;
        reader.Skip(shift);
    }
}

// --- Mp2BitWriter ----------------------------------------------------------

void Mp2BitWriter::Reset() {
    const size_t used = std::min(m_buf.size(), static_cast<size_t>((m_bits + 7) / 8));
    std::memset(m_buf.data(), 0, used);
    m_bits = 0;
    m_overflow = false;
}

void Mp2BitWriter::WriteSlow(uint32_t value, int n) {
    if (n > 32 || m_bits + static_cast<uint64_t>(n) > m_buf.size() * 8) {
        m_overflow = true;
        return;
    }
    for (int i = n - 1; i >= 0;) {
        const uint64_t byte = m_bits >> 3;
        const int freeBits = 8 - static_cast<int>(m_bits & 7);
        const int take = std::min(freeBits, i + 1);
        const uint32_t chunk = (value >> (i + 1 - take)) & ((1u << take) - 1);
        m_buf[byte] = static_cast<uint8_t>(m_buf[byte] | (chunk << (freeBits - take)));
        m_bits += static_cast<uint64_t>(take);
        i -= take;
    }
}

void Mp2BitWriter::WriteBytes(const uint8_t* bytes, int count) {
    for (int i = 0; i < count; ++i) Write(bytes[i], 8);
}
