#include "mp3enc/l3core/core/bitmux/DemandParam.h"

#include <algorithm>
#include <cmath>

namespace {

// Where t runs from 0 at `from` to 1 at `to`; a set whose two points meet
// steps at them instead of dividing by nothing.
float Ramp(float r, float from, float to) {
    if (to <= from) return r >= to ? 1.0f : 0.0f;
    return (std::clamp(r, from, to) - from) / (to - from);
}

}  // namespace

DemandParam DemandParamFromRecord(const float* v) {
    DemandParam p{};
    p.peMin = static_cast<int>(v[1]);
    p.peMax = static_cast<int>(v[2]);
    p.p3 = v[3];
    p.p4 = v[4];
    p.p5 = v[5];
    p.p6 = v[6];
    p.p7 = v[7];
    p.p8 = v[8];
    p.minBitSp = v[9];
    p.maxBitSp = v[10];
    return p;
}

void AdaptPeRange(DemandParam* set, int pe, float weight, int limit) {
    const float lo = static_cast<float>(set->peMin), hi = static_cast<float>(set->peMax);
    const float mid = lo + (hi - lo) * 0.5f;
    const float half = (hi - lo) * 0.5f;
    const float dev = static_cast<float>(pe) - mid;
    // An empty range (the records start at 0 and 0) grows from nothing.
    const float g = half > 0.0f ? std::clamp(0.03f * dev / half, 0.0f, 0.03f) : (dev > 0.0f ? 0.03f : 0.0f);
    const float m = (g + 0.05f) * weight;
    float t = half + m * (std::fabs(dev) - half);
    t = std::min(t, std::trunc(0.05f * static_cast<float>(limit)));
    t = std::max(t, std::trunc(0.01f * static_cast<float>(limit)));
    const float k = mid + m * dev;
    const float spread = std::min(t, 0.8f * k);
    set->peMin = static_cast<int>(k - spread + 0.5f);
    set->peMax = static_cast<int>(k + spread + 0.5f);
}

float DemandFactor(DemandParam* longSet, DemandParam* shortSet, int blockType, int pe, int fill, int limit) {
    if (limit == 0) return 0.0f;
    const bool isLong = blockType == 0 || blockType == 1 || blockType == 3 || blockType == 4 || blockType == 6;
    const bool isShort = blockType == 2 || blockType == 5;
    if (!isLong && !isShort) return 0.0f;
    DemandParam* set = isLong ? longSet : shortSet;
    const float r = static_cast<float>(fill) / static_cast<float>(limit);
    const float f1 = set->p6 - (set->p6 - set->p5) * Ramp(r, set->p3, set->p4);
    const float f2 = set->minBitSp + (set->maxBitSp - set->minBitSp) * Ramp(r, set->p7, set->p8);
    const float share = set->peMax > set->peMin
                            ? static_cast<float>(std::clamp(pe, set->peMin, set->peMax) - set->peMin) /
                                  static_cast<float>(set->peMax - set->peMin)
                            : (pe > set->peMin ? 1.0f : 0.0f);
    const float factor = (f1 + f2) * share - f1;
    if (isLong) {
        AdaptPeRange(longSet, pe, 1.0f, limit);
        AdaptPeRange(shortSet, pe, 0.8f, limit);
    } else {
        AdaptPeRange(shortSet, pe, 1.0f, limit);
        AdaptPeRange(longSet, pe, 0.6f, limit);
    }
    return factor;
}
