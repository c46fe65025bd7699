#pragma once
// A ring of bits: values go in and come out most significant bit first, so
// reading 8 bits at a time from the start yields the stream's bytes in order.
// The owner sizes the capacity; the ring does not check for overrun.
#include <cstdint>

struct BitBuffer {
    uint32_t* data;
    int readPos;   // bit index, 0 .. capacity - 1
    int writePos;  // bit index, 0 .. capacity - 1
    int capacity;  // bits
};

BitBuffer* CreateBitBuffer(int capacityBits);
void DeleteBitBuffer(BitBuffer* buffer);
int WriteBits(BitBuffer* buffer, uint32_t value, int count);
uint32_t ReadBits(BitBuffer* buffer, int count);
void CopyBits(BitBuffer* destination, BitBuffer* source, int count);
int GetBitCount(const BitBuffer* buffer);
// Both return the position before the move; delta 0 only reads it.
int SeekReadPosition(BitBuffer* buffer, int delta);
int SeekWritePosition(BitBuffer* buffer, int delta);
