#pragma once
// A ring of floats that keeps a channel's recent samples: writes move the
// write position, reads look back a given delay and leave the ring alone.

struct FloatRing {
    float* data;
    int size;
    int writePosition;
};

// Zeroed, or null for a size below 1 or without memory.
FloatRing* CreateFloatModuleBuffer(int size);
// n values at the write position, wrapping; more than the size keeps the last size.
void FloatRingWrite(FloatRing* ring, const float* values, int n);
void FloatRingWriteZeros(FloatRing* ring, int n);
// n values from d back (the newest value is 1 back), wrapping. 1, or 0 and
// nothing read when n or d is negative or beyond the size.
int FloatRingRead(const FloatRing* ring, float* out, int n, int delay);
void DeleteFloatModuleBuffer(FloatRing* ring);
