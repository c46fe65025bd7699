#pragma once
// An audio format from its fields in the order the record holds them, for
// tests and benchmarks that hand formats to codecs, transports and calls.
#include "common/Records.h"

inline AudioFormat TestFormat(int coding, int bitRate, int rate, int mode, int frameBytes = 0,
                              int direction = 0) {
    AudioFormat f;
    f.codingType = coding;
    f.bitRate = bitRate;
    f.sampleRate = rate;
    f.deviceMode = mode;
    f.frameBytes = frameBytes;
    f.direction = direction;
    return f;
}
