#include "codecs/mp3dec/Mp3BitRing.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "codecs/mp3dec/Mp3Decoder.h"

CMp3BitRing::~CMp3BitRing() {
    if (m_owns) delete[] m_data;
}

uint32_t CMp3BitRing::CapacityFor(uint32_t request) {
    uint32_t cap = 1;
    while (cap < request && cap < 65536u) cap <<= 1;
    return cap;
}

bool CMp3BitRing::Create(uint32_t size) {
    const uint32_t cap = CapacityFor(size);
    // Reads fetch 16-bit words: a one-byte ring still gets two bytes of storage.
    uint8_t* data = new (std::nothrow) uint8_t[cap < 2 ? 2 : cap]();
    if (!data) return false;
    if (m_owns) delete[] m_data;
    m_data = data;
    m_owns = true;
    m_capacity = cap;
    m_capBits = cap * 8;
    Clear();
    return true;
}

void CMp3BitRing::CreateOver(uint8_t* storage, uint32_t size, bool full) {
    if (m_owns) delete[] m_data;
    m_data = storage;
    m_owns = false;
    m_capacity = size;
    m_capBits = size * 8;
    Clear();
    if (full) m_fill = static_cast<int32_t>(m_capBits);
}

void CMp3BitRing::Clear() {
    m_fill = 0;
    m_write = 0;
    m_mark = 0;
    m_read = 0;
    m_eof = false;
}

uint32_t CMp3BitRing::Write(const uint8_t* data, uint32_t length) {
    const uint32_t n = std::min(length, FreeBytes());
    if (n == 0) return 0;
    const uint32_t first = std::min(n, m_capacity - m_write);
    std::memcpy(m_data + m_write, data, first);
    if (n > first) std::memcpy(m_data, data + first, n - first);
    m_write = (m_write + n) & (m_capacity - 1);
    m_fill += static_cast<int32_t>(n * 8);
    return n;
}

uint32_t CMp3BitRing::CopyFrom(CMp3BitRing& other, uint32_t count) {
    const uint32_t n = std::min({count, static_cast<uint32_t>(std::max(other.m_fill, 0)) / 8, FreeBytes()});
    if ((other.m_read & 7) == 0) {
        // Byte-aligned source: plain copies, at most two runs per side.
        uint32_t left = n;
        uint32_t src = other.m_read >> 3;
        while (left) {
            const uint32_t run = std::min({left, other.m_capacity - src, m_capacity - m_write});
            std::memcpy(m_data + m_write, other.m_data + src, run);
            src = (src + run) & (other.m_capacity - 1);
            m_write = (m_write + run) & (m_capacity - 1);
            left -= run;
        }
        other.m_read = (other.m_read + n * 8) & (other.m_capBits - 1);
        other.m_fill -= static_cast<int32_t>(n * 8);
        other.m_mark += static_cast<int32_t>(n * 8);
    } else {
        for (uint32_t i = 0; i < n; ++i) {
            m_data[m_write] = static_cast<uint8_t>(other.Read(8));
            m_write = (m_write + 1) & (m_capacity - 1);
        }
    }
    m_fill += static_cast<int32_t>(n * 8);
    return n;
}

uint32_t CMp3BitRing::Refill() {
    if (!m_source) return 0;
    uint32_t total = 0;
    while (FreeBytes() > 0) {
        const uint32_t ask = std::min(FreeBytes(), m_capacity - m_write);
        uint32_t got = 0;
        m_source->Read(m_data + m_write, ask, &got);
        got = std::min(got, ask);
        m_write = (m_write + got) & (m_capacity - 1);
        m_fill += static_cast<int32_t>(got * 8);
        total += got;
        if (got < ask) break;
    }
    if (m_source->AtEnd()) m_eof = true;
    return total;
}

uint32_t CMp3BitRing::Read32() {
    const uint32_t hi = Read(16);
    return hi << 16 | Read(16);
}

void CMp3BitRing::Unread(int32_t k) {
    m_read = (m_read - static_cast<uint32_t>(k)) & (m_capBits - 1);
    m_fill += k;
    m_mark -= k;
}

void CMp3BitRing::Skip(int32_t k) {
    m_read = (m_read + static_cast<uint32_t>(k)) & (m_capBits - 1);
    m_fill -= k;
    m_mark += k;
}
