#pragma once
// The two built-in input conversions of l3core (signature L3CoreCast).
#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreFormat.h"

void L3CoreCastFloat(const void* input, int inputBytes, float* output, int room, int channels, int* bytesUsed,
                     int* samplesWritten);
void L3CoreCastInt16(const void* input, int inputBytes, float* output, int room, int channels, int* bytesUsed,
                     int* samplesWritten);
