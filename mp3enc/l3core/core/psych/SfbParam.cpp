#include "mp3enc/l3core/core/psych/SfbParam.h"

#include <iterator>

#include "common/L3Tables.h"
#include "mp3enc/util/AlignedAlloc.h"

namespace {

// The first line not coded, long and short, in the order of l3tables::kSfbRateHz.
struct LineLimit {
    int hz, longLimit, shortLimit;
};
constexpr LineLimit kLineLimits[] = {
    {32000, 550, 186}, {44100, 524, 180}, {48000, 482, 162}, {16000, 522, 174}, {22050, 522, 174},
    {24000, 540, 184}, {8000, 574, 166},  {11025, 522, 174}, {12000, 522, 174},
};
static_assert(std::size(kLineLimits) == std::size(l3tables::kSfbRateHz));

// Line of f on the band table's own scale.
int ScaledLine(float hz, float sampleRate, int bandCount, const int32_t* start) {
    if (!(sampleRate > 0.0f)) return 0;
    const double l = start[bandCount] * 2.0 * hz / sampleRate + 0.5;
    return l <= 0.0 ? 0 : l >= start[bandCount] ? start[bandCount] : static_cast<int>(l);
}

}  // namespace

SfbParam* SfbParamCreate(int blockKind, float sampleRate) {
    const bool isLong = blockKind == 0 || blockKind == 1 || blockKind == 3;
    if (!isLong && blockKind != 2) return nullptr;
    int row = -1;
    for (int r = 0; r < static_cast<int>(std::size(l3tables::kSfbRateHz)); ++r)
        if (static_cast<float>(l3tables::kSfbRateHz[r]) == sampleRate) row = r;
    if (row < 0) return nullptr;
    auto* p = static_cast<SfbParam*>(AlignedCalloc(1, sizeof(SfbParam), __FILE__, __LINE__));
    if (!p) return nullptr;
    const int16_t* border = isLong ? l3tables::kSfbLong[row] : l3tables::kSfbShort[row];
    p->bandCount = isLong ? 21 : 12;
    p->lineCount = border[p->bandCount + 1];
    p->lineLimit = isLong ? kLineLimits[row].longLimit : kLineLimits[row].shortLimit;
    for (int b = 0; b <= p->bandCount; ++b) p->width[b] = border[b + 1] - border[b];
    p->start[0] = 0;
    for (int b = 0; b <= p->bandCount; ++b) p->start[b + 1] = p->start[b] + p->width[b];
    return p;
}

void SfbParamFree(SfbParam* record) { AlignedFree(record); }

int SfbNearestBorder(float hz, float sampleRate, int bandCount, const int32_t* start) {
    const int l = ScaledLine(hz, sampleRate, bandCount, start);
    if (l >= start[bandCount]) return bandCount;
    int i = 0;
    while (i + 1 < bandCount && start[i + 1] <= l) ++i;
    return start[i + 1] - l < l - start[i] ? i + 1 : i;
}

int SfbBandOf(float hz, float sampleRate, int bandCount, const int32_t* start) {
    const int l = ScaledLine(hz, sampleRate, bandCount, start);
    int i = 0;
    while (i < bandCount && start[i + 1] <= l) ++i;
    return i;
}
