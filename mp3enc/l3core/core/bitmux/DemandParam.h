#pragma once
// One parameter set of the bit demand mapping (long or short blocks): the
// perceptual-entropy range, adapted from granule to granule, and the fixed
// shape of the mapping from reservoir fill and entropy to a demand factor.

struct DemandParam {
    int peMin;
    int peMax;
    float p3, p4;  // fill ratios between which the give-up fraction f1 moves
    float p5, p6;  // f1 at fill ratio p4 and p3
    float p7, p8;  // fill ratios between which the take fraction f2 moves
    float minBitSp, maxBitSp;  // f2 at fill ratio p7 and p8
};

// From the values of a coding parameter record (bandwidth first, then the
// PE range, p3 to p8, minBitSp and maxBitSp).
DemandParam DemandParamFromRecord(const float* values);
// The factor for one granule of entropy pe and the given block type, from
// the reservoir fill and limit; 0.0 when the limit is 0 or the block type is
// unknown. Adapts the PE ranges of both sets towards pe.
float DemandFactor(DemandParam* longSet, DemandParam* shortSet, int blockType, int pe, int fill, int limit);
// Moves one set's PE range towards pe with weight w, kept within 1 % and 5 %
// of the reservoir limit.
void AdaptPeRange(DemandParam* set, int pe, float weight, int limit);
