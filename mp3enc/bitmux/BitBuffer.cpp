#include "mp3enc/bitmux/BitBuffer.h"

#include "mp3enc/util/AlignedAlloc.h"

namespace {
// Bit p lies in word p / 32 at bit p % 32, counted from the least significant bit.
void PutBit(BitBuffer* b, int pos, uint32_t bit) {
    uint32_t& w = b->data[pos >> 5];
    const uint32_t mask = 1u << (pos & 31);
    w = bit ? (w | mask) : (w & ~mask);
}

int Wrap(int pos, int delta, int capacity) {
    long long p = (static_cast<long long>(pos) + delta) % capacity;
    if (p < 0) p += capacity;
    return static_cast<int>(p);
}
}  // namespace

BitBuffer* CreateBitBuffer(int capacityBits) {
    if (capacityBits <= 0) return nullptr;
    auto* b = static_cast<BitBuffer*>(AlignedCalloc(1, sizeof(BitBuffer), __FILE__, __LINE__));
    if (!b) return nullptr;
    b->data = static_cast<uint32_t*>(
        AlignedCalloc(static_cast<size_t>(capacityBits + 31) / 32, sizeof(uint32_t), __FILE__, __LINE__));
    if (!b->data) {
        AlignedFree(b);
        return nullptr;
    }
    b->capacity = capacityBits;
    return b;
}

void DeleteBitBuffer(BitBuffer* buffer) {
    if (!buffer) return;
    AlignedFree(buffer->data);
    AlignedFree(buffer);
}

int WriteBits(BitBuffer* buffer, uint32_t value, int count) {
    int pos = buffer->writePos;
    for (int i = count - 1; i >= 0; --i) {
        PutBit(buffer, pos, (value >> i) & 1u);
        if (++pos == buffer->capacity) pos = 0;
    }
    buffer->writePos = pos;
    return 1;
}

uint32_t ReadBits(BitBuffer* buffer, int count) {
    uint32_t v = 0;
    int pos = buffer->readPos;
    for (int i = 0; i < count; ++i) {
        v = (v << 1) | ((buffer->data[pos >> 5] >> (pos & 31)) & 1u);
        if (++pos == buffer->capacity) pos = 0;
    }
    buffer->readPos = pos;
    return v;
}

void CopyBits(BitBuffer* destination, BitBuffer* source, int count) {
    while (count >= 32) {
        WriteBits(destination, ReadBits(source, 32), 32);
        count -= 32;
    }
    if (count > 0) WriteBits(destination, ReadBits(source, count), count);
}

int GetBitCount(const BitBuffer* buffer) {
    const int fill = buffer->writePos - buffer->readPos;
    return fill < 0 ? fill + buffer->capacity : fill;
}

int SeekReadPosition(BitBuffer* buffer, int delta) {
    const int before = buffer->readPos;
    buffer->readPos = Wrap(before, delta, buffer->capacity);
    return before;
}

int SeekWritePosition(BitBuffer* buffer, int delta) {
    const int before = buffer->writePos;
    buffer->writePos = Wrap(before, delta, buffer->capacity);
    return before;
}
