#pragma once
// What the Layer II decoder and encoder cores share: the header word, its
// checks, frame lengths, allocation tables, the reduced-rate mode, the CRC,
// the decoder's input bit reader with its sync search and the encoder's output
// bit writer. Everything here is used by one core object on one thread.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/ByteOrder.h"

// The 20 header bits after the sync word: stream byte 1 (ID, layer, protection,
// bit-rate index) in bits 0-7, stream byte 2 in bits 8-15, the last four bits
// in bits 20-23.
using Mp2HeaderWord = uint32_t;

struct Mp2PcmBlock {
    int channels;
    int samplesPerChannel;
    void* data;  // int16_t or uint8_t samples, interleaved
};

struct Mp2AncillaryData {
    int length;
    uint8_t* data;
};

// count: bytes wanted on entry, bytes delivered on return. A nonzero result
// says the input has ended (the bytes delivered in that call still count).
using Mp2ReadCallback = int (*)(uint8_t* dst, int* count, void* user);

namespace mp2 {

inline int BitrateIndex(Mp2HeaderWord w) { return static_cast<int>(w & 15); }
inline int ProtectionBit(Mp2HeaderWord w) { return static_cast<int>((w >> 4) & 1); }
inline int LayerField(Mp2HeaderWord w) { return static_cast<int>((w >> 5) & 3); }
inline int IdBit(Mp2HeaderWord w) { return static_cast<int>((w >> 7) & 1); }
inline int ModeExtension(Mp2HeaderWord w) { return static_cast<int>((w >> 8) & 3); }
inline int Mode(Mp2HeaderWord w) { return static_cast<int>((w >> 10) & 3); }
inline int PaddingBit(Mp2HeaderWord w) { return static_cast<int>((w >> 13) & 1); }
inline int SamplingField(Mp2HeaderWord w) { return static_cast<int>((w >> 14) & 3); }
inline int Emphasis(Mp2HeaderWord w) { return static_cast<int>((w >> 20) & 3); }
inline int Channels(Mp2HeaderWord w) { return Mode(w) == 3 ? 1 : 2; }
// Layer number 1 or 2 from the field (3 = Layer I, 2 = Layer II), else 0.
inline int LayerOf(Mp2HeaderWord w) { return LayerField(w) == 3 ? 1 : (LayerField(w) == 2 ? 2 : 0); }

// The 20 bits as they stand in the stream, first bit highest.
uint32_t StreamBits(Mp2HeaderWord w);
Mp2HeaderWord FromStreamBits(uint32_t bits20);

constexpr int kMaxSubbands = 32;

// One allocation table: per subband the allocation-field width and the
// quantisation class (index into the class table) of each allocation value.
struct AllocTable {
    int sblimit;
    int fieldBits;  // sum of nbal, per channel
    int nbal[kMaxSubbands];
    int8_t cls[kMaxSubbands][16];  // -1: no samples (allocation 0)
};
const AllocTable& Table(int index);  // 0-3 B.2a-d, 4 lower sampling frequencies, 5 Layer I

struct QuantClass {
    int steps;
    double c;
    double d;
    int grouped;
    int bits;       // bits per codeword
    int fracBits;   // bits that hold the steps (for the fraction of the requantisation)
    double a;       // encoder coefficients
    double b;
    double snr;     // dB
};
constexpr int kClassCount = 17;
const QuantClass& Class(int index);
// Class of a Layer I allocation code 1..14.
int LayerOneClass(int code);
double ScaleFactor(int index);  // 0..62
const double* ScaleFactors();    // all 63, for loops that look up many

// Everything derived from a header that passed the checks.
struct FrameInfo {
    int layer;        // 1 or 2
    int id;
    int channels;
    int mode;
    int modeExt;
    int bound;        // first intensity subband (sblimit outside joint stereo)
    int sblimit;
    int table;
    int bitrate;      // bit/s, 0 free format
    int codedRate;    // Hz of the coded samples
    int nominalRate;  // Hz of the sampling_frequency field (MPEG-1 value in the reduced-rate mode)
    int reducedClass; // 501..503 or -501
    int frameBytes;   // 0 in free format
    int crcBits;      // side-information bits under the CRC (allocation field only; selection bits added while reading)
};

// Checks of both cores, in order: -2 layer, -3 bit rate, -4 sampling rate,
// -5 reduced-rate mode not allowed, -6 forbidden bit rate per channel, -7 bound.
int ParseHeader(Mp2HeaderWord w, bool allowReduced, FrameInfo* info);
// Frame length in bytes for the word (padding included); 0 for free format or a bad word.
int FrameBytes(Mp2HeaderWord w);

}  // namespace mp2

int Mp2ReducedRateClass(Mp2HeaderWord w);
uint16_t Mp2Crc16(const uint8_t* bytes, int bitOffset, int sideBits);

// Decoder input: a ring of bytes pulled through the read callback.
class Mp2BitReader {
public:
    static constexpr int kRingBytes = 8192;

