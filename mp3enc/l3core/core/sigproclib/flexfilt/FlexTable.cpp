#include "mp3enc/l3core/core/sigproclib/flexfilt/FlexTable.h"

#include <cmath>
#include <cstring>

#include "mp3enc/util/AlignedAlloc.h"

namespace {

double BesselI0(double x) {
    double sum = 1.0, term = 1.0;
    for (int k = 1; k < 1000; ++k) {
        const double f = x / 2.0 / k;
        term *= f * f;
        sum += term;
        if (term < 1e-21 * sum) break;
    }
    return sum;
}

}  // namespace

double FlexBeta(double attenuationDb) {
    return 0.126 * attenuationDb - 0.0001 * attenuationDb * attenuationDb - 1.5297;
}

int FlexLength(double passBandFactor, double beta) {
    return static_cast<int>(2.0 * ((std::exp(14.5 * (passBandFactor - 0.87)) - 1.0) * std::pow(beta, 0.83) +
                                   beta + 2.0));
}

void FlexSincTable(double* raw, int points, double cutoff, double beta, int pointsPerCrossing) {
    constexpr double kPi = 3.1415926;
    const double i0Beta = BesselI0(beta);
    const double last = points > 1 ? points - 1 : 1;
    raw[0] = 1.0;
    for (int i = 1; i < points; ++i) {
        const double x = i * kPi / pointsPerCrossing;
        const double r = i / last;
        raw[i] = std::sin(2.0 * cutoff * x) / x * BesselI0(beta * std::sqrt(1.0 - r * r)) / i0Beta;
    }
}

int FlexTableInit(FlexTable* table, double cutoff, double startPosition, int halfLength, double beta) {
    if (!table) return kFlexNullState;
    std::memset(table, 0, sizeof *table);
    if (!(cutoff <= 1.0)) return kFlexCutoffTooLarge;
    if (halfLength < 1 || halfLength > kFlexMaxHalfLength || !(startPosition >= 0.0 && startPosition < 1.0) ||
        !std::isfinite(beta)) {
        return kFlexBadParameters;
    }
    const int step = cutoff > 0.0 ? static_cast<int>(cutoff * (1 << kFlexCutoffBits)) : 0;
    if (step <= 0) return kFlexCutoffTooSmall;
    const double quantised = static_cast<double>(step) / (1 << kFlexCutoffBits);
    // The history grows as 1 / cutoff: a cutoff near 2^-18 asks for more than
    // any encoder needs, and is refused as memory we will not take.
    const double history = 2.0 * halfLength / quantised;
    if (history > (1 << 24)) return kFlexOutOfMemory;

    const int count = kFlexPointsPerCrossing * halfLength;
    auto* raw = static_cast<double*>(AlignedMalloc(sizeof(double) * (count + 1), __FILE__, __LINE__));
    table->points = static_cast<float*>(AlignedMalloc(sizeof(float) * 2 * count, __FILE__, __LINE__));
    if (!raw || !table->points) {
        AlignedFree(raw);
        AlignedFree(table->points);
        table->points = nullptr;
        return kFlexOutOfMemory;
    }
    FlexSincTable(raw, count, 0.5, beta, kFlexPointsPerCrossing);
    // Scaled by the cutoff for unity gain in the pass band, less 1 % of headroom.
    const double gain = 0.99 * quantised;
    for (int i = 0; i < count; ++i) {
        table->points[2 * i] = static_cast<float>(gain * raw[i]);
        table->points[2 * i + 1] = i + 1 < count ? static_cast<float>(gain * (raw[i + 1] - raw[i])) : 0.0f;
    }
    AlignedFree(raw);
    table->pointCount = count;
    table->halfLength = halfLength;
    table->cutoff = quantised;
    table->step = step;
    table->wingLength = static_cast<int>(halfLength / quantised);
    table->delay = table->wingLength - 1;
    table->historyLength = static_cast<int>(history);
    table->position = startPosition;
    return kFlexOk;
}

void FlexTableFree(FlexTable* table) {
    if (!table) return;
    AlignedFree(table->points);
    table->points = nullptr;
}
