#pragma once
// The hybrid filter bank's second stage for one channel: per granule, the 32
// subbands' 18 samples become 576 spectral lines by 36-point (long, start,
// stop) or three 12-point (short) MDCTs, with the standard's aliasing
// reduction between long subbands. Block types 0 to 6 (4 to 6: mixed, the
// lowest subbands on the normal long window).
#include "mp3enc/l3core/core/psych/SfbParam.h"

inline constexpr int kMdctSpectrumSize = 578;  // 576 lines and two zeros

struct MdctState {
    int longSubbands;       // subbands kept long in a mixed block
    int longLines;          // longSubbands x 18
    float buffer[32][36];   // per subband: the previous granule's 18, then the current 18
};

// version 0 MPEG-1, 1 or 2 the lower rates; the long band table fixes the
// mixed blocks' long part (band 8 or band 6). Null without memory or for a
// missing table or another version.
MdctState* CreateMdct(int version, const SfbParam* longBands);
// subbands: the granule in the polyphase layout (32 s + sb); spectrum: 578
// floats. A block type outside 0 to 6 is treated as 0. Returns 1.
int MdctAnalyse(MdctState* state, int blockType, const float* subbands, float* spectrum);
void DeleteMdct(MdctState* state);
