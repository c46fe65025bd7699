// Bit-addressable byte ring: the decoder's input ring and its bit reservoir.
// Reads work on 16-bit big-endian words and never leave the storage: every
// position wraps at the capacity. Reading does not test the fill; callers do.
#pragma once

#include <cstdint>

class Mp3DecoderSource;

class CMp3BitRing {
public:
    CMp3BitRing() = default;
    ~CMp3BitRing();
    CMp3BitRing(const CMp3BitRing&) = delete;
    CMp3BitRing& operator=(const CMp3BitRing&) = delete;

    // Smallest power of two (1 .. 65536) not below the request.
    static uint32_t CapacityFor(uint32_t request);

    bool Create(uint32_t size);                              // owned storage; false when out of memory
    void CreateOver(uint8_t* storage, uint32_t size, bool full);  // borrowed; size must be a power of two
    void Clear();

    uint32_t Write(const uint8_t* data, uint32_t length);
    uint32_t FreeBytes() const { return (m_capBits - static_cast<uint32_t>(m_fill)) / 8; }
    uint32_t CopyFrom(CMp3BitRing& other, uint32_t count);
    uint32_t Refill();

    uint32_t Read(int n);      // 1 .. 16 bits
    uint32_t Peek(int n) const;  // 1 .. 16 bits, leaving the position where it is
    void Advance(int n);         // as Read(n) without the value
    uint32_t Read32();
    void Unread(int32_t k);
    void Skip(int32_t k);

    int32_t Fill() const { return m_fill; }
    int32_t Mark() const { return m_mark; }
    void SetMark(int32_t m) { m_mark = m; }
    uint32_t ReadPos() const { return m_read; }
    uint32_t WritePos() const { return m_write; }
    uint32_t CapacityBytes() const { return m_capacity; }
    const uint8_t* Data() const { return m_data; }
    uint32_t CapacityBits() const { return m_capBits; }
    bool EndOfInput() const { return m_eof; }
    void SetEndOfInput(bool eof) { m_eof = eof; }
    void SetSource(Mp3DecoderSource* source) { m_source = source; }
    Mp3DecoderSource* Source() const { return m_source; }

private:
    uint8_t* m_data = nullptr;
    uint32_t m_capacity = 0;
    uint32_t m_capBits = 0;
    int32_t m_fill = 0;
    uint32_t m_write = 0;
    int32_t m_mark = 0;
    uint32_t m_read = 0;
    bool m_eof = false;
    Mp3DecoderSource* m_source = nullptr;
    bool m_owns = false;
};

// Inline: the Huffman decoder calls them for nearly every code.
inline uint32_t CMp3BitRing::Peek(int n) const {
    const uint32_t p = m_read;
    const uint32_t byte = (p >> 4) << 1;
    const uint32_t shift = p & 15;
    uint32_t word = (static_cast<uint32_t>(m_data[byte]) << 8 | m_data[byte + 1]) << shift;
    if (16 - static_cast<int>(shift) < n) {
        const uint32_t next = (byte + 2) & (m_capacity - 1);
        word |= (static_cast<uint32_t>(m_data[next]) << 8 | m_data[next + 1]) >> (16 - shift);
    }
    return (word & 0xFFFFu) >> (16 - n);
}

inline void CMp3BitRing::Advance(int n) {
    m_read = (m_read + static_cast<uint32_t>(n)) & (m_capBits - 1);
    m_mark += n;
    m_fill -= n;
}

inline uint32_t CMp3BitRing::Read(int n) {
    const uint32_t value = Peek(n);
    Advance(n);
    return value;
}
