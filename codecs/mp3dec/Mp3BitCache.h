// A 64-bit cached reader over a CMp3BitRing for the Huffman data: bits come
// out of a register refilled a byte at a time, instead of two byte loads and a
// wrap test per read. It reads what CMp3BitRing::Read would from the same
// position, wrapping at the ring's end and, like the ring, not testing the
// fill. Commit() hands the bits taken back to the ring. The ring holds at
// least two bytes (the decoder's reservoir always does).
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "codecs/mp3dec/Mp3BitRing.h"

class CMp3BitCache {
public:
    explicit CMp3BitCache(CMp3BitRing& ring)
        : m_ring(ring),
          m_data(ring.Data()),
          m_mask(ring.CapacityBytes() - 1),
          m_byte(ring.ReadPos() >> 3),
          m_mark(ring.Mark()) {
        Refill();
        const int skip = static_cast<int>(ring.ReadPos() & 7);
        m_cache <<= skip;
        m_count -= skip;
        Refill();
    }

    uint32_t Peek(int n) const { return static_cast<uint32_t>(m_cache >> (64 - n)); }  // 1 .. 32 bits
    void Advance(int n) {
        m_cache <<= n;
        m_count -= n;
        m_mark += n;
        m_taken += n;
        if (m_count < 32) Refill();
    }
    uint32_t Read(int n) {
        const uint32_t v = Peek(n);
        Advance(n);
        return v;
    }
    int32_t Mark() const { return m_mark; }

    // Moves the ring past what was read; the cache is not used afterwards.
    void Commit() {
        m_ring.Advance(m_taken);
        m_taken = 0;
    }

private:
    // Whole bytes until more than 56 bits are held. Away from the ring's end
    // one 64-bit load brings them; the bits it brings beyond those bytes are
    // the ones the next refill would put in the same place.
    void Refill() {
        const int bytes = (64 - m_count) >> 3;
        if (bytes == 0) return;
        const uint32_t at = m_byte & m_mask;
        if (at + 8 <= m_mask + 1) {
            uint64_t word;
            std::memcpy(&word, m_data + at, 8);
            if constexpr (std::endian::native == std::endian::little) word = __builtin_bswap64(word);
            m_cache |= word >> m_count;
            m_byte += static_cast<uint32_t>(bytes);
            m_count += 8 * bytes;
            return;
        }
        while (m_count <= 56) {
            m_cache |= static_cast<uint64_t>(m_data[m_byte & m_mask]) << (56 - m_count);
            ++m_byte;
            m_count += 8;
        }
    }

    CMp3BitRing& m_ring;
    const uint8_t* m_data;
    uint32_t m_mask;
    uint32_t m_byte;
    uint64_t m_cache = 0;
    int m_count = 0;  // valid bits at the top of m_cache
    int32_t m_mark;
    int32_t m_taken = 0;
};
