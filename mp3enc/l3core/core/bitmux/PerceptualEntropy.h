#pragma once
// Perceptual entropy of one granule and channel: the bits the lines above
// their band's masking threshold would need, sum of log2(1.5 + x^2 w / t).
#include <cstdint>

#include "mp3enc/l3core/core/bitmux/PsyGranule.h"

// longStart: 23 band starts of the long bands, shortStart: 14 of the short
// bands. Bands with no positive threshold carry no information and are
// skipped. lowerRate: MPEG-2 or 2.5 (6 long bands in a mixed block, else 8).
int PerceptualEntropy(const PsyGranuleChannel& channel, const int16_t* longStart, const int16_t* shortStart,
                      int lowerRate);
