#include "mp3enc/engine/BitRing.h"

#include <new>

namespace l3 {

CBitRing::CBitRing(int bytes) : m_data(new (std::nothrow) uint8_t[bytes > 0 ? bytes : 1]()), m_size(bytes) {}

CBitRing::~CBitRing() { delete[] m_data; }

void CBitRing::Put(uint32_t value, int bits) {
    for (int i = bits - 1; i >= 0; --i) {
        m_acc = (m_acc << 1) | ((value >> i) & 1u);
        if (++m_accBits == 8) {
            if (m_heldBytes == m_size) {
                m_overrun = true;
            } else {
                m_data[m_write] = static_cast<uint8_t>(m_acc);
                m_write = m_write + 1 == m_size ? 0 : m_write + 1;
                ++m_heldBytes;
            }
            m_acc = 0;
            m_accBits = 0;
        }
    }
}

void CBitRing::FlushPartial() {
    if (m_accBits) Put(0, 8 - m_accBits);
}

uint8_t CBitRing::ReadByte() {
    if (m_heldBytes == 0) return 0;
    const uint8_t b = m_data[m_read];
    m_read = m_read + 1 == m_size ? 0 : m_read + 1;
    --m_heldBytes;
    return b;
}

}  // namespace l3
