#include "common/DelayBuffer.h"

#include <cstring>
#include <new>

CDelayBuffer::~CDelayBuffer() {
    delete[] m_data;
    m_data = nullptr;
}

int CDelayBuffer::Allocate(uint32_t capacity, uint32_t frameBytes) {
    if (m_data && capacity == m_capacity) {
        m_fill = 0;
        m_frameBytes = frameBytes;
        return 1;
    }
    delete[] m_data;
    m_data = nullptr;
    m_frameBytes = frameBytes;
    m_fill = 0;
    // A zero capacity still gets a (one-byte) block, so the buffer counts as
    // allocated and simply never holds anything.
    m_data = new (std::nothrow) uint8_t[capacity ? capacity : 1];
    m_capacity = m_data ? capacity : 0;
    return m_data ? 1 : 0;
}

uint32_t CDelayBuffer::GetFillPercent() const {
    if (m_fill == 0 || m_capacity == 0) return 0;
    // 64 bits: fill + frame bytes times 100 must not wrap for large blocks.
    const uint64_t percent = (static_cast<uint64_t>(m_fill) + m_frameBytes) * 100u / m_capacity;
    return percent > 100 ? 100 : static_cast<uint32_t>(percent);
}

uint32_t CDelayBuffer::Read(uint8_t* destination, uint32_t length) {
    if (!m_data || m_fill == 0 || !destination || length == 0) return 0;
    const uint32_t n = length < m_fill ? length : m_fill;
    std::memcpy(destination, m_data, n);
    std::memmove(m_data, m_data + n, m_fill - n);
    m_fill -= n;
    return n;
}

int CDelayBuffer::Write(const uint8_t* source, uint32_t length) {
    if (!m_data || !source || length == 0) return 0;
    if (length > GetFreeSpace()) return 0;
    std::memcpy(m_data + m_fill, source, length);
    m_fill += length;
    return 1;
}
