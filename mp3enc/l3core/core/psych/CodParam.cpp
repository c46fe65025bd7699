#include "mp3enc/l3core/core/psych/CodParam.h"

#include <cstring>
#include <iterator>

#include "mp3enc/util/AlignedAlloc.h"

namespace {

// Apart from the bandwidth every row carries the same values.
constexpr float kLongRest[12] = {0, 0, 0.25f, 0.9f, 0.05f, 0.25f, 0.2f, 0.9f, -0.1f, 0.4f, 0, 0};
constexpr float kShortRest[12] = {0, 0, 0.02f, 0.35f, -0.2f, 0.03f, 0.02f, 0.6f, -0.01f, 1.3f, 0, 0};

// Bit rate per channel [from, to), sample rate [from, to], bandwidth stereo and
// mono in Hz. Each rate group ends with a row that never matches: the last
// real row interpolates towards it.
struct CodRow {
    int rateFrom, rateTo;
    float hzFrom, hzTo;
    float stereo, mono;
};
constexpr CodRow kRows[] = {
    {8000, 16000, 8000, 8000, 3500, 3000},       {16000, 320001, 8000, 8000, 4000, 4000},
    {320001, 320001, 8000, 8000, 4000, 4000},

    {8000, 16000, 11025, 12000, 3500, 2900},     {16000, 24000, 11025, 12000, 5200, 4300},
    {24000, 320001, 11025, 12000, 6000, 6000},   {320001, 320001, 11025, 12000, 6000, 6000},

    {8000, 16000, 16000, 16000, 3500, 3000},     {16000, 24000, 16000, 16000, 5300, 4100},
    {24000, 32000, 16000, 16000, 7500, 6500},    {32000, 320001, 16000, 16000, 8000, 8000},
    {320001, 320001, 16000, 16000, 8000, 8000},

    {8000, 16000, 22050, 24000, 3500, 3000},     {16000, 24000, 22050, 24000, 5500, 4000},
    {24000, 32000, 22050, 24000, 7500, 6500},    {32000, 40000, 22050, 24000, 10500, 8000},
    {40000, 48000, 22050, 24000, 12000, 9500},   {48000, 56000, 22050, 24000, 12000, 11000},
    {56000, 320001, 22050, 24000, 12000, 12000}, {320001, 320001, 22050, 24000, 12000, 12000},

    {16000, 24000, 32000, 32000, 5000, 4000},    {24000, 32000, 32000, 32000, 7500, 6500},
    {32000, 40000, 32000, 32000, 10000, 8000},   {40000, 48000, 32000, 32000, 12000, 9500},
    {48000, 56000, 32000, 32000, 14000, 11000},  {56000, 80000, 32000, 32000, 14500, 14000},
    {80000, 320001, 32000, 32000, 16000, 16000}, {320001, 320001, 32000, 32000, 16000, 16000},

    {16000, 24000, 44100, 48000, 5000, 4000},    {24000, 32000, 44100, 48000, 7500, 6500},
    {32000, 40000, 44100, 48000, 10000, 8000},   {40000, 48000, 44100, 48000, 11500, 9500},
    {48000, 56000, 44100, 48000, 13500, 11000},  {56000, 64000, 44100, 48000, 14200, 12300},
    {64000, 80000, 44100, 48000, 15500, 13000},  {80000, 256000, 44100, 48000, 20000, 16000},
    {256000, 320001, 44100, 48000, 24000, 24000}, {320001, 320001, 44100, 48000, 24000, 24000},
};
static_assert(std::size(kRows) == 38);

}  // namespace

CodParam* CodParamCreate(int blockKind, int bitRatePerChannel, float sampleRate, int stereo) {
    const bool isLong = blockKind == 0 || blockKind == 1 || blockKind == 3;
    if (!isLong && blockKind != 2) return nullptr;
    int row = -1;
    for (int r = 0; r < static_cast<int>(std::size(kRows)) && row < 0; ++r) {
        const CodRow& c = kRows[r];
        if (bitRatePerChannel >= c.rateFrom && bitRatePerChannel < c.rateTo && sampleRate >= c.hzFrom &&
            sampleRate <= c.hzTo)
            row = r;
    }
    if (row < 0) return nullptr;  // every matching row has an end row after it
    auto* p = static_cast<CodParam*>(AlignedMalloc(sizeof(CodParam), __FILE__, __LINE__));
    if (!p) return nullptr;
    const CodRow& c = kRows[row];
    const CodRow& next = kRows[row + 1];
    const float from = stereo ? c.stereo : c.mono;
    const float to = stereo ? next.stereo : next.mono;
    float bw = from + static_cast<float>(bitRatePerChannel - c.rateFrom) * (to - from) /
                          static_cast<float>(c.rateTo - c.rateFrom);
    if (bw > sampleRate / 2) bw = sampleRate / 2;
    p->values[0] = bw;
    std::memcpy(p->values + 1, isLong ? kLongRest : kShortRest, sizeof kLongRest);
    return p;
}

void CodParamFree(CodParam* record) { AlignedFree(record); }
