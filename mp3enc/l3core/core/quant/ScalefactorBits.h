#pragma once
// The scale-factor bits of one granule and channel (part2): chooses
// scalefac_compress and the bits per group for the stream's version and
// block type, after the bands whose values are all 0 lost their scale factor.
#include "mp3enc/l3core/core/bitmux/GranuleInfo.h"

// Groups of the block kind (0 long, 1 short, 2 mixed) and the largest scale
// factor each group can carry, for the stream and preflag.
void ScalefactorLimits(int lowerRate, int kind, int preflag, int* counts, int* limits);
// zeroBand[r]: scale-factor record r quantised to all zeros. With keep 0 the
// scale factors are restored afterwards. Returns part2_length, or -1 when no
// scalefac_compress can carry the factors.
int ScalefactorBits(GranuleInfo* info, int kind, const bool* zeroBand, int scalefactorCount, bool keep);
