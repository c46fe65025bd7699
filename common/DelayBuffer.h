#pragma once
// The byte FIFO of coded audio between the audio engine and a connection of
// connection type 3 (one per direction), sized from the buffering time. Bytes
// always sit at the front of the block. Owned and used by the call engine's
// worker thread only; no locking.
#include <cstdint>

class CDelayBuffer {
public:
    CDelayBuffer() = default;
    ~CDelayBuffer();
    CDelayBuffer(const CDelayBuffer&) = delete;
    CDelayBuffer& operator=(const CDelayBuffer&) = delete;

    // 1/0. The same capacity again keeps the block and only empties it;
    // otherwise a new block (0 when memory runs out: the buffer is then
    // unusable and the caller deletes it).
    int Allocate(uint32_t capacity, uint32_t frameBytes);
    uint32_t GetFreeSpace() const { return m_capacity - m_fill; }
    // 0 when empty or without capacity; else (fill + one frame) as a percentage
    // of the capacity, at most 100.
    uint32_t GetFillPercent() const;
    // Bytes taken (up to `length`) from the front; the rest moves up.
    uint32_t Read(uint8_t* destination, uint32_t length);
    // 1 when all `length` bytes were appended, 0 (nothing stored) when they
    // do not fit or there is nothing to store or no block.
    int Write(const uint8_t* source, uint32_t length);

    uint32_t GetFill() const { return m_fill; }
    uint32_t GetCapacity() const { return m_capacity; }
    uint32_t GetFrameBytes() const { return m_frameBytes; }

private:
    uint32_t m_frameBytes = 0;
    uint32_t m_capacity = 0;
    uint32_t m_fill = 0;
    uint8_t* m_data = nullptr;
};
