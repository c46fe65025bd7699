#include "mp3enc/l3core/core/bitmux/PerceptualEntropy.h"

#include <cmath>

namespace {

struct Product {
    double p = 1.0;
    double logSum = 0.0;
    // Lines at `first`, `first + step`, ... of one band.
    void Band(const float* spectrum, int first, int width, int step, float threshold) {
        if (!(threshold > 0.0f)) return;
        const double scale = static_cast<double>(width) / threshold;
        for (int k = 0; k < width; ++k) {
            const double x = spectrum[first + k * step];
            if (x == 0.0) continue;
            if (p > 1e30) {
                logSum += std::log(p);
                p = 1.0;
            }
            p *= 1.5 + x * x * scale;
        }
    }
};

void ShortBands(Product& pe, const PsyGranuleChannel& c, const int16_t* shortStart, int fromBand) {
    for (int w = 0; w < 3; ++w)
        for (int b = fromBand; b < kShortBands; ++b) {
            const int width = shortStart[b + 1] - shortStart[b];
            pe.Band(c.spectrum, shortStart[b] * 3 + w, width, 3, c.thresholdShort[w][b]);
        }
}

}  // namespace

int PerceptualEntropy(const PsyGranuleChannel& c, const int16_t* longStart, const int16_t* shortStart, int lowerRate) {
    Product pe;
    switch (c.blockType) {
        case 0: case 1: case 3: case 4: case 6:
            for (int b = 0; b < kLongBands; ++b)
                pe.Band(c.spectrum, longStart[b], longStart[b + 1] - longStart[b], 1, c.thresholdLong[b]);
            break;
        case 2:
            ShortBands(pe, c, shortStart, 0);
            break;
        case 5:
            for (int b = 0; b < (lowerRate ? 6 : 8); ++b)
                pe.Band(c.spectrum, longStart[b], longStart[b + 1] - longStart[b], 1, c.thresholdLong[b]);
            ShortBands(pe, c, shortStart, 3);
            break;
        default:
            return 0;
    }
    return static_cast<int>((std::log(pe.p) + pe.logSum) * 1.4426950 + 0.5);
}
