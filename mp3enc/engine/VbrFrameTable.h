#pragma once
// The frame-position table the front end keeps beside a VBR engine: every
// frame's byte position, thinned to at most 300 entries by doubling the step.
// Nothing in the system writes it into the output.
#include <cstdint>

struct VbrFrameTable {
    int32_t count;
    int32_t step;
    int32_t positions[300];
    int32_t lastPosition;
    int32_t offered;
    int32_t headerFrameBytes;
    int32_t version;
    int32_t channels;
    int32_t bitRateIndex;
    int32_t sampleRateIndex;
    int32_t samplesPerFrame;
    int32_t delayPlusFrame;
    int32_t quality;
    int32_t lastLength;
};

VbrFrameTable* VbrFrameTableCreate(int bitRateIndex, int sampleRate, int channels);
void VbrFrameTableSetup(VbrFrameTable* table, int delay, int quality);
void VbrFrameTableAddFrame(VbrFrameTable* table, int position, int length);
void VbrFrameTableDestroy(VbrFrameTable* table);
