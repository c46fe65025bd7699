#pragma once
// The quantisation loop of a frame: quantises every granule and channel to
// the bit budgets of the bitstream encoder, then, pass by pass, amplifies the
// bands whose noise exceeds their allowed distortion and keeps the best
// result of each group of granules and channels. One encoder's thread.
#include "mp3enc/l3core/core/bitmux/QuantFrame.h"
#include "mp3enc/l3core/core/quant/ChannelLoop.h"

struct LoopGranuleInput {
    int channels;
    int granule;  // within the frame
    LoopChannelInput channel[2];
};

struct LoopKernel {
    int channels;
    int granules;
    int granulesPerGroup;
    int channelsPerGroup;
    int amplifyMode;
    int fullSearch;
    int maxOuterLoops;
    ChannelLoop* loop[4];  // granule 0 channel 0, granule 0 channel 1, granule 1 ...
    int budget[4];
    int passes;  // outer passes of the last frame
    QuantFrame frame;
};

// Registers "amp", "hfs", "mol" and "itm" and reads them; null for a sample
// rate that is not an ISO rate, a channel count other than 1 or 2, or
// without memory.
LoopKernel* CreateLoopKernel(int sampleRate, int channels);
// Once per granule after the bitstream encoder set the budgets (granule 0
// channel 0, granule 0 channel 1, granule 1 channel 0, granule 1 channel 1).
// The frame is quantised at its last granule and frame.complete set. Returns
// 0 when the input does not fit the kernel or the first rate loop of the
// frame cannot meet its budget.
int AdvanceLoopKernel(LoopKernel* kernel, const LoopGranuleInput& input, const int* budgets);
void DeleteLoopKernel(LoopKernel* kernel);
