#include "mp3enc/l3core/wrappers/enc/l3/encifc/L3CoreBitrate.h"

#include <cmath>
#include <iterator>

#include "common/MpegHeader.h"

namespace {

struct RateEntry {
    int from;  // bit/s
    float lowest, preferred, highest;
    int intensity, midSide, hfs;
};

// Each row ends with the entry of 320000.
constexpr RateEntry kMono[] = {
    {8000, 8000, 8000, 11025, 0, 0, 1},      {16000, 11025, 16000, 16000, 0, 0, 1},
    {24000, 16000, 16000, 24000, 0, 0, 1},   {32000, 22050, 22050, 24000, 0, 0, 1},
    {40000, 22050, 22050, 24000, 0, 0, 1},   {48000, 22050, 32000, 44100, 0, 0, 0},
    {64000, 32000, 44100, 48000, 0, 0, 0},   {320000, 32000, 44100, 48000, 0, 0, 0},
};
constexpr RateEntry kStereo[] = {
    {8000, 0, 0, 0, 0, 0, 0},                {20000, 8000, 11025, 12000, 1, 1, 1},
    {24000, 11025, 11025, 12000, 1, 1, 1},   {32000, 11025, 16000, 16000, 1, 1, 1},
    {40000, 22050, 22050, 24000, 1, 1, 1},   {48000, 22050, 22050, 24000, 1, 1, 1},
    {64000, 22050, 22050, 24000, 1, 1, 1},   {80000, 22050, 22050, 32000, 1, 1, 0},
    {96000, 32000, 32000, 44100, 1, 1, 0},   {112000, 32000, 44100, 48000, 0, 1, 0},
    {160000, 32000, 44100, 48000, 0, 0, 0},  {320000, 32000, 48000, 48000, 0, 0, 0},
};

template <size_t N>
const RateEntry& EntryFor(const RateEntry (&row)[N], int bitRate) {
    size_t k = 0;
    for (size_t i = 1; i < N; ++i)
        if (row[i].from <= bitRate) k = i;
    return row[k];
}

}  // namespace

EncError* L3CoreCheckBitrate(const L3CoreInput* input, L3CoreParams* p, const L3CoreConfig* config) {
    if (!input || !p) return ErrorCreate(__FILE__, __LINE__, nullptr, "invalid function parameter");
    const L3CoreConfig c = config ? *config : L3CoreDefaultConfig();
    if (p->bitRate < 8000) return ErrorCreate(__FILE__, __LINE__, nullptr, "bitrates < 8000 not supported by ISO MPEG Layer-3");
    if (p->bitRate > 320000)
        return ErrorCreate(__FILE__, __LINE__, nullptr, "bitrates > 320000 not supported by ISO MPEG Layer-3");
    if (p->channels != 1 && p->channels != 2)
        return ErrorCreate(__FILE__, __LINE__, nullptr, "wrong number of channels on input");
    const RateEntry& e = p->channels == 1 ? EntryFor(kMono, p->bitRate) : EntryFor(kStereo, p->bitRate);
    if (e.preferred == 0.0f) return ErrorCreate(__FILE__, __LINE__, nullptr, "bitrate invalid for this mode");
    p->sampleRate = e.preferred;
    const float inRate = input->sampleRate;
    if (c.quality <= 6 && std::isfinite(inRate) && inRate >= 1.0f && inRate < 1e7f) {
        for (int i = 1; i <= 6; ++i) {
            const int q = static_cast<int>(inRate / static_cast<float>(i));
            int version = 0, index = 0;
            if (q >= e.lowest && q <= e.highest && static_cast<float>(q * i) == inRate &&
                MpegVersionOfSampleRate(q, &version, &index)) {
                p->sampleRate = static_cast<float>(q);
                break;
            }
        }
    }
    p->stereoTools = 0;
    if (e.intensity && !c.intensityOff) p->stereoTools |= kL3CoreIntensity;
    if (e.midSide) p->stereoTools |= kL3CoreMidSide;
    p->hfs = c.quality <= 2 ? 0 : (c.quality >= 8 ? 1 : e.hfs);
    return nullptr;
}
