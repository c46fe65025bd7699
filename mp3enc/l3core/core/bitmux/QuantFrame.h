#pragma once
// A frame as the quantisation loop hands it to the bitstream encoder, per
// granule and channel in the order granule 0 channel 0, granule 0 channel 1,
// granule 1 channel 0, granule 1 channel 1.
#include "mp3enc/l3core/core/bitmux/GranuleInfo.h"

struct QuantFrame {
    int complete;  // set at the frame's last granule
    int part23Length[4];
    int values[4][576];  // signed
    GranuleInfo info[4];
};
