#pragma once
// A FIFO of float vectors that keeps a channel's recent spectra or band
// levels: a push reuses the oldest vector's storage, so nothing is copied but
// the new values.
#include "mp3enc/util/EncError.h"

struct FloatFifo {
    int length;  // floats per vector
    int fill;    // vectors pushed, up to depth
    int depth;
    float** vectors;  // [0] the newest
};

// Null or an error object ("invalid function parameters" for a depth or
// length below 1, "out of memory").
EncError* CreateFloatFifo(FloatFifo** out, int depth, int length);
void FloatFifoPush(FloatFifo* fifo, const float* values);
void FloatFifoPushZeros(FloatFifo* fifo);
// The vector pushed i pushes ago (0 the newest); null when i is not below the fill.
const float* FloatFifoEntry(const FloatFifo* fifo, int i);
void DeleteFloatFifo(FloatFifo* fifo);