    int Open(Mp2ReadCallback callback, void* user);  // 0 or -19
    void Close();
    bool IsOpen() const { return !m_ring.empty(); }
    // Drops what is buffered and asks the callback for a ring full of bytes.
    void Restart();
    // Reads n (0..32) bits, first bit highest: 0; -5114 not all buffered while
    // more may come (nothing read); -13 at the end of input (what is left is
    // served, the rest reads as zero bits); -5001 not open.
    int Read(int n, uint32_t* value) {
        if (n >= 0 && n <= 32 && m_pos + static_cast<uint64_t>(n) <= End() && IsOpen()) {
            *value = BitsAt(m_pos, n);
            m_pos += static_cast<uint64_t>(n);
            return 0;
        }
        return ReadSlow(n, value);
    }
    // Reads bits without moving; same results as Read.
    int Peek(int n, uint32_t* value) const;
    int Skip(int64_t n);
    uint64_t Position() const { return m_pos; }
    int SetPosition(uint64_t pos);  // 0 or -5002
    int StepBack(int n);            // 0 or -5002
    // The decoder is done with everything before frameStart: that room is refilled.
    void Advance(uint64_t frameStart);
    // Pulls more input into the free part of the ring, if any may come.
    void Refill() { Fill(kRingBytes); }
    int64_t BitsLeft() const { return static_cast<int64_t>(m_writeBytes * 8) - static_cast<int64_t>(m_pos); }
    bool Ended() const { return m_ended; }
    uint64_t End() const { return m_writeBytes * 8; }
    // Copies up to maxBytes buffered bytes from absolute byte firstByte on;
    // returns how many.
    int CopyBytes(uint64_t firstByte, uint8_t* dst, int maxBytes) const;

private:
    void Fill(uint64_t maxBytes);
    int ReadSlow(int n, uint32_t* value);
    uint32_t BitsAt(uint64_t pos, int n) const;

    std::vector<uint8_t> m_ring;
    Mp2ReadCallback m_callback = nullptr;
    void* m_user = nullptr;
    uint64_t m_pos = 0;         // absolute bit position
    uint64_t m_keepBytes = 0;   // bytes before this may be overwritten
    uint64_t m_writeBytes = 0;  // absolute byte count delivered
    bool m_ended = false;
};

inline uint32_t Mp2BitReader::BitsAt(uint64_t pos, int n) const {
    if (n == 0) return 0;
    uint64_t acc = 0;
    const uint64_t first = pos >> 3;
    const uint64_t at = first % kRingBytes;
    if (first + 5 <= m_writeBytes && at + 5 <= kRingBytes) {
        const uint8_t* b = m_ring.data() + at;
        acc = (uint64_t{b[0]} << 32) | (uint64_t{b[1]} << 24) | (uint64_t{b[2]} << 16) | (uint64_t{b[3]} << 8) | b[4];
    } else {
        for (int i = 0; i < 5; ++i) {
            const uint64_t b = first + static_cast<uint64_t>(i);
            acc = (acc << 8) | (b < m_writeBytes ? m_ring[b % kRingBytes] : 0u);
        }
    }
    const int shift = 40 - static_cast<int>(pos & 7) - n;
    return static_cast<uint32_t>((acc >> shift) & ((n == 32) ? 0xFFFFFFFFull : ((1ull << n) - 1)));
}

// A frame's bits read from a copy of what the reader holds, each read one
// 64-bit load and two shifts. Reads beyond the copy go to the reader itself,
// with its results; Sync() leaves the reader where the cursor is.
class Mp2BitCursor {
public:
    static constexpr int kBytes = 4096;

    void Load(Mp2BitReader& reader);
    [[gnu::always_inline]] int Read(int n, uint32_t* value) {
        if (m_bit + static_cast<uint64_t>(n) <= m_limit) {
            const uint64_t w = GetBe64(m_copy + (m_bit >> 3)) << (m_bit & 7);
            *value = static_cast<uint32_t>((w >> 1) >> (63 - n));  // n = 0 reads 0
            m_bit += static_cast<uint64_t>(n);
            return 0;
        }
        return ReadSlow(n, value);
    }
    uint64_t Position() const { return m_base + m_bit; }
    void Sync() { m_reader->SetPosition(Position()); }

private:
    int ReadSlow(int n, uint32_t* value);

    Mp2BitReader* m_reader = nullptr;
    uint64_t m_base = 0;   // absolute bit position of the copy's first bit
    uint64_t m_bit = 0;    // bits read from the copy's start
    uint64_t m_limit = 0;  // bits in the copy
    uint8_t m_copy[kBytes + 8] = {};  // 8 bytes beyond the copy for the last loads
};

// 12 one bits at the position, searched bit by bit: 0 found (position after
// them), -1301 not within limit bits, 1001 the input ran dry first (more may
// come), -1004 the input ended first.
int Mp2SyncSearch(Mp2BitReader& reader, int limitBits);

// Encoder output: bits into a bounded buffer. A write past the bound is
// refused and remembered, so a frame can never overrun its buffer.
class Mp2BitWriter {
public:
    explicit Mp2BitWriter(int capacityBytes = 12288) : m_buf(static_cast<size_t>(capacityBytes), 0) {}
    void Reset();
    // n 0..32. The bits go in with one 64-bit read and write of the bytes
    // they fall in (the bytes ahead are still zero).
    void Write(uint32_t value, int n) {
        if (n <= 0) return;
        const uint64_t byte = m_bits >> 3;
        if (n <= 32 && byte + 8 <= m_buf.size()) {
            const uint64_t bits = value & (0xFFFFFFFFull >> (32 - n));
            uint8_t* p = m_buf.data() + byte;
            PutBe64(p, GetBe64(p) | (bits << (64 - static_cast<int>(m_bits & 7) - n)));
            m_bits += static_cast<uint64_t>(n);
            return;
        }
        WriteSlow(value, n);
    }
    void WriteBytes(const uint8_t* bytes, int count);
    int BitCount() const { return static_cast<int>(m_bits); }
    bool Overflowed() const { return m_overflow; }
    int CapacityBits() const { return static_cast<int>(m_buf.size() * 8); }
    uint8_t* Data() { return m_buf.data(); }
    // Whole bytes written plus a last partial byte padded with zero bits.
    int FlushBytes() const { return static_cast<int>((m_bits + 7) / 8); }

private:
    void WriteSlow(uint32_t value, int n);

    std::vector<uint8_t> m_buf;
    uint64_t m_bits = 0;
    bool m_overflow = false;
};
