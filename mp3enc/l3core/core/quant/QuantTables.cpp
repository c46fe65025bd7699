#include "mp3enc/l3core/core/quant/QuantTables.h"

#include <cmath>

namespace {

// 3d splits into a fine part k (0 .. 15, in 16ths) and a coarse part j
// (whole octaves); each has its table and the mirror for negative d. Gains
// reach -150 and band offsets 128 quarter steps: 3 x 278 / 16 < 64 octaves.
struct StepTables {
    double fineDown[16], fineUp[16];
    double coarseDown[64], coarseUp[64];
    double quarterUp[4], quarterDown[4];
    double octaveUp[120], octaveDown[120];
    double pow43[kMaxQuantised + 16];
    StepTables() {
        for (int k = 0; k < 16; ++k) {
            fineDown[k] = std::pow(2.0, -k / 16.0);
            fineUp[k] = std::pow(2.0, k / 16.0);
        }
        for (int j = 0; j < 64; ++j) {
            coarseDown[j] = std::ldexp(1.0, -j);
            coarseUp[j] = std::ldexp(1.0, j);
        }
        for (int k = 0; k < 4; ++k) {
            quarterUp[k] = std::pow(2.0, k / 4.0);
            quarterDown[k] = std::pow(2.0, -k / 4.0);
        }
        for (int j = 0; j < 120; ++j) {
            octaveUp[j] = std::ldexp(1.0, j);
            octaveDown[j] = std::ldexp(1.0, -j);
        }
        for (int i = 0; i < kMaxQuantised + 16; ++i) pow43[i] = std::pow(static_cast<double>(i), 4.0 / 3.0);
    }
};

const StepTables& Tables() {
    static const StepTables tables;  // built on first use; C++ makes this thread-safe
    return tables;
}

}  // namespace

double QuantStep(int d) {
    const StepTables& t = Tables();
    const int a = 3 * (d < 0 ? -d : d);
    const int j = a >> 4, k = a & 15;
    if (j >= 64) return d < 0 ? t.coarseUp[63] : t.coarseDown[63];
    return d < 0 ? t.fineUp[k] * t.coarseUp[j] : t.fineDown[k] * t.coarseDown[j];
}

double DequantStep(int d) {
    const StepTables& t = Tables();
    const int a = d < 0 ? -d : d;
    const int j = a >> 2, k = a & 3;
    if (j >= 120) return d < 0 ? 0.0 : t.octaveUp[119];
    return d < 0 ? t.quarterDown[k] * t.octaveDown[j] : t.quarterUp[k] * t.octaveUp[j];
}

const double* Pow43Table() { return Tables().pow43; }
