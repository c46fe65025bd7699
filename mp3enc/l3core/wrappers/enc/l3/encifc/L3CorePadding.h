#pragma once
// How many frames make one full padding cycle of an l3core stream and how
// many bytes that cycle carries, so that a caller can size its blocks.
struct L3CorePaddingCycle {
    int period;  // frames
    int bytes;   // in one period
};

// paddingMode 0 as the standard says, 1 never pad, 2 always pad. A cycle it
// cannot describe (a rate outside the standard ones) is {1, 1}.
L3CorePaddingCycle L3CoreGetPaddingCycle(int paddingMode, int codedRate, int bitRate);
