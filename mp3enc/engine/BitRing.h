#pragma once
// A ring of bytes written bit by bit, most significant bit first, and read
// back in whole bytes. The owner sizes it for the largest frame plus the
// reservoir; the overrun flag records a write onto unread bytes.
#include <cstdint>

namespace l3 {

class CBitRing {
public:
    explicit CBitRing(int bytes);
    ~CBitRing();
    CBitRing(const CBitRing&) = delete;
    CBitRing& operator=(const CBitRing&) = delete;

    void Put(uint32_t value, int bits);  // 0 to 32 bits
    int BitsHeld() const { return m_heldBytes * 8 + m_accBits; }
    int BytesHeld() const { return m_heldBytes; }
    uint8_t ReadByte();
    void FlushPartial();  // pads a partly written last byte with zeros
    bool Overrun() const { return m_overrun; }
    bool Valid() const { return m_data != nullptr; }

private:
    uint8_t* m_data = nullptr;
    int m_size = 0;
    int m_write = 0;
    int m_read = 0;
    int m_heldBytes = 0;
    uint32_t m_acc = 0;
    int m_accBits = 0;
    bool m_overrun = false;
};

}  // namespace l3
